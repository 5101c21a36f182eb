// The platform mutex of the message log, kept inside the record's
// lockStorage so that the record stays a plain block of words.
#ifndef TESSMARK_LOGLOCK_H
#define TESSMARK_LOGLOCK_H

#include "logbuffer.h"

// Sets up the lock in log->lockStorage. 0, or -1 when the OS refused.
int32_t LogLock_Init(LogBuffer* log);
// Releases what LogLock_Init set up. 0.
int32_t LogLock_Destroy(LogBuffer* log);
// held 1: waits for the lock and holds it; held 0: lets it go. 0, or -1
// when the OS refused.
int32_t LogLock_Hold(LogBuffer* log, int32_t held);

#endif
