// The WAV reader and header writer: plain RIFF, Broadcast Wave, RF64, BW64
// and Wave64.
// The reader walks the chunks up to the data chunk and reads only headers;
// the writer rewrites the sizes in place, in an order that leaves a file a
// second scan can still repair if the process dies between two writes
// (see commit.h).
#include "wavstream.h"

#include <string.h>

#include "chunks.h"
#include "commit.h"

static_assert(sizeof(BextRecord) == 4698, "BextRecord must match the bext body layout");

namespace {

// Sizes from here on take the 64-bit form where the file has room for it
// (a margin below 4 GiB).
const uint64_t SizeLimit = 0xEFFFFFFFu;
// The largest value of a 32-bit size field; in a data size it also means
// "to the end of the file".
const uint64_t FieldLimit = 0xFFFFFFFFu;
// Body bytes of a ds64 chunk without a table: riffSize, dataSize,
// sampleCount, tableLength.
const uint32_t Ds64TableBytes = 28;
// At most this many bext body bytes are kept.
const uint32_t BextReadLimit = 4700;

const ChunkRules* const Rules = &ChunkRulesRiff;

// Shape of the header block at the start of the file.
enum {
    FormRiff = 0,        // "RIFF" size "WAVE" only (12 bytes)
    FormRiffFiller = 1,  // RIFF, then a JUNK chunk where the ds64 chunk was
    FormRf64 = 2,        // "RF64" 0xFFFFFFFF "WAVE", then the ds64 chunk
    FormBw64 = 3,        // "BW64" 0xFFFFFFFF "WAVE", then the ds64 chunk's two sizes
    FormWave64 = 4,      // Wave64's riff size: 64 bits at 16, the whole file
};

// Where Wave64 keeps its riff size.
const int64_t Wave64SizeAt = 16;
// The smallest ds64 body that holds the two sizes BW64 rewrites.
const uint32_t Ds64SizesBytes = 16;

typedef struct HeaderPlan {
    int form;            // Form*
    uint32_t chunkSize;  // body size of the chunk at offset 12 (not FormRiff)
} HeaderPlan;

// Chooses the header block for a file whose samples end at end. Returns 0
// when the block cannot be written in place.
int PlanHeader(const WavStream* stream, uint64_t end, HeaderPlan* plan)
{
    int fits = end < SizeLimit;
    if (stream->flags & WavFlagWave64) {
        plan->form = FormWave64;
        plan->chunkSize = 0;
        return 1;
    }
    if (stream->flags & WavFlagBw64) {
        // BW64 stays BW64 at every size, as its writers keep it: the ds64
        // chunk holds the sizes, and its dummy and table stay as they are.
        plan->form = FormBw64;
        plan->chunkSize = stream->ds64Size;
        return stream->ds64Size >= Ds64SizesBytes;
    }
    if (stream->flags & WavFlagRf64) {
        // The chunk keeps its declared size, so a ds64 table or a JUNK
        // filler never leaves stray bytes before the next chunk.
        plan->chunkSize = stream->ds64Size;
        plan->form = fits ? FormRiffFiller : FormRf64;
        // A ds64 chunk declared shorter than its table (a broken RF64
        // writer) has no room for the 64-bit sizes.
        return fits || stream->ds64Size >= Ds64TableBytes;
    }
    if (!fits && stream->junkSize >= Ds64TableBytes) {
        // Broadcast recorders reserve a JUNK chunk right after the file
        // header for exactly this: it becomes the ds64 chunk.
        plan->form = FormRf64;
        plan->chunkSize = stream->junkSize;
        return 1;
    }
    // A plain RIFF file without a reservation keeps its 12-byte form, with
    // its exact sizes while they fit their fields (see SizeField).
    plan->form = FormRiff;
    plan->chunkSize = 0;
    return 1;
}

// A 32-bit size field of the header block or the data chunk. Where no value
// is right it reads 0xFFFFFFFF: RF64 takes the sizes from ds64, and readers
// take it in a plain RIFF file as "to the end of the file", which the reader
// below takes back the same way. BW64 always sends readers to ds64.
uint32_t SizeField(const HeaderPlan* plan, uint64_t value)
{
    int fits = plan->form == FormRiff ? value <= FieldLimit : plan->form != FormBw64 && value < SizeLimit;
    return fits ? uint32_t(value) : 0xFFFFFFFFu;
}

// Fills block with the header block of plan for a file whose chunks end at
// riffEnd; returns its length.
uint32_t FillHeaderBlock(const WavStream* stream, const HeaderPlan* plan, uint64_t riffEnd, uint64_t dataBytes,
                         uint8_t block[48])
{
    Mem_Zero(block, 48);
    uint32_t length = 12;
    memcpy(block, plan->form == FormRf64 ? "RF64" : plan->form == FormBw64 ? "BW64" : "RIFF", 4);
    uint32_t riffSize = riffEnd < SizeLimit ? uint32_t(riffEnd - 8) : 0xFFFFFFFFu;
    const int exact = plan->form == FormRiff || plan->form == FormBw64;
    Chunk_Put32(Rules, block + 4, exact ? SizeField(plan, riffEnd - 8) : riffSize);
    memcpy(block + 8, "WAVE", 4);
    if (plan->form == FormBw64) {
        memcpy(block + 12, "ds64", 4);
        Chunk_Put32(Rules, block + 16, plan->chunkSize);
        Chunk_Put64(Rules, block + 20, riffEnd - 8);
        Chunk_Put64(Rules, block + 28, dataBytes);
        length = 20 + Ds64SizesBytes;
    } else if (plan->form != FormRiff) {
        memcpy(block + 12, plan->form == FormRf64 ? "ds64" : "JUNK", 4);
        Chunk_Put32(Rules, block + 16, plan->chunkSize);
        if (plan->form == FormRf64) {
            Chunk_Put64(Rules, block + 20, riffEnd - 8);
            Chunk_Put64(Rules, block + 28, dataBytes);
            Chunk_Put64(Rules, block + 36, uint64_t(stream->frameCount));
            Chunk_Put32(Rules, block + 44, 0);  // no table
        }
        length = 20 + (plan->chunkSize < Ds64TableBytes ? plan->chunkSize : Ds64TableBytes);
    }
    return length;
}

// 1 when the repair keeps what follows the samples (SoundFile_Examine
// found metadata there, or a growing take's partial frame).
int Bounded(const WavStream* stream)
{
    return stream->samplesEnd > 0 && stream->samplesEnd < stream->fileSize;
}

// The stream as its repair leaves it: the whole frames up to samplesEnd,
// or to the end of the file.
void Repaired(const WavStream* stream, WavStream* repaired)
{
    *repaired = *stream;
    const int64_t samplesEnd = Bounded(stream) ? stream->samplesEnd : stream->fileSize;
    repaired->frameCount = (samplesEnd - int64_t(stream->dataOffset)) / stream->blockAlign;
    repaired->dataBytes = repaired->frameCount * stream->blockAlign;
}

// The rest of a longer ds64 or JUNK chunk, zeroed before the block that
// names the chunk, so that a file cut short between the two still reads
// as before.
int WriteFiller(const WavStream* stream, const HeaderPlan* plan)
{
    if ((plan->form != FormRiffFiller && plan->form != FormRf64) || plan->chunkSize <= Ds64TableBytes)
        return 1;
    return File_SeekTo(stream->handle, 20 + Ds64TableBytes) && Commit_Zeros(stream->handle, plan->chunkSize - Ds64TableBytes);
}

// The header for the stream's sizes: the block at the start of the file,
// the fact chunk's frame count where there is one, and the data size.
struct WavHeader {
    HeaderPlan plan;
    uint8_t block[48];
    uint8_t fact[8];
    uint8_t size[8];
    HeaderField fields[2];
    uint32_t fieldCount;
    HeaderField dataSize;
};


// 0 when the header cannot be written in place.
int BuildHeader(const WavStream* stream, WavHeader* h)
{
    uint64_t dataBytes = stream->dataBytes < 0 ? 0 : uint64_t(stream->dataBytes);
    // The RIFF size covers the chunks behind the samples too, but not the
    // partial frame a recorder may still complete.
    const int covered = Bounded(stream) && stream->tailKind == StreamTailMetadata;
    uint64_t riffEnd = covered ? uint64_t(stream->fileSize) : uint64_t(stream->dataOffset) + dataBytes;
    if (!PlanHeader(stream, riffEnd, &h->plan))
        return 0;
    const int wave64 = h->plan.form == FormWave64;
    if (wave64) {
        // Wave64's sizes count the whole file, and the data chunk's header.
        Chunk_Put64(Rules, h->block, riffEnd);
        h->fields[0] = {Wave64SizeAt, h->block, 8};
    } else {
        h->fields[0] = {0, h->block, FillHeaderBlock(stream, &h->plan, riffEnd, dataBytes, h->block)};
    }
    h->fieldCount = 1;
    if (stream->factOffset != 0) {
        // Non-PCM writers count the frames here too; RF64 keeps the exact
        // count in ds64, so the cap loses nothing there.
        uint64_t frames = stream->frameCount < 0 ? 0 : uint64_t(stream->frameCount);
        const uint32_t width = stream->factBytes == 8 ? 8 : 4;
        if (width == 8)
            Chunk_Put64(Rules, h->fact, frames);
        else
            Chunk_Put32(Rules, h->fact, frames < FieldLimit ? uint32_t(frames) : 0xFFFFFFFFu);
        h->fields[h->fieldCount++] = {int64_t(stream->factOffset), h->fact, width};
    }
    if (wave64) {
        Chunk_Put64(Rules, h->size, dataBytes + Chunk_HeadBytes(&ChunkRulesWave64));
        h->dataSize = {int64_t(stream->dataOffset) - 8, h->size, 8};
    } else {
        Chunk_Put32(Rules, h->size, SizeField(&h->plan, dataBytes));
        h->dataSize = {int64_t(stream->dataOffset) - 4, h->size, 4};
    }
    return 1;
}

// Writes the header, the data size last (C1). 1 on success.
int WriteHeader(WavStream* stream)
{
    WavHeader h;
    if (!BuildHeader(stream, &h) || !WriteFiller(stream, &h.plan) ||
        !Commit_Header(stream->handle, h.fields, h.fieldCount, &h.dataSize))
        return 0;
    if (h.plan.form == FormRf64 && !(stream->flags & WavFlagRf64)) {
        // The JUNK reservation is a ds64 chunk now.
        stream->flags |= WavFlagRf64;
        stream->ds64Size = h.plan.chunkSize;
    }
    return 1;
}

// The fmt fields the reader keeps. 0 when the chunk cannot be used (the
// refusal then says why).
int32_t ReadFormat(WavStream* stream, ChunkCursor* cursor, const ChunkHeader* header)
{
    const uint64_t body = header->pos + header->headBytes;
    if (header->size < 16)
        return Stream_Refuse(&stream->refusal, WavOpenNoData, SoundReasonFormatShort, header->pos,
                             Chunk_Size32(header->size), nullptr);
    // The basic 16 bytes, and an extensible format's sub-format where the
    // chunk holds it.
    uint8_t fmt[40];
    const uint32_t wanted = header->size >= 40 ? 40 : 16;
    if (!Chunk_ReadAt(cursor, body, fmt, wanted))
        return Stream_Refuse(&stream->refusal, WavOpenNoData, SoundReasonNoDataPast, header->pos,
                             Chunk_Size32(header->size), header->id);
    uint16_t channels = Chunk_Get16(Rules, fmt + 2);
    if (channels == 0)
        return Stream_Refuse(&stream->refusal, WavOpenNoChannels, SoundReasonNoChannels, header->pos, 0, nullptr);
    uint16_t blockAlign = Chunk_Get16(Rules, fmt + 12);
    uint16_t bitsPerSample = Chunk_Get16(Rules, fmt + 14);
    stream->formatBits = bitsPerSample;
    // Some old writers leave bitsPerSample 0; the block size tells it.
    if (bitsPerSample == 0)
        bitsPerSample = uint16_t((blockAlign / channels) * 8);
    stream->formatTag = Chunk_Get16(Rules, fmt);
    stream->encodingTag = stream->formatTag;
    // The sub-format GUID begins with the tag it stands for (PCM 1, float 3,
    // and the ambisonic variants alike).
    if (stream->formatTag == 0xFFFE && wanted == 40)
        stream->encodingTag = Chunk_Get16(Rules, fmt + 24);
    stream->channels = channels;
    stream->sampleRate = Chunk_Get32(Rules, fmt + 4);
    stream->bytesPerSecond = Chunk_Get32(Rules, fmt + 8);
    stream->blockAlign = blockAlign;
    stream->bitsPerSample = bitsPerSample;
    stream->extraFormatBytes = 0;
    return WavOpenOk;
}

}  // namespace

