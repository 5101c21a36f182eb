// AIFF streams: opening an AIFF file (FORM header, COMM, SSND), the header
// update at close and the repair of a header that declares too few frames.
#include "aiffstream.h"

#include <math.h>

namespace {

// The largest value AIFF's 32-bit size fields can hold.
const int64_t AiffMaxField = 0xFFFFFFFFLL;

// Block sizes above this are not padded to: a garbled blockSize field must
// not make the close write up to 4 GiB of zeros onto a recorder's card.
const uint32_t AiffMaxPadBlock = 0x100000;

// Chunks behind the samples that the trailer check walks at most.
const int AiffMaxTrailerChunks = 65536;

uint32_t readBe32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint16_t readBe16(const uint8_t* p)
{
    return uint16_t((uint32_t(p[0]) << 8) | uint32_t(p[1]));
}

int sameId(const uint8_t* p, const char* id)
{
    return p[0] == uint8_t(id[0]) && p[1] == uint8_t(id[1]) && p[2] == uint8_t(id[2]) && p[3] == uint8_t(id[3]);
}

// Chunk ids are four printable ASCII characters.
int plausibleId(const uint8_t* p)
{
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E)
            return 0;
    return 1;
}

// Position of the next chunk header behind an odd-sized chunk whose body
// ends at unpadded. Conforming files put a pad byte there; files from
// writers that omit it go on at once. The pad is skipped only when the
// header behind it looks like one and the header at unpadded does not.
// *readFailed (when given) is set when the five bytes could not be read.
int64_t afterOddChunk(FileHandle handle, int64_t unpadded, int* readFailed = nullptr)
{
    uint8_t ids[5];
    if (!File_SeekTo(handle, unpadded) || !File_ReadExact(handle, ids, 5)) {
        if (readFailed != nullptr)
            *readFailed = 1;
        return unpadded;
    }
    if (plausibleId(ids + 1) && !plausibleId(ids))
        return unpadded + 1;
    return unpadded;
}

// Reads the chunk header at pos: 4 id bytes and the size in host order.
int readChunkHeader(FileHandle handle, int64_t pos, uint8_t* id, uint32_t* size)
{
    uint8_t header[8];
    if (!File_SeekTo(handle, pos) || !File_ReadExact(handle, header, 8))
        return 0;
    for (int i = 0; i < 4; ++i)
        id[i] = header[i];
    *size = readBe32(header + 4);
    return 1;
}

// Walks chunks from pos (the header just read there had this size) to the
// next header position, pad byte included where there is one.
int64_t nextChunk(FileHandle handle, int64_t pos, uint32_t size)
{
    int64_t next = pos + 8 + int64_t(size);
    if (size & 1)
        next = afterOddChunk(handle, next);
    return next;
}

// Zero bytes the close writes behind the samples ending at end.
int64_t padBytes(int64_t end, uint32_t blockSize)
{
    if (blockSize <= 1 || blockSize > AiffMaxPadBlock)
        return 0;
    int64_t rest = end % int64_t(blockSize);
    return rest == 0 ? 0 : int64_t(blockSize) - rest;
}

int writeBe32At(FileHandle handle, int64_t pos, uint32_t value)
{
    uint8_t bytes[4];
    bytes[0] = uint8_t(value >> 24);
    bytes[1] = uint8_t(value >> 16);
    bytes[2] = uint8_t(value >> 8);
    bytes[3] = uint8_t(value);
    return File_SeekTo(handle, pos) && File_WriteExact(handle, bytes, 4);
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
    int64_t padded = end + padBytes(end, stream->ssndBlockSize);
    if (padded - 8 > AiffMaxField)
        return 0;
    if (int64_t(stream->ssndOffset) + dataBytes + 8 > AiffMaxField)
        return 0;
    return 1;
}

}  // namespace

