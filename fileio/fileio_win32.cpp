// File access over Win32: CreateFileA (CreateFileW where the A entry points
// do not carry UTF-8), ReadFile, WriteFile, SetFilePointer, GetFileSize,
// SetEndOfFile, FlushFileBuffers, CloseHandle.
#include "fileio.h"
#include "filefault.h"
#include "fileio_win32.h"

#include <windows.h>
#include <winioctl.h>

int PathText_AnsiIsUtf8(void)
{
    return GetACP() == CP_UTF8;
}

int PathText_ToWide(const char* text, wchar_t* out, int capacity)
{
    if (capacity < 1)
        return 0;
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out, capacity) == 0) {
        out[0] = L'\0';
        return 0;
    }
    return 1;
}

int PathText_FromWide(const wchar_t* text, char* out, int capacity)
{
    if (capacity < 1)
        return 0;
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, out, capacity, nullptr, nullptr) == 0) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

// UTF-8 never takes fewer bytes than UTF-16 units: the 1024 bytes of the
// longest path the scan builds fit.
enum { WidePathCapacity = 1024 };

static HANDLE createFile(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD attributes)
{
    if (PathText_AnsiIsUtf8())
        return CreateFileA(path, access, share, nullptr, disposition, attributes, nullptr);
    wchar_t wide[WidePathCapacity];
    if (!PathText_ToWide(path, wide, WidePathCapacity)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(wide, access, share, nullptr, disposition, attributes, nullptr);
}

static HANDLE toHandle(FileHandle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

static int openFailure(DWORD error, const char* path, bool wantWrite)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return FileOpenFailMissing;
    case ERROR_WRITE_PROTECT:
        return FileOpenFailReadOnly;
    case ERROR_ACCESS_DENIED: {
        // Windows answers a read-only file's write open with "access denied".
        DWORD attributes = INVALID_FILE_ATTRIBUTES;
        wchar_t wide[WidePathCapacity];
        if (PathText_AnsiIsUtf8())
            attributes = GetFileAttributesA(path);
        else if (PathText_ToWide(path, wide, WidePathCapacity))
            attributes = GetFileAttributesW(wide);
        if (wantWrite && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            return FileOpenFailReadOnly;
        return FileOpenFailDenied;
    }
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return FileOpenFailInUse;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return FileOpenFailExists;
    default:
        return FileOpenFailOther;
    }
}

int File_Open(const char* path, uint32_t mode, FileHandle* outHandle, uint32_t attributes)
{
    *outHandle = FileHandleNone;
    FileIo_SetOpenFailure(FileOpenFailOther);
    if (FileFault_Hit(FileFaultOpen))
        return 0;
    DWORD access = 0, share = 0, disposition = 0;
    if (mode & FileModeRead) access |= GENERIC_READ;
    if (mode & FileModeWrite) access |= GENERIC_WRITE;
    if (mode & FileModeShareRead) share |= FILE_SHARE_READ;
    if (mode & FileModeShareWrite) share |= FILE_SHARE_WRITE;
    if (mode & FileModeCreateAlways) disposition |= CREATE_ALWAYS;
    if (mode & FileModeOpenExisting) disposition |= OPEN_EXISTING;
    if (mode & FileModeOpenAlways) disposition |= OPEN_ALWAYS;
    if (mode & FileModeCreateNew) disposition |= CREATE_NEW;
    HANDLE h = createFile(path, access, share, disposition, attributes);
    if (h == INVALID_HANDLE_VALUE) {
        FileIo_SetOpenFailure(openFailure(GetLastError(), path, (mode & FileModeWrite) != 0));
        return 0;
    }
    // Only disk files: a pipe or device named like a recording is refused.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        FileIo_SetOpenFailure(FileOpenFailNotFile);
        CloseHandle(h);
        return 0;
    }
    FileIo_SetOpenFailure(FileOpenFailNone);
    *outHandle = reinterpret_cast<FileHandle>(h);
    return 1;
}

int File_GetSize64(FileHandle handle, int64_t* outSize)
{
    *outSize = 0;
    if (FileFault_Hit(FileFaultSize))
        return 0;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(toHandle(handle), &high);
    // A low half of 0xFFFFFFFF is also the size of a file of 4 GiB - 1 (and
    // of every 4 GiB beyond): only the error code tells a failure.
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return 0;
    *outSize = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
    return 1;
}

int File_ReadExact(FileHandle handle, void* buffer, uint32_t count)
{
    if (FileFault_Hit(FileFaultRead)) {
        LastFileError = ERROR_READ_FAULT;
        return 0;
    }
    DWORD done = 0;
    BOOL ok = ReadFile(toHandle(handle), buffer, count, &done, nullptr);
    if (!ok || done != count) {
        LastFileError = GetLastError();
        return 0;
    }
    return 1;
}

