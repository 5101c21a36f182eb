// The log's lock over Win32: a critical section.
#include "loglock.h"

#include <windows.h>

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(((LogBuffer*)nullptr)->lockStorage), "the lock must fit in lockStorage");
static_assert(alignof(CRITICAL_SECTION) <= alignof(uint64_t), "lockStorage is aligned for 64-bit words only");

static CRITICAL_SECTION* sectionOf(LogBuffer* log)
{
    return reinterpret_cast<CRITICAL_SECTION*>(log->lockStorage);
}

int32_t LogLock_Init(LogBuffer* log)
{
    InitializeCriticalSection(sectionOf(log));
    return 0;
}

int32_t LogLock_Destroy(LogBuffer* log)
{
    DeleteCriticalSection(sectionOf(log));
    return 0;
}

int32_t LogLock_Hold(LogBuffer* log, int32_t held)
{
    if (held)
        EnterCriticalSection(sectionOf(log));
    else
        LeaveCriticalSection(sectionOf(log));
    return 0;
}
