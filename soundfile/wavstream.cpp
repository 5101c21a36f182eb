// The WAV reader and header writer: plain RIFF, Broadcast Wave and RF64.
// The reader walks the chunks up to the data chunk and reads only headers;
// the writer rewrites the sizes in place, in an order that leaves a file a
// second scan can still repair if the process dies between two writes.
#include "wavstream.h"

#include <string.h>

static_assert(sizeof(BextRecord) == 4698, "BextRecord must match the bext body layout");

namespace {

// Sizes from here on take the 64-bit form (a margin below 4 GiB).
const uint64_t SizeLimit = 0xEFFFFFFFu;
// Body bytes of a ds64 chunk without a table: riffSize, dataSize,
// sampleCount, tableLength.
const uint32_t Ds64TableBytes = 28;
// At most this many bext body bytes are kept.
const uint32_t BextReadLimit = 4700;
// dataOffset and bextOffset are 32-bit: chunks beyond this are out of reach.
const uint64_t PositionLimit = 0xFFFFFFFFu;
// Bound of the trailer walk; real files carry a handful of chunks there,
// and no sample data reads as so many well-formed chunks in a row.
const uint32_t TrailerChunkLimit = 1024;

uint16_t Le16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint64_t Le64(const uint8_t* p)
{
    return uint64_t(Le32(p)) | (uint64_t(Le32(p + 4)) << 32);
}

void Put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void Put64(uint8_t* p, uint64_t v)
{
    Put32(p, uint32_t(v));
    Put32(p + 4, uint32_t(v >> 32));
}

int SameId(const uint8_t* p, const char* id)
{
    return memcmp(p, id, 4) == 0;
}

// A chunk id as writers make them: four printable ASCII characters.
int PlausibleId(const uint8_t* p)
{
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E)
            return 0;
    return 1;
}

// Reads the 8-byte chunk header at *pos, leaving the file pointer behind it.
// After an odd-sized chunk the header may sit one pad byte further on:
// conforming writers pad, some recorders do not. The pad is skipped only
// when the padded position holds a plausible header and the unpadded one
// does not, so files without pads still open.
int ReadChunkHeader(FileHandle handle, uint64_t* pos, int afterOdd, uint8_t header[8], uint64_t* filePos)
{
    // The pointer is moved only when it is not already there: a plain
    // header is then read without a single seek.
    if (*filePos != *pos) {
        if (!File_SeekTo(handle, int64_t(*pos)))
            return 0;
        *filePos = *pos;
    }
    if (afterOdd) {
        uint8_t peek[9];
        if (File_ReadExact(handle, peek, 9)) {
            *filePos = *pos + 9;
            if (!PlausibleId(peek) && PlausibleId(peek + 1)) {
                *pos += 1;
                Mem_Copy(header, peek + 1, 8);
                return 1;
            }
            Mem_Copy(header, peek, 8);
            // The pointer stands one byte into the body; the body reads
            // that follow expect it at the body's start.
            if (!File_SeekTo(handle, int64_t(*pos + 8)))
                return 0;
            *filePos = *pos + 8;
            return 1;
        }
        // Fewer than 9 bytes left: the pointer is unknown, try 8 below.
        if (!File_SeekTo(handle, int64_t(*pos)))
            return 0;
        *filePos = *pos;
    }
    if (!File_ReadExact(handle, header, 8))
        return 0;
    *filePos = *pos + 8;
    return 1;
}

// Shape of the header block at the start of the file.
enum {
    FormRiff = 0,        // "RIFF" size "WAVE" only (12 bytes)
    FormRiffFiller = 1,  // RIFF, then a JUNK chunk where the ds64 chunk was
    FormRf64 = 2,        // "RF64" 0xFFFFFFFF "WAVE", then the ds64 chunk
};

typedef struct HeaderPlan {
    int form;            // Form*
    uint32_t chunkSize;  // body size of the chunk at offset 12 (not FormRiff)
} HeaderPlan;

