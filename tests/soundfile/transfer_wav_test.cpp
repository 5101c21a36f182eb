// Sample transfer through a WavStream set up by hand: reads in both
// directions with silence outside the data, writes that grow the stream, the
// 2 GiB end limit of plain RIFF, and failures of the file layer.
#include <gtest/gtest.h>

#include <stdint.h>

#include "fileio.h"
#include "filefault.h"
#include "streams.h"
#include "wavstream.h"

namespace {

const uint8_t Sentinel = 0xEE;

class WavTransfer : public testing::Test {
protected:
    void TearDown() override { FileFault_Disarm(); }

    // 16-bit stereo (4-byte frames), frames frames of distinct bytes, data at 44.
    void Make16Stereo(int frames, int64_t declaredFrames = -1)
    {
        data = PatternBytes(size_t(frames) * 4, 7);
        path = dir.write("t.wav", PlainWav(data));
        ASSERT_TRUE(w.Open(path, 44, 2, 16, 4, declaredFrames < 0 ? frames : declaredFrames));
    }
    Bytes F(int64_t i) const { return Slice(data, size_t(i) * 4, 4); }
    Bytes Frames(int64_t first, int64_t count) const { return Slice(data, size_t(first) * 4, size_t(count) * 4); }
    // Sets readPos as a caller that repositions the stream would.
    void SetReadPos(int64_t pos)
    {
        w.s.readPos = pos;
        w.s.filePosState = 0;
    }
    int32_t Read(Bytes& buffer, uint32_t byteCount, int forward)
    {
        buffer.assign(byteCount + 4, Sentinel);
        return w.s.readFrames(&w.s, buffer.data(), byteCount, forward);
    }
    static Bytes Silence(size_t n, uint8_t value = 0) { return Bytes(n, value); }
    static Bytes Tail() { return Bytes(4, Sentinel); }

    TempDir dir;
    std::string path;
    Bytes data;
    HandWav w;
};

TEST_F(WavTransfer, ForwardReadsRunPastTheEndIntoSilenceWithoutTouchingTheFile)
{
    Make16Stereo(100);
    SetReadPos(98);
    Bytes b;
    ASSERT_EQ(Read(b, 20, 1), TransferOk);
    EXPECT_EQ(b, Cat({F(98), F(99), Silence(12), Tail()}));
    EXPECT_EQ(w.s.readPos, 103);

    FileFault_Disarm();  // clears the call counts
    ASSERT_EQ(Read(b, 8, 1), TransferOk);
    EXPECT_EQ(b, Cat({Silence(8), Tail()}));
    EXPECT_EQ(w.s.readPos, 105);
    EXPECT_EQ(FileFault_Count(FileFaultAll), 0u);
    EXPECT_EQ(w.s.frameCount, 100);
    EXPECT_EQ(w.s.dataBytes, 400);
    EXPECT_EQ(w.s.headerDirty, 0);
}

TEST_F(WavTransfer, SequentialForwardReadsCostOneOsReadEach)
{
    Make16Stereo(100);
    FileFault_Disarm();
    Bytes b;
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(Read(b, 40, 1), TransferOk);
        EXPECT_EQ(Slice(b, 0, 40), Frames(i * 10, 10)) << "request " << i;
    }
    EXPECT_EQ(FileFault_Count(FileFaultSeek), 0u);
    EXPECT_EQ(FileFault_Count(FileFaultRead), 10u);
    EXPECT_EQ(w.s.readPos, 100);
    EXPECT_EQ(w.s.filePosState, 1);
}

TEST_F(WavTransfer, BackwardReadBeforeTheStartThenForwardBack)
{
    Make16Stereo(100);
    SetReadPos(2);
    Bytes b;
    ASSERT_EQ(Read(b, 20, 0), TransferOk);
    EXPECT_EQ(b, Cat({F(1), F(0), Silence(12), Tail()}));
    EXPECT_EQ(w.s.readPos, -3);
    EXPECT_EQ(w.s.filePosState, 0);

    ASSERT_EQ(Read(b, 20, 1), TransferOk);
    EXPECT_EQ(b, Cat({Silence(12), F(0), F(1), Tail()}));
    EXPECT_EQ(w.s.readPos, 2);

    // Wholly before the start: silence only, no file access.
    SetReadPos(-10);
    FileFault_Disarm();
    ASSERT_EQ(Read(b, 12, 0), TransferOk);
    EXPECT_EQ(b, Cat({Silence(12), Tail()}));
    EXPECT_EQ(w.s.readPos, -13);
    EXPECT_EQ(FileFault_Count(FileFaultAll), 0u);
}

