// Sample transfer through the slots of Wave64 and BW64 streams: reads of
// the declared frames and, after a repair, of all of them; writes that grow
// the take, whose header the close writes in the container's own fields;
// no 2 GiB limit on writes, as for RF64.
#include <gtest/gtest.h>

#include "streams.h"

namespace {

struct TransferCase {
    const char* name;
    const char* file;
    Bytes bytes;           // 20 of 50 stereo 16-bit frames declared
    int64_t dataOffset;
    uint32_t flags;        // WavFlag* the open sets
};

void PrintTo(const TransferCase& c, std::ostream* os)
{
    *os << c.name;
}

const Bytes Data = PatternBytes(50 * 4, 3);

std::vector<TransferCase> Cases()
{
    const Bytes w64 = BuildWave64({Wave64Chunk("fmt ", WavFmtBody(1, 2, 48000, 16))}, Data, 24 + 20 * 4);
    const Bytes bw64 = BuildWav({Chunk("ds64", Ds64Body(0, 20 * 4, 0)), FmtChunk(2, 48000, 16)}, Data, 0xFFFFFFFF,
                                Bytes(), 0xFFFFFFFF, "BW64");
    return {
        {"Wave64", "t.w64", w64, 40 + 40 + 24, WavFlagWave64},
        {"BW64", "t.bw64", bw64, 12 + 36 + 24 + 8, WavFlagRf64 | WavFlagBw64},
    };
}

Bytes ReadFrames(WavStream* s, int64_t frames)
{
    Bytes b(size_t(frames) * s->blockAlign);
    EXPECT_EQ(TransferOk, s->readFrames(s, b.data(), uint32_t(b.size()), 1));
    return b;
}

class ContainerTransfer : public ::testing::TestWithParam<TransferCase> {};

TEST_P(ContainerTransfer, SlotsReadWriteAndTheCloseWritesTheHeader)
{
    const TransferCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.write(c.file, c.bytes);
    {
        ScopedWav w;
        ASSERT_EQ(WavOpenOk, w.open(path));
        EXPECT_EQ(c.flags, w.s.flags);
        EXPECT_EQ(uint32_t(c.dataOffset), w.s.dataOffset);
        EXPECT_EQ(Slice(Data, 0, 20), ReadFrames(&w.s, 5)) << "the declared frames";
        w.s.readPos = 20;
        EXPECT_EQ(Bytes(20, 0), ReadFrames(&w.s, 5)) << "silence behind them";
        ASSERT_EQ(0, WavStream_Repair(&w.s));
        w.s.readPos = 10;
        EXPECT_EQ(Slice(Data, 40, 160), ReadFrames(&w.s, 40)) << "all 50 after the repair";
        const Bytes more = PatternBytes(8, 7);
        w.s.writePos = 50;
        Bytes buffer = more;
        ASSERT_EQ(TransferOk, w.s.writeBytes(&w.s, buffer.data(), uint32_t(buffer.size())));
        EXPECT_EQ(52, w.s.frameCount);
        ASSERT_EQ(0, WavStream_Close(&w.s));
    }
    const Bytes after = ReadFileBytes(path);
    ASSERT_EQ(size_t(c.dataOffset) + 52 * 4, after.size());
    if (c.flags & WavFlagWave64) {
        EXPECT_EQ(uint64_t(after.size()), Le64At(after, 16));
        EXPECT_EQ(uint64_t(24 + 52 * 4), Le64At(after, size_t(c.dataOffset) - 8));
    } else {
        EXPECT_EQ("BW64", IdAt(after, 0));
        EXPECT_EQ(uint64_t(52 * 4), Le64At(after, 28));
    }
    ScopedWav again;
    ASSERT_EQ(WavOpenOk, again.open(path, 0x20));
    EXPECT_EQ(52, again.s.frameCount);
}

// RF64's writes pass 2 GiB; so do those of the other containers with 64-bit sizes.
TEST_P(ContainerTransfer, WritesPassTwoGigabytes)
{
    const TransferCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.write(c.file, c.bytes);
    ScopedWav w;
    ASSERT_EQ(WavOpenOk, w.open(path));
    w.s.writePos = (int64_t(0x80000000) - c.dataOffset) / 4;
    Bytes frame = PatternBytes(4, 9);
    EXPECT_EQ(TransferOk, w.s.writeBytes(&w.s, frame.data(), 4));
    EXPECT_GT(FileLength(path), int64_t(0x7FFFFFFF));
}

INSTANTIATE_TEST_SUITE_P(Containers, ContainerTransfer, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<TransferCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
