// AIFF streams: opening an AIFF file (FORM header, COMM, SSND), the header
// update at close and the repair of a header that declares too few frames
// (in the order commit.h states).
#include "aiffstream.h"

#include <math.h>

#include "chunks.h"
#include "commit.h"

namespace {

// The largest value AIFF's 32-bit size fields can hold.
const int64_t AiffMaxField = 0xFFFFFFFFLL;

// Block sizes above this are not padded to: a garbled blockSize field must
// not make the close write up to 4 GiB of zeros onto a recorder's card.
const uint32_t AiffMaxPadBlock = 0x100000;

const ChunkRules* const Rules = &ChunkRulesIff;

// The AIFF-C compression types whose frames are a fixed number of bytes.
struct Compression {
    char id[5];
    uint32_t sampleBytes;  // 0: from sampleSize, as in AIFF
    int32_t order;         // AiffOrder*
    int32_t encoding;      // as SoundFileInfo.sampleEncoding
};

const Compression Compressions[] = {
    {"NONE", 0, AiffOrderBig, 0}, {"twos", 0, AiffOrderBig, 0}, {"sowt", 0, AiffOrderLittle, 0},
    {"raw ", 1, AiffOrderBig, 1}, {"in24", 3, AiffOrderBig, 0}, {"in32", 4, AiffOrderBig, 0},
    {"fl32", 4, AiffOrderBig, 2}, {"FL32", 4, AiffOrderBig, 2}, {"fl64", 8, AiffOrderBig, 2},
    {"FL64", 8, AiffOrderBig, 2},
};

const Compression* FindCompression(const uint8_t* id)
{
    for (const Compression& c : Compressions)
        if (Chunk_SameId(id, c.id))
            return &c;
    return nullptr;
}

// Where the samples end when SSND's own size is plausible and what follows
// it is what AIFF puts behind its samples (well-formed chunks, a pad byte):
// a writer that declares fewer frames in COMM than SSND holds, with ID3,
// COMT or MARK behind. Those chunks must never become samples. Otherwise
// the samples run to the end of the file.
int64_t SamplesEnd(ChunkCursor* cursor, AiffStream* stream, uint64_t ssndBody)
{
    const uint64_t size = uint64_t(stream->fileSize);
    const uint64_t ssndEnd = ssndBody + stream->ssndChunkSize;
    if (stream->ssndChunkSize < 8 || ssndEnd >= size || ssndEnd < stream->dataOffset)
        return stream->fileSize;
    if (Chunk_FollowsAt(cursor, ssndEnd, int(stream->ssndChunkSize & 1), size) <= 0)
        return stream->fileSize;
    stream->ssndEnd = int64_t(ssndEnd);
    stream->tailKind = StreamTailMetadata;
    const uint64_t frames = (ssndEnd - stream->dataOffset) / stream->blockAlign;
    return int64_t(stream->dataOffset + frames * stream->blockAlign);
}

// Walks from pos to the first chunk named id; 0 when the walk meets the
// end of the file, an unreadable header, an id no writer makes, or the end
// of the 32-bit range (the refusal says which).
int FindChunk(ChunkCursor* cursor, uint64_t pos, int afterOdd, uint64_t fileSize, const char* id,
              ChunkHeader* header, StreamRefusal* refusal)
{
    Mem_Copy(refusal->sought, id, 4);
    ChunkHeader prev;
    const ChunkHeader* before = nullptr;
    for (;;) {
        if (!Chunk_Next(cursor, pos, afterOdd, fileSize, before, header, refusal))
            return 0;
        if (Chunk_SameId(header->id, id))
            return 1;
        prev = *header;
        before = &prev;
        pos = Chunk_End(header);
        afterOdd = Chunk_IsOdd(cursor, header);
    }
}

// Zero bytes the close writes behind the samples ending at end.
int64_t padBytes(int64_t end, uint32_t blockSize)
{
    if (blockSize <= 1 || blockSize > AiffMaxPadBlock)
        return 0;
    int64_t rest = end % int64_t(blockSize);
    return rest == 0 ? 0 : int64_t(blockSize) - rest;
}

// 1 when the samples end at the SSND chunk's end, chunks behind it: the
// repair then neither cuts nor pads, and the FORM keeps covering the file.
int Bounded(const AiffStream* stream)
{
    return stream->dataEnd > 0 && stream->dataEnd < stream->fileSize;
}

// 1 when a header for dataBytes and frameCount can be written: every size
// fits AIFF's 32-bit fields and the offsets are those an open recorded.
int headerFits(const AiffStream* stream, int64_t dataBytes, int64_t frameCount)
{
    if (dataBytes < 0 || frameCount < 0 || frameCount > AiffMaxField)
        return 0;
    if (int64_t(stream->dataOffset) < int64_t(stream->ssndOffset) + 20 || stream->commOffset < 20)
        return 0;
    int64_t end = int64_t(stream->dataOffset) + dataBytes;
    int64_t padded = Bounded(stream) ? (stream->tailKind == StreamTailMetadata ? stream->fileSize : end)
                                     : end + padBytes(end, stream->ssndBlockSize);
    if (padded - 8 > AiffMaxField)
        return 0;
    if (int64_t(stream->ssndOffset) + dataBytes + 8 > AiffMaxField)
        return 0;
    return 1;
}

// FORM size and SSND size for dataBytes of samples, and the frame count.
struct AiffSizes {
    uint8_t bytes[12];
    HeaderField fields[2];
    HeaderField frames;
};

void BuildSizes(const AiffStream* stream, int64_t dataBytes, int64_t frameCount, AiffSizes* h)
{
    int64_t end = int64_t(stream->dataOffset) + dataBytes;
    const int bounded = Bounded(stream);
    const int64_t ssndBody = int64_t(stream->dataOffset) - int64_t(stream->ssndOffset) - 8;
    // The FORM covers the chunks behind SSND, not a growing take's partial frame.
    const int covered = bounded && stream->tailKind == StreamTailMetadata;
    Chunk_Put32(Rules, h->bytes, uint32_t((covered ? stream->fileSize : end) - 8));
    Chunk_Put32(Rules, h->bytes + 4,
                bounded ? uint32_t(stream->ssndEnd - ssndBody) : uint32_t(int64_t(stream->ssndOffset) + dataBytes + 8));
    Chunk_Put32(Rules, h->bytes + 8, uint32_t(frameCount));
    h->fields[0] = {4, h->bytes, 4};
    h->fields[1] = {int64_t(stream->dataOffset) - int64_t(stream->ssndOffset) - 12, h->bytes + 4, 4};
    h->frames = {int64_t(stream->commOffset) + 2, h->bytes + 8, 4};
}

}  // namespace

