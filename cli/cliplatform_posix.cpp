// Ctrl-C and listing failures over POSIX: sigaction and errno.
#include "cliplatform.h"

#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static void (*interruptHandler)(void);

static void onSignal(int sig)
{
    interruptHandler();
    // A second Ctrl-C ends the program at once.
    signal(sig, SIG_DFL);
}

int32_t CliPlatform_CatchInterrupts(void (*onInterrupt)(void))
{
    interruptHandler = onInterrupt;
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;  // the file in hand is finished without interrupted calls
    sigemptyset(&action.sa_mask);
    static const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    sigset_t caught;
    sigemptyset(&caught);
    for (int sig : signals) {
        sigaction(sig, &action, nullptr);
        sigaddset(&caught, sig);
    }
    // A mask inherited from the parent would hold Ctrl-C back for good; one
    // already pending arrives here, before the scan starts.
    sigprocmask(SIG_UNBLOCK, &caught, nullptr);
    return 0;
}

const char* CliPlatform_ListFailure(int error)
{
    return error != 0 ? strerror(error) : "not a folder";
}

int32_t CliPlatform_Utf8Arguments(int* argc, char*** argv)
{
    (void)argc;
    (void)argv;
    return 0;
}

int32_t CliPlatform_Stamp(FileHandle handle, CliFileStamp* stamp)
{
    struct stat st;
    if (fstat(static_cast<int>(handle), &st) != 0)
        return -1;
    stamp->device = static_cast<uint64_t>(st.st_dev);
    stamp->inode = static_cast<uint64_t>(st.st_ino);
    stamp->size = static_cast<int64_t>(st.st_size);
    stamp->mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return 0;
}

int32_t CliPlatform_SetModified(FileHandle handle, int64_t mtimeNs)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(mtimeNs / 1000000000);
    times[1].tv_nsec = static_cast<long>(mtimeNs % 1000000000);
    return futimens(static_cast<int>(handle), times) == 0 ? 0 : -1;
}

int32_t CliPlatform_IsTerminal(FILE* stream)
{
    return isatty(fileno(stream)) ? 1 : 0;
}