double Extended80_ToDouble(const uint8_t* bytes)
{
    uint32_t exponent = (uint32_t(bytes[0] & 0x7F) << 8) | bytes[1];
    uint32_t hi = readBe32(bytes + 2);
    uint32_t lo = readBe32(bytes + 6);
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
    stream->handle = FileHandleNone;
    if (path == nullptr)
        return AiffOpenCannotOpen;
    uint32_t length = 0;
    while (length < StreamPathCapacity && path[length] != '\0')
        ++length;
    if (length >= StreamPathCapacity)
        return AiffOpenCannotOpen;
    Mem_Copy(stream->path, path, length + 1);

    uint32_t mode;
    if (openFlag & 0x01)
        mode = FileModeReadWriteExisting;  // a scan must never create a file
    else if (openFlag & 0x20)
        mode = FileModeReadShared;
    else
        mode = FileModeReadExclusive;
    if (!File_Open(stream->path, mode, &stream->handle, 128))
        return AiffOpenCannotOpen;
    FileHandle handle = stream->handle;

    uint8_t form[12];
    if (!File_ReadExact(handle, form, 12))
        return AiffOpenNoFormat;
    if (!sameId(form, "FORM") || !sameId(form + 8, "AIFF"))
        return AiffOpenNotAiff;

    // Chunk positions are 64-bit so that no size wraps the walk backwards;
    // a chunk that would start beyond 4 GiB cannot lie inside a FORM. Ids
    // are printable: zero-filled or garbled bytes end the walk at once
    // instead of being stepped through 8 bytes at a time.
    uint8_t id[4];
    uint32_t size = 0;
    int64_t pos = 12;
    for (;;) {
        if (pos + 8 > AiffMaxField || !readChunkHeader(handle, pos, id, &size) || !plausibleId(id))
            return AiffOpenNoFormat;
        if (sameId(id, "COMM"))
            break;
        pos = nextChunk(handle, pos, size);
    }

    stream->commOffset = uint32_t(pos + 8);
    if (size != 18)
        return AiffOpenNoFormat;
    uint8_t comm[18];
    if (!File_SeekTo(handle, pos + 8) || !File_ReadExact(handle, comm, 18))
        return AiffOpenNoFormat;

    int16_t numChannels = int16_t(readBe16(comm));
    uint32_t numSampleFrames = readBe32(comm + 2);
    int16_t sampleSize = int16_t(readBe16(comm + 6));
    Mem_Copy(stream->commSampleRate, comm + 8, 10);
    stream->sampleRateDouble = Extended80_ToDouble(comm + 8);
    stream->commSampleFrames = numSampleFrames;
    stream->commSampleSize = sampleSize;
    stream->formatTag = 1;
    stream->extraFormatBytes = 0;
    stream->channels = uint16_t(numChannels);
    if (numChannels < 1)
        return AiffOpenNoChannels;

    stream->bitsPerSample = uint16_t(sampleSize);
    double rate = stream->sampleRateDouble;
    // NaN fails both comparisons; infinity and rates beyond 64 bits give 0.
    if (rate >= -9223372036854775808.0 && rate < 9223372036854775808.0)
        stream->sampleRate = uint32_t(uint64_t(int64_t(rate)));
    else
        stream->sampleRate = 0;
    if (sampleSize < 1)
        return AiffOpenNoFormat;
    uint32_t bytesPerSample = uint32_t(sampleSize >> 3) + ((sampleSize & 7) ? 1u : 0u);
    uint32_t frameBytes = uint32_t(numChannels) * bytesPerSample;
    // A frame wider than 16 bits would make every size derived from
    // blockAlign wrong (and a multiple of 65536 would make it 0).
    if (frameBytes == 0 || frameBytes > 0xFFFF)
        return AiffOpenNoFormat;
    stream->blockAlign = uint16_t(frameBytes);
    stream->bytesPerSecond = uint32_t(stream->blockAlign) * stream->sampleRate;

    pos = pos + 8 + 18;
    for (;;) {
        if (pos + 8 > AiffMaxField || !readChunkHeader(handle, pos, id, &size) || !plausibleId(id))
            return AiffOpenNoFormat;
        if (sameId(id, "SSND"))
            break;
        pos = nextChunk(handle, pos, size);
    }

    int64_t ssndBody = pos + 8;
    if (size < 8)
        return AiffOpenNoData;
    uint8_t fields[8];
    if (!File_SeekTo(handle, ssndBody) || !File_ReadExact(handle, fields, 8))
        return AiffOpenNoData;
    uint32_t offset = readBe32(fields);
    int64_t dataOffset = ssndBody + 8 + int64_t(offset);
    // The header update addresses the data through 32-bit fields.
    if (dataOffset > AiffMaxField)
        return AiffOpenNoData;
    stream->ssndOffset = offset;
    stream->ssndBlockSize = readBe32(fields + 4);
    stream->ssndChunkSize = size;
    stream->dataOffset = uint32_t(dataOffset);
    stream->frameCount = int64_t(numSampleFrames);
    stream->dataBytes = int64_t(numSampleFrames) * int64_t(stream->blockAlign);

    stream->readPos = 0;
    stream->readFrames = AiffStream_ReadFrames;
    stream->writeBytes = AiffStream_WriteBytes;
    stream->filePosState = File_SeekTo(handle, dataOffset) ? 1 : 0;
    File_GetSize64(handle, &stream->fileSize);
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
    int64_t frames = (stream->fileSize - int64_t(stream->dataOffset)) / int64_t(stream->blockAlign);
    int64_t bytes = frames * int64_t(stream->blockAlign);
    if (!headerFits(stream, bytes, frames))
        return StreamResultIoFailed;

    stream->filePosState = 0;
    if (!File_SeekTo(stream->handle, int64_t(stream->dataOffset) + bytes))
        return StreamResultIoFailed;
    if (!File_Truncate(stream->handle))
        return StreamResultIoFailed;
    stream->frameCount = frames;
    stream->dataBytes = bytes;
    stream->headerDirty = 1;
    return 0;
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
    int64_t ssndSizePos = int64_t(stream->dataOffset) - int64_t(stream->ssndOffset) - 12;
    uint32_t ssndSize = uint32_t(int64_t(stream->ssndOffset) + stream->dataBytes + 8);
    stream->filePosState = 0;

    // The frame count goes last: until it is on the disk the old, smaller
    // count makes the next scan repair the file again, and once it is there
    // the sizes it relies on are already written.
    if (!writeBe32At(handle, 4, uint32_t(end - 8)) || !writeBe32At(handle, ssndSizePos, ssndSize) ||
        !File_Flush(handle))
        return StreamResultIoFailed;
    if (!writeBe32At(handle, int64_t(stream->commOffset) + 2, uint32_t(stream->frameCount)) || !File_Flush(handle))
        return StreamResultIoFailed;

    int64_t pad = padBytes(end, stream->ssndBlockSize);
    if (pad > 0) {
        uint8_t zeros[512];
        Mem_Zero(zeros, sizeof(zeros));
        if (!File_SeekTo(handle, end))
            return StreamResultIoFailed;
        for (int64_t left = pad; left > 0;) {
            uint32_t piece = left > 512 ? 512u : uint32_t(left);
            if (!File_WriteExact(handle, zeros, piece))
                return StreamResultIoFailed;
            left -= piece;
        }
        if (!writeBe32At(handle, 4, uint32_t(end + pad - 8)) || !File_Flush(handle))
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
    FileHandle handle = stream->handle;
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
    int64_t zeroEnd = end;
    if (zeroLimit > end) {
        if (!File_SeekTo(handle, end))
            return StreamResultIoFailed;
        uint8_t buffer[4096];
        while (zeroEnd < zeroLimit) {
            uint32_t piece = zeroLimit - zeroEnd > int64_t(sizeof(buffer)) ? uint32_t(sizeof(buffer))
                                                                             : uint32_t(zeroLimit - zeroEnd);
            if (!File_ReadExact(handle, buffer, piece))
                return StreamResultIoFailed;
            uint32_t i = 0;
            while (i < piece && buffer[i] == 0)
                ++i;
            zeroEnd += i;
            if (i < piece)
                break;
        }
    }

    for (int i = 0; i < count; ++i) {
        int64_t pos = starts[i];
        if (pos < end || pos > zeroEnd || pos > size)
            continue;
        int chunks = 0;
        while (pos < size && chunks < AiffMaxTrailerChunks) {
            uint8_t id[4];
            uint32_t chunkSize;
            if (size - pos < 8)
                break;
            if (!readChunkHeader(handle, pos, id, &chunkSize))
                return StreamResultIoFailed;
            if (!plausibleId(id))
                break;
            int64_t next = pos + 8 + int64_t(chunkSize);
            if (next > size)
                break;
            // A last odd-sized chunk whose writer left out the pad byte.
            if ((chunkSize & 1) && next < size) {
                if (size - next == 1) {
                    next = size;
                } else if (size - next >= 5) {
                    int readFailed = 0;
                    next = afterOddChunk(handle, next, &readFailed);
                    if (readFailed)
                        return StreamResultIoFailed;
                }
            }
            pos = next;
            ++chunks;
        }
        // Still chunks after so many (no sample data reads like that):
        // metadata, however odd, which a repair would turn into samples.
        if (pos == size || chunks == AiffMaxTrailerChunks)
            return 1;
    }
    return 0;
}
