// Sample transfer through an AiffStream set up by hand: big-endian samples
// turned to host order on the way in and to file order on the way out, the
// 2 GiB end limit, and sample data beyond 4 GiB.
#include <gtest/gtest.h>

#include <stdint.h>

#include "aiffstream.h"
#include "fileio.h"
#include "filefault.h"
#include "samples.h"
#include "streams.h"

namespace {

const uint8_t Sentinel = 0xEE;

class AiffTransfer : public testing::Test {
protected:
    void TearDown() override { FileFault_Disarm(); }

    void Make(int16_t channels, int16_t sampleSize, const Bytes& samples, uint32_t frames)
    {
        path = dir.write("t.aif", BuildAiff(AiffLayout(channels, sampleSize, frames, samples)));
        ASSERT_TRUE(a.Open(path, 54, uint16_t(channels), uint16_t(sampleSize), frames));
    }
    int32_t Read(Bytes& buffer, uint32_t byteCount, int forward)
    {
        buffer.assign(byteCount + 2, Sentinel);
        return a.s.readFrames(&a.s, buffer.data(), byteCount, forward);
    }
    void SetReadPos(int64_t pos)
    {
        a.s.readPos = pos;
        a.s.filePosState = 0;
    }

    TempDir dir;
    std::string path;
    HandAiff a;
};

TEST_F(AiffTransfer, ReadsTurnSamplesToHostOrder)
{
    Bytes b;
    Make(2, 16, Bytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}, 2);
    ASSERT_EQ(Read(b, 8, 1), TransferOk);
    EXPECT_EQ(b, (Bytes{0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xF0, 0xDE, Sentinel, Sentinel}));

    Make(1, 24, Bytes{0x12, 0x34, 0x56, 0xA1, 0xB2, 0xC3}, 2);
    ASSERT_EQ(Read(b, 6, 1), TransferOk);
    EXPECT_EQ(b, (Bytes{0x56, 0x34, 0x12, 0xC3, 0xB2, 0xA1, Sentinel, Sentinel}));

    Make(1, 32, Bytes{0x12, 0x34, 0x56, 0x78, 0x01, 0x02, 0x03, 0x04}, 2);
    ASSERT_EQ(Read(b, 8, 1), TransferOk);
    EXPECT_EQ(b, (Bytes{0x78, 0x56, 0x34, 0x12, 0x04, 0x03, 0x02, 0x01, Sentinel, Sentinel}));

    Make(2, 8, Bytes{0x12, 0x34, 0x56, 0x78}, 2);
    ASSERT_EQ(Read(b, 4, 1), TransferOk);
    EXPECT_EQ(b, (Bytes{0x12, 0x34, 0x56, 0x78, Sentinel, Sentinel}));

    // Sizes between whole bytes are carried in whole bytes: 12 bits in 2, 20 in 3.
    Make(1, 12, Bytes{0x12, 0x30, 0x45, 0x60}, 2);
    ASSERT_EQ(Read(b, 4, 1), TransferOk);
    EXPECT_EQ(b, (Bytes{0x30, 0x12, 0x60, 0x45, Sentinel, Sentinel}));
    Make(1, 20, Bytes{0x12, 0x34, 0x50}, 1);
    ASSERT_EQ(Read(b, 3, 1), TransferOk);
    EXPECT_EQ(b, (Bytes{0x50, 0x34, 0x12, Sentinel, Sentinel}));
}

TEST_F(AiffTransfer, BackwardReadsReverseFramesAndTurnEachSample)
{
    // 24-bit stereo, three frames: L0 R0 L1 R1 L2 R2.
    Bytes file = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x11, 0x12, 0x13,
                  0x14, 0x15, 0x16, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26};
    Make(2, 24, file, 3);
    SetReadPos(4);
    Bytes b;
    ASSERT_EQ(Read(b, 24, 0), TransferOk);  // frames 0 to 3, frame 3 beyond the end
    EXPECT_EQ(b, (Bytes{0, 0, 0, 0, 0, 0,
                        0x23, 0x22, 0x21, 0x26, 0x25, 0x24,
                        0x13, 0x12, 0x11, 0x16, 0x15, 0x14,
                        0x03, 0x02, 0x01, 0x06, 0x05, 0x04, Sentinel, Sentinel}));
    EXPECT_EQ(a.s.readPos, 0);
    EXPECT_EQ(a.s.filePosState, 0);
}

TEST_F(AiffTransfer, EightBitSilenceIsZero)
{
    Make(1, 8, Bytes{0x81, 0x7F, 0x01}, 3);
    SetReadPos(-2);
    Bytes b;
    ASSERT_EQ(Read(b, 7, 1), TransferOk);
    EXPECT_EQ(b, (Bytes{0, 0, 0x81, 0x7F, 0x01, 0, 0, Sentinel, Sentinel}));
    EXPECT_EQ(a.s.readPos, 5);
}

