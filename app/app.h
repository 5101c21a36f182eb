// The desktop program: the main window, its message handling, the menu
// commands and the dialogs. Everything here runs on the window thread.
#ifndef TESSMARK_APP_H
#define TESSMARK_APP_H

#include <windows.h>

#include <inttypes.h>

#include "appstate.h"
#include "resource.h"
#include "scanworker.h"
#include "tessmark_version.h"

#define AppTitleWord "TESSMARK"
#define AppVersionText TessmarkVersionText
#define AppMakerLine "Made by Tessmark"
#define AppWebAddress "https://tessmark.example"
#define AppMenuName "MyMainAppMenu"
// Behind the base title while a scan runs: files examined, their words in
// the summary ("files examined"), and the folder in hand.
#define AppProgressTitle " - %" PRId64 " %s - %s"
#define AppSaveLogTitle "Save Log As"
#define AppSaveLogName "tessmark-log.txt"

enum {
    AppWindowWidth = 900,         // initial outer width of the main window
    AppWindowHeight = 700,        // initial outer height of the main window
    AppBannerHeight = 80,         // height of the banner band; top of the log view
    AppMaxSizingWidth = 900,      // greatest outer width an interactive resize gives
    AppMinSizingHeight = 200,     // least outer height an interactive resize gives
    AppRefreshTimerId = 1200,     // id of the refresh timer
    AppRefreshPeriodMs = 200,     // period of the refresh timer
    AppLogCapacity = 0x800000,    // characters the log holds
    AppLogViewMargin = 2,         // left and right inner margin of the log view
    AppLogFontHeight = 14,        // height of the log font at 96 dots per inch
    AppBaseDpi = 96               // the display density the sizes above are given for
};

// The application's one record, zero-filled at start by AppMain.
extern AppState TheApp;

// Registers the class, creates the window and runs the message loop.
// Returns the WM_QUIT code (0), or 0 after a failure box.
int AppMain(HINSTANCE instance);

// The window procedure of "MainWindowClass".
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Gives the log its storage, creates the log font and loads the banner.
// Failures leave the handle null and are not reported.
void App_CreateResources(void);

// Deletes the font and the banner and frees the log; safe to repeat.
void App_ReleaseResources(void);

// The refresh tick: when the log changed, hands the view the text added
// since the last tick (the whole text after a reset, or when what the view
// holds is no longer the start of the log), then asks the view to scroll
// to its end.
void App_RefreshLogView(void);

// The log view's text is UTF-8, as all text inside the program. Where the A
// entry points do not carry UTF-8 it reaches the view through the W ones.
// Replaces a window's whole text (the view's, the title).
void App_SetText(HWND window, const char* text);
// Adds text behind the view's text; the caret ends behind it.
void App_ViewAppend(HWND view, const char* text);

// Draws bitmap at (x, y) at its own size; nothing when its size cannot be read.
void Gdi_DrawBitmap(HDC dc, int x, int y, HBITMAP bitmap);

// Posts WM_DESTROY to window. Returns PostMessageA's result.
BOOL App_RequestClose(HWND window);

// WM_COMMAND: 50 starts a scan of a chosen folder, 51 and 52 flip the
// options, 53 saves the log, 54 undoes the last scan's repairs, 100
// closes, 101 shows the About box; other ids (the log view's
// notifications) do nothing.
void App_OnCommand(HWND window, WPARAM wParam, LPARAM lParam);

// Stops any scan, then scans folder (UTF-8, copied into app->folderPath
// unless it is that) from a fresh log whose first line names it, with the
// options as they are now. The scan's notes go into the log as unnumbered
// lines in its order, and its end as one more: the summary, or
// TextScanStopped.
void App_ScanFolder(AppState* app, const char* folder);

// The folder to scan for a path a user handed over (a folder, or a file in
// it), made full, in UTF-8 without a trailing separator (a drive's root keeps
// its own). 1, or 0 when it does not fit capacity.
int App_FolderOf(const wchar_t* path, char* folder, int capacity);

// The folder of the program's first argument, as App_FolderOf gives it
// (names in any script: read from the UTF-16 command line). 0 without one.
int App_FolderFromCommandLine(char* folder, int capacity);

// Reads the options from the registry (0 for one not found there).
void App_LoadOptions(AppState* app);
// Flips the option of command (IDM_SUBFOLDERS, IDM_CHECK_ONLY) and writes it
// to the registry. 1, or 0 for another command.
int App_ToggleOption(AppState* app, int command);
// Gives the options' items in menu their check marks.
void App_CheckOptionItems(AppState* app, HMENU menu);

// The undo of the last scan that repaired a file, from its journal.
// App_LoadUndo reads which journal that is from the registry.
void App_LoadUndo(AppState* app);
// Gives a scan that may repair a journal of its own (in options); 1, or 0
// when none could be opened (the scan must then only check).
int App_JournalBegin(ScanOptions* options);
// The journal's word after each file, and its end after the scan, which
// makes it the one to undo when it recorded a repair; on the scan's thread.
void App_JournalFile(AppState* app, const ScanFileReport* report);
void App_JournalEnd(AppState* app);
// "&Undo Last Scan's Repairs": stops a scan, then undoes on a thread of its
// own, into a fresh log; nothing when there is nothing to undo.
void App_UndoLastScan(AppState* app);
// Waits for an undo that runs.
void App_UndoWait(void);
// Greys the item while there is nothing to undo or an undo runs.
void App_EnableUndoItem(AppState* app, HMENU menu);

// The progress record with its lock, empty. 0, or -1 without a lock (the
// title then shows no progress).
int App_ProgressInit(AppProgress* progress);
void App_ProgressFree(AppProgress* progress);

// The window's title without a scan.
void App_BaseTitle(char* out, size_t capacity);
// The title now: while a scan runs, the base, the files examined and the
// folder in hand; else the base.
void App_TitleText(AppState* app, char* out, size_t capacity);

// Runs the file-open dialog; on a confirmed file stores its folder in
// app->folderPath (UTF-8) and returns 1, else returns 0 and changes nothing.
int App_ChooseFolder(HWND owner, AppState* app);

// Shows the About box; returns MessageBoxA's result.
int App_ShowAbout(HWND owner);

#endif
