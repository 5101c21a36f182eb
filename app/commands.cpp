// The menu commands: choose a folder and scan it, show the About box, quit.
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "app.h"

#include <commdlg.h>

#include "fileio.h"
#include "fileio_win32.h"
#include "logbuffer.h"
#include "resources/resource.h"
#include "scanworker.h"
#include "texts.h"

enum { AppFileBufferSize = 260 };

// The dialog record of Windows 95/NT 4, without the fields later versions
// appended: 76 bytes in the 32-bit program.
#define AppOpenFileNameSize OPENFILENAME_SIZE_VERSION_400A
#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76,
              "the 32-bit dialog record is 76 bytes");
#endif

// Written once, for the A and the W dialog: the long takes' containers are
// a pair of their own.
#define APP_FILE_FILTER                                                                                    \
    "Wave File (*.wav)\0*.wav\0Wave64, RF64, BW64 (*.w64;*.rf64;*.bw64)\0*.w64;*.rf64;*.bw64\0All (*.*)\0*.*\0\0"
static const char AppFileFilter[] = APP_FILE_FILTER;
static_assert(sizeof(AppFileFilter) == 101, "six texts, then two NULs");
static const wchar_t AppFileFilterW[] = L"" APP_FILE_FILTER;
static_assert(sizeof(AppFileFilterW) == sizeof(AppFileFilter) * sizeof(wchar_t), "the same list");

// The same dialog through the W entry point, for where the A ones do not
// carry UTF-8: a name outside the code page would come back as '?'.
static int App_ChooseFolderWide(HWND owner, AppState* app)
{
    wchar_t file[AppFileBufferSize];
    memset(file, 0, sizeof(file));
    wcscpy(file, L"*.wav");

    OPENFILENAMEW dialog;
    memset(&dialog, 0, sizeof(dialog));
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = AppFileFilterW;
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = file;
    dialog.nMaxFile = AppFileBufferSize;
    dialog.lpstrInitialDir = nullptr;
    dialog.lpstrTitle = L"Select File To Scan";
    dialog.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_NONETWORKBUTTON | OFN_ENABLESIZING;
    if (GetOpenFileNameW(&dialog) != TRUE)
        return 0;
    file[AppFileBufferSize - 1] = L'\0';
    // 259 units take at most 777 bytes of UTF-8: folderPath holds them.
    if (!PathText_FromWide(file, app->folderPath, AppFolderPathCapacity))
        return 0;
    Path_StripFileName(app->folderPath);
    return 1;
}

int App_ChooseFolder(HWND owner, AppState* app)
{
    if (!PathText_AnsiIsUtf8())
        return App_ChooseFolderWide(owner, app);

    char file[AppFileBufferSize];
    memset(file, 0, sizeof(file));
    strcpy(file, "*.wav");

    OPENFILENAMEA dialog;
    memset(&dialog, 0, sizeof(dialog));
    dialog.lStructSize = AppOpenFileNameSize;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = AppFileFilter;
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = file;
    dialog.nMaxFile = AppFileBufferSize;
    dialog.lpstrInitialDir = nullptr;
    dialog.lpstrTitle = "Select File To Scan";
    dialog.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_NONETWORKBUTTON | OFN_ENABLESIZING;
    if (GetOpenFileNameA(&dialog) != TRUE)
        return 0;

    // The dialog's buffer is far smaller than folderPath; the terminator is
    // forced anyway so a misbehaving dialog cannot run the copy over.
    file[AppFileBufferSize - 1] = '\0';
    strcpy(app->folderPath, file);
    Path_StripFileName(app->folderPath);
    return 1;
}

int App_ShowAbout(HWND owner)
{
    char text[512];
    snprintf(text, sizeof(text),
             "%s\nVersion : %s\nStandalone Application\n"
             "Free Application to repair Wave File header according file size."
             "\n\n%s\n%s\n",
             AppTitleWord, AppVersionText, AppMakerLine, AppWebAddress);
    return MessageBoxA(owner, text, "About...", MB_OK | MB_ICONINFORMATION);
}

// Stops any scan first, also when the dialog is then cancelled; a new scan
// starts only from a fresh log whose first line names the folder.
static void App_StartFolderScan(HWND window)
{
    ScanWorker_Stop();
    if (App_ChooseFolder(window, &TheApp) != 1)
        return;
    LogBuffer_Reset(&TheApp.logBuffer);
    char line[AppFolderPathCapacity + 16];
    snprintf(line, sizeof(line), TextScanning, TheApp.folderPath);
    LogBuffer_AppendLine(&TheApp.logBuffer, line);
    ScanWorker_Start(TheApp.folderPath, &TheApp.logBuffer);
}

void App_OnCommand(HWND window, WPARAM wParam, LPARAM)
{
    switch ((unsigned short)LOWORD(wParam)) {
    case IDM_SELECT_FOLDER:
        App_StartFolderScan(window);
        break;
    case IDM_QUIT:
        App_RequestClose(window);
        break;
    case IDM_ABOUT:
        App_ShowAbout(window);
        break;
    default:
        break;
    }
}
