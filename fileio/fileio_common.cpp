// The platform-independent half of the file access layer: paths, memory,
// byte order and the fault injection counters.
#include "fileio.h"
#include "filefault.h"

#include <atomic>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <mbstring.h>
#else
#include <strings.h>
#endif

thread_local uint32_t LastFileError = 0;

// Per thread: scans may examine files on several threads at once.
static thread_local int lastOpenFailure = FileOpenFailNone;

void FileIo_SetOpenFailure(int failure)
{
    lastOpenFailure = failure;
}

int File_LastOpenFailure(void)
{
    return lastOpenFailure;
}

static thread_local int lastChange = FileChangeNone;

void FileIo_SetChange(int change)
{
    lastChange = change;
}

int File_LastChange(void)
{
    return lastChange;
}

const char* File_ChangeText(int change)
{
    switch (change) {
    case FileChangeNone: return "no change";
    case FileChangeLength: return "its length changed while it was checked";
    case FileChangeTime: return "it was written while it was checked";
    case FileChangeOpened: return "another program opened it while it was checked";
    default: return "it changed while it was checked";
    }
}

const char* File_OpenFailureText(int failure)
{
    switch (failure) {
    case FileOpenFailNone: return "no failure";
    case FileOpenFailMissing: return "no such file";
    case FileOpenFailReadOnly: return "read-only";
    case FileOpenFailDenied: return "permission denied";
    case FileOpenFailInUse: return "in use by another program";
    case FileOpenFailNotFile: return "not a regular file";
    case FileOpenFailExists: return "already exists";
    default: return "refused by the system";
    }
}

void Path_StripFileName(char* path)
{
    char* last = strrchr(path, PathSeparator);
    if (last != nullptr)
        *last = '\0';
}

const char* Path_FileName(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (Path_IsSeparator(*p))
            name = p + 1;
    return name;
}

int Path_HasExtension(const char* path, const char* ext)
{
    size_t n = strlen(path);
    const char* dot = nullptr;
    while (n > 0) {
        char c = path[n - 1];
        if (c == PathSeparator)
            return 0;
        if (c == '.') {
            dot = path + n - 1;
            break;
        }
        --n;
    }
    if (dot == nullptr)
        return 0;
    const char* tail = (ext[0] == '.') ? dot : dot + 1;
#ifdef _WIN32
    // Double-byte characters of the code page compare as units.
    return _mbsicmp(reinterpret_cast<const unsigned char*>(tail),
                    reinterpret_cast<const unsigned char*>(ext)) == 0;
#else
    return strcasecmp(tail, ext) == 0;
#endif
}

void Mem_Copy(void* dst, const void* src, uint32_t n)
{
    if (n == 0 || dst == src)
        return;
    memcpy(dst, src, n);
}

void Mem_Zero(void* p, uint32_t n)
{
    memset(p, 0, n);
}

void Mem_FillSilence8(void* p, uint32_t n)
{
    memset(p, 0x80, n);
}

uint16_t Swap16(uint16_t v)
{
    return static_cast<uint16_t>((v >> 8) | (v << 8));
}

uint32_t Swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

void* Mem_Alloc(uint32_t n)
{
    return malloc(n);
}

void Mem_Free(void* p)
{
    free(p);
}

// Fault injection. Atomics because the scan worker does its I/O on its own
// thread while a test arms the plan from the main thread.
static std::atomic<uint32_t> faultCountOps{0};
static std::atomic<uint32_t> faultNth{0};
static std::atomic<uint32_t> faultAfterOps{0};
static std::atomic<uint32_t> faultCounted{0};
static std::atomic<int> faultTripped{0};
static std::atomic<uint32_t> faultCalls[8];
static std::atomic<int> faultNoLeases{0};

void FileFault_Arm(uint32_t countOps, uint32_t nth, uint32_t failOpsAfter)
{
    const int noLeases = faultNoLeases;
    FileFault_Disarm();
    faultNoLeases = noLeases;
    faultAfterOps = failOpsAfter;
    faultNth = nth;
    faultCountOps = countOps;
}

void FileFault_Disarm(void)
{
    faultCountOps = 0;
    faultNth = 0;
    faultAfterOps = 0;
    faultCounted = 0;
    faultTripped = 0;
    faultNoLeases = 0;
    for (auto& c : faultCalls)
        c = 0;
}

uint32_t FileFault_Count(uint32_t ops)
{
    uint32_t total = 0;
    for (int i = 0; i < 8; ++i)
        if (ops & (1u << i))
            total += faultCalls[i];
    return total;
}

int FileFault_Hit(uint32_t op)
{
    for (int i = 0; i < 8; ++i)
        if (op == (1u << i))
            ++faultCalls[i];
    if (faultTripped && (faultAfterOps & op))
        return 1;
    if (faultNth != 0 && (faultCountOps & op)) {
        if (++faultCounted == faultNth) {
            faultTripped = 1;
            return 1;
        }
    }
    return 0;
}

void FileFault_RefuseLeases(int refuse)
{
    faultNoLeases = refuse != 0;
}

int FileFault_LeasesRefused(void)
{
    return faultNoLeases;
}
