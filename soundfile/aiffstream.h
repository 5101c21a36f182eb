// AIFF streams: the reader, the header update and repair, and the sample
// transfer of one open AIFF file.
#ifndef TESSMARK_AIFFSTREAM_H
#define TESSMARK_AIFFSTREAM_H

#include <stdint.h>

#include "fileio.h"
#include "stream.h"

// Results of AiffStream_Open.
enum {
    AiffOpenOk = 0,            // the stream is open and filled
    AiffOpenNoStream = 1,      // no stream given
    AiffOpenCannotOpen = 2,    // File_Open failed (or the path is too long)
    AiffOpenNotAiff = 3,       // not "FORM" .... "AIFF" or "AIFC"
    AiffOpenNoFormat = 4,      // header unreadable, COMM/SSND missing, COMM not 18 bytes (AIFF-C: under 22),
                               // blockAlign 0
    AiffOpenNoData = 5,        // SSND's offset and blockSize fields not in the file
    AiffOpenNoChannels = 6,    // numChannels below 1
    AiffOpenCompressed = 7,    // AIFF-C whose compressionType is no fixed-size sample encoding read here
};

// Bit of AiffStream.flags and SoundFileInfo.flags: the file is AIFF-C.
#define AiffFlagAifc 0x20000000u

// Byte order of AIFF samples in the file.
enum {
    AiffOrderBig = 0,     // big-endian (AIFF, and AIFF-C 'NONE', 'twos', 'in24', 'in32', 'fl32', 'fl64')
    AiffOrderLittle = 1,  // little-endian (AIFF-C 'sowt')
};

struct AiffStream;

typedef int32_t (*AiffReadFramesFn)(struct AiffStream* stream, void* buffer, uint32_t byteCount, int forward);
typedef int32_t (*AiffWriteBytesFn)(struct AiffStream* stream, void* buffer, uint32_t byteCount);

typedef struct AiffStream {
    char path[StreamPathCapacity];  // the path given to the open, NUL-terminated
    FileHandle handle;              // the open file; FileHandleNone when not open
    uint16_t formatTag;             // always 1 (integer samples)
    uint16_t channels;              // numChannels, 1 to 32767 after a successful open
    uint32_t sampleRate;            // low 32 bits of the truncated rate
    uint32_t bytesPerSecond;        // blockAlign * sampleRate, modulo 2^32
    uint16_t blockAlign;            // channels * whole bytes per sample; never 0 after open
    uint16_t bitsPerSample;         // sampleSize
    uint16_t extraFormatBytes;      // always 0
    uint32_t commSampleFrames;      // numSampleFrames as read (kept equal to frameCount by writes)
    int16_t commSampleSize;         // sampleSize as read
    uint8_t commSampleRate[10];     // the 80-bit sample rate bytes as stored
    double sampleRateDouble;        // the sample rate decoded
    uint32_t ssndOffset;            // SSND offset field
    uint32_t ssndBlockSize;         // SSND blockSize field
    uint32_t dataOffset;            // file offset of the first sample byte
    uint32_t commOffset;            // file offset of the COMM body
    int64_t dataBytes;              // sample bytes the header declares (frames * blockAlign)
    int64_t frameCount;             // sample frames the header declares
    int64_t readPos;                // next frame to read
    int64_t writePos;               // next frame to write
    int64_t fileSize;               // file length measured at open
    FileStamp examined;             // fileSize and the time of last change, as measured at open
    int32_t headerDirty;            // 1 when the header sizes must be rewritten
    AiffReadFramesFn readFrames;    // AiffStream_ReadFrames after a successful open
    AiffWriteBytesFn writeBytes;    // AiffStream_WriteBytes after a successful open
    int32_t filePosState;           // 1: the OS file pointer is where the next forward read begins
    uint32_t ssndChunkSize;         // SSND ckSize as read
    uint32_t flags;                 // AiffFlagAifc
    uint8_t compressionType[4];     // AIFF-C compressionType as read; zero for AIFF
    int32_t sampleOrder;            // AiffOrder*
    int32_t sampleEncoding;         // as SoundFileInfo.sampleEncoding: 0 integer, 1 unsigned 8-bit, 2 float
    int64_t dataEnd;                // where the samples the file holds end: fileSize, or the end of an SSND
                                    // chunk that well-formed chunks follow (as whole frames); SoundFile_Examine
                                    // sets it where it finds metadata behind samples of unknown length
    int64_t ssndEnd;                // where the SSND chunk ends when dataEnd is before the end of the file
    int32_t tailKind;               // StreamTail*: what follows dataEnd
    StreamRefusal refusal;          // why the open refused the file
} AiffStream;

