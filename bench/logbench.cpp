// logbench: what the desktop log costs. Times appending 100,000 scan lines
// to the application's 8 MiB LogBuffer, and one refresh tick that shows a
// log of 1 MiB and of 8 MiB. Natively the tick's view is a plain copy of the
// text (the least any view can do); on Windows it is the real thing: a
// multi-line edit like the desktop program's log view, filled with
// SetWindowTextA of a copy taken under the log's lock, scrolled to the end.
//
// Prints "key value" lines (milliseconds) for bench.py to read.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "logbuffer.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const int32_t AppLogCapacity = 0x800000;  // the desktop program's log
const int AppendLines = 100000;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The lines a scan of a card gives: OK lines, repairs with their format line.
const char* scanLine(int i, char* buffer, size_t size)
{
    switch (i % 5) {
    case 0:
        snprintf(buffer, size, "take_%05d.wav header not set : repair", i);
        break;
    case 1:
        snprintf(buffer, size, "take_%05d.wav (48000Hz / 2 ch) Length:00:%02d:%02d", i - 1, (i / 60) % 60, i % 60);
        break;
    default:
        snprintf(buffer, size, "take_%05d.wav HEADER OK !", i);
        break;
    }
    return buffer;
}

// Appends scan lines until the text holds at least bytes characters.
void fillTo(LogBuffer* log, int32_t bytes)
{
    char line[128];
    for (int i = 0; log->used < bytes; ++i)
        if (LogBuffer_AppendLine(log, scanLine(i, line, sizeof(line))) != 0)
            break;
}

double appendLinesMs(LogBuffer* log)
{
    LogBuffer_Reset(log);
    char line[128];
    Clock::time_point start = Clock::now();
    for (int i = 0; i < AppendLines; ++i)
        LogBuffer_AppendLine(log, scanLine(i, line, sizeof(line)));
    return msSince(start);
}

// The least a view must do with the text it is handed: measure and copy it.
struct CopyView {
    std::vector<char> text;  // the view's own copy
};

void copyIntoView(const char* text, void* context)
{
    CopyView* view = static_cast<CopyView*>(context);
    size_t n = strlen(text);
    memcpy(view->text.data(), text, n + 1);
}

#ifdef _WIN32
// The desktop program's log view, as its window creates it.
struct EditView {
    HWND window;  // the top-level window
    HWND edit;    // the multi-line edit
    HFONT font;   // Courier New, 14 pixels
};

void pumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int openEditView(EditView* view)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "LogBenchWindow";
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    RegisterClassA(&windowClass);
    view->window = CreateWindowExA(0, "LogBenchWindow", "log bench", WS_OVERLAPPEDWINDOW, 0, 0, 900, 700, nullptr,
                                   nullptr, windowClass.hInstance, nullptr);
    if (view->window == nullptr)
        return 0;
    view->edit = CreateWindowExA(WS_EX_CLIENTEDGE, "edit", nullptr,
                                 WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | ES_MULTILINE |
                                     ES_AUTOHSCROLL | ES_READONLY | ES_WANTRETURN,
                                 0, 80, 884, 580, view->window, (HMENU)(INT_PTR)500, windowClass.hInstance, nullptr);
    if (view->edit == nullptr)
        return 0;
    LOGFONTA font;
    memset(&font, 0, sizeof(font));
    font.lfHeight = 14;
    font.lfWeight = FW_NORMAL;
    strcpy(font.lfFaceName, "Courier New");
    view->font = CreateFontIndirectA(&font);
    SendMessageA(view->edit, WM_SETFONT, (WPARAM)view->font, TRUE);
    ShowWindow(view->window, SW_SHOW);
    UpdateWindow(view->window);
    pumpMessages();
    return 1;
}

void closeEditView(EditView* view)
{
    if (view->window != nullptr)
        DestroyWindow(view->window);
    if (view->font != nullptr)
        DeleteObject(view->font);
    pumpMessages();
}

// One tick of the desktop program's refresh timer, on a log that changed:
// the text is copied under the lock, then goes into the view after the lock
// is released, the view scrolls to its end, and the window handles what
// that queued (scroll, paint).
// lockedMs gets the part spent under the log's lock: the time an append on
// the worker thread waits at most.
double editTickMs(LogBuffer* log, EditView* view, CopyView* copy, double* lockedMs)
{
    char line[128];
    LogBuffer_AppendLine(log, scanLine(7, line, sizeof(line)));
    Clock::time_point start = Clock::now();
    LogBuffer_UseIfChanged(log, copyIntoView, copy);
    *lockedMs = msSince(start);
    SetWindowTextA(view->edit, copy->text.data());
    PostMessageA(view->edit, WM_VSCROLL, SB_BOTTOM, 0);
    pumpMessages();
    UpdateWindow(view->window);
    return msSince(start);
}
#endif

