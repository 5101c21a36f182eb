// One file's examination and repair: a path in, a ScanResult out. No output
// and no lock: the caller gives the result out, and wraps the hook that may
// stop a repair (the journal) in whatever order its callers need.
#ifndef TESSMARK_SCANEXAMINE_H
#define TESSMARK_SCANEXAMINE_H

#include "result.h"

// Called before a repair's first write with the open file and the result so
// far. 0 lets the repair go on; any other value leaves the file as it is.
typedef int32_t (*ScanRepairHook)(const ScanResult* result, const char* path, const char* name, SoundFile* file,
                                  void* context);

typedef struct ScanExamineOptions {
    int32_t checkOnly;     // 1: open read-only and shared, never repair
    ScanRepairHook hook;   // may be null
    void* hookContext;
} ScanExamineOptions;

#ifdef __cplusplus
extern "C" {
#endif

// Examines the file at path (name: as the lines call it, for the hook) with
// file as its handle's storage, repairs a short header unless checkOnly, and
// fills result. A name that is no sound file's gives ScanActionNone.
void ScanExamine_File(SoundFile* file, const char* path, const char* name, const ScanExamineOptions* options,
                      ScanResult* result);

// The result of an entry the listing passes over: why (ScanWhyLink,
// ScanWhyPathTooLong, ScanWhyCannotList), counted as not opened; isFile 0
// for one that gets no report.
void ScanExamine_PassOver(int32_t why, int32_t isFile, ScanResult* result);

#ifdef __cplusplus
}
#endif

#endif