#ifdef __cplusplus
extern "C" {
#endif

// Opens path (see the AiffOpen* results); openFlag as for WavStream_Open.
// AIFF-C files open when their compressionType is a fixed-size sample
// encoding: 'NONE', 'twos', 'sowt', 'raw ', 'in24', 'in32', 'fl32'/'FL32',
// 'fl64'/'FL64'; the frame size comes from it. An SSND ckSize below 8 (a
// recorder that never wrote it) opens where its offset and blockSize fields
// are in the file.
int32_t AiffStream_Open(AiffStream* stream, const char* path, int32_t openFlag);

// 80-bit IEEE extended (big-endian, as stored) to double.
double Extended80_ToDouble(const uint8_t* bytes);

// Recomputes the frame count from dataEnd, writes FORM and SSND sizes for it
// (and the count too where it does not grow), cuts the file after the last
// whole frame and marks the header dirty, in the order commit.h states. With
// chunks behind SSND (dataEnd before the end of the file) nothing is cut or
// written until the close. Returns 0, or StreamResultIoFailed when the data
// would not fit AIFF's 32-bit sizes, fileSize is below dataOffset, another
// program changed the file since it was measured (File_Unchanged), or a
// write, the move or the cut failed (nothing is then marked dirty).
int32_t AiffStream_Repair(AiffStream* stream);

// The length AiffStream_Repair cuts the file to and the zero bytes the close
// then appends; -1 when the repair would change nothing.
int64_t AiffStream_RepairKeepBytes(const AiffStream* stream, int64_t* padBytesOut);

// The header bytes AiffStream_Repair and the close after it write, into
// changes (StreamChangeCapacity of them): the FORM size twice where the
// close pads. Their count, or -1 when the repair would change nothing.
int32_t AiffStream_RepairChanges(const AiffStream* stream, StreamChange* changes);

// Rewrites FORM size, numSampleFrames and SSND size of a dirty stream, pads
// to the SSND block size, flushes. -1 for no stream, StreamResultIoFailed on
// an I/O failure, else 0.
int32_t AiffStream_UpdateHeader(AiffStream* stream);

// Updates the header and closes; handle becomes FileHandleNone. Returns 0 or
// StreamResultIoFailed.
int32_t AiffStream_Close(AiffStream* stream);

// What follows the declared sample data (a ChunkFollow* value): chunks when,
// behind zero block padding or the SSND pad byte, metadata chunks follow
// (Chunk_FollowsAt); padding when only zeros or the pad byte reach the end;
// nothing otherwise (also when nothing follows). StreamResultIoFailed when a
// move or read failed before it could tell.
int32_t AiffStream_HasChunkTrailer(AiffStream* stream);

// Sample transfer (the readFrames slot), as WavStream_ReadFrames: silence is
// 0, and the big-endian samples arrive turned to host order. Result 15
// (nothing done) also when blockAlign is not channels times a whole number
// of bytes per sample.
int32_t AiffStream_ReadFrames(AiffStream* stream, void* buffer, uint32_t byteCount, int forward);
// Sample transfer (the writeBytes slot), as WavStream_WriteBytes: the end
// limit 0x7FFFFFFF always holds; the caller's samples are turned big-endian
// in its buffer before the write and stay so, also when the write then
// fails; commSampleFrames follows frameCount. Result 12 (nothing done) also
// when blockAlign is not channels times a whole number of bytes per sample.
int32_t AiffStream_WriteBytes(AiffStream* stream, void* buffer, uint32_t byteCount);

#ifdef __cplusplus
}
#endif

#endif
