// What the fuzz targets share: a private scratch folder, whole-file reads and
// writes, and a check that stops the run with a message.
#ifndef TESSMARK_FUZZ_SUPPORT_H
#define TESSMARK_FUZZ_SUPPORT_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

typedef std::vector<uint8_t> FuzzBytes;

// A folder of this process's own, on a memory file system when there is one:
// every input becomes a file there, and flushes must cost nothing.
inline const std::string& FuzzScratch()
{
    static std::string folder;
    if (folder.empty()) {
        const char* base = getenv("TESSMARK_FUZZ_TMP");
        if (base == nullptr || base[0] == '\0')
            base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        folder = std::string(base) + "/tessmark-fuzz-" + std::to_string(getpid());
        mkdir(folder.c_str(), 0700);
        atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(FuzzScratch(), ec);
        });
    }
    return folder;
}

inline void FuzzWrite(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr || (size > 0 && fwrite(data, 1, size, f) != size) || fclose(f) != 0) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        abort();
    }
}

inline FuzzBytes FuzzRead(const std::string& path)
{
    FuzzBytes out;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return out;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
        out.insert(out.end(), buffer, buffer + n);
    fclose(f);
    return out;
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

#endif
