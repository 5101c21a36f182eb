// The message log. The worker appends while the window thread takes; a mutex
// kept inside the record makes each append and each take (with the caller's
// use of the text, in LogBuffer_UseIfChanged) one step for the other thread.
#include "logbuffer.h"

#include "fileio.h"
#include "loglock.h"
#include "texts.h"

#include <stdio.h>
#include <string.h>

// A record that was never initialised has no lock and no text; nothing runs
// on it but the -2 and null answers, so it needs no exclusion.
static void lockTake(LogBuffer* log)
{
    if (log->lockReady)
        LogLock_Hold(log, 1);
}

static void lockGive(LogBuffer* log)
{
    if (log->lockReady)
        LogLock_Hold(log, 0);
}

static void lockDestroy(LogBuffer* log)
{
    if (!log->lockReady)
        return;
    LogLock_Destroy(log);
    log->lockReady = 0;
}

static void resetLocked(LogBuffer* log)
{
    log->used = 0;
    log->changed = 0;
    log->overflowReported = 0;
    log->lineCount = 0;
    log->keptLength = 0;
    if (log->text != nullptr)
        Mem_Zero(log->text, static_cast<uint32_t>(log->capacity) + LogBufferSlack);
}

// The out-of-room message stands behind used; it is part of the text.
static int32_t textLength(const LogBuffer* log)
{
    return log->used + static_cast<int32_t>(strnlen(log->text + log->used, LogBufferSlack));
}

// Every take, whichever function makes it, is the reference for the next.
static void markTaken(LogBuffer* log)
{
    log->changed = 0;
    log->keptLength = textLength(log);
}

// Called before anything is written at used.
static void markWriteAtUsed(LogBuffer* log)
{
    if (log->keptLength > log->used)
        log->keptLength = log->used;
}

int32_t LogBuffer_Init(LogBuffer* log, int32_t capacity)
{
    if (log == nullptr)
        return -1;
    Mem_Zero(log, sizeof(*log));
    log->capacity = capacity;
    if (capacity < 0)
        return -1;
    log->text = static_cast<char*>(Mem_Alloc(static_cast<uint32_t>(capacity) + LogBufferSlack));
    if (log->text == nullptr)
        return -1;
    LogLock_Init(log);
    log->lockReady = 1;
    resetLocked(log);
    return 0;
}

int32_t LogBuffer_Reset(LogBuffer* log)
{
    if (log == nullptr)
        return -1;
    lockTake(log);
    resetLocked(log);
    int32_t result = (log->text == nullptr) ? -2 : 0;
    lockGive(log);
    return result;
}

// Appends line, with the next number when numbered, under the lock.
static int32_t appendLine(LogBuffer* log, const char* line, int numbered)
{
    if (log == nullptr)
        return -1;
    if (line == nullptr)
        line = "";
    lockTake(log);
    if (log->text == nullptr) {
        lockGive(log);
        return -2;
    }
    const int64_t blockSize = static_cast<int64_t>(log->capacity) + LogBufferSlack;
    const int64_t n = static_cast<int64_t>(strlen(line));
    if (n > static_cast<int64_t>(log->capacity) - log->used) {
        if (!log->overflowReported) {
            markWriteAtUsed(log);
            snprintf(log->text + log->used, static_cast<size_t>(blockSize - log->used),
                     TextLogFull, static_cast<int>(log->used),
                     static_cast<int>(log->capacity));
            log->overflowReported = 1;
            log->changed = 1;
        }
        lockGive(log);
        return -1;
    }
    markWriteAtUsed(log);
    char* at = log->text + log->used;
    // The room test leaves the prefix, the line end and the NUL to the slack.
    int prefix = 0;
    if (numbered) {
        log->lineCount += 1;
        prefix = snprintf(at, static_cast<size_t>(blockSize - log->used), TextLineNumber,
                          static_cast<int>(log->lineCount));
    }
    memcpy(at + prefix, line, static_cast<size_t>(n));
    const int32_t written = prefix + static_cast<int32_t>(n);
    log->used += written;
    // Only this line's characters tell whether it has its end: the end of
    // the line before must not stand in for that of an empty one.
    char last = written >= 1 ? at[written - 1] : '\0';
    char beforeLast = written >= 2 ? at[written - 2] : '\0';
    if (last != '\n' && beforeLast != '\r') {
        log->text[log->used] = '\r';
        log->text[log->used + 1] = '\n';
        log->used += 2;
    }
    log->text[log->used] = '\0';
    log->changed = 1;
    lockGive(log);
    return 0;
}

int32_t LogBuffer_AppendLine(LogBuffer* log, const char* line)
{
    return appendLine(log, line, 1);
}

int32_t LogBuffer_AppendUnnumbered(LogBuffer* log, const char* line)
{
    return appendLine(log, line, 0);
}

const char* LogBuffer_TakeIfChanged(LogBuffer* log)
{
    if (log == nullptr)
        return nullptr;
    lockTake(log);
    const char* text = nullptr;
    if (log->changed && log->text != nullptr) {
        markTaken(log);
        text = log->text;
    }
    lockGive(log);
    return text;
}

int32_t LogBuffer_UseIfChanged(LogBuffer* log, void (*use)(const char* text, void* context), void* context)
{
    if (log == nullptr)
        return -1;
    lockTake(log);
    int32_t used = 0;
    if (log->changed && log->text != nullptr) {
        markTaken(log);
        if (use != nullptr)
            use(log->text, context);
        used = 1;
    }
    lockGive(log);
    return used;
}

int32_t LogBuffer_UseChanges(LogBuffer* log,
                             void (*use)(const char* text, int32_t length, int32_t kept, void* context),
                             void* context)
{
    if (log == nullptr)
        return -1;
    lockTake(log);
    int32_t used = 0;
    if (log->changed && log->text != nullptr) {
        int32_t kept = log->keptLength;
        markTaken(log);
        if (use != nullptr)
            use(log->text, log->keptLength, kept, context);
        used = 1;
    }
    lockGive(log);
    return used;
}

int32_t LogBuffer_Free(LogBuffer* log)
{
    if (log == nullptr)
        return -1;
    lockTake(log);
    resetLocked(log);
    if (log->text != nullptr)
        Mem_Free(log->text);
    log->text = nullptr;
    lockGive(log);
    lockDestroy(log);
    Mem_Zero(log, sizeof(*log));
    return 0;
}
