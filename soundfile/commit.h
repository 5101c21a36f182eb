// The order in which a repair changes a file. A process can die, a card be
// pulled or a disk fill up between any two writes; the rules below keep
// every such file one that the next scan completes. Both writers go
// through Commit_Header, which enforces them.
//
//   C1. A scan repairs a file whose header declares fewer sample bytes than
//       the file holds, and it believes one field for what is declared: the
//       data chunk's size (WAV) or COMM's frame count (AIFF). That field is
//       written last, once every other header field is written and flushed.
//       Until then the old, smaller value sends the next scan back to the
//       repair, which writes every field again.
//   C2. A repair writes and flushes the other size fields for the new
//       length before it cuts the file after the last whole frame. From the
//       cut on, the file may look complete to a scan: the bytes behind the
//       declared samples can be what was all along a chunk, or nothing at
//       all where the cut removed less than a frame. Where the trusted field
//       does not grow (every whole frame was declared, or a WAV data size
//       declared past the last whole frame), it is written before the cut as
//       well, and the cut is the last step; otherwise the close writes it.
//   C3. Whatever follows the last field (AIFF's zero padding to the SSND
//       block size, and the FORM size that then covers it) leaves a file a
//       scan takes as complete at every point: zeros up to the block size
//       read as padding, and the FORM size already written covers the
//       samples.
//   C4. An undo puts the bytes a repair removed back behind the kept ones
//       (over any padding, which it then cuts) and flushes them before it
//       writes the old header back, and flushes that. Stopped in between,
//       the file holds every original byte under the repaired header: the
//       undo, run again, knows it by its length and finishes it.
#ifndef TESSMARK_COMMIT_H
#define TESSMARK_COMMIT_H

#include <stdint.h>

#include "fileio.h"
#include "stream.h"

// Bytes at a file offset.
typedef struct HeaderField {
    int64_t pos;
    const uint8_t* bytes;
    uint32_t length;
} HeaderField;

#ifdef __cplusplus
extern "C" {
#endif

// Writes the count fields in order and flushes them (when there are any),
// then writes last and flushes again (C1). 1 on success; 0 at the first failure, with nothing after it
// written.
int Commit_Header(FileHandle handle, const HeaderField* fields, uint32_t count, const HeaderField* last);

// A repair's cut in the order C2 asks for: the count fields, a flush, then
// last (when given) and a flush, then the cut at cutAt. Right before the cut
// the file must still be as long as examined says, and no other program may
// have opened it (File_Unchanged): frames a recorder appended since the
// examination would be cut off with the partial frame. No cut at all when
// cutAt is the length examined. 1 on success; 0 at the first failure or
// refusal, with nothing after it done.
int Commit_Cut(FileHandle handle, const HeaderField* fields, uint32_t count, const HeaderField* last, int64_t cutAt,
               const FileStamp* examined);

// An undo's writes in the order C4 asks for: tail (the removed bytes), the
// cut at cutAt (none when below 0), a flush, then header and a flush. 1 on
// success; 0 at the first failure, with nothing after it done.
int Commit_Restore(FileHandle handle, const HeaderField* tail, int64_t cutAt, const HeaderField* header);

// Appends the count fields to changes from at (StreamChangeCapacity in
// all; a field longer than a change holds is left out); the new count.
uint32_t Commit_Describe(const HeaderField* fields, uint32_t count, StreamChange* changes, uint32_t at);

// Writes count zero bytes at the file pointer. 1 on success.
int Commit_Zeros(FileHandle handle, uint64_t count);

#ifdef __cplusplus
}
#endif

#endif
