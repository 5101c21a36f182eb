// The desktop program: the main window, its message handling, the menu
// commands and the dialogs. Everything here runs on the window thread.
#ifndef TESSMARK_APP_H
#define TESSMARK_APP_H

#include <windows.h>

#include "appstate.h"
#include "resource.h"
#include "tessmark_version.h"

#define AppTitleWord "TESSMARK"
#define AppVersionText TessmarkVersionText
#define AppMakerLine "Made by Tessmark"
#define AppWebAddress "https://tessmark.example"
#define AppMenuName "MyMainAppMenu"

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
// Replaces the view's whole text.
void App_ViewSetText(HWND view, const char* text);
// Adds text behind the view's text; the caret ends behind it.
void App_ViewAppend(HWND view, const char* text);

// Draws bitmap at (x, y) at its own size; nothing when its size cannot be read.
void Gdi_DrawBitmap(HDC dc, int x, int y, HBITMAP bitmap);

// Posts WM_DESTROY to window. Returns PostMessageA's result.
BOOL App_RequestClose(HWND window);

// WM_COMMAND: 50 starts a scan of a chosen folder, 100 closes, 101 shows
// the About box; other ids (the log view's notifications) do nothing.
void App_OnCommand(HWND window, WPARAM wParam, LPARAM lParam);

// Runs the file-open dialog; on a confirmed file stores its folder in
// app->folderPath (UTF-8) and returns 1, else returns 0 and changes nothing.
int App_ChooseFolder(HWND owner, AppState* app);

// Shows the About box; returns MessageBoxA's result.
int App_ShowAbout(HWND owner);

#endif
