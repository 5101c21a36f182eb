// The scan worker's life: one thread at a time runs a scan (run.h), and a
// stop asked from any thread reaches it between files only, so that a file
// in hand is always finished, close included.
#include "scanworker.h"

#include <string.h>

#include <atomic>

#include "run.h"

static ScanThread scanThread;
static ScanTarget scanTarget;
static std::atomic<int32_t> scanRunning{0};
// Set by a stop request and kept until ScanWorker_Stop: a Ctrl-C that comes
// before the command-line scanner's start must stop the scan it starts.
static std::atomic<int32_t> stopRequested{0};
static ScanOptions scanOptions;

static_assert(std::atomic<int32_t>::is_always_lock_free, "the stop request must be safe in a signal handler");

static int32_t running(void)
{
    return scanRunning.load() != 0;
}

uint32_t ScanWorker_Run(const ScanTarget* target)
{
    ScanRun_Folder(target, &scanOptions, running);
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
