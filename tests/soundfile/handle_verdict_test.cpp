// The one examination: where the samples end in every layout, what the
// header is said to lack, and that a repair by the verdict declares exactly
// those samples and keeps what follows them byte for byte.
#include <gtest/gtest.h>

#include <ctype.h>

#include "chunks.h"
#include "filefault.h"
#include "scanning.h"
#include "streams.h"

namespace {

struct VerdictCase {
    const char* name;
    const char* file;   // its name: the reader
    Bytes bytes;
    int32_t state;
    int32_t reason;
    int64_t sampleBytes;  // sample bytes the file holds
    int64_t missing = 0;  // missingBytes
};

void PrintTo(const VerdictCase& c, std::ostream* os)
{
    *os << c.name;
}

Bytes Mono8Fmt()
{
    return FmtChunk(1, 8000, 8);
}

Bytes ListChunk(const std::string& text)
{
    ByteWriter info;
    info.text("INFO").raw(Chunk("ICMT", Bytes(text.begin(), text.end()), false, true));
    return Chunk("LIST", info.bytes);
}

// Sample bytes holding an id and a size at frame boundaries that form no
// chunk sequence to the end of the file.
Bytes ChunkLikeAudio(size_t n, size_t at, uint32_t size)
{
    Bytes b = PatternBytes(n, 4);
    ByteWriter w;
    w.text("LIST").u32(size);
    std::copy(w.bytes.begin(), w.bytes.end(), b.begin() + long(at));
    return b;
}

AiffLayout UnsetAiff(const std::vector<Bytes>& after)
{
    AiffLayout a(2, 16, 0, PatternBytes(4000, 8));
    a.ssndSize = 0;
    a.formSize = 0;
    a.after = after;
    return a;
}

std::vector<VerdictCase> Cases()
{
    const Bytes s = PatternBytes(4000, 2);
    const Bytes fmt = StereoFmt(48000);
    const Bytes list = ListChunk("take 3");
    const Bytes odd = PatternBytes(1001, 3);
    const Bytes fact = Chunk("fact", Bytes{0xF9, 0x01, 0, 0});
    ByteWriter extPcm;
    extPcm.raw(WavFmtBody(0xFFFE, 2, 48000, 16)).u16(22).u16(16).u32(3).u32(1).fill(12, 0x11);
    ByteWriter extOther;
    extOther.raw(WavFmtBody(0xFFFE, 2, 48000, 16)).u16(22).u16(16).u32(3).u32(0x1234).fill(12, 0x11);
    std::vector<VerdictCase> c = {
        {"complete", "a.wav", BuildWav({fmt}, s), SoundVerdictComplete, 0, 4000},
        {"LIST behind", "a.wav", BuildWav({fmt}, s, -1, list), SoundVerdictMetadata, 0, 4000},
        {"LIST and a tag stub behind", "a.wav", BuildWav({fmt}, s, -1, Cat({list, Bytes{'i', 'd', '3', ' '}})),
         SoundVerdictMetadata, 0, 4000},
        {"unknown chunk and garbage behind: samples", "a.wav",
         BuildWav({fmt}, s, -1, Cat({Chunk("zzzz", PatternBytes(8)), Bytes{1, 2, 3}})), SoundVerdictShort,
         SoundReasonMissing, 4019, 19},
        {"pad byte alone behind odd data", "a.wav", RiffFile({Mono8Fmt(), Chunk("data", odd, false, true)}),
         SoundVerdictComplete, 0, 1001},
        {"not set, LIST behind", "a.wav", BuildWav({fmt}, s, 0, list), SoundVerdictShort, SoundReasonNotSet, 4000,
         4000},
        {"not set, odd samples, pad, LIST", "a.wav", BuildWav({Mono8Fmt()}, odd, 0, Cat({Bytes(1, 0), list})),
         SoundVerdictShort, SoundReasonNotSet, 1001, 1001},
        {"not set, odd samples, LIST without the pad", "a.wav", BuildWav({Mono8Fmt()}, odd, 0, list),
         SoundVerdictShort, SoundReasonNotSet, 1001, 1001},
        {"short, cue and LIST behind", "a.wav", BuildWav({fmt}, s, 1000, Cat({Chunk("cue ", Bytes(4, 0)), list})),
         SoundVerdictShort, SoundReasonMissing, 4000, 3000},
        {"sox placeholder", "a.wav", BuildWav({fmt}, s, 0x7FFFF000), SoundVerdictShort, SoundReasonPlaceholder, 4000,
         4000},
        {"sox placeholder, 24-bit stereo", "a.wav", BuildWav({FmtChunk(2, 48000, 24)}, Slice(s, 0, 3996), 0x7FFFEFFC),
         SoundVerdictShort, SoundReasonPlaceholder, 3996, 3996},
        {"RIFF size maxed, data size the rest", "a.wav", BuildWav({fmt}, s, 0xFFFFFFFF - 36), SoundVerdictShort,
         SoundReasonPlaceholder, 4000, 4000},
        {"placeholder with a trailer", "a.wav", BuildWav({fmt}, s, 0x7FFFFFFF, list), SoundVerdictShort,
         SoundReasonPlaceholder, 4000, 4000},
        {"a real size beyond the file", "a.wav", BuildWav({fmt}, s, 0xFFFFFFFE), SoundVerdictCutShort, 0, 4000,
         0xFFFFFFFE - 4000},
        {"cut short", "a.wav", BuildWav({fmt}, s, 8000), SoundVerdictCutShort, 0, 4000, 4000},
        {"chunk-like audio at a frame boundary", "a.wav", BuildWav({fmt}, ChunkLikeAudio(4000, 400, 40), 0),
         SoundVerdictShort, SoundReasonNotSet, 4000, 4000},
        {"chunk-like audio off the frames, reaching the end", "a.wav",
         BuildWav({fmt}, ChunkLikeAudio(4000, 3898, 94), 0), SoundVerdictShort, SoundReasonNotSet, 4000, 4000},
        {"an unknown id at a frame boundary, reaching the end", "a.wav",
         BuildWav({fmt}, s, 0, Chunk("abcd", PatternBytes(12))), SoundVerdictShort, SoundReasonNotSet, 4020, 4020},
        {"nothing but a LIST behind the header", "a.wav", BuildWav({fmt}, Bytes(), 0, list), SoundVerdictMetadata, 0,
         0},
        {"header only", "a.wav", BuildWav({fmt}, Bytes(), 0), SoundVerdictNoSamples, 0, 0},
        {"extensible PCM, not set", "a.wav", BuildWav({Chunk("fmt ", extPcm.bytes)}, s, 0), SoundVerdictShort,
         SoundReasonNotSet, 4000, 4000},
        {"extensible of an unknown sub-format", "a.wav", BuildWav({Chunk("fmt ", extOther.bytes)}, s, 0),
         SoundVerdictRefused, SoundReasonCompressed, 4000},
        {"IMA ADPCM", "a.wav", BuildWav({Chunk("fmt ", WavFmtBody(0x11, 1, 8000, 4, 256)), fact}, PatternBytes(512)),
         SoundVerdictRefused, SoundReasonCompressed, 512},
        {"MP3 ending at the end of the file", "a.wav",
         BuildWav({Chunk("fmt ", WavFmtBody(0x55, 1, 8000, 0, 1152))}, PatternBytes(1856)), SoundVerdictRefused,
         SoundReasonCompressed, 1856},
        {"A-law, not set", "a.wav", BuildWav({Chunk("fmt ", WavFmtBody(6, 1, 8000, 8))}, odd, 0), SoundVerdictShort,
         SoundReasonNotSet, 1001, 1001},
        {"AIFF never sized, COMT and MARK behind", "a.aif",
         BuildAiff(UnsetAiff({Chunk("COMT", PatternBytes(9, 3), true, true), Chunk("MARK", Bytes(2, 0), true)})),
         SoundVerdictShort, SoundReasonNotSet, 4000, 4000},
        {"AIFF sox placeholder", "a.aif", [] {
             AiffLayout a(2, 16, 0x1FC00000, PatternBytes(4002, 9));
             a.ssndSize = 0x7F000008;
             return BuildAiff(a);
         }(), SoundVerdictShort, SoundReasonPlaceholder, 4002, 4002},
        {"AIFF complete, ANNO behind", "a.aif", [] {
             AiffLayout a(2, 16, 1000, PatternBytes(4000, 9));
             a.after = {Chunk("ANNO", Bytes(10, 'a'), true)};
             return BuildAiff(a);
         }(), SoundVerdictMetadata, 0, 4000},
        {"AIFF padded to its block size", "a.aif", [] {
             AiffLayout a(2, 16, 1000, PatternBytes(4000, 9));
             a.blockSize = 4096;
             Bytes b = BuildAiff(a);
             b.resize(4096, 0);
             return b;
         }(), SoundVerdictComplete, 0, 4000},
    };
    return c;
}

class Verdicts : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(Verdicts, SamplesEndWhereTheVerdictSaysAndTheRepairKeepsTheRest)
{
    const VerdictCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.write(c.file, c.bytes);
    SoundFileVerdict v;
    {
        Handle h;
        SoundFile_Open(h.get(), path.c_str(), SoundFileOpenReadShared);
        ASSERT_EQ(0, SoundFile_Examine(h.get(), &v));
    }
    EXPECT_EQ(c.state, v.state);
    EXPECT_EQ(c.reason, v.reason);
    EXPECT_EQ(c.sampleBytes, v.sampleBytes);
    EXPECT_EQ(c.missing, v.missingBytes);
    EXPECT_EQ(c.bytes, ReadFileBytes(path)) << "an examination changes nothing";

