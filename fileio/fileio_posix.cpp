// File access over POSIX: open, read, write, lseek, fstat, ftruncate, fsync;
// on Linux, write leases for the files a repair changes.
#include "fileio.h"
#include "filefault.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

static_assert(sizeof(off_t) == 8, "sizes and seeks beyond 2 GiB need a 64-bit off_t (_FILE_OFFSET_BITS=64)");

static int toFd(FileHandle handle)
{
    return static_cast<int>(handle);
}

static int openFailure(int error, const char* path, bool wantWrite)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return FileOpenFailMissing;
    case EROFS:
        return FileOpenFailReadOnly;
    case EACCES:
    case EPERM:
        // Refused for writing, a file one may read is read-only; one that
        // cannot be read either is kept from us altogether.
        return wantWrite && path != nullptr && access(path, R_OK) == 0 ? FileOpenFailReadOnly : FileOpenFailDenied;
    case EWOULDBLOCK:
    case ETXTBSY:
        return FileOpenFailInUse;
    case EEXIST:
        return FileOpenFailExists;
    default:
        return FileOpenFailOther;
    }
}

#ifdef __linux__
// The break of a lease is signalled, with SIGIO unless told otherwise, and
// SIGIO ends a process that does not catch it. SIGURG is ignored unless
// caught; nothing waits for it, since File_Unchanged asks the kernel. Set on
// a descriptor, it also marks it as one a lease was taken on.
const int LeaseSignal = SIGURG;

// File systems whose "in use" answer to a lease means only that the server
// granted none (NFS without a delegation, SMB, FUSE, 9P, Ceph).
static bool grantsNoLocalLeases(int fd)
{
    struct statfs fs;
    if (fstatfs(fd, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x65735546UL:  // FUSE
    case 0x01021997UL:  // 9P
    case 0x00C36400UL:  // Ceph
        return true;
    default:
        return false;
    }
}

// Takes a write lease on fd: 1 held, 0 none to be had here (File_Unchanged
// then compares length and time), -1 another descriptor of the file is open.
static int takeLease(int fd)
{
    if (FileFault_LeasesRefused() || fcntl(fd, F_SETSIG, LeaseSignal) != 0)
        return 0;
    if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0)
        return 1;
    const int error = errno;
    fcntl(fd, F_SETSIG, 0);
    return (error == EAGAIN && !grantsNoLocalLeases(fd)) ? -1 : 0;
}

static bool leaseTaken(int fd)
{
    return fcntl(fd, F_GETSIG) == LeaseSignal;
}
#endif

static int64_t modifiedOf(const struct stat& st)
{
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

static void takeStamp(const struct stat& st, FileStamp* stamp)
{
    stamp->size = static_cast<int64_t>(st.st_size);
    stamp->modified = modifiedOf(st);
    stamp->device = static_cast<uint64_t>(st.st_dev);
    stamp->inode = static_cast<uint64_t>(st.st_ino);
    stamp->links = static_cast<uint32_t>(st.st_nlink);
}

int64_t File_StampAgeMs(const FileStamp* stamp)
{
    struct timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0)
        return 0;
    const int64_t nowNs = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    return (nowNs - stamp->modified) / 1000000;
}

int64_t File_ModifiedNs(const FileStamp* stamp)
{
    return stamp->modified;
}

int File_SetModifiedNs(FileHandle handle, int64_t ns)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(ns / 1000000000);
    times[1].tv_nsec = static_cast<long>(ns % 1000000000);
    return futimens(toFd(handle), times) == 0;
}

const char* File_ErrorText(uint32_t error)
{
    switch (error) {
    case ENOSPC:
        return "no space left on the device";
    case EDQUOT:
        return "over the disk quota";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EROFS:
        return "read-only file system";
    case EIO:
        return "input/output error: a failing disk or card?";
    case EFBIG:
        return "too large for the file system";
    case EPIPE:
        return "the reader has gone (a closed pipe)";
    default:
        return "the system refused it";
    }
}

