// Opening AIFF files: the chunk walk, the COMM fields, the 80-bit sample
// rate, where the samples begin, and every refusal.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include "filefault.h"
#include "streams.h"

namespace {

Bytes RateBytes(std::initializer_list<uint8_t> b)
{
    return Bytes(b);
}

// The next bytes at the stream's file pointer.
Bytes BytesAtPointer(const AiffStream& s, uint32_t n)
{
    Bytes b(n);
    if (!File_ReadExact(s.handle, b.data(), n))
        return Bytes();
    return b;
}

TEST(AiffOpen, PlainFileFillsTheStream)
{
    TempDir dir;
    AiffLayout layout;
    layout.frames = 100;
    layout.samples = PatternBytes(400);
    std::string p = dir.write("take.aif", BuildAiff(layout));
    ScopedAiff a;
    ASSERT_EQ(AiffOpenOk, a.open(p));
    const AiffStream& s = a.s;
    EXPECT_STREQ(p.c_str(), s.path);
    EXPECT_NE(FileHandleNone, s.handle);
    EXPECT_EQ(1, s.formatTag);
    EXPECT_EQ(2, s.channels);
    EXPECT_EQ(44100u, s.sampleRate);
    EXPECT_EQ(176400u, s.bytesPerSecond);
    EXPECT_EQ(4, s.blockAlign);
    EXPECT_EQ(16, s.bitsPerSample);
    EXPECT_EQ(0, s.extraFormatBytes);
    EXPECT_EQ(100u, s.commSampleFrames);
    EXPECT_EQ(16, s.commSampleSize);
    EXPECT_EQ(0, memcmp(s.commSampleRate, Extended80(44100).data(), 10));
    EXPECT_EQ(44100.0, s.sampleRateDouble);
    EXPECT_EQ(0u, s.ssndOffset);
    EXPECT_EQ(0u, s.ssndBlockSize);
    EXPECT_EQ(408u, s.ssndChunkSize);
    EXPECT_EQ(20u, s.commOffset);
    EXPECT_EQ(54u, s.dataOffset);
    EXPECT_EQ(100, s.frameCount);
    EXPECT_EQ(400, s.dataBytes);
    EXPECT_EQ(0, s.readPos);
    EXPECT_EQ(0, s.writePos);
    EXPECT_EQ(454, s.fileSize);
    EXPECT_EQ(0, s.headerDirty);
    EXPECT_EQ(1, s.filePosState);
    EXPECT_TRUE(s.readFrames == AiffStream_ReadFrames);
    EXPECT_TRUE(s.writeBytes == AiffStream_WriteBytes);
    EXPECT_EQ(Slice(layout.samples, 0, 8), BytesAtPointer(s, 8)) << "the file pointer sits at the first sample";
}

TEST(AiffOpen, OpenNeverWritesOrCreates)
{
    TempDir dir;
    AiffLayout layout;
    layout.frames = 10;
    layout.samples = PatternBytes(40);
    Bytes file = BuildAiff(layout);
    std::string p = dir.write("take.aiff", file);
    for (int32_t flag : {1, 0x20, 0}) {
        ScopedAiff a;
        ASSERT_EQ(AiffOpenOk, a.open(p, flag)) << flag;
        EXPECT_EQ(0, AiffStream_Close(&a.s));
        EXPECT_EQ(FileHandleNone, a.s.handle);
        EXPECT_EQ(file, ReadFileBytes(p));
    }
    std::string missing = dir.file("missing.aif");
    ScopedAiff a;
    EXPECT_EQ(AiffOpenCannotOpen, a.open(missing, 1));
    EXPECT_EQ(FileHandleNone, a.s.handle);
    EXPECT_EQ(-1, FileLength(missing)) << "a scan must never create a file";
}

struct RateCase {
    Bytes bytes;
    double value;
    uint32_t rate;
};

TEST(AiffOpen, SampleRateEncodings)
{
    const double inf = HUGE_VAL;
    std::vector<RateCase> cases = {
        {RateBytes({0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}), 44100.0, 44100},
        {RateBytes({0x40, 0x0E, 0xBB, 0x80, 0, 0, 0, 0, 0, 0}), 48000.0, 48000},
        {RateBytes({0x40, 0x0D, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}), 22050.0, 22050},
        {RateBytes({0x40, 0x0B, 0xFA, 0x00, 0, 0, 0, 0, 0, 0}), 8000.0, 8000},
        {RateBytes({0x3F, 0xFF, 0x80, 0x00, 0, 0, 0, 0, 0, 0}), 1.0, 1},
        {Extended80(96000), 96000.0, 96000},
        {Extended80(192000), 192000.0, 192000},
        {RateBytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0.0, 0},
        {RateBytes({0x7F, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}), inf, 0},
        {RateBytes({0xFF, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}), -inf, 0},
        {RateBytes({0xC0, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}), -44100.0, 0xFFFF53BCu},
        // 44100.5: the fraction is truncated.
        {RateBytes({0x40, 0x0E, 0xAC, 0x44, 0x80, 0, 0, 0, 0, 0}), 44100.5, 44100},
        // 2^40 + 5: only the low 32 bits of the whole rate are kept.
        {RateBytes({0x40, 0x27, 0x80, 0, 0, 0, 0x02, 0x80, 0, 0}), 1099511627781.0, 5},
        // 2^70: beyond 64 bits.
        {RateBytes({0x40, 0x45, 0x80, 0, 0, 0, 0, 0, 0, 0}), ldexp(1.0, 70), 0},
        // 2^63: just beyond the signed 64-bit range.
        {RateBytes({0x40, 0x3E, 0x80, 0, 0, 0, 0, 0, 0, 1}), ldexp(1.0, 63), 0},
        // An exponent of 0 with a mantissa: a denormal that is 0 as a double.
        {RateBytes({0x00, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0}), 0.0, 0},
    };
    TempDir dir;
    int i = 0;
    for (const RateCase& c : cases) {
        SCOPED_TRACE(i);
        double d = Extended80_ToDouble(c.bytes.data());
        if (isinf(c.value))
            EXPECT_TRUE(isinf(d) && (d > 0) == (c.value > 0));
        else
            EXPECT_EQ(c.value, d);
        AiffLayout layout;
        layout.rate = c.bytes;
        std::string p = dir.write("r" + std::to_string(i++) + ".aif", BuildAiff(layout));
        ScopedAiff a;
        ASSERT_EQ(AiffOpenOk, a.open(p));
        EXPECT_EQ(c.rate, a.s.sampleRate);
        EXPECT_EQ(0, memcmp(a.s.commSampleRate, c.bytes.data(), 10));
        EXPECT_EQ(uint32_t(4u * c.rate), a.s.bytesPerSecond);
    }
    // Not-a-number encodings read as infinity; the rate is 0.
    Bytes nan = RateBytes({0x7F, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(isinf(Extended80_ToDouble(nan.data())));
}

TEST(AiffOpen, SampleSizesGiveWholeBytesPerFrame)
{
    struct Case {
        int16_t channels;
        int16_t bits;
        uint16_t blockAlign;
    };
    const Case cases[] = {
        {1, 8, 1}, {2, 8, 2}, {1, 12, 2}, {2, 16, 4}, {1, 20, 3}, {2, 24, 6}, {1, 24, 3},
        {2, 32, 8}, {1, 1, 1}, {6, 24, 18}, {32767, 16, 65534},
    };
    TempDir dir;
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(i);
        AiffLayout layout;
        layout.channels = c.channels;
        layout.sampleSize = c.bits;
        layout.frames = 3;
        layout.samples = PatternBytes(3u * c.blockAlign);
        std::string p = dir.write("s" + std::to_string(i++) + ".aif", BuildAiff(layout));
        ScopedAiff a;
        ASSERT_EQ(AiffOpenOk, a.open(p));
        EXPECT_EQ(c.blockAlign, a.s.blockAlign);
        EXPECT_EQ(uint16_t(c.bits), a.s.bitsPerSample);
        EXPECT_EQ(uint16_t(c.channels), a.s.channels);
        EXPECT_EQ(3 * int64_t(c.blockAlign), a.s.dataBytes);
        EXPECT_EQ(uint32_t(c.blockAlign) * 44100u, a.s.bytesPerSecond);
    }
}

TEST(AiffOpen, ChunksAroundCommAreCountedIntoTheDataOffset)
{
    TempDir dir;
    AiffLayout layout;
    layout.frames = 2;
    layout.samples = PatternBytes(8);
    layout.between = {Chunk("NAME", Bytes(10, 'n'), true)};
    ScopedAiff a;
    ASSERT_EQ(AiffOpenOk, a.open(dir.write("name.aif", BuildAiff(layout))));
    EXPECT_EQ(20u, a.s.commOffset);
    EXPECT_EQ(72u, a.s.dataOffset);
    EXPECT_EQ(layout.samples, BytesAtPointer(a.s, 8));

    layout.before = {Chunk("FVER", Be32Bytes(0xA2805140), true), Chunk("ANNO", Bytes(6, 'a'), true)};
    layout.between = {Chunk("NAME", Bytes(10, 'n'), true), Chunk("AUTH", Bytes(4, 'x'), true),
                    Chunk("MARK", Bytes(2, 0), true), Chunk("(c) ", Bytes(8, 'c'), true),
                    Chunk("APPL", Bytes(0), true)};
    ScopedAiff b;
    ASSERT_EQ(AiffOpenOk, b.open(dir.write("many.aif", BuildAiff(layout))));
    EXPECT_EQ(20u + 12 + 14, b.s.commOffset);
    EXPECT_EQ(46u + 18 + (18 + 12 + 10 + 16 + 8) + 16, b.s.dataOffset);
    EXPECT_EQ(layout.samples, BytesAtPointer(b.s, 8));
}

// AIFF pads odd-sized chunks; some writers leave the pad out. Both open.
TEST(AiffOpen, OddChunksWithAndWithoutPad)
{
    TempDir dir;
    int i = 0;
    for (bool pad : {true, false}) {
        for (bool beforeComm : {true, false}) {
            SCOPED_TRACE(std::to_string(pad) + std::to_string(beforeComm));
            AiffLayout layout;
            layout.frames = 2;
            layout.samples = PatternBytes(8);
            Bytes odd = Chunk("NAME", Bytes(7, 'n'), true, pad);
            (beforeComm ? layout.before : layout.between).push_back(odd);
            (beforeComm ? layout.before : layout.between).push_back(Chunk("ANNO", Bytes(3, 'a'), true, pad));
            ScopedAiff a;
            ASSERT_EQ(AiffOpenOk, a.open(dir.write("odd" + std::to_string(i++) + ".aif", BuildAiff(layout))));
            uint32_t chunkBytes = pad ? 16 + 12 : 15 + 11;
            EXPECT_EQ(beforeComm ? 20 + chunkBytes : 20u, a.s.commOffset);
            EXPECT_EQ(54u + chunkBytes, a.s.dataOffset);
            EXPECT_EQ(2, a.s.frameCount);
            EXPECT_EQ(layout.samples, BytesAtPointer(a.s, 8));
        }
    }
}

TEST(AiffOpen, SsndOffsetAndBlockSize)
{
    TempDir dir;
    AiffLayout layout;
    layout.frames = 4;
    layout.samples = PatternBytes(16);
    layout.ssndOffset = 4;
    layout.blockSize = 4096;
    ScopedAiff a;
    ASSERT_EQ(AiffOpenOk, a.open(dir.write("off.aif", BuildAiff(layout))));
    EXPECT_EQ(58u, a.s.dataOffset);
    EXPECT_EQ(4u, a.s.ssndOffset);
    EXPECT_EQ(4096u, a.s.ssndBlockSize);
    EXPECT_EQ(8u + 4 + 16, a.s.ssndChunkSize);
    EXPECT_EQ(layout.samples, BytesAtPointer(a.s, 16));

    // An unfinished recording may declare an SSND of 8 bytes while its
    // offset points behind them: the data offset follows the offset.
    layout.ssndSize = 8;
    layout.ssndOffset = 100;
    ScopedAiff b;
    ASSERT_EQ(AiffOpenOk, b.open(dir.write("unfinished.aif", BuildAiff(layout))));
    EXPECT_EQ(154u, b.s.dataOffset);
    EXPECT_EQ(8u, b.s.ssndChunkSize);
    EXPECT_EQ(layout.samples, BytesAtPointer(b.s, 16));
}

TEST(AiffOpen, DeclaredSizesAreTakenFromCommNotFromTheFile)
{
    TempDir dir;
    AiffLayout layout;
    layout.samples = PatternBytes(40);
    layout.frames = 0;
    layout.formSize = 0;
    ScopedAiff a;
    ASSERT_EQ(AiffOpenOk, a.open(dir.write("zero.aif", BuildAiff(layout))));
    EXPECT_EQ(0, a.s.frameCount);
    EXPECT_EQ(0, a.s.dataBytes);
    EXPECT_EQ(94, a.s.fileSize);

    // numSampleFrames x blockAlign beyond 32 bits is carried in full.
    layout.frames = 0xFFFFFFFFu;
    layout.formSize = 0xFFFFFFF0u;
    layout.ssndSize = 0xFFFFFFF0u;
    ScopedAiff b;
    ASSERT_EQ(AiffOpenOk, b.open(dir.write("huge.aif", BuildAiff(layout))));
    EXPECT_EQ(0xFFFFFFFFLL, b.s.frameCount);
    EXPECT_EQ(0x3FFFFFFFCLL, b.s.dataBytes);
    EXPECT_EQ(94, b.s.fileSize);
}

struct Refusal {
    const char* what;
    Bytes file;
    int32_t result;
};

Bytes WithSamples(AiffLayout layout)
{
    layout.frames = 4;
    layout.samples = PatternBytes(16);
    return BuildAiff(layout);
}

std::vector<Refusal> Refusals()
{
    std::vector<Refusal> r;
    AiffLayout plain;
    Bytes good = WithSamples(plain);

    Bytes aifc = good;
    memcpy(aifc.data() + 8, "AIFX", 4);
    r.push_back({"another form type", aifc, AiffOpenNotAiff});
    memcpy(aifc.data() + 8, "AIFC", 4);
    r.push_back({"AIFF-C with the COMM of AIFF", aifc, AiffOpenNoFormat});
    Bytes riff = good;
    memcpy(riff.data(), "RIFF", 4);
    r.push_back({"RIFF named .aif", riff, AiffOpenNotAiff});
    Bytes lower = good;
    memcpy(lower.data() + 8, "aiff", 4);
    r.push_back({"form type compared case-sensitively", lower, AiffOpenNotAiff});
    r.push_back({"text file", Bytes({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '\n'}), AiffOpenNotAiff});

    r.push_back({"shorter than the FORM header", Slice(good, 0, 11), AiffOpenNoFormat});
    r.push_back({"empty file", Bytes(), AiffOpenNoFormat});
    r.push_back({"FORM header only", Slice(good, 0, 12), AiffOpenNoFormat});
    r.push_back({"COMM cut short", Slice(good, 0, 30), AiffOpenNoFormat});
    r.push_back({"SSND header missing", Slice(good, 0, 38), AiffOpenNoFormat});
    r.push_back({"SSND header cut", Slice(good, 0, 42), AiffOpenNoFormat});
    {
        ByteWriter comm(true);
        comm.raw(AiffCommBody(2, 4, 16, 44100)).u32(0);
        r.push_back({"COMM of 22 bytes", FormFile({Chunk("COMM", comm.bytes, true), Chunk("SSND", Bytes(24, 0), true)}),
                     AiffOpenNoFormat});
    }
    r.push_back({"no COMM", FormFile({Chunk("NAME", Bytes(4, 'n'), true), Chunk("SSND", Bytes(24, 0), true)}),
                 AiffOpenNoFormat});
    r.push_back({"SSND before COMM",
                 FormFile({Chunk("SSND", Bytes(24, 0), true), Chunk("COMM", AiffCommBody(2, 4, 16, 44100), true)}),
                 AiffOpenNoFormat});
    r.push_back({"no SSND", FormFile({Chunk("COMM", AiffCommBody(2, 4, 16, 44100), true), Chunk("NAME", Bytes(4), true)}),
                 AiffOpenNoFormat});
    {
        AiffLayout s;
        s.sampleSize = 0;
        r.push_back({"sampleSize 0", WithSamples(s), AiffOpenNoFormat});
        s.sampleSize = -16;
        r.push_back({"sampleSize negative", WithSamples(s), AiffOpenNoFormat});
        s.sampleSize = 32;
        s.channels = 16384;
        r.push_back({"frame of 65536 bytes", WithSamples(s), AiffOpenNoFormat});
        s.sampleSize = 24;
        s.channels = 32767;
        r.push_back({"frame wider than 16 bits", WithSamples(s), AiffOpenNoFormat});
    }
    r.push_back({"chunk size reaching beyond the file",
                 FormFile({Chunk("NAME", Bytes(4), true, false, 0xFFFFFFFF), Chunk("COMM", AiffCommBody(2, 4, 16, 44100), true)}),
                 AiffOpenNoFormat});
    {
        // Zero bytes are no chunk: a zero-filled file must not be walked 8 bytes at a time.
        ByteWriter w(true);
        w.text("FORM").u32(0).text("AIFF").fill(1 << 20);
        r.push_back({"zero-filled body", w.bytes, AiffOpenNoFormat});
    }

    {
        AiffLayout s;
        s.ssndSize = 7;
        r.push_back({"SSND of 7 bytes, its fields cut", Slice(WithSamples(s), 0, 50), AiffOpenNoData});
        r.push_back({"SSND fields cut", Slice(WithSamples(AiffLayout()), 0, 50), AiffOpenNoData});
        s.ssndSize = -1;
        Bytes far = WithSamples(s);
        far[46] = far[47] = far[48] = far[49] = 0xFF;  // the data would begin beyond 4 GiB
        r.push_back({"SSND offset beyond 32 bits", far, AiffOpenNoData});
    }

    for (int16_t ch : {int16_t(0), int16_t(-1), int16_t(-32768)}) {
        AiffLayout s;
        s.channels = ch;
        r.push_back({"channels below 1", WithSamples(s), AiffOpenNoChannels});
    }
    {
        AiffLayout s;
        s.channels = 0;
        s.sampleSize = 0;
        r.push_back({"no channels wins over no sample size", WithSamples(s), AiffOpenNoChannels});
    }
    return r;
}

TEST(AiffOpen, EveryRefusalLeavesTheFileOpenAndUntouched)
{
    TempDir dir;
    int i = 0;
    for (const Refusal& r : Refusals()) {
        SCOPED_TRACE(r.what);
        std::string p = dir.write("bad" + std::to_string(i++) + ".aif", r.file);
        AiffStream s;
        EXPECT_EQ(r.result, AiffStream_Open(&s, p.c_str(), 1));
        EXPECT_NE(FileHandleNone, s.handle) << "the caller closes after results 3 to 6";
        EXPECT_EQ(0u, s.dataOffset);
        FileFault_Arm(FileFaultFlush | FileFaultWrite | FileFaultTruncate, 0, 0);
        EXPECT_EQ(0, AiffStream_Close(&s));
        EXPECT_EQ(0u, FileFault_Count(FileFaultFlush | FileFaultWrite | FileFaultTruncate)) << "a failed open never writes";
        FileFault_Disarm();
        EXPECT_EQ(FileHandleNone, s.handle);
        EXPECT_EQ(r.file, ReadFileBytes(p));
    }
}

TEST(AiffOpen, CannotOpenAndPathLimits)
{
    EXPECT_EQ(AiffOpenNoStream, AiffStream_Open(nullptr, "x.aif", 1));

    TempDir dir;
    AiffLayout layout;
    std::string good = dir.write("take.aif", WithSamples(layout));
    {
        // A file locked by another open (the scan opens unshared).
        ScopedAiff holder;
        ASSERT_EQ(AiffOpenOk, holder.open(good, 1));
        ScopedAiff second;
        EXPECT_EQ(AiffOpenCannotOpen, second.open(good, 1));
        EXPECT_EQ(FileHandleNone, second.s.handle);
    }
    {
        // A path that does not fit the path buffer is refused, not cut.
        std::string longPath = good + std::string(StreamPathCapacity, 'x');
        longPath.resize(StreamPathCapacity);
        AiffStream s;
        FileFault_Arm(FileFaultOpen, 0, 0);
        EXPECT_EQ(AiffOpenCannotOpen, AiffStream_Open(&s, longPath.c_str(), 1));
        EXPECT_EQ(0u, FileFault_Count(FileFaultOpen));
        FileFault_Disarm();
        EXPECT_EQ(FileHandleNone, s.handle);
        EXPECT_EQ(0, s.path[StreamPathCapacity - 1]);
    }
    ScopedAiff noPath;
    EXPECT_EQ(AiffOpenCannotOpen, AiffStream_Open(&noPath.s, nullptr, 1));
}

#ifndef _WIN32
// A path of exactly 1095 characters, the longest that fits, opens.
TEST(AiffOpen, LongestPathThatFitsOpens)
{
    TempDir dir;
    std::string path = dir.path();
    const size_t want = StreamPathCapacity - 1;
    while (path.size() + 1 + 200 + 1 + 20 < want) {
        path += "/" + std::string(200, 'd');
        ASSERT_TRUE(MakeDir(path));
    }
    size_t nameLength = want - path.size() - 1;
    ASSERT_GE(nameLength, 5u);
    std::string name = std::string(nameLength - 4, 'f') + ".aif";
    path += "/" + name;
    ASSERT_EQ(want, path.size());
    AiffLayout layout;
    ASSERT_TRUE(WriteFileBytes(path, WithSamples(layout)));
    ScopedAiff a;
    EXPECT_EQ(AiffOpenOk, a.open(path));
    EXPECT_STREQ(path.c_str(), a.s.path);
}
#endif

TEST(AiffOpen, FailuresWhileOpeningAreRefusals)
{
    TempDir dir;
    AiffLayout layout;
    std::string p = dir.write("take.aif", WithSamples(layout));
    AiffLayout far;
    far.before = {Chunk("ANNO", Bytes(5000, 'a'), true)};
    std::string farPath = dir.write("far.aif", WithSamples(far));
    struct Case {
        const char* name;
        std::string path;
        std::vector<int32_t> expected;  // for a failure of each read in turn
    };
    const std::vector<Case> cases = {
        {"header inside the head block: that one read", p, {AiffOpenNoFormat}},
        // The head block, then COMM header, COMM body, SSND header, SSND fields.
        {"header behind the head block", farPath,
         {AiffOpenNoFormat, AiffOpenNoFormat, AiffOpenNoFormat, AiffOpenNoFormat, AiffOpenNoData}},
    };
    for (const Case& c : cases) {
        for (uint32_t n = 1; n <= c.expected.size() + 1; ++n) {
            SCOPED_TRACE(testing::Message() << c.name << ", read " << n);
            AiffStream s;
            FileFault_Arm(FileFaultRead, n, 0);
            EXPECT_EQ(n <= c.expected.size() ? c.expected[n - 1] : AiffOpenOk, AiffStream_Open(&s, c.path.c_str(), 1));
            FileFault_Disarm();
            AiffStream_Close(&s);
        }
    }
    {
        // Without the size the file holds nothing as far as the scan can tell.
        AiffStream s;
        FileFault_Arm(FileFaultSize, 1, 0);
        EXPECT_EQ(AiffOpenOk, AiffStream_Open(&s, p.c_str(), 1));
        FileFault_Disarm();
        EXPECT_EQ(0, s.fileSize);
        EXPECT_EQ(StreamResultIoFailed, AiffStream_Repair(&s));
        EXPECT_EQ(0, AiffStream_Close(&s));
    }
    EXPECT_EQ(WithSamples(layout), ReadFileBytes(p));
}

}  // namespace