double Extended80_ToDouble(const uint8_t* bytes)
{
    uint32_t exponent = (uint32_t(bytes[0] & 0x7F) << 8) | bytes[1];
    uint32_t hi = Chunk_Get32(Rules, bytes + 2);
    uint32_t lo = Chunk_Get32(Rules, bytes + 6);
    double magnitude;
    if (exponent == 0 && hi == 0 && lo == 0)
        magnitude = 0.0;
    else if (exponent == 0x7FFF)
        magnitude = HUGE_VAL;
    else
        magnitude = ldexp(double(hi), int(exponent) - 16414) + ldexp(double(lo), int(exponent) - 16446);
    return (bytes[0] & 0x80) ? -magnitude : magnitude;
}

int32_t AiffStream_Open(AiffStream* stream, const char* path, int32_t openFlag)
{
    if (stream == nullptr)
        return AiffOpenNoStream;
    Mem_Zero(stream, sizeof(AiffStream));
    StreamRefusal* refusal = &stream->refusal;
    if (!Stream_OpenFile(stream->path, path, openFlag, &stream->handle, &stream->examined, refusal))
        return AiffOpenCannotOpen;
    ChunkCursor cursor;
    uint8_t form[12];
    uint64_t fileSize;
    if (!Chunk_Begin(&cursor, stream->handle, Rules, &stream->examined, form, &fileSize, refusal))
        return AiffOpenNoFormat;
    const int aifc = Chunk_SameId(form + 8, "AIFC");
    if (!Chunk_SameId(form, "FORM"))
        return Stream_Refuse(refusal, AiffOpenNotAiff, SoundReasonNotContainer, 0, 4, form);
    if (!(Chunk_SameId(form + 8, "AIFF") || aifc))
        return Stream_Refuse(refusal, AiffOpenNotAiff, SoundReasonWrongForm, 8, 0, form + 8);

    // A chunk that would start beyond 4 GiB cannot lie inside a FORM. Ids
    // are printable: zero-filled or garbled bytes end the walk at once
    // instead of being stepped through 8 bytes at a time.
    ChunkHeader header;
    if (!FindChunk(&cursor, 12, 0, fileSize, "COMM", &header, refusal))
        return AiffOpenNoFormat;
    uint64_t pos = header.pos;
    stream->commOffset = uint32_t(pos + 8);
    // AIFF-C adds compressionType and its name to the 18 bytes of AIFF.
    const uint32_t commBytes = aifc ? 22 : 18;
    if (aifc ? header.size < commBytes : header.size != commBytes)
        return Stream_Refuse(refusal, AiffOpenNoFormat, SoundReasonFormatShort, pos, Chunk_Size32(header.size),
                             header.id);
    const uint64_t afterComm = Chunk_End(&header);
    const int commOdd = Chunk_IsOdd(&cursor, &header);
    uint8_t comm[22];
    if (!Chunk_ReadAt(&cursor, pos + 8, comm, commBytes))
        return Stream_Refuse(refusal, AiffOpenNoFormat, SoundReasonNoDataPast, pos, Chunk_Size32(header.size),
                             header.id);
    int16_t numChannels = int16_t(Chunk_Get16(Rules, comm));
    uint32_t numSampleFrames = Chunk_Get32(Rules, comm + 2);
    int16_t sampleSize = int16_t(Chunk_Get16(Rules, comm + 6));
    Mem_Copy(stream->commSampleRate, comm + 8, 10);
    stream->sampleRateDouble = Extended80_ToDouble(comm + 8);
    stream->commSampleFrames = numSampleFrames;
    stream->commSampleSize = sampleSize;
    stream->formatTag = 1;
    stream->extraFormatBytes = 0;
    stream->channels = uint16_t(numChannels);
    stream->bitsPerSample = uint16_t(sampleSize);
    double rate = stream->sampleRateDouble;
    // NaN fails both comparisons; infinity and rates beyond 64 bits give 0.
    if (rate >= -9223372036854775808.0 && rate < 9223372036854775808.0)
        stream->sampleRate = uint32_t(uint64_t(int64_t(rate)));
    else
        stream->sampleRate = 0;

    // The format is known even where its encoding is refused, so that the
    // refusal can describe the take.
    const Compression* compression = &Compressions[0];
    if (aifc) {
        stream->flags |= AiffFlagAifc;
        Mem_Copy(stream->compressionType, comm + 18, 4);
        compression = FindCompression(comm + 18);
        if (compression == nullptr)
            return Stream_Refuse(refusal, AiffOpenCompressed, SoundReasonCompressed, pos, 0, comm + 18);
    }
    stream->sampleOrder = compression->order;
    stream->sampleEncoding = compression->encoding;
    if (numChannels < 1)
        return Stream_Refuse(refusal, AiffOpenNoChannels, SoundReasonNoChannels, pos, 0, nullptr);

    if (sampleSize < 1)
        return Stream_Refuse(refusal, AiffOpenNoFormat, SoundReasonNoFrameSize, pos, uint16_t(sampleSize), nullptr);
    uint32_t bytesPerSample = compression->sampleBytes;
    if (bytesPerSample == 0)
        bytesPerSample = uint32_t(sampleSize >> 3) + ((sampleSize & 7) ? 1u : 0u);
    uint32_t frameBytes = uint32_t(numChannels) * bytesPerSample;
    // A frame wider than 16 bits would make every size derived from
    // blockAlign wrong (and a multiple of 65536 would make it 0).
    if (frameBytes == 0 || frameBytes > 0xFFFF)
        return Stream_Refuse(refusal, AiffOpenNoFormat, SoundReasonNoFrameSize, pos, uint16_t(sampleSize), nullptr);
    stream->blockAlign = uint16_t(frameBytes);
    stream->bytesPerSecond = uint32_t(stream->blockAlign) * stream->sampleRate;

    if (!FindChunk(&cursor, afterComm, commOdd, fileSize, "SSND", &header, refusal))
        return AiffOpenNoFormat;
    uint64_t ssndBody = header.pos + 8;
    uint32_t size = Chunk_Size32(header.size);
    // A size below 8 is one the recorder never wrote: the samples then run
    // to the end of the file, behind the two fields if they are there.
    uint8_t fields[8];
    if (!Chunk_ReadAt(&cursor, ssndBody, fields, 8))
        return Stream_Refuse(refusal, AiffOpenNoData, SoundReasonSamplesFields, header.pos, size, header.id);
    uint32_t offset = Chunk_Get32(Rules, fields);
    uint64_t dataOffset = ssndBody + 8 + uint64_t(offset);
    // The header update addresses the data through 32-bit fields.
    if (dataOffset > uint64_t(AiffMaxField))
        return Stream_Refuse(refusal, AiffOpenNoData, SoundReasonTooFar, dataOffset, 0, nullptr);
    stream->ssndOffset = offset;
    stream->ssndBlockSize = Chunk_Get32(Rules, fields + 4);
    stream->ssndChunkSize = size;
    stream->dataOffset = uint32_t(dataOffset);
    stream->frameCount = int64_t(numSampleFrames);
    stream->dataBytes = int64_t(numSampleFrames) * int64_t(stream->blockAlign);

    stream->readPos = 0;
    stream->readFrames = AiffStream_ReadFrames;
    stream->writeBytes = AiffStream_WriteBytes;
    stream->fileSize = stream->examined.size;
    stream->dataEnd = SamplesEnd(&cursor, stream, ssndBody);
    // A check reads no sample: the move to the first one would be a request
    // of its own, for nothing.
    stream->filePosState = (openFlag & 0x100) ? cursor.filePos == dataOffset : Chunk_SeekTo(&cursor, dataOffset);
    return AiffOpenOk;
}

