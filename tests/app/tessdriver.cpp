// Drives Tessmark.exe from outside, as a person at the screen would, for the
// end-to-end test. Runs under the same Wine as the program; reads one command
// per line on standard input and answers one line per command:
// "OK <result>" or "ERR <reason>". Texts in results are escaped (\n, \r, \t,
// \\, and \xHH for other control bytes) so that each answer stays one line.
// Texts in commands and answers are UTF-8: windows are read and written
// through the W entry points, so names in any script pass unchanged.
#include <windows.h>

#include <shlobj.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "resource.h"

namespace {

const UINT SendTimeoutMs = 5000;

std::string Escape(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\x%02x", c);
            out += hex;
        } else
            out += (char)c;
    }
    return out;
}

void Answer(bool ok, const std::string& text)
{
    printf("%s %s\n", ok ? "OK" : "ERR", text.c_str());
    fflush(stdout);
}

std::string Hex(const void* handle)
{
    char text[32];
    snprintf(text, sizeof(text), "%llx", (unsigned long long)(UINT_PTR)handle);
    return text;
}

std::string Utf8(const wchar_t* text, int units)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, units, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n : 1, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    out.resize(out.size() - 1);
    return out;
}

// Reads a window's text by WM_GETTEXT, which Wine carries across processes.
// The program may replace the text between the length and the copy: the
// read is repeated until the length holds still around a whole copy.
bool ReadText(HWND window, std::string* text)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &length))
            return false;
        std::vector<wchar_t> buffer(length + 2, 0);
        DWORD_PTR copied = 0;
        if (!SendMessageTimeoutW(window, WM_GETTEXT, (WPARAM)buffer.size(), (LPARAM)buffer.data(),
                                 SMTO_ABORTIFHUNG, SendTimeoutMs, &copied))
            return false;
        DWORD_PTR after = 0;
        if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &after))
            return false;
        if (after == length && copied == length) {
            *text = Utf8(buffer.data(), (int)copied);
            return true;
        }
        Sleep(20);
    }
    return false;
}

// The program's main window that this driver works on: the first window of
// class AppWindowClass that appeared after the last "baseline".
HWND Bound = nullptr;
std::vector<HWND> Baseline;

struct Search {
    const char* className;  // class wanted, or null for any
    const char* title;      // title wanted, or null for any
    bool ownedByBound;      // only windows owned by the bound main window
    bool skipBaseline;      // only windows not present at the last baseline
    HWND found;             // the first match, or null
};

BOOL CALLBACK MatchTop(HWND window, LPARAM context)
{
    Search* search = (Search*)context;
    if (!IsWindowVisible(window))
        return TRUE;
    char text[256] = "";
    if (search->className != nullptr) {
        GetClassNameA(window, text, sizeof(text));
        if (strcmp(text, search->className) != 0)
            return TRUE;
    }
    if (search->title != nullptr) {
        GetWindowTextA(window, text, sizeof(text));
        if (strcmp(text, search->title) != 0)
            return TRUE;
    }
    if (search->ownedByBound && GetWindow(window, GW_OWNER) != Bound)
        return TRUE;
    if (search->skipBaseline) {
        for (HWND old : Baseline)
            if (old == window)
                return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND FindTop(const char* className, const char* title, bool ownedByBound, bool skipBaseline = false)
{
    Search search = {className, title, ownedByBound, skipBaseline, nullptr};
    EnumWindows(MatchTop, (LPARAM)&search);
    return search.found;
}

// Waits up to timeoutMs for a visible top-level window as FindTop finds it.
HWND WaitTop(const char* className, const char* title, bool ownedByBound, DWORD timeoutMs,
             bool skipBaseline = false)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND found = FindTop(className, title, ownedByBound, skipBaseline);
        if (found != nullptr)
            return found;
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(50);
    }
}

BOOL CALLBACK CollectMain(HWND window, LPARAM)
{
    char className[64] = "";
    GetClassNameA(window, className, sizeof(className));
    if (strcmp(className, AppWindowClass) == 0)
        Baseline.push_back(window);
    return TRUE;
}

// A dialog of the bound window, by its title.
HWND Dialog(const std::string& title, DWORD timeoutMs)
{
    return WaitTop("#32770", title.c_str(), true, timeoutMs);
}