// File_Open; *st gets the fstat that told the file is a regular one.
static int openFile(const char* path, uint32_t mode, FileHandle* outHandle, struct stat* st)
{
    *outHandle = FileHandleNone;
    FileIo_SetOpenFailure(FileOpenFailOther);
    if (FileFault_Hit(FileFaultOpen))
        return 0;

    int flags;
    bool wantRead = (mode & FileModeRead) != 0;
    bool wantWrite = (mode & FileModeWrite) != 0;
    if (wantRead && wantWrite)
        flags = O_RDWR;
    else if (wantWrite)
        flags = O_WRONLY;
    else if (wantRead)
        flags = O_RDONLY;
    else
        return 0;  // no access asked for: Win32 would refuse too

    uint32_t disposition =
        mode & (FileModeCreateAlways | FileModeOpenExisting | FileModeOpenAlways | FileModeCreateNew);
    // O_TRUNC would empty a file before the lock below tells whether another
    // opener holds it: the file is emptied only once it is locked.
    const bool truncate = disposition == FileModeCreateAlways;
    if (disposition == FileModeCreateAlways)
        flags |= O_CREAT;
    else if (disposition == FileModeOpenAlways)
        flags |= O_CREAT;
    else if (disposition == FileModeCreateNew)
        flags |= O_CREAT | O_EXCL;
    else if (disposition != FileModeOpenExisting)
        return 0;  // none or several dispositions: the OS refuses

    // O_NONBLOCK so that a FIFO or device named like a recording never hangs
    // the open. Only regular files are kept, and for them the flag changes
    // nothing, so it is left set rather than cleared with two more calls.
    int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        FileIo_SetOpenFailure(openFailure(errno, path, wantWrite));
        return 0;
    }
    const bool stated = fstat(fd, st) == 0;
    if (!stated || !S_ISREG(st->st_mode)) {
        if (stated)
            FileIo_SetOpenFailure(FileOpenFailNotFile);
        close(fd);
        return 0;
    }

    // Advisory locks stand in for Win32 sharing modes.
    if (!(mode & FileModeShareWrite)) {
        int lockOp = ((mode & FileModeShareRead) && !wantWrite) ? LOCK_SH : LOCK_EX;
        if (flock(fd, lockOp | LOCK_NB) != 0) {
            FileIo_SetOpenFailure(openFailure(errno, nullptr, wantWrite));
            close(fd);
            return 0;
        }
    }
#ifdef __linux__
    // Only a lease keeps out a recorder that opened the file without a lock.
    if (wantWrite && !(mode & FileModeShareWrite) && takeLease(fd) < 0) {
        FileIo_SetOpenFailure(FileOpenFailInUse);
        close(fd);
        return 0;
    }
#endif
    if (truncate && ftruncate(fd, 0) != 0) {
        FileIo_SetOpenFailure(openFailure(errno, nullptr, wantWrite));
        close(fd);
        return 0;
    }
    FileIo_SetOpenFailure(FileOpenFailNone);
    *outHandle = fd;
    return 1;
}

int File_Open(const char* path, uint32_t mode, FileHandle* outHandle, uint32_t attributes)
{
    (void)attributes;
    struct stat st;
    return openFile(path, mode, outHandle, &st);
}

int File_OpenMeasured(const char* path, uint32_t mode, FileHandle* outHandle, uint32_t attributes,
                      FileStamp* outStamp)
{
    (void)attributes;
    memset(outStamp, 0, sizeof(*outStamp));
    struct stat st;
    if (!openFile(path, mode, outHandle, &st))
        return 0;
    FileIo_SetChange(FileChangeNone);
    if (FileFault_Hit(FileFaultSize))
        return 1;
    // The open's fstat came before it emptied the file.
    if ((mode & FileModeCreateAlways) && fstat(toFd(*outHandle), &st) != 0)
        return 1;
    // Taken before the lock and the lease: a writer that finished in between
    // makes the length differ, and File_Unchanged then refuses the repair.
    takeStamp(st, outStamp);
    return 1;
}

int File_StampPath(const char* path, FileStamp* outStamp)
{
    memset(outStamp, 0, sizeof(*outStamp));
    struct stat st;
    if (stat(path, &st) != 0)
        return 0;
    takeStamp(st, outStamp);
    return 1;
}

int File_GetSize64(FileHandle handle, int64_t* outSize)
{
    *outSize = 0;
    if (FileFault_Hit(FileFaultSize))
        return 0;
    struct stat st;
    if (fstat(toFd(handle), &st) != 0)
        return 0;
    *outSize = static_cast<int64_t>(st.st_size);
    return 1;
}

int File_GetStamp(FileHandle handle, FileStamp* outStamp)
{
    memset(outStamp, 0, sizeof(*outStamp));
    FileIo_SetChange(FileChangeNone);
    if (FileFault_Hit(FileFaultSize))
        return 0;
    struct stat st;
    if (fstat(toFd(handle), &st) != 0)
        return 0;
    takeStamp(st, outStamp);
    return 1;
}