TEST_F(WavTransfer, BackwardReadFromBeyondTheEnd)
{
    Make16Stereo(100);
    SetReadPos(103);
    Bytes b;
    ASSERT_EQ(Read(b, 20, 0), TransferOk);
    EXPECT_EQ(b, Cat({Silence(12), F(99), F(98), Tail()}));
    EXPECT_EQ(w.s.readPos, 98);
}

TEST_F(WavTransfer, BackwardReadAfterForwardReadsTakesTheFramesBehindReadPos)
{
    // The forward reads leave the pointer at frame readPos; the backward read
    // must not read from there.
    Make16Stereo(100);
    Bytes b;
    ASSERT_EQ(Read(b, 40, 1), TransferOk);
    ASSERT_EQ(w.s.filePosState, 1);
    ASSERT_EQ(Read(b, 20, 0), TransferOk);
    EXPECT_EQ(b, Cat({F(9), F(8), F(7), F(6), F(5), Tail()}));
    EXPECT_EQ(w.s.readPos, 5);
    ASSERT_EQ(Read(b, 12, 1), TransferOk);
    EXPECT_EQ(b, Cat({F(5), F(6), F(7), Tail()}));
    EXPECT_EQ(w.s.readPos, 8);
}

TEST_F(WavTransfer, SixByteFramesComeReversedFromABackwardRead)
{
    data = PatternBytes(20 * 6, 3);
    path = dir.write("t24.wav", BuildWav({FmtChunk(2, 44100, 24)}, data));
    ASSERT_TRUE(w.Open(path, 44, 2, 24, 6, 20));
    SetReadPos(20);
    Bytes b(24 + 2, Sentinel);
    ASSERT_EQ(w.s.readFrames(&w.s, b.data(), 24 + 2, 0), TransferOk);  // 4 frames and 2 stray bytes
    EXPECT_EQ(b, Cat({Slice(data, 19 * 6, 6), Slice(data, 18 * 6, 6), Slice(data, 17 * 6, 6),
                       Slice(data, 16 * 6, 6), Bytes(2, Sentinel)}));
    EXPECT_EQ(w.s.readPos, 16);
}

TEST_F(WavTransfer, SilenceIs0x80ForEightBitAndZeroForWiderSamples)
{
    data = PatternBytes(10, 5);
    path = dir.write("t8.wav", BuildWav({FmtChunk(1, 44100, 8)}, data));
    ASSERT_TRUE(w.Open(path, 44, 1, 8, 1, 10));
    SetReadPos(-2);
    Bytes b;
    ASSERT_EQ(Read(b, 14, 1), TransferOk);
    EXPECT_EQ(b, Cat({Silence(2, 0x80), data, Silence(2, 0x80), Tail()}));
    ASSERT_EQ(Read(b, 6, 0), TransferOk);  // backward from 12: two beyond, four inside
    EXPECT_EQ(b, Cat({Silence(2, 0x80), Bytes{data[9], data[8], data[7], data[6]}, Tail()}));

    // 8-bit stereo: two bytes per frame, still 0x80.
    path = dir.write("t8s.wav", BuildWav({FmtChunk(2, 44100, 8)}, data));
    ASSERT_TRUE(w.Open(path, 44, 2, 8, 2, 5));
    SetReadPos(4);
    ASSERT_EQ(Read(b, 6, 1), TransferOk);
    EXPECT_EQ(b, Cat({Slice(data, 8, 2), Silence(4, 0x80), Tail()}));

    // 16-bit: zero.
    Make16Stereo(4);
    SetReadPos(3);
    ASSERT_EQ(Read(b, 8, 1), TransferOk);
    EXPECT_EQ(b, Cat({F(3), Silence(4, 0), Tail()}));
}

