// The main window: banner band, read-only log view, refresh timer (the log
// and the title), size limits, dropped folders and the orderly shutdown
// that waits for the scan worker.
#include <stdlib.h>
#include <string.h>

#include "app.h"

#include <shellapi.h>

#include "fileio_win32.h"
#include "logbuffer.h"
#include "resources/resource.h"
#include "scanworker.h"

static HWND LogView(void)
{
    return (HWND)TheApp.logView;
}

// The window thread's copy of what the view is to get. The view is filled
// from it after the log's lock is released, so the worker never waits while
// the edit control lays out text.
static char* viewText = nullptr;
static size_t viewTextCapacity = 0;
// Characters of the log the view holds: where the next tick's text goes.
static int32_t viewHeld = 0;
// The view's text in UTF-16, for where the A entry points do not carry UTF-8.
static wchar_t* wideText = nullptr;
static size_t wideTextCapacity = 0;
// The title the window shows.
static char shownTitle[AppFolderPathCapacity + 128];

static int LogFontHeight(void)
{
    // The program declares itself aware of the display's density, so
    // Windows no longer scales its drawing up (blurred): the font grows here.
    HDC screen = GetDC(nullptr);
    int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : AppBaseDpi;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    return MulDiv(AppLogFontHeight, dpi > 0 ? dpi : AppBaseDpi, AppBaseDpi);
}

void App_CreateResources(void)
{
    LogBuffer_Init(&TheApp.logBuffer, AppLogCapacity);

    LOGFONTA font;
    memset(&font, 0, sizeof(font));
    font.lfHeight = LogFontHeight();
    font.lfWeight = FW_NORMAL;
    strcpy(font.lfFaceName, "Courier New");
    TheApp.logFont = CreateFontIndirectA(&font);

    TheApp.bannerBitmap = LoadBitmapA((HINSTANCE)TheApp.instance, MAKEINTRESOURCEA(IDB_BANNER));

    App_ProgressInit(&TheApp.progress);

    viewTextCapacity = (size_t)AppLogCapacity + LogBufferSlack;
    viewText = (char*)malloc(viewTextCapacity);
    if (viewText == nullptr)
        viewTextCapacity = 0;
}

void App_ReleaseResources(void)
{
    if (TheApp.logFont != nullptr) {
        DeleteObject((HGDIOBJ)TheApp.logFont);
        TheApp.logFont = nullptr;
    }
    if (TheApp.bannerBitmap != nullptr) {
        DeleteObject((HGDIOBJ)TheApp.bannerBitmap);
        TheApp.bannerBitmap = nullptr;
    }
    LogBuffer_Free(&TheApp.logBuffer);
    App_ProgressFree(&TheApp.progress);
    free(viewText);
    viewText = nullptr;
    viewTextCapacity = 0;
    viewHeld = 0;
    free(wideText);
    wideText = nullptr;
    wideTextCapacity = 0;
}

// text in UTF-16 in wideText; null when there is no memory for it.
static const wchar_t* WideViewText(const char* text)
{
    int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (units <= 0)
        return nullptr;
    if ((size_t)units > wideTextCapacity) {
        wchar_t* grown = (wchar_t*)realloc(wideText, (size_t)units * sizeof(wchar_t));
        if (grown == nullptr)
            return nullptr;
        wideText = grown;
        wideTextCapacity = (size_t)units;
    }
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wideText, units);
    return wideText;
}

void App_SetText(HWND window, const char* text)
{
    if (PathText_AnsiIsUtf8()) {
        SetWindowTextA(window, text);
        return;
    }
    const wchar_t* wide = WideViewText(text);
    if (wide != nullptr)
        SetWindowTextW(window, wide);
}

