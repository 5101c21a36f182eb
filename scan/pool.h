// Several files in flight, given out as one thread gives them out. Three
// rules keep the output that of a scan on one thread:
//   P1. Files are queued, and taken, in listing order; a word of the
//       listing's own (a link passed over, a folder that cannot be listed)
//       is queued as an item that is done already.
//   P2. Each item keeps its result, and it is given out only when every
//       item before it has been, under the pool's lock, so the deliveries
//       come one at a time and in order.
//   P3. After a stop no item is taken; the taken ones are finished and,
//       being a prefix of the queue (P1), given out in full.
#ifndef TESSMARK_SCANPOOL_H
#define TESSMARK_SCANPOOL_H

#include <stddef.h>
#include <stdint.h>

#include "result.h"

// Most files a pool examines at once.
#define ScanMaxJobs 64
// Files in flight per processor by default (ScanPool_DefaultJobs): an
// examination mostly waits for small reads, and on a share or a card reader
// each one costs a millisecond or more, so more files than processors pay.
#define ScanJobsPerCpu 8

typedef struct ScanPool ScanPool;

#include "examine.h"

typedef struct ScanPoolCalls {
    // Examines the entry's file into result, on an examiner thread and
    // outside the lock; scratch is the examiner's own (scratchSize bytes,
    // zeroed once). The entry's turn is its item, for ScanPool_AwaitTurn.
    void (*examine)(void* scratch, const ScanEntry* entry, ScanResult* result, void* context);
    // Gives out one item's result, in listing order, under the lock (P2).
    void (*deliver)(const char* path, const char* name, const ScanResult* result, void* context);
    // 0 once the scan must stop (P3).
    int32_t (*running)(void);
    size_t scratchSize;
    void* context;
} ScanPoolCalls;

#ifdef __cplusplus
extern "C" {
#endif

// Starts jobs examiners (at most ScanMaxJobs). Null when not even one could
// start: the caller then examines on its own.
ScanPool* ScanPool_Start(int32_t jobs, const ScanPoolCalls* calls);

// Queues the file at path (its name from nameAt) behind every item queued
// before (P1). 0 when a stop came first.
int32_t ScanPool_AddFile(ScanPool* pool, const char* path, size_t nameAt);

// Queues a result that is done already (the listing's word on name). 0 when
// a stop came first.
int32_t ScanPool_AddDone(ScanPool* pool, const char* name, const ScanResult* result);

// Waits until every item queued before turn (an entry's turn) has been
// given out: an examination that must follow its predecessors (a file that
// may have been reached under another name) waits for it. Never ends the
// wait for a stop: the items before were taken, and are finished (P3).
void ScanPool_AwaitTurn(ScanPool* pool, void* turn);

// Holds the lock from an examiner, for a call that must come one at a time
// with the deliveries (the hook before a repair).
void ScanPool_Lock(ScanPool* pool);
void ScanPool_Unlock(ScanPool* pool);

// The number of files to examine at once on this machine by default:
// ScanJobsPerCpu per processor, within 1 to ScanMaxJobs.
int32_t ScanPool_DefaultJobs(void);

// Waits for the examiners, gives out what is left and frees the pool. 1
// when queued items were never examined (a stop), else 0.
int32_t ScanPool_Finish(ScanPool* pool);

#ifdef __cplusplus
}
#endif

#endif
