// The operating-system services the scan worker needs besides files:
// background threads with a lock and a signal between them, the processor
// count, and the listing of one folder's entries.
#ifndef TESSMARK_SCANPLATFORM_H
#define TESSMARK_SCANPLATFORM_H

#include <stdint.h>

// Longest path the scan builds, terminator included.
#define ScanPathCapacity 1024
// Longest entry name a listing gives, terminator included.
#define DirNameCapacity 512

typedef uint32_t (*ScanThreadEntry)(void* param);

typedef struct ScanThread {
    int32_t exists;            // 1 from a successful ScanThread_Create until ScanThread_Join
    uint32_t threadId;         // the id the OS gave the thread (Win32); 0 elsewhere
    uint64_t handleStorage[2]; // the OS thread handle (HANDLE or pthread_t)
    ScanThreadEntry entry;     // the body the thread runs
    void* param;               // the body's parameter
} ScanThread;

// A mutual exclusion lock and a condition to wait for under it, for the
// examiners of a parallel scan. Storage large enough for either OS's own.
typedef struct ScanLock {
    uint64_t storage[8];
} ScanLock;

typedef struct ScanSignal {
    uint64_t storage[8];
} ScanSignal;

// Kinds of directory entry.
enum {
    DirEntryOther = 0,      // FIFO, device, socket, or not measurable: never opened
    DirEntryFile = 1,       // a regular file (possibly reached through a link)
    DirEntryDirectory = 2,  // a folder (possibly reached through a link)
    DirEntryNowhere = 3,    // a link whose target cannot be found: never opened
};

typedef struct DirListing {
    void* handle;               // DIR* or the Win32 find handle; null when not open
    int32_t pending;            // 1 when the entry found at open is not yet given out (Win32)
    int32_t entryType;          // DirEntry* of the current entry
    int32_t entryIsLink;        // 1 when the current entry is a link: symbolic link, junction
    char name[DirNameCapacity]; // bare name of the current entry, NUL-terminated
} DirListing;

#ifdef __cplusplus
extern "C" {
#endif

// Starts entry(param) on a new thread with the default stack. The record must
// not move or be reused until ScanThread_Join. 0 when started, -1 when the OS
// refused (thread->exists stays 0).
int32_t ScanThread_Create(ScanThread* thread, ScanThreadEntry entry, void* param);

// Waits without a time limit for the thread to end, releases it and sets
// exists to 0. 0; also when no thread exists.
int32_t ScanThread_Join(ScanThread* thread);

// The lock, unlocked. 0, or -1 when the OS refused (then unusable).
int32_t ScanLock_Init(ScanLock* lock);
void ScanLock_Acquire(ScanLock* lock);
void ScanLock_Release(ScanLock* lock);
void ScanLock_Destroy(ScanLock* lock);

// 0, or -1 when the OS refused (then unusable).
int32_t ScanSignal_Init(ScanSignal* signal);
// Releases lock (held by the caller), waits until woken, takes lock again.
// May also return without a wake: callers test their condition in a loop.
void ScanSignal_Wait(ScanSignal* signal, ScanLock* lock);
// Wakes one thread waiting on signal, if any.
void ScanSignal_WakeOne(ScanSignal* signal);
// Wakes every thread waiting on signal.
void ScanSignal_WakeAll(ScanSignal* signal);
void ScanSignal_Destroy(ScanSignal* signal);

// Processors this process may run on; at least 1.
int32_t ScanPlatform_CpuCount(void);

// A monotonic clock in microseconds, for telling fast storage from slow.
int64_t ScanPlatform_Microseconds(void);

// Opens the listing of folder (a path without a pattern; a trailing separator
// is allowed). 1 when it can be listed, 0 when it cannot (missing, no access,
// not a folder, empty path or too long a path); the record is then closed.
int32_t DirListing_Open(DirListing* listing, const char* folder);

// Moves to the next entry, in the order the OS gives them ("." and ".." may
// come too). 1 with name, entryType and entryIsLink set; 0 at the end.
int32_t DirListing_Next(DirListing* listing);

// Ends the listing. Safe on a closed record.
void DirListing_Close(DirListing* listing);

#ifdef __cplusplus
}
#endif

#endif