int32_t WavStream_Open(WavStream* stream, const char* path, int32_t openFlag)
{
    if (stream == nullptr)
        return WavOpenNoStream;
    Mem_Zero(stream, sizeof(WavStream));
    StreamRefusal* refusal = &stream->refusal;
    if (!Stream_OpenFile(stream->path, path, openFlag, &stream->handle, &stream->examined, refusal))
        return WavOpenCannotOpen;
    ChunkCursor cursor;
    uint8_t fileHeader[12];
    uint64_t fileSize;
    if (!Chunk_Begin(&cursor, stream->handle, Rules, &stream->examined, fileHeader, &fileSize, refusal))
        return WavOpenNotWave;
    uint64_t pos;
    int64_t ds64DataSize = 0;
    int afterOdd = 0;
    const int rf64 = Chunk_SameId(fileHeader, "RF64");
    const int bw64 = Chunk_SameId(fileHeader, "BW64");
    uint8_t wave64[40];
    if (Chunk_SameId(fileHeader, "RIFF")) {
        pos = 12;
    } else if (rf64 || bw64) {
        stream->flags |= WavFlagRf64 | (bw64 ? WavFlagBw64 : 0u);
        refusal->container = bw64 ? SoundContainerBw64 : SoundContainerRf64;
        uint8_t ds64[36];
        if (!Chunk_ReadAt(&cursor, 12, ds64, 36))
            return Stream_Refuse(refusal, WavOpenNotWave, SoundReasonNoDs64, 12, 0, nullptr);
        if (!Chunk_SameId(ds64, "ds64"))
            return Stream_Refuse(refusal, WavOpenNoDs64, SoundReasonNoDs64, 12, 0, ds64);
        stream->ds64Size = Chunk_Get32(Rules, ds64 + 4);
        uint64_t dataSize = Chunk_Get64(Rules, ds64 + 16);
        // Sizes beyond 2^63 are no length any file has: taken as unknown.
        // The field after it counts samples in RF64 and is a dummy in
        // BW64; the data chunk's frames are counted from its size anyway.
        ds64DataSize = dataSize > uint64_t(INT64_MAX) ? 0 : int64_t(dataSize);
        stream->dataBytes = ds64DataSize;
        // The walk goes on just past the ds64 chunk as declared: a table
        // behind the 28 bytes is skipped, and a chunk that a broken writer
        // declared shorter than its table is taken at its word.
        pos = 20 + uint64_t(stream->ds64Size);
        afterOdd = int(stream->ds64Size & 1);
    } else if (cursor.headLength >= 16 && memcmp(cursor.head, ChunkWave64Riff, 16) == 0) {
        stream->flags |= WavFlagWave64;
        refusal->container = SoundContainerWave64;
        if (!Chunk_ReadAt(&cursor, 0, wave64, 40))
            return Stream_Refuse(refusal, WavOpenNotWave, SoundReasonTruncated, 0, cursor.headLength, cursor.head);
        if (memcmp(wave64 + 24, ChunkWave64Wave, 16) != 0)
            return Stream_Refuse(refusal, WavOpenNotWave, SoundReasonWrongForm, 24, 0, wave64 + 24);
        cursor.rules = &ChunkRulesWave64;
        pos = 40;
    } else {
        return Stream_Refuse(refusal, WavOpenNotWave, SoundReasonNotContainer, 0, 4, fileHeader);
    }
    if (!(stream->flags & WavFlagWave64) && !Chunk_SameId(fileHeader + 8, "WAVE"))
        return Stream_Refuse(refusal, WavOpenNotWave, SoundReasonWrongForm, 8, 0, fileHeader + 8);

    // Every round moves pos on by at least a chunk header, and the walk ends
    // at an id no writer makes (zeros never written over, garbage; Wave64
    // skips unknown GUIDs but not a size below its header), once pos leaves
    // the 32-bit range or the file: it always ends, and soon.
    int haveFormat = 0;
    Mem_Copy(refusal->sought, "data", 4);
    ChunkHeader header;
    ChunkHeader prev;
    const ChunkHeader* before = nullptr;
    for (;;) {
        if (!Chunk_Next(&cursor, pos, afterOdd, fileSize, before, &header, refusal))
            return WavOpenNoData;
        pos = header.pos;
        const uint64_t size = header.size;
        const uint64_t body = pos + header.headBytes;

        if (Chunk_SameId(header.id, "fmt ")) {
            const int32_t format = ReadFormat(stream, &cursor, &header);
            if (format != WavOpenOk)
                return format;
            haveFormat = 1;
        } else if (Chunk_SameId(header.id, "bext")) {
            stream->flags |= WavFlagBext;
            Mem_Zero(&stream->bext, sizeof(BextRecord));
            uint32_t length = size < BextReadLimit ? uint32_t(size) : BextReadLimit;
            stream->bextOffset = uint32_t(body);
            stream->bextLength = length;
            uint8_t scratch[BextReadLimit];
            Mem_Zero(scratch, sizeof(scratch));
            if (!Chunk_ReadAt(&cursor, body, scratch, length))
                return Stream_Refuse(refusal, WavOpenNoData, SoundReasonNoDataPast, pos, Chunk_Size32(size), header.id);
            Mem_Copy(&stream->bext, scratch, sizeof(BextRecord));
        } else if (Chunk_SameId(header.id, "fact") && size >= 4) {
            // Wave64 writers count in 64 bits where the body has room.
            const uint32_t width = (stream->flags & WavFlagWave64) && size >= 8 ? 8 : 4;
            uint8_t count[8];
            if (Chunk_ReadAt(&cursor, body, count, width)) {
                stream->factOffset = uint32_t(body);
                stream->factBytes = width;
                stream->factFrames = width == 8 ? Chunk_Size32(Chunk_Get64(Rules, count)) : Chunk_Get32(Rules, count);
            }
        } else if (Chunk_SameId(header.id, "data")) {
            // No frame size to count frames by: a data chunk before any fmt
            // chunk, or a fmt chunk that declares a block size of 0.
            if (stream->blockAlign == 0)
                return Stream_Refuse(refusal, WavOpenNoData, haveFormat ? SoundReasonNoFrameSize : SoundReasonNoFormat,
                                     body, 0, nullptr);
            if (stream->flags & WavFlagWave64)
                // Sizes beyond 2^63 are no length any file has: unknown.
                stream->dataBytes = size > uint64_t(INT64_MAX) ? 0 : int64_t(size);
            else if (size == 0xFFFFFFFFu)
                // RF64 takes the length from ds64. A plain RIFF file holds
                // this placeholder while a recorder is still writing: the
                // length is unknown, so nothing is declared (but see below
                // for samples past 4 GiB).
                stream->dataBytes = (stream->flags & WavFlagRf64) ? ds64DataSize : 0;
            else
                stream->dataBytes = int64_t(size);
            stream->dataOffset = uint32_t(body);
            stream->fileSize = stream->examined.size;
            int64_t present = stream->fileSize - int64_t(body);
            if (size == 0xFFFFFFFFu && !(stream->flags & (WavFlagRf64 | WavFlagWave64)) &&
                present >= int64_t(FieldLimit)) {
                // What a repair writes where the samples pass the field: the
                // header covers all it can, so every byte is declared.
                stream->dataBytes = present;
                stream->flags |= WavFlagBeyond32;
            }
            stream->frameCount = stream->dataBytes / stream->blockAlign;
            stream->readPos = 0;
            stream->writePos = 0;
            stream->readFrames = WavStream_ReadFrames;
            stream->writeBytes = WavStream_WriteBytes;
            // The head block's read left the pointer behind the header; the
            // first sample read then needs no seek of its own.
            // A check reads no sample: the move to the first one would be a request
            // of its own, for nothing.
            stream->filePosState = (openFlag & 0x100) ? cursor.filePos == body : Chunk_SeekTo(&cursor, body);
            return WavOpenOk;
        } else {
            if (size == 0xFFFFFFFFu && !(stream->flags & WavFlagWave64))
                return Stream_Refuse(refusal, WavOpenUnknownSize, SoundReasonUnknownSize, pos, 0xFFFFFFFFu, header.id);
            if (pos == 12 && Chunk_SameId(header.id, "JUNK") && size >= Ds64TableBytes && size <= FieldLimit)
                stream->junkSize = uint32_t(size);
        }
        // Sizes of 2 GiB and more (a damaged size field, a huge metadata
        // chunk) are skipped as the unsigned numbers they are.
        prev = header;
        before = &prev;
        pos = Chunk_End(&header);
        afterOdd = Chunk_IsOdd(&cursor, &header);
    }
}