std::string RectText(const RECT& r)
{
    char text[96];
    snprintf(text, sizeof(text), "%ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
    return text;
}

struct ChildList {
    std::string text;
};

BOOL CALLBACK ListChild(HWND child, LPARAM context)
{
    ChildList* list = (ChildList*)context;
    char className[64] = "";
    GetClassNameA(child, className, sizeof(className));
    std::string text;
    ReadText(child, &text);
    char line[160];
    snprintf(line, sizeof(line), "[id=%d class=%s visible=%d text=", GetDlgCtrlID(child), className,
             IsWindowVisible(child) ? 1 : 0);
    list->text += line;
    list->text += Escape(text);
    list->text += "]";
    return TRUE;
}

// The edit that takes the file name in the open dialog: the old-style edt1,
// or the edit inside the explorer-style combo cmb13.
HWND FileNameField(HWND dialog)
{
    HWND combo = GetDlgItem(dialog, 0x47c);
    if (combo != nullptr) {
        // Wine nests it: ComboBoxEx32, then ComboBox, then Edit.
        HWND inner = FindWindowExA(combo, nullptr, "ComboBox", nullptr);
        HWND edit = FindWindowExA(inner != nullptr ? inner : combo, nullptr, "Edit", nullptr);
        return edit != nullptr ? edit : combo;
    }
    return GetDlgItem(dialog, 0x480);
}

std::string MenuText(HMENU menu)
{
    std::string out;
    int count = GetMenuItemCount(menu);
    if (count < 0)
        return "unreadable";
    for (int i = 0; i < count; ++i) {
        char text[256] = "";
        MENUITEMINFOA info;
        memset(&info, 0, sizeof(info));
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof(text);
        if (!GetMenuItemInfoA(menu, (UINT)i, TRUE, &info))
            return out + "unreadable item";
        if (i > 0)
            out += "|";
        if (info.fType & MFT_SEPARATOR)
            out += "-";
        else if (info.hSubMenu != nullptr)
            out += Escape(text) + "{" + MenuText(info.hSubMenu) + "}";
        else
            out += Escape(text) + "=" + std::to_string(info.wID);
    }
    return out;
}

// Resources of an executable, read as data: lists and checks that need no
// running program.
std::string NameText(LPCSTR name)
{
    if (IS_INTRESOURCE(name))
        return std::to_string((unsigned)(UINT_PTR)name);
    return name;
}

BOOL CALLBACK ListLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD language, LONG_PTR context)
{
    std::string* out = (std::string*)context;
    if (!out->empty())
        *out += "|";
    *out += NameText(type) + "/" + NameText(name) + "/" + std::to_string(language);
    return TRUE;
}

BOOL CALLBACK ListName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR context)
{
    EnumResourceLanguagesA(module, type, name, ListLanguage, context);
    return TRUE;
}

BOOL CALLBACK ListType(HMODULE module, LPSTR type, LONG_PTR context)
{
    EnumResourceNamesA(module, type, ListName, context);
    return TRUE;
}

std::string BitmapText(HMODULE module, int id)
{
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), (LPCSTR)RT_BITMAP);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const BITMAPINFOHEADER* header = loaded != nullptr ? (const BITMAPINFOHEADER*)LockResource(loaded) : nullptr;
    if (header == nullptr || SizeofResource(module, found) < sizeof(BITMAPINFOHEADER))
        return "missing";
    char text[128];
    snprintf(text, sizeof(text), "%ld %ld %u %lu", header->biWidth, header->biHeight, header->biBitCount,
             (unsigned long)header->biCompression);
    return text;
}

