// The scan worker. One thread lists the folder and, file by file, opens each
// sound file, compares what its header declares with what the file holds,
// repairs a short header and logs the outcome. A stop is honoured between
// files only, so a file in hand is always finished, close included.
//
// With several jobs the listing thread queues the files instead, and the
// examiner threads run the same examination on them. Three rules keep the
// output that of the one-thread scan:
//   P1. Files are queued, and taken, in listing order; a word of the
//       listing's own (a link passed over, a folder that cannot be listed)
//       is queued as an item that is done already.
//   P2. What an item leaves for the callbacks (lines, notes, its report, its
//       counts) is kept with it and given out only when every item before
//       it has been, under the pool's lock, so the callbacks come one at a
//       time and in order.
//   P3. After a stop no item is taken; the taken ones are finished and,
//       being a prefix of the queue (P1), given out in full.
#include "scanworker.h"

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
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

// Words an item keeps: its lines, notes and report (P2).
enum { WordLine = 1, WordNote = 2, WordFile = 3 };

typedef struct ScanWord {
    int32_t kind;           // Word*
    const char* text;       // WordLine: the line; WordNote: the name
    const char* detail;     // WordNote: the text
    ScanFileReport report;  // WordFile, its strings in the item's text
} ScanWord;

// Most words one file leaves: two lines, two notes, its report, and room.
#define ScanItemWords 8
// Room for those words' text: lines, two notes of a path and a reason, and
// the report's path, name and reason.
#define ScanItemText (2 * ScanLineCapacity + 5 * ScanPathCapacity + 4 * 1100)

enum { ItemFree = 0, ItemPending = 1, ItemTaken = 2, ItemDone = 3 };

// One entry of a parallel scan: a file to examine, or a word of the listing.
typedef struct ScanItem {
    int32_t state;                 // Item*
    size_t nameAt;                 // where in path the name the lines use begins
    char path[ScanPathCapacity];   // the full path
    ScanOutcomes counts;           // what it adds to the scan's outcomes
    uint32_t wordCount;
    ScanWord words[ScanItemWords];
    size_t textUsed;
    char text[ScanItemText];
} ScanItem;

struct ScanPool;

// Everything one scan, or one examiner of it, works with.
typedef struct ScanContext {
    AppState* app;                     // folderPath and logBuffer
    ScanOptions options;               // a copy taken when the scan starts
    ScanOutcomes outcomes;             // counted here, copied out at the end
    ScanOutcomes* counts;              // where the entry in hand counts: outcomes, or its item's
    ScanItem* item;                    // the entry in hand of a parallel scan; null: words go out at once
    struct ScanPool* pool;             // the parallel scan's queue; null in a one-thread scan
    char path[ScanPathCapacity];       // the folder being listed, then each entry's full path
    size_t rootLength;                 // length of the scanned folder with its separator
    char line[ScanLineCapacity];       // the line being formatted
    SoundFile file;                    // the file in hand
    SoundFileInfo info;                // its summary
} ScanContext;

static void sendLine(ScanContext* ctx, const char* line)
{
    LogBuffer_AppendLine(&ctx->app->logBuffer, line);
    if (ctx->options.onLine != nullptr)
        ctx->options.onLine(line, ctx->options.lineContext);
}

// Copies text into the item; null when no room is left (cannot happen
// within ScanItemText; a word is then left out rather than overrun).
static const char* keepText(ScanItem* item, const char* text)
{
    const size_t n = strlen(text) + 1;
    if (n > sizeof(item->text) - item->textUsed)
        return nullptr;
    char* at = item->text + item->textUsed;
    memcpy(at, text, n);
    item->textUsed += n;
    return at;
}

static ScanWord* newWord(ScanItem* item, int32_t kind)
{
    if (item->wordCount >= ScanItemWords)
        return nullptr;
    ScanWord* word = &item->words[item->wordCount];
    Mem_Zero(word, sizeof(*word));
    word->kind = kind;
    return word;
}