int File_Unchanged(FileHandle handle, const FileStamp* stamp, int timeToo)
{
    FileIo_SetChange(FileChangeNone);
    if (FileFault_Hit(FileFaultSize))
        return 0;
    const int fd = toFd(handle);
#ifdef __linux__
    // While a break is pending the kernel reports the type the lease is
    // being broken to.
    if (leaseTaken(fd) && fcntl(fd, F_GETLEASE) != F_WRLCK) {
        FileIo_SetChange(FileChangeOpened);
        return 0;
    }
#endif
    struct stat st;
    if (fstat(fd, &st) != 0)
        return 0;
    if (static_cast<int64_t>(st.st_size) != stamp->size) {
        FileIo_SetChange(FileChangeLength);
        return 0;
    }
    if (timeToo && modifiedOf(st) != stamp->modified) {
        FileIo_SetChange(FileChangeTime);
        return 0;
    }
    return 1;
}

int File_ReadExact(FileHandle handle, void* buffer, uint32_t count)
{
    if (FileFault_Hit(FileFaultRead)) {
        LastFileError = EIO;
        return 0;
    }
    char* p = static_cast<char*>(buffer);
    uint32_t done = 0;
    // A regular file gives the whole request at once; the loop covers
    // interrupted calls only, and ends on end of file.
    while (done < count) {
        ssize_t n = read(toFd(handle), p + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            LastFileError = static_cast<uint32_t>(errno);
            return 0;
        }
        done += static_cast<uint32_t>(n);
    }
    return 1;
}

int File_ReadUpTo(FileHandle handle, void* buffer, uint32_t count, uint32_t* outDone)
{
    *outDone = 0;
    if (FileFault_Hit(FileFaultRead)) {
        LastFileError = EIO;
        return 0;
    }
    ssize_t n;
    do
        n = read(toFd(handle), buffer, count);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        LastFileError = static_cast<uint32_t>(errno);
        return 0;
    }
    *outDone = static_cast<uint32_t>(n);
    return 1;
}

int File_WriteExact(FileHandle handle, const void* buffer, uint32_t count)
{
    if (FileFault_Hit(FileFaultWrite)) {
        LastFileError = EIO;
        return 0;
    }
    const char* p = static_cast<const char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = write(toFd(handle), p + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            LastFileError = static_cast<uint32_t>(n < 0 ? errno : ENOSPC);
            return 0;
        }
        done += static_cast<uint32_t>(n);
    }
    return 1;
}

int File_SeekTo(FileHandle handle, int64_t position)
{
    if (FileFault_Hit(FileFaultSeek))
        return 0;
    return lseek(toFd(handle), static_cast<off_t>(position), SEEK_SET) != static_cast<off_t>(-1);
}

int File_SeekBy(FileHandle handle, int64_t delta)
{
    if (FileFault_Hit(FileFaultSeek))
        return 0;
    return lseek(toFd(handle), static_cast<off_t>(delta), SEEK_CUR) != static_cast<off_t>(-1);
}

int File_Truncate(FileHandle handle)
{
    if (FileFault_Hit(FileFaultTruncate)) {
        LastFileError = EIO;
        return 0;
    }
    off_t here = lseek(toFd(handle), 0, SEEK_CUR);
    if (here == static_cast<off_t>(-1) || ftruncate(toFd(handle), here) != 0) {
        LastFileError = static_cast<uint32_t>(errno);
        return 0;
    }
    return 1;
}

int File_Flush(FileHandle handle)
{
    if (FileFault_Hit(FileFaultFlush)) {
        LastFileError = EIO;
        return 0;
    }
    if (fsync(toFd(handle)) != 0) {
        LastFileError = static_cast<uint32_t>(errno);
        return 0;
    }
    return 1;
}

int File_Close(FileHandle handle)
{
    int injected = FileFault_Hit(FileFaultClose);
    int ok = close(toFd(handle)) == 0;
    if (!ok || injected)
        LastFileError = !ok ? static_cast<uint32_t>(errno) : EIO;
    return ok && !injected;
}

int Path_IsSeparator(char c)
{
    return c == '/';
}

