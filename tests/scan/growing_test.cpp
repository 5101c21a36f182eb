// Takes that may still grow: within the settle time a repair declares the
// whole frames and keeps the partial last one for the recorder's next write;
// once the take has been quiet, a scan cuts it.
#include <gtest/gtest.h>

#include "scanning.h"
#include "testfiles.h"

namespace {

struct Growing {
    const char* name;
    Bytes bytes;
    int64_t dataOffset;
    uint32_t frame;
    int64_t samples;  // sample bytes, a partial frame included
    bool aiff;
};

void PrintTo(const Growing& g, std::ostream* os)
{
    *os << g.name;
}

std::vector<Growing> Takes()
{
    AiffLayout aiff(2, 24, 0, PatternBytes(6 * 100 + 4, 3));
    aiff.ssndSize = 8;
    return {
        {"take.wav", BuildWav({FmtChunk(2, 48000, 24)}, PatternBytes(6 * 100 + 4, 1), 0), 44, 6, 604, false},
        {"stale.wav", BuildWav({FmtChunk(1, 48000, 16)}, PatternBytes(2 * 300 + 1, 2), 200), 44, 2, 601, false},
        {"take.aif", BuildAiff(aiff), 54, 6, 604, true},
    };
}

class GrowingTake : public ::testing::TestWithParam<Growing> {};

TEST_P(GrowingTake, PartialFrameKeptUntilItHasBeenQuiet)
{
    const Growing& g = GetParam();
    TempDir dir;
    const std::string path = dir.write(g.name, g.bytes);
    ASSERT_TRUE(SetModifiedAgo(path, 0));  // written just now
    ScanRun scan;
    scan.settle = false;
    const Lines lines = scan.run(dir.path());
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(1, scan.outcomes.repaired);
    const int64_t whole = g.samples / g.frame * g.frame;
    const int64_t partial = g.samples - whole;
    ASSERT_EQ(1u, scan.notes.size());
    EXPECT_NE(std::string::npos, scan.notes[0].find(std::to_string(partial) + " bytes of a partial last frame kept"));
    Bytes after = ReadFileBytes(path);
    ASSERT_EQ(g.bytes.size(), after.size()) << "nothing cut";
    EXPECT_EQ(Slice(g.bytes, size_t(g.dataOffset), size_t(g.samples)), Slice(after, size_t(g.dataOffset), size_t(g.samples)));
    if (g.aiff) {
        EXPECT_EQ(uint32_t(whole / g.frame), Be32At(after, 22)) << "COMM counts the whole frames";
        EXPECT_EQ(uint32_t(g.dataOffset + whole - 8), Be32At(after, 4)) << "FORM stops at the samples";
    } else {
        EXPECT_EQ(uint32_t(whole), Le32At(after, 40)) << "the data size counts the whole frames";
        EXPECT_EQ(uint32_t(g.dataOffset + whole - 8), Le32At(after, 4)) << "RIFF stops at the samples";
    }

    // The recorder completes the frame and writes one more.
    const Bytes more = PatternBytes(size_t(g.frame - partial + g.frame), 9);
    ASSERT_TRUE(WriteAt(path, int64_t(after.size()), more));
    ASSERT_TRUE(SetModifiedAgo(path, 0));
    scan.run(dir.path());
    after = ReadFileBytes(path);
    EXPECT_EQ(g.bytes.size() + more.size(), after.size()) << "every byte the recorder wrote is there";
    EXPECT_EQ(0u, scan.notes.size()) << "no partial frame now";

    // Quiet for longer than the settle time: a partial frame is cut.
    ASSERT_TRUE(WriteAt(path, int64_t(after.size()), Bytes(1, 0x55)));
    scan.settle = true;
    scan.run(dir.path());
    EXPECT_EQ(after.size(), ReadFileBytes(path).size()) << "the stray byte of a settled take is cut";
    EXPECT_EQ(0u, scan.notes.size());
}

INSTANTIATE_TEST_SUITE_P(Layouts, GrowingTake, ::testing::ValuesIn(Takes()),
                         [](const ::testing::TestParamInfo<Growing>& info) {
                             std::string n;
                             for (const char* p = info.param.name; *p != '\0'; ++p)
                                 if (*p != '.')
                                     n += *p;
                             return n;
                         });

}  // namespace
