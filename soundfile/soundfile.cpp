// The sound file handle: picks the container reader by extension, turns its
// results into error codes and messages, and keeps the format summary.
#include "soundfile.h"

#include "texts.h"

#include <inttypes.h>
#include <stdio.h>

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

// How a reader's open result reaches the caller.
struct OpenError {
    int32_t result;    // the reader's result; 0 ends a table with its default
    int32_t code;      // SoundFileErr*
    const char* text;  // errorText
};

const OpenError WavErrors[] = {
    {WavOpenCannotOpen, SoundFileErrCannotOpen, TextCannotOpenWav},
    {WavOpenNoData, SoundFileErrCannotRead, TextCannotReadWav},
    {WavOpenUnknownSize, SoundFileErrNoAudio, TextNoAudio},
    {WavOpenNoChannels, SoundFileErrCorrupted, TextWavCorrupted},
    {0, SoundFileErrWav, TextWavFailed},
};

const OpenError AiffErrors[] = {
    {AiffOpenCannotOpen, SoundFileErrCannotOpen, TextCannotOpenAiff},
    {AiffOpenNoFormat, SoundFileErrCannotRead, TextCannotReadAiff},
    {AiffOpenNoData, SoundFileErrNoAudio, TextNoAudio},
    {AiffOpenNoChannels, SoundFileErrCorrupted, TextAiffCorrupted},
    {AiffOpenCompressed, SoundFileErrCannotRead, TextCannotReadAiff},
    {0, SoundFileErrAiff, TextAiffFailed},
};

int32_t WavOpen(SoundFile* f, const char* path, int32_t openFlag) { return WavStream_Open(&f->wav, path, openFlag); }
int32_t WavRepair(SoundFile* f) { return WavStream_Repair(&f->wav); }
int32_t WavClose(SoundFile* f) { return WavStream_Close(&f->wav); }
uint32_t WavDataOffset(const SoundFile* f) { return f->wav.dataOffset; }
const StreamRefusal* WavRefusal(const SoundFile* f) { return &f->wav.refusal; }
int64_t WavFileSize(const SoundFile* f) { return f->wav.fileSize; }
int32_t AiffOpen(SoundFile* f, const char* path, int32_t openFlag) { return AiffStream_Open(&f->aiff, path, openFlag); }
int32_t AiffRepair(SoundFile* f) { return AiffStream_Repair(&f->aiff); }
int32_t AiffClose(SoundFile* f) { return AiffStream_Close(&f->aiff); }
uint32_t AiffDataOffset(const SoundFile* f) { return f->aiff.dataOffset; }
const StreamRefusal* AiffRefusal(const SoundFile* f) { return &f->aiff.refusal; }
int64_t AiffFileSize(const SoundFile* f) { return f->aiff.fileSize; }

// One container's entry points, so that every operation of the handle is
// written once.
struct Container {
    const char* const* extensions;  // null-terminated
    int32_t cannotOpen;             // the reader's result that leaves no file open
    const OpenError* errors;
    int32_t (*open)(SoundFile*, const char*, int32_t);
    int32_t (*fillInfo)(SoundFile*);
    int32_t (*repair)(SoundFile*);
    int32_t (*close)(SoundFile*);
    uint32_t (*dataOffset)(const SoundFile*);
    int64_t (*fileSize)(const SoundFile*);
    const StreamRefusal* (*refusal)(const SoundFile*);
    int32_t family;  // SoundContainer* of its refusals
    // Fills errorText for a refusal that needs more than the table's text; may be null.
    void (*explain)(SoundFile*, int32_t result);
};

// The WAV reader takes every form by its first bytes; the name only tells
// which family a refusal names.
const char* const WavExtensions[] = {".wav", ".bwf", nullptr};
const char* const Rf64Extensions[] = {".rf64", nullptr};
const char* const Bw64Extensions[] = {".bw64", nullptr};
const char* const Wave64Extensions[] = {".w64", nullptr};
const char* const AiffExtensions[] = {".aif", ".aiff", ".aifc", ".iff", nullptr};

