// The scan worker. One thread lists the folder and, file by file, opens each
// sound file, compares what its header declares with what the file holds,
// repairs a short header and logs the outcome. A stop is honoured between
// files only, so a file in hand is always finished, close included.
#include "scanworker.h"

#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

#include "fileio.h"
#include "logbuffer.h"
#include "scanplatform.h"
#include "soundfile.h"

// A line: a file name of up to DirNameCapacity (or a relative path) and text.
#define ScanLineCapacity (ScanPathCapacity + 128)

static ScanThread scanThread;
static std::atomic<int32_t> scanRunning{0};
// Set by a stop request and kept until ScanWorker_Stop: a Ctrl-C that comes
// before the command-line scanner's start must stop the scan it starts.
static std::atomic<int32_t> stopRequested{0};
static ScanOptions scanOptions;

static_assert(std::atomic<int32_t>::is_always_lock_free, "the stop request must be safe in a signal handler");

// Everything one scan works with; it lives on the worker's stack.
typedef struct ScanContext {
    AppState* app;                     // folderPath and logBuffer
    ScanOptions options;               // a copy taken when the scan starts
    ScanOutcomes outcomes;             // counted here, copied out at the end
    char path[ScanPathCapacity];       // the folder being listed, then each entry's full path
    size_t rootLength;                 // length of the scanned folder with its separator
    char line[ScanLineCapacity];       // the line being formatted
    SoundFile file;                    // the file in hand
    SoundFileInfo info;                // its summary
} ScanContext;

static void emitLine(ScanContext* ctx)
{
    LogBuffer_AppendLine(&ctx->app->logBuffer, ctx->line);
    if (ctx->options.onLine != nullptr)
        ctx->options.onLine(ctx->line, ctx->options.lineContext);
}

// Passes a word on the file name to onNote: text, formatted.
static void note(ScanContext* ctx, const char* name, const char* format, const char* detail)
{
    if (ctx->options.onNote == nullptr)
        return;
    char text[sizeof(ctx->file.errorText) + 64];
    snprintf(text, sizeof(text), format, detail);
    ctx->options.onNote(name, text, ctx->options.noteContext);
}

// Samples past what a plain RIFF file's 32-bit sizes can say.
static void noteBeyond32(ScanContext* ctx, const char* name)
{
    if (ctx->info.flags & WavFlagBeyond32)
        note(ctx, name, "%s",
             "more than 4 GiB of samples in a plain RIFF file: programs that stop at 4 GiB see only part of them");
}

// Appends separator (unless the text already ends in one) and name to the
// path of length at; the new length, or 0 when it would not fit.
static size_t joinPath(char* path, size_t at, const char* name)
{
    size_t sep = (at > 0 && Path_IsSeparator(path[at - 1])) ? 0 : 1;
    size_t n = strlen(name);
    if (at + sep + n >= ScanPathCapacity)
        return 0;
    if (sep)
        path[at] = PathSeparator;
    memcpy(path + at + sep, name, n + 1);
    return at + sep + n;
}

// Passes what the scan did with the file in hand to onFile; the summary is
// that of the open (before) and, for framesAfter, ctx->info.
static void reportFile(ScanContext* ctx, const char* path, const char* name, int32_t action, const char* reason,
                       const SoundFileInfo* before, int64_t declared, int64_t present)
{
    if (ctx->options.onFile == nullptr)
        return;
    ScanFileReport r;
    Mem_Zero(&r, sizeof(r));
    r.path = path;
    r.name = name;
    r.action = action;
    r.reason = reason != nullptr ? reason : "";
    if (before != nullptr) {
        // The handle may be closed by now: its kind is gone, the summary's stays.
        const SoundFile* file = &ctx->file;
        if (before->kind == SoundFileKindAiff) {
            r.container = (file->aiff.flags & AiffFlagAifc) ? ScanContainerAifc : ScanContainerAiff;
            r.sampleEncoding = file->aiff.sampleEncoding;
        } else {
            r.container = (before->flags & WavFlagRf64) ? ScanContainerRf64 : ScanContainerWav;
            r.sampleEncoding = before->sampleEncoding;
        }
        r.sampleRate = before->sampleRate;
        r.channels = before->channels;
        r.bitsPerSample = before->bitsPerSample;
        r.declaredBytes = declared;
        r.presentBytes = present;
        r.framesBefore = before->frameCount;
        r.framesAfter = ctx->info.frameCount;
    }
    ctx->options.onFile(&r, ctx->options.fileContext);
}

static void logAccessError(ScanContext* ctx, const char* name)
{
    snprintf(ctx->line, sizeof(ctx->line), "%s ERR:Can't Access File", name);
    emitLine(ctx);
}