    const std::string outcome = ScanOnce(path);
    const Bytes after = ReadFileBytes(path);
    if (c.state != SoundVerdictShort) {
        EXPECT_EQ(c.state == SoundVerdictRefused ? "skipped" : "ok", outcome);
        EXPECT_EQ(c.bytes, after) << "left as it is";
        return;
    }
    ASSERT_EQ("repaired", outcome);
    const int64_t first = v.dataOffset;
    const int64_t whole = v.repairBytes;
    EXPECT_EQ(Slice(c.bytes, size_t(first), size_t(whole)), Slice(after, size_t(first), size_t(whole)))
        << "every whole frame where it was";
    if (v.samplesEnd < v.fileSize) {
        // Metadata behind: nothing cut, and it stays byte for byte.
        ASSERT_EQ(c.bytes.size(), after.size());
        EXPECT_EQ(Slice(c.bytes, size_t(v.samplesEnd), c.bytes.size() - size_t(v.samplesEnd)),
                  Slice(after, size_t(v.samplesEnd), after.size() - size_t(v.samplesEnd)));
    }
    Handle h;
    ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), SoundFileOpenReadShared));
    SoundFileVerdict again;
    ASSERT_EQ(0, SoundFile_Examine(h.get(), &again));
    EXPECT_EQ(whole, again.declaredBytes) << "the header declares exactly the whole frames";
    EXPECT_TRUE(again.state == SoundVerdictComplete || again.state == SoundVerdictMetadata) << again.state;
    if (c.file[2] == 'a') {
        const AiffStream& a = h->aiff;
        const int64_t ssndBody = int64_t(a.dataOffset) - a.ssndOffset - 8;
        EXPECT_EQ(int64_t(a.ssndChunkSize), int64_t(a.ssndOffset) + 8 + whole) << "SSND size agrees with COMM";
        EXPECT_EQ(int64_t(Be32At(after, 4)) + 8, int64_t(after.size())) << "FORM covers the file" << ssndBody;
    } else if (IdAt(after, 0) == "RIFF") {
        EXPECT_EQ(int64_t(Le32At(after, 4)) + 8, int64_t(after.size())) << "RIFF covers the file";
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, Verdicts, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<VerdictCase>& info) {
                             std::string n;
                             for (const char* p = info.param.name; *p != '\0'; ++p)
                                 if (isalnum(static_cast<unsigned char>(*p)))
                                     n += *p;
                             return n;
                         });

