// What the command-line scanner needs of the operating system besides the
// scan: hearing Ctrl-C, telling why a folder could not be listed, and
// whether output goes to a terminal.
#ifndef TESSMARK_CLIPLATFORM_H
#define TESSMARK_CLIPLATFORM_H

#include <stdint.h>
#include <stdio.h>

#include "fileio.h"

// Has onInterrupt called on Ctrl-C or Ctrl-Break (and, on POSIX, SIGTERM and
// SIGHUP), from a signal handler or the console's own thread, so it may only
// set flags. On POSIX a second signal then ends the program at once. 0.
int32_t CliPlatform_CatchInterrupts(void (*onInterrupt)(void));

// A write into a closed pipe fails (EPIPE) rather than end the program, on
// POSIX by SIGPIPE, which would come whatever thread was in the middle of a
// repair: the failure is then said and the scan stopped between files. 0.
int32_t CliPlatform_KeepBrokenPipes(void);

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

#endif
