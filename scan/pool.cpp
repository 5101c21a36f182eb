#include "pool.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "scanplatform.h"

namespace {

// An idle examiner is woken when no examiner works, or when this many files
// wait: on a warm cache a file takes microseconds and a wake-up as long, so
// busy examiners take the next file themselves, and more of them join only
// as files pile up (on slow storage, at once).
const uint64_t WakeBacklog = 8;
// Files the listing gathers before it queues them under one lock.
const uint32_t ListBatch = 16;
// Items per examiner.
const uint64_t ItemsPerJob = 4;

enum { ItemFree = 0, ItemPending = 1, ItemTaken = 2, ItemDone = 3 };

struct Item {
    int32_t state;                // Item*
    uint64_t seq;                 // its place in the queue
    size_t nameAt;                // where in path the name the lines use begins
    char path[ScanPathCapacity];  // the full path; a listing's word: the name
    ScanResult result;
};

struct Listed {
    char path[ScanPathCapacity];
    size_t nameAt;
};

struct Examiner {
    ScanThread thread;
    ScanPool* pool;
    void* scratch;
};

}  // namespace

// A ring of items from head (the next to give out) over take (the next to
// examine) to tail (the next to fill). Each side is woken only when it waits.
struct ScanPool {
    ScanPoolCalls calls;
    ScanLock lock;
    ScanSignal work;         // examiners: an item queued, the listing over
    ScanSignal room;         // the listing: an item given out, an examiner gone
    ScanSignal turn;         // examiners that wait for their turn: an item given out
    int32_t turnWaits;       // examiners waiting on turn
    int32_t jobs;
    int32_t examiners;       // examiner threads started
    int32_t idle;            // examiners waiting on work
    int32_t listerWaits;     // 1 while the listing waits on room
    Item* items;
    Listed* gathered;        // files gathered, not yet queued (listing thread only)
    uint32_t gatheredCount;
    uint64_t capacity;
    uint64_t head;
    uint64_t take;
    uint64_t tail;
    int32_t listed;          // 1 once the listing has queued its last item
    Examiner* pack;
};

namespace {

// Gives out, in order, every done item at the head of the queue (P2). The
// lock is held.
void GiveOut(ScanPool* pool)
{
    while (pool->head < pool->tail) {
        Item* item = &pool->items[pool->head % pool->capacity];
        if (item->state != ItemDone)
            break;
        pool->calls.deliver(item->path, item->path + item->nameAt, &item->result, pool->calls.context);
        item->state = ItemFree;
        pool->head += 1;
    }
    if (pool->turnWaits > 0)
        ScanSignal_WakeAll(&pool->turn);
    // The listing's own words may go out before an examiner passed them.
    if (pool->take < pool->head)
        pool->take = pool->head;
    if (pool->listerWaits)
        ScanSignal_WakeOne(&pool->room);
}

// The free item at the tail once there is room (the lock held); null when a
// stop came first. Only the listing thread fills items, and the examiners
// and GiveOut look at nothing from tail on.
Item* TailItem(ScanPool* pool)
{
    while (pool->calls.running() && pool->tail - pool->head >= pool->capacity) {
        if (pool->idle > 0)
            ScanSignal_WakeAll(&pool->work);  // a full queue needs every examiner
        pool->listerWaits = 1;
        ScanSignal_Wait(&pool->room, &pool->lock);
        pool->listerWaits = 0;
    }
    if (!pool->calls.running())
        return nullptr;
    return &pool->items[pool->tail % pool->capacity];
}

// Queues the files gathered, in order, each once there is room, and wakes
// examiners for them. 0 when a stop came first: the rest are never examined.
int Flush(ScanPool* pool)
{
    uint32_t queued = 0;
    ScanLock_Acquire(&pool->lock);
    while (queued < pool->gatheredCount) {
        Item* item = TailItem(pool);
        if (item == nullptr)
            break;
        const Listed* listed = &pool->gathered[queued++];
        memcpy(item->path, listed->path, strlen(listed->path) + 1);
        item->nameAt = listed->nameAt;
        item->state = ItemPending;
        item->seq = pool->tail;
        pool->tail += 1;
    }
    const uint64_t waiting = pool->tail - pool->take;
    uint64_t wakes = waiting / WakeBacklog;
    if (wakes == 0 && waiting > 0 && pool->idle == pool->examiners)
        wakes = 1;
    for (uint64_t i = 0; i < wakes && i < uint64_t(pool->idle); ++i)
        ScanSignal_WakeOne(&pool->work);
    ScanLock_Release(&pool->lock);
    const int all = queued == pool->gatheredCount;
    pool->gatheredCount = 0;
    return all;
}

uint32_t ExaminerBody(void* param)
{
    Examiner* self = static_cast<Examiner*>(param);
    ScanPool* pool = self->pool;
    ScanLock_Acquire(&pool->lock);
    for (;;) {
        while (pool->take < pool->tail && pool->items[pool->take % pool->capacity].state == ItemDone)
            pool->take += 1;  // the listing's own words: nothing to examine
        if (!pool->calls.running() || (pool->take == pool->tail && pool->listed))
            break;  // P3
        if (pool->take == pool->tail) {
            pool->idle += 1;
            ScanSignal_Wait(&pool->work, &pool->lock);
            pool->idle -= 1;
            continue;
        }
        Item* item = &pool->items[pool->take % pool->capacity];
        pool->take += 1;
        item->state = ItemTaken;
        ScanLock_Release(&pool->lock);

        const ScanEntry entry = {item->path, item->path + item->nameAt, item};
        pool->calls.examine(self->scratch, &entry, &item->result, pool->calls.context);

        ScanLock_Acquire(&pool->lock);
        item->state = ItemDone;
        GiveOut(pool);
    }
    // A listing that waits for room must see the stop, and so must the
    // examiners that wait for work.
    ScanSignal_WakeAll(&pool->room);
    ScanSignal_WakeAll(&pool->work);
    ScanLock_Release(&pool->lock);
    return 0;
}

// made: how many of the lock, work, room and turn exist, made in that order.
void Free(ScanPool* pool, int made)
{
    ScanSignal* signals[] = {&pool->work, &pool->room, &pool->turn};
    while (made > 1)
        ScanSignal_Destroy(signals[--made - 1]);
    if (made == 1)
        ScanLock_Destroy(&pool->lock);
    if (pool->pack != nullptr)
        for (int32_t i = 0; i < pool->jobs; ++i)
            free(pool->pack[i].scratch);
    free(pool->pack);
    free(pool->gathered);
    free(pool->items);
    free(pool);
}

}  // namespace

