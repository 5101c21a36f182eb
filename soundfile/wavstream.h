// WAV, Broadcast Wave, RF64, BW64 and Wave64 streams: the reader, the
// header update and repair, and the sample transfer of one open WAV file.
#ifndef TESSMARK_WAVSTREAM_H
#define TESSMARK_WAVSTREAM_H

#include <stdint.h>

#include "fileio.h"
#include "stream.h"

// Bits of WavStream.flags and SoundFileInfo.flags.
#define WavFlagBext 0x00000001u
#define WavFlagRf64 0x80000000u
// A plain RIFF file whose samples pass what its 32-bit data size can say:
// the size reads 0xFFFFFFFF ("to the end of the file"), and readers that
// stop at 4 GiB see only part of the samples.
#define WavFlagBeyond32 0x40000000u
// Sony Wave64: GUID chunk ids, 64-bit sizes, no 4 GiB limit.
#define WavFlagWave64 0x10000000u
// RF64's layout under the id BW64 (set with WavFlagRf64): it keeps that id
// and its ds64 chunk whatever its sizes.
#define WavFlagBw64 0x08000000u

// Results of WavStream_Open.
enum {
    WavOpenOk = 0,           // the data chunk was found; the stream is open
    WavOpenNoStream = 1,     // stream is null
    WavOpenCannotOpen = 2,   // File_Open failed (or the path is too long); handle -1
    WavOpenNotWave = 3,      // no RIFF/RF64/BW64 WAVE or Wave64 header, or the ds64 chunk cannot be read
    WavOpenNoData = 4,       // no data chunk, short fmt, unreadable fmt/bext body, blockAlign 0
    WavOpenUnknownSize = 5,  // an unknown chunk declares the size 0xFFFFFFFF
    WavOpenNoDs64 = 6,       // an RF64 or BW64 file whose first chunk is not ds64
    WavOpenNoChannels = 7,   // a fmt chunk declares 0 channels
};

#pragma pack(push, 1)
// In-memory copy of a bext chunk body, byte for byte (4698 bytes).
typedef struct BextRecord {
    char description[256];         // body offset 0
    char originator[32];           // body offset 256
    char originatorReference[32];  // body offset 288
    char originationDate[10];      // body offset 320
    char originationTime[8];       // body offset 330
    uint32_t timeReferenceLow;     // body offset 338, little-endian
    uint32_t timeReferenceHigh;    // body offset 342, little-endian
    uint16_t version;              // body offset 346, little-endian
    uint8_t umid[64];              // body offset 348
    uint8_t reserved[190];         // body offset 412
    char codingHistory[4096];      // body offset 602
} BextRecord;
#pragma pack(pop)

struct WavStream;

// Transfer slots (filled by a successful open).
typedef int32_t (*WavReadFramesFn)(struct WavStream* stream, void* buffer, uint32_t byteCount, int forward);
typedef int32_t (*WavWriteBytesFn)(struct WavStream* stream, void* buffer, uint32_t byteCount);

typedef struct WavStream {
    char path[StreamPathCapacity];  // the path given to the open, NUL-terminated
    FileHandle handle;              // the open file; FileHandleNone when not open
    uint16_t formatTag;             // fmt format tag as stored (1 PCM, 3 float, 0xFFFE extensible)
    uint16_t channels;              // channel count, never 0 after a successful open
    uint32_t sampleRate;            // frames per second
    uint32_t bytesPerSecond;        // average bytes per second as the fmt chunk states it
    uint16_t blockAlign;            // bytes per frame, all channels; never 0 after a successful open
    uint16_t bitsPerSample;         // bits per sample (derived from blockAlign when fmt says 0)
    uint16_t extraFormatBytes;      // always 0: fmt bytes beyond 16 are skipped
    uint32_t dataOffset;            // file offset of the first sample byte; 0 when none/closed
    int64_t dataBytes;              // sample data length as declared (as recomputed after a repair)
    int64_t frameCount;             // dataBytes / blockAlign, rounded down
    int64_t readPos;                // frame index of the next read; may leave 0..frameCount
    int64_t writePos;               // frame index of the next write
    int64_t fileSize;               // file length measured at open; 0 when unknown
    FileStamp examined;             // fileSize and the time of last change, as measured at open
    int32_t headerDirty;            // 1 when the header must be rewritten at close
    WavReadFramesFn readFrames;     // WavStream_ReadFrames after a successful open
    WavWriteBytesFn writeBytes;     // WavStream_WriteBytes after a successful open
    BextRecord bext;                // Broadcast Wave description; zero without bext
    uint32_t bextOffset;            // file offset of the bext body
    uint32_t bextLength;            // bext body bytes read: the chunk size, at most 4700
    uint32_t flags;                 // WavFlagBext, WavFlagRf64, WavFlagBw64, WavFlagWave64, WavFlagBeyond32
    int32_t filePosState;           // 1: the OS file pointer is at frame readPos; 0: unknown
    uint32_t ds64Size;              // declared size of the ds64 chunk body (RF64 and BW64 only)
    uint32_t junkSize;              // body size of a JUNK chunk right after the file header; 0 if none
    uint32_t factOffset;            // file offset of a fact chunk's sample count; 0 if none
    uint32_t factFrames;            // the fact chunk's sample count as read (0xFFFFFFFF where larger)
    uint32_t factBytes;             // width of that count: 4, or 8 in a Wave64 fact body of 8 bytes
    uint16_t formatBits;            // bitsPerSample as the fmt chunk states it (0: not stated)
    uint16_t encodingTag;           // formatTag, or for an extensible fmt the tag of its sub-format
    int64_t samplesEnd;             // where the samples end when a repair keeps what follows them (set by
                                    // SoundFile_Examine); 0: at the end of the file
    int32_t tailKind;               // StreamTail*: what follows samplesEnd
    StreamRefusal refusal;          // why the open refused the file
} WavStream;