static void logLength(ScanContext* ctx, const char* name)
{
    int64_t seconds = ctx->info.durationMs / 1000;
    int64_t hours = seconds / 3600;
    int64_t rest = seconds - hours * 3600;
    snprintf(ctx->line, sizeof(ctx->line), "%s (%iHz / %i ch) Length:%02" PRId64 ":%02" PRId64 ":%02" PRId64, name,
             static_cast<int>(ctx->info.sampleRate), static_cast<int>(ctx->info.channels), hours, rest / 60,
             rest % 60);
    emitLine(ctx);
}

// Examines the file at ctx->path; name is how the lines call it.
static void examineFile(ScanContext* ctx, const char* name)
{
    ScanOutcomes* out = &ctx->outcomes;
    SoundFile* file = &ctx->file;
    const int checkOnly = ctx->options.checkOnly != 0;

    Mem_Zero(file, sizeof(*file));
    if (SoundFile_Open(file, ctx->path, checkOnly ? SoundFileOpenReadShared : SoundFileOpenReadWrite) != 0) {
        out->notOpened += 1;  // read-only, in use, or a header the reader refuses
        char reason[sizeof(file->errorText) + 32];
        if (file->errorCode == SoundFileErrCannotOpen) {
            const int failure = File_LastOpenFailure();
            // A recorder may hold it: the log says so as it does for a failure.
            if (failure == FileOpenFailInUse)
                logAccessError(ctx, name);
            snprintf(reason, sizeof(reason), "cannot open (%s)", File_OpenFailureText(failure));
        } else {
            snprintf(reason, sizeof(reason), "%s", file->errorText);
        }
        note(ctx, name, "not examined: %s", reason);
        reportFile(ctx, ctx->path, name, ScanActionNotExamined, reason, nullptr, 0, 0);
        return;
    }
    if (!file->isOpen)
        return;  // not a sound file by its name

    SoundFile_GetInfo(file, &ctx->info);
    // The offset of an open file is unsigned: a data chunk placed beyond
    // 2 GiB must not turn into a negative offset and so a false repair.
    const int64_t dataOffset = static_cast<int64_t>(SoundFile_GetDataOffset(file));
    const int64_t present = SoundFile_GetDataEnd(file) - dataOffset;
    const int64_t declared = ctx->info.dataBytes;
    const SoundFileInfo before = ctx->info;

    if (present <= 0) {
        out->noSamples += 1;  // a header without samples: nothing to cover, and no line
        reportFile(ctx, ctx->path, name, ScanActionOk, "no samples", &before, declared, present < 0 ? 0 : present);
        SoundFile_Close(file);
        return;
    }
    out->examined += 1;
    // Metadata chunks (LIST, id3, cue, pad bytes) behind complete sample
    // data are no samples: such a file is healthy and stays untouched.
    const int32_t trailer = present <= declared ? 0 : SoundFile_HasChunkTrailer(file);
    if (trailer == SoundFileErrAccess) {
        // A disk that fails while the samples' end is looked at: a repair
        // now could turn the metadata behind them into samples.
        SoundFile_Close(file);
        snprintf(ctx->line, sizeof(ctx->line), "%s ERR:Can't Access File", name);
        emitLine(ctx);
        out->failed += 1;
        reportFile(ctx, ctx->path, name, ScanActionFailed, "cannot read what follows the samples", &before, declared, present);
        return;
    }
    if (present <= declared || trailer == 1) {
        snprintf(ctx->line, sizeof(ctx->line), "%s HEADER OK !", name);
        emitLine(ctx);
        out->headerOk += 1;
        noteBeyond32(ctx, name);
        reportFile(ctx, ctx->path, name, ScanActionOk, trailer == 1 ? "metadata behind the samples" : nullptr, &before, declared,
                   present);
        SoundFile_Close(file);
        return;
    }

    const char* action = checkOnly ? "needs repair (not repaired, --check)" : "repair";
    if (declared == 0)
        snprintf(ctx->line, sizeof(ctx->line), "%s header not set : %s", name, action);
    else
        snprintf(ctx->line, sizeof(ctx->line), "%s header missing %" PRId64 " bytes : %s", name, present - declared,
                 action);
    emitLine(ctx);
    char why[64];
    if (declared == 0)
        snprintf(why, sizeof(why), "header not set");
    else
        snprintf(why, sizeof(why), "header missing %" PRId64 " bytes", present - declared);

    if (checkOnly) {
        out->needRepair += 1;
        reportFile(ctx, ctx->path, name, ScanActionNeedsRepair, why, &before, declared, present);
        SoundFile_Close(file);
        return;
    }
    int32_t refused = 0;
    if (ctx->options.beforeRepair != nullptr) {
        ScanFileReport r;
        Mem_Zero(&r, sizeof(r));
        r.path = ctx->path;
        r.name = name;
        r.action = ScanActionRepaired;
        r.reason = why;
        refused = ctx->options.beforeRepair(&r, file, ctx->options.repairContext);
    }
    if (refused != 0 || SoundFile_Repair(file) != 0) {
        const int change = refused != 0 ? FileChangeNone : File_LastChange();
        SoundFile_Close(file);
        logAccessError(ctx, name);
        if (change != FileChangeNone)
            note(ctx, name, "not repaired: still being written? (%s)", File_ChangeText(change));
        out->failed += 1;
        reportFile(ctx, ctx->path, name, ScanActionFailed, refused != 0 ? "not journaled" : "cannot access file", &before,
                   declared, present);
        return;
    }
    SoundFile_GetInfo(file, &ctx->info);
    // The new header reaches the disk at the close: only a clean close makes
    // the file repaired, so the format line waits for it.
    if (SoundFile_Close(file) != 0) {
        snprintf(ctx->line, sizeof(ctx->line), "%s ERR:Can't Access File", name);
        emitLine(ctx);
        out->failed += 1;
        reportFile(ctx, ctx->path, name, ScanActionFailed, "cannot access file", &before, declared, present);
        return;
    }
    logLength(ctx, name);
    out->repaired += 1;
    noteBeyond32(ctx, name);
    reportFile(ctx, ctx->path, name, ScanActionRepaired, why, &before, declared, present);
}