int32_t AiffStream_Repair(AiffStream* stream)
{
    if (stream == nullptr)
        return -1;
    if (stream->handle == FileHandleNone || stream->blockAlign == 0 || stream->dataOffset == 0)
        return StreamResultIoFailed;
    if (stream->fileSize < int64_t(stream->dataOffset))
        return StreamResultIoFailed;
    const int64_t samplesEnd = Bounded(stream) ? stream->dataEnd : stream->fileSize;
    int64_t frames = (samplesEnd - int64_t(stream->dataOffset)) / int64_t(stream->blockAlign);
    int64_t bytes = frames * int64_t(stream->blockAlign);
    if (!headerFits(stream, bytes, frames))
        return StreamResultIoFailed;
    if (!File_Unchanged(stream->handle, &stream->examined, 1))
        return StreamResultIoFailed;  // written since it was measured: a recorder may be at work

    stream->filePosState = 0;
    if (Bounded(stream)) {
        // Nothing to cut: the chunks behind SSND stay as they are, and the
        // close writes the sizes, the frame count last (C1).
        stream->frameCount = frames;
        stream->dataBytes = bytes;
        stream->headerDirty = 1;
        return 0;
    }
    // FORM and SSND sizes before the cut, and the frame count too where the
    // cut is what completes the file (C2). With no whole frame there is no
    // header to write, as at close.
    AiffSizes h;
    BuildSizes(stream, bytes, frames, &h);
    const int grows = frames > stream->frameCount;
    if (!Commit_Cut(stream->handle, h.fields, bytes > 0 ? 2 : 0, grows || bytes == 0 ? nullptr : &h.frames,
                    int64_t(stream->dataOffset) + bytes, &stream->examined))
        return StreamResultIoFailed;
    stream->frameCount = frames;
    stream->dataBytes = bytes;
    stream->headerDirty = 1;
    return 0;
}

