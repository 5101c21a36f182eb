// Ctrl-C, listing failures and UTF-8 arguments over Win32: a console
// control handler; the Find* listing leaves errno alone, so no reason is
// given; CommandLineToArgvW where the A arguments are not UTF-8.
#include "cliplatform.h"

#include <stdlib.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>

#include "fileio_win32.h"

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

int32_t CliPlatform_KeepBrokenPipes(void)
{
    return 0;  // no SIGPIPE: the write fails already
}

const char* CliPlatform_ListFailure(int error)
{
    (void)error;
    return nullptr;
}

int32_t CliPlatform_Utf8Arguments(int* argc, char*** argv)
{
    SetConsoleOutputCP(CP_UTF8);
    if (PathText_AnsiIsUtf8())
        return 0;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return -1;
    // Kept for the life of the program, as the runtime's own argv is.
    char** args = static_cast<char**>(calloc(static_cast<size_t>(count) + 1, sizeof(char*)));
    for (int i = 0; args != nullptr && i < count; ++i) {
        int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        args[i] = bytes > 0 ? static_cast<char*>(malloc(static_cast<size_t>(bytes))) : nullptr;
        if (args[i] == nullptr) {
            LocalFree(wide);
            return -1;
        }
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, args[i], bytes, nullptr, nullptr);
    }
    LocalFree(wide);
    if (args == nullptr)
        return -1;
    *argc = count;
    *argv = args;
    return 0;
}

int32_t CliPlatform_IsTerminal(FILE* stream)
{
    return _isatty(_fileno(stream)) ? 1 : 0;
}