TEST_F(WavTransfer, PartialFramesAreNeitherReadNorWritten)
{
    Make16Stereo(50);
    Bytes b;
    // Less than one frame: nothing at all.
    FileFault_Disarm();
    ASSERT_EQ(Read(b, 3, 1), TransferOk);
    EXPECT_EQ(b, Bytes(7, Sentinel));
    EXPECT_EQ(w.s.readPos, 0);
    EXPECT_EQ(FileFault_Count(FileFaultAll), 0u);

    // Two frames and two stray bytes: the stray bytes stay as they were,
    // also in a backward read.
    ASSERT_EQ(Read(b, 10, 1), TransferOk);
    EXPECT_EQ(b, Cat({F(0), F(1), Bytes(2, Sentinel), Tail()}));
    EXPECT_EQ(w.s.readPos, 2);
    ASSERT_EQ(Read(b, 10, 0), TransferOk);
    EXPECT_EQ(b, Cat({F(1), F(0), Bytes(2, Sentinel), Tail()}));
    EXPECT_EQ(w.s.readPos, 0);

    // A write of 2.5 frames at the end writes 2 frames.
    w.s.writePos = 50;
    Bytes out = PatternBytes(10, 99);
    ASSERT_EQ(w.s.writeBytes(&w.s, out.data(), 10), TransferOk);
    EXPECT_EQ(w.s.writePos, 52);
    EXPECT_EQ(w.s.frameCount, 52);
    EXPECT_EQ(FileLength(path), 44 + 52 * 4);
    EXPECT_EQ(ReadAt(path, 44 + 200, 8), Slice(out, 0, 8));

    // Less than one frame: nothing written.
    ASSERT_EQ(w.s.writeBytes(&w.s, out.data(), 3), TransferOk);
    EXPECT_EQ(w.s.writePos, 52);
    EXPECT_EQ(FileLength(path), 44 + 52 * 4);
}

TEST_F(WavTransfer, ClosedOrHeaderlessStreamsAreLeftAlone)
{
    Make16Stereo(10);
    const Bytes before = ReadFileBytes(path);
    Bytes b;
    Bytes out = PatternBytes(8, 4);

    // A stream left by a failed open: file open, no data chunk found.
    w.s.dataOffset = 0;
    ASSERT_EQ(Read(b, 8, 1), TransferOk);
    EXPECT_EQ(b, Bytes(12, Sentinel));
    EXPECT_EQ(w.s.writeBytes(&w.s, out.data(), 8), TransferWriteFailed);
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(w.s.readPos, 0);
    EXPECT_EQ(w.s.writePos, 0);

    WavStream closed;
    memset(&closed, 0, sizeof closed);
    closed.handle = FileHandleNone;
    closed.blockAlign = 4;
    closed.dataOffset = 44;
    b.assign(8, Sentinel);
    EXPECT_EQ(WavStream_ReadFrames(&closed, b.data(), 8, 1), TransferOk);
    EXPECT_EQ(b, Bytes(8, Sentinel));
    EXPECT_EQ(WavStream_WriteBytes(&closed, out.data(), 8), TransferWriteFailed);

    EXPECT_EQ(WavStream_ReadFrames(nullptr, b.data(), 8, 1), -1);
    EXPECT_EQ(WavStream_WriteBytes(nullptr, out.data(), 8), -1);
}

TEST_F(WavTransfer, ZeroBlockAlignIsRefusedWithoutEffect)
{
    Make16Stereo(10);
    const Bytes before = ReadFileBytes(path);
    w.s.blockAlign = 0;
    Bytes b;
    FileFault_Disarm();
    EXPECT_EQ(Read(b, 16, 1), TransferReadFailed);
    EXPECT_EQ(b, Bytes(20, Sentinel));
    Bytes out = PatternBytes(16, 4);
    EXPECT_EQ(w.s.writeBytes(&w.s, out.data(), 16), TransferWriteFailed);
    EXPECT_EQ(FileFault_Count(FileFaultAll), 0u);
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(w.s.readPos, 0);
    EXPECT_EQ(w.s.writePos, 0);
    EXPECT_EQ(w.s.frameCount, 10);
}