// Chooses the header block for a file whose samples end at end. Returns 0
// when the block cannot be written in place.
int PlanHeader(const WavStream* stream, uint64_t end, HeaderPlan* plan)
{
    int fits = end < SizeLimit;
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
    // A plain RIFF file without a reservation keeps its 12-byte form; past
    // the limit its riff size reads 0xFFFFFFFF, since no 32-bit value is right.
    plan->form = FormRiff;
    plan->chunkSize = 0;
    return 1;
}

int WriteZeros(FileHandle handle, uint64_t count)
{
    static const uint8_t zeros[4096] = {0};
    while (count > 0) {
        uint32_t n = count < sizeof(zeros) ? uint32_t(count) : uint32_t(sizeof(zeros));
        if (!File_WriteExact(handle, zeros, n))
            return 0;
        count -= n;
    }
    return 1;
}

// Writes the header block of plan at offset 0.
int WriteHeaderBlock(WavStream* stream, const HeaderPlan* plan, uint64_t end, uint64_t dataBytes)
{
    uint8_t block[48];
    Mem_Zero(block, sizeof(block));
    uint32_t length = 12;
    memcpy(block, plan->form == FormRf64 ? "RF64" : "RIFF", 4);
    Put32(block + 4, end < SizeLimit ? uint32_t(end - 8) : 0xFFFFFFFFu);
    memcpy(block + 8, "WAVE", 4);
    if (plan->form != FormRiff) {
        memcpy(block + 12, plan->form == FormRf64 ? "ds64" : "JUNK", 4);
        Put32(block + 16, plan->chunkSize);
        if (plan->form == FormRf64) {
            Put64(block + 20, end - 8);
            Put64(block + 28, dataBytes);
            Put64(block + 36, uint64_t(stream->frameCount));
            Put32(block + 44, 0);  // no table
        }
        length = 20 + (plan->chunkSize < Ds64TableBytes ? plan->chunkSize : Ds64TableBytes);
    }
    // The rest of a longer chunk first: the block that names the chunk
    // comes last, so a file cut short between the two still reads as before.
    if (plan->form != FormRiff && plan->chunkSize > Ds64TableBytes) {
        if (!File_SeekTo(stream->handle, 20 + Ds64TableBytes) ||
            !WriteZeros(stream->handle, plan->chunkSize - Ds64TableBytes))
            return 0;
    }
    return File_SeekTo(stream->handle, 0) && File_WriteExact(stream->handle, block, length);
}

}  // namespace

