// Shared helpers of the WAV and handle tests: WAV layouts built in code,
// sparse large files, and readers we did not write.
#ifndef TESSMARK_TEST_WAV_SUPPORT_H
#define TESSMARK_TEST_WAV_SUPPORT_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "chunkbuilder.h"
#include "testfiles.h"
#include "wavstream.h"

const int64_t GiB = 1024LL * 1024 * 1024;

// A stream that is closed when the test leaves its scope.
struct ScopedWav {
    WavStream s{};
    ScopedWav() { s.handle = FileHandleNone; s.dataOffset = 0; }
    ~ScopedWav() { WavStream_Close(&s); }
    int32_t open(const std::string& path, int32_t flag = 1) { return WavStream_Open(&s, path.c_str(), flag); }
};

// A read that came back short gives all ones instead of reading past it.
inline uint32_t Le32At(const Bytes& b, size_t at)
{
    if (b.size() < at + 4)
        return 0xFFFFFFFFu;
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

inline uint64_t Le64At(const Bytes& b, size_t at)
{
    return uint64_t(Le32At(b, at)) | (uint64_t(Le32At(b, at + 4)) << 32);
}

inline std::string IdAt(const Bytes& b, size_t at)
{
    return std::string(b.begin() + long(at), b.begin() + long(at) + 4);
}

inline Bytes Concat(const std::vector<Bytes>& parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A data chunk header declaring size, without a body (samples follow raw).
inline Bytes DataHeader(uint32_t size)
{
    ByteWriter w;
    w.text("data").u32(size);
    return w.bytes;
}

// A ds64 body: the 28-byte table plus extra bytes (a chunk table).
inline Bytes Ds64Body(uint64_t riffSize, uint64_t dataSize, uint64_t sampleCount, size_t extra = 0,
                      uint8_t extraFill = 0xAB)
{
    ByteWriter w;
    w.u64(riffSize).u64(dataSize).u64(sampleCount).u32(0).fill(extra, extraFill);
    return w.bytes;
}

// A 16-bit stereo 44.1 kHz fmt chunk.
inline Bytes StereoFmt()
{
    return Chunk("fmt ", WavFmtBody(1, 2, 44100, 16));
}

// RIFF, fmt (16-bit stereo), data declaring declared bytes, then samples.
inline Bytes PlainWav(const Bytes& samples, int64_t declared = -1)
{
    return RiffFile({StereoFmt(), DataHeader(declared >= 0 ? uint32_t(declared) : uint32_t(samples.size())), samples});
}

// A bext body of n bytes: recognisable bytes in every field.
inline Bytes BextBody(size_t n)
{
    Bytes b = PatternBytes(n, 77);
    return b;
}

// Writes a header, then makes the file total bytes long (sparse).
inline bool WriteSparse(const std::string& path, const Bytes& head, int64_t total)
{
    return WriteFileBytes(path, head) && SetFileLength(path, total);
}

#ifndef _WIN32
// True when the shell finds tool.
inline bool HaveTool(const char* tool)
{
    std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// Standard output of a shell command, and its exit status.
inline std::string RunCapture(const std::string& cmd, int* status = nullptr)
{
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) {
        if (status)
            *status = -1;
        return out;
    }
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    int rc = pclose(p);
    if (status)
        *status = rc;
    return out;
}

inline std::string Quoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The sample bytes of a WAV file as sox decodes them (same encoding, raw).
inline bool SoxSamples(const std::string& path, Bytes* out)
{
    int status = 0;
    std::string raw = RunCapture("sox " + Quoted(path) + " -t raw - 2>/dev/null", &status);
    if (status != 0)
        return false;
    out->assign(raw.begin(), raw.end());
    return true;
}

// Debian's own interpreter starts fastest; any python3 will do.
inline std::string PythonCommand()
{
    return std::system("test -x /usr/bin/python3") == 0 ? "/usr/bin/python3" : "python3";
}

// Reads each PCM WAV file with Python's wave module, in one run, and writes
// its sample bytes to the file's path with ".frames" added.
inline bool PythonWaveSamples(const std::vector<std::string>& paths)
{
    std::string cmd = PythonCommand() +
                      " -c \"import sys,wave\n"
                      "for p in sys.argv[1:]:\n"
                      "  w=wave.open(p,'rb'); open(p+'.frames','wb').write(w.readframes(w.getnframes()))\"";
    for (const std::string& p : paths)
        cmd += " " + Quoted(p);
    return std::system((cmd + " 2>/dev/null").c_str()) == 0;
}
#endif

#endif