int File_ReadUpTo(FileHandle handle, void* buffer, uint32_t count, uint32_t* outDone)
{
    *outDone = 0;
    if (FileFault_Hit(FileFaultRead)) {
        LastFileError = ERROR_READ_FAULT;
        return 0;
    }
    DWORD done = 0;
    if (!ReadFile(toHandle(handle), buffer, count, &done, nullptr)) {
        LastFileError = GetLastError();
        return 0;
    }
    *outDone = done;
    return 1;
}

int File_WriteExact(FileHandle handle, const void* buffer, uint32_t count)
{
    if (FileFault_Hit(FileFaultWrite)) {
        LastFileError = ERROR_WRITE_FAULT;
        return 0;
    }
    DWORD done = 0;
    BOOL ok = WriteFile(toHandle(handle), buffer, count, &done, nullptr);
    if (!ok || done != count) {
        LastFileError = GetLastError();
        return 0;
    }
    return 1;
}

static int seekWin32(FileHandle handle, int64_t distance, DWORD method)
{
    if (FileFault_Hit(FileFaultSeek))
        return 0;
    LONG high = static_cast<LONG>(static_cast<uint64_t>(distance) >> 32);
    // The low half of a good new position may read as negative or equal
    // INVALID_SET_FILE_POINTER; only a fresh error code marks a failure, so
    // any older code is cleared first.
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(toHandle(handle), static_cast<LONG>(static_cast<uint32_t>(distance)), &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return 0;
    return 1;
}

int File_SeekTo(FileHandle handle, int64_t position)
{
    return seekWin32(handle, position, FILE_BEGIN);
}

int File_SeekBy(FileHandle handle, int64_t delta)
{
    return seekWin32(handle, delta, FILE_CURRENT);
}

int File_Truncate(FileHandle handle)
{
    if (FileFault_Hit(FileFaultTruncate)) {
        LastFileError = ERROR_WRITE_FAULT;
        return 0;
    }
    if (!SetEndOfFile(toHandle(handle))) {
        LastFileError = GetLastError();
        return 0;
    }
    return 1;
}

int File_Flush(FileHandle handle)
{
    if (FileFault_Hit(FileFaultFlush)) {
        LastFileError = ERROR_WRITE_FAULT;
        return 0;
    }
    if (!FlushFileBuffers(toHandle(handle))) {
        LastFileError = GetLastError();
        return 0;
    }
    return 1;
}

int File_Close(FileHandle handle)
{
    int injected = FileFault_Hit(FileFaultClose);
    int ok = CloseHandle(toHandle(handle)) != 0;
    if (!ok || injected)
        LastFileError = !ok ? GetLastError() : ERROR_WRITE_FAULT;
    return ok && !injected;
}

int Path_IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// A repair opens its file sharing nothing, so that no other program can
// have written it meanwhile; length and time are compared all the same.
static int64_t ticksOf(const FILETIME& time)
{
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// Length, time, volume, index and links in one call.
static int stampOf(FileHandle handle, FileStamp* stamp)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(toHandle(handle), &info))
        return 0;
    stamp->size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    stamp->modified = ticksOf(info.ftLastWriteTime);
    stamp->device = info.dwVolumeSerialNumber;
    stamp->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp->links = info.nNumberOfLinks;
    return 1;
}

int64_t File_StampAgeMs(const FileStamp* stamp)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (ticksOf(now) - stamp->modified) / 10000;
}

// FILETIME counts 100 ns from 1601; these are its ticks at 1970.
static const int64_t FileTimeAt1970 = 116444736000000000LL;

int64_t File_ModifiedNs(const FileStamp* stamp)
{
    return (stamp->modified - FileTimeAt1970) * 100;
}

int File_SetModifiedNs(FileHandle handle, int64_t ns)
{
    const uint64_t ticks = static_cast<uint64_t>(ns / 100 + FileTimeAt1970);
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    written.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return SetFileTime(toHandle(handle), nullptr, nullptr, &written) != 0;
}

const char* File_ErrorText(uint32_t error)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "no space left on the device";
    case ERROR_ACCESS_DENIED:
        return "permission denied";
    case ERROR_WRITE_PROTECT:
        return "read-only file system";
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
        return "input/output error: a failing disk or card?";
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return "the reader has gone (a closed pipe)";
    default:
        return "the system refused it";
    }
}

int File_GetStamp(FileHandle handle, FileStamp* outStamp)
{
    ZeroMemory(outStamp, sizeof(*outStamp));
    FileIo_SetChange(FileChangeNone);
    if (FileFault_Hit(FileFaultSize) || !stampOf(handle, outStamp)) {
        ZeroMemory(outStamp, sizeof(*outStamp));
        return 0;
    }
    return 1;
}

// GetFileType is all the open asks: the stamp costs its own calls here.
int File_OpenMeasured(const char* path, uint32_t mode, FileHandle* outHandle, uint32_t attributes,
                      FileStamp* outStamp)
{
    ZeroMemory(outStamp, sizeof(*outStamp));
    if (!File_Open(path, mode, outHandle, attributes))
        return 0;
    File_GetStamp(*outHandle, outStamp);
    return 1;
}