int32_t WavStream_Open(WavStream* stream, const char* path, int32_t openFlag)
{
    if (stream == nullptr)
        return WavOpenNoStream;
    Mem_Zero(stream, sizeof(WavStream));
    stream->handle = FileHandleNone;
    if (path == nullptr)
        return WavOpenCannotOpen;
    uint32_t length = 0;
    while (length < StreamPathCapacity && path[length] != '\0')
        ++length;
    if (length >= StreamPathCapacity)
        return WavOpenCannotOpen;  // refused rather than cut: a cut path names another file
    Mem_Copy(stream->path, path, length + 1);

    uint32_t mode = FileModeReadExclusive;
    if (openFlag & 0x01)
        mode = FileModeReadWriteExisting;
    else if (openFlag & 0x20)
        mode = FileModeReadShared;
    if (!File_Open(stream->path, mode, &stream->handle, 128)) {
        stream->handle = FileHandleNone;
        return WavOpenCannotOpen;
    }
    FileHandle handle = stream->handle;

    uint8_t fileHeader[12];
    if (!File_ReadExact(handle, fileHeader, 12))
        return WavOpenNotWave;
    uint64_t pos;
    uint64_t filePos = 0;  // where the OS file pointer stands
    int64_t ds64DataSize = 0;
    int afterOdd = 0;
    if (SameId(fileHeader, "RIFF")) {
        pos = 12;
        filePos = 12;
    } else if (SameId(fileHeader, "RF64")) {
        stream->flags |= WavFlagRf64;
        uint8_t ds64[36];
        if (!File_ReadExact(handle, ds64, 36))
            return WavOpenNotWave;
        if (!SameId(ds64, "ds64"))
            return WavOpenNoDs64;
        stream->ds64Size = Le32(ds64 + 4);
        uint64_t dataSize = Le64(ds64 + 16);
        uint64_t sampleCount = Le64(ds64 + 24);
        // Sizes beyond 2^63 are no length any file has: taken as unknown.
        ds64DataSize = dataSize > uint64_t(INT64_MAX) ? 0 : int64_t(dataSize);
        stream->dataBytes = ds64DataSize;
        stream->frameCount = sampleCount > uint64_t(INT64_MAX) ? 0 : int64_t(sampleCount);
        // The walk goes on just past the ds64 chunk as declared: a table
        // behind the 28 bytes is skipped, and a chunk that a broken writer
        // declared shorter than its table is taken at its word.
        pos = 20 + uint64_t(stream->ds64Size);
        filePos = 48;
        afterOdd = int(stream->ds64Size & 1);
    } else {
        return WavOpenNotWave;
    }
    if (!SameId(fileHeader + 8, "WAVE"))
        return WavOpenNotWave;

    // Every round moves pos on by at least 8 bytes and the walk ends once
    // pos leaves the 32-bit range, so it always ends.
    for (;;) {
        if (pos + 8 > PositionLimit)
            return WavOpenNoData;
        uint8_t header[8];
        if (!ReadChunkHeader(handle, &pos, afterOdd, header, &filePos))
            return WavOpenNoData;
        if (pos + 8 > PositionLimit)
            return WavOpenNoData;
        uint32_t size = Le32(header + 4);
        uint64_t body = pos + 8;

        if (SameId(header, "fmt ")) {
            if (size < 16)
                return WavOpenNoData;
            uint8_t fmt[16];
            if (!File_ReadExact(handle, fmt, 16))
                return WavOpenNoData;
            filePos = body + 16;
            uint16_t channels = Le16(fmt + 2);
            if (channels == 0)
                return WavOpenNoChannels;
            uint16_t blockAlign = Le16(fmt + 12);
            uint16_t bitsPerSample = Le16(fmt + 14);
            // Some old writers leave bitsPerSample 0; the block size tells it.
            if (bitsPerSample == 0)
                bitsPerSample = uint16_t((blockAlign / channels) * 8);
            stream->formatTag = Le16(fmt);
            stream->channels = channels;
            stream->sampleRate = Le32(fmt + 4);
            stream->bytesPerSecond = Le32(fmt + 8);
            stream->blockAlign = blockAlign;
            stream->bitsPerSample = bitsPerSample;
            stream->extraFormatBytes = 0;
        } else if (SameId(header, "bext")) {
            stream->flags |= WavFlagBext;
            Mem_Zero(&stream->bext, sizeof(BextRecord));
            uint32_t length = size < BextReadLimit ? size : BextReadLimit;
            stream->bextOffset = uint32_t(body);
            stream->bextLength = length;
            uint8_t scratch[BextReadLimit];
            Mem_Zero(scratch, sizeof(scratch));
            if (!File_ReadExact(handle, scratch, length))
                return WavOpenNoData;
            filePos = body + length;
            Mem_Copy(&stream->bext, scratch, sizeof(BextRecord));
        } else if (SameId(header, "data")) {
            // No frame size to count frames by: a data chunk before any fmt
            // chunk, or a fmt chunk that declares a block size of 0.
            if (stream->blockAlign == 0)
                return WavOpenNoData;
            if (size == 0xFFFFFFFFu)
                // RF64 takes the length from ds64. A plain RIFF file holds
                // this placeholder while a recorder is still writing: the
                // length is unknown, so nothing is declared.
                stream->dataBytes = (stream->flags & WavFlagRf64) ? ds64DataSize : 0;
            else
                stream->dataBytes = int64_t(size);
            stream->dataOffset = uint32_t(body);
            stream->frameCount = stream->dataBytes / stream->blockAlign;
            stream->readPos = 0;
            stream->writePos = 0;
            stream->readFrames = WavStream_ReadFrames;
            stream->writeBytes = WavStream_WriteBytes;
            stream->filePosState = 1;
            File_GetSize64(handle, &stream->fileSize);
            return WavOpenOk;
        } else {
            if (size == 0xFFFFFFFFu)
                return WavOpenUnknownSize;
            if (pos == 12 && SameId(header, "JUNK") && size >= Ds64TableBytes)
                stream->junkSize = size;
        }
        // Sizes of 2 GiB and more (a damaged size field, a huge metadata
        // chunk) are skipped as the unsigned numbers they are.
        pos = body + size;
        afterOdd = int(size & 1);
    }
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
    int64_t frames = (stream->fileSize - int64_t(stream->dataOffset)) / stream->blockAlign;
    int64_t bytes = frames * stream->blockAlign;
    uint64_t end = uint64_t(stream->dataOffset) + uint64_t(bytes);
    HeaderPlan plan;
    if (!PlanHeader(stream, end, &plan))
        return StreamResultIoFailed;  // the header could not hold the result: leave the file alone

    stream->filePosState = 0;
    stream->frameCount = frames;
    stream->dataBytes = bytes;
    if (!File_SeekTo(stream->handle, int64_t(end)))
        return StreamResultIoFailed;
    if (!File_Truncate(stream->handle))
        return StreamResultIoFailed;
    stream->headerDirty = 1;
    return 0;
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
        uint64_t dataBytes = stream->dataBytes < 0 ? 0 : uint64_t(stream->dataBytes);
        uint64_t end = uint64_t(stream->dataOffset) + dataBytes;
        HeaderPlan plan;
        if (!PlanHeader(stream, end, &plan)) {
            ok = 0;
        } else {
            wrote = 1;
            FileHandle handle = stream->handle;
            // The data size is what a scan trusts; it is written last, and
            // only once the block before it is on disk, so that a file cut
            // short at any point still reads as short and is repaired again.
            ok = WriteHeaderBlock(stream, &plan, end, dataBytes) && File_Flush(handle);
            if (ok) {
                uint8_t field[4];
                Put32(field, dataBytes < SizeLimit ? uint32_t(dataBytes) : 0xFFFFFFFFu);
                ok = File_SeekTo(handle, int64_t(stream->dataOffset) - 4) && File_WriteExact(handle, field, 4);
            }
            if (ok) {
                stream->headerDirty = 0;
                if (plan.form == FormRf64 && !(stream->flags & WavFlagRf64)) {
                    // The JUNK reservation is a ds64 chunk now.
                    stream->flags |= WavFlagRf64;
                    stream->ds64Size = plan.chunkSize;
                }
            }
        }
    }
    // Only a stream that wrote a header or samples has anything to flush. A
    // flush costs a journal commit even for a file that was only read,
    // which would dominate a check of thousands of files (and a read-only
    // handle cannot be flushed on Windows at all).
    if ((wrote || stream->writePos != 0) && !File_Flush(stream->handle))
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
    FileHandle handle = stream->handle;
    stream->filePosState = 0;

    // The bytes looked at lie inside the measured file: a failed move or
    // read is a failing disk, and a guess would turn metadata into samples.
    uint8_t header[9];
    if (stream->dataBytes & 1) {
        if (fileSize - pos == 1)
            return 1;  // the pad byte of an odd-sized data chunk, nothing else
        // Writers that omit the pad put the next chunk right behind the samples.
        if (fileSize - pos >= 9) {
            if (!File_SeekTo(handle, int64_t(pos)) || !File_ReadExact(handle, header, 9))
                return StreamResultIoFailed;
            if (!PlausibleId(header) && PlausibleId(header + 1))
                ++pos;
        }
    }
    for (uint32_t n = 0; n < TrailerChunkLimit; ++n) {
        if (fileSize - pos < 8)
            return 0;
        if (!File_SeekTo(handle, int64_t(pos)) || !File_ReadExact(handle, header, 8))
            return StreamResultIoFailed;
        if (!PlausibleId(header))
            return 0;
        uint32_t size = Le32(header + 4);
        uint64_t end = pos + 8 + size;
        if (end > fileSize)
            return 0;
        if (end == fileSize)
            return 1;  // also a last chunk whose writer left out the pad byte
        if (size & 1) {
            ++end;  // RIFF pad byte
            if (end == fileSize)
                return 1;
        }
        pos = end;
    }
    // Still chunks: metadata, however odd. A repair would make it samples
    // and could cut its last bytes as a partial frame; leave the file alone.
    return 1;
}