#ifdef __cplusplus
extern "C" {
#endif

// Opens path and walks the chunks to the data chunk; see the WavOpen* results.
// The form is taken from the file's first bytes, whatever its name.
// openFlag: bit 0x01 read and write (never creates a file), else bit 0x20
// read-only shared, else read-only exclusive; bit 0x100: no samples will be
// read, so the pointer is not moved to the first one. After results 3 to 7 the file is
// still open and the caller closes it with WavStream_Close.
int32_t WavStream_Open(WavStream* stream, const char* path, int32_t openFlag);

// The chunk rules of the open stream's form (Wave64's or RIFF's).
const struct ChunkRules* WavStream_ChunkRules(const WavStream* stream);

// Recomputes frameCount and dataBytes from fileSize (or samplesEnd, which
// the repair then neither cuts nor pads: the chunks behind it stay, and the
// close writes the header), writes the header block
// for them (and the data size too where it does not grow), cuts the file
// after the last whole frame and marks the header dirty, in the order
// commit.h states. Returns 0, or StreamResultIoFailed when a write, the move
// or the cut failed (the header is then not marked dirty, and the data size
// still sends the next scan to the repair), or when fileSize is below
// dataOffset or another program changed the file since it was measured
// (File_Unchanged; nothing changed).
int32_t WavStream_Repair(WavStream* stream);

// The length WavStream_Repair cuts the file to (it pads nothing); -1 when it
// would change nothing.
int64_t WavStream_RepairKeepBytes(const WavStream* stream);

// The header bytes WavStream_Repair and the close after it write, into
// changes (StreamChangeCapacity of them). Their count, or -1 when the
// repair would change nothing.
int32_t WavStream_RepairChanges(const WavStream* stream, StreamChange* changes);

// Rewrites the RIFF/RF64/BW64 block (Wave64: the riff size) and the data
// size of a dirty stream, then flushes. Returns -1 for a null stream, StreamResultIoFailed when a move,
// write or the flush failed, else 0.
int32_t WavStream_UpdateHeader(WavStream* stream);

// Updates the header, closes the file; handle becomes FileHandleNone and
// dataOffset 0. Returns 0, or StreamResultIoFailed when the header update,
// the flush or the close failed. A second close does nothing and returns 0.
int32_t WavStream_Close(WavStream* stream);

// What follows the declared sample data, a ChunkFollow* value (see
// Chunk_FollowsAt): metadata chunks that a repair must not turn into
// samples, the pad byte alone, or nothing of the kind (also when nothing
// follows the declared data). StreamResultIoFailed when a move or read
// failed before it could tell.
int32_t WavStream_HasChunkTrailer(WavStream* stream);

// Sample transfer (the readFrames slot): reads the whole frames that fit in
// byteCount from readPos, forward (forward nonzero) or backward, and moves
// readPos by their number. Frames before the first or behind the last read
// as silence (0x80 for 8-bit samples, else 0); a backward read hands them
// over last frame first. The bytes of a partial frame at the buffer's end
// are left untouched. Results: 0 done, also when nothing was done (no file
// open, byteCount below one frame); 14 the move failed, or the position
// cannot be formed in 64 bits; 15 the read failed or the file ended early,
// or blockAlign is 0 (nothing done); -1 no stream, or no buffer. On 14 and
// 15 readPos is unchanged and leading silence may already be in the buffer.
int32_t WavStream_ReadFrames(WavStream* stream, void* buffer, uint32_t byteCount, int forward);
// Sample transfer (the writeBytes slot): writes the whole frames that fit in
// byteCount at writePos and moves writePos past them; a write beyond
// frameCount raises frameCount and dataBytes and marks the header dirty (the
// close writes it). Results: 0 done (nothing is written for a byteCount
// below one frame); 12 no file open, blockAlign 0, or the write failed;
// 14 writePos is negative or the move failed; 20 the write would end beyond
// file offset 0x7FFFFFFF (not for RF64) or beyond 64 bits; -1 no stream, or
// no buffer. On a failure positions and sizes are unchanged.
int32_t WavStream_WriteBytes(WavStream* stream, void* buffer, uint32_t byteCount);

#ifdef __cplusplus
}
#endif

#endif