#ifdef _WIN32
// For comparison: a tick that hands the view only the lines added since the
// last one (selection to the end, then replace it), on a view already full.
double editTailTickMs(LogBuffer* log, EditView* view)
{
    char line[128];
    int32_t from = log->used;
    LogBuffer_AppendLine(log, scanLine(7, line, sizeof(line)));
    Clock::time_point start = Clock::now();
    SendMessageA(view->edit, EM_SETSEL, (WPARAM)-1, (LPARAM)-1);
    SendMessageA(view->edit, EM_REPLACESEL, FALSE, (LPARAM)(log->text + from));
    PostMessageA(view->edit, WM_VSCROLL, SB_BOTTOM, 0);
    pumpMessages();
    UpdateWindow(view->window);
    return msSince(start);
}
#endif

double copyTickMs(LogBuffer* log, CopyView* view)
{
    char line[128];
    LogBuffer_AppendLine(log, scanLine(7, line, sizeof(line)));
    Clock::time_point start = Clock::now();
    LogBuffer_UseIfChanged(log, copyIntoView, view);
    return msSince(start);
}

}  // namespace

int main(int argc, char** argv)
{
    // Repeats of each measure; the edit view's 8 MiB ticks stop early once
    // they have taken budgetMs together.
    int repeats = argc > 1 ? atoi(argv[1]) : 7;
#ifdef _WIN32
    double budgetMs = argc > 2 ? atof(argv[2]) : 60000;
#endif
    if (repeats < 1)
        repeats = 1;

    static LogBuffer buffer;
    if (LogBuffer_Init(&buffer, AppLogCapacity) != 0) {
        fprintf(stderr, "logbench: no memory for the log\n");
        return 1;
    }

    std::vector<double> appendMs;
    for (int r = 0; r < repeats; ++r)
        appendMs.push_back(appendLinesMs(&buffer));
    printf("append_100k_ms %.3f\n", median(appendMs));
    printf("append_100k_bytes %d\n", static_cast<int>(buffer.used));

    CopyView copy;
    copy.text.resize(static_cast<size_t>(AppLogCapacity) + LogBufferSlack);
    std::vector<double> unchangedMs;
    for (int r = 0; r < repeats; ++r) {
        LogBuffer_UseIfChanged(&buffer, copyIntoView, &copy);
        Clock::time_point start = Clock::now();
        LogBuffer_UseIfChanged(&buffer, copyIntoView, &copy);
        unchangedMs.push_back(msSince(start));
    }
    printf("tick_unchanged_ms %.6f\n", median(unchangedMs));

    const int32_t sizes[] = {1 << 20, AppLogCapacity - 4096};
    const char* names[] = {"1m", "8m"};
    for (int s = 0; s < 2; ++s) {
        LogBuffer_Reset(&buffer);
        fillTo(&buffer, sizes[s]);
        std::vector<double> tickMs;
        for (int r = 0; r < repeats; ++r)
            tickMs.push_back(copyTickMs(&buffer, &copy));
        printf("copy_tick_%s_ms %.3f\n", names[s], median(tickMs));
        printf("copy_tick_%s_bytes %d\n", names[s], static_cast<int>(buffer.used));
    }

#ifdef _WIN32
    EditView view;
    memset(&view, 0, sizeof(view));
    if (!openEditView(&view)) {
        fprintf(stderr, "logbench: cannot create the log view\n");
        return 1;
    }
    for (int s = 0; s < 2; ++s) {
        LogBuffer_Reset(&buffer);
        fillTo(&buffer, sizes[s]);
        std::vector<double> tickMs;
        std::vector<double> lockedMs;
        double spent = 0;
        for (int r = 0; r < repeats && (r == 0 || spent < budgetMs); ++r) {
            double locked = 0;
            double ms = editTickMs(&buffer, &view, &copy, &locked);
            tickMs.push_back(ms);
            lockedMs.push_back(locked);
            spent += ms;
        }
        printf("edit_tick_%s_ms %.3f\n", names[s], median(tickMs));
        printf("edit_tick_%s_locked_ms %.3f\n", names[s], median(lockedMs));
        printf("edit_tick_%s_runs %d\n", names[s], static_cast<int>(tickMs.size()));
        printf("edit_tick_%s_view_chars %d\n", names[s], GetWindowTextLengthA(view.edit));
        fflush(stdout);
    }
    // An edit takes no more by EM_REPLACESEL than its limit, which starts
    // far below 8 MiB; SetWindowTextA ignores it.
    SendMessageA(view.edit, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
    std::vector<double> tailMs;
    for (int r = 0; r < repeats; ++r)
        tailMs.push_back(editTailTickMs(&buffer, &view));
    printf("edit_tail_tick_8m_ms %.3f\n", median(tailMs));
    printf("edit_tail_tick_8m_view_chars %d\n", GetWindowTextLengthA(view.edit));
    closeEditView(&view);
#endif
    LogBuffer_Free(&buffer);
    return 0;
}