static void emitLine(ScanContext* ctx)
{
    if (ctx->item == nullptr) {
        sendLine(ctx, ctx->line);
        return;
    }
    ScanWord* word = newWord(ctx->item, WordLine);
    if (word != nullptr && (word->text = keepText(ctx->item, ctx->line)) != nullptr)
        ctx->item->wordCount += 1;
}

static void sendNote(ScanContext* ctx, const char* name, const char* text)
{
    if (ctx->item == nullptr) {
        ctx->options.onNote(name, text, ctx->options.noteContext);
        return;
    }
    ScanWord* word = newWord(ctx->item, WordNote);
    if (word != nullptr && (word->text = keepText(ctx->item, name)) != nullptr &&
        (word->detail = keepText(ctx->item, text)) != nullptr)
        ctx->item->wordCount += 1;
}

static void sendFile(ScanContext* ctx, const ScanFileReport* report)
{
    if (ctx->item == nullptr) {
        ctx->options.onFile(report, ctx->options.fileContext);
        return;
    }
    ScanWord* word = newWord(ctx->item, WordFile);
    if (word == nullptr)
        return;
    word->report = *report;
    word->report.path = keepText(ctx->item, report->path);
    word->report.name = keepText(ctx->item, report->name);
    word->report.reason = keepText(ctx->item, report->reason);
    if (word->report.path != nullptr && word->report.name != nullptr && word->report.reason != nullptr)
        ctx->item->wordCount += 1;
}

static void addCounts(ScanOutcomes* to, const ScanOutcomes* from)
{
    to->examined += from->examined;
    to->headerOk += from->headerOk;
    to->repaired += from->repaired;
    to->needRepair += from->needRepair;
    to->failed += from->failed;
    to->notOpened += from->notOpened;
    to->noSamples += from->noSamples;
}

// The queue of a parallel scan: a ring of items from head (the next to give
// out) over take (the next to examine) to tail (the next to fill).
// Each side is woken only when it waits. An idle examiner is woken when no
// examiner works, or when ScanWakeBacklog files wait: on a warm cache a file
// takes microseconds and a wake-up as long, so busy examiners take the next
// file themselves, and more of them join only as files pile up (on slow
// storage, at once).
static const uint64_t ScanWakeBacklog = 8;

// Files the listing gathers before it queues them under one lock.
#define ScanListBatch 16

typedef struct ScanListed {
    char path[ScanPathCapacity];
    size_t nameAt;
} ScanListed;

typedef struct ScanPool {
    ScanLock lock;
    ScanSignal work;         // examiners: an item queued, the listing over
    ScanSignal room;         // the listing: an item given out, an examiner gone
    int32_t examiners;       // examiner threads started
    int32_t idle;            // examiners waiting on work
    int32_t listerWaits;     // 1 while the listing waits on room
    ScanItem* items;
    ScanListed* gathered;    // files the listing gathered, not yet queued (listing thread only)
    uint32_t gatheredCount;
    uint64_t capacity;
    uint64_t head;
    uint64_t take;
    uint64_t tail;
    int32_t listed;          // 1 once the listing has queued its last item
    ScanContext* scan;       // the listing thread's context: it keeps the outcomes
} ScanPool;

// beforeRepair comes one at a time, as the other callbacks (P2).
static void lockCallbacks(ScanContext* ctx)
{
    if (ctx->pool != nullptr)
        ScanLock_Acquire(&ctx->pool->lock);
}

static void unlockCallbacks(ScanContext* ctx)
{
    if (ctx->pool != nullptr)
        ScanLock_Release(&ctx->pool->lock);
}

// Passes a word on the file name to onNote: text, formatted.
static void note(ScanContext* ctx, const char* name, const char* format, const char* detail)
{
    if (ctx->options.onNote == nullptr)
        return;
    char text[sizeof(ctx->file.errorText) + 64];
    snprintf(text, sizeof(text), format, detail);
    sendNote(ctx, name, text);
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
    sendFile(ctx, &r);
}

