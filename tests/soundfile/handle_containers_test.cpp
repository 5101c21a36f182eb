// The containers of long takes, Wave64 and BW64: where the samples end,
// what a repair writes into their own size fields, and that everything
// else in the file survives it byte for byte.
#include <gtest/gtest.h>

#include <ctype.h>

#include "filefault.h"
#include "scanning.h"
#include "streams.h"

namespace {

struct ContainerCase {
    const char* name;
    const char* file;  // its name: which family a refusal names
    Bytes bytes;
    int32_t container;
    int32_t state;
    int32_t reason;
    int64_t sampleBytes;  // sample bytes the file holds
    int64_t missing;      // missingBytes
};

void PrintTo(const ContainerCase& c, std::ostream* os)
{
    *os << c.name;
}

Bytes Wave64Fmt(uint16_t tag, uint16_t channels, uint16_t bits)
{
    return Wave64Chunk("fmt ", WavFmtBody(tag, channels, 48000, bits));
}

// A Wave64 chunk whose GUID names nothing a reader knows.
Bytes ForeignChunk()
{
    ByteWriter w;
    w.raw(PatternBytes(16, 21)).u64(24 + 5).raw(PatternBytes(5, 22)).fill(3);
    return w.bytes;
}

// What an ADM writer puts before its samples.
Bytes Chna()
{
    ByteWriter w;
    w.u16(2).u16(2).text("ATU_00000001").text("AT_00010001_01").fill(19, 0).text("ATU_00000002");
    return Chunk("chna", w.bytes);
}

Bytes Axml()
{
    const std::string xml = "<ebuCoreMain><coreMetadata><format/></coreMetadata></ebuCoreMain>";
    return Chunk("axml", Bytes(xml.begin(), xml.end()), false, true);
}

// A BW64 file: ds64 (sizes, a dummy, a table of one entry: 40 bytes), chna, fmt, the
// data header holding dataSize, samples, then after.
Bytes Bw64(uint64_t ds64Data, uint32_t dataSize, const Bytes& samples, const Bytes& after = Bytes())
{
    ByteWriter ds64;
    ds64.u64(0).u64(ds64Data).u64(0x0123456789ABCDEFull).u32(1).text("axml").u64(77);
    return BuildWav({Chunk("ds64", ds64.bytes), Chna(), StereoFmt(48000)}, samples, dataSize, after, 0xFFFFFFFF,
                    "BW64");
}

std::vector<ContainerCase> Cases()
{
    const Bytes s = PatternBytes(4000, 2);
    const Bytes odd = Cat({s, PatternBytes(3, 5)});
    const Bytes stereo = Wave64Fmt(1, 2, 16);
    const Bytes mono = Wave64Fmt(1, 1, 16);
    ByteWriter info;
    info.text("INFO").raw(Chunk("ICMT", Bytes{'t', 'a', 'k', 'e', ' ', '9', 0}, false, true));
    const Bytes list = Wave64Chunk("list", info.bytes);
    const Bytes levl = Wave64Chunk("levl", PatternBytes(13, 6));
    const Bytes fact = Wave64Chunk("fact", Bytes(8, 0));
    const int64_t sox = 24;  // the data size sox writes before any sample
    const int W = SoundContainerWave64;
    const int B = SoundContainerBw64;
    return {
        {"Wave64 complete", "a.w64", BuildWave64({stereo}, s), W, SoundVerdictComplete, 0, 4000, 0},
        {"Wave64 as sox leaves it", "a.w64", BuildWave64({stereo}, s, sox, {}, 0), W, SoundVerdictShort,
         SoundReasonNotSet, 4000, 4000},
        {"Wave64 with a partial frame", "a.w64", BuildWave64({stereo}, odd, sox, {}, 0), W, SoundVerdictShort,
         SoundReasonNotSet, 4003, 4003},
        {"Wave64 as ffmpeg leaves it", "a.w64", BuildWave64({stereo}, s, INT64_MAX, {}, int64_t(UINT64_MAX >> 1)),
         W, SoundVerdictShort, SoundReasonPlaceholder, 4000, 4000},
        {"Wave64 data size 0", "a.w64", BuildWave64({stereo}, s, 0, {}, 0), W, SoundVerdictShort, SoundReasonNotSet,
         4000, 4000},
        {"Wave64 stale size, 64-bit fact", "a.w64", BuildWave64({Wave64Fmt(3, 2, 32), fact}, s, 24 + 1000), W,
         SoundVerdictShort, SoundReasonMissing, 4000, 3000},
        {"Wave64 complete, alignment and list behind", "a.w64", BuildWave64({mono}, Slice(odd, 0, 4002), -1, {list}),
         W, SoundVerdictMetadata, 0, 4002, 0},
        {"Wave64 complete, only its alignment behind", "a.w64",
         Cat({BuildWave64({mono}, Slice(odd, 0, 4002)), Bytes(6, 0)}), W, SoundVerdictComplete, 0, 4002, 0},
        {"Wave64 not set, list and levl behind", "a.w64",
         BuildWave64({mono}, Slice(odd, 0, 4002), sox, {list, levl}, 0), W, SoundVerdictShort, SoundReasonNotSet,
         4002, 4002},
        {"Wave64 unknown GUID before fmt is skipped", "a.w64", BuildWave64({ForeignChunk(), stereo}, s, sox), W,
         SoundVerdictShort, SoundReasonNotSet, 4000, 4000},
        {"Wave64 cut short", "a.w64", BuildWave64({stereo}, s, 24 + 8000), W, SoundVerdictCutShort, 0, 4000, 4000},
        {"Wave64 chunk sized below its header", "a.w64",
         BuildWave64({Wave64Head("junk", 8), Bytes(16, 1), stereo}, s), W, SoundVerdictRefused,
         SoundReasonChunkSize, 0, 0},
        {"Wave64 zeros behind fmt", "a.w64", Cat({Wave64File({stereo}), Bytes(64, 0)}), W, SoundVerdictRefused,
         SoundReasonNoDataZeros, 0, 0},
        {"Wave64 named, but RIFF inside", "a.w64", BuildWav({StereoFmt(48000)}, s), SoundContainerWav,
         SoundVerdictComplete, 0, 4000, 0},
        {"Wave64 named, an AIFF inside", "a.w64", FormFile({}), W, SoundVerdictRefused, SoundReasonNotContainer, 0,
         0},
        {"BW64 complete, chna before, axml behind", "a.wav", Bw64(4000, 0xFFFFFFFF, s, Axml()), B,
         SoundVerdictMetadata, 0, 4000, 0},
        {"BW64 interrupted", "a.bw64", Bw64(0, 0xFFFFFFFF, s), B, SoundVerdictShort, SoundReasonNotSet, 4000, 4000},
        {"BW64 interrupted, a partial frame", "a.bw64", Bw64(0, 0xFFFFFFFF, odd), B, SoundVerdictShort,
         SoundReasonNotSet, 4003, 4003},
        {"BW64 interrupted, axml behind", "a.bw64", Bw64(0, 0xFFFFFFFF, s, Axml()), B, SoundVerdictShort,
         SoundReasonNotSet, 4000, 4000},
        {"BW64 stale exact data size", "a.wav", Bw64(0, 1000, s), B, SoundVerdictShort, SoundReasonMissing, 4000,
         3000},
        {"BW64 without ds64", "a.bw64", BuildWav({StereoFmt(48000)}, s, -1, Bytes(), -1, "BW64"), B,
         SoundVerdictRefused, SoundReasonNoDs64, 0, 0},
    };
}

// Header offsets a repair may write: the size fields of each container.
bool SizeField(int32_t container, const Bytes& file, int64_t dataOffset, int64_t at)
{
    if (container == SoundContainerWave64) {
        const bool fact = IdAt(file, 80) == "fact";  // where the cases put it: behind fmt
        return (at >= 16 && at < 24) || (at >= dataOffset - 8 && at < dataOffset) || (fact && at >= 104 && at < 112);
    }
    return (at >= 4 && at < 8) || (at >= 20 && at < 36) || (at >= dataOffset - 4 && at < dataOffset);
}

class Containers : public ::testing::TestWithParam<ContainerCase> {};

TEST_P(Containers, VerdictAndRepairInTheirOwnFields)
{
    const ContainerCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.write(c.file, c.bytes);
    SoundFileVerdict v;
    {
        Handle h;
        SoundFile_Open(h.get(), path.c_str(), SoundFileOpenReadShared);
        ASSERT_EQ(0, SoundFile_Examine(h.get(), &v));
    }
    EXPECT_EQ(c.container, v.container);
    EXPECT_EQ(c.state, v.state);
    EXPECT_EQ(c.reason, v.reason);
    if (c.state != SoundVerdictRefused) {
        EXPECT_EQ(c.sampleBytes, v.sampleBytes);
        EXPECT_EQ(c.missing, v.missingBytes);
    }

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
    const int64_t end = v.samplesEnd < v.fileSize ? v.fileSize : first + whole;
    ASSERT_EQ(size_t(end), after.size()) << "only a partial frame is cut, never what follows the samples";
    EXPECT_EQ(Slice(c.bytes, size_t(first), size_t(end - first)), Slice(after, size_t(first), size_t(end - first)))
        << "the samples and what follows them, byte for byte";
    for (int64_t at = 0; at < first; ++at)
        if (!SizeField(c.container, c.bytes, first, at) && c.bytes[size_t(at)] != after[size_t(at)]) {
            ADD_FAILURE() << "header byte " << at << " is no size field, yet changed";
            break;
        }
    if (c.container == SoundContainerWave64) {
        EXPECT_EQ(uint64_t(after.size()), Le64At(after, 16)) << "riff counts the whole file";
        EXPECT_EQ(uint64_t(whole + 24), Le64At(after, size_t(first - 8))) << "data counts its header";
        if (IdAt(after, 80) == "fact") {
            EXPECT_EQ(uint64_t(whole / v.frameBytes), Le64At(after, 104)) << "fact counts the frames in 64 bits";
        }
    } else {
        EXPECT_EQ("BW64", IdAt(after, 0)) << "BW64 stays BW64";
        EXPECT_EQ(0xFFFFFFFFu, Le32At(after, 4));
        EXPECT_EQ(uint64_t(after.size() - 8), Le64At(after, 20)) << "ds64 holds the sizes";
        EXPECT_EQ(uint64_t(whole), Le64At(after, 28));
        EXPECT_EQ(0xFFFFFFFFu, Le32At(after, size_t(first - 4))) << "the data size sends readers to ds64";
    }

    Handle h;
    ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), SoundFileOpenReadShared));
    SoundFileVerdict again;
    ASSERT_EQ(0, SoundFile_Examine(h.get(), &again));
    EXPECT_EQ(whole, again.declaredBytes) << "the header declares exactly the whole frames";
    EXPECT_EQ(c.container, again.container);
    EXPECT_TRUE(again.state == SoundVerdictComplete || again.state == SoundVerdictMetadata) << again.state;
}

