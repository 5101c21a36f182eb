// Ctrl-C and listing failures over POSIX: sigaction and errno.
#include "cliplatform.h"

#include <signal.h>
#include <string.h>

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
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
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
