// The scan worker's life: one thread walks the folder (listing.h), examines
// each file (examine.h) itself or through a pool of examiners (pool.h), and
// gives each result out in listing order (render.h) to the log and the
// callbacks. A stop is honoured between files only, so a file in hand is
// always finished, close included.
#include "scanworker.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "claims.h"
#include "examine.h"
#include "render.h"

// Files examined on the worker's own thread before it looks at how long
// they took, and the time per file beyond which a pool pays: a warm cache
// answers in microseconds, a share or a card in milliseconds.
#define ScanSampleFiles 16
#define ScanSlowFileMicros 30

static ScanThread scanThread;
static ScanTarget scanTarget;
static std::atomic<int32_t> scanRunning{0};
// Set by a stop request and kept until ScanWorker_Stop: a Ctrl-C that comes
// before the command-line scanner's start must stop the scan it starts.
static std::atomic<int32_t> stopRequested{0};
static ScanOptions scanOptions;

static_assert(std::atomic<int32_t>::is_always_lock_free, "the stop request must be safe in a signal handler");

// One scan.
typedef struct Scan {
    ScanOptions options;
    ScanOutcomes outcomes;
    LogBuffer* log;
    ScanPool* pool;           // null while the worker examines the files itself
    ScanExamineOptions examine;
    ScanRenderSink sink;
    ScanClaims claims;        // files with several names, by the name examined
    int64_t sampleMicros;     // time the files of the sample took
    int32_t sampleFiles;
    SoundFile file;           // the worker's own file in hand
} Scan;

static int32_t running(void)
{
    return scanRunning.load() != 0;
}

static void giveLine(const char* line, void* context)
{
    Scan* s = static_cast<Scan*>(context);
    if (s->log != nullptr)
        LogBuffer_AppendLine(s->log, line);
    if (s->options.onLine != nullptr)
        s->options.onLine(line, s->options.lineContext);
}

static void deliver(const char* path, const char* name, const ScanResult* result, void* context)
{
    Scan* s = static_cast<Scan*>(context);
    ScanOutcomes_Add(&s->outcomes, &result->counts);
    ScanRender_Give(result, path, name, &s->sink);
}

// The journal's hook comes one at a time with the other callbacks (P2).
static int32_t beforeRepair(const ScanResult* result, const char* path, const char* name, SoundFile* file,
                            void* context)
{
    Scan* s = static_cast<Scan*>(context);
    char reason[256];
    ScanFileReport report;
    ScanRender_Report(result, path, name, reason, sizeof(reason), &report);
    if (s->pool != nullptr)
        ScanPool_Lock(s->pool);
    const int32_t refused = s->options.beforeRepair(&report, file, s->options.repairContext);
    if (s->pool != nullptr)
        ScanPool_Unlock(s->pool);
    return refused;
}

static void awaitTurn(void* turn, void* context)
{
    Scan* s = static_cast<Scan*>(context);
    if (turn != nullptr && s->pool != nullptr)
        ScanPool_AwaitTurn(s->pool, turn);
}

// Only ever called in listing order, after the turn (P2): no lock needed.
static int32_t claim(const FileStamp* identity, const char* name, char* sameAs, void* context)
{
    Scan* s = static_cast<Scan*>(context);
    return ScanClaims_Take(&s->claims, identity, name, sameAs, sizeof(ScanResult::detail));
}

static void examineIn(void* scratch, const ScanEntry* entry, ScanResult* result, void* context)
{
    ScanExamine_File(static_cast<SoundFile*>(scratch), entry, &static_cast<Scan*>(context)->examine, result);
}

static void startPool(Scan* s)
{
    const ScanPoolCalls calls = {examineIn, deliver, running, sizeof(SoundFile), s};
    s->pool = ScanPool_Start(s->options.jobs, &calls);
}

