// AIFF-C with uncompressed samples, SSND sizes a recorder never wrote, and
// chunks behind SSND that a repair must leave where they are.
#include <gtest/gtest.h>

#include "scanning.h"
#include "streams.h"
#include "testfiles.h"

namespace {

// One AIFF-C compression type: what a frame is, and how its first sample
// (file bytes 01 02 03 ...) reaches the caller.
struct Type {
    const char* id;
    int16_t sampleSize;
    uint16_t frameBytes;  // mono
    int32_t encoding;
    Bytes hostSample;     // little-endian host
};

void PrintTo(const Type& t, std::ostream* os)
{
    *os << t.id;
}

class AiffCompression : public ::testing::TestWithParam<Type> {};

TEST_P(AiffCompression, OpensWithTheFrameOfItsTypeAndReadsInHostOrder)
{
    const Type& t = GetParam();
    // 24 bytes: whole frames of every type.
    AiffLayout layout(1, t.sampleSize, 0, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                               22, 23, 24});
    layout.compression = t.id;
    layout.frames = uint32_t(24 / t.frameBytes);
    TempDir dir;
    std::string p = dir.write("take.aifc", BuildAiff(layout));
    Handle h;
    ASSERT_EQ(0, SoundFile_Open(h.get(), p.c_str(), 0x20));
    ASSERT_TRUE(h->isOpen);
    EXPECT_EQ(t.frameBytes, h->aiff.blockAlign);
    EXPECT_EQ(t.encoding, h->info.sampleEncoding);
    EXPECT_EQ(AiffFlagAifc, h->info.flags & AiffFlagAifc);
    EXPECT_EQ(int64_t(24), h->info.dataBytes);
    Bytes frame(t.frameBytes);
    ASSERT_EQ(0, h->aiff.readFrames(&h->aiff, frame.data(), t.frameBytes, 1));
    EXPECT_EQ(t.hostSample, frame);
}

INSTANTIATE_TEST_SUITE_P(
    Types, AiffCompression,
    ::testing::Values(Type{"NONE", 16, 2, 0, Bytes{2, 1}}, Type{"twos", 16, 2, 0, Bytes{2, 1}},
                      Type{"sowt", 16, 2, 0, Bytes{1, 2}}, Type{"raw ", 8, 1, 1, Bytes{1}},
                      Type{"in24", 24, 3, 0, Bytes{3, 2, 1}}, Type{"in32", 32, 4, 0, Bytes{4, 3, 2, 1}},
                      Type{"fl32", 32, 4, 2, Bytes{4, 3, 2, 1}}, Type{"FL32", 32, 4, 2, Bytes{4, 3, 2, 1}},
                      Type{"fl64", 64, 8, 2, Bytes{8, 7, 6, 5, 4, 3, 2, 1}},
                      Type{"FL64", 64, 8, 2, Bytes{8, 7, 6, 5, 4, 3, 2, 1}},
                      // The frame comes from the type where sampleSize says otherwise.
                      Type{"fl32", 24, 4, 2, Bytes{4, 3, 2, 1}}, Type{"in24", 20, 3, 0, Bytes{3, 2, 1}}),
    [](const ::testing::TestParamInfo<Type>& info) {
        std::string name;
        for (const char* c = info.param.id; *c; ++c)
            if (*c != ' ')
                name += *c;
        return name + "_" + std::to_string(info.param.sampleSize);
    });

TEST(AiffCompression, CompressedAudioIsRefusedWithItsType)
{
    for (const char* id : {"ima4", "ulaw", "alaw", "MAC3"}) {
        SCOPED_TRACE(id);
        AiffLayout layout(2, 16, 0, PatternBytes(400));
        layout.compression = id;
        TempDir dir;
        const Bytes file = BuildAiff(layout);
        std::string p = dir.write("take.aifc", file);
        Handle h;
        EXPECT_EQ(SoundFileErrCannotRead, SoundFile_Open(h.get(), p.c_str(), 1));
        EXPECT_EQ("AIFF-C compression '" + std::string(id) + "' is not supported", std::string(h->errorText));
        EXPECT_EQ("skipped", ScanOnce(p));
        EXPECT_EQ(file, ReadFileBytes(p));
    }
}

