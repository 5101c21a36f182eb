// File access layer: the only code that talks to the operating system's file
// services. Every file operation returns 1 for success and 0 for failure.
#ifndef TESSMARK_FILEIO_H
#define TESSMARK_FILEIO_H

#include <stdint.h>

// An OS file handle (a HANDLE on Windows, a descriptor elsewhere), widened so
// that both fit. FileHandleNone (-1) means "not open".
typedef intptr_t FileHandle;
#define FileHandleNone ((FileHandle)-1)

// Mode word bits for File_Open; access, sharing and disposition are ORed.
enum {
    FileModeRead = 0x001,          // read access
    FileModeWrite = 0x002,         // write access
    FileModeShareRead = 0x010,     // others may read meanwhile
    FileModeShareWrite = 0x020,    // others may write meanwhile
    FileModeCreateAlways = 0x100,  // create, emptying an existing file
    FileModeOpenExisting = 0x200,  // open only a file that exists
    FileModeOpenAlways = 0x400,    // open, creating an empty file when absent
    FileModeCreateNew = 0x800,     // create, failing where anything has the name
};

// The mode words in use.
enum {
    FileModeReadWrite = 0x403,          // read and write, unshared, open always
    FileModeReadShared = 0x211,         // read only, others may read
    FileModeReadExclusive = 0x201,      // read only, unshared
    FileModeReadWriteExisting = 0x203,  // read and write, unshared, never creates
    FileModeWriteNew = 0x803,           // read and write, unshared, only a file it creates
};

// The separator of path elements on this platform.
#ifdef _WIN32
#define PathSeparator '\\'
#else
#define PathSeparator '/'
#endif

