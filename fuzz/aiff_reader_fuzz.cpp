// The AIFF reader on any bytes: opening, the trailer check, a few frame reads
// and the close must neither fault nor change the file, and an open stream
// must describe a usable layout.
#include "aiffstream.h"
#include "chunks.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = FuzzScratch() + "/take.aif";
    FuzzWrite(path, data, size);

    static AiffStream stream;
    int32_t result = AiffStream_Open(&stream, path.c_str(), 0x20);
    if (result == AiffOpenOk) {
        FUZZ_CHECK(stream.blockAlign != 0, "an open stream has a frame size");
        FUZZ_CHECK(stream.channels >= 1 && stream.channels <= 32767, "channels %u", stream.channels);
        FUZZ_CHECK(stream.commOffset >= 20 && stream.commOffset + 18 <= size, "commOffset %u", stream.commOffset);
        FUZZ_CHECK(stream.dataOffset >= stream.ssndOffset + 36, "dataOffset %u ssndOffset %u", stream.dataOffset,
                   stream.ssndOffset);
        FUZZ_CHECK(stream.dataBytes == stream.frameCount * stream.blockAlign, "dataBytes");
        FUZZ_CHECK(stream.fileSize == int64_t(size), "fileSize");
        int32_t trailer = AiffStream_HasChunkTrailer(&stream);
        FUZZ_CHECK(trailer >= ChunkFollowNothing && trailer <= ChunkFollowPad, "trailer %d", trailer);
        static uint8_t frames[4 * 65535];
        stream.readPos = 0;
        stream.readFrames(&stream, frames, uint32_t(stream.blockAlign) * 4u, 1);
        stream.readFrames(&stream, frames, uint32_t(stream.blockAlign) * 2u, 0);
    } else {
        FUZZ_CHECK(result >= AiffOpenNotAiff && result <= AiffOpenCompressed, "result %d", result);
    }
    if (result != 0)
        FUZZ_CHECK(stream.refusal.reason != SoundReasonNone, "a refusal says why (result %d)", result);
    if (stream.handle != FileHandleNone)
        FUZZ_CHECK(AiffStream_Close(&stream) == 0, "close");
    Bytes after = ReadFileBytes(path);
    FUZZ_CHECK(after.size() == size && (size == 0 || memcmp(after.data(), data, size) == 0),
               "the reader changed the file");
    return 0;
}
