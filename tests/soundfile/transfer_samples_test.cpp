// The in-place buffer routines: byte order of samples, order of frames.
#include <gtest/gtest.h>

#include "chunkbuilder.h"
#include "samples.h"

namespace {

TEST(SamplesSwapByteOrder, TurnsEachSampleOfTwoThreeAndFourBytes)
{
    Bytes b16 = {0x12, 0x34, 0xAB, 0xCD};
    Samples_SwapByteOrder(b16.data(), 4, 2);
    EXPECT_EQ(b16, (Bytes{0x34, 0x12, 0xCD, 0xAB}));

    Bytes b24 = {0x12, 0x34, 0x56, 0xA1, 0xB2, 0xC3};
    Samples_SwapByteOrder(b24.data(), 6, 3);
    EXPECT_EQ(b24, (Bytes{0x56, 0x34, 0x12, 0xC3, 0xB2, 0xA1}));

    Bytes b32 = {0x12, 0x34, 0x56, 0x78, 0x01, 0x02, 0x03, 0x04};
    Samples_SwapByteOrder(b32.data(), 8, 4);
    EXPECT_EQ(b32, (Bytes{0x78, 0x56, 0x34, 0x12, 0x04, 0x03, 0x02, 0x01}));

    // Turning twice gives the samples back.
    Bytes p = PatternBytes(96);
    Bytes q = p;
    Samples_SwapByteOrder(q.data(), 96, 3);
    Samples_SwapByteOrder(q.data(), 96, 3);
    EXPECT_EQ(q, p);
}

TEST(SamplesSwapByteOrder, LeavesOtherWidthsAndPartialSamplesAlone)
{
    const Bytes p = PatternBytes(30);
    for (uint32_t width : {0u, 1u, 5u, 6u, 8u}) {
        Bytes b = p;
        Samples_SwapByteOrder(b.data(), 30, width);
        EXPECT_EQ(b, p) << "width " << width;
    }
    // 7 bytes of 2-byte samples: three samples turned, the seventh byte kept.
    Bytes b = {1, 2, 3, 4, 5, 6, 7, 0xEE};
    Samples_SwapByteOrder(b.data(), 7, 2);
    EXPECT_EQ(b, (Bytes{2, 1, 4, 3, 6, 5, 7, 0xEE}));
    // 10 bytes of 3-byte samples: the last byte is not part of a sample.
    Bytes c = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    Samples_SwapByteOrder(c.data(), 10, 3);
    EXPECT_EQ(c, (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 10}));
    Samples_SwapByteOrder(nullptr, 8, 2);
}

TEST(SamplesReverseFrames, ReversesFramesOfEveryWidth)
{
    for (uint32_t width : {1u, 2u, 3u, 4u, 6u, 8u, 12u}) {
        for (uint32_t count : {0u, 1u, 2u, 5u, 6u}) {
            const Bytes p = PatternBytes(width * count, width * 31 + count);
            Bytes b = p;
            Samples_ReverseFrames(b.data(), width * count, width);
            for (uint32_t i = 0; i < count; ++i)
                EXPECT_EQ(Bytes(b.begin() + i * width, b.begin() + (i + 1) * width),
                          Bytes(p.begin() + (count - 1 - i) * width, p.begin() + (count - i) * width))
                    << "width " << width << " count " << count << " frame " << i;
        }
    }
}

TEST(SamplesReverseFrames, SixByteFramesKeepTheirInnerOrder)
{
    // 24-bit stereo: three frames of six bytes.
    Bytes b = {1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15, 16, 21, 22, 23, 24, 25, 26};
    Samples_ReverseFrames(b.data(), 18, 6);
    EXPECT_EQ(b, (Bytes{21, 22, 23, 24, 25, 26, 11, 12, 13, 14, 15, 16, 1, 2, 3, 4, 5, 6}));
}

TEST(SamplesReverseFrames, LeavesTheRemainderAndWidthZeroAlone)
{
    // Two whole 4-byte frames and three bytes of a partial one.
    Bytes b = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    Samples_ReverseFrames(b.data(), 11, 4);
    EXPECT_EQ(b, (Bytes{5, 6, 7, 8, 1, 2, 3, 4, 9, 10, 11}));

    const Bytes p = PatternBytes(16);
    Bytes c = p;
    Samples_ReverseFrames(c.data(), 16, 0);
    EXPECT_EQ(c, p);
    Samples_ReverseFrames(c.data(), 3, 4);  // less than one frame
    EXPECT_EQ(c, p);
    Samples_ReverseFrames(nullptr, 16, 4);
}

}  // namespace
