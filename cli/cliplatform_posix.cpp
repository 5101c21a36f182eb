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

int32_t CliPlatform_KeepBrokenPipes(void)
{
    signal(SIGPIPE, SIG_IGN);
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

int32_t CliPlatform_IsTerminal(FILE* stream)
{
    return isatty(fileno(stream)) ? 1 : 0;
}