#ifdef __cplusplus
extern "C" {
#endif

// OS error code of the calling thread's most recent failed File_ReadExact
// or File_WriteExact; 0 at start, never cleared. One per thread: the
// examiners of a parallel scan read and write at once.
extern thread_local uint32_t LastFileError;

// Opens path with the mode word; *outHandle gets the handle, or FileHandleNone
// on failure. attributes is the new file's attributes (128 normal; Win32 only).
// Only regular files open. Without Win32 sharing, unshared modes take an
// exclusive advisory lock and FileModeReadShared a shared one; a lock held
// elsewhere makes the open fail. Returns 1 when opened, else 0.
// Write access without FileModeShareWrite holds the file against every other
// program for as long as it is open: on Win32 by the sharing mode; on Linux
// by a write lease, which the kernel grants only while no other descriptor of
// the file is open anywhere (the open then fails as in use) and breaks when
// another program opens the file. Where the file system grants no lease,
// File_Unchanged compares length and time instead.
int File_Open(const char* path, uint32_t mode, FileHandle* outHandle, uint32_t attributes);

// Why the last File_Open of the calling thread failed, for the people who
// must learn that a recording was not examined.
enum {
    FileOpenFailNone = 0,
    FileOpenFailMissing = 1,   // no such file (any more)
    FileOpenFailReadOnly = 2,  // write access asked for a read-only file or file system
    FileOpenFailDenied = 3,    // no permission
    FileOpenFailInUse = 4,     // held by another program
    FileOpenFailNotFile = 5,   // not a regular file
    FileOpenFailOther = 6,     // anything else the system refused
    FileOpenFailExists = 7,    // FileModeCreateNew met a file of that name
};
int File_LastOpenFailure(void);
// A few words for a FileOpenFail* value ("read-only", "in use", ...).
const char* File_OpenFailureText(int failure);

// Sets *outSize to the file's full length. Returns 0 (size 0) when the OS
// cannot tell.
int File_GetSize64(FileHandle handle, int64_t* outSize);

// An open file's length and the time of its last change, as an examination
// measured them.
typedef struct FileStamp {
    int64_t size;      // length in bytes
    int64_t modified;  // last change, in the system's own unit (ns or 100 ns)
    uint64_t device;   // the volume the file lies on (st_dev; the volume serial number)
    uint64_t inode;    // which file it is there (st_ino; the file index)
    uint32_t links;    // names the file has in the file system (hard links)
} FileStamp;

// Sets *outStamp to the file's length and time of last change, and forgets
// why an earlier File_Unchanged said no. Returns 0 (stamp zeroed) when the
// OS cannot tell. A size query for fault injection.
int File_GetStamp(FileHandle handle, FileStamp* outStamp);

// As File_Open, and *outStamp gets the length and time of last change that
// the open measured anyway (where it asks whether the file is a regular
// one), so that an examination needs no File_GetStamp of its own. The stamp
// is zeroed when the OS could not tell; the open then still succeeds. A size
// query for fault injection; forgets why an earlier File_Unchanged said no.
int File_OpenMeasured(const char* path, uint32_t mode, FileHandle* outHandle, uint32_t attributes,
                      FileStamp* outStamp);

// The stamp of the file at path (links followed) without opening it for
// reading or writing, so that it neither breaks a lease nor meets a sharing
// mode: whether it may have other names before it is opened. 0 (stamp
// zeroed) when the OS cannot tell.
int File_StampPath(const char* path, FileStamp* outStamp);

// Milliseconds since the stamp's time of last change, by the system's
// clock (below 0 for a time in the future).
int64_t File_StampAgeMs(const FileStamp* stamp);

// The stamp's time of last change in nanoseconds since 1970, whatever the
// system's own unit.
int64_t File_ModifiedNs(const FileStamp* stamp);

// Sets the open file's time of last change (nanoseconds since 1970; the
// time of last access stays). 1 on success.
int File_SetModifiedNs(FileHandle handle, int64_t ns);

// A few words for an OS error code that LastFileError holds ("no space left
// on the device", "permission denied", ...).
const char* File_ErrorText(uint32_t error);

// 1 when no other program can have changed the file since stamp was taken:
// the lease that File_Open took, if any, still stands, and the length (with
// timeToo also the time of last change) is the stamp's. 0 otherwise, also
// when the OS cannot tell; File_LastChange then says why. A size query.
int File_Unchanged(FileHandle handle, const FileStamp* stamp, int timeToo);

// Why the last File_Unchanged of the calling thread since its last
// File_GetStamp or File_OpenMeasured said no.
enum {
    FileChangeNone = 0,    // it did not, or the OS could not tell
    FileChangeLength = 1,  // the length differs
    FileChangeTime = 2,    // the time of last change differs
    FileChangeOpened = 3,  // another program opened the file (the lease is broken)
};
int File_LastChange(void);
// A few words for a FileChange* value.
const char* File_ChangeText(int change);

// Reads exactly count bytes at the file pointer. A short read, an OS error or
// an end of file met early is a failure and stores the OS error code in
// LastFileError. A count of 0 succeeds.
int File_ReadExact(FileHandle handle, void* buffer, uint32_t count);

// Reads at most count bytes at the file pointer in one request (an
// interrupted call is asked again) and sets *outDone to how many came: fewer
// at the end of the file, and some file systems give fewer elsewhere too.
// 0 on an OS error (LastFileError, *outDone 0). A read for fault injection.
int File_ReadUpTo(FileHandle handle, void* buffer, uint32_t count, uint32_t* outDone);

// Writes exactly count bytes at the file pointer; failures as File_ReadExact.
int File_WriteExact(FileHandle handle, const void* buffer, uint32_t count);

// Moves the file pointer to an absolute position (0 when refused).
int File_SeekTo(FileHandle handle, int64_t position);

// Moves the file pointer by a signed 64-bit delta from where it stands.
int File_SeekBy(FileHandle handle, int64_t delta);

// Makes the current file pointer the end of the file (SetEndOfFile). A
// failure stores the OS error in LastFileError.
int File_Truncate(FileHandle handle);

// Writes the file's buffered data to the disk (FlushFileBuffers). A
// failure stores the OS error in LastFileError.
int File_Flush(FileHandle handle);

// Closes the handle (CloseHandle). Returns 0 when the OS reports a failure
// (a write it held back that failed), stored in LastFileError.
int File_Close(FileHandle handle);

// Renames from to to, never replacing what has that name (Linux
// renameat2 RENAME_NOREPLACE, else link and unlink; Windows MoveFileEx
// without MOVEFILE_REPLACE_EXISTING). 1 when renamed; 0 otherwise, with
// *outExists 1 when the refusal was that to exists.
int File_RenameNoReplace(const char* from, const char* to, int* outExists);

// Removes the file at path. 1 when removed.
int File_Remove(const char* path);

// 1 when anything (a file, a folder, a link) has the name path.
int File_Exists(const char* path);

// The first stretch of data at or after from, before fileSize: [*dataStart,
// *dataEnd); both fileSize when only a hole is left. Where the system keeps
// no holes or cannot tell, the rest of the file is one stretch. 1, or 0 when
// the system failed.
int File_NextData(FileHandle handle, int64_t from, int64_t fileSize, int64_t* dataStart, int64_t* dataEnd);

// Lets the ranges of a file being written that are never written stay
// holes (NTFS asks for it; elsewhere a seek past them is enough). 1, also
// where the file system keeps no holes (they are then zeros).
int File_AllowHoles(FileHandle handle);

// Copies count bytes at fromPos of from to toPos of to: in the kernel where
// it can (copy_file_range), else through buffer (bufferSize bytes, not 0).
// The file pointers are unknown afterwards. 1, or 0 when a read or write
// failed or the source ended early (LastFileError; ENOSPC for a full disk).
// A read and a write for fault injection.
int File_CopyRange(FileHandle from, int64_t fromPos, FileHandle to, int64_t toPos, uint32_t count, void* buffer,
                   uint32_t bufferSize);

// Asks the system to start writing count bytes at pos of an open file to
// the disk without waiting for them (Linux sync_file_range), so that a
// flush at the end of a long copy finds little left to write. 1, also where
// the system has no such request (nothing is done there).
int File_StartWriteback(FileHandle handle, int64_t pos, int64_t count);

// Ends path at its last separator (the separator is replaced by NUL). A path
// without one is left unchanged.
void Path_StripFileName(char* path);

// 1 when c ends a path element here: '/' and, on Win32, '\\' too (a folder
// typed on a command line may end in either); else 0.
int Path_IsSeparator(char c);

// The last element of path: what follows its last separator (Path_IsSeparator),
// or the whole path when it has none.
const char* Path_FileName(const char* path);

// 1 when the extension after the last '.' of the last path element equals ext
// (given with or without its dot), compared without regard to case; else 0.
int Path_HasExtension(const char* path, const char* ext);

// Copies n bytes front to back; nothing when n is 0 or dst equals src.
void Mem_Copy(void* dst, const void* src, uint32_t n);
// Sets n bytes to 0.
void Mem_Zero(void* p, uint32_t n);
// Sets n bytes to 0x80, the silence of 8-bit unsigned samples.
void Mem_FillSilence8(void* p, uint32_t n);
// Byte-reversed 16- and 32-bit values.
uint16_t Swap16(uint16_t v);
uint32_t Swap32(uint32_t v);
// Heap block of n bytes, or null. Only the log buffer uses these.
void* Mem_Alloc(uint32_t n);
void Mem_Free(void* p);

#ifdef __cplusplus
}
#endif

#endif