static void logAccessError(ScanContext* ctx, const char* name)
{
    snprintf(ctx->line, sizeof(ctx->line), "%s ERR:Can't Access File", name);
    emitLine(ctx);
}

static void logLength(ScanContext* ctx, const char* name)
{
    char format[96];
    SoundFile_DescribeFormat(format, sizeof(format), ctx->info.sampleRate, ctx->info.channels, ctx->info.durationMs);
    snprintf(ctx->line, sizeof(ctx->line), "%s %s", name, format);
    emitLine(ctx);
}

// Examines the file at path; name is how the lines call it. The one
// examination, of a one-thread scan and of every examiner of a parallel one.
static void examineFile(ScanContext* ctx, const char* path, const char* name)
{
    ScanOutcomes* out = ctx->counts;
    SoundFile* file = &ctx->file;
    const int checkOnly = ctx->options.checkOnly != 0;

    Mem_Zero(file, sizeof(*file));
    if (SoundFile_Open(file, path, checkOnly ? SoundFileOpenReadShared : SoundFileOpenReadWrite) != 0) {
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
        reportFile(ctx, path, name, ScanActionNotExamined, reason, nullptr, 0, 0);
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
        reportFile(ctx, path, name, ScanActionOk, "no samples", &before, declared, present < 0 ? 0 : present);
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
        reportFile(ctx, path, name, ScanActionFailed, "cannot read what follows the samples", &before, declared, present);
        return;
    }
    if (present <= declared || trailer == 1) {
        snprintf(ctx->line, sizeof(ctx->line), "%s HEADER OK !", name);
        emitLine(ctx);
        out->headerOk += 1;
        noteBeyond32(ctx, name);
        reportFile(ctx, path, name, ScanActionOk, trailer == 1 ? "metadata behind the samples" : nullptr, &before, declared,
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
        reportFile(ctx, path, name, ScanActionNeedsRepair, why, &before, declared, present);
        SoundFile_Close(file);
        return;
    }
    int32_t refused = 0;
    if (ctx->options.beforeRepair != nullptr) {
        ScanFileReport r;
        Mem_Zero(&r, sizeof(r));
        r.path = path;
        r.name = name;
        r.action = ScanActionRepaired;
        r.reason = why;
        lockCallbacks(ctx);
        refused = ctx->options.beforeRepair(&r, file, ctx->options.repairContext);
        unlockCallbacks(ctx);
    }
    if (refused != 0 || SoundFile_Repair(file) != 0) {
        const int change = refused != 0 ? FileChangeNone : File_LastChange();
        SoundFile_Close(file);
        logAccessError(ctx, name);
        if (change != FileChangeNone)
            note(ctx, name, "not repaired: still being written? (%s)", File_ChangeText(change));
        out->failed += 1;
        reportFile(ctx, path, name, ScanActionFailed, refused != 0 ? "not journaled" : "cannot access file", &before,
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
        reportFile(ctx, path, name, ScanActionFailed, "cannot access file", &before, declared, present);
        return;
    }
    logLength(ctx, name);
    out->repaired += 1;
    noteBeyond32(ctx, name);
    reportFile(ctx, path, name, ScanActionRepaired, why, &before, declared, present);
}

// Gives out, in order, every done item at the head of the queue (P2). The
// pool's lock is held.
static void giveOut(ScanPool* pool)
{
    ScanContext* ctx = pool->scan;
    while (pool->head < pool->tail) {
        ScanItem* item = &pool->items[pool->head % pool->capacity];
        if (item->state != ItemDone)
            break;
        for (uint32_t i = 0; i < item->wordCount; ++i) {
            const ScanWord* word = &item->words[i];
            if (word->kind == WordLine)
                sendLine(ctx, word->text);
            else if (word->kind == WordNote)
                ctx->options.onNote(word->text, word->detail, ctx->options.noteContext);
            else
                ctx->options.onFile(&word->report, ctx->options.fileContext);
        }
        addCounts(&ctx->outcomes, &item->counts);
        item->state = ItemFree;
        pool->head += 1;
    }
    // The listing's own words may go out before an examiner passed them.
    if (pool->take < pool->head)
        pool->take = pool->head;
    if (pool->listerWaits)
        ScanSignal_WakeOne(&pool->room);
}

// The free item at the tail, emptied, once there is room (the pool's lock
// held); null when a stop came first. Only the listing thread fills items,
// and the examiners and giveOut look at nothing from tail on.
static ScanItem* tailItem(ScanPool* pool)
{
    while (scanRunning.load() != 0 && pool->tail - pool->head >= pool->capacity) {
        if (pool->idle > 0)
            ScanSignal_WakeAll(&pool->work);  // a full queue needs every examiner
        pool->listerWaits = 1;
        ScanSignal_Wait(&pool->room, &pool->lock);
        pool->listerWaits = 0;
    }
    if (scanRunning.load() == 0)
        return nullptr;
    ScanItem* item = &pool->items[pool->tail % pool->capacity];
    Mem_Zero(&item->counts, sizeof(item->counts));
    item->wordCount = 0;
    item->textUsed = 0;
    return item;
}

// Puts the files the listing has gathered into the queue, in order, each
// once there is room, and wakes examiners for them. 0 when a stop came
// first: the rest are never examined.
static int flushListed(ScanContext* ctx)
{
    ScanPool* pool = ctx->pool;
    uint32_t queued = 0;
    ScanLock_Acquire(&pool->lock);
    while (queued < pool->gatheredCount) {
        ScanItem* item = tailItem(pool);
        if (item == nullptr)
            break;
        const ScanListed* listed = &pool->gathered[queued++];
        memcpy(item->path, listed->path, strlen(listed->path) + 1);
        item->nameAt = listed->nameAt;
        item->state = ItemPending;
        pool->tail += 1;
    }
    const uint64_t waiting = pool->tail - pool->take;
    uint64_t wakes = waiting / ScanWakeBacklog;
    if (wakes == 0 && waiting > 0 && pool->idle == pool->examiners)
        wakes = 1;
    for (uint64_t i = 0; i < wakes && i < uint64_t(pool->idle); ++i)
        ScanSignal_WakeOne(&pool->work);
    ScanLock_Release(&pool->lock);
    const int all = queued == pool->gatheredCount;
    pool->gatheredCount = 0;
    return all;
}

// The file at ctx->path, its name at nameAt: examined now in a one-thread
// scan, gathered for the queue in a parallel one (P1). 0 when a stop came.
static int listFile(ScanContext* ctx, size_t nameAt)
{
    ScanPool* pool = ctx->pool;
    if (pool == nullptr) {
        ctx->counts = &ctx->outcomes;
        examineFile(ctx, ctx->path, ctx->path + nameAt);
        return 1;
    }
    ScanListed* listed = &pool->gathered[pool->gatheredCount++];
    memcpy(listed->path, ctx->path, strlen(ctx->path) + 1);
    listed->nameAt = nameAt;
    return pool->gatheredCount < ScanListBatch || flushListed(ctx);
}

// Starts the words of the listing's own on the next entry. In a parallel
// scan that is a new item at the tail, behind the files gathered, once
// there is room; 0 when a stop came first.
static int beginEntry(ScanContext* ctx)
{
    ScanPool* pool = ctx->pool;
    if (pool == nullptr) {
        ctx->counts = &ctx->outcomes;
        return 1;
    }
    if (pool->gatheredCount > 0 && !flushListed(ctx))
        return 0;
    ScanLock_Acquire(&pool->lock);
    ScanItem* item = tailItem(pool);
    ScanLock_Release(&pool->lock);
    if (item == nullptr)
        return 0;
    item->nameAt = 0;
    item->path[0] = '\0';
    ctx->item = item;
    ctx->counts = &item->counts;
    return 1;
}

// Ends the words begun: queues them as an item that is done.
static void endEntry(ScanContext* ctx)
{
    ScanPool* pool = ctx->pool;
    if (pool == nullptr)
        return;
    ScanItem* item = ctx->item;
    ctx->item = nullptr;
    ctx->counts = &ctx->outcomes;
    ScanLock_Acquire(&pool->lock);
    item->state = ItemDone;
    pool->tail += 1;
    giveOut(pool);
    ScanLock_Release(&pool->lock);
}

// The listing's own word on an entry it passes over (P1), with a report
// when it is a sound file. 0 when a stop came first.
static int passOver(ScanContext* ctx, const char* name, const char* reason, int isFile)
{
    if (!beginEntry(ctx)) {
        ctx->outcomes.stopped = 1;
        return 0;
    }
    ctx->counts->notOpened += 1;
    note(ctx, name, "not examined: %s", reason);
    if (isFile)
        reportFile(ctx, name, name, ScanActionNotExamined, reason, nullptr, 0, 0);
    endEntry(ctx);
    return 1;
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
            if ((isDir || SoundFile_HasSoundExtension(entryName)) && !passOver(ctx, entryName, "path too long", !isDir))
                break;
            continue;
        }
        // Below the scanned folder a bare name is ambiguous: name the file by
        // its path from there.
        const size_t nameAt = depth == 0 ? length - strlen(entryName) : ctx->rootLength;
        const char* shownName = ctx->path + nameAt;
        if (isDir) {
            if (!scanFolder(ctx, length, depth + 1))
                passOver(ctx, shownName, "cannot list folder", 0);
        } else if (listing.entryIsLink && !ctx->options.followLinks) {
            // The file it leads to may lie outside the folder.
            if (SoundFile_HasSoundExtension(entryName))
                passOver(ctx, shownName, "a link, not followed", 0);
        } else if (!listFile(ctx, nameAt)) {
            ctx->outcomes.stopped = 1;
        }
        ctx->path[folderLength] = '\0';
        if (ctx->outcomes.stopped)
            break;
    }
    DirListing_Close(&listing);
    return 1;
}

