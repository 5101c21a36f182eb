// Streams and handles of the sound file tests, closed when a test leaves them
// open: opened by the readers, or filled by hand the way a successful reader
// open leaves them, so that the transfer can be tested on exactly the field
// values a case needs.
#ifndef TESSMARK_TEST_STREAMS_H
#define TESSMARK_TEST_STREAMS_H

#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "aiffstream.h"
#include "chunkbuilder.h"
#include "fileio.h"
#include "soundfile.h"
#include "testfiles.h"
#include "wavstream.h"

template <class Stream, int32_t (*Open)(Stream*, const char*, int32_t), int32_t (*Close)(Stream*)>
struct ScopedStream {
    Stream s;
    ScopedStream() { memset(&s, 0, sizeof s); s.handle = FileHandleNone; }
    ~ScopedStream() { Close(&s); }
    ScopedStream(const ScopedStream&) = delete;
    ScopedStream& operator=(const ScopedStream&) = delete;
    int32_t open(const std::string& path, int32_t flag = 1) { return Open(&s, path.c_str(), flag); }
};
typedef ScopedStream<WavStream, WavStream_Open, WavStream_Close> ScopedWav;
typedef ScopedStream<AiffStream, AiffStream_Open, AiffStream_Close> ScopedAiff;

// A sound file handle (too big to copy around).
struct Handle {
    std::unique_ptr<SoundFile> f{new SoundFile()};
    ~Handle()
    {
        if (f->isOpen)
            SoundFile_Close(f.get());
    }
    SoundFile* operator->() { return f.get(); }
    SoundFile* get() { return f.get(); }
};

// Bytes of a file through a handle that holds it (Windows refuses other
// opens of a file opened unshared).
inline Bytes ReadThrough(FileHandle handle, int64_t offset, uint32_t count)
{
    Bytes b(count);
    if (!File_SeekTo(handle, offset) || !File_ReadExact(handle, b.data(), count))
        return Bytes();
    return b;
}

// Read and write, others may read and write meanwhile: lets a test look at the
// file while a hand-built stream holds it (Windows refuses that otherwise).
const uint32_t HandStreamMode = FileModeRead | FileModeWrite | FileModeShareRead | FileModeShareWrite |
                                FileModeOpenExisting;

// A stream over an open file, its fields set by hand.
template <class Stream>
struct HandStream {
    Stream s;

    HandStream() { memset(&s, 0, sizeof s); s.handle = FileHandleNone; }
    ~HandStream() { Close(); }
    HandStream(const HandStream&) = delete;
    HandStream& operator=(const HandStream&) = delete;

    void Close()
    {
        if (s.handle != FileHandleNone)
            File_Close(s.handle);
        s.handle = FileHandleNone;
    }

protected:
    // Opens path with the format fields a reader fills; the caller adds the
    // rest and moves the pointer to the samples.
    bool OpenFile(const std::string& path, uint32_t dataOffset, uint16_t channels, uint16_t bitsPerSample,
                  uint16_t blockAlign, int64_t frameCount)
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
        s.filePosState = 1;
        return true;
    }
};

struct HandWav : HandStream<WavStream> {
    // Opens path with the pointer at dataOffset, as the reader does.
    bool Open(const std::string& path, uint32_t dataOffset, uint16_t channels, uint16_t bitsPerSample,
              uint16_t blockAlign, int64_t frameCount, uint32_t flags = 0)
    {
        if (!OpenFile(path, dataOffset, channels, bitsPerSample, blockAlign, frameCount))
            return false;
        s.flags = flags;
        s.readFrames = WavStream_ReadFrames;
        s.writeBytes = WavStream_WriteBytes;
        return File_SeekTo(s.handle, dataOffset) != 0;
    }
};

struct HandAiff : HandStream<AiffStream> {
    bool Open(const std::string& path, uint32_t dataOffset, uint16_t channels, uint16_t bitsPerSample,
              int64_t frameCount)
    {
        if (!OpenFile(path, dataOffset, channels, bitsPerSample, uint16_t(channels * ((bitsPerSample + 7) / 8)),
                      frameCount))
            return false;
        s.commSampleFrames = uint32_t(frameCount);
        s.commSampleSize = int16_t(bitsPerSample);
        s.commOffset = 20;
        s.readFrames = AiffStream_ReadFrames;
        s.writeBytes = AiffStream_WriteBytes;
        return File_SeekTo(s.handle, dataOffset) != 0;
    }
};

#endif