std::string VersionText(const char* path)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0)
        return "missing";
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path, 0, size, block.data()))
        return "unreadable";
    std::string out;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block.data(), "\\", (void**)&fixed, &length) && fixed != nullptr) {
        char text[256];
        snprintf(text, sizeof(text),
                 "file=%lu.%lu.%lu.%lu|product=%lu.%lu.%lu.%lu|mask=0x%lx|flags=0x%lx|os=0x%lx|type=%lu|subtype=%lu",
                 fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xffff, fixed->dwFileVersionLS >> 16,
                 fixed->dwFileVersionLS & 0xffff, fixed->dwProductVersionMS >> 16,
                 fixed->dwProductVersionMS & 0xffff, fixed->dwProductVersionLS >> 16,
                 fixed->dwProductVersionLS & 0xffff, fixed->dwFileFlagsMask, fixed->dwFileFlags,
                 fixed->dwFileOS, fixed->dwFileType, fixed->dwFileSubtype);
        out += text;
    }
    WORD* translation = nullptr;
    if (VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", (void**)&translation, &length) &&
        translation != nullptr && length >= 4)
        out += "|translation=" + std::to_string(translation[0]) + "," + std::to_string(translation[1]);
    const char* keys[] = {"Comments", "CompanyName", "FileDescription", "FileVersion", "InternalName",
                          "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion"};
    for (const char* key : keys) {
        std::string query = std::string("\\StringFileInfo\\000004b0\\") + key;
        char* value = nullptr;
        if (VerQueryValueA(block.data(), query.c_str(), (void**)&value, &length) && value != nullptr)
            out += std::string("|") + key + "=" + Escape(value);
    }
    return out;
}

std::string ManifestText(HMODULE module)
{
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), (LPCSTR)RT_MANIFEST);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const char* bytes = loaded != nullptr ? (const char*)LockResource(loaded) : nullptr;
    if (bytes == nullptr)
        return "";
    return std::string(bytes, SizeofResource(module, found));
}

bool RunResourceCommand(const std::string& verb, const std::string& path)
{
    if (verb != "resources" && verb != "resmenu" && verb != "bitmap" && verb != "version" && verb != "manifest")
        return false;
    if (verb == "version") {
        Answer(true, VersionText(path.c_str()));
        return true;
    }
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        Answer(false, "cannot load " + path);
        return true;
    }
    if (verb == "resources") {
        std::string out;
        EnumResourceTypesA(module, ListType, (LONG_PTR)&out);
        Answer(true, out);
    } else if (verb == "manifest") {
        std::string text = ManifestText(module);
        Answer(!text.empty(), text.empty() ? "no manifest" : Escape(text));
    } else if (verb == "resmenu") {
        HMENU menu = LoadMenuA(module, "MyMainAppMenu");
        Answer(menu != nullptr, menu != nullptr ? MenuText(menu) : "no menu MyMainAppMenu");
        if (menu != nullptr)
            DestroyMenu(menu);
    } else {
        Answer(true, BitmapText(module, 100));
    }
    FreeLibrary(module);
    return true;
}

