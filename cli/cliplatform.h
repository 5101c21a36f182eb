// What the command-line scanner needs of the operating system besides the
// scan: hearing Ctrl-C, telling why a folder could not be listed, and the
// identity and times of an open file for the undo journal.
#ifndef TESSMARK_CLIPLATFORM_H
#define TESSMARK_CLIPLATFORM_H

#include <stdint.h>
#include <stdio.h>

#include "fileio.h"

// Has onInterrupt called on Ctrl-C or Ctrl-Break (and, on POSIX, SIGTERM and
// SIGHUP), from a signal handler or the console's own thread, so it may only
// set flags. On POSIX a second signal then ends the program at once. 0.
int32_t CliPlatform_CatchInterrupts(void (*onInterrupt)(void));

// Makes *argv UTF-8, the text of the whole program: on Windows where the
// active code page is not UTF-8 it is rebuilt from the UTF-16 command line,
// and the console is told that the output is UTF-8. 0; -1 when the
// arguments could not be turned (they are then left as they were).
int32_t CliPlatform_Utf8Arguments(int* argc, char*** argv);

// Why DirListing_Open refused a folder, given the errno it left; null where
// the platform's listing sets no errno (Win32).
const char* CliPlatform_ListFailure(int error);

// 1 when stream is a terminal (a console on Windows): its lines are then
// flushed one by one, for a person to follow; a pipe or a file gets them in
// blocks.
int32_t CliPlatform_IsTerminal(FILE* stream);

// Which file an open handle is and how it stands.
typedef struct CliFileStamp {
    uint64_t device;   // st_dev; on Windows the volume serial number
    uint64_t inode;    // st_ino; on Windows the file index
    int64_t size;      // bytes
    int64_t mtimeNs;   // last modification, nanoseconds since 1970 (Windows: to 100 ns)
} CliFileStamp;

// Fills stamp for handle. 0, or -1 when the system cannot tell.
int32_t CliPlatform_Stamp(FileHandle handle, CliFileStamp* stamp);

// Sets the modification time of handle (the access time stays). 0 or -1.
int32_t CliPlatform_SetModified(FileHandle handle, int64_t mtimeNs);

#endif
