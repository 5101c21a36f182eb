// Threads and folder listings over Win32: CreateThread/WaitForSingleObject,
// critical sections with condition variables, and
// FindFirstFileA/FindNextFileA with the pattern "folder\*.*" (the W entry
// points, with names turned to UTF-8, where the A ones do not carry UTF-8).
#include "scanplatform.h"

#include "fileio.h"
#include "fileio_win32.h"

#include <string.h>
#include <windows.h>

static_assert(sizeof(HANDLE) <= sizeof(((ScanThread*)nullptr)->handleStorage), "HANDLE must fit");

static DWORD WINAPI threadMain(LPVOID param)
{
    ScanThread* thread = static_cast<ScanThread*>(param);
    return thread->entry(thread->param);
}

int32_t ScanThread_Create(ScanThread* thread, ScanThreadEntry entry, void* param)
{
    memset(thread, 0, sizeof(*thread));
    thread->entry = entry;
    thread->param = param;
    DWORD id = 0;
    HANDLE h = CreateThread(nullptr, 0, threadMain, thread, 0, &id);
    if (h == nullptr)
        return -1;
    memcpy(thread->handleStorage, &h, sizeof(h));
    thread->threadId = id;
    thread->exists = 1;
    return 0;
}

int32_t ScanThread_Join(ScanThread* thread)
{
    if (!thread->exists)
        return 0;
    HANDLE h;
    memcpy(&h, thread->handleStorage, sizeof(h));
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
    memset(thread, 0, sizeof(*thread));
    return 0;
}

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(ScanLock), "CRITICAL_SECTION must fit");
static_assert(sizeof(CONDITION_VARIABLE) <= sizeof(ScanSignal), "CONDITION_VARIABLE must fit");

static CRITICAL_SECTION* sectionOf(ScanLock* lock)
{
    return reinterpret_cast<CRITICAL_SECTION*>(lock->storage);
}

static CONDITION_VARIABLE* variableOf(ScanSignal* signal)
{
    return reinterpret_cast<CONDITION_VARIABLE*>(signal->storage);
}

int32_t ScanLock_Init(ScanLock* lock)
{
    InitializeCriticalSection(sectionOf(lock));
    return 0;
}

void ScanLock_Acquire(ScanLock* lock)
{
    EnterCriticalSection(sectionOf(lock));
}

void ScanLock_Release(ScanLock* lock)
{
    LeaveCriticalSection(sectionOf(lock));
}

void ScanLock_Destroy(ScanLock* lock)
{
    DeleteCriticalSection(sectionOf(lock));
}

int32_t ScanSignal_Init(ScanSignal* signal)
{
    InitializeConditionVariable(variableOf(signal));
    return 0;
}

void ScanSignal_Wait(ScanSignal* signal, ScanLock* lock)
{
    SleepConditionVariableCS(variableOf(signal), sectionOf(lock), INFINITE);
}

void ScanSignal_WakeOne(ScanSignal* signal)
{
    WakeConditionVariable(variableOf(signal));
}

void ScanSignal_WakeAll(ScanSignal* signal)
{
    WakeAllConditionVariable(variableOf(signal));
}

void ScanSignal_Destroy(ScanSignal* signal)
{
    (void)signal;  // a condition variable holds no resources
}

int32_t ScanPlatform_CpuCount(void)
{
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    int32_t n = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        for (; process != 0; process &= process - 1)
            ++n;
    return n < 1 ? 1 : n;
}

int64_t ScanPlatform_Microseconds(void)
{
    LARGE_INTEGER count;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    // Whole seconds first: count times a million would overflow after days.
    const int64_t perSecond = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
    return count.QuadPart / perSecond * 1000000 + count.QuadPart % perSecond * 1000000 / perSecond;
}

static void takeType(DirListing* listing, DWORD attributes, DWORD reparseTag)
{
    // Symbolic links and junctions name another file; other reparse points
    // (cloud placeholders, deduplicated files) are the file itself.
    listing->entryIsLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(reparseTag);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        listing->entryType = DirEntryDirectory;
    else if (attributes & FILE_ATTRIBUTE_DEVICE)
        listing->entryType = DirEntryOther;
    else
        listing->entryType = DirEntryFile;
}

