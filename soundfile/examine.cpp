// The one decision on an open file: is it healthy, and where do its samples
// end. The scan, the tests and the fuzz targets all ask it; none decides on
// its own.
//
// The samples end
//   E1. where the header says, when that is at or beyond the end of the file;
//   E2. where the header says, when what follows there is metadata (a chunk
//       whose id writers put behind samples, or a run of well-formed chunks
//       to the end of the file), or only a pad byte, Wave64's zero
//       alignment or AIFF block padding:
//       the file is left as it is, whatever a broken writer left behind
//       that first chunk;
//   E3. for AIFF, at the end of an SSND chunk whose own size ends inside the
//       file with metadata behind it;
//   E4. where Chunk_FindTrailer finds metadata that a recorder wrote behind
//       its samples before it stopped, when the header declares nothing, a
//       placeholder or too little;
//   E5. otherwise at the end of the file, a partial last frame included.
// A header that declares fewer whole-frame bytes than that is short; one
// that declares more than the file holds is cut short, and left alone.
#include <string.h>

#include "chunks.h"
#include "soundfile.h"

namespace {

// Sizes writers put in a header they mean to finish later, as they write
// them: the value, or the value rounded down to whole frames. sox writing
// to a pipe: 0x7FFFF000 (WAV), 0x7F000000 of sample bytes in COMM and SSND
// (AIFF); the largest signed and unsigned 32-bit values from others.
const uint64_t Placeholders[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x7FFFF000u, 0x7F000000u};
// Where size fields have 64 bits (Wave64): ffmpeg leaves the largest signed
// value in them until it ends. (RF64's ds64 sizes are taken as written.)
const uint64_t WidePlaceholder = INT64_MAX;

int NearPlaceholder(uint64_t value, uint32_t frameBytes)
{
    for (uint64_t p : Placeholders)
        if (value == p || value == p - p % frameBytes)
            return 1;
    return 0;
}

// declared is a placeholder the file does not reach: as written (Wave64:
// with the header bytes its size counts), or as the rest of a container
// size set to one (0xFFFFFFFF - 36 for a 44-byte header).
int IsPlaceholder(uint64_t declared, const ChunkRules* rules, uint64_t dataOffset, uint64_t fileSize,
                  uint32_t frameBytes)
{
    if (dataOffset + declared <= fileSize)
        return 0;
    if (rules->sizeBytes == 8)
        return declared + rules->sizeCounts == WidePlaceholder;
    const uint32_t slack = frameBytes > 0 ? frameBytes : 1;
    return NearPlaceholder(declared, slack) || (dataOffset >= 8 && NearPlaceholder(declared + dataOffset - 8, slack));
}

// What the examination needs of one container.
struct Facts {
    int64_t declaredRaw;  // sample bytes the header declares, as it says them
    uint64_t body;        // where the body of the chunk holding the samples begins
    int64_t boundedEnd;   // E3: where an SSND chunk with metadata behind ends the samples; 0: none
    const ChunkRules* rules;  // the container's, for the search behind the samples
};

// The WAV format tags whose encoding is known; any other is compressed or
// unknown, and never repaired.
const struct {
    uint16_t tag;
    int32_t encoding;
} WavTags[] = {{1, SoundEncodingSigned},      {3, SoundEncodingFloat},     {6, SoundEncodingALaw},
               {7, SoundEncodingMuLaw},       {2, SoundEncodingMsAdpcm},   {0x11, SoundEncodingImaAdpcm},
               {0x31, SoundEncodingGsm610},   {0x50, SoundEncodingMpeg},   {0x55, SoundEncodingMpeg}};

void WavEncoding(const WavStream* wav, SoundFileVerdict* v)
{
    v->encoding = SoundEncodingOther;
    for (const auto& t : WavTags)
        if (t.tag == wav->encodingTag)
            v->encoding = t.encoding;
    if (v->encoding == SoundEncodingSigned && wav->bitsPerSample == 8)
        v->encoding = SoundEncodingUnsigned;
    v->formatTag = wav->encodingTag;
}

void WavFacts(SoundFile* file, SoundFileVerdict* v, Facts* f)
{
    const WavStream* wav = &file->wav;
    v->container = (wav->flags & WavFlagWave64) ? SoundContainerWave64
                   : (wav->flags & WavFlagBw64) ? SoundContainerBw64
                   : (wav->flags & WavFlagRf64) ? SoundContainerRf64
                                                : SoundContainerWav;
    WavEncoding(wav, v);
    v->sampleRate = wav->sampleRate;
    v->channels = wav->channels;
    v->frameBytes = wav->blockAlign;
    v->bitsPerSample = v->encoding >= SoundEncodingCompressed ? wav->formatBits : wav->bitsPerSample;
    v->fileSize = wav->fileSize;
    v->dataOffset = wav->dataOffset;
    f->declaredRaw = wav->dataBytes;
    f->body = wav->dataOffset;
    f->boundedEnd = 0;
    f->rules = WavStream_ChunkRules(wav);
}

uint32_t Id32(const uint8_t* id)
{
    return (uint32_t(id[0]) << 24) | (uint32_t(id[1]) << 16) | (uint32_t(id[2]) << 8) | uint32_t(id[3]);
}

// The encoding an AIFF-C compression type names (AIFF: signed integers).
int32_t AifcEncoding(const uint8_t* type, int32_t sampleEncoding)
{
    static const struct {
        char id[5];
        int32_t encoding;
    } named[] = {{"ulaw", SoundEncodingMuLaw}, {"ULAW", SoundEncodingMuLaw}, {"alaw", SoundEncodingALaw},
                 {"ALAW", SoundEncodingALaw},  {"ima4", SoundEncodingImaAdpcm}, {"GSM ", SoundEncodingGsm610}};
    for (const auto& n : named)
        if (memcmp(type, n.id, 4) == 0)
            return n.encoding;
    if (sampleEncoding == SampleEncodingFloat)
        return SoundEncodingFloat;
    return SoundEncodingSigned;
}

void AiffFacts(SoundFile* file, SoundFileVerdict* v, Facts* f)
{
    const AiffStream* aiff = &file->aiff;
    v->container = (aiff->flags & AiffFlagAifc) ? SoundContainerAifc : SoundContainerAiff;
    v->encoding = AifcEncoding(aiff->compressionType, aiff->sampleEncoding);
    if (v->encoding == SoundEncodingSigned && aiff->sampleEncoding == SampleEncodingUnsigned8)
        v->encoding = SoundEncodingUnsigned;
    v->formatTag = Id32(aiff->compressionType);
    v->sampleRate = aiff->sampleRate;
    v->channels = aiff->channels;
    v->frameBytes = aiff->blockAlign;
    v->bitsPerSample = aiff->bitsPerSample;
    v->fileSize = aiff->fileSize;
    v->dataOffset = aiff->dataOffset;
    f->declaredRaw = aiff->dataBytes;
    f->body = uint64_t(aiff->dataOffset) - aiff->ssndOffset - 8;
    f->boundedEnd = aiff->dataEnd > 0 && aiff->dataEnd < aiff->fileSize ? aiff->dataEnd : 0;
    f->rules = &ChunkRulesIff;
}

// ChunkFollow* for what follows the declared samples ending at end, or -1.
int32_t Behind(SoundFile* file)
{
    const int32_t r = file->kind == SoundFileKindAiff ? AiffStream_HasChunkTrailer(&file->aiff)
                                                      : WavStream_HasChunkTrailer(&file->wav);
    return r == StreamResultIoFailed ? -1 : r;
}

// Tells the stream where the samples end, so that its repair keeps what
// follows them (tail: StreamTail*).
void Bound(SoundFile* file, int64_t samplesEnd, int32_t tail)
{
    if (file->kind == SoundFileKindAiff) {
        file->aiff.dataEnd = samplesEnd;
        file->aiff.ssndEnd = samplesEnd;
        file->aiff.tailKind = tail;
    } else {
        file->wav.samplesEnd = samplesEnd;
        file->wav.tailKind = tail;
    }
}

void Refused(SoundFile* file, SoundFileVerdict* v)
{
    v->state = SoundVerdictRefused;
    v->refusal = file->refusal;
    v->container = file->refusal.container;
    v->reason = file->refusal.reason != SoundReasonNone ? file->refusal.reason : SoundReasonReadFailed;
    if (v->reason == SoundReasonCompressed) {
        // Only AIFF-C refuses an encoding at open.
        v->container = SoundContainerAifc;
        v->encoding = AifcEncoding(file->refusal.bytes, 0);
        if (v->encoding < SoundEncodingCompressed)
            v->encoding = SoundEncodingOther;
        v->formatTag = Id32(file->refusal.bytes);
        v->sampleRate = file->aiff.sampleRate;
        v->channels = file->aiff.channels;
        v->bitsPerSample = file->aiff.bitsPerSample;
    }
}

}  // namespace

