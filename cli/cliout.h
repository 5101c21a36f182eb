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

// Appends text to out from at, control characters of odd file names shown
// as '?' so that they cannot drive the terminal; returns the new length.
size_t CliOut_Shown(char* out, size_t at, size_t capacity, const char* text);

// Prints one line with the next number, "#0001 " and on.
void CliOut_Line(CliOut* out, const char* line);

// Prints "tessmark: NAME: TEXT" on standard error, after what standard
// output holds.
void CliOut_Note(const char* name, const char* text);

#endif
