// What the fuzz targets share: a private scratch folder, and a check that
// stops the run with a message. Files are read and written with the test
// support.
#ifndef TESSMARK_FUZZ_SUPPORT_H
#define TESSMARK_FUZZ_SUPPORT_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "testfiles.h"

// A folder of this process's own, on a memory file system when there is one:
// every input becomes a file there, and flushes must cost nothing. It goes
// at exit.
inline const std::string& FuzzScratch()
{
    static const char* base = getenv("TESSMARK_FUZZ_TMP");
    static TempDir folder(base != nullptr && base[0] != '\0' ? std::string(base) : MemoryFolder());
    return folder.path();
}

// A broken promise: report it and stop, so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond, ...)                                        \
    do {                                                             \
        if (!(cond)) {                                               \
            fprintf(stderr, "check failed: %s: ", #cond);            \
            fprintf(stderr, __VA_ARGS__);                            \
            fprintf(stderr, "\n");                                   \
            abort();                                                 \
        }                                                            \
    } while (0)

// Writes an input to path; a scratch folder that cannot be written stops the run.
inline void FuzzWrite(const std::string& path, const uint8_t* data, size_t size)
{
    FUZZ_CHECK(WriteFileBytes(path, Bytes(data, data + size)), "cannot write %s", path.c_str());
}

#endif