// One examiner of a parallel scan: its own context (file, line), the pool.
typedef struct ScanExaminer {
    ScanThread thread;
    ScanPool* pool;
    ScanContext ctx;
} ScanExaminer;

static uint32_t examinerBody(void* param)
{
    ScanExaminer* self = static_cast<ScanExaminer*>(param);
    ScanPool* pool = self->pool;
    ScanContext* ctx = &self->ctx;
    ScanLock_Acquire(&pool->lock);
    for (;;) {
        while (pool->take < pool->tail && pool->items[pool->take % pool->capacity].state == ItemDone)
            pool->take += 1;  // the listing's own words: nothing to examine
        if (scanRunning.load() == 0 || (pool->take == pool->tail && pool->listed))
            break;  // P3
        if (pool->take == pool->tail) {
            pool->idle += 1;
            ScanSignal_Wait(&pool->work, &pool->lock);
            pool->idle -= 1;
            continue;
        }
        ScanItem* item = &pool->items[pool->take % pool->capacity];
        pool->take += 1;
        item->state = ItemTaken;
        ScanLock_Release(&pool->lock);

        ctx->item = item;
        ctx->counts = &item->counts;
        examineFile(ctx, item->path, item->path + item->nameAt);
        ctx->item = nullptr;

        ScanLock_Acquire(&pool->lock);
        item->state = ItemDone;
        giveOut(pool);
    }
    // A listing that waits for room must see the stop, and so must the
    // examiners that wait for work.
    ScanSignal_WakeAll(&pool->room);
    ScanSignal_WakeAll(&pool->work);
    ScanLock_Release(&pool->lock);
    return 0;
}