void AiffExplain(SoundFile* file, int32_t result)
{
    if (result != AiffOpenCompressed)
        return;
    char text[64];
    char id[5];
    for (int i = 0; i < 4; ++i) {
        uint8_t c = file->aiff.compressionType[i];
        id[i] = (c >= 0x20 && c < 0x7F) ? char(c) : '?';
    }
    id[4] = '\0';
    snprintf(text, sizeof(text), "AIFF-C compression '%s' is not supported", id);
    SetError(file, file->errorCode, text);
}

// The WAV reader under the names of one family.
constexpr Container WavReader(const char* const* extensions, int32_t family)
{
    return {extensions, WavOpenCannotOpen, WavErrors, WavOpen, SoundFile_FillInfoFromWav, WavRepair, WavClose,
            WavDataOffset, WavFileSize, WavRefusal, family, nullptr};
}

const Container Containers[] = {
    WavReader(WavExtensions, SoundContainerWav),
    {AiffExtensions, AiffOpenCannotOpen, AiffErrors, AiffOpen, SoundFile_FillInfoFromAiff, AiffRepair, AiffClose,
     AiffDataOffset, AiffFileSize, AiffRefusal, SoundContainerAiff, AiffExplain},
    WavReader(Rf64Extensions, SoundContainerRf64),
    WavReader(Bw64Extensions, SoundContainerBw64),
    WavReader(Wave64Extensions, SoundContainerWave64),
};

const Container* ForPath(const char* path)
{
    for (const Container& c : Containers)
        for (const char* const* e = c.extensions; *e != nullptr; ++e)
            if (Path_HasExtension(path, *e))
                return &c;
    return nullptr;
}

const Container* ForKind(int32_t kind)
{
    switch (kind) {
    case SoundFileKindWav:
    case SoundFileKindBwf:
        return &Containers[0];
    case SoundFileKindAiff:
        return &Containers[1];
    default:
        return nullptr;
    }
}

int32_t OpenWith(const Container* c, SoundFile* file, const char* path, int32_t openFlag)
{
    int32_t result = c->open(file, path, openFlag);
    if (result == 0)
        return c->fillInfo(file);
    // After any other failure the reader leaves the file open for the close.
    if (result != c->cannotOpen)
        c->close(file);
    file->refusal = *c->refusal(file);
    if (file->refusal.container == SoundContainerNone)
        file->refusal.container = c->family;
    const OpenError* e = c->errors;
    while (e->result != 0 && e->result != result)
        ++e;
    SetError(file, e->code, e->text);
    if (c->explain != nullptr)
        c->explain(file, result);
    return e->code;
}

}  // namespace

int32_t SoundFile_Open(SoundFile* file, const char* path, int32_t openFlag)
{
    if (file == nullptr)
        return -1;
    if (file->isOpen) {
        SetError(file, SoundFileErrAlreadyOpen, TextAlreadyOpen);
        return SoundFileErrAlreadyOpen;
    }
    Mem_Zero(file, sizeof(SoundFile));
    file->wav.handle = FileHandleNone;
    file->aiff.handle = FileHandleNone;
    file->kind = SoundFileKindNone;
    const Container* c = path != nullptr ? ForPath(path) : nullptr;
    if (c != nullptr)
        return OpenWith(c, file, path, openFlag);
    SetError(file, SoundFileErrUnknownType, TextUnknownType);
    return 0;
}

int64_t SoundFile_DurationMs(int64_t frames, uint32_t rate)
{
    return DurationMs(frames, rate);
}

int32_t SoundFile_DescribeFormat(char* out, uint32_t capacity, uint32_t sampleRate, int32_t channels,
                                 int64_t durationMs)
{
    const int64_t seconds = durationMs / 1000;
    const int64_t hours = seconds / 3600;
    const int64_t rest = seconds - hours * 3600;
    const int n = snprintf(out, capacity, TextFormat,
                           static_cast<int>(sampleRate), static_cast<int>(channels), hours, rest / 60, rest % 60);
    return n >= 0 && uint32_t(n) < capacity ? 0 : -1;
}

