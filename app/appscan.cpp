// The scans the window starts: their options, remembered in the registry;
// the words the scan gives beside its numbered lines (notes, the summary),
// put into the log on the worker's thread; and how far a scan has come,
// for the title.
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "app.h"

#include <shellapi.h>

#include "examine.h"
#include "fileio.h"
#include "fileio_win32.h"
#include "render.h"
#include "scanworker.h"
#include "texts.h"

// The options of the Command menu: their items, their registry values and
// their fields.
typedef struct AppOption {
    int command;
    const char* valueName;
    size_t offset;  // of the int32_t in AppState
} AppOption;

static const AppOption AppOptions[] = {
    {IDM_SUBFOLDERS, AppRegistrySubfolders, offsetof(AppState, includeSubfolders)},
    {IDM_CHECK_ONLY, AppRegistryCheckOnly, offsetof(AppState, checkOnly)},
};
static const size_t AppOptionCount = sizeof(AppOptions) / sizeof(AppOptions[0]);

static int32_t* App_OptionField(AppState* app, const AppOption* option)
{
    return (int32_t*)((char*)app + option->offset);
}

// 1 when the value is a REG_DWORD other than 0; 0 when not, or missing.
static int32_t App_ReadOption(const char* valueName)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, AppRegistryKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0, size = sizeof(value), type = 0;
    LONG status = RegQueryValueExA(key, valueName, nullptr, &type, (BYTE*)&value, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value) && value != 0;
}

// A value that cannot be written leaves the option as it is for this session.
static void App_WriteOption(const char* valueName, int32_t on)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, AppRegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    DWORD value = on ? 1 : 0;
    RegSetValueExA(key, valueName, 0, REG_DWORD, (const BYTE*)&value, sizeof(value));
    RegCloseKey(key);
}

void App_LoadOptions(AppState* app)
{
    for (size_t i = 0; i < AppOptionCount; ++i)
        *App_OptionField(app, &AppOptions[i]) = App_ReadOption(AppOptions[i].valueName);
}

int App_ToggleOption(AppState* app, int command)
{
    for (size_t i = 0; i < AppOptionCount; ++i) {
        if (AppOptions[i].command != command)
            continue;
        int32_t* field = App_OptionField(app, &AppOptions[i]);
        *field = !*field;
        App_WriteOption(AppOptions[i].valueName, *field);
        return 1;
    }
    return 0;
}

void App_CheckOptionItems(AppState* app, HMENU menu)
{
    for (size_t i = 0; i < AppOptionCount; ++i)
        CheckMenuItem(menu, (UINT)AppOptions[i].command,
                      MF_BYCOMMAND | (*App_OptionField(app, &AppOptions[i]) ? MF_CHECKED : MF_UNCHECKED));
}

int App_ProgressInit(AppProgress* progress)
{
    memset(progress, 0, sizeof(*progress));
    progress->lockReady = ScanLock_Init(&progress->lock) == 0;
    return progress->lockReady ? 0 : -1;
}

void App_ProgressFree(AppProgress* progress)
{
    if (progress->lockReady)
        ScanLock_Destroy(&progress->lock);
    memset(progress, 0, sizeof(*progress));
}

// Without its lock the progress is not kept: the title then stays as it is.
static void App_ProgressUpdate(AppProgress* progress, int32_t running, int64_t examined, const char* path)
{
    if (!progress->lockReady)
        return;
    ScanLock_Acquire(&progress->lock);
    if (running >= 0)
        progress->running = running;
    progress->examined += examined;
    if (path != nullptr) {
        size_t n = strnlen(path, sizeof(progress->lastPath) - 1);
        memcpy(progress->lastPath, path, n);
        progress->lastPath[n] = '\0';
    }
    ScanLock_Release(&progress->lock);
}

// The scan's callbacks, all on the worker's thread; context is the AppState.
static void App_LineToLog(const char* line, void* context)
{
    LogBuffer_AppendLine(&((AppState*)context)->logBuffer, line);
}

static void App_NoteToLog(const char* name, const char* text, void* context)
{
    char line[ScanPathCapacity + 512];
    snprintf(line, sizeof(line), TextNote, name, text);
    LogBuffer_AppendUnnumbered(&((AppState*)context)->logBuffer, line);
}

static void App_FileSeen(const ScanFileReport* report, void* context)
{
    AppState* app = (AppState*)context;
    // An entry the listing passed over is reported by its name alone: no folder to show.
    const size_t n = strlen(app->folderPath);
    const char* path = strncmp(report->path, app->folderPath, n) == 0 ? report->path : nullptr;
    App_ProgressUpdate(&app->progress, -1, report->action != ScanActionNotExamined, path);
    App_JournalFile(app, report);
}