void App_ViewAppend(HWND view, const char* text)
{
    // Positions count UTF-16 units, which the W length gives.
    int end = GetWindowTextLengthW(view);
    SendMessageA(view, EM_SETSEL, (WPARAM)end, (LPARAM)end);
    if (PathText_AnsiIsUtf8()) {
        SendMessageA(view, EM_REPLACESEL, FALSE, (LPARAM)text);
        return;
    }
    const wchar_t* wide = WideViewText(text);
    if (wide != nullptr)
        SendMessageW(view, EM_REPLACESEL, FALSE, (LPARAM)wide);
}

// What a tick took from the log for the view.
typedef struct ViewChange {
    HWND view;
    int copied;  // 1 when viewText holds the text for the view
    int whole;   // 1 when it is the whole log, to replace the view's text
} ViewChange;

// Runs with the log's lock held: copies what follows what the view holds,
// or the whole text when that is no longer the log's start. Without storage
// for the copy the view is filled right here.
static void TakeLogChange(const char* text, int32_t length, int32_t kept, void* context)
{
    ViewChange* change = (ViewChange*)context;
    change->whole = kept != viewHeld;
    const char* from = change->whole ? text : text + kept;
    size_t n = (size_t)(length - (change->whole ? 0 : kept));
    viewHeld = length;
    if (viewText == nullptr) {
        if (change->whole)
            App_SetText(change->view, from);
        else
            App_ViewAppend(change->view, from);
        return;
    }
    if (n > viewTextCapacity - 1)
        n = viewTextCapacity - 1;
    memcpy(viewText, from, n);
    viewText[n] = '\0';
    change->copied = 1;
}

void App_RefreshLogView(void)
{
    HWND view = LogView();
    if (view == nullptr)
        return;
    ViewChange change = {view, 0, 0};
    // Unchanged log: leave the view's text, selection and scroll position be.
    if (LogBuffer_UseChanges(&TheApp.logBuffer, TakeLogChange, &change) != 1)
        return;
    if (change.copied && change.whole)
        App_SetText(view, viewText);
    else if (change.copied)
        App_ViewAppend(view, viewText);
    PostMessageA(view, WM_VSCROLL, SB_BOTTOM, 0);
}

// A tick sets the title only when its text changed: five times a second
// at most, whatever the number of files.
static void App_RefreshTitle(HWND window)
{
    char title[sizeof(shownTitle)];
    App_TitleText(&TheApp, title, sizeof(title));
    if (strcmp(title, shownTitle) == 0)
        return;
    App_SetText(window, title);
    strcpy(shownTitle, title);
}

void Gdi_DrawBitmap(HDC dc, int x, int y, HBITMAP bitmap)
{
    HDC memory = CreateCompatibleDC(dc);
    if (memory == nullptr)
        return;
    HGDIOBJ replaced = SelectObject(memory, bitmap);
    BITMAP description;
    if (GetObjectA(bitmap, sizeof(description), &description) != 0)
        BitBlt(dc, x, y, description.bmWidth, description.bmHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, replaced);
    DeleteDC(memory);
}

BOOL App_RequestClose(HWND window)
{
    return PostMessageA(window, WM_DESTROY, 0, 0);
}

static void App_OnCreate(HWND window)
{
    App_CreateResources();

    HWND view = CreateWindowExA(WS_EX_CLIENTEDGE, "edit", nullptr,
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP |
                                    ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY | ES_WANTRETURN,
                                0, AppBannerHeight, 300, 300, window, (HMENU)(INT_PTR)AppLogViewId,
                                (HINSTANCE)TheApp.instance, nullptr);
    TheApp.logView = view;
    if (view != nullptr) {
        SendMessageA(view, WM_SETFONT, (WPARAM)TheApp.logFont, TRUE);
        SendMessageA(view, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN,
                     MAKELPARAM(AppLogViewMargin, AppLogViewMargin));
        // Text added at the end counts against the view's limit, which
        // starts far below a full log.
        SendMessageA(view, EM_SETLIMITTEXT, (WPARAM)AppLogCapacity + LogBufferSlack, 0);
        SetFocus(view);
    }
    // The timer runs even without a view; its ticks then do nothing.
    TheApp.refreshTimerId = (uint32_t)SetTimer(window, AppRefreshTimerId, AppRefreshPeriodMs, nullptr);
    App_LoadOptions(&TheApp);
    App_LoadUndo(&TheApp);
    App_BaseTitle(shownTitle, sizeof(shownTitle));
    DragAcceptFiles(window, TRUE);
}

