// The header of a rebuilt take: the sibling's container and format with
// this take's sizes, read back by our own readers; the siblings that are
// refused; the name of the new file.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "rebuild.h"
#include "soundfile.h"
#include "testfiles.h"

namespace {

// An extensible fmt body: 24-bit in 3 bytes, two channels, PCM subformat.
Bytes ExtensibleFmt(uint16_t subformat)
{
    ByteWriter w;
    w.raw(WavFmtBody(0xFFFE, 2, 48000, 24)).u16(22).u16(24).u32(3).u16(subformat).fill(14, 0x20);
    return w.bytes;
}

struct SiblingCase {
    const char* name;
    const char* file;       // its name: the extension picks the reader
    Bytes bytes;
    int32_t container;      // of the rebuilt take
    uint16_t channels;
    uint16_t sampleBytes;
    bool fact;              // a fact chunk in the rebuilt take
};

std::vector<SiblingCase> SiblingCases()
{
    const Bytes bext = Chunk("bext", BextBody(602), false, true);
    const Bytes ixml = Chunk("iXML", Bytes{'<', 'x', '/', '>'});
    AiffLayout aiff(2, 16, 100, PatternBytes(400));
    aiff.before = {Chunk("NAME", Bytes{'t', 'a', 'k', 'e'}, true)};
    AiffLayout sowt(1, 16, 50, PatternBytes(100));
    sowt.compression = "sowt";
    sowt.before = {Chunk("FVER", Be32Bytes(0xA2805140), true)};
    return {
        {"bwf", "S.WAV", BuildWav({bext, FmtChunk(2, 48000, 16), ixml}, PatternBytes(400)), RebuildWav, 2, 2, false},
        {"extensible", "s.wav", BuildWav({Chunk("fmt ", ExtensibleFmt(1))}, PatternBytes(600)), RebuildWav, 2, 3, false},
        {"float", "f.wav", BuildWav({Chunk("fmt ", WavFmtBody(3, 1, 96000, 32)), Chunk("fact", Bytes(4, 0))}, PatternBytes(64)),
         RebuildWav, 1, 4, true},
        {"rf64", "r.wav", BuildWav({Chunk("ds64", Ds64Body(0, 0, 0)), FmtChunk(6, 48000, 24)}, PatternBytes(180), -1, Bytes(),
                                   0xFFFFFFFF, "RF64"),
         RebuildRf64, 6, 3, false},
        {"aiff", "a.aif", BuildAiff(aiff), RebuildAiff, 2, 2, false},
        {"aifc_sowt", "c.aifc", BuildAiff(sowt), RebuildAifc, 1, 2, false},
    };
}

class RebuildSibling : public testing::TestWithParam<SiblingCase> {};

// The rebuilt header opens with our reader: the sibling's format, this
// take's frames, the samples right behind it, none of the sibling's metadata.
TEST_P(RebuildSibling, HeaderReadsBack)
{
    const SiblingCase& c = GetParam();
    TempDir dir;
    RebuildTemplate t;
    ASSERT_EQ(RebuildOk, Rebuild_ReadTemplate(&t, dir.write(c.file, c.bytes).c_str())) << t.reason;
    EXPECT_EQ(c.container, t.container);
    EXPECT_EQ(c.channels, t.layout.channels);
    EXPECT_EQ(c.sampleBytes, t.layout.sampleBytes);
    EXPECT_STREQ(strrchr(c.file, '.'), t.extension);
    for (uint64_t frames : {uint64_t(1), uint64_t(1001)}) {
        RebuildShape shape;
        const uint64_t bytes = frames * t.blockAlign;
        ASSERT_EQ(RebuildOk, Rebuild_BuildHeader(&t, bytes, 0, &shape));
        const Bytes header(shape.header, shape.header + shape.headerLength);
        EXPECT_EQ(shape.totalBytes, shape.headerLength + bytes + shape.padBytes);
        EXPECT_EQ(c.fact, std::string(header.begin(), header.end()).find("fact") != std::string::npos);
        for (const char* id : {"bext", "iXML", "NAME"})
            EXPECT_EQ(std::string::npos, std::string(header.begin(), header.end()).find(id)) << id;
        const std::string path = dir.write("out" + std::string(t.extension),
                                           Cat({header, PatternBytes(size_t(bytes), 5), Bytes(shape.padBytes, 0)}));
        static SoundFile file;
        memset(&file, 0, sizeof(file));
        ASSERT_EQ(0, SoundFile_Open(&file, path.c_str(), SoundFileOpenReadShared));
        ASSERT_TRUE(file.isOpen);
        EXPECT_EQ(int64_t(frames), file.info.frameCount);
        EXPECT_EQ(c.channels, file.info.channels);
        EXPECT_EQ(shape.headerLength, SoundFile_GetDataOffset(&file));
        SoundFileVerdict verdict;
        ASSERT_EQ(0, SoundFile_Examine(&file, &verdict));
        EXPECT_TRUE(verdict.state == SoundVerdictComplete) << "the new header declares every frame: " << verdict.state;
        SoundFile_Close(&file);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RebuildSibling, testing::ValuesIn(SiblingCases()),
                         [](const testing::TestParamInfo<SiblingCase>& info) { return std::string(info.param.name); });

struct BadSiblingCase {
    const char* name;
    const char* file;
    Bytes bytes;
};

class RebuildBadSibling : public testing::TestWithParam<BadSiblingCase> {};

TEST_P(RebuildBadSibling, IsRefusedWithAReason)
{
    TempDir dir;
    RebuildTemplate t;
    const BadSiblingCase& c = GetParam();
    const std::string path = c.file[0] != '\0' ? dir.write(c.file, c.bytes) : dir.file("gone.wav");
    EXPECT_EQ(RebuildBadTemplate, Rebuild_ReadTemplate(&t, path.c_str()));
    EXPECT_NE('\0', t.reason[0]);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RebuildBadSibling,
    testing::Values(BadSiblingCase{"adpcm", "a.wav", BuildWav({Chunk("fmt ", WavFmtBody(2, 1, 8000, 4, 256))}, PatternBytes(512))},
                    BadSiblingCase{"extensible_alaw", "e.wav", BuildWav({Chunk("fmt ", ExtensibleFmt(6))}, PatternBytes(60))},
                    BadSiblingCase{"zeros", "z.wav", Bytes(4096, 0)},
                    BadSiblingCase{"not_a_recording", "n.txt", PatternBytes(100)},
                    BadSiblingCase{"missing", "", Bytes()}),
    [](const testing::TestParamInfo<BadSiblingCase>& info) { return std::string(info.param.name); });

// Past RIFF's 32-bit sizes the take becomes RF64 with ds64; AIFF is refused.
TEST(RebuildHeader, SizesBeyond32Bits)
{
    TempDir dir;
    RebuildTemplate wav, aiff;
    ASSERT_EQ(RebuildOk, Rebuild_ReadTemplate(&wav, dir.write("w.wav", BuildWav({StereoFmt()}, PatternBytes(40))).c_str()));
    ASSERT_EQ(RebuildOk, Rebuild_ReadTemplate(&aiff, dir.write("a.aif", BuildAiff(AiffLayout(2, 16, 10, PatternBytes(40)))).c_str()));
    const uint64_t bytes = 5 * uint64_t(GiB);
    RebuildShape shape;
    ASSERT_EQ(RebuildOk, Rebuild_BuildHeader(&wav, bytes, 0, &shape));
    const Bytes h(shape.header, shape.header + shape.headerLength);
    EXPECT_EQ("RF64", IdAt(h, 0));
    EXPECT_EQ("ds64", IdAt(h, 12));
    EXPECT_EQ(bytes, Le64At(h, 28));
    EXPECT_EQ(bytes / 4, Le64At(h, 36));
    EXPECT_EQ(0xFFFFFFFFu, Le32At(h, h.size() - 4));
    EXPECT_EQ(RebuildRefused, Rebuild_BuildHeader(&aiff, bytes, 0, &shape));
}

struct PathCase {
    const char* take;
    const char* folder;
    const char* extension;
    const char* expected;  // '|' where the platform's separator joins folder and name
};

class RebuildPath : public testing::TestWithParam<PathCase> {};

TEST_P(RebuildPath, NamesTheNewFile)
{
    const PathCase& c = GetParam();
    char out[64];
    ASSERT_EQ(RebuildOk, Rebuild_OutputPath(c.take, c.folder, c.extension, out, sizeof(out)));
    std::string expected = c.expected;
    for (char& ch : expected)
        if (ch == '|')
            ch = PathSep()[0];
    EXPECT_EQ(expected, out);
}

INSTANTIATE_TEST_SUITE_P(Cases, RebuildPath,
                         testing::Values(PathCase{"TAKE7.WAV", nullptr, ".WAV", "TAKE7-rebuilt.WAV"},
                                         PathCase{"card/FILE0000.CHK", nullptr, ".wav", "card/FILE0000-rebuilt.wav"},
                                         PathCase{"card/take.1.wav", "out/", ".aifc", "out|take.1-rebuilt.aifc"},
                                         PathCase{"card/.hidden", "o", ".wav", "o|.hidden-rebuilt.wav"}));

TEST(RebuildHeader, LongPathsAreRefused)
{
    char out[16];
    EXPECT_EQ(RebuildRefused, Rebuild_OutputPath("a-rather-long-take.wav", nullptr, ".wav", out, sizeof(out)));
    EXPECT_STREQ("", out);
}

}  // namespace
