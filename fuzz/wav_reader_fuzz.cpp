// The WAV reader on any bytes: opening, the trailer check, a few frame reads
// and the close must neither fault nor change the file, and an open stream
// must describe a usable layout. Built twice: as the WAV target, and as the
// Wave64 target (FUZZ_FILE_NAME take.w64) that starts from Wave64 seeds.
#include "chunks.h"
#include "fuzz_support.h"
#include "wavstream.h"

#ifndef FUZZ_FILE_NAME
#define FUZZ_FILE_NAME "take.wav"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = FuzzScratch() + "/" FUZZ_FILE_NAME;
    FuzzWrite(path, data, size);

    static WavStream stream;
    int32_t result = WavStream_Open(&stream, path.c_str(), 0x20);
    if (result == WavOpenOk) {
        FUZZ_CHECK(stream.blockAlign != 0, "an open stream has a frame size");
        FUZZ_CHECK(stream.channels != 0, "an open stream has channels");
        FUZZ_CHECK(stream.dataOffset >= 20 && stream.dataOffset <= size, "dataOffset %u in %zu bytes",
                   stream.dataOffset, size);
        FUZZ_CHECK(stream.dataBytes >= 0, "dataBytes %lld", (long long)stream.dataBytes);
        FUZZ_CHECK(stream.frameCount == stream.dataBytes / stream.blockAlign, "frameCount");
        FUZZ_CHECK(stream.fileSize == int64_t(size), "fileSize");
        const bool wave64 = size >= 16 && memcmp(data, ChunkWave64Riff, 16) == 0;
        FUZZ_CHECK(wave64 == ((stream.flags & WavFlagWave64) != 0), "Wave64 exactly when it begins with its riff");
        if (wave64)
            FUZZ_CHECK(stream.dataOffset % 8 == 0 && stream.dataOffset >= 64, "Wave64 samples on a boundary: %u",
                       stream.dataOffset);
        const bool bw64 = size >= 4 && memcmp(data, "BW64", 4) == 0;
        FUZZ_CHECK(bw64 == ((stream.flags & WavFlagBw64) != 0), "BW64 exactly when it begins with BW64");
        int32_t trailer = WavStream_HasChunkTrailer(&stream);
        FUZZ_CHECK(trailer >= ChunkFollowNothing && trailer <= ChunkFollowPad, "trailer %d", trailer);
        static uint8_t frames[4 * 65535];
        stream.readPos = 0;
        stream.readFrames(&stream, frames, uint32_t(stream.blockAlign) * 4u, 1);
        stream.readFrames(&stream, frames, uint32_t(stream.blockAlign) * 2u, 0);
    } else {
        FUZZ_CHECK(result >= WavOpenCannotOpen && result <= WavOpenNoChannels, "result %d", result);
        FUZZ_CHECK(result != WavOpenCannotOpen, "a readable file could not be opened");
    }
    if (result != 0)
        FUZZ_CHECK(stream.refusal.reason != SoundReasonNone, "a refusal says why (result %d)", result);
    if (stream.handle != FileHandleNone)
        FUZZ_CHECK(WavStream_Close(&stream) == 0, "close");
    Bytes after = ReadFileBytes(path);
    FUZZ_CHECK(after.size() == size && (size == 0 || memcmp(after.data(), data, size) == 0),
               "the reader changed the file");
    return 0;
}
