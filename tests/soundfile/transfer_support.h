// Streams for the transfer tests, opened and filled by hand the way a
// successful reader open leaves them, so that the transfer can be tested on
// exactly the field values a case needs.
#ifndef TESSMARK_TEST_TRANSFER_SUPPORT_H
#define TESSMARK_TEST_TRANSFER_SUPPORT_H

#include <stdint.h>
#include <string.h>

#include <string>

#include "aiffstream.h"
#include "chunkbuilder.h"
#include "fileio.h"
#include "filefault.h"
#include "wavstream.h"

// Read and write, others may read and write meanwhile: lets a test look at the
// file while a hand-built stream holds it (Windows refuses that otherwise).
const uint32_t HandStreamMode = FileModeRead | FileModeWrite | FileModeShareRead | FileModeShareWrite |
                                FileModeOpenExisting;

// A WavStream over an open file; the file is closed at destruction.
struct HandWav {
    WavStream s;

    HandWav() { memset(&s, 0, sizeof s); s.handle = FileHandleNone; }
    ~HandWav() { Close(); }
    HandWav(const HandWav&) = delete;
    HandWav& operator=(const HandWav&) = delete;

    // Opens path with the pointer at dataOffset, as the reader does.
    bool Open(const std::string& path, uint32_t dataOffset, uint16_t channels, uint16_t bitsPerSample,
              uint16_t blockAlign, int64_t frameCount, uint32_t flags = 0)
    {
        Close();
        memset(&s, 0, sizeof s);
        if (!File_Open(path.c_str(), HandStreamMode, &s.handle, 128))
            return false;
        s.formatTag = 1;
        s.channels = channels;
        s.sampleRate = 44100;
        s.blockAlign = blockAlign;
        s.bitsPerSample = bitsPerSample;
        s.dataOffset = dataOffset;
        s.frameCount = frameCount;
        s.dataBytes = frameCount * blockAlign;
        s.flags = flags;
        s.readFrames = WavStream_ReadFrames;
        s.writeBytes = WavStream_WriteBytes;
        s.filePosState = 1;
        return File_SeekTo(s.handle, dataOffset) != 0;
    }
    void Close()
    {
        if (s.handle != FileHandleNone)
            File_Close(s.handle);
        s.handle = FileHandleNone;
    }
};

// An AiffStream over an open file; the file is closed at destruction.
struct HandAiff {
    AiffStream s;

    HandAiff() { memset(&s, 0, sizeof s); s.handle = FileHandleNone; }
    ~HandAiff() { Close(); }
    HandAiff(const HandAiff&) = delete;
    HandAiff& operator=(const HandAiff&) = delete;

    bool Open(const std::string& path, uint32_t dataOffset, uint16_t channels, uint16_t bitsPerSample,
              int64_t frameCount)
    {
        Close();
        memset(&s, 0, sizeof s);
        if (!File_Open(path.c_str(), HandStreamMode, &s.handle, 128))
            return false;
        s.formatTag = 1;
        s.channels = channels;
        s.sampleRate = 44100;
        s.bitsPerSample = bitsPerSample;
        s.blockAlign = uint16_t(channels * ((bitsPerSample + 7) / 8));
        s.commSampleFrames = uint32_t(frameCount);
        s.commSampleSize = int16_t(bitsPerSample);
        s.dataOffset = dataOffset;
        s.commOffset = 20;
        s.frameCount = frameCount;
        s.dataBytes = frameCount * s.blockAlign;
        s.readFrames = AiffStream_ReadFrames;
        s.writeBytes = AiffStream_WriteBytes;
        s.filePosState = 1;
        return File_SeekTo(s.handle, dataOffset) != 0;
    }
    void Close()
    {
        if (s.handle != FileHandleNone)
            File_Close(s.handle);
        s.handle = FileHandleNone;
    }
};

// A plain WAV file (fmt of 16, then data): its sample data starts at 44.
inline Bytes SimpleWav(uint16_t channels, uint16_t bitsPerSample, const Bytes& samples)
{
    return RiffFile({Chunk("fmt ", WavFmtBody(1, channels, 44100, bitsPerSample)), Chunk("data", samples)});
}

// A plain AIFF file (COMM, then SSND with offset 0): its sample data starts at 54.
inline Bytes SimpleAiff(int16_t channels, int16_t sampleSize, uint32_t frames, const Bytes& samples)
{
    ByteWriter ssnd(true);
    ssnd.u32(0).u32(0).raw(samples);
    return FormFile({Chunk("COMM", AiffCommBody(channels, frames, sampleSize, 44100), true),
                     Chunk("SSND", ssnd.bytes, true)});
}

// Bytes [first, first + count) of a byte vector.
inline Bytes Slice(const Bytes& b, size_t first, size_t count)
{
    return Bytes(b.begin() + long(first), b.begin() + long(first + count));
}

// Concatenation of byte vectors.
inline Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

#endif
