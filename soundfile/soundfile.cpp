// The sound file handle: picks the container reader by extension, turns its
// results into error codes and messages, and keeps the format summary.
#include "soundfile.h"

namespace {

void SetError(SoundFile* file, int32_t code, const char* text)
{
    file->errorCode = code;
    uint32_t n = 0;
    while (text[n] != '\0' && n + 1 < sizeof(file->errorText)) {
        file->errorText[n] = text[n];
        ++n;
    }
    file->errorText[n] = '\0';
}

// frames * 1000 / rate, truncated, without overflowing; 0 for a rate of 0
// (a header that declares none).
int64_t DurationMs(int64_t frames, uint32_t rate)
{
    if (rate == 0 || frames <= 0)
        return 0;
    int64_t whole = frames / rate;
    int64_t rest = frames % rate;
    if (whole > (INT64_MAX - 1000) / 1000)
        return INT64_MAX;
    return whole * 1000 + rest * 1000 / rate;
}

int64_t WholeFrameBytes(uint16_t blockAlign, int64_t frames)
{
    return frames <= 0 ? 0 : int64_t(uint64_t(blockAlign) * uint64_t(frames));
}

int32_t OpenWav(SoundFile* file, const char* path, int32_t openFlag)
{
    int32_t result = WavStream_Open(&file->wav, path, openFlag);
    if (result == WavOpenOk) {
        SoundFile_FillInfoFromWav(file);
        return 0;
    }
    if (result == WavOpenCannotOpen) {
        SetError(file, SoundFileErrCannotOpen, "Cannot open WAV file");
        return SoundFileErrCannotOpen;
    }
    WavStream_Close(&file->wav);
    switch (result) {
    case WavOpenNoData:
        SetError(file, SoundFileErrCannotRead, "Cannot Read WAV Format");
        break;
    case WavOpenUnknownSize:
        SetError(file, SoundFileErrNoAudio, "No audio data present in file");
        break;
    case WavOpenNoChannels:
        SetError(file, SoundFileErrCorrupted, "WAV Format Corrupted");
        break;
    default:
        SetError(file, SoundFileErrWav, "Error openning WAV file");
        break;
    }
    return file->errorCode;
}

int32_t OpenAiff(SoundFile* file, const char* path, int32_t openFlag)
{
    int32_t result = AiffStream_Open(&file->aiff, path, openFlag);
    if (result == AiffOpenOk) {
        SoundFile_FillInfoFromAiff(file);
        return 0;
    }
    if (result == AiffOpenCannotOpen) {
        SetError(file, SoundFileErrCannotOpen, "Cannot open AIFF file");
        return SoundFileErrCannotOpen;
    }
    AiffStream_Close(&file->aiff);
    switch (result) {
    case AiffOpenNoFormat:
        SetError(file, SoundFileErrCannotRead, "Cannot Read AIFF Format");
        break;
    case AiffOpenNoData:
        SetError(file, SoundFileErrNoAudio, "No audio data present in file");
        break;
    case AiffOpenNoChannels:
        SetError(file, SoundFileErrCorrupted, "AIFF Format Corrupted");
        break;
    default:
        SetError(file, SoundFileErrAiff, "Error openning AIFF file");
        break;
    }
    return file->errorCode;
}

int IsWavKind(int32_t kind)
{
    return kind == SoundFileKindWav || kind == SoundFileKindBwf;
}

}  // namespace

int32_t SoundFile_Open(SoundFile* file, const char* path, int32_t openFlag)
{
    if (file == nullptr)
        return -1;
    if (file->isOpen) {
        SetError(file, SoundFileErrAlreadyOpen, "File Already Openned");
        return SoundFileErrAlreadyOpen;
    }
    Mem_Zero(file, sizeof(SoundFile));
    file->wav.handle = FileHandleNone;
    file->aiff.handle = FileHandleNone;
    file->kind = SoundFileKindNone;
    if (path != nullptr) {
        if (Path_HasExtension(path, ".wav") || Path_HasExtension(path, ".bwf"))
            return OpenWav(file, path, openFlag);
        if (Path_HasExtension(path, ".aif") || Path_HasExtension(path, ".aiff") || Path_HasExtension(path, ".iff"))
            return OpenAiff(file, path, openFlag);
    }
    SetError(file, SoundFileErrUnknownType, "Unknown File Type");
    return 0;
}