int32_t SoundFile_HasSoundExtension(const char* path)
{
    return path != nullptr && ForPath(path) != nullptr;
}

const char* SoundFile_ListExtensions(char* out, uint32_t capacity)
{
    if (out == nullptr || capacity == 0)
        return out;
    uint32_t at = 0;
    out[0] = '\0';
    for (const Container& c : Containers)
        for (const char* const* e = c.extensions; *e != nullptr; ++e) {
            const int n = snprintf(out + at, capacity - at, at == 0 ? "%s" : " %s", *e);
            if (n < 0 || uint32_t(n) >= capacity - at)
                return out;
            at += uint32_t(n);
        }
    return out;
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
    info->flags |= wav->flags & (WavFlagRf64 | WavFlagBeyond32 | WavFlagBw64 | WavFlagWave64);
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
    info->sampleEncoding = aiff->sampleEncoding;
    info->flags |= aiff->flags & AiffFlagAifc;
    file->position = 0;
    file->length = info->frameCount;
    return 0;
}

int32_t SoundFile_Repair(SoundFile* file)
{
    if (file == nullptr)
        return -1;
    if (!file->isOpen) {
        SetError(file, SoundFileErrNotOpen, TextNotOpen);
        return SoundFileErrNotOpen;
    }
    const Container* c = ForKind(file->kind);
    if (c == nullptr)
        return -1;
    int32_t result = c->repair(file);
    c->fillInfo(file);
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
        SetError(file, SoundFileErrNotOpen, TextAlreadyClosed);
        return SoundFileErrNotOpen;
    }
    file->isOpen = 0;
    const Container* c = ForKind(file->kind);
    if (c == nullptr)
        return -1;
    int32_t result = c->close(file);
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
    const Container* c = ForKind(file->kind);
    return c != nullptr ? c->dataOffset(file) : 0;
}

int64_t SoundFile_GetFileSize(SoundFile* file)
{
    if (file == nullptr || !file->isOpen)
        return -1;
    const Container* c = ForKind(file->kind);
    return c != nullptr ? c->fileSize(file) : -2;
}

int32_t SoundFile_GetRepairPlan(SoundFile* file, SoundFileRepairPlan* plan)
{
    if (file == nullptr || plan == nullptr || !file->isOpen)
        return -1;
    Mem_Zero(plan, sizeof(*plan));
    int64_t keep = -1;
    int32_t changes = -1;
    if (file->kind == SoundFileKindAiff) {
        keep = AiffStream_RepairKeepBytes(&file->aiff, &plan->padBytes);
        changes = AiffStream_RepairChanges(&file->aiff, plan->changes);
        plan->fileSize = file->aiff.fileSize;
        plan->headerBytes = file->aiff.dataOffset;
    } else if (file->kind == SoundFileKindWav || file->kind == SoundFileKindBwf) {
        keep = WavStream_RepairKeepBytes(&file->wav);
        changes = WavStream_RepairChanges(&file->wav, plan->changes);
        plan->fileSize = file->wav.fileSize;
        plan->headerBytes = file->wav.dataOffset;
    }
    if (keep < 0 || changes < 0)
        return -1;
    plan->keepBytes = keep;
    plan->changeCount = uint32_t(changes);
    return 0;
}

int32_t SoundFile_ReadAt(SoundFile* file, int64_t pos, void* buffer, uint32_t count)
{
    if (file == nullptr || !file->isOpen)
        return -1;
    FileHandle handle = file->kind == SoundFileKindAiff ? file->aiff.handle : file->wav.handle;
    // The OS file pointer moves: the stream must seek before its next read.
    file->aiff.filePosState = 0;
    file->wav.filePosState = 0;
    if (handle == FileHandleNone || !File_SeekTo(handle, pos) || !File_ReadExact(handle, buffer, count))
        return SoundFileErrAccess;
    return 0;
}