static void runFolder(ScanContext* ctx)
{
    const size_t n = strlen(ctx->path);
    ctx->counts = &ctx->outcomes;
    ctx->outcomes.folderListed = scanFolder(ctx, n, 0);
}

// The parallel scan: jobs examiners on a queue of four items each. 0 when
// not even one examiner could start (the caller then scans on its own).
static int runParallel(ScanContext* ctx, int32_t jobs)
{
    ScanPool pool;
    Mem_Zero(&pool, sizeof(pool));
    pool.capacity = uint64_t(jobs) * 4;
    pool.scan = ctx;
    pool.items = static_cast<ScanItem*>(calloc(size_t(pool.capacity), sizeof(ScanItem)));
    pool.gathered = static_cast<ScanListed*>(calloc(ScanListBatch, sizeof(ScanListed)));
    ScanExaminer* examiners = static_cast<ScanExaminer*>(calloc(size_t(jobs), sizeof(ScanExaminer)));
    int ready = pool.items != nullptr && pool.gathered != nullptr && examiners != nullptr;
    int lockMade = ready && ScanLock_Init(&pool.lock) == 0;
    int workMade = lockMade && ScanSignal_Init(&pool.work) == 0;
    int signalMade = workMade && ScanSignal_Init(&pool.room) == 0;
    int32_t started = 0;
    if (signalMade) {
        for (int32_t i = 0; i < jobs; ++i) {
            ScanExaminer* e = &examiners[i];
            e->pool = &pool;
            e->ctx.app = ctx->app;
            e->ctx.options = ctx->options;
            e->ctx.pool = &pool;
            e->ctx.rootLength = ctx->rootLength;
            if (ScanThread_Create(&e->thread, examinerBody, e) == 0)
                started += 1;
        }
    }
    if (started > 0) {
        ScanLock_Acquire(&pool.lock);
        pool.examiners = started;
        ScanLock_Release(&pool.lock);
        ctx->pool = &pool;
        runFolder(ctx);
        if (pool.gatheredCount > 0 && !flushListed(ctx))
            ctx->outcomes.stopped = 1;
        ScanLock_Acquire(&pool.lock);
        pool.listed = 1;
        ScanSignal_WakeAll(&pool.work);
        ScanLock_Release(&pool.lock);
        for (int32_t i = 0; i < jobs; ++i)
            ScanThread_Join(&examiners[i].thread);
        ctx->pool = nullptr;
        giveOut(&pool);  // every examiner is gone: no lock needed
        if (pool.head < pool.tail)
            ctx->outcomes.stopped = 1;  // queued, never examined (P3)
    }
    if (signalMade)
        ScanSignal_Destroy(&pool.room);
    if (workMade)
        ScanSignal_Destroy(&pool.work);
    if (lockMade)
        ScanLock_Destroy(&pool.lock);
    free(examiners);
    free(pool.gathered);
    free(pool.items);
    return started > 0;
}

