// The scan worker: a background thread that examines every file of one
// folder, repairs short headers and logs one or two numbered lines per file;
// for the command-line scanner, with several examiner threads beside it.
#ifndef TESSMARK_SCANWORKER_H
#define TESSMARK_SCANWORKER_H

#include <stdint.h>

#include "appstate.h"

// Deepest subfolder level that a recursive scan enters below its folder.
#define ScanMaxDepth 64

// Most files a scan examines at once (ScanOptions.jobs).
#define ScanMaxJobs 64
// Files in flight per processor by default (ScanWorker_DefaultJobs): an
// examination mostly waits for small reads, and on a share or a card reader
// each one costs a millisecond or more, so more files than processors pay.
#define ScanJobsPerCpu 8

// What one scan met, counted by the worker (see ScanOptions.outcomes).
typedef struct ScanOutcomes {
    int32_t folderListed;  // 1 when the scanned folder could be listed; 0 when not (nothing was done)
    int32_t stopped;       // 1 when a stop ended the scan before the listing was done
    int64_t examined;      // sound files opened and examined (each counts in one of the four below)
    int64_t headerOk;      // "HEADER OK !"
    int64_t repaired;      // repaired, and the new header written and flushed
    int64_t needRepair;    // checkOnly: files whose header is short, left unchanged
    int64_t failed;        // "ERR:Can't Access File": the repair or the close of a repaired file failed
    int64_t notOpened;     // sound files passed over unexamined: no access, in use, too long a path,
                           // links not followed; with recursive, also unlistable subfolders
    int64_t notRecordings; // sound files by name that are no recording read here: empty, not a WAV or
                           // AIFF file, a header the reader cannot use, a compressed encoding
    int64_t noSamples;     // sound files that hold nothing behind their data offset (no line)
} ScanOutcomes;

// Receives each line the worker logs, as given to the log (no number, no line end).
typedef void (*ScanLineFn)(const char* line, void* context);

// Receives a word on one file that the log does not carry: name as the lines
// call it, and the text (such as "not examined: cannot open (read-only)").
typedef void (*ScanNoteFn)(const char* name, const char* text, void* context);

// ScanFileReport.action values.
enum {
    ScanActionOk = 1,           // the header covers every whole frame (or the file holds no samples)
    ScanActionRepaired = 2,     // repaired, the new header written and flushed
    ScanActionNeedsRepair = 3,  // checkOnly: the header is short, the file unchanged
    ScanActionFailed = 4,       // the repair, or a read that had to precede it, failed
    ScanActionNotExamined = 5,  // passed over: refused by the reader, no access, in use, path too long
};


// What one scan did with one sound file (see ScanOptions.onFile).
typedef struct ScanFileReport {
    const char* path;       // the full path opened
    const char* name;       // as the lines call it
    int32_t action;         // ScanAction*
    const char* reason;     // why, for every action but ScanActionOk ("" when there is nothing to say)
    int32_t container;      // SoundContainer* (stream.h) as the file was opened; None when not read
    uint32_t sampleRate;    // 0 and below: unknown while not examined
    int32_t channels;
    int32_t bitsPerSample;
    int32_t encoding;       // SoundEncoding* (soundfile.h)
    int64_t declaredBytes;  // sample bytes the header declared at open (whole frames)
    int64_t presentBytes;   // sample bytes the file holds (no metadata, pad byte or block padding)
    int64_t missingBytes;   // declared bytes the file lacks (a recording cut short); 0 otherwise
    int64_t framesBefore;   // frames the header declared at open; -1 when not known
    int64_t framesAfter;    // frames it declares after the scan; -1 when not known
} ScanFileReport;

// Receives the report of each sound file when the scan is done with it.
typedef void (*ScanFileFn)(const ScanFileReport* report, void* context);

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
                            // of a scan with 1 (see ScanWorker_Run).
} ScanOptions;

#ifdef __cplusplus
extern "C" {
#endif

// Sets the options of the scans started from now on (a copy is kept; null
// restores the defaults). Call only while no worker runs.
void ScanWorker_SetOptions(const ScanOptions* options);

// Stops any running scan, then starts a new worker on app (folderPath,
// logBuffer). After a ScanWorker_RequestStop not yet cleared by
// ScanWorker_Stop the new worker stops before its first file. A failed
// thread creation is not reported.
void ScanWorker_Start(AppState* app);

// Asks the worker to stop and waits, without a time limit, until it has
// finished the file in hand; the next start then runs in full (an earlier
// stop request is forgotten). Safe when no scan ever ran.
void ScanWorker_Stop(void);

// Asks the worker to stop after the file in hand, without waiting; a scan
// started after it stops too, until ScanWorker_Stop, so that a request that
// comes just before a start is not lost. Safe from any thread and from a
// signal handler.
void ScanWorker_RequestStop(void);

// Waits, without a time limit, until the worker has ended by itself (or by a
// stop request), and releases it. Safe when no scan ever ran.
void ScanWorker_Wait(void);

// The thread body; returns 0 in every case. With options.jobs above 1 it
// lists the folder and queues the files, and that many examiner threads
// take them in listing order; what each file leaves for the callbacks is
// held until every file listed before it has been given out. A stop lets
// every examiner finish the file it holds, and since files are taken in
// order, what was given out is what a scan with 1 gives out up to a file.
uint32_t ScanWorker_Run(AppState* app);

// The number of files to examine at once on this machine by default:
// ScanJobsPerCpu per processor, within 1 to ScanMaxJobs.
int32_t ScanWorker_DefaultJobs(void);

#ifdef __cplusplus
}
#endif

#endif
