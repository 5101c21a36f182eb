// One file's examination and repair: a path in, a ScanResult out. No output
// and no lock: the caller gives the result out, and wraps the hook that may
// stop a repair (the journal) in whatever order its callers need.
#ifndef TESSMARK_SCANEXAMINE_H
#define TESSMARK_SCANEXAMINE_H

#include "result.h"

// One entry of the listing, as an examination takes it.
typedef struct ScanEntry {
    const char* path;  // the full path
    const char* name;  // as the lines call it
    void* turn;        // the pool's token of the entry (ScanPool_AwaitTurn); null on the worker's own thread
} ScanEntry;

// Called before a repair's first write with the open file and the result so
// far. 0 lets the repair go on; any other value leaves the file as it is.
typedef int32_t (*ScanRepairHook)(const ScanResult* result, const char* path, const char* name, SoundFile* file,
                                  void* context);

// Waits until every entry listed before turn has been given out (nothing
// when turn is null).
typedef void (*ScanTurnHook)(void* turn, void* context);

// Claims the file of this identity for name: 0 when no entry before took
// it; 1 when one did, with the name it was examined as in sameAs.
typedef int32_t (*ScanClaimHook)(const FileStamp* identity, const char* name, char* sameAs, void* context);

typedef struct ScanExamineOptions {
    int32_t checkOnly;     // 1: open read-only and shared, never repair
    int32_t anyLinked;     // 1: any file may be one reached before (links are followed)
    ScanRepairHook hook;   // may be null
    ScanTurnHook awaitTurn;
    ScanClaimHook claim;   // may be null: every entry is examined
    void* hookContext;     // passed to the three hooks
} ScanExamineOptions;

#ifdef __cplusplus
extern "C" {
#endif

// Examines the entry's file with file as its handle's storage, repairs a
// short header unless checkOnly, and fills result. A name that is no sound
// file's gives ScanActionNone. A file with several names (hard links, and
// with anyLinked every file) is examined only under the first name the
// listing gave: it waits for its turn and claims the file first.
void ScanExamine_File(SoundFile* file, const ScanEntry* entry, const ScanExamineOptions* options,
                      ScanResult* result);

// The result of an entry the listing passes over: why (ScanWhyLink,
// ScanWhyPathTooLong, ScanWhyCannotList), counted as not opened; isFile 0
// for one that gets no report.
void ScanExamine_PassOver(int32_t why, int32_t isFile, const char* detail, ScanResult* result);

#ifdef __cplusplus
}
#endif

#endif
