// Builds test audio files in memory, chunk by chunk, in either byte order,
// and reads their fields back. The one place for building test files: the
// tests and the fuzz seeds share it.
#ifndef TESSMARK_TEST_CHUNKBUILDER_H
#define TESSMARK_TEST_CHUNKBUILDER_H

#include <stdint.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// Appends numbers and text to a byte vector.
struct ByteWriter {
    Bytes bytes;
    bool bigEndian = false;

    explicit ByteWriter(bool big = false) : bigEndian(big) {}
    ByteWriter& u8(uint8_t v) { bytes.push_back(v); return *this; }
    ByteWriter& u16(uint16_t v)
    {
        if (bigEndian) { u8(uint8_t(v >> 8)); u8(uint8_t(v)); }
        else { u8(uint8_t(v)); u8(uint8_t(v >> 8)); }
        return *this;
    }
    ByteWriter& u32(uint32_t v)
    {
        if (bigEndian) { u16(uint16_t(v >> 16)); u16(uint16_t(v)); }
        else { u16(uint16_t(v)); u16(uint16_t(v >> 16)); }
        return *this;
    }
    ByteWriter& u64(uint64_t v)
    {
        if (bigEndian) { u32(uint32_t(v >> 32)); u32(uint32_t(v)); }
        else { u32(uint32_t(v)); u32(uint32_t(v >> 32)); }
        return *this;
    }
    ByteWriter& text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); return *this; }
    ByteWriter& raw(const Bytes& b) { bytes.insert(bytes.end(), b.begin(), b.end()); return *this; }
    ByteWriter& fill(size_t n, uint8_t v = 0) { bytes.insert(bytes.end(), n, v); return *this; }
    size_t size() const { return bytes.size(); }
};

// The parts one after another.
inline Bytes Cat(const std::vector<Bytes>& parts)
{
    ByteWriter w;
    for (const Bytes& p : parts)
        w.raw(p);
    return w.bytes;
}

// Bytes [from, from + count) of b.
inline Bytes Slice(const Bytes& b, size_t from, size_t count)
{
    return Bytes(b.begin() + long(from), b.begin() + long(from + count));
}

// A chunk header without its body (the body follows raw).
inline Bytes ChunkHead(const std::string& id, uint32_t size, bool bigEndian = false)
{
    ByteWriter w(bigEndian);
    w.text(id.substr(0, 4)).u32(size);
    return w.bytes;
}

// A chunk: 4-character id, 32-bit size (the body's length unless given), body,
// and a pad byte after an odd body when asked.
inline Bytes Chunk(const std::string& id, const Bytes& body, bool bigEndian = false, bool pad = false,
                   int64_t declaredSize = -1)
{
    ByteWriter w(bigEndian);
    w.raw(ChunkHead(id, declaredSize >= 0 ? uint32_t(declaredSize) : uint32_t(body.size()), bigEndian)).raw(body);
    if (pad && (body.size() & 1))
        w.u8(0);
    return w.bytes;
}

// Sample bytes that differ frame by frame, so that a lost or moved frame shows.
inline Bytes PatternBytes(size_t n, uint32_t seed = 1)
{
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = uint8_t(x >> 16);
    }
    return b;
}

// ---- WAV

// A 16-byte WAV fmt body.
inline Bytes WavFmtBody(uint16_t formatTag, uint16_t channels, uint32_t sampleRate, uint16_t bitsPerSample,
                        uint16_t blockAlign = 0)
{
    if (blockAlign == 0)
        blockAlign = uint16_t(channels * ((bitsPerSample + 7) / 8));
    ByteWriter w;
    w.u16(formatTag).u16(channels).u32(sampleRate).u32(blockAlign * sampleRate).u16(blockAlign).u16(bitsPerSample);
    return w.bytes;
}

// An integer PCM fmt chunk.
inline Bytes FmtChunk(uint16_t channels, uint32_t rate, uint16_t bits)
{
    return Chunk("fmt ", WavFmtBody(1, channels, rate, bits));
}

inline Bytes StereoFmt(uint32_t rate = 44100)
{
    return FmtChunk(2, rate, 16);
}

// A ds64 body: the 28-byte table, then extra bytes (a chunk table of
// tableLength entries as far as the test cares).
inline Bytes Ds64Body(uint64_t riffSize, uint64_t dataSize, uint64_t sampleCount, size_t extra = 0,
                      uint8_t extraFill = 0xAB, uint32_t tableLength = 0)
{
    ByteWriter w;
    w.u64(riffSize).u64(dataSize).u64(sampleCount).u32(tableLength).fill(extra, extraFill);
    return w.bytes;
}