static int32_t listedFile(const char* path, size_t nameAt, void* context)
{
    Scan* s = static_cast<Scan*>(context);
    if (s->pool != nullptr)
        return ScanPool_AddFile(s->pool, path, nameAt);
    ScanResult result;
    const int64_t began = ScanPlatform_Microseconds();
    const ScanEntry entry = {path, path + nameAt, nullptr};
    ScanExamine_File(&s->file, &entry, &s->examine, &result);
    s->sampleMicros += ScanPlatform_Microseconds() - began;
    deliver(path, path + nameAt, &result, s);
    // Slow storage: several files in flight pay from here on.
    if (s->options.jobs > 1 && ++s->sampleFiles == ScanSampleFiles) {
        if (s->sampleMicros > int64_t(ScanSampleFiles) * ScanSlowFileMicros)
            startPool(s);
        s->sampleFiles = 0;
        s->sampleMicros = 0;
    }
    return 1;
}

static int32_t passedOver(const char* name, int32_t why, int32_t isFile, const char* detail, void* context)
{
    Scan* s = static_cast<Scan*>(context);
    ScanResult result;
    ScanExamine_PassOver(why, isFile, detail, &result);
    if (s->pool != nullptr)
        return ScanPool_AddDone(s->pool, name, &result);
    deliver(name, name, &result, s);
    return 1;
}

uint32_t ScanWorker_Run(const ScanTarget* target)
{
    Scan* s = static_cast<Scan*>(calloc(1, sizeof(Scan)));
    if (s == nullptr || target == nullptr) {
        free(s);
        return 0;
    }
    s->options = scanOptions;
    s->log = target->logBuffer;
    s->examine = {s->options.checkOnly, s->options.followLinks,
                  s->options.beforeRepair != nullptr ? beforeRepair : nullptr, awaitTurn, claim, s};
    s->sink = {giveLine, s, s->options.onNote, s->options.noteContext, s->options.onFile, s->options.fileContext};
    if (s->options.jobs > 1 && !s->options.adaptive)
        startPool(s);
    const ScanListingOptions listing = {s->options.recursive, s->options.followLinks};
    const ScanListingCalls calls = {listedFile, passedOver, running, s};
    int32_t stopped = 0;
    s->outcomes.folderListed = ScanListing_Walk(target->folderPath, &listing, &calls, &stopped);
    if (s->pool != nullptr && ScanPool_Finish(s->pool))
        stopped = 1;
    ScanClaims_Free(&s->claims);
    s->outcomes.stopped = stopped;
    if (s->options.outcomes != nullptr)
        *s->options.outcomes = s->outcomes;
    if (s->options.onEnd != nullptr)
        s->options.onEnd(&s->outcomes, s->options.endContext);
    free(s);
    return 0;
}

static uint32_t threadBody(void* param)
{
    return ScanWorker_Run(static_cast<const ScanTarget*>(param));
}

void ScanWorker_SetOptions(const ScanOptions* options)
{
    if (options != nullptr)
        scanOptions = *options;
    else
        Mem_Zero(&scanOptions, sizeof(scanOptions));
}

void ScanWorker_Start(const char* folder, LogBuffer* log)
{
    scanRunning.store(0);
    ScanThread_Join(&scanThread);
    if (scanOptions.outcomes != nullptr)
        Mem_Zero(scanOptions.outcomes, sizeof(*scanOptions.outcomes));
    // A folder cut to fit would be another folder: too long a name lists nothing.
    const size_t n = folder != nullptr ? strnlen(folder, sizeof(scanTarget.folderPath)) : 0;
    if (n < sizeof(scanTarget.folderPath))
        Mem_Copy(scanTarget.folderPath, folder, uint32_t(n));
    scanTarget.folderPath[n < sizeof(scanTarget.folderPath) ? n : 0] = '\0';
    scanTarget.logBuffer = log;
    // A request made before this point, or while it runs, leaves 0 behind:
    // the request is stored before its flag is cleared.
    scanRunning.store(1);
    if (stopRequested.load() != 0)
        scanRunning.store(0);
    ScanThread_Create(&scanThread, threadBody, &scanTarget);
}

void ScanWorker_Stop(void)
{
    scanRunning.store(0);
    ScanThread_Join(&scanThread);
    stopRequested.store(0);
}

void ScanWorker_RequestStop(void)
{
    stopRequested.store(1);
    scanRunning.store(0);
}

void ScanWorker_Wait(void)
{
    ScanThread_Join(&scanThread);
}