int32_t AiffStream_RepairChanges(const AiffStream* stream, StreamChange* changes)
{
    int64_t pad = 0;
    const int64_t keep = AiffStream_RepairKeepBytes(stream, &pad);
    if (keep < 0)
        return -1;
    const int64_t samplesEnd = Bounded(stream) ? stream->dataEnd : stream->fileSize;
    const int64_t frames = (samplesEnd - int64_t(stream->dataOffset)) / int64_t(stream->blockAlign);
    const int64_t bytes = frames * int64_t(stream->blockAlign);
    AiffSizes h;
    BuildSizes(stream, bytes, frames, &h);
    uint32_t n = Commit_Describe(h.fields, 2, changes, 0);
    n = Commit_Describe(&h.frames, 1, changes, n);
    if (pad > 0) {
        // The FORM size once the padding is written (C3).
        uint8_t formSize[4];
        Chunk_Put32(Rules, formSize, uint32_t(int64_t(stream->dataOffset) + bytes + pad - 8));
        const HeaderField padded = {4, formSize, 4};
        n = Commit_Describe(&padded, 1, changes, n);
    }
    return int32_t(n);
}

int64_t AiffStream_RepairKeepBytes(const AiffStream* stream, int64_t* padBytesOut)
{
    *padBytesOut = 0;
    if (stream == nullptr || stream->handle == FileHandleNone || stream->blockAlign == 0 || stream->dataOffset == 0 ||
        stream->fileSize < int64_t(stream->dataOffset))
        return -1;
    if (Bounded(stream))
        return stream->fileSize;
    const int64_t frames = (stream->fileSize - int64_t(stream->dataOffset)) / int64_t(stream->blockAlign);
    const int64_t end = int64_t(stream->dataOffset) + frames * int64_t(stream->blockAlign);
    // The close pads only a header with samples (as AiffStream_UpdateHeader).
    if (frames > 0)
        *padBytesOut = padBytes(end, stream->ssndBlockSize);
    return end;
}

