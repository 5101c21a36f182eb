// Temporary folders and files for tests, on every platform the tests run on,
// and the readers we did not write.
#ifndef TESSMARK_TEST_TESTFILES_H
#define TESSMARK_TEST_TESTFILES_H

#include <stdint.h>

#include <string>
#include <vector>

#include "chunkbuilder.h"
#include "filefault.h"

const int64_t GiB = 1024LL * 1024 * 1024;

// A fresh, empty folder removed with everything in it at destruction.
class TempDir {
public:
    // Under base when given (falling back to the system's temporary folder).
    explicit TempDir(const std::string& base = std::string());
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of name inside the folder (joined with the platform separator).
    std::string file(const std::string& name) const;
    // Writes bytes to name inside the folder; returns its path.
    std::string write(const std::string& name, const Bytes& bytes) const;

private:
    std::string path_;
};

// Names of takes in three scripts (Latin with accents, Japanese, Cyrillic),
// in UTF-8 as the program holds every text.
std::vector<std::string> NamesInThreeScripts();

// The platform's separator as a string.
std::string PathSep();

// A folder on a memory file system where there is one, else "": for tests
// that flush hundreds of times.
std::string MemoryFolder();

// Fault injection that is switched off again however the test ends.
struct FaultGuard {
    FaultGuard() { FileFault_Disarm(); }
    ~FaultGuard() { FileFault_Disarm(); }
};

// Whole content of a file (empty when missing).
Bytes ReadFileBytes(const std::string& path);
// Writes a whole file, its time of last change an hour back (a take that
// has settled); false on failure.
bool WriteFileBytes(const std::string& path, const Bytes& bytes);
// Sets a file's time of last change seconds back from now (0: now).
bool SetModifiedAgo(const std::string& path, int64_t seconds);
// Sets the time of last change of every file below folder an hour back (no
// link is followed).
void SettleFolder(const std::string& folder);
// Writes a header, then makes the file total bytes long (sparse).
bool WriteSparse(const std::string& path, const Bytes& head, int64_t total);
// Writes bytes at offset of an existing file (extending it sparsely).
bool WriteAt(const std::string& path, int64_t offset, const Bytes& bytes);
// Sets the length of a file (sparse when longer).
bool SetFileLength(const std::string& path, int64_t length);
// Length of a file, -1 when missing.
int64_t FileLength(const std::string& path);
// Bytes [offset, offset + count) of a file.
Bytes ReadAt(const std::string& path, int64_t offset, size_t count);
// Creates a folder; false on failure.
bool MakeDir(const std::string& path);
// Removes a folder and everything in it.
void RemoveTree(const std::string& path);
// Makes a file read-only (true) or writable again (false).
bool SetReadOnly(const std::string& path, bool readOnly);
// True when a file in folder that a repair opens keeps every other opener
// out (Windows sharing, a Linux lease); false where no lease is granted.
bool RepairsHoldFiles(const std::string& folder);

#ifndef _WIN32
// Output of a shell command; *ok tells whether it ran and exited 0.
Bytes RunCommand(const std::string& command, bool* ok);
// True when the shell command runs and exits 0 (a tool is installed).
bool Have(const std::string& command);
// s as one word for the shell, whatever it holds.
std::string Quoted(const std::string& s);
// The samples of a sound file as sox decodes them, raw, in the encoding
// that options name (empty: the file's own).
Bytes SoxRaw(const std::string& path, const std::string& options, bool* ok);
// True when python3 has the module (wave, aifc).
bool HavePython(const char* module);
// Has Python's module read each file's frames into the file's path + ".raw",
// in one run, since starting Python is slow; true when it read them all.
bool PythonFrames(const char* module, const std::vector<std::string>& paths);
#endif

#endif