const ChunkRules* WavStream_ChunkRules(const WavStream* stream)
{
    return stream != nullptr && (stream->flags & WavFlagWave64) ? &ChunkRulesWave64 : &ChunkRulesRiff;
}

int32_t WavStream_Repair(WavStream* stream)
{
    if (stream == nullptr)
        return -1;
    if (stream->handle == FileHandleNone || stream->dataOffset == 0 || stream->blockAlign == 0)
        return StreamResultIoFailed;
    // A size below the data offset was not measured: there is nothing to go by.
    if (stream->fileSize < int64_t(stream->dataOffset))
        return StreamResultIoFailed;
    const int bounded = Bounded(stream);
    WavStream repaired;
    Repaired(stream, &repaired);
    const int64_t frames = repaired.frameCount;
    const int64_t bytes = repaired.dataBytes;
    uint64_t end = uint64_t(stream->dataOffset) + uint64_t(bytes);
    WavHeader h;
    if (!BuildHeader(&repaired, &h))
        return StreamResultIoFailed;  // the header could not hold the result: leave the file alone
    if (!File_Unchanged(stream->handle, &stream->examined, 1))
        return StreamResultIoFailed;  // written since it was measured: a recorder may be at work

    stream->filePosState = 0;
    const int grows = bytes > stream->dataBytes;
    stream->frameCount = frames;
    stream->dataBytes = bytes;
    if (bounded) {
        // Nothing to cut: the chunks (or the growing take's partial frame)
        // behind the samples stay as they are, and the close writes the
        // header, the data size last (C1).
        stream->headerDirty = 1;
        return 0;
    }
    // The header block before the cut, and the data size too where the cut
    // is what completes the file (C2).
    if (!WriteFiller(stream, &h.plan) ||
        !Commit_Cut(stream->handle, h.fields, h.fieldCount, grows ? nullptr : &h.dataSize, int64_t(end), &stream->examined))
        return StreamResultIoFailed;
    if (h.plan.form == FormRiff && uint64_t(bytes) > FieldLimit)
        stream->flags |= WavFlagBeyond32;
    stream->headerDirty = 1;
    return 0;
}