TEST_F(WavTransfer, FileShorterThanTheHeaderSaysFailsTheReadAndRecovers)
{
    Make16Stereo(50, 100);  // the header claims 100 frames, the file holds 50
    Bytes b;
    EXPECT_EQ(Read(b, 60 * 4, 1), TransferReadFailed);
    EXPECT_EQ(w.s.readPos, 0);
    EXPECT_EQ(w.s.filePosState, 0);
    // The failed read moved the pointer; the next read finds its place again.
    ASSERT_EQ(Read(b, 40, 1), TransferOk);
    EXPECT_EQ(Slice(b, 0, 40), Frames(0, 10));
    // A read that stays inside what the file holds is fine; one reaching
    // into the missing part fails.
    SetReadPos(45);
    EXPECT_EQ(Read(b, 40, 1), TransferReadFailed);
    EXPECT_EQ(w.s.readPos, 45);
}

TEST_F(WavTransfer, SeekAndReadFailuresKeepThePosition)
{
    Make16Stereo(100);
    Bytes b;
    // Seek failure on a read that has to move the pointer.
    SetReadPos(2);
    FileFault_Arm(FileFaultSeek, 1, 0);
    EXPECT_EQ(Read(b, 20, 0), TransferSeekFailed);
    EXPECT_EQ(w.s.readPos, 2);
    EXPECT_EQ(w.s.filePosState, 0);
    FileFault_Disarm();
    ASSERT_EQ(Read(b, 20, 0), TransferOk);
    EXPECT_EQ(b, Cat({F(1), F(0), Silence(12), Tail()}));

    // Read failure on a stream whose pointer was known.
    ASSERT_TRUE(w.Open(path, 44, 2, 16, 4, 100));
    FileFault_Arm(FileFaultRead, 1, 0);
    EXPECT_EQ(Read(b, 16, 1), TransferReadFailed);
    EXPECT_EQ(w.s.readPos, 0);
    EXPECT_EQ(w.s.filePosState, 0);
    FileFault_Disarm();
    ASSERT_EQ(Read(b, 16, 1), TransferOk);
    EXPECT_EQ(Slice(b, 0, 16), Frames(0, 4));
}

TEST_F(WavTransfer, PositionsThatCannotBeFormedAreRefused)
{
    Make16Stereo(10);
    Bytes b;
    SetReadPos(INT64_MAX - 1);
    EXPECT_EQ(Read(b, 8, 1), TransferSeekFailed);
    EXPECT_EQ(w.s.readPos, INT64_MAX - 1);
    SetReadPos(INT64_MIN + 1);
    EXPECT_EQ(Read(b, 8, 0), TransferSeekFailed);
    EXPECT_EQ(w.s.readPos, INT64_MIN + 1);
    // Backward to exactly the lowest position: silence only.
    SetReadPos(INT64_MIN + 2);
    EXPECT_EQ(Read(b, 8, 0), TransferOk);
    EXPECT_EQ(w.s.readPos, INT64_MIN);
    EXPECT_EQ(b, Cat({Silence(8), Tail()}));

    // A frame count from a damaged 64-bit header names offsets past 2^63.
    w.s.frameCount = INT64_MAX;
    w.s.flags = WavFlagRf64;
    SetReadPos(INT64_MAX / 2);
    EXPECT_EQ(Read(b, 8, 1), TransferSeekFailed);
    EXPECT_EQ(b, Bytes(12, Sentinel));
    EXPECT_EQ(w.s.readPos, INT64_MAX / 2);

    const Bytes before = ReadFileBytes(path);
    Bytes out = PatternBytes(8, 2);
    w.s.writePos = INT64_MAX / 2;
    EXPECT_EQ(w.s.writeBytes(&w.s, out.data(), 8), TransferTooLarge);
    w.s.writePos = 2;  // a write inside the data that would still have to keep frameCount
    EXPECT_EQ(w.s.writeBytes(&w.s, out.data(), 8), TransferTooLarge);
    w.s.writePos = -1;  // would land in the header
    EXPECT_EQ(w.s.writeBytes(&w.s, out.data(), 8), TransferSeekFailed);
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(w.s.headerDirty, 0);
}

