// The message log: a fixed-capacity text of numbered lines (and unnumbered
// ones between them), appended by the scan worker and taken by the window's
// refresh timer.
#ifndef TESSMARK_LOGBUFFER_H
#define TESSMARK_LOGBUFFER_H

#include <stdint.h>

// Bytes behind the capacity for the line number prefix, the line end, the
// NUL and the out-of-room message: the text never grows past capacity + this.
#define LogBufferSlack 512

typedef struct LogBuffer {
    int32_t capacity;          // characters of text accepted, not counting the slack
    char* text;                // capacity + LogBufferSlack bytes: the NUL-terminated text
    int32_t used;              // characters of text held; the next line starts here
    int32_t changed;           // 1 when the text changed since it was last taken
    int32_t lineCount;         // numbered lines appended since the last reset
    int32_t overflowReported;  // 1 once the out-of-room message was written
    int32_t keptLength;        // characters at the start unchanged since the text was last taken
    int32_t lockReady;         // 1 while lockStorage holds an initialised lock
    uint64_t lockStorage[16];  // the platform mutex guarding append against take
} LogBuffer;

#ifdef __cplusplus
extern "C" {
#endif

// Allocates capacity + LogBufferSlack bytes, sets up the lock and empties the buffer.
// The record must be all zero (as the application starts it) or freed. 0, or
// -1 when the block cannot be had, for a negative capacity or a null record
// (the record is then zero apart from capacity: appends give -2).
int32_t LogBuffer_Init(LogBuffer* log, int32_t capacity);
// Empties the buffer, restarting the numbers. 0; -2 without a block.
int32_t LogBuffer_Reset(LogBuffer* log);
// Appends "#%04i line\r\n". 0; -1 when it does not fit; -2 without a block.
int32_t LogBuffer_AppendLine(LogBuffer* log, const char* line);
// Appends "line\r\n" without a number; the next numbered line takes the
// number it would have had. Returns as LogBuffer_AppendLine.
int32_t LogBuffer_AppendUnnumbered(LogBuffer* log, const char* line);
// The text when it changed since the last take (change mark cleared), else
// null. The pointer is the buffer's own text, unguarded once returned: a
// reader on another thread than the appender uses LogBuffer_UseIfChanged.
const char* LogBuffer_TakeIfChanged(LogBuffer* log);
// When the text changed since the last take: clears the mark and calls
// use(text, context) with the lock held, so no append runs meanwhile (use
// must copy what it keeps and must not append). Returns 1 when use was
// called, 0 when unchanged, -1 for a null record.
int32_t LogBuffer_UseIfChanged(LogBuffer* log, void (*use)(const char* text, void* context), void* context);
// When the text changed since the last take: as LogBuffer_UseIfChanged, and
// use(text, length, kept, context) also learns the text's length and how
// many characters at its start are those the last take handed out (all of
// them when the log only grew since; fewer after a reset, or after a line
// that fits took the out-of-room message's place). A reader that holds the
// text of the last take needs only text + kept, unless kept falls short of
// what it holds. Returns as LogBuffer_UseIfChanged.
int32_t LogBuffer_UseChanges(LogBuffer* log,
                             void (*use)(const char* text, int32_t length, int32_t kept, void* context),
                             void* context);
// Frees the block and zeroes the record. 0.
int32_t LogBuffer_Free(LogBuffer* log);

#ifdef __cplusplus
}
#endif

#endif