int32_t SoundFile_FillInfoFromWav(SoundFile* file)
{
    if (file == nullptr)
        return -1;
    SoundFileInfo* info = &file->info;
    const WavStream* wav = &file->wav;
    file->kind = SoundFileKindWav;
    file->isOpen = 1;
    info->sampleRate = wav->sampleRate;
    info->frameCount = wav->frameCount;
    info->channels = wav->channels;
    info->bitsPerSample = wav->bitsPerSample;
    info->durationMs = DurationMs(info->frameCount, info->sampleRate);
    info->dataBytes = WholeFrameBytes(wav->blockAlign, info->frameCount);
    if (info->bitsPerSample == 8)
        info->sampleEncoding = SampleEncodingUnsigned8;
    if (wav->formatTag == 3)
        info->sampleEncoding = SampleEncodingFloat;
    file->position = 0;
    file->length = info->frameCount;
    if (wav->flags & WavFlagBext) {
        file->kind = SoundFileKindBwf;
        info->flags |= WavFlagBext;
        Mem_Copy(&info->bext, &wav->bext, sizeof(BextRecord));
    }
    if (wav->flags & WavFlagRf64)
        info->flags |= WavFlagRf64;
    info->kind = file->kind;
    return 0;
}

int32_t SoundFile_FillInfoFromAiff(SoundFile* file)
{
    if (file == nullptr)
        return -1;
    SoundFileInfo* info = &file->info;
    const AiffStream* aiff = &file->aiff;
    info->channels = aiff->channels;
    info->frameCount = aiff->frameCount;
    info->sampleRate = aiff->sampleRate;
    info->bitsPerSample = aiff->bitsPerSample;
    file->kind = SoundFileKindAiff;
    file->isOpen = 1;
    info->kind = SoundFileKindAiff;
    info->durationMs = DurationMs(info->frameCount, info->sampleRate);
    info->dataBytes = WholeFrameBytes(aiff->blockAlign, info->frameCount);
    file->position = 0;
    file->length = info->frameCount;
    return 0;
}

int32_t SoundFile_Repair(SoundFile* file)
{
    if (file == nullptr)
        return -1;
    if (!file->isOpen) {
        SetError(file, SoundFileErrNotOpen, "File not openned");
        return SoundFileErrNotOpen;
    }
    int32_t result;
    if (IsWavKind(file->kind)) {
        result = WavStream_Repair(&file->wav);
        SoundFile_FillInfoFromWav(file);
    } else if (file->kind == SoundFileKindAiff) {
        result = AiffStream_Repair(&file->aiff);
        SoundFile_FillInfoFromAiff(file);
    } else {
        return -1;
    }
    if (result != 0) {
        SetError(file, SoundFileErrAccess, "Cannot Repair File");
        return SoundFileErrAccess;
    }
    return 0;
}

int32_t SoundFile_Close(SoundFile* file)
{
    if (file == nullptr)
        return -1;
    if (!file->isOpen) {
        SetError(file, SoundFileErrNotOpen, "File Already Closed");
        return SoundFileErrNotOpen;
    }
    file->isOpen = 0;
    int32_t result;
    if (IsWavKind(file->kind))
        result = WavStream_Close(&file->wav);
    else if (file->kind == SoundFileKindAiff)
        result = AiffStream_Close(&file->aiff);
    else
        return -1;
    file->kind = SoundFileKindNone;
    if (result != 0) {
        SetError(file, SoundFileErrAccess, "Cannot Update File Header");
        return SoundFileErrAccess;
    }
    return 0;
}

int32_t SoundFile_GetInfo(SoundFile* file, SoundFileInfo* info)
{
    if (info != nullptr)
        Mem_Zero(info, sizeof(SoundFileInfo));
    if (file == nullptr || !file->isOpen || info == nullptr)
        return -1;
    Mem_Copy(info, &file->info, sizeof(SoundFileInfo));
    return 0;
}

uint32_t SoundFile_GetDataOffset(SoundFile* file)
{
    if (file == nullptr || !file->isOpen)
        return 0xFFFFFFFFu;
    if (IsWavKind(file->kind))
        return file->wav.dataOffset;
    if (file->kind == SoundFileKindAiff)
        return file->aiff.dataOffset;
    return 0;
}

int64_t SoundFile_GetFileSize(SoundFile* file)
{
    if (file == nullptr || !file->isOpen)
        return -1;
    if (IsWavKind(file->kind))
        return file->wav.fileSize;
    if (file->kind == SoundFileKindAiff)
        return file->aiff.fileSize;
    return -2;
}

int32_t SoundFile_HasChunkTrailer(SoundFile* file)
{
    if (file == nullptr || !file->isOpen)
        return -1;
    int32_t result;
    if (IsWavKind(file->kind))
        result = WavStream_HasChunkTrailer(&file->wav);
    else if (file->kind == SoundFileKindAiff)
        result = AiffStream_HasChunkTrailer(&file->aiff);
    else
        return -1;
    return result == StreamResultIoFailed ? SoundFileErrAccess : result;
}