void Run(const std::string& verb, const std::string& argument)
{
    DWORD timeout = 10000;
    if (RunResourceCommand(verb, argument))
        return;
    if (verb == "baseline") {
        // baseline: remembers the program windows already open, which "find" passes over.
        Baseline.clear();
        EnumWindows(CollectMain, 0);
        return Answer(true, std::to_string(Baseline.size()));
    }
    if (verb == "find") {
        // find [TIMEOUT]: waits for a new main window and works on it from now on.
        Bound = WaitTop(AppWindowClass, nullptr, false, argument.empty() ? timeout : atoi(argument.c_str()), true);
        if (Bound == nullptr)
            return Answer(false, "no new window of class " AppWindowClass);
        return Answer(true, Hex(Bound));
    }
    HWND main = Bound;
    if (verb == "title") {
        std::string text;
        if (main == nullptr || !ReadText(main, &text))
            return Answer(false, "no title");
        return Answer(true, Escape(text));
    }
    if (verb == "rect") {
        // rect: the outer rectangle on the screen, then the client area's
        // rectangle on the screen.
        RECT window, client;
        if (main == nullptr || !GetWindowRect(main, &window) || !GetClientRect(main, &client))
            return Answer(false, "no window");
        MapWindowPoints(main, nullptr, (POINT*)&client, 2);
        return Answer(true, RectText(window) + " " + RectText(client));
    }
    if (verb == "popup") {
        // popup: the rectangle of the open popup menu on the screen.
        HWND menu = WaitTop("#32768", nullptr, false, timeout);
        RECT r;
        if (menu == nullptr || !GetWindowRect(menu, &r))
            return Answer(false, "no popup menu");
        return Answer(true, RectText(r));
    }
    if (verb == "command") {
        if (main == nullptr || !PostMessageA(main, WM_COMMAND, (WPARAM)atoi(argument.c_str()), 0))
            return Answer(false, "cannot post");
        return Answer(true, "");
    }
    if (verb == "syscommand") {
        if (main == nullptr || !PostMessageA(main, WM_SYSCOMMAND, (WPARAM)strtoul(argument.c_str(), nullptr, 0), 0))
            return Answer(false, "cannot post");
        return Answer(true, "");
    }
    if (verb == "logtext") {
        HWND view = main != nullptr ? GetDlgItem(main, AppLogViewId) : nullptr;
        std::string text;
        if (view == nullptr || !ReadText(view, &text))
            return Answer(false, "no log view");
        return Answer(true, Escape(text));
    }
    if (verb == "responsive") {
        // responsive INTERVAL LIMIT QUIET: from the first text in the log
        // view on (the scan has started), asks the main window for WM_NULL
        // every INTERVAL ms, each time waiting at most 5 s, until the log
        // view's length has held still for QUIET ms. Answers the number of
        // asks, the slowest answer in ms, how many took longer than LIMIT ms,
        // and the view's final length; then, for up to 8 slow answers, when
        // (ms since the first ask), how long, and the view's length then.
        HWND view = main != nullptr ? GetDlgItem(main, AppLogViewId) : nullptr;
        unsigned interval = 100, limit = 250, quiet = 2000;
        if (view == nullptr || sscanf(argument.c_str(), "%u %u %u", &interval, &limit, &quiet) != 3)
            return Answer(false, "usage: responsive INTERVAL LIMIT QUIET, on a bound window");
        unsigned asks = 0, slow = 0, slowest = 0;
        DWORD_PTR length = 0, lastLength = (DWORD_PTR)-1;
        DWORD first = GetTickCount();
        DWORD stillSince = first;
        std::string slowAsks;
        for (int wait = 0; length == 0; ++wait) {
            if (wait == 1200)
                return Answer(false, "the log view stayed empty for two minutes");
            Sleep(100);
            SendMessageTimeoutW(view, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, SendTimeoutMs, &length);
        }
        first = GetTickCount();
        for (;;) {
            DWORD start = GetTickCount();
            DWORD_PTR ignored = 0;
            if (!SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, SendTimeoutMs, &ignored))
                return Answer(false, "no answer within 5 s after " + std::to_string(asks) + " asks");
            unsigned took = (unsigned)(GetTickCount() - start);
            asks += 1;
            slowest = took > slowest ? took : slowest;
            SendMessageTimeoutW(view, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, SendTimeoutMs, &length);
            if (took > limit && ++slow <= 8)
                slowAsks += " " + std::to_string(start - first) + ":" + std::to_string(took) + ":" +
                            std::to_string((unsigned long)length);
            if (length != lastLength) {
                lastLength = length;
                stillSince = GetTickCount();
            } else if (length > 0 && GetTickCount() - stillSince >= quiet) {
                break;
            }
            DWORD spent = GetTickCount() - start;
            if (spent < interval)
                Sleep(interval - spent);
        }
        char text[128];
        snprintf(text, sizeof(text), "%u %u %u %lu", asks, slowest, slow, (unsigned long)length);
        return Answer(true, text + slowAsks);
    }
    if (verb == "logview") {
        HWND view = main != nullptr ? GetDlgItem(main, AppLogViewId) : nullptr;
        if (view == nullptr)
            return Answer(false, "no log view");
        char className[64] = "";
        GetClassNameA(view, className, sizeof(className));
        RECT r;
        GetWindowRect(view, &r);
        MapWindowPoints(nullptr, main, (POINT*)&r, 2);
        char text[256];
        snprintf(text, sizeof(text), "class=%s style=%lx exstyle=%lx %s", className,
                 (unsigned long)GetWindowLongA(view, GWL_STYLE), (unsigned long)GetWindowLongA(view, GWL_EXSTYLE),
                 RectText(r).c_str());
        return Answer(true, text);
    }
    if (verb == "scroll" || verb == "scrolltop") {
        // scroll: the log view's first visible line and its line count;
        // scrolltop: scrolls it to its start, as a reader going back would.
        HWND view = main != nullptr ? GetDlgItem(main, AppLogViewId) : nullptr;
        if (view == nullptr)
            return Answer(false, "no log view");
        DWORD_PTR first = 0, count = 0;
        if (verb == "scrolltop")
            SendMessageTimeoutA(view, WM_VSCROLL, SB_TOP, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &first);
        SendMessageTimeoutA(view, EM_GETFIRSTVISIBLELINE, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &first);
        SendMessageTimeoutA(view, EM_GETLINECOUNT, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &count);
        return Answer(true, std::to_string((unsigned long)first) + " " + std::to_string((unsigned long)count));
    }
    // children [HANDLE] and toplevel: lists of windows, for a person finding
    // out how a dialog is built in another Wine.
    if (verb == "children") {
        HWND parent = argument.empty() ? main : (HWND)(UINT_PTR)strtoull(argument.c_str(), nullptr, 16);
        ChildList list;
        if (parent != nullptr)
            EnumChildWindows(parent, ListChild, (LPARAM)&list);
        return Answer(parent != nullptr, list.text);
    }
    if (verb == "wait") {
        // wait TITLE: a top-level dialog with that title; answers its handle,
        // whether the main window owns it and whether the main window is disabled.
        HWND dialog = WaitTop("#32770", argument.c_str(), false, timeout);
        if (dialog == nullptr)
            return Answer(false, "no dialog " + argument);
        return Answer(true, Hex(dialog) + " owner=" + (GetWindow(dialog, GW_OWNER) == main ? "main" : "other") +
                                " mainEnabled=" + (IsWindowEnabled(main) ? "1" : "0"));
    }
    if (verb == "gone") {
        // gone TITLE: waits until no dialog of that title is left and the
        // main window takes input again.
        DWORD start = GetTickCount();
        while (FindTop("#32770", argument.c_str(), true) != nullptr || !IsWindowEnabled(main)) {
            if (GetTickCount() - start >= timeout)
                return Answer(false, "still open");
            Sleep(50);
        }
        return Answer(true, "");
    }
    if (verb == "filename") {
        HWND dialog = Dialog("Select File To Scan", 0);
        HWND field = dialog != nullptr ? FileNameField(dialog) : nullptr;
        std::string text;
        if (field == nullptr || !ReadText(field, &text))
            return Answer(false, "no file name field");
        return Answer(true, Escape(text));
    }
    if (verb == "filters") {
        HWND dialog = Dialog("Select File To Scan", 0);
        HWND combo = dialog != nullptr ? GetDlgItem(dialog, 0x470) : nullptr;
        if (combo == nullptr)
            return Answer(false, "no filter list");
        LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
        LRESULT selected = SendMessageA(combo, CB_GETCURSEL, 0, 0);
        std::string out = "selected=" + std::to_string((long)selected);
        for (LRESULT i = 0; i < count; ++i) {
            // The dialog's combo is a Unicode window: ask for wide text.
            wchar_t wide[256] = L"";
            char item[256] = "";
            SendMessageW(combo, CB_GETLBTEXT, (WPARAM)i, (LPARAM)wide);
            WideCharToMultiByte(CP_ACP, 0, wide, -1, item, sizeof(item), nullptr, nullptr);
            out += "|" + Escape(item);
        }
        return Answer(true, out);
    }
    if (verb == "answer" || verb == "answerin") {
        // answer PATH: types PATH as the file name and confirms the dialog;
        // answerin TITLE<TAB>PATH: the same in the file dialog of that title.
        std::string title = "Select File To Scan";
        std::string path = argument;
        if (verb == "answerin") {
            size_t tab = argument.find('\t');
            if (tab == std::string::npos)
                return Answer(false, "usage: answerin TITLE<TAB>PATH");
            title = argument.substr(0, tab);
            path = argument.substr(tab + 1);
        }
        HWND dialog = Dialog(title, timeout);
        HWND field = dialog != nullptr ? FileNameField(dialog) : nullptr;
        if (field == nullptr)
            return Answer(false, "no file name field");
        DWORD_PTR ignored;
        std::wstring wide = Wide(path);
        SendMessageTimeoutW(field, WM_SETTEXT, 0, (LPARAM)wide.c_str(), SMTO_ABORTIFHUNG, SendTimeoutMs, &ignored);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
        return Answer(true, "");
    }
    if (verb == "dismiss") {
        // dismiss TITLE BUTTON: presses the dialog's button (IDOK 1, IDCANCEL 2).
        size_t space = argument.rfind(' ');
        if (space == std::string::npos)
            return Answer(false, "usage: dismiss TITLE BUTTON");
        std::string title = argument.substr(0, space);
        int button = atoi(argument.c_str() + space + 1);
        HWND dialog = Dialog(title, timeout);
        if (dialog == nullptr)
            return Answer(false, "no dialog " + title);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(dialog, button));
        return Answer(true, "");
    }
    if (verb == "dialogtext") {
        // dialogtext TITLE: the message of a message box (its static 0xffff).
        HWND dialog = Dialog(argument, timeout);
        HWND message = dialog != nullptr ? GetDlgItem(dialog, 0xffff) : nullptr;
        std::string text;
        if (message == nullptr || !ReadText(message, &text))
            return Answer(false, "no message text");
        return Answer(true, Escape(text));
    }
    if (verb == "menu") {
        // menu: the window's menu bar, "text=id" per item, popups in braces.
        HMENU bar = main != nullptr ? GetMenu(main) : nullptr;
        if (bar == nullptr)
            return Answer(false, "no menu");
        // Wine keeps a menu's items in its own process: unreadable from here.
        if (GetMenuItemCount(bar) < 0)
            return Answer(false, "unreadable from another process");
        return Answer(true, MenuText(bar));
    }
    if (verb == "drop") {
        // drop PATH: drops PATH on the main window as the shell does, with a
        // DROPFILES block (wide names) placed in the program's own memory.
        DWORD process = 0;
        if (main == nullptr || GetWindowThreadProcessId(main, &process) == 0)
            return Answer(false, "no window");
        std::wstring name = Wide(argument);
        std::vector<char> block(sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t), 0);
        DROPFILES* drop = (DROPFILES*)block.data();
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        memcpy(block.data() + sizeof(DROPFILES), name.c_str(), name.size() * sizeof(wchar_t));
        HANDLE target = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, process);
        void* remote = target != nullptr ? VirtualAllocEx(target, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE,
                                                          PAGE_READWRITE)
                                         : nullptr;
        SIZE_T written = 0;
        bool placed = remote != nullptr && WriteProcessMemory(target, remote, block.data(), block.size(), &written) &&
                      written == block.size();
        if (target != nullptr)
            CloseHandle(target);
        // The program's DragFinish gives the block back; it is never freed here.
        if (!placed || !PostMessageW(main, WM_DROPFILES, (WPARAM)remote, 0))
            return Answer(false, "cannot place the drop in the program");
        return Answer(true, "");
    }
    if (verb == "regget" || verb == "regclear") {
        // regget NAME: the program's remembered option NAME (a number), or
        // "missing"; regclear: forgets every option, as on a first start.
        if (verb == "regclear") {
            LONG status = RegDeleteKeyA(HKEY_CURRENT_USER, AppRegistryKey);
            return Answer(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND, std::to_string(status));
        }
        HKEY key = nullptr;
        DWORD value = 0, size = sizeof(value), type = 0;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, AppRegistryKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return Answer(true, "missing");
        LONG status = RegQueryValueExA(key, argument.c_str(), nullptr, &type, (BYTE*)&value, &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS)
            return Answer(true, "missing");
        return Answer(type == REG_DWORD, std::to_string((unsigned long)value));
    }
    if (verb == "toplevel") {
        ChildList list;
        EnumWindows(ListChild, (LPARAM)&list);
        return Answer(true, list.text);
    }
    Answer(false, "unknown command " + verb);
}

}  // namespace

int main()
{
    char line[4096];
    while (fgets(line, sizeof(line), stdin) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        if (text.empty())
            continue;
        if (text == "quit")
            break;
        size_t space = text.find(' ');
        std::string verb = text.substr(0, space);
        std::string argument = space == std::string::npos ? "" : text.substr(space + 1);
        Run(verb, argument);
    }
    return 0;
}
