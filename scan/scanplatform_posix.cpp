// Threads and folder listings over POSIX: pthreads, sysconf, opendir/readdir,
// and the entry's own type, or fstatat where that does not tell (links, file
// systems that give no type).
#include "scanplatform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static_assert(sizeof(pthread_t) <= sizeof(((ScanThread*)nullptr)->handleStorage), "pthread_t must fit");

static void* threadMain(void* param)
{
    ScanThread* thread = static_cast<ScanThread*>(param);
    thread->entry(thread->param);
    return nullptr;
}

int32_t ScanThread_Create(ScanThread* thread, ScanThreadEntry entry, void* param)
{
    memset(thread, 0, sizeof(*thread));
    thread->entry = entry;
    thread->param = param;
    pthread_t id;
    if (pthread_create(&id, nullptr, threadMain, thread) != 0)
        return -1;
    memcpy(thread->handleStorage, &id, sizeof(id));
    thread->exists = 1;
    return 0;
}

int32_t ScanThread_Join(ScanThread* thread)
{
    if (!thread->exists)
        return 0;
    pthread_t id;
    memcpy(&id, thread->handleStorage, sizeof(id));
    pthread_join(id, nullptr);
    memset(thread, 0, sizeof(*thread));
    return 0;
}

static_assert(sizeof(pthread_mutex_t) <= sizeof(ScanLock), "pthread_mutex_t must fit");
static_assert(sizeof(pthread_cond_t) <= sizeof(ScanSignal), "pthread_cond_t must fit");

static pthread_mutex_t* mutexOf(ScanLock* lock)
{
    return reinterpret_cast<pthread_mutex_t*>(lock->storage);
}

static pthread_cond_t* condOf(ScanSignal* signal)
{
    return reinterpret_cast<pthread_cond_t*>(signal->storage);
}

int32_t ScanLock_Init(ScanLock* lock)
{
    return pthread_mutex_init(mutexOf(lock), nullptr) == 0 ? 0 : -1;
}

void ScanLock_Acquire(ScanLock* lock)
{
    pthread_mutex_lock(mutexOf(lock));
}

void ScanLock_Release(ScanLock* lock)
{
    pthread_mutex_unlock(mutexOf(lock));
}

void ScanLock_Destroy(ScanLock* lock)
{
    pthread_mutex_destroy(mutexOf(lock));
}

int32_t ScanSignal_Init(ScanSignal* signal)
{
    return pthread_cond_init(condOf(signal), nullptr) == 0 ? 0 : -1;
}

void ScanSignal_Wait(ScanSignal* signal, ScanLock* lock)
{
    pthread_cond_wait(condOf(signal), mutexOf(lock));
}

void ScanSignal_WakeOne(ScanSignal* signal)
{
    pthread_cond_signal(condOf(signal));
}

void ScanSignal_WakeAll(ScanSignal* signal)
{
    pthread_cond_broadcast(condOf(signal));
}

void ScanSignal_Destroy(ScanSignal* signal)
{
    pthread_cond_destroy(condOf(signal));
}

int32_t ScanPlatform_CpuCount(void)
{
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : n > 4096 ? 4096 : static_cast<int32_t>(n);
}

int64_t ScanPlatform_Microseconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int32_t DirListing_Open(DirListing* listing, const char* folder)
{
    memset(listing, 0, sizeof(*listing));
    if (folder == nullptr || folder[0] == '\0' || strlen(folder) >= ScanPathCapacity)
        return 0;
    DIR* dir = opendir(folder);
    if (dir == nullptr)
        return 0;
    listing->handle = dir;
    return 1;
}

int32_t DirListing_Next(DirListing* listing)
{
    DIR* dir = static_cast<DIR*>(listing->handle);
    if (dir == nullptr)
        return 0;
    for (;;) {
        struct dirent* entry = readdir(dir);
        if (entry == nullptr)
            return 0;
        size_t n = strlen(entry->d_name);
        if (n >= sizeof(listing->name))
            continue;  // cannot happen within NAME_MAX; never cut a name
        memcpy(listing->name, entry->d_name, n + 1);
        listing->entryType = DirEntryOther;
        listing->entryIsLink = 0;
        struct stat st{};
        int kindKnown = 0;
#ifdef DT_UNKNOWN
        // Most file systems tell the kind with the entry: no stat per file.
        switch (entry->d_type) {
        case DT_REG:
            listing->entryType = DirEntryFile;
            return 1;
        case DT_DIR:
            listing->entryType = DirEntryDirectory;
            return 1;
        case DT_UNKNOWN:
            break;
        case DT_LNK:
            st.st_mode = S_IFLNK;
            kindKnown = 1;
            break;
        default:
            return 1;  // FIFO, device, socket
        }
#endif
        // The entry's own kind first, so that a link is known as one; then
        // what it points to. A dangling link stays "other".
        if (!kindKnown && fstatat(dirfd(dir), listing->name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return 1;
        if (S_ISLNK(st.st_mode)) {
            listing->entryIsLink = 1;
            if (fstatat(dirfd(dir), listing->name, &st, 0) != 0) {
                if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
                    listing->entryType = DirEntryNowhere;
                return 1;
            }
        }
        if (S_ISDIR(st.st_mode))
            listing->entryType = DirEntryDirectory;
        else if (S_ISREG(st.st_mode))
            listing->entryType = DirEntryFile;
        return 1;
    }
}

void DirListing_Close(DirListing* listing)
{
    if (listing->handle != nullptr)
        closedir(static_cast<DIR*>(listing->handle));
    listing->handle = nullptr;
}