uint32_t ScanWorker_Run(AppState* app)
{
    ScanContext* ctx = static_cast<ScanContext*>(calloc(1, sizeof(ScanContext)));
    if (ctx == nullptr)
        return 0;
    ctx->app = app;
    ctx->options = scanOptions;
    if (app != nullptr) {
        size_t n = strnlen(app->folderPath, sizeof(app->folderPath));
        if (n > 0 && n < sizeof(ctx->path)) {
            memcpy(ctx->path, app->folderPath, n);
            ctx->path[n] = '\0';
            ctx->rootLength = Path_IsSeparator(ctx->path[n - 1]) ? n : n + 1;
            const int32_t jobs = ctx->options.jobs > ScanMaxJobs ? ScanMaxJobs : ctx->options.jobs;
            if (jobs <= 1 || !runParallel(ctx, jobs))
                runFolder(ctx);
        }
        if (ctx->options.outcomes != nullptr)
            *ctx->options.outcomes = ctx->outcomes;
    }
    free(ctx);
    return 0;
}

int32_t ScanWorker_DefaultJobs(void)
{
    const int32_t cpus = ScanPlatform_CpuCount();
    return cpus >= ScanMaxJobs / ScanJobsPerCpu ? ScanMaxJobs : cpus * ScanJobsPerCpu;
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
