// Fault injection for tests: makes the file access layer fail chosen calls
// as a failing disk, a full disk or a power cut would. Disarmed by default;
// production code never arms it.
#ifndef TESSMARK_FILEFAULT_H
#define TESSMARK_FILEFAULT_H

#include <stdint.h>

// Operation classes that can be counted and failed.
enum {
    FileFaultOpen = 0x01,
    FileFaultRead = 0x02,
    FileFaultWrite = 0x04,
    FileFaultSeek = 0x08,
    FileFaultTruncate = 0x10,
    FileFaultFlush = 0x20,
    FileFaultSize = 0x40,
    FileFaultClose = 0x80,
    FileFaultAll = 0xFF,
};

#ifdef __cplusplus
extern "C" {
#endif

// Kept by the backends for File_LastOpenFailure (a FileOpenFail* value).
void FileIo_SetOpenFailure(int failure);

// Counts the calls of the classes in countOps from now on; the nth of them
// (1-based) fails without reaching the OS. From then on every call of the
// classes in failOpsAfter fails too (0: only the one call fails), so that a
// crash after the (nth - 1)th write can be imitated with
// FileFault_Arm(FileFaultWrite, n, FileFaultAll & ~FileFaultClose).
// A close that is made to fail still releases the handle.
void FileFault_Arm(uint32_t countOps, uint32_t nth, uint32_t failOpsAfter);

// Stops all injection and clears the counts.
void FileFault_Disarm(void);

// Calls of the classes in ops made since the last arm or disarm.
uint32_t FileFault_Count(uint32_t ops);

// refuse 1: File_Open takes no lease, as on a file system that grants none
// (some network and FUSE ones), so that File_Unchanged falls back on length
// and time. Ended by FileFault_Disarm, kept by FileFault_Arm.
void FileFault_RefuseLeases(int refuse);

// Internal: 1 when this call of class op must fail. Counts the call.
int FileFault_Hit(uint32_t op);
// Internal: 1 while FileFault_RefuseLeases holds.
int FileFault_LeasesRefused(void);
// Internal: kept by the backends for File_LastChange (a FileChange* value).
void FileIo_SetChange(int change);

#ifdef __cplusplus
}
#endif

#endif