// The order is binding: the worker is joined and the timer stopped before
// the log is freed, so neither can reach freed storage. A second
// WM_DESTROY (a close queued while the first waited) finds everything
// released and releases nothing twice.
static void App_OnDestroy(HWND window)
{
    ScanWorker_Stop();
    App_UndoWait();
    if (TheApp.refreshTimerId != 0)
        KillTimer(window, TheApp.refreshTimerId);
    TheApp.refreshTimerId = 0;
    App_ReleaseResources();
    PostQuitMessage(0);
}

static void App_OnSize(int clientWidth, int clientHeight)
{
    int viewHeight = clientHeight - AppBannerHeight;
    if (viewHeight < 0)
        viewHeight = 0;
    SetWindowPos(LogView(), HWND_TOP, 0, AppBannerHeight, clientWidth, viewHeight,
                 SWP_NOMOVE | SWP_SHOWWINDOW);
}

static void App_OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    // Without its bitmap the band keeps the class background.
    if (TheApp.bannerBitmap != nullptr)
        Gdi_DrawBitmap(dc, 0, 0, (HBITMAP)TheApp.bannerBitmap);
    EndPaint(window, &paint);
}

static void App_OnTimer(HWND window, WPARAM timerId)
{
    if (timerId != AppRefreshTimerId)
        return;
    App_RefreshLogView();
    App_RefreshTitle(window);
}

// The first item dropped is scanned: a folder, or the folder of a file.
static void App_OnDropFiles(HDROP drop)
{
    wchar_t path[AppFolderPathCapacity];
    const UINT units = DragQueryFileW(drop, 0, nullptr, 0);
    const int taken = units > 0 && units < AppFolderPathCapacity &&
                      DragQueryFileW(drop, 0, path, AppFolderPathCapacity) == units;
    DragFinish(drop);
    char folder[AppFolderPathCapacity];
    if (taken && App_FolderOf(path, folder, sizeof(folder)))
        App_ScanFolder(&TheApp, folder);
}

// Only clicks in the banner band reach the window: the log view covers the rest.
static void App_OnBannerClick(HWND window)
{
    ShellExecuteA(window, "open", AppWebAddress, nullptr, nullptr, SW_SHOW);
}

// Only the right and bottom edges move, whichever edge is dragged.
static void App_OnSizing(RECT* dragged)
{
    if (dragged == nullptr)
        return;
    if (dragged->right - dragged->left > AppMaxSizingWidth)
        dragged->right = dragged->left + AppMaxSizingWidth;
    if (dragged->bottom - dragged->top < AppMinSizingHeight)
        dragged->bottom = dragged->top + AppMinSizingHeight;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        App_OnCreate(window);
        return 0;
    case WM_DESTROY:
        App_OnDestroy(window);
        return 0;
    case WM_SIZE:
        App_OnSize(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_PAINT:
        App_OnPaint(window);
        return 0;
    case WM_CLOSE:
        // No DestroyWindow: the window goes away with the process.
        App_RequestClose(window);
        return 0;
    case WM_COMMAND:
        App_OnCommand(window, wParam, lParam);
        return 0;
    case WM_TIMER:
        App_OnTimer(window, wParam);
        return 0;
    case WM_DROPFILES:
        App_OnDropFiles((HDROP)wParam);
        return 0;
    case WM_INITMENUPOPUP:
        App_CheckOptionItems(&TheApp, (HMENU)wParam);
        App_EnableUndoItem(&TheApp, (HMENU)wParam);
        return 0;
    case WM_LBUTTONDOWN:
        App_OnBannerClick(window);
        return 0;
    case WM_SIZING:
        App_OnSizing((RECT*)lParam);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
