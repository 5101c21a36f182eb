#include "run.h"

#include <stdlib.h>

#include "claims.h"
#include "examine.h"
#include "render.h"

// Files examined on the worker's own thread before it looks at how long
// they took, and the time per file beyond which a pool pays: a warm cache
// answers in microseconds, a share or a card in milliseconds.
#define ScanSampleFiles 16
#define ScanSlowFileMicros 30

// One scan.
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
    int32_t (*running)(void); // 0 once the scan is asked to stop
} Scan;

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
    const ScanPoolCalls calls = {examineIn, deliver, s->running, sizeof(SoundFile), s};
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

int32_t ScanRun_Folder(const ScanTarget* target, const ScanOptions* options, int32_t (*running)(void))
{
    Scan* s = static_cast<Scan*>(calloc(1, sizeof(Scan)));
    if (s == nullptr || target == nullptr || options == nullptr || running == nullptr) {
        free(s);
        return -1;
    }
    s->options = *options;
    s->running = running;
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