INSTANTIATE_TEST_SUITE_P(Layouts, Containers, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ContainerCase>& info) {
                             std::string n;
                             for (const char* p = info.param.name; *p != '\0'; ++p)
                                 if (isalnum(static_cast<unsigned char>(*p)))
                                     n += *p;
                             return n;
                         });

const int64_t FiveGiB = int64_t(5) << 30;

// Takes past 4 GiB, sparse: the ADM writer's own interrupted RIFF (a 40-byte
// JUNK reservation, then chna), which becomes RF64, and an interrupted BW64,
// which stays BW64. Their chna chunks and the ds64 dummy and table stay.
struct LargeCase {
    const char* name;
    Bytes head;     // up to the first sample byte
    const char* form;
};

TEST(ContainersLarge, PastFourGigabytesTheSizesGoIntoDs64)
{
    ByteWriter bw64ds64;
    bw64ds64.u64(0).u64(0).u64(0x0123456789ABCDEFull).u32(1).text("axml").u64(77);
    const LargeCase cases[] = {
        {"ADM writer, JUNK of 40", BuildWav({Chunk("JUNK", Bytes(40, 0)), StereoFmt(48000), Chna()}, Bytes(), 0),
         "RF64"},
        {"BW64", BuildWav({Chunk("ds64", bw64ds64.bytes), Chna(), StereoFmt(48000)}, Bytes(), 0xFFFFFFFF, Bytes(),
                          0xFFFFFFFF, "BW64"),
         "BW64"},
    };
    for (const LargeCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file("take.wav");
        const int64_t end = int64_t(c.head.size()) + FiveGiB;
        ASSERT_TRUE(WriteSparse(path, c.head, end + 3));
        const Bytes tail = PatternBytes(64, 9);
        ASSERT_TRUE(WriteAt(path, end - 64, tail));
        ASSERT_EQ("repaired", ScanOnce(path));
        EXPECT_EQ(end, FileLength(path));
        const Bytes got = ReadAt(path, 0, c.head.size());
        EXPECT_EQ(c.form, IdAt(got, 0));
        EXPECT_EQ(0xFFFFFFFFu, Le32At(got, 4));
        EXPECT_EQ("ds64", IdAt(got, 12));
        EXPECT_EQ(40u, Le32At(got, 16));
        EXPECT_EQ(uint64_t(end - 8), Le64At(got, 20));
        EXPECT_EQ(uint64_t(FiveGiB), Le64At(got, 28));
        if (std::string(c.form) == "BW64") {
            EXPECT_EQ(Slice(c.head, 36, 24), Slice(got, 36, 24)) << "the dummy and the table stay";
        }
        EXPECT_EQ(Slice(c.head, 60, c.head.size() - 64), Slice(got, 60, got.size() - 64)) << "chna and fmt stay";
        EXPECT_EQ(0xFFFFFFFFu, Le32At(got, got.size() - 4));
        EXPECT_EQ(tail, ReadAt(path, end - 64, 64)) << "the last whole frames are kept";
        Handle h;
        ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), SoundFileOpenReadShared));
        EXPECT_EQ(FiveGiB, h->info.dataBytes);
    }
}

// Below 4 GiB the ADM writer's take keeps its RIFF form and its reservation.
TEST(ContainersLarge, AdmTakeBelowFourGigabytesStaysRiff)
{
    TempDir dir;
    const Bytes head = BuildWav({Chunk("JUNK", Bytes(40, 0)), StereoFmt(48000), Chna()}, Bytes(), 0);
    const Bytes samples = PatternBytes(4002, 3);
    const std::string path = dir.write("take.wav", Cat({head, samples}));
    ASSERT_EQ("repaired", ScanOnce(path));
    const Bytes got = ReadFileBytes(path);
    ASSERT_EQ(head.size() + 4000, got.size());
    EXPECT_EQ("RIFF", IdAt(got, 0));
    EXPECT_EQ(uint32_t(got.size() - 8), Le32At(got, 4));
    EXPECT_EQ(Slice(head, 8, head.size() - 12), Slice(got, 8, head.size() - 12)) << "JUNK, fmt and chna stay";
    EXPECT_EQ(4000u, Le32At(got, head.size() - 4));
}

}  // namespace