int File_RenameNoReplace(const char* from, const char* to, int* outExists)
{
    *outExists = 0;
#ifdef __linux__
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 1;
    if (errno == EEXIST) {
        *outExists = 1;
        return 0;
    }
    // Only a file system that does not know the flag goes on to the link.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return 0;
#endif
    // link() never replaces a name; the temporary name goes once both exist.
    if (link(from, to) != 0) {
        *outExists = errno == EEXIST;
        return 0;
    }
    unlink(from);
    return 1;
}

int File_Remove(const char* path)
{
    return unlink(path) == 0;
}

int File_Exists(const char* path)
{
    struct stat st;
    return lstat(path, &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

int File_NextData(FileHandle handle, int64_t from, int64_t fileSize, int64_t* dataStart, int64_t* dataEnd)
{
    *dataStart = from;
    *dataEnd = fileSize;
    if (from >= fileSize) {
        *dataStart = fileSize;
        return 1;
    }
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
    const int fd = toFd(handle);
    off_t data = lseek(fd, static_cast<off_t>(from), SEEK_DATA);
    if (data == static_cast<off_t>(-1)) {
        if (errno == ENXIO) {  // a hole up to the end
            *dataStart = fileSize;
            return 1;
        }
        return errno == EINVAL || errno == EOPNOTSUPP;  // no holes kept here: all data
    }
    off_t hole = lseek(fd, data, SEEK_HOLE);
    if (hole == static_cast<off_t>(-1))
        return 0;
    *dataStart = static_cast<int64_t>(data) < fileSize ? static_cast<int64_t>(data) : fileSize;
    *dataEnd = static_cast<int64_t>(hole) < fileSize ? static_cast<int64_t>(hole) : fileSize;
#else
    (void)handle;
#endif
    return 1;
}

int File_AllowHoles(FileHandle handle)
{
    (void)handle;
    return 1;
}

// Through the buffer: where the kernel copy is not to be had.
static int copyThrough(int from, int64_t fromPos, int to, int64_t toPos, uint32_t count, void* buffer,
                       uint32_t bufferSize)
{
    char* b = static_cast<char*>(buffer);
    while (count > 0) {
        const uint32_t want = count < bufferSize ? count : bufferSize;
        ssize_t got = pread(from, b, want, static_cast<off_t>(fromPos));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            LastFileError = static_cast<uint32_t>(got < 0 ? errno : EIO);
            return 0;
        }
        ssize_t done = 0;
        while (done < got) {
            ssize_t n = pwrite(to, b + done, static_cast<size_t>(got - done), static_cast<off_t>(toPos + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                LastFileError = static_cast<uint32_t>(n < 0 ? errno : ENOSPC);
                return 0;
            }
            done += n;
        }
        fromPos += got;
        toPos += got;
        count -= static_cast<uint32_t>(got);
    }
    return 1;
}

int File_CopyRange(FileHandle from, int64_t fromPos, FileHandle to, int64_t toPos, uint32_t count, void* buffer,
                   uint32_t bufferSize)
{
    if (FileFault_Hit(FileFaultRead)) {
        LastFileError = EIO;
        return 0;
    }
    if (FileFault_Hit(FileFaultWrite)) {
        LastFileError = ENOSPC;
        return 0;
    }
    if (bufferSize == 0)
        return 0;
#ifdef __linux__
    off_t in = static_cast<off_t>(fromPos);
    off_t out = static_cast<off_t>(toPos);
    while (count > 0) {
        ssize_t n = copy_file_range(toFd(from), &in, toFd(to), &out, count, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0) {
            count -= static_cast<uint32_t>(n);
            continue;
        }
        if (n == 0) {  // the source ended early
            LastFileError = EIO;
            return 0;
        }
        // Kernels and file systems that cannot copy this pair: the buffer.
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF)
            break;
        LastFileError = static_cast<uint32_t>(errno);
        return 0;
    }
    if (count == 0)
        return 1;
    fromPos = static_cast<int64_t>(in);
    toPos = static_cast<int64_t>(out);
#endif
    return copyThrough(toFd(from), fromPos, toFd(to), toPos, count, buffer, bufferSize);
}

int File_StartWriteback(FileHandle handle, int64_t pos, int64_t count)
{
#ifdef __linux__
    // Only a hint: a refusal leaves the writing to the flush.
    sync_file_range(toFd(handle), static_cast<off_t>(pos), static_cast<off_t>(count), SYNC_FILE_RANGE_WRITE);
#else
    (void)handle;
    (void)pos;
    (void)count;
#endif
    return 1;
}
