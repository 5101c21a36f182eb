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
//   C2. Whatever follows the last field (AIFF's zero padding to the SSND
//       block size, and the FORM size that then covers it) leaves a file a
//       scan takes as complete at every point: zeros up to the block size
//       read as padding, and the FORM size already written covers the
//       samples.
#ifndef TESSMARK_COMMIT_H
#define TESSMARK_COMMIT_H

#include <stdint.h>

#include "fileio.h"

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

// Writes count zero bytes at the file pointer. 1 on success.
int Commit_Zeros(FileHandle handle, uint64_t count);

#ifdef __cplusplus
}
#endif

#endif