// What a repair makes of an AIFF file, and what stays byte for byte.
struct Repair {
    const char* name;
    AiffLayout layout;
    uint32_t frames;      // COMM's count afterwards
    size_t keptFrom;      // every byte from here to the end stays as it was
    int64_t length;       // the file's length afterwards
};

void PrintTo(const Repair& r, std::ostream* os)
{
    *os << r.name;
}

std::vector<Repair> Repairs()
{
    std::vector<Repair> out;
    {
        // SSND ckSize never written: 0, and FORM of the header alone.
        AiffLayout a(2, 16, 0, PatternBytes(4003, 5));
        a.ssndSize = 0;
        a.formSize = 12 + 26 + 16 - 8;
        out.push_back({"ssndSizeZero", a, 1000, 0, 54 + 4000});
    }
    {
        // COMM short of what SSND holds, ID3 behind.
        AiffLayout a(2, 16, 0, PatternBytes(40000, 6));
        a.after = {Chunk("ID3 ", PatternBytes(301, 7), true, true)};
        out.push_back({"id3BehindSsnd", a, 10000, 54 + 40000, int64_t(BuildAiff(a).size())});
        a.frames = 100;
        a.after = {Chunk("COMT", PatternBytes(20, 8), true), Chunk("MARK", Bytes(2, 0), true)};
        out.push_back({"comtAndMarkBehindSsnd", a, 10000, 54 + 40000, int64_t(BuildAiff(a).size())});
    }
    {
        // 8-bit mono, SSND of 1009 bytes and its pad byte.
        AiffLayout a(1, 8, 0, PatternBytes(1001, 9));
        a.ssndPad = true;
        out.push_back({"padByteOfAnOddSsnd", a, 1001, 54 + 1001, 54 + 1002});
    }
    {
        // A partial frame inside SSND cannot be cut with a chunk behind it.
        AiffLayout a(2, 16, 0, PatternBytes(4002, 10));
        a.after = {Chunk("ID3 ", PatternBytes(30, 11), true)};
        out.push_back({"partialFrameInsideSsnd", a, 1000, 54 + 4000, int64_t(BuildAiff(a).size())});
    }
    return out;
}

class AiffRepairs : public ::testing::TestWithParam<Repair> {};

TEST_P(AiffRepairs, SamplesEndWhereTheFileSaysAndLaterScansLeaveThem)
{
    const Repair& r = GetParam();
    const Bytes original = BuildAiff(r.layout);
    TempDir dir;
    std::string p = dir.write("take.aif", original);
    ASSERT_EQ("repaired", ScanOnce(p));
    const Bytes after = ReadFileBytes(p);
    ASSERT_EQ(size_t(r.length), after.size());
    EXPECT_EQ(r.frames, Be32At(after, 22));
    EXPECT_EQ(uint32_t(after.size() - 8), Be32At(after, 4)) << "the FORM covers the file";
    EXPECT_EQ(Slice(original, 54, r.frames * r.layout.channels * ((r.layout.sampleSize + 7) / 8)),
              Slice(after, 54, r.frames * r.layout.channels * ((r.layout.sampleSize + 7) / 8)));
    if (r.keptFrom > 0) {
        EXPECT_EQ(Slice(original, r.keptFrom, original.size() - r.keptFrom),
                  Slice(after, r.keptFrom, after.size() - r.keptFrom))
            << "what follows the samples stays byte for byte";
    }
    EXPECT_EQ("ok", ScanOnce(p));
    EXPECT_EQ(after, ReadFileBytes(p));
}

INSTANTIATE_TEST_SUITE_P(Layouts, AiffRepairs, ::testing::ValuesIn(Repairs()),
                         [](const ::testing::TestParamInfo<Repair>& info) { return std::string(info.param.name); });

}  // namespace
