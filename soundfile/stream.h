// What the WAV (with RF64, BW64 and Wave64) and AIFF streams share: the path buffer, the result of a
// failed repair or close, the sample transfer results and the open prologue.
#ifndef TESSMARK_STREAM_H
#define TESSMARK_STREAM_H

#include <stdint.h>

#include "fileio.h"

// Capacity of a stream's path buffer, terminator included.
#define StreamPathCapacity 1096

// Result of a repair or close that met an I/O failure (the file may need a
// second scan; it was never reported as repaired).
#define StreamResultIoFailed 30

// Why a file is not examined, or how its header falls short: the facts a
// verdict gives (see SoundFile_Examine); the words for them belong to
// whoever tells the user.
enum {
    SoundReasonNone = 0,
    // How a header falls short.
    SoundReasonNotSet = 1,       // it declares no sample data
    SoundReasonPlaceholder = 2,  // its size is a writer's "not yet known" value the file does not reach
    SoundReasonMissing = 3,      // it declares fewer bytes than the samples hold
    // Why a file is refused. value, pos and bytes as each names.
    SoundReasonCannotOpen = 10,      // value: the FileOpenFail* the open met (0: the path is too long)
    SoundReasonEmpty = 11,           // 0 bytes
    SoundReasonNotContainer = 12,    // bytes: the first value (up to 4) bytes are no RIFF, RF64, BW64,
                                     // Wave64 riff or FORM
    SoundReasonWrongForm = 13,       // bytes: a form type other than WAVE (RIFF, Wave64's wave) or AIFF/AIFC
    SoundReasonNoDs64 = 14,          // an RF64 or BW64 file whose first chunk is not ds64
    SoundReasonNoFormat = 15,        // no fmt (COMM) chunk before the samples; pos: where the samples begin
    SoundReasonFormatShort = 16,     // the fmt (COMM) chunk declares value bytes, too few
    SoundReasonNoChannels = 17,      // the format declares no channel
    SoundReasonNoFrameSize = 18,     // the format gives no usable frame size; value: the sample size
    // No chunk named sought (data, COMM, SSND) was found:
    SoundReasonNoDataEnd = 19,       // the chunks end at pos, the end of the file
    SoundReasonNoDataZeros = 20,     // zeros from pos on
    SoundReasonNoDataId = 21,        // bytes at pos are no chunk id a writer makes
    SoundReasonNoDataPast = 22,      // chunk bytes at pos (value bytes long) runs past the end of the file
    SoundReasonUnknownSize = 23,     // chunk bytes at pos declares the size 0xFFFFFFFF
    SoundReasonSamplesFields = 24,   // the SSND chunk at pos ends before its offset and block size fields
    SoundReasonCompressed = 25,      // value: the format tag, or bytes: the AIFF-C compression type
    SoundReasonTooFar = 26,          // a chunk needed lies beyond 4 GiB (pos)
    SoundReasonReadFailed = 27,      // a read failed at pos: the disk, not the file
    SoundReasonTruncated = 28,       // only value bytes: too few for a file header
    SoundReasonChunkSize = 29,       // chunk bytes at pos declares a size below its own header (Wave64)
};

// What follows the samples a repair declares without cutting the file
// (WavStream.tailKind, AiffStream.tailKind).
enum {
    StreamTailCut = 0,       // nothing kept: a partial last frame is cut
    StreamTailMetadata = 1,  // metadata chunks, kept; the container's size covers them
    StreamTailGrowing = 2,   // a partial last frame of a take that may still grow: kept, outside the
                             // container's size, for the recorder's next write to complete
};

// The containers; SoundFileVerdict.container.
enum {
    SoundContainerNone = 0,  // not known
    SoundContainerWav = 1,
    SoundContainerRf64 = 2,
    SoundContainerAiff = 3,
    SoundContainerAifc = 4,
    SoundContainerWave64 = 5,  // Sony Wave64
    SoundContainerBw64 = 6,    // RF64's sizes under the id BW64 (ADM, broadcast archives)
};

// What a reader met where it refused a file (SoundReason* and its facts).
typedef struct StreamRefusal {
    int32_t reason;     // SoundReason*, 0 when not refused
    int32_t container;  // SoundContainer*: the family of the reader that refused it
    uint32_t value;     // a size, a count or a tag, as the reason says
    uint64_t pos;       // a file offset, as the reason says
    uint8_t bytes[4];   // an id or the file's first bytes, as the reason says
    uint8_t sought[4];  // the chunk a walk looked for (SoundReasonNoData*)
} StreamRefusal;

// Bytes a repair writes into a header: the new bytes at pos, or, with zeros
// set, length zero bytes (a filler longer than bytes holds).
#define StreamChangeBytes 48
typedef struct StreamChange {
    int64_t pos;
    uint32_t length;
    int32_t zeros;
    uint8_t bytes[StreamChangeBytes];
} StreamChange;

// Most changes one repair writes.
#define StreamChangeCapacity 8

// Results of the sample transfer operations.
enum {
    TransferOk = 0,
    TransferWriteFailed = 12,  // no file open, or the write failed
    TransferSeekFailed = 14,   // the move of the file pointer failed
    TransferReadFailed = 15,   // the read failed or the file ended early
    TransferTooLarge = 20,     // the write would end beyond 0x7FFFFFFF
};

#ifdef __cplusplus
extern "C" {
#endif

// Copies path into pathBuffer (StreamPathCapacity bytes) and opens it in the
// mode openFlag asks for: bit 0x01 read and write (never creates a file),
// else bit 0x20 read-only shared, else read-only exclusive. Returns 1 with
// *handle open, or 0 with *handle FileHandleNone: no path, a path too long
// for the buffer (refused rather than cut: a cut path names another file),
// or the system refused the file (*refusal says which). *measured gets the
// length and time of last change the open measured (File_OpenMeasured;
// zeroed when it could not).
int Stream_OpenFile(char* pathBuffer, const char* path, int32_t openFlag, FileHandle* handle, FileStamp* measured,
                    StreamRefusal* refusal);

// Records why a reader refuses the file and returns result, so that a
// refusal reads "return Stream_Refuse(...)". id may be null.
int32_t Stream_Refuse(StreamRefusal* refusal, int32_t result, int32_t reason, uint64_t pos, uint32_t value,
                      const uint8_t* id);

#ifdef __cplusplus
}
#endif

#endif