ScanPool* ScanPool_Start(int32_t jobs, const ScanPoolCalls* calls)
{
    if (jobs > ScanMaxJobs)
        jobs = ScanMaxJobs;
    ScanPool* pool = static_cast<ScanPool*>(calloc(1, sizeof(ScanPool)));
    if (pool == nullptr || jobs < 1) {
        free(pool);
        return nullptr;
    }
    pool->calls = *calls;
    pool->jobs = jobs;
    pool->capacity = uint64_t(jobs) * ItemsPerJob;
    pool->items = static_cast<Item*>(calloc(size_t(pool->capacity), sizeof(Item)));
    pool->gathered = static_cast<Listed*>(calloc(ListBatch, sizeof(Listed)));
    pool->pack = static_cast<Examiner*>(calloc(size_t(jobs), sizeof(Examiner)));
    int ready = pool->items != nullptr && pool->gathered != nullptr && pool->pack != nullptr;
    for (int32_t i = 0; ready && i < jobs; ++i)
        ready = (pool->pack[i].scratch = calloc(1, calls->scratchSize)) != nullptr;
    ScanSignal* signals[] = {&pool->work, &pool->room, &pool->turn};
    int made = ready && ScanLock_Init(&pool->lock) == 0 ? 1 : 0;
    while (made >= 1 && made <= 3 && ScanSignal_Init(signals[made - 1]) == 0)
        made += 1;
    int32_t started = 0;
    if (made == 4) {
        for (int32_t i = 0; i < jobs; ++i) {
            pool->pack[i].pool = pool;
            if (ScanThread_Create(&pool->pack[i].thread, ExaminerBody, &pool->pack[i]) == 0)
                started += 1;
        }
    }
    if (started == 0) {
        Free(pool, made);
        return nullptr;
    }
    ScanLock_Acquire(&pool->lock);
    pool->examiners = started;
    ScanLock_Release(&pool->lock);
    return pool;
}

int32_t ScanPool_AddFile(ScanPool* pool, const char* path, size_t nameAt)
{
    Listed* listed = &pool->gathered[pool->gatheredCount++];
    memcpy(listed->path, path, strlen(path) + 1);
    listed->nameAt = nameAt;
    return pool->gatheredCount < ListBatch || Flush(pool);
}

int32_t ScanPool_AddDone(ScanPool* pool, const char* name, const ScanResult* result)
{
    if (pool->gatheredCount > 0 && !Flush(pool))
        return 0;
    ScanLock_Acquire(&pool->lock);
    Item* item = TailItem(pool);
    if (item != nullptr) {
        snprintf(item->path, sizeof(item->path), "%s", name);
        item->nameAt = 0;
        item->result = *result;
        item->state = ItemDone;
        pool->tail += 1;
        GiveOut(pool);
    }
    ScanLock_Release(&pool->lock);
    return item != nullptr;
}

void ScanPool_AwaitTurn(ScanPool* pool, void* turn)
{
    const Item* item = static_cast<const Item*>(turn);
    ScanLock_Acquire(&pool->lock);
    while (pool->head < item->seq) {
        pool->turnWaits += 1;
        ScanSignal_Wait(&pool->turn, &pool->lock);
        pool->turnWaits -= 1;
    }
    ScanLock_Release(&pool->lock);
}

void ScanPool_Lock(ScanPool* pool)
{
    ScanLock_Acquire(&pool->lock);
}

void ScanPool_Unlock(ScanPool* pool)
{
    ScanLock_Release(&pool->lock);
}

int32_t ScanPool_Finish(ScanPool* pool)
{
    int32_t stopped = pool->gatheredCount > 0 && !Flush(pool);
    ScanLock_Acquire(&pool->lock);
    pool->listed = 1;
    ScanSignal_WakeAll(&pool->work);
    ScanLock_Release(&pool->lock);
    for (int32_t i = 0; i < pool->jobs; ++i)
        ScanThread_Join(&pool->pack[i].thread);
    GiveOut(pool);  // every examiner is gone: no lock needed
    if (pool->head < pool->tail)
        stopped = 1;  // queued, never examined (P3)
    Free(pool, 4);
    return stopped;
}

int32_t ScanPool_DefaultJobs(void)
{
    const int32_t cpus = ScanPlatform_CpuCount();
    return cpus >= ScanMaxJobs / ScanJobsPerCpu ? ScanMaxJobs : cpus * ScanJobsPerCpu;
}
