// Builds test audio files in memory, chunk by chunk, in either byte order.
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

// A chunk: 4-character id, 32-bit size (the body's length unless given), body,
// and a pad byte after an odd body when asked.
inline Bytes Chunk(const std::string& id, const Bytes& body, bool bigEndian = false, bool pad = false,
                   int64_t declaredSize = -1)
{
    ByteWriter w(bigEndian);
    w.text(id.substr(0, 4));
    w.u32(declaredSize >= 0 ? uint32_t(declaredSize) : uint32_t(body.size()));
    w.raw(body);
    if (pad && (body.size() & 1))
        w.u8(0);
    return w.bytes;
}

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

// A plain RIFF WAVE file: "RIFF", size, "WAVE", then the given chunks.
// riffSize < 0 writes the true size.
inline Bytes RiffFile(const std::vector<Bytes>& chunks, int64_t riffSize = -1, const char* id = "RIFF")
{
    Bytes body;
    for (const Bytes& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    ByteWriter w;
    w.text(id).u32(riffSize >= 0 ? uint32_t(riffSize) : uint32_t(body.size() + 4)).text("WAVE").raw(body);
    return w.bytes;
}

// A FORM AIFF file with the given chunks (big-endian).
inline Bytes FormFile(const std::vector<Bytes>& chunks, int64_t formSize = -1, const char* formType = "AIFF")
{
    Bytes body;
    for (const Bytes& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
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
inline Bytes AiffCommBody(int16_t channels, uint32_t frames, int16_t sampleSize, uint32_t rate)
{
    ByteWriter w(true);
    w.u16(uint16_t(channels)).u32(frames).u16(uint16_t(sampleSize)).raw(Extended80(rate));
    return w.bytes;
}

#endif