int32_t SoundFile_Examine(SoundFile* file, SoundFileVerdict* v)
{
    if (file == nullptr || v == nullptr)
        return -1;
    Mem_Zero(v, sizeof(*v));
    v->frames = -1;
    if (!file->isOpen) {
        if (file->errorCode != 0 && file->errorCode != SoundFileErrUnknownType)
            Refused(file, v);
        return 0;
    }
    if (file->kind != SoundFileKindWav && file->kind != SoundFileKindBwf && file->kind != SoundFileKindAiff)
        return -1;
    Facts f;
    if (file->kind == SoundFileKindAiff)
        AiffFacts(file, v, &f);
    else
        WavFacts(file, v, &f);
    const uint32_t frame = v->frameBytes;
    const int64_t present = v->fileSize - v->dataOffset;
    const uint64_t dataOffset = uint64_t(v->dataOffset);
    const uint64_t fileSize = uint64_t(v->fileSize);
    const int placeholder =
        f.declaredRaw > 0 && IsPlaceholder(uint64_t(f.declaredRaw), f.rules, dataOffset, fileSize, frame);
    v->declaredBytes = file->info.dataBytes;
    v->frames = file->info.frameCount;
    v->changedMs = File_StampAgeMs(file->kind == SoundFileKindAiff ? &file->aiff.examined : &file->wav.examined);

    if (v->encoding >= SoundEncodingCompressed) {
        // A block or a packet is no frame: a cut or a size from the file's
        // length would lose or invent audio. The fact chunk counts the
        // frames, when the header was finished.
        v->state = SoundVerdictRefused;
        v->reason = SoundReasonCompressed;
        v->refusal.value = v->formatTag;
        const WavStream* wav = &file->wav;
        const int finished = !placeholder && f.declaredRaw > 0 && int64_t(dataOffset) + f.declaredRaw <= v->fileSize;
        v->frames = finished && wav->factOffset != 0 && !NearPlaceholder(uint64_t(wav->factFrames) * 8, 8)
                        ? int64_t(wav->factFrames)
                        : -1;
        v->sampleBytes = present > 0 ? present : 0;
        v->samplesEnd = v->fileSize;
        return 0;
    }
    if (present <= 0) {
        v->state = SoundVerdictNoSamples;
        v->samplesEnd = v->dataOffset;
        v->repairBytes = v->declaredBytes;
        return 0;
    }

    // What the header declares, as the decision counts it: nothing for a
    // placeholder.
    const int64_t declared = placeholder ? 0 : v->declaredBytes;
    int64_t samplesEnd = v->fileSize;
    int32_t state = 0;
    int bounded = 0;
    int found = 0;
    if (!placeholder && f.boundedEnd > 0 && f.declaredRaw >= f.boundedEnd - v->dataOffset) {
        // E3 with every frame declared: nothing more to read.
        samplesEnd = f.boundedEnd;
        state = SoundVerdictMetadata;
    } else if (!placeholder && f.declaredRaw >= present) {
        // E1
    } else if (!placeholder) {
        const int32_t behind = Behind(file);
        if (behind < 0) {
            v->state = SoundVerdictUnreadable;
            return 0;
        }
        if (behind != ChunkFollowNothing) {
            // E2
            samplesEnd = int64_t(dataOffset) + f.declaredRaw;
            state = behind == ChunkFollowChunks ? SoundVerdictMetadata : SoundVerdictComplete;
        }
    }
    if (state == 0 && samplesEnd == v->fileSize && f.boundedEnd > 0) {
        samplesEnd = f.boundedEnd;  // E3: the stream knows it since its open
        bounded = 1;
    } else if (state == 0 && (placeholder || f.declaredRaw < present)) {
        ChunkCursor cursor;
        FileHandle handle = file->kind == SoundFileKindAiff ? file->aiff.handle : file->wav.handle;
        ChunkCursor_Init(&cursor, handle, f.rules, ChunkPosUnknown);
        file->wav.filePosState = 0;
        file->aiff.filePosState = 0;
        ChunkSamples samples = {f.body, dataOffset, dataOffset + uint64_t(declared), fileSize, frame};
        uint64_t end = 0;
        const int32_t search = Chunk_FindTrailer(&cursor, &samples, &end);
        if (search < 0) {
            v->state = SoundVerdictUnreadable;
            return 0;
        }
        if (search == 1) {
            samplesEnd = int64_t(end);  // E4
            bounded = 1;
            found = 1;
        }
    }

    v->samplesEnd = samplesEnd;
    v->sampleBytes = samplesEnd - int64_t(dataOffset);
    v->repairBytes = v->declaredBytes;
    if (state != 0) {
        v->state = state;
    } else if (v->sampleBytes > declared) {
        v->state = SoundVerdictShort;
        v->reason = placeholder ? SoundReasonPlaceholder : declared == 0 ? SoundReasonNotSet : SoundReasonMissing;
        v->repairBytes = v->sampleBytes / frame * frame;
        v->missingBytes = v->sampleBytes - declared;
        if (found)
            Bound(file, samplesEnd, StreamTailMetadata);
        // A partial last frame of a take that may still grow: kept for the
        // recorder's next write to complete.
        const int64_t partial = v->sampleBytes - v->repairBytes;
        if (!bounded && partial > 0 && v->changedMs < SoundFileSettleMs) {
            v->partialKept = partial;
            Bound(file, int64_t(dataOffset) + v->repairBytes, StreamTailGrowing);
        }
    } else if (bounded && v->sampleBytes <= declared) {
        v->state = SoundVerdictMetadata;
    } else if (f.declaredRaw > present) {
        v->state = SoundVerdictCutShort;
        v->missingBytes = f.declaredRaw - present;
    } else {
        v->state = SoundVerdictComplete;
    }
    return 0;
}
