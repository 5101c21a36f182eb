// logbench: what the desktop log costs. Times appending 100,000 scan lines
// to the application's 8 MiB LogBuffer, and one refresh tick that shows a
// log of 1 MiB and of 8 MiB. Natively the tick's view is a plain copy of the
// text (the least any view can do); on Windows it is the real thing: a
// multi-line edit like the desktop program's log view (with the program's
// manifest, so the same common controls), given what the log added since
// the last tick (copied under the log's lock, put at the end with
// EM_REPLACESEL), scrolled to the end. For comparison, the tick as it was
// before: the whole text replaced with SetWindowTextA.
//
// Prints "key value" lines (milliseconds) for bench.py to read.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "logbuffer.h"
#include "texts.h"

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
    char name[32];
    snprintf(name, sizeof(name), "take_%05d.wav", i % 5 == 1 ? i - 1 : i);
    switch (i % 5) {
    case 0:
        snprintf(buffer, size, TextHeaderNotSet, name, TextRepair);
        break;
    case 1:
        snprintf(buffer, size, TextFormatLine, name, 48000, 2, int64_t(0), int64_t((i / 60) % 60), int64_t(i % 60));
        break;
    default:
        snprintf(buffer, size, TextHeaderOk, name);
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
    // As the program: an edit takes no more by EM_REPLACESEL than its
    // limit, which starts far below 8 MiB.
    SendMessageA(view->edit, EM_SETLIMITTEXT, (WPARAM)AppLogCapacity + LogBufferSlack, 0);
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

// What the program's tick copies under the log's lock: what follows the
// part the view holds, or the whole text when that is no longer the start.
struct TickCopy {
    std::vector<char> text;  // the copy
    int32_t held = 0;        // characters of the log the view holds
    bool whole = false;      // the copy is the whole text
};

void copyChange(const char* text, int32_t length, int32_t kept, void* context)
{
    TickCopy* copy = static_cast<TickCopy*>(context);
    copy->whole = kept != copy->held;
    const char* from = copy->whole ? text : text + kept;
    size_t n = static_cast<size_t>(length - (copy->whole ? 0 : kept));
    memcpy(copy->text.data(), from, n);
    copy->text[n] = '\0';
    copy->held = length;
}

void showChange(EditView* view, const TickCopy* copy)
{
    if (copy->whole) {
        SetWindowTextA(view->edit, copy->text.data());
        return;
    }
    int end = GetWindowTextLengthW(view->edit);
    SendMessageA(view->edit, EM_SETSEL, (WPARAM)end, (LPARAM)end);
    SendMessageA(view->edit, EM_REPLACESEL, FALSE, (LPARAM)copy->text.data());
}

// One tick of the desktop program's refresh timer, on a log that grew by a
// line since the last: the new text is copied under the lock, goes to the
// view after the lock is released, the view scrolls to its end, and the
// window handles what that queued (scroll, paint). lockedMs gets the part
// spent under the log's lock: the time an append on the worker thread
// waits at most.
double editTickMs(LogBuffer* log, EditView* view, TickCopy* copy, double* lockedMs)
{
    char line[128];
    LogBuffer_AppendLine(log, scanLine(7, line, sizeof(line)));
    Clock::time_point start = Clock::now();
    LogBuffer_UseChanges(log, copyChange, copy);
    *lockedMs = msSince(start);
    showChange(view, copy);
    PostMessageA(view->edit, WM_VSCROLL, SB_BOTTOM, 0);
    pumpMessages();
    UpdateWindow(view->window);
    return msSince(start);
}

// The tick as the program made it before: the whole text copied under the
// lock, then SetWindowTextA.
double wholeTickMs(LogBuffer* log, EditView* view, CopyView* copy)
{
    char line[128];
    LogBuffer_AppendLine(log, scanLine(7, line, sizeof(line)));
    Clock::time_point start = Clock::now();
    LogBuffer_UseIfChanged(log, copyIntoView, copy);
    SetWindowTextA(view->edit, copy->text.data());
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
    TickCopy tick;
    tick.text.resize(static_cast<size_t>(AppLogCapacity) + LogBufferSlack);
    for (int s = 0; s < 2; ++s) {
        LogBuffer_Reset(&buffer);
        fillTo(&buffer, sizes[s]);
        // The first tick after the reset fills the view (not counted).
        double ignored = 0;
        editTickMs(&buffer, &view, &tick, &ignored);
        std::vector<double> tickMs;
        std::vector<double> lockedMs;
        for (int r = 0; r < repeats; ++r) {
            double locked = 0;
            tickMs.push_back(editTickMs(&buffer, &view, &tick, &locked));
            lockedMs.push_back(locked);
        }
        printf("edit_tick_%s_ms %.3f\n", names[s], median(tickMs));
        printf("edit_tick_%s_locked_ms %.3f\n", names[s], median(lockedMs));
        printf("edit_tick_%s_runs %d\n", names[s], static_cast<int>(tickMs.size()));
        printf("edit_tick_%s_view_chars %d\n", names[s], GetWindowTextLengthW(view.edit));
        printf("edit_tick_%s_log_chars %d\n", names[s], static_cast<int>(buffer.used));
        fflush(stdout);

        std::vector<double> wholeMs;
        double spent = 0;
        for (int r = 0; r < repeats && (r == 0 || spent < budgetMs); ++r) {
            double ms = wholeTickMs(&buffer, &view, &copy);
            wholeMs.push_back(ms);
            spent += ms;
        }
        printf("whole_tick_%s_ms %.3f\n", names[s], median(wholeMs));
        printf("whole_tick_%s_runs %d\n", names[s], static_cast<int>(wholeMs.size()));
        fflush(stdout);
    }
    closeEditView(&view);
#endif
    LogBuffer_Free(&buffer);
    return 0;
}
