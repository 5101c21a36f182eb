// Shared pieces of the AIFF tests: building files, reading header fields,
// and a stream that closes itself.
#ifndef TESSMARK_TEST_AIFF_TESTSUPPORT_H
#define TESSMARK_TEST_AIFF_TESTSUPPORT_H

#include <stdint.h>

#include <string>
#include <vector>

#include "aiffstream.h"
#include "chunkbuilder.h"
#include "testfiles.h"

// A plain AIFF file: FORM, the chunks in before, COMM, the chunks in
// between, SSND (offset bytes of zero, then samples), the chunks in after.
struct AiffLayout {
    int16_t channels = 2;
    uint32_t frames = 0;          // numSampleFrames as declared
    int16_t sampleSize = 16;
    Bytes rate = Extended80(44100);
    uint32_t ssndOffset = 0;
    uint32_t blockSize = 0;
    int64_t ssndSize = -1;        // declared SSND ckSize; -1: the true one
    Bytes samples;
    std::vector<Bytes> before;    // chunks between the FORM header and COMM
    std::vector<Bytes> between;   // chunks between COMM and SSND
    std::vector<Bytes> after;     // bytes behind the SSND chunk
    bool ssndPad = false;         // pad an odd SSND body with a zero byte
    int64_t formSize = -1;        // declared FORM ckSize; -1: the true one
};

inline Bytes AiffComm(int16_t channels, uint32_t frames, int16_t sampleSize, const Bytes& rate)
{
    ByteWriter w(true);
    w.u16(uint16_t(channels)).u32(frames).u16(uint16_t(sampleSize)).raw(rate);
    return Chunk("COMM", w.bytes, true);
}

inline Bytes BuildAiff(const AiffLayout& s)
{
    std::vector<Bytes> chunks = s.before;
    chunks.push_back(AiffComm(s.channels, s.frames, s.sampleSize, s.rate));
    chunks.insert(chunks.end(), s.between.begin(), s.between.end());
    ByteWriter body(true);
    body.u32(s.ssndOffset).u32(s.blockSize).fill(s.ssndOffset).raw(s.samples);
    chunks.push_back(Chunk("SSND", body.bytes, true, s.ssndPad, s.ssndSize));
    chunks.insert(chunks.end(), s.after.begin(), s.after.end());
    return FormFile(chunks, s.formSize);
}

// Big-endian 32-bit field of a byte vector (0 when it lies beyond the end).
inline uint32_t Be32(const Bytes& b, size_t at)
{
    if (at + 4 > b.size())
        return 0;
    return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | uint32_t(b[at + 3]);
}

inline Bytes Be32Bytes(uint32_t v)
{
    ByteWriter w(true);
    w.u32(v);
    return w.bytes;
}

inline Bytes Slice(const Bytes& b, size_t from, size_t count)
{
    return Bytes(b.begin() + long(from), b.begin() + long(from + count));
}

// Bytes of a file through a handle that holds it (Windows refuses other
// opens of a file opened unshared).
inline Bytes ReadThrough(FileHandle handle, int64_t offset, uint32_t count)
{
    Bytes b(count);
    if (!File_SeekTo(handle, offset) || !File_ReadExact(handle, b.data(), count))
        return Bytes();
    return b;
}

// A stream closed at the end of the scope when the test left it open.
struct ScopedAiff {
    AiffStream s;
    ScopedAiff() { Mem_Zero(&s, sizeof(s)); s.handle = FileHandleNone; }
    ~ScopedAiff()
    {
        if (s.handle != FileHandleNone)
            AiffStream_Close(&s);
    }
    ScopedAiff(const ScopedAiff&) = delete;
    ScopedAiff& operator=(const ScopedAiff&) = delete;
    int32_t open(const std::string& path, int32_t flag = 1) { return AiffStream_Open(&s, path.c_str(), flag); }
};

// What the scan does with one file: repair it when more bytes follow the
// data offset than the header declares and they are not metadata.
// Returns "ok", "repaired", "failed" or "skipped" (not opened).
inline std::string ScanOnce(const std::string& path)
{
    AiffStream s;
    if (AiffStream_Open(&s, path.c_str(), 1) != AiffOpenOk) {
        if (s.handle != FileHandleNone)
            AiffStream_Close(&s);
        return "skipped";
    }
    std::string outcome = "ok";
    int64_t present = s.fileSize - int64_t(s.dataOffset);
    if (present > s.dataBytes && !AiffStream_HasChunkTrailer(&s))
        outcome = AiffStream_Repair(&s) == 0 ? "repaired" : "failed";
    int32_t closed = AiffStream_Close(&s);
    if (outcome == "repaired" && closed != 0)
        outcome = "failed";
    return outcome;
}

#endif
