// What the WAV and AIFF streams share: the path buffer, the result of a
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
// or the system refused the file. *measured gets the length and time of
// last change the open measured (File_OpenMeasured; zeroed when it could not).
int Stream_OpenFile(char* pathBuffer, const char* path, int32_t openFlag, FileHandle* handle, FileStamp* measured);

#ifdef __cplusplus
}
#endif

#endif