int32_t AiffStream_UpdateHeader(AiffStream* stream)
{
    if (stream == nullptr)
        return -1;
    if (stream->dataOffset == 0 || stream->dataBytes <= 0)
        return 0;
    FileHandle handle = stream->handle;
    if (stream->headerDirty != 1) {
        if (handle == FileHandleNone)
            return 0;
        // Only a stream that has written samples has anything to flush. A
        // flush costs a journal commit even for a file that was only read,
        // which would dominate a check of thousands of files (and a
        // read-only handle cannot be flushed on Windows at all).
        if (stream->writePos != 0 && !File_Flush(handle))
            return StreamResultIoFailed;
        return 0;
    }
    if (handle == FileHandleNone || !headerFits(stream, stream->dataBytes, stream->frameCount))
        return StreamResultIoFailed;

    int64_t end = int64_t(stream->dataOffset) + stream->dataBytes;
    stream->filePosState = 0;

    // The frame count is what a scan trusts: last (C1).
    AiffSizes h;
    BuildSizes(stream, stream->dataBytes, stream->frameCount, &h);
    if (!Commit_Header(handle, h.fields, 2, &h.frames))
        return StreamResultIoFailed;

    // Padding after the count (C3); none into the chunks behind SSND.
    int64_t pad = Bounded(stream) ? 0 : padBytes(end, stream->ssndBlockSize);
    if (pad > 0) {
        uint8_t formSize[4];
        Chunk_Put32(Rules, formSize, uint32_t(end + pad - 8));
        const HeaderField padded = {4, formSize, 4};
        if (!File_SeekTo(handle, end) || !Commit_Zeros(handle, uint64_t(pad)) || !Commit_Header(handle, nullptr, 0, &padded))
            return StreamResultIoFailed;
    }
    stream->headerDirty = 0;
    return 0;
}

