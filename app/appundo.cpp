// The window's undo. Every repair a scan from the window makes is recorded
// first, in a journal of that scan's own under the user's local application
// data; the last scan that recorded a repair is remembered (in the registry
// too, so that a restart keeps it) for "&Undo Last Scan's Repairs", which
// runs the command line's undo on a thread of its own.
#include <stdio.h>
#include <string.h>

#include "app.h"

#include <shlobj.h>

#include "fileio.h"
#include "fileio_win32.h"
#include "journal.h"
#include "texts.h"

// The running scan's journal: its handle is FileHandleNone when it keeps
// none. Only the scan's thread touches it between App_JournalBegin and
// App_JournalEnd.
static Journal scanJournal;
static char scanJournalPath[AppFolderPathCapacity];
static HANDLE undoThread;

// A journal's path for a scan starting now, its folder made: 1, or 0.
static int App_NewJournalPath(char* out, size_t capacity)
{
    wchar_t path[MAX_PATH + 64];
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, path) != S_OK)
        return 0;
    for (const wchar_t* part : {L"\\Tessmark", L"\\Journals"}) {
        wcscat(path, part);
        if (!CreateDirectoryW(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return 0;
    }
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t name[64];
    swprintf(name, 64, L"\\scan-%04u%02u%02u-%02u%02u%02u-%03u.jsonl", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond, t.wMilliseconds);
    wcscat(path, name);
    return PathText_FromWide(path, out, int(capacity));
}

// The remembered journal, as the registry keeps it (UTF-8 in a REG_BINARY
// would hide it from regedit: a REG_SZ of UTF-16).
static void App_RememberJournal(const char* path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, AppRegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    wchar_t wide[AppFolderPathCapacity];
    if (path[0] == '\0')
        RegDeleteValueA(key, AppRegistryLastJournal);
    else if (PathText_ToWide(path, wide, AppFolderPathCapacity))
        RegSetValueExW(key, AppWiden(AppRegistryLastJournal), 0, REG_SZ, (const BYTE*)wide,
                       DWORD((wcslen(wide) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void App_LoadUndo(AppState* app)
{
    app->lastJournal[0] = '\0';
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, AppRegistryKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    wchar_t wide[AppFolderPathCapacity] = {0};
    DWORD size = sizeof(wide) - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(key, AppWiden(AppRegistryLastJournal), nullptr, &type, (BYTE*)wide, &size) == ERROR_SUCCESS &&
        type == REG_SZ && !PathText_FromWide(wide, app->lastJournal, int(sizeof(app->lastJournal))))
        app->lastJournal[0] = '\0';
    RegCloseKey(key);
    if (app->lastJournal[0] != '\0' && !File_Exists(app->lastJournal))
        app->lastJournal[0] = '\0';
    InterlockedExchange(&app->undoAvailable, app->lastJournal[0] != '\0');
}

int App_JournalBegin(ScanOptions* options)
{
    scanJournal.handle = FileHandleNone;
    if (options->checkOnly)
        return 1;
    if (!App_NewJournalPath(scanJournalPath, sizeof(scanJournalPath)) ||
        Journal_Open(&scanJournal, scanJournalPath) != JournalOpened) {
        scanJournal.handle = FileHandleNone;
        return 0;
    }
    options->beforeRepair = Journal_BeforeRepair;
    options->repairContext = &scanJournal;
    return 1;
}

void App_JournalFile(AppState* app, const ScanFileReport* report)
{
    if (scanJournal.handle != FileHandleNone && Journal_AfterFile(&scanJournal, report) != 0) {
        char line[ScanPathCapacity + 256];
        snprintf(line, sizeof(line), TextNote, report->name, TextJournalIncomplete);
        LogBuffer_AppendUnnumbered(&app->logBuffer, line);
    }
}

void App_JournalEnd(AppState* app)
{
    if (scanJournal.handle == FileHandleNone)
        return;
    int64_t size = 0;
    FileHandle h = FileHandleNone;
    Journal_Close(&scanJournal);
    if (File_Open(scanJournalPath, FileModeRead | FileModeShareRead | FileModeOpenExisting, &h, 128)) {
        File_GetSize64(h, &size);
        File_Close(h);
    }
    // A scan that repaired nothing leaves the last one's undo as it was.
    if (size == 0) {
        File_Remove(scanJournalPath);
        return;
    }
    memcpy(app->lastJournal, scanJournalPath, sizeof(app->lastJournal));
    App_RememberJournal(app->lastJournal);
    InterlockedExchange(&app->undoAvailable, 1);
}

// The undo's words, as the command line's: restored, already as before, or
// not undone and why.
static void App_UndoNote(const char* path, int32_t refused, const char* text, void* context)
{
    char said[512];
    snprintf(said, sizeof(said), refused ? TextNotUndone : "%s", text);
    char line[ScanPathCapacity + 600];
    snprintf(line, sizeof(line), TextNote, path, said);
    LogBuffer_AppendUnnumbered(&((AppState*)context)->logBuffer, line);
}

static DWORD WINAPI App_UndoBody(void* param)
{
    AppState* app = (AppState*)param;
    JournalUndoOutcome outcome;
    char line[128];
    if (Journal_Undo(app->lastJournal, &outcome, App_UndoNote, app) != 0) {
        App_UndoNote(app->lastJournal, 1, TextJournalUnreadable, app);
        memset(&outcome, 0, sizeof(outcome));
        outcome.refused = -1;
    } else {
        snprintf(line, sizeof(line), TextUndoSummary, outcome.restored, outcome.unchanged, outcome.refused);
        LogBuffer_AppendUnnumbered(&app->logBuffer, line);
    }
    // A refused file may be put back once it is as the repair left it again.
    if (outcome.refused == 0 || outcome.refused < 0) {
        app->lastJournal[0] = '\0';
        App_RememberJournal("");
    }
    InterlockedExchange(&app->undoAvailable, app->lastJournal[0] != '\0');
    InterlockedExchange(&app->undoRunning, 0);
    return 0;
}

void App_UndoWait(void)
{
    if (undoThread == nullptr)
        return;
    WaitForSingleObject(undoThread, INFINITE);
    CloseHandle(undoThread);
    undoThread = nullptr;
}

void App_UndoLastScan(AppState* app)
{
    if (app->undoAvailable == 0 || app->undoRunning != 0)
        return;
    ScanWorker_Stop();
    App_UndoWait();
    LogBuffer_Reset(&app->logBuffer);
    char line[AppFolderPathCapacity + 64];
    snprintf(line, sizeof(line), TextUndoing, app->lastJournal);
    LogBuffer_AppendLine(&app->logBuffer, line);
    InterlockedExchange(&app->undoRunning, 1);
    undoThread = CreateThread(nullptr, 0, App_UndoBody, app, 0, nullptr);
    if (undoThread == nullptr)
        InterlockedExchange(&app->undoRunning, 0);
}

void App_EnableUndoItem(AppState* app, HMENU menu)
{
    EnableMenuItem(menu, IDM_UNDO_REPAIRS,
                   MF_BYCOMMAND | (app->undoAvailable != 0 && app->undoRunning == 0 ? MF_ENABLED : MF_GRAYED));
}