int File_Unchanged(FileHandle handle, const FileStamp* stamp, int timeToo)
{
    FileIo_SetChange(FileChangeNone);
    FileStamp now;
    if (FileFault_Hit(FileFaultSize) || !stampOf(handle, &now))
        return 0;
    if (now.size != stamp->size) {
        FileIo_SetChange(FileChangeLength);
        return 0;
    }
    if (timeToo && now.modified != stamp->modified) {
        FileIo_SetChange(FileChangeTime);
        return 0;
    }
    return 1;
}

// The A entry point where it carries UTF-8, else the W one; 0 for a name
// that is no UTF-8 or too long (the error is then ERROR_INVALID_NAME).
static int toWide(const char* path, wchar_t* out)
{
    if (PathText_ToWide(path, out, WidePathCapacity))
        return 1;
    SetLastError(ERROR_INVALID_NAME);
    return 0;
}

int File_RenameNoReplace(const char* from, const char* to, int* outExists)
{
    *outExists = 0;
    BOOL ok;
    if (PathText_AnsiIsUtf8()) {
        ok = MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH);
    } else {
        wchar_t wideFrom[WidePathCapacity];
        wchar_t wideTo[WidePathCapacity];
        ok = toWide(from, wideFrom) && toWide(to, wideTo) && MoveFileExW(wideFrom, wideTo, MOVEFILE_WRITE_THROUGH);
    }
    if (ok)
        return 1;
    const DWORD error = GetLastError();
    *outExists = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return 0;
}

int File_Remove(const char* path)
{
    if (PathText_AnsiIsUtf8())
        return DeleteFileA(path) != 0;
    wchar_t wide[WidePathCapacity];
    return toWide(path, wide) && DeleteFileW(wide) != 0;
}

int File_StampPath(const char* path, FileStamp* outStamp)
{
    memset(outStamp, 0, sizeof(*outStamp));
    // No access asked: such a handle meets no sharing mode. Backup semantics
    // only so that a folder named like a recording answers too.
    HANDLE h = createFile(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    const int ok = stampOf(reinterpret_cast<FileHandle>(h), outStamp);
    CloseHandle(h);
    if (!ok)
        memset(outStamp, 0, sizeof(*outStamp));
    return ok;
}

int File_Exists(const char* path)
{
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    wchar_t wide[WidePathCapacity];
    if (PathText_AnsiIsUtf8())
        attributes = GetFileAttributesA(path);
    else if (toWide(path, wide))
        attributes = GetFileAttributesW(wide);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return 1;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

int File_NextData(FileHandle handle, int64_t from, int64_t fileSize, int64_t* dataStart, int64_t* dataEnd)
{
    *dataStart = from < fileSize ? from : fileSize;
    *dataEnd = fileSize;
    if (from >= fileSize)
        return 1;
    FILE_ALLOCATED_RANGE_BUFFER query;
    query.FileOffset.QuadPart = from;
    query.Length.QuadPart = fileSize - from;
    FILE_ALLOCATED_RANGE_BUFFER range;
    DWORD got = 0;
    // One range is all this asks for: ERROR_MORE_DATA still fills it.
    if (!DeviceIoControl(toHandle(handle), FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof(query), &range, sizeof(range),
                         &got, nullptr) &&
        GetLastError() != ERROR_MORE_DATA)
        return 1;  // a file system without holes (FAT): all data
    if (got < sizeof(range)) {
        *dataStart = fileSize;  // nothing allocated up to the end
        return 1;
    }
    const int64_t start = range.FileOffset.QuadPart;
    const int64_t end = start + range.Length.QuadPart;
    *dataStart = start < from ? from : (start < fileSize ? start : fileSize);
    *dataEnd = end < fileSize ? end : fileSize;
    return 1;
}

int File_AllowHoles(FileHandle handle)
{
    DWORD got = 0;
    // Where the file system refuses, the unwritten ranges read as zeros all the same.
    DeviceIoControl(toHandle(handle), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &got, nullptr);
    return 1;
}

int File_CopyRange(FileHandle from, int64_t fromPos, FileHandle to, int64_t toPos, uint32_t count, void* buffer,
                   uint32_t bufferSize)
{
    if (bufferSize == 0 || !File_SeekTo(from, fromPos) || !File_SeekTo(to, toPos))
        return 0;
    while (count > 0) {
        const uint32_t piece = count < bufferSize ? count : bufferSize;
        if (!File_ReadExact(from, buffer, piece) || !File_WriteExact(to, buffer, piece))
            return 0;
        count -= piece;
    }
    return 1;
}

int File_StartWriteback(FileHandle handle, int64_t pos, int64_t count)
{
    // Windows writes behind on its own; the flush at the end waits for it.
    (void)handle;
    (void)pos;
    (void)count;
    return 1;
}