// The end comes before ScanWorker_Stop returns, so the log it writes to is
// alive even when the window is being destroyed.
static void App_ScanEnded(const ScanOutcomes* outcomes, void* context)
{
    AppState* app = (AppState*)context;
    if (!outcomes->folderListed) {
        // The folder is named with the listing's own words for a folder it cannot list.
        ScanResult result;
        ScanExamine_PassOver(ScanWhyCannotList, 0, nullptr, &result);
        const ScanRenderSink sink = {App_LineToLog, app, App_NoteToLog, app, nullptr, nullptr};
        ScanRender_Give(&result, app->folderPath, app->folderPath, &sink);
    }
    char summary[512];
    LogBuffer_AppendUnnumbered(&app->logBuffer,
                               outcomes->stopped ? TextScanStopped
                                                 : ScanRender_Summary(outcomes, app->scanCheckOnly, summary,
                                                                      sizeof(summary)));
    App_JournalEnd(app);
    App_ProgressUpdate(&app->progress, 0, 0, nullptr);
}

void App_ScanFolder(AppState* app, const char* folder)
{
    ScanWorker_Stop();
    App_UndoWait();
    if (folder != app->folderPath) {
        size_t n = strlen(folder);
        if (n >= sizeof(app->folderPath))
            return;
        memcpy(app->folderPath, folder, n + 1);
    }
    LogBuffer_Reset(&app->logBuffer);
    char line[AppFolderPathCapacity + 128];
    snprintf(line, sizeof(line), TextScanning, app->folderPath);
    LogBuffer_AppendLine(&app->logBuffer, line);

    ScanOptions options;
    memset(&options, 0, sizeof(options));
    options.checkOnly = app->checkOnly;
    options.recursive = app->includeSubfolders;
    options.onNote = App_NoteToLog;
    options.noteContext = app;
    options.onFile = App_FileSeen;
    options.fileContext = app;
    options.onEnd = App_ScanEnded;
    options.endContext = app;
    if (!App_JournalBegin(&options)) {
        // Nothing is repaired that the undo could not put back.
        options.checkOnly = 1;
        snprintf(line, sizeof(line), TextNote, app->folderPath, TextNoJournal);
        LogBuffer_AppendUnnumbered(&app->logBuffer, line);
    }
    app->scanCheckOnly = options.checkOnly;
    ScanWorker_SetOptions(&options);
    if (app->progress.lockReady) {
        ScanLock_Acquire(&app->progress.lock);
        app->progress.running = 1;
        app->progress.examined = 0;
        app->progress.lastPath[0] = '\0';
        ScanLock_Release(&app->progress.lock);
    }
    ScanWorker_Start(app->folderPath, &app->logBuffer);
}

int App_FolderOf(const wchar_t* path, char* folder, int capacity)
{
    wchar_t full[AppFolderPathCapacity];
    DWORD units = GetFullPathNameW(path, AppFolderPathCapacity, full, nullptr);
    if (units == 0 || units >= AppFolderPathCapacity || !PathText_FromWide(full, folder, capacity))
        return 0;
    DWORD attributes = GetFileAttributesW(full);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        Path_StripFileName(folder);
    // As the command line keeps a folder: no trailing separator, but a
    // drive's root keeps its own ("C:" alone is the drive's current folder).
    size_t n = strlen(folder);
    while (n > 1 && Path_IsSeparator(folder[n - 1]) && !(n == 3 && folder[1] == ':'))
        folder[--n] = '\0';
    if (n == 2 && folder[1] == ':' && capacity > 3) {
        folder[2] = PathSeparator;
        folder[3] = '\0';
    }
    return folder[0] != '\0';
}

int App_FolderFromCommandLine(char* folder, int capacity)
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr)
        return 0;
    // Several items sent to the program at once: the first is scanned.
    int found = count >= 2 && App_FolderOf(arguments[1], folder, capacity);
    LocalFree(arguments);
    return found;
}

void App_BaseTitle(char* out, size_t capacity)
{
    snprintf(out, capacity, "%s (version : %s)", AppTitleWord, AppVersionText);
}

void App_TitleText(AppState* app, char* out, size_t capacity)
{
    App_BaseTitle(out, capacity);
    AppProgress* progress = &app->progress;
    if (!progress->lockReady)
        return;
    char folder[ScanPathCapacity];
    ScanLock_Acquire(&progress->lock);
    const int32_t running = progress->running;
    const int64_t examined = progress->examined;
    memcpy(folder, progress->lastPath, sizeof(folder));
    ScanLock_Release(&progress->lock);
    if (!running)
        return;
    if (folder[0] == '\0')
        memcpy(folder, app->folderPath, sizeof(folder));
    else
        Path_StripFileName(folder);
    // The words of the summary's count of files examined.
    const ScanOutcomeField* field = &ScanOutcomeFields[0];
    for (size_t i = 0; i < ScanOutcomeFieldCount; ++i)
        if (ScanOutcomeFields[i].offset == offsetof(ScanOutcomes, examined))
            field = &ScanOutcomeFields[i];
    const size_t at = strlen(out);
    snprintf(out + at, capacity - at, AppProgressTitle, examined, examined == 1 ? field->one : field->many, folder);
}