TEST_F(WavTransfer, WritesThatGrowTheStreamMarkTheHeaderDirty)
{
    Make16Stereo(50);
    Bytes out = PatternBytes(400, 11);
    ASSERT_EQ(w.s.writeBytes(&w.s, out.data(), 400), TransferOk);
    EXPECT_EQ(w.s.writePos, 100);
    EXPECT_EQ(w.s.frameCount, 100);
    EXPECT_EQ(w.s.dataBytes, 400);
    EXPECT_EQ(w.s.headerDirty, 1);
    EXPECT_EQ(w.s.filePosState, 0);
    EXPECT_EQ(w.s.readPos, 0);
    EXPECT_EQ(FileLength(path), 444);
    EXPECT_EQ(ReadAt(path, 44, 400), out);
    EXPECT_EQ(ReadAt(path, 0, 44), Slice(PlainWav(data), 0, 44));  // header untouched until close

    // The next write goes on where this one ended.
    Bytes more = PatternBytes(8, 12);
    ASSERT_EQ(w.s.writeBytes(&w.s, more.data(), 8), TransferOk);
    EXPECT_EQ(w.s.frameCount, 102);
    EXPECT_EQ(ReadAt(path, 444, 8), more);
}

TEST_F(WavTransfer, WritesInsideTheDataLeaveSizeAndHeaderAlone)
{
    Make16Stereo(50);
    Bytes out = PatternBytes(40, 13);
    ASSERT_EQ(w.s.writeBytes(&w.s, out.data(), 40), TransferOk);
    EXPECT_EQ(w.s.writePos, 10);
    EXPECT_EQ(w.s.frameCount, 50);
    EXPECT_EQ(w.s.dataBytes, 200);
    EXPECT_EQ(w.s.headerDirty, 0);
    EXPECT_EQ(FileLength(path), 244);
    EXPECT_EQ(ReadAt(path, 44, 40), out);
    EXPECT_EQ(ReadAt(path, 84, 160), Frames(10, 40));

    // A dirty header stays dirty.
    w.s.headerDirty = 1;
    ASSERT_EQ(w.s.writeBytes(&w.s, out.data(), 40), TransferOk);
    EXPECT_EQ(w.s.headerDirty, 1);
    EXPECT_EQ(w.s.frameCount, 50);
    // The write left the data unchanged in the caller's buffer.
    EXPECT_EQ(out, PatternBytes(40, 13));
}

TEST_F(WavTransfer, ForwardReadAfterAWriteFindsItsFramesFirst)
{
    Make16Stereo(100);
    Bytes out = PatternBytes(32, 21);
    w.s.writePos = 20;
    ASSERT_EQ(w.s.writeBytes(&w.s, out.data(), 32), TransferOk);
    Bytes b;
    ASSERT_EQ(Read(b, 16, 1), TransferOk);
    EXPECT_EQ(Slice(b, 0, 16), Frames(0, 4));
    ASSERT_EQ(Read(b, 64, 1), TransferOk);
    EXPECT_EQ(Slice(b, 0, 64), Frames(4, 16));
    ASSERT_EQ(Read(b, 32, 1), TransferOk);
    EXPECT_EQ(Slice(b, 0, 32), out);
    EXPECT_EQ(w.s.readPos, 28);
}

