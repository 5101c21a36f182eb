// The menu commands: choose a folder and scan it, the options, save the
// log, show the About box, quit.
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
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
    App_ScanFolder(&TheApp, TheApp.folderPath);
}

// One text for both entry points: L"" widens the narrow literal behind it.
#define AppLogFilterText "Text File (*.txt)\0*.txt\0All (*.*)\0*.*\0"
static const char AppLogFilter[] = AppLogFilterText;
static const wchar_t AppLogFilterW[] = L"" AppLogFilterText;

// The save dialog; the chosen file's path into path (UTF-8). 1, or 0 when
// cancelled or the path does not fit.
static int App_ChooseLogFile(HWND owner, char* path, int capacity)
{
    const DWORD flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOREADONLYRETURN |
                        OFN_NONETWORKBUTTON | OFN_ENABLESIZING;
    if (PathText_AnsiIsUtf8()) {
        char file[AppFileBufferSize] = AppSaveLogName;
        OPENFILENAMEA dialog;
        memset(&dialog, 0, sizeof(dialog));
        dialog.lStructSize = AppOpenFileNameSize;
        dialog.hwndOwner = owner;
        dialog.lpstrFilter = AppLogFilter;
        dialog.lpstrFile = file;
        dialog.nMaxFile = AppFileBufferSize;
        dialog.lpstrTitle = AppSaveLogTitle;
        dialog.lpstrDefExt = "txt";
        dialog.Flags = flags;
        if (GetSaveFileNameA(&dialog) != TRUE)
            return 0;
        file[AppFileBufferSize - 1] = '\0';
        if (strlen(file) >= (size_t)capacity)
            return 0;
        strcpy(path, file);
        return 1;
    }
    wchar_t file[AppFileBufferSize] = L"" AppSaveLogName;
    OPENFILENAMEW dialog;
    memset(&dialog, 0, sizeof(dialog));
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = AppLogFilterW;
    dialog.lpstrFile = file;
    dialog.nMaxFile = AppFileBufferSize;
    dialog.lpstrTitle = L"" AppSaveLogTitle;
    dialog.lpstrDefExt = L"txt";
    dialog.Flags = flags;
    if (GetSaveFileNameW(&dialog) != TRUE)
        return 0;
    file[AppFileBufferSize - 1] = L'\0';
    return PathText_FromWide(file, path, capacity);
}

// The view's text in UTF-8 (malloc'd), or null without memory for it.
static char* App_ViewTextUtf8(HWND view)
{
    const int units = GetWindowTextLengthW(view);
    wchar_t* wide = (wchar_t*)malloc(((size_t)units + 1) * sizeof(wchar_t));
    if (wide == nullptr)
        return nullptr;
    const int got = GetWindowTextW(view, wide, units + 1);
    wide[got > 0 ? got : 0] = L'\0';
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    char* text = bytes > 0 ? (char*)malloc((size_t)bytes) : nullptr;
    if (text != nullptr)
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, bytes, nullptr, nullptr);
    free(wide);
    return text;
}

// A message box whose text is UTF-8, shown through the W entry point.
static void App_ShowProblem(HWND owner, const char* text)
{
    wchar_t wide[AppFolderPathCapacity + 256];
    if (MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, AppFolderPathCapacity + 256) > 0)
        MessageBoxW(owner, wide, L"" AppSaveLogTitle, MB_OK | MB_ICONERROR);
}

// The log as the view shows it (its lines end in CR LF), in UTF-8 without a
// byte order mark, so that it can be sent as it is. A few megabytes at
// most: written on the window thread.
static void App_SaveLogAs(HWND window)
{
    char path[AppFolderPathCapacity];
    if (TheApp.logView == nullptr || App_ChooseLogFile(window, path, sizeof(path)) != 1)
        return;
    App_RefreshLogView();
    char* text = App_ViewTextUtf8((HWND)TheApp.logView);
    FileHandle file = FileHandleNone;
    const char* why = nullptr;
    if (text == nullptr) {
        why = "not enough memory";
    } else if (!File_Open(path, FileModeWrite | FileModeShareRead | FileModeCreateAlways, &file, 128)) {
        why = File_OpenFailureText(File_LastOpenFailure());
    } else {
        const int written = File_WriteExact(file, text, (uint32_t)strlen(text));
        if (!File_Close(file) || !written)
            why = "write failed";
    }
    free(text);
    if (why == nullptr)
        return;
    char problem[AppFolderPathCapacity + 128];
    snprintf(problem, sizeof(problem), "Cannot write the log to %s (%s).", path, why);
    App_ShowProblem(window, problem);
}

void App_OnCommand(HWND window, WPARAM wParam, LPARAM)
{
    switch ((unsigned short)LOWORD(wParam)) {
    case IDM_SELECT_FOLDER:
        App_StartFolderScan(window);
        break;
    case IDM_SUBFOLDERS:
    case IDM_CHECK_ONLY:
        App_ToggleOption(&TheApp, LOWORD(wParam));
        break;
    case IDM_SAVE_LOG:
        App_SaveLogAs(window);
        break;
    case IDM_UNDO_REPAIRS:
        App_UndoLastScan(&TheApp);
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
