// Repaired files read back sample-exact in readers we did not write: sox and
// Python's wave module for every whole frame, sndfile-info for the 64-bit
// headers of files too large to decode in a test.
#include <gtest/gtest.h>

#include <string.h>

#include "soundfile.h"
#include "streams.h"

#ifndef _WIN32

namespace {

// 00000001-0000-0010-8000-00aa00389b71, integer PCM.
Bytes ExtensibleFmtBody(uint16_t channels, uint32_t rate, uint16_t bits)
{
    ByteWriter w;
    w.raw(WavFmtBody(0xFFFE, channels, rate, bits)).u16(22).u16(bits).u32(channels == 2 ? 3 : 4);
    w.raw(Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    return w.bytes;
}

struct Layout {
    const char* name;
    Bytes head;        // everything before the samples
    uint32_t frameSize;
    bool pcm;          // Python's wave reads it
    bool float32;      // IEEE float samples
};

std::vector<Layout> Layouts()
{
    Bytes fmt16 = StereoFmt();
    Bytes bext = Chunk("bext", BextBody(603), false, true);
    Bytes list = Chunk("LIST", PatternBytes(27), false, true);
    return {
        {"16-bit stereo", RiffFile({fmt16, ChunkHead("data", 0)}), 4, true, false},
        {"8-bit mono", RiffFile({FmtChunk(1, 8000, 8), ChunkHead("data", 0)}), 1, true, false},
        {"24-bit stereo", RiffFile({FmtChunk(2, 48000, 24), ChunkHead("data", 0)}), 6, true, false},
        {"float stereo", RiffFile({Chunk("fmt ", WavFmtBody(3, 2, 96000, 32)), ChunkHead("data", 0)}), 8, false, true},
        {"extensible 24-bit", RiffFile({Chunk("fmt ", ExtensibleFmtBody(2, 48000, 24)), ChunkHead("data", 0)}), 6, false, false},
        {"broadcast wave", RiffFile({bext, fmt16, list, ChunkHead("data", 0)}), 4, true, false},
        {"placeholder size", RiffFile({Chunk("JUNK", Bytes(28)), fmt16, ChunkHead("data", 0xFFFFFFFF)}), 4, true, false},
        {"rf64", RiffFile({Chunk("ds64", Ds64Body(0, 0, 0)), fmt16, ChunkHead("data", 0xFFFFFFFF)}, 0xFFFFFFFF, "RF64"), 4,
         true, false},
        {"rf64 with table", RiffFile({Chunk("ds64", Ds64Body(0, 0, 0, 12)), fmt16, ChunkHead("data", 0xFFFFFFFF)}, 0xFFFFFFFF,
                                     "RF64"),
         4, true, false},
    };
}

// Float samples of the form k / 2^15: exact through any reader's conversions.
Bytes FloatSamples(size_t count)
{
    Bytes raw = PatternBytes(count * 2, 6);
    ByteWriter w;
    for (size_t i = 0; i < count; ++i) {
        float v = float(int16_t(raw[2 * i] | (raw[2 * i + 1] << 8))) / 32768.0f;
        uint32_t bits;
        memcpy(&bits, &v, 4);
        w.u32(bits);
    }
    return w.bytes;
}

TEST(WavReadback, EveryWholeFrameReadsBack)
{
    bool sox = Have("sox --version");
    bool python = HavePython("wave");
    if (!sox && !python)
        GTEST_SKIP() << "neither sox nor python3 is installed";
    TempDir dir;
    std::vector<Layout> layouts = Layouts();
    std::vector<std::string> paths, pcmPaths;
    std::vector<Bytes> expected;
    for (size_t i = 0; i < layouts.size(); ++i) {
        const Layout& l = layouts[i];
        SCOPED_TRACE(l.name);
        const size_t whole = size_t(l.frameSize) * 12345;
        Bytes samples = l.float32 ? FloatSamples(whole / 4) : PatternBytes(whole, 5);
        samples.resize(whole + l.frameSize - 1, 0x5C);  // a partial last frame
        std::string path = dir.write("take" + std::to_string(i) + ".wav", Cat({l.head, samples}));
        SoundFile file{};
        ASSERT_EQ(0, SoundFile_Open(&file, path.c_str(), 1));
        ASSERT_EQ(0, SoundFile_Repair(&file));
        ASSERT_EQ(0, SoundFile_Close(&file));
        paths.push_back(path);
        if (l.pcm)
            pcmPaths.push_back(path);
        expected.emplace_back(samples.begin(), samples.begin() + long(whole));
    }
    if (python) {
        ASSERT_TRUE(PythonFrames("wave", pcmPaths)) << "wave refused a repaired file";
    }
    for (size_t i = 0; i < layouts.size(); ++i) {
        SCOPED_TRACE(layouts[i].name);
        if (sox) {
            bool ok = false;
            Bytes got = SoxRaw(paths[i], "", &ok);
            ASSERT_TRUE(ok) << "sox refused the repaired file";
            EXPECT_TRUE(expected[i] == got) << "sox read " << got.size() << " bytes";
        }
        if (python && layouts[i].pcm) {
            Bytes got = ReadFileBytes(paths[i] + ".raw");
            EXPECT_TRUE(expected[i] == got) << "wave read " << got.size() << " bytes";
        }
    }
}

// Frames that sndfile-info reports, -1 when it refuses the file.
int64_t SndfileFrames(const std::string& path)
{
    bool ok = false;
    Bytes bytes = RunCommand("sndfile-info " + Quoted(path) + " 2>&1", &ok);
    std::string out(bytes.begin(), bytes.end());
    size_t at = out.rfind("\nFrames");
    if (!ok || at == std::string::npos)
        return -1;
    at = out.find(':', at);
    return at == std::string::npos ? -1 : std::stoll(out.substr(at + 1));
}

TEST(WavReadback, LargeHeadersReadByAnotherReader)
{
    if (!Have("command -v sndfile-info"))
        GTEST_SKIP() << "sndfile-info is not installed";
    const int64_t fiveGiB = 5 * GiB;
    Bytes rf64 = RiffFile({Chunk("ds64", Ds64Body(0, 0, 0)), StereoFmt(), ChunkHead("data", 0xFFFFFFFF)}, 0xFFFFFFFF, "RF64");
    Bytes junk = RiffFile({Chunk("JUNK", Bytes(28)), Chunk("bext", BextBody(602)), StereoFmt(), ChunkHead("data", 0)});
    Bytes small = RiffFile({Chunk("ds64", Ds64Body(0, 0, 0, 12)), StereoFmt(), ChunkHead("data", 0xFFFFFFFF)}, 0xFFFFFFFF,
                           "RF64");
    struct Case {
        const char* name;
        Bytes head;
        int64_t samples;
    };
    for (const Case& c : {Case{"rf64", rf64, fiveGiB + 3}, Case{"junk reservation", junk, fiveGiB + 1},
                          Case{"rf64 repaired small", small, 4 * 1000 * 1000 + 2}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string path = dir.file("big.wav");
        ASSERT_TRUE(WriteSparse(path, c.head, int64_t(c.head.size()) + c.samples));
        SoundFile file{};
        ASSERT_EQ(0, SoundFile_Open(&file, path.c_str(), 1));
        ASSERT_EQ(0, SoundFile_Repair(&file));
        ASSERT_EQ(0, SoundFile_Close(&file));
        EXPECT_EQ(c.samples / 4, SndfileFrames(path));
    }
}

}  // namespace

#endif
