// What a scan is asked to do: its options and callbacks, and its target.
#ifndef TESSMARK_SCANOPTIONS_H
#define TESSMARK_SCANOPTIONS_H

#include <stdint.h>

#include "listing.h"
#include "logbuffer.h"
#include "pool.h"
#include "result.h"
#include "scanplatform.h"

// Receives each line the worker logs, as given to the log (no number, no line end).
typedef void (*ScanLineFn)(const char* line, void* context);

// Receives a word on one file that the log does not carry: name as the lines
// call it, and the text (such as "not examined: cannot open (read-only)").
typedef void (*ScanNoteFn)(const char* name, const char* text, void* context);

// Receives the report of each sound file when the scan is done with it.
typedef void (*ScanFileFn)(const ScanFileReport* report, void* context);

// Receives what a scan met once it is over, stopped or not.
typedef void (*ScanEndFn)(const ScanOutcomes* outcomes, void* context);

struct SoundFile;
// Called before a repair's first write with the open file (report as far as
// known, action ScanActionRepaired). 0 lets the repair go on; any other value
// leaves the file as it is, counted failed with the reason "not journaled".
typedef int32_t (*ScanBeforeRepairFn)(const ScanFileReport* report, struct SoundFile* file, void* context);

// How the next scans run. The all-zero record is the desktop program's scan.
typedef struct ScanOptions {
    int32_t checkOnly;      // 1: open read-only and shared, never repair; the lines say "not repaired"
    int32_t recursive;      // 1: enter subfolders (not through links), up to ScanMaxDepth levels;
                            //    lines then name files by their path below the folder
    int32_t followLinks;    // 1: examine the files that links (symbolic links, Windows links) lead to;
                            //    0: pass links over, so that no file outside the folder changes
    ScanLineFn onLine;      // called on a worker thread after each line is appended; may be null
    void* lineContext;      // passed to onLine
    ScanNoteFn onNote;      // called on a worker thread for each word on a file; may be null
    void* noteContext;      // passed to onNote
    ScanFileFn onFile;      // called on a worker thread for each sound file examined or passed over; may be null
    void* fileContext;      // passed to onFile
    ScanBeforeRepairFn beforeRepair; // called on the examining thread before each repair; may be null
    void* repairContext;    // passed to beforeRepair
    ScanOutcomes* outcomes; // zeroed when a scan starts, then counted by the worker; may be null.
                            // Read it only once the worker has ended (ScanWorker_Wait or _Stop).
    int32_t jobs;           // files examined at once, each by one thread from open to close (at most
                            // ScanMaxJobs). 0 or 1: the worker examines them itself, one by one.
                            // Whatever the number, the callbacks come one at a time, and onLine,
                            // onNote and onFile in exactly the order and with exactly the content
                            // of a scan with 1 (rules P1-P3 in pool.h).
    int32_t adaptive;       // with jobs above 1: the worker examines the files itself while they
                            // come quickly (a warm cache, where threads only cost), and starts the
                            // jobs once they come slowly (a share, a card, a cold disk)
    ScanEndFn onEnd;        // called on the worker thread as the last thing a scan does, also after a
                            // stop: ScanWorker_Stop and _Wait return only after it; may be null
    void* endContext;       // passed to onEnd
} ScanOptions;

// What a scan works on: the folder, and the log its lines go to (or none).
typedef struct ScanTarget {
    char folderPath[ScanPathCapacity];  // without a trailing separator, unless it is a root
    LogBuffer* logBuffer;               // may be null
} ScanTarget;

#endif
