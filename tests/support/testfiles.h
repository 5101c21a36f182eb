// Temporary folders and files for tests, on every platform the tests run on.
#ifndef TESSMARK_TEST_TESTFILES_H
#define TESSMARK_TEST_TESTFILES_H

#include <stdint.h>

#include <string>
#include <vector>

#include "chunkbuilder.h"

// A fresh, empty folder removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
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

// Whole content of a file (empty when missing).
Bytes ReadFileBytes(const std::string& path);
// Writes a whole file; false on failure.
bool WriteFileBytes(const std::string& path, const Bytes& bytes);
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

#ifndef _WIN32
// Output of a shell command; *ok tells whether it ran and exited 0.
Bytes RunCommand(const std::string& command, bool* ok);
// True when the shell command runs and exits 0 (a tool is installed).
bool Have(const std::string& command);
#endif

#endif