int32_t AiffStream_Close(AiffStream* stream)
{
    if (stream == nullptr)
        return -1;
    if (stream->handle == FileHandleNone)
        return 0;
    int32_t result = AiffStream_UpdateHeader(stream) == 0 ? 0 : StreamResultIoFailed;
    if (!File_Close(stream->handle))
        result = StreamResultIoFailed;
    stream->handle = FileHandleNone;
    stream->filePosState = 0;
    return result;
}

int32_t AiffStream_HasChunkTrailer(AiffStream* stream)
{
    if (stream == nullptr || stream->handle == FileHandleNone || stream->dataOffset == 0 || stream->dataBytes < 0)
        return 0;
    int64_t size = stream->fileSize;
    int64_t end = int64_t(stream->dataOffset) + stream->dataBytes;
    if (end >= size)
        return 0;

    // Where the chunks behind the samples may begin: right behind them;
    // behind the SSND chunk as declared, with or without its pad byte
    // (writers that declare more SSND bytes than frames, and writers that
    // omit the pad); behind the zero padding to the SSND block size that
    // our own close writes, or as much of it as a close cut short by a
    // crash or a full disk left.
    int64_t starts[4];
    int count = 0;
    int64_t ssndEnd = int64_t(stream->dataOffset) - int64_t(stream->ssndOffset) - 8 + int64_t(stream->ssndChunkSize);
    starts[count++] = end;
    starts[count++] = ssndEnd;
    if (stream->ssndChunkSize & 1)
        starts[count++] = ssndEnd + 1;
    int64_t pad = padBytes(end, stream->ssndBlockSize);
    starts[count++] = end + (pad < size - end ? pad : size - end);

    // Every byte between the samples and the chunks must be zero.
    int64_t zeroLimit = end;
    for (int i = 0; i < count; ++i)
        if (starts[i] > zeroLimit && starts[i] <= size && starts[i] - end <= int64_t(AiffMaxPadBlock))
            zeroLimit = starts[i];
    // Everything looked at lies inside the measured file: a failed move or
    // read is a failing disk, and a guess would turn metadata into samples.
    stream->filePosState = 0;
    ChunkCursor cursor;
    ChunkCursor_Init(&cursor, stream->handle, Rules, ChunkPosUnknown);
    int64_t zeroEnd = end;
    uint8_t buffer[4096];
    while (zeroEnd < zeroLimit) {
        uint32_t piece = zeroLimit - zeroEnd > int64_t(sizeof(buffer)) ? uint32_t(sizeof(buffer))
                                                                         : uint32_t(zeroLimit - zeroEnd);
        if (!Chunk_ReadAt(&cursor, uint64_t(zeroEnd), buffer, piece))
            return StreamResultIoFailed;
        uint32_t i = 0;
        while (i < piece && buffer[i] == 0)
            ++i;
        zeroEnd += i;
        if (i < piece)
            break;
    }

    int padding = 0;
    for (int i = 0; i < count; ++i) {
        int64_t pos = starts[i];
        if (pos < end || pos > zeroEnd || pos > size)
            continue;
        if (pos == size) {
            padding = 1;  // zeros or a pad byte to the end: no metadata
            continue;
        }
        const int32_t follows = Chunk_FollowsAt(&cursor, uint64_t(pos), 0, uint64_t(size));
        if (follows < 0)
            return StreamResultIoFailed;
        if (follows == ChunkFollowChunks)
            return ChunkFollowChunks;
    }
    return padding ? ChunkFollowPad : ChunkFollowNothing;
}
