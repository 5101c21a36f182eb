// Ctrl-C and listing failures over Win32: a console control handler; the
// Find* listing leaves errno alone, so no reason is given.
#include "cliplatform.h"

#include <windows.h>

static void (*interruptHandler)(void);

static BOOL WINAPI onConsoleBreak(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        interruptHandler();
        return TRUE;
    }
    return FALSE;
}

int32_t CliPlatform_CatchInterrupts(void (*onInterrupt)(void))
{
    interruptHandler = onInterrupt;
    SetConsoleCtrlHandler(onConsoleBreak, TRUE);
    return 0;
}

const char* CliPlatform_ListFailure(int error)
{
    (void)error;
    return nullptr;
}