// Lists the folder held in ctx->path (length folderLength) and works through
// its entries; depth counts the levels below the scanned folder.
static int scanFolder(ScanContext* ctx, size_t folderLength, int depth)
{
    DirListing listing;
    if (!DirListing_Open(&listing, ctx->path))
        return 0;
    while (DirListing_Next(&listing)) {
        if (scanRunning.load() == 0) {
            ctx->outcomes.stopped = 1;
            break;
        }
        const char* entryName = listing.name;
        if (entryName[0] == '.')
            continue;  // ".", ".." and hidden files
        const int isDir = listing.entryType == DirEntryDirectory;
        if (isDir && (!ctx->options.recursive || listing.entryIsLink || depth >= ScanMaxDepth))
            continue;  // links are not followed: a link to a parent folder would never end
        if (!isDir && listing.entryType != DirEntryFile)
            continue;  // a FIFO, device or socket would block or mean nothing
        const size_t length = joinPath(ctx->path, folderLength, entryName);
        if (length == 0) {
            if (isDir || SoundFile_HasSoundExtension(entryName)) {
                ctx->outcomes.notOpened += 1;
                note(ctx, entryName, "not examined: %s", "path too long");
                if (!isDir)
                    reportFile(ctx, entryName, entryName, ScanActionNotExamined, "path too long", nullptr, 0, 0);
            }
            continue;
        }
        // Below the scanned folder a bare name is ambiguous: name the file by
        // its path from there.
        const char* shownName = depth == 0 ? entryName : ctx->path + ctx->rootLength;
        if (isDir) {
            if (!scanFolder(ctx, length, depth + 1)) {
                ctx->outcomes.notOpened += 1;
                note(ctx, shownName, "not examined: %s", "cannot list folder");
            }
        } else if (listing.entryIsLink && !ctx->options.followLinks) {
            // The file it leads to may lie outside the folder.
            if (SoundFile_HasSoundExtension(entryName)) {
                ctx->outcomes.notOpened += 1;
                note(ctx, shownName, "not examined: %s", "a link, not followed");
            }
        } else {
            examineFile(ctx, shownName);
        }
        ctx->path[folderLength] = '\0';
        if (ctx->outcomes.stopped)
            break;
    }
    DirListing_Close(&listing);
    return 1;
}

uint32_t ScanWorker_Run(AppState* app)
{
    ScanContext ctx;
    Mem_Zero(&ctx, sizeof(ctx));
    ctx.app = app;
    ctx.options = scanOptions;
    if (app == nullptr)
        return 0;
    size_t n = strnlen(app->folderPath, sizeof(app->folderPath));
    if (n > 0 && n < sizeof(ctx.path)) {
        memcpy(ctx.path, app->folderPath, n);
        ctx.path[n] = '\0';
        ctx.rootLength = Path_IsSeparator(ctx.path[n - 1]) ? n : n + 1;
        ctx.outcomes.folderListed = scanFolder(&ctx, n, 0);
    }
    if (ctx.options.outcomes != nullptr)
        *ctx.options.outcomes = ctx.outcomes;
    return 0;
}

static uint32_t threadBody(void* param)
{
    return ScanWorker_Run(static_cast<AppState*>(param));
}

void ScanWorker_SetOptions(const ScanOptions* options)
{
    if (options != nullptr)
        scanOptions = *options;
    else
        Mem_Zero(&scanOptions, sizeof(scanOptions));
}

void ScanWorker_Start(AppState* app)
{
    scanRunning.store(0);
    ScanThread_Join(&scanThread);
    if (scanOptions.outcomes != nullptr)
        Mem_Zero(scanOptions.outcomes, sizeof(*scanOptions.outcomes));
    // A request made before this point, or while it runs, leaves 0 behind:
    // the request is stored before its flag is cleared.
    scanRunning.store(1);
    if (stopRequested.load() != 0)
        scanRunning.store(0);
    ScanThread_Create(&scanThread, threadBody, app);
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
