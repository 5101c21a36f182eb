// The main window: banner band, read-only log view, refresh timer, size
// limits and the orderly shutdown that waits for the scan worker.
#include <stdlib.h>
#include <string.h>

#include "app.h"

#include <shellapi.h>

#include "logbuffer.h"
#include "resources/resource.h"
#include "scanworker.h"

static HWND LogView(void)
{
    return (HWND)TheApp.logView;
}

// The window thread's copy of the log text. The view is filled from this
// copy after the log's lock is released, so the worker never waits while
// the edit control lays out megabytes of text.
static char* viewText = nullptr;
static size_t viewTextCapacity = 0;

void App_CreateResources(void)
{
    LogBuffer_Init(&TheApp.logBuffer, AppLogCapacity);

    LOGFONTA font;
    memset(&font, 0, sizeof(font));
    font.lfHeight = 14;
    font.lfWeight = FW_NORMAL;
    strcpy(font.lfFaceName, "Courier New");
    TheApp.logFont = CreateFontIndirectA(&font);

    TheApp.bannerBitmap = LoadBitmapA((HINSTANCE)TheApp.instance, MAKEINTRESOURCEA(IDB_BANNER));

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
    free(viewText);
    viewText = nullptr;
    viewTextCapacity = 0;
}

// Runs with the log's lock held: takes a copy of the whole text, or, when
// the copy's storage could not be had, fills the view right here.
static void CopyLogText(const char* text, void* context)
{
    if (viewText == nullptr) {
        SetWindowTextA((HWND)context, text);
        return;
    }
    size_t n = strnlen(text, viewTextCapacity - 1);
    memcpy(viewText, text, n);
    viewText[n] = '\0';
}

void App_RefreshLogView(void)
{
    HWND view = LogView();
    if (view == nullptr)
        return;
    // Unchanged log: leave the view's text, selection and scroll position be.
    if (LogBuffer_UseIfChanged(&TheApp.logBuffer, CopyLogText, view) != 1)
        return;
    if (viewText != nullptr)
        SetWindowTextA(view, viewText);
    PostMessageA(view, WM_VSCROLL, SB_BOTTOM, 0);
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
        SetFocus(view);
    }
    // The timer runs even without a view; its ticks then do nothing.
    TheApp.refreshTimerId = (uint32_t)SetTimer(window, AppRefreshTimerId, AppRefreshPeriodMs, nullptr);
}

// The order is binding: the worker is joined and the timer stopped before
// the log is freed, so neither can reach freed storage. A second
// WM_DESTROY (a close queued while the first waited) finds everything
// released and releases nothing twice.
static void App_OnDestroy(HWND window)
{
    ScanWorker_Stop();
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

static void App_OnTimer(WPARAM timerId)
{
    if (timerId == AppRefreshTimerId)
        App_RefreshLogView();
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
        App_OnTimer(wParam);
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