static void takeEntry(DirListing* listing, const WIN32_FIND_DATAA* data)
{
    size_t n = strnlen(data->cFileName, sizeof(data->cFileName));
    if (n >= sizeof(listing->name))
        n = sizeof(listing->name) - 1;
    memcpy(listing->name, data->cFileName, n);
    listing->name[n] = '\0';
    takeType(listing, data->dwFileAttributes, data->dwReserved0);
}

static void takeEntryW(DirListing* listing, const WIN32_FIND_DATAW* data)
{
    takeType(listing, data->dwFileAttributes, data->dwReserved0);
    // A name too long for the record as UTF-8 could only be cut, and a cut
    // name opens another file or none: such an entry is never opened.
    if (!PathText_FromWide(data->cFileName, listing->name, sizeof(listing->name)))
        listing->entryType = DirEntryOther;
}

// The active code page, and so the kind of listing, holds for the process.
static HANDLE findFirst(DirListing* listing, const char* pattern)
{
    if (PathText_AnsiIsUtf8()) {
        WIN32_FIND_DATAA data;
        HANDLE h = FindFirstFileA(pattern, &data);
        if (h != INVALID_HANDLE_VALUE)
            takeEntry(listing, &data);
        return h;
    }
    wchar_t wide[ScanPathCapacity];
    if (!PathText_ToWide(pattern, wide, ScanPathCapacity)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(wide, &data);
    if (h != INVALID_HANDLE_VALUE)
        takeEntryW(listing, &data);
    return h;
}

static DWORD folderAttributes(const char* folder)
{
    if (PathText_AnsiIsUtf8())
        return GetFileAttributesA(folder);
    wchar_t wide[ScanPathCapacity];
    if (!PathText_ToWide(folder, wide, ScanPathCapacity))
        return INVALID_FILE_ATTRIBUTES;
    return GetFileAttributesW(wide);
}

int32_t DirListing_Open(DirListing* listing, const char* folder)
{
    memset(listing, 0, sizeof(*listing));
    if (folder == nullptr || folder[0] == '\0')
        return 0;
    char pattern[ScanPathCapacity];
    size_t n = strlen(folder);
    // A drive root keeps its one separator: "D:\" gives "D:\*.*".
    const char* sep = Path_IsSeparator(folder[n - 1]) ? "" : "\\";
    if (n + strlen(sep) + 3 >= sizeof(pattern))
        return 0;
    memcpy(pattern, folder, n);
    strcpy(pattern + n, sep);
    strcat(pattern, "*.*");
    HANDLE h = findFirst(listing, pattern);
    if (h == INVALID_HANDLE_VALUE) {
        // An empty drive root has no "." entry: listed, with nothing in it.
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            DWORD attributes = folderAttributes(folder);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                return 1;
        }
        return 0;
    }
    listing->handle = h;
    listing->pending = 1;
    return 1;
}

int32_t DirListing_Next(DirListing* listing)
{
    if (listing->handle == nullptr)
        return 0;
    if (listing->pending) {
        listing->pending = 0;
        return 1;
    }
    if (!PathText_AnsiIsUtf8()) {
        WIN32_FIND_DATAW data;
        if (FindNextFileW(static_cast<HANDLE>(listing->handle), &data) != TRUE)
            return 0;
        takeEntryW(listing, &data);
        return 1;
    }
    WIN32_FIND_DATAA data;
    if (FindNextFileA(static_cast<HANDLE>(listing->handle), &data) != TRUE)
        return 0;
    takeEntry(listing, &data);
    return 1;
}

void DirListing_Close(DirListing* listing)
{
    if (listing->handle != nullptr)
        FindClose(static_cast<HANDLE>(listing->handle));
    listing->handle = nullptr;
    listing->pending = 0;
}