int64_t WavStream_RepairKeepBytes(const WavStream* stream)
{
    if (stream == nullptr || stream->handle == FileHandleNone || stream->dataOffset == 0 || stream->blockAlign == 0 ||
        stream->fileSize < int64_t(stream->dataOffset))
        return -1;
    if (Bounded(stream))
        return stream->fileSize;
    WavStream repaired;
    Repaired(stream, &repaired);
    return int64_t(stream->dataOffset) + repaired.dataBytes;
}

int32_t WavStream_RepairChanges(const WavStream* stream, StreamChange* changes)
{
    if (WavStream_RepairKeepBytes(stream) < 0)
        return -1;
    WavStream repaired;
    Repaired(stream, &repaired);
    WavHeader h;
    if (!BuildHeader(&repaired, &h))
        return -1;
    uint32_t n = Commit_Describe(h.fields, h.fieldCount, changes, 0);
    n = Commit_Describe(&h.dataSize, 1, changes, n);
    if ((h.plan.form == FormRiffFiller || h.plan.form == FormRf64) && h.plan.chunkSize > Ds64TableBytes &&
        n < StreamChangeCapacity) {
        StreamChange* filler = &changes[n++];
        Mem_Zero(filler, sizeof(*filler));
        filler->pos = 20 + Ds64TableBytes;
        filler->length = h.plan.chunkSize - Ds64TableBytes;
        filler->zeros = 1;
    }
    return int32_t(n);
}