// A WAV whose bytes behind fmt were never written: refused at the first
// zero id, within the open's one read, whatever the file's length.
TEST(VerdictZeros, RefusedAtOnce)
{
    TempDir dir;
    const std::string path = dir.file("zeros.wav");
    ASSERT_TRUE(WriteSparse(path, RiffFile({StereoFmt(48000)}), 16 << 20));
    FaultGuard guard;
    Handle h;
    SoundFile_Open(h.get(), path.c_str(), SoundFileOpenReadShared);
    SoundFileVerdict v;
    ASSERT_EQ(0, SoundFile_Examine(h.get(), &v));
    EXPECT_EQ(SoundVerdictRefused, v.state);
    EXPECT_EQ(SoundReasonNoDataZeros, v.reason);
    EXPECT_EQ(36u, v.refusal.pos);
    EXPECT_LT(FileFault_Count(FileFaultRead), 10u);
}

// A trailer past the search's reach is taken for samples, as before the
// search: the limit the code states.
TEST(VerdictTrailer, BeyondTheSearchIsSamples)
{
    TempDir dir;
    const Bytes big = Chunk("iXML", Bytes(ChunkTrailerSearchBytes + 16, 'x'));
    const std::string path = dir.write("far.wav", BuildWav({StereoFmt(48000)}, PatternBytes(4000), 0, big));
    Handle h;
    SoundFile_Open(h.get(), path.c_str(), SoundFileOpenReadShared);
    SoundFileVerdict v;
    ASSERT_EQ(0, SoundFile_Examine(h.get(), &v));
    EXPECT_EQ(SoundVerdictShort, v.state);
    EXPECT_EQ(v.fileSize, v.samplesEnd);
}

}  // namespace
