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
        if (file->errorCode == SoundFileErrCannotOpen) {
            const int failure = File_LastOpenFailure();
            // A recorder may hold it: the log says so as it does for a failure.
            if (failure == FileOpenFailInUse)
                logAccessError(ctx, name);
            note(ctx, name, "not examined: cannot open (%s)", File_OpenFailureText(failure));
        } else
            note(ctx, name, "not examined: %s", file->errorText);
        return;
    }
    if (!file->isOpen)
        return;  // not a sound file by its name
    out->examined += 1;

    SoundFile_GetInfo(file, &ctx->info);
    // The offset of an open file is unsigned: a data chunk placed beyond
    // 2 GiB must not turn into a negative offset and so a false repair.
    const int64_t dataOffset = static_cast<int64_t>(SoundFile_GetDataOffset(file));
    const int64_t present = SoundFile_GetFileSize(file) - dataOffset;
    const int64_t declared = ctx->info.dataBytes;

    if (present <= 0) {
        out->headerOk += 1;  // a header without samples: nothing to cover
        SoundFile_Close(file);
        return;
    }
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
        return;
    }
    if (present <= declared || trailer == 1) {
        snprintf(ctx->line, sizeof(ctx->line), "%s HEADER OK !", name);
        emitLine(ctx);
        out->headerOk += 1;
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

    if (checkOnly) {
        out->needRepair += 1;
        SoundFile_Close(file);
        return;
    }
    if (SoundFile_Repair(file) != 0) {
        const int change = File_LastChange();
        SoundFile_Close(file);
        logAccessError(ctx, name);
        if (change != FileChangeNone)
            note(ctx, name, "not repaired: still being written? (%s)", File_ChangeText(change));
        out->failed += 1;
        return;
    }
    SoundFile_GetInfo(file, &ctx->info);
    // The new header reaches the disk at the close: only a clean close makes
    // the file repaired, so the format line waits for it.
    if (SoundFile_Close(file) != 0) {
        snprintf(ctx->line, sizeof(ctx->line), "%s ERR:Can't Access File", name);
        emitLine(ctx);
        out->failed += 1;
        return;
    }
    logLength(ctx, name);
    out->repaired += 1;
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