// A bext body of n bytes: recognisable bytes in every field.
inline Bytes BextBody(size_t n)
{
    return PatternBytes(n, 77);
}

// A RIFF WAVE file: "RIFF", size, "WAVE", then the given chunks.
// riffSize < 0 writes the true size.
inline Bytes RiffFile(const std::vector<Bytes>& chunks, int64_t riffSize = -1, const char* id = "RIFF")
{
    Bytes body = Cat(chunks);
    ByteWriter w;
    w.text(id).u32(riffSize >= 0 ? uint32_t(riffSize) : uint32_t(body.size() + 4)).text("WAVE").raw(body);
    return w.bytes;
}

// A WAV file: the chunks in before, a data chunk header declaring declared
// bytes (-1: the samples' length), the samples, then the bytes in after.
inline Bytes BuildWav(const std::vector<Bytes>& before, const Bytes& samples, int64_t declared = -1,
                      const Bytes& after = Bytes(), int64_t riffSize = -1, const char* form = "RIFF")
{
    std::vector<Bytes> chunks = before;
    chunks.push_back(ChunkHead("data", declared >= 0 ? uint32_t(declared) : uint32_t(samples.size())));
    chunks.push_back(samples);
    chunks.push_back(after);
    return RiffFile(chunks, riffSize, form);
}

// 16-bit stereo at 44.1 kHz, the data at 44.
inline Bytes PlainWav(const Bytes& samples, int64_t declared = -1)
{
    return BuildWav({StereoFmt()}, samples, declared);
}

// ---- Wave64

