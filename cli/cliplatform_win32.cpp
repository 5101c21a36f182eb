// Ctrl-C and listing failures over Win32: a console control handler; the
// Find* listing leaves errno alone, so no reason is given.
#include "cliplatform.h"

#include <io.h>
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

// FILETIME counts 100 ns from 1601; the stamp counts ns from 1970.
static const int64_t FileTimeAt1970 = 116444736000000000LL;

int32_t CliPlatform_Stamp(FileHandle handle, CliFileStamp* stamp)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &info))
        return -1;
    stamp->device = info.dwVolumeSerialNumber;
    stamp->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp->size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                               info.ftLastWriteTime.dwLowDateTime);
    stamp->mtimeNs = (ticks - FileTimeAt1970) * 100;
    return 0;
}

int32_t CliPlatform_SetModified(FileHandle handle, int64_t mtimeNs)
{
    const uint64_t ticks = static_cast<uint64_t>(mtimeNs / 100 + FileTimeAt1970);
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    written.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return SetFileTime(reinterpret_cast<HANDLE>(handle), nullptr, nullptr, &written) ? 0 : -1;
}

int32_t CliPlatform_IsTerminal(FILE* stream)
{
    return _isatty(_fileno(stream)) ? 1 : 0;
}
