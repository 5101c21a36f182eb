// The log's lock over POSIX: a pthread mutex.
#include "loglock.h"

#include <pthread.h>

static_assert(sizeof(pthread_mutex_t) <= sizeof(((LogBuffer*)nullptr)->lockStorage), "the lock must fit in lockStorage");
static_assert(alignof(pthread_mutex_t) <= alignof(uint64_t), "lockStorage is aligned for 64-bit words only");

static pthread_mutex_t* mutexOf(LogBuffer* log)
{
    return reinterpret_cast<pthread_mutex_t*>(log->lockStorage);
}

int32_t LogLock_Init(LogBuffer* log)
{
    return pthread_mutex_init(mutexOf(log), nullptr) == 0 ? 0 : -1;
}

int32_t LogLock_Destroy(LogBuffer* log)
{
    return pthread_mutex_destroy(mutexOf(log)) == 0 ? 0 : -1;
}

int32_t LogLock_Hold(LogBuffer* log, int32_t held)
{
    pthread_mutex_t* mutex = mutexOf(log);
    int error = held ? pthread_mutex_lock(mutex) : pthread_mutex_unlock(mutex);
    return error == 0 ? 0 : -1;
}