TEST_F(AiffTransfer, WritesStoreBigEndianAndLeaveTheCallersBufferSo)
{
    Make(1, 16, Bytes{0, 1, 0, 2}, 2);
    Bytes out = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A};
    ASSERT_EQ(a.s.writeBytes(&a.s, out.data(), 6), TransferOk);
    EXPECT_EQ(out, (Bytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}));
    EXPECT_EQ(ReadAt(path, 54, 6), (Bytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}));
    EXPECT_EQ(a.s.writePos, 3);
    EXPECT_EQ(a.s.frameCount, 3);
    EXPECT_EQ(a.s.commSampleFrames, 3u);
    EXPECT_EQ(a.s.dataBytes, 6);
    EXPECT_EQ(a.s.headerDirty, 1);

    // Read back through the stream: host order again.
    SetReadPos(0);
    Bytes b;
    ASSERT_EQ(Read(b, 6, 1), TransferOk);
    EXPECT_EQ(b, (Bytes{0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, Sentinel, Sentinel}));
}

TEST_F(AiffTransfer, GrowingAndInnerWritesKeepCommInStep)
{
    Make(2, 16, PatternBytes(200, 3), 50);
    Bytes out = PatternBytes(400, 4);
    Bytes expect = out;
    Samples_SwapByteOrder(expect.data(), 400, 2);
    ASSERT_EQ(a.s.writeBytes(&a.s, out.data(), 400), TransferOk);
    EXPECT_EQ(a.s.frameCount, 100);
    EXPECT_EQ(a.s.commSampleFrames, 100u);
    EXPECT_EQ(a.s.dataBytes, 400);
    EXPECT_EQ(a.s.headerDirty, 1);
    EXPECT_EQ(ReadAt(path, 54, 400), expect);

    Make(2, 16, PatternBytes(200, 3), 50);
    Bytes inner = PatternBytes(40, 5);
    ASSERT_EQ(a.s.writeBytes(&a.s, inner.data(), 40), TransferOk);
    EXPECT_EQ(a.s.frameCount, 50);
    EXPECT_EQ(a.s.commSampleFrames, 50u);
    EXPECT_EQ(a.s.headerDirty, 0);
}

TEST_F(AiffTransfer, PartialFramesAreNotTurned)
{
    // 16-bit stereo: 6 bytes are one frame and one stray sample.
    Make(2, 16, PatternBytes(16, 3), 4);
    Bytes out = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A};
    ASSERT_EQ(a.s.writeBytes(&a.s, out.data(), 6), TransferOk);
    EXPECT_EQ(out, (Bytes{0x12, 0x34, 0x56, 0x78, 0xBC, 0x9A}));
    EXPECT_EQ(a.s.writePos, 1);

    SetReadPos(0);
    Bytes b;
    ASSERT_EQ(Read(b, 6, 1), TransferOk);
    EXPECT_EQ(b, (Bytes{0x34, 0x12, 0x78, 0x56, Sentinel, Sentinel, Sentinel, Sentinel}));
}

TEST_F(AiffTransfer, FailedWriteLeavesTheBufferBigEndian)
{
    Make(1, 16, Bytes{0, 1, 0, 2}, 2);
    Bytes out = {0x34, 0x12};
    FileFault_Arm(FileFaultWrite, 1, 0);
    EXPECT_EQ(a.s.writeBytes(&a.s, out.data(), 2), TransferWriteFailed);
    EXPECT_EQ(out, (Bytes{0x12, 0x34}));
    EXPECT_EQ(a.s.writePos, 0);
    EXPECT_EQ(a.s.frameCount, 2);
    EXPECT_EQ(a.s.filePosState, 0);

    // A seek failure comes before the turn: the buffer stays as given.
    Bytes out2 = {0x34, 0x12};
    FileFault_Arm(FileFaultSeek, 1, 0);
    EXPECT_EQ(a.s.writeBytes(&a.s, out2.data(), 2), TransferSeekFailed);
    EXPECT_EQ(out2, (Bytes{0x34, 0x12}));
    FileFault_Disarm();
    EXPECT_EQ(ReadAt(path, 54, 4), (Bytes{0, 1, 0, 2}));
}

TEST_F(AiffTransfer, ReadFailuresReport)
{
    Make(1, 16, PatternBytes(20, 3), 10);
    Bytes b;
    FileFault_Arm(FileFaultRead, 1, 0);
    EXPECT_EQ(Read(b, 4, 1), TransferReadFailed);
    EXPECT_EQ(a.s.readPos, 0);
    SetReadPos(3);
    FileFault_Arm(FileFaultSeek, 1, 0);
    EXPECT_EQ(Read(b, 4, 1), TransferSeekFailed);
    EXPECT_EQ(a.s.readPos, 3);
    FileFault_Disarm();

    // The header claims 20 frames, the file holds 10.
    Make(1, 16, PatternBytes(20, 3), 20);
    EXPECT_EQ(Read(b, 30, 1), TransferReadFailed);
    EXPECT_EQ(a.s.readPos, 0);
}