TEST_F(WavTransfer, WriteFailuresChangeNoSizes)
{
    Make16Stereo(50);
    const Bytes before = ReadFileBytes(path);
    Bytes out = PatternBytes(400, 11);

    FileFault_Arm(FileFaultSeek, 1, 0);
    EXPECT_EQ(w.s.writeBytes(&w.s, out.data(), 400), TransferSeekFailed);
    EXPECT_EQ(w.s.filePosState, 0);
    EXPECT_EQ(w.s.writePos, 0);
    EXPECT_EQ(w.s.frameCount, 50);
    EXPECT_EQ(w.s.headerDirty, 0);

    w.s.filePosState = 1;
    FileFault_Arm(FileFaultWrite, 1, 0);
    EXPECT_EQ(w.s.writeBytes(&w.s, out.data(), 400), TransferWriteFailed);
    EXPECT_EQ(w.s.filePosState, 0);
    EXPECT_EQ(w.s.writePos, 0);
    EXPECT_EQ(w.s.frameCount, 50);
    EXPECT_EQ(w.s.dataBytes, 200);
    EXPECT_EQ(w.s.headerDirty, 0);
    FileFault_Disarm();
    EXPECT_EQ(ReadFileBytes(path), before);
}

// A WAV file whose sample data starts at 54: RIFF, fmt, a JUNK chunk of 2, data.
Bytes WavAt54(uint16_t channels, uint16_t bits, const Bytes& samples)
{
    return RiffFile({FmtChunk(channels, 8000, bits), Chunk("JUNK", Bytes(2)),
                     Chunk("data", samples)});
}

TEST_F(WavTransfer, PlainRiffWritesEndAtOffset0x7FFFFFFF)
{
    data = PatternBytes(16, 1);
    path = dir.write("big.wav", WavAt54(1, 8, data));
    ASSERT_EQ(FileLength(path), 70);
    ASSERT_TRUE(w.Open(path, 54, 1, 8, 1, 16));
    Bytes out = PatternBytes(9, 31);

    // End offset 2,147,483,648: refused, nothing changes.
    w.s.writePos = 2147483585;
    EXPECT_EQ(w.s.writeBytes(&w.s, out.data(), 9), TransferTooLarge);
    EXPECT_EQ(w.s.writePos, 2147483585);
    EXPECT_EQ(w.s.frameCount, 16);
    EXPECT_EQ(w.s.headerDirty, 0);
    EXPECT_EQ(w.s.filePosState, 1);
    EXPECT_EQ(FileLength(path), 70);

    // End offset 2,147,483,647: made (the file grows sparse).
    w.s.writePos = 2147483584;
    ASSERT_EQ(w.s.writeBytes(&w.s, out.data(), 9), TransferOk);
    EXPECT_EQ(FileLength(path), 2147483647);
    EXPECT_EQ(ReadAt(path, 2147483638, 9), out);
    EXPECT_EQ(w.s.frameCount, 2147483593);
    EXPECT_EQ(w.s.dataBytes, 2147483593);
    EXPECT_EQ(w.s.headerDirty, 1);

    // Far beyond: refused as well.
    w.s.writePos = int64_t(5) << 30;
    EXPECT_EQ(w.s.writeBytes(&w.s, out.data(), 9), TransferTooLarge);
    EXPECT_EQ(FileLength(path), 2147483647);
}

TEST_F(WavTransfer, Rf64WritesAndReadsBeyondFourGiB)
{
    data = PatternBytes(16, 1);
    path = dir.write("big.wav", WavAt54(2, 16, data));
    ASSERT_TRUE(w.Open(path, 54, 2, 16, 4, 4, WavFlagRf64));
    Bytes out = PatternBytes(16, 41);
    const int64_t frame = (int64_t(5) << 30) / 4;  // 5 GiB into the data
    w.s.writePos = frame;
    ASSERT_EQ(w.s.writeBytes(&w.s, out.data(), 16), TransferOk);
    EXPECT_EQ(FileLength(path), 54 + (int64_t(5) << 30) + 16);
    EXPECT_EQ(ReadAt(path, 54 + (int64_t(5) << 30), 16), out);
    EXPECT_EQ(w.s.frameCount, frame + 4);
    EXPECT_EQ(w.s.dataBytes, (frame + 4) * 4);
    EXPECT_EQ(w.s.headerDirty, 1);

    SetReadPos(frame - 1);
    Bytes b;
    ASSERT_EQ(Read(b, 24, 1), TransferOk);
    EXPECT_EQ(b, Cat({Silence(4), out, Silence(4), Tail()}));  // hole, the frames, past the end
}

}  // namespace
