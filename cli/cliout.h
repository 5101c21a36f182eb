// The numbered lines and the notes on standard error, as every mode of
// tessmark prints them.
#ifndef TESSMARK_CLIOUT_H
#define TESSMARK_CLIOUT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

typedef struct CliOut {
    FILE* human;         // the numbered lines: stdout, or stderr under --json
    int32_t stdoutLive;  // standard output is a terminal: each line flushed at once
    int32_t lineNumber;  // the number of the last line printed
} CliOut;

// Appends text to out from at, the control characters of odd file names
// (C0, DEL and C1, in UTF-8 or as bare bytes) shown as '?' so that they
// cannot drive the terminal; returns the new length.
size_t CliOut_Shown(char* out, size_t at, size_t capacity, const char* text);

// Prints one line with the next number, "#0001 " and on.
void CliOut_Line(CliOut* out, const char* line);

// Prints "tessmark: NAME: TEXT" on standard error, after what standard
// output holds.
void CliOut_Note(const char* name, const char* text);

// Called once, on the first write to standard output or error that fails
// (a full disk, a closed pipe): a scan stops after the files in hand rather
// than go on unheard.
void CliOut_OnFailure(void (*stop)(void));

// Notes whether a write to stream has failed (ferror); 1 once any has.
int32_t CliOut_Check(FILE* stream);

// Flushes standard output and returns status, or ExitOutputFailed after
// naming the first failed write and its cause on standard error (when that
// can still be written); after says what became of the work.
int CliOut_Finish(int status, const char* after);

#endif