TEST_F(AiffTransfer, StreamsWithoutAFrameLayoutAreRefused)
{
    Make(2, 16, PatternBytes(16, 3), 4);
    const Bytes before = ReadFileBytes(path);
    Bytes b;
    Bytes out = PatternBytes(8, 1);

    a.s.channels = 0;
    EXPECT_EQ(Read(b, 8, 1), TransferReadFailed);
    EXPECT_EQ(b, Bytes(10, Sentinel));
    EXPECT_EQ(a.s.writeBytes(&a.s, out.data(), 8), TransferWriteFailed);

    // 30000 channels of 24 bits: the block alignment wrapped at 16 bits.
    a.s.channels = 30000;
    a.s.blockAlign = uint16_t(30000 * 3);
    EXPECT_EQ(Read(b, 8, 1), TransferReadFailed);
    EXPECT_EQ(a.s.writeBytes(&a.s, out.data(), 8), TransferWriteFailed);

    a.s.channels = 2;
    a.s.blockAlign = 0;
    EXPECT_EQ(Read(b, 8, 1), TransferReadFailed);
    EXPECT_EQ(a.s.writeBytes(&a.s, out.data(), 8), TransferWriteFailed);

    EXPECT_EQ(out, PatternBytes(8, 1));
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(a.s.readPos, 0);

    a.s.blockAlign = 4;
    const FileHandle open = a.s.handle;
    a.s.handle = FileHandleNone;
    EXPECT_EQ(Read(b, 8, 1), TransferOk);
    EXPECT_EQ(b, Bytes(10, Sentinel));
    EXPECT_EQ(a.s.writeBytes(&a.s, out.data(), 8), TransferWriteFailed);
    a.s.handle = open;
    EXPECT_EQ(AiffStream_ReadFrames(nullptr, b.data(), 8, 1), -1);
    EXPECT_EQ(AiffStream_WriteBytes(nullptr, out.data(), 8), -1);
}

TEST_F(AiffTransfer, WritesEndAtOffset0x7FFFFFFF)
{
    Make(1, 8, PatternBytes(16, 1), 16);
    Bytes out = PatternBytes(9, 31);
    a.s.writePos = 2147483585;  // would end at 2,147,483,648
    EXPECT_EQ(a.s.writeBytes(&a.s, out.data(), 9), TransferTooLarge);
    EXPECT_EQ(a.s.frameCount, 16);
    EXPECT_EQ(a.s.headerDirty, 0);
    EXPECT_EQ(FileLength(path), 70);
    EXPECT_EQ(out, PatternBytes(9, 31));

    a.s.writePos = 2147483584;  // ends at 2,147,483,647
    ASSERT_EQ(a.s.writeBytes(&a.s, out.data(), 9), TransferOk);
    EXPECT_EQ(FileLength(path), 2147483647);
    EXPECT_EQ(ReadAt(path, 2147483638, 9), out);
    EXPECT_EQ(a.s.frameCount, 2147483593);
    EXPECT_EQ(a.s.commSampleFrames, 2147483593u);
    EXPECT_EQ(a.s.headerDirty, 1);
}

TEST_F(AiffTransfer, SampleDataBeyondFourGiBIsReadAtItsOffset)
{
    // A stream whose frames reach past 4 GiB: the offsets must not wrap at 32 bits.
    Make(1, 16, PatternBytes(16, 3), 8);
    const int64_t frame = (int64_t(4) << 30) / 2 + 8;  // 4 GiB + 16 bytes into the data
    const int64_t at = 54 + frame * 2;
    ASSERT_TRUE(WriteAt(path, at, Bytes{0x12, 0x34, 0x56, 0x78}));
    a.s.frameCount = frame + 2;
    a.s.dataBytes = a.s.frameCount * 2;
    SetReadPos(frame);
    Bytes b;
    ASSERT_EQ(Read(b, 6, 1), TransferOk);
    EXPECT_EQ(b, (Bytes{0x34, 0x12, 0x78, 0x56, 0, 0, Sentinel, Sentinel}));
    ASSERT_EQ(Read(b, 6, 0), TransferOk);
    EXPECT_EQ(b, (Bytes{0, 0, 0x78, 0x56, 0x34, 0x12, Sentinel, Sentinel}));
    EXPECT_EQ(a.s.readPos, frame);
}

}  // namespace