// The GUID of a Wave64 chunk named id: riff and list belong to the older
// family of GUIDs, every other name is followed by the tail its family shares.
inline Bytes Wave64Guid(const std::string& id)
{
    static const uint8_t riffTail[12] = {0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
    static const uint8_t waveTail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
    ByteWriter w;
    w.text(id.substr(0, 4));
    if (id == "list")
        w.raw(Bytes{0x2F, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00});
    else if (id == "riff")
        w.raw(Bytes(riffTail, riffTail + 12));
    else
        w.raw(Bytes(waveTail, waveTail + 12));
    return w.bytes;
}

// A Wave64 chunk header: the GUID of id, then the 64-bit size as the file
// holds it (it counts the 24 header bytes).
inline Bytes Wave64Head(const std::string& id, uint64_t size)
{
    ByteWriter w;
    w.raw(Wave64Guid(id)).u64(size);
    return w.bytes;
}

// A Wave64 chunk: header (size: the body's length plus 24 unless given), the
// body, and zeros up to the next multiple of 8.
inline Bytes Wave64Chunk(const std::string& id, const Bytes& body, int64_t declaredSize = -1)
{
    ByteWriter w;
    w.raw(Wave64Head(id, declaredSize >= 0 ? uint64_t(declaredSize) : uint64_t(body.size() + 24))).raw(body);
    w.fill((8 - body.size() % 8) % 8);
    return w.bytes;
}

// A Wave64 file: the riff GUID, the size (the file's length unless given),
// the wave GUID, then the chunks.
inline Bytes Wave64File(const std::vector<Bytes>& chunks, int64_t riffSize = -1)
{
    Bytes body = Cat(chunks);
    ByteWriter w;
    w.raw(Wave64Guid("riff")).u64(riffSize >= 0 ? uint64_t(riffSize) : uint64_t(body.size() + 40));
    w.raw(Wave64Guid("wave")).raw(body);
    return w.bytes;
}

// A Wave64 file as BuildWav makes a WAV one: the chunks in before, a data
// header whose size field holds dataSize (-1: the samples' length plus 24),
// the samples, zeros to a multiple of 8 when chunks follow, then after.
inline Bytes BuildWave64(const std::vector<Bytes>& before, const Bytes& samples, int64_t dataSize = -1,
                         const std::vector<Bytes>& after = {}, int64_t riffSize = -1)
{
    std::vector<Bytes> chunks = before;
    chunks.push_back(Wave64Head("data", dataSize >= 0 ? uint64_t(dataSize) : uint64_t(samples.size() + 24)));
    chunks.push_back(samples);
    if (!after.empty())
        chunks.push_back(Bytes((8 - samples.size() % 8) % 8, 0));
    chunks.insert(chunks.end(), after.begin(), after.end());
    return Wave64File(chunks, riffSize);
}

// ---- AIFF

// A FORM AIFF file with the given chunks (big-endian).
inline Bytes FormFile(const std::vector<Bytes>& chunks, int64_t formSize = -1, const char* formType = "AIFF")
{
    Bytes body = Cat(chunks);
    ByteWriter w(true);
    w.text("FORM").u32(formSize >= 0 ? uint32_t(formSize) : uint32_t(body.size() + 4)).text(formType).raw(body);
    return w.bytes;
}

// An 80-bit extended big-endian encoding of a whole, positive sample rate.
inline Bytes Extended80(uint32_t rate)
{
    ByteWriter w(true);
    if (rate == 0) {
        w.fill(10);
        return w.bytes;
    }
    int shift = 0;
    uint64_t mant = rate;
    while (!(mant & 0x8000000000000000ull)) {
        mant <<= 1;
        ++shift;
    }
    uint16_t exponent = uint16_t(16383 + 63 - shift);
    w.u16(exponent).u64(mant);
    return w.bytes;
}

// An AIFF COMM body of 18 bytes.
inline Bytes AiffCommBody(int16_t channels, uint32_t frames, int16_t sampleSize, const Bytes& rate)
{
    ByteWriter w(true);
    w.u16(uint16_t(channels)).u32(frames).u16(uint16_t(sampleSize)).raw(rate);
    return w.bytes;
}

inline Bytes AiffCommBody(int16_t channels, uint32_t frames, int16_t sampleSize, uint32_t rate)
{
    return AiffCommBody(channels, frames, sampleSize, Extended80(rate));
}

// An AIFF file: FORM, the chunks in before, COMM, the chunks in between,
// SSND (offset bytes of offsetFill, then samples), the bytes in after.
struct AiffLayout {
    int16_t channels = 2;
    int16_t sampleSize = 16;
    uint32_t frames = 0;          // numSampleFrames as declared
    Bytes rate = Extended80(44100);
    uint32_t ssndOffset = 0;
    uint8_t offsetFill = 0;
    uint32_t blockSize = 0;
    int64_t ssndSize = -1;        // declared SSND ckSize; -1: the true one
    Bytes samples;
    std::vector<Bytes> before;
    std::vector<Bytes> between;
    std::vector<Bytes> after;
    bool ssndPad = false;         // pad an odd SSND body with a zero byte
    int64_t formSize = -1;        // declared FORM ckSize; -1: the true one
    std::string compression;      // AIFF-C: the compressionType (a FORM of type AIFC); empty: AIFF

    AiffLayout() {}
    AiffLayout(int16_t ch, int16_t size, uint32_t count, const Bytes& data, uint32_t sampleRate = 44100)
        : channels(ch), sampleSize(size), frames(count), rate(Extended80(sampleRate)), samples(data) {}
};

inline Bytes BuildAiff(const AiffLayout& s)
{
    std::vector<Bytes> chunks = s.before;
    ByteWriter comm(true);
    comm.raw(AiffCommBody(s.channels, s.frames, s.sampleSize, s.rate));
    if (!s.compression.empty())
        comm.text(s.compression).u8(0).u8(0);  // and an empty name, padded to even
    chunks.push_back(Chunk("COMM", comm.bytes, true));
    chunks.insert(chunks.end(), s.between.begin(), s.between.end());
    ByteWriter body(true);
    body.u32(s.ssndOffset).u32(s.blockSize).fill(s.ssndOffset, s.offsetFill).raw(s.samples);
    chunks.push_back(Chunk("SSND", body.bytes, true, s.ssndPad, s.ssndSize));
    chunks.insert(chunks.end(), s.after.begin(), s.after.end());
    return FormFile(chunks, s.formSize, s.compression.empty() ? "AIFF" : "AIFC");
}

// ---- Reading fields back. A field beyond the end reads as all ones, not
// past the bytes.

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

inline uint32_t Be32At(const Bytes& b, size_t at)
{
    if (b.size() < at + 4)
        return 0xFFFFFFFFu;
    return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | uint32_t(b[at + 3]);
}

inline Bytes Be32Bytes(uint32_t v)
{
    ByteWriter w(true);
    w.u32(v);
    return w.bytes;
}

inline std::string IdAt(const Bytes& b, size_t at)
{
    if (b.size() < at + 4)
        return std::string();
    return std::string(b.begin() + long(at), b.begin() + long(at) + 4);
}

#endif