int32_t WavStream_UpdateHeader(WavStream* stream)
{
    if (stream == nullptr)
        return -1;
    if (stream->dataOffset == 0 || stream->handle == FileHandleNone)
        return 0;
    int ok = 1;
    int wrote = 0;
    if (stream->headerDirty == 1) {
        wrote = 1;
        ok = WriteHeader(stream);
        if (ok)
            stream->headerDirty = 0;
    }
    // Only a stream that wrote a header or samples has anything to flush. A
    // flush costs a journal commit even for a file that was only read,
    // which would dominate a check of thousands of files (and a read-only
    // handle cannot be flushed on Windows at all).
    if (!wrote && stream->writePos != 0 && !File_Flush(stream->handle))
        ok = 0;
    return ok ? 0 : StreamResultIoFailed;
}

int32_t WavStream_Close(WavStream* stream)
{
    if (stream == nullptr)
        return -1;
    int32_t result = 0;
    if (stream->handle != FileHandleNone) {
        if (WavStream_UpdateHeader(stream) != 0)
            result = StreamResultIoFailed;
        if (!File_Close(stream->handle))
            result = StreamResultIoFailed;
    }
    stream->handle = FileHandleNone;
    stream->dataOffset = 0;
    return result;
}

int32_t WavStream_HasChunkTrailer(WavStream* stream)
{
    if (stream == nullptr || stream->handle == FileHandleNone || stream->dataOffset == 0 || stream->dataBytes < 0 ||
        stream->fileSize <= 0)
        return 0;
    uint64_t fileSize = uint64_t(stream->fileSize);
    uint64_t pos = uint64_t(stream->dataOffset) + uint64_t(stream->dataBytes);
    if (pos >= fileSize)
        return 0;  // nothing follows the declared data
    stream->filePosState = 0;
    ChunkCursor cursor;
    const ChunkRules* rules = WavStream_ChunkRules(stream);
    ChunkCursor_Init(&cursor, stream->handle, rules, ChunkPosUnknown);
    // Behind an odd-sized data chunk: its pad byte, or the next chunk at
    // once from writers that omit it; Wave64's alignment.
    const int odd = Chunk_OddEnd(rules, stream->dataOffset, uint64_t(stream->dataBytes));
    const int32_t follows = Chunk_FollowsAt(&cursor, pos, odd, fileSize);
    return follows < 0 ? StreamResultIoFailed : follows;
}
