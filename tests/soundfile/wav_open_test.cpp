// The WAV reader against files built in code: the layouts recorders write,
// every refusal, and the malformed sizes a damaged file can carry.
#include <gtest/gtest.h>

#include <string.h>

#include "streams.h"

namespace {

// Opens bytes written to a fresh file; the stream stays open for the checks.
struct Opened {
    TempDir dir;
    ScopedWav wav;
    std::string path;
    int32_t result = -1;
    explicit Opened(const Bytes& bytes, const char* name = "take.wav", int32_t flag = 1)
    {
        path = dir.write(name, bytes);
        result = wav.open(path, flag);
    }
};

TEST(WavOpen, MinimalPcmFileWithEmptyData)
{
    Opened f(PlainWav(Bytes()));
    ASSERT_EQ(WavOpenOk, f.result);
    const WavStream& s = f.wav.s;
    EXPECT_EQ(44u, s.dataOffset);
    EXPECT_EQ(0, s.dataBytes);
    EXPECT_EQ(0, s.frameCount);
    EXPECT_EQ(44, s.fileSize);
    EXPECT_EQ(1, s.filePosState);
    EXPECT_EQ(0, s.headerDirty);
    EXPECT_EQ(0, s.readPos);
    EXPECT_EQ(0, s.writePos);
    EXPECT_EQ(&WavStream_ReadFrames, s.readFrames);
    EXPECT_EQ(&WavStream_WriteBytes, s.writeBytes);
    EXPECT_EQ(0u, s.flags);
    EXPECT_STREQ(f.path.c_str(), s.path);
}

TEST(WavOpen, FormatsRecordersWrite)
{
    struct Case {
        const char* name;
        Bytes fmt;
        uint16_t tag, channels, align, bits;
    };
    ByteWriter ext;  // extensible: 16 basic bytes, cbSize 22, then 22 bytes
    ext.raw(WavFmtBody(0xFFFE, 2, 48000, 24)).u16(22).u16(24).u32(3).fill(16, 0x11);
    ByteWriter fmt18;
    fmt18.raw(WavFmtBody(1, 1, 22050, 16)).u16(0);
    std::vector<Case> cases = {
        {"pcm16", FmtChunk(2, 44100, 16), 1, 2, 4, 16},
        {"float32", Chunk("fmt ", WavFmtBody(3, 2, 96000, 32)), 3, 2, 8, 32},
        {"extensible", Chunk("fmt ", ext.bytes), 0xFFFE, 2, 6, 24},
        {"pcm8", FmtChunk(1, 8000, 8), 1, 1, 1, 8},
        {"fmt18", Chunk("fmt ", fmt18.bytes), 1, 1, 2, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes samples = PatternBytes(size_t(c.align) * 10);
        Bytes file = RiffFile({c.fmt, ChunkHead("data", uint32_t(samples.size())), samples});
        Opened f(file);
        ASSERT_EQ(WavOpenOk, f.result);
        EXPECT_EQ(c.tag, f.wav.s.formatTag);
        EXPECT_EQ(c.channels, f.wav.s.channels);
        EXPECT_EQ(c.align, f.wav.s.blockAlign);
        EXPECT_EQ(c.bits, f.wav.s.bitsPerSample);
        EXPECT_EQ(0, f.wav.s.extraFormatBytes);
        EXPECT_EQ(uint32_t(file.size() - samples.size()), f.wav.s.dataOffset);
        EXPECT_EQ(10, f.wav.s.frameCount);
        // The file pointer sits at the first sample byte.
        uint8_t first[4];
        ASSERT_EQ(1, File_ReadExact(f.wav.s.handle, first, 4));
        EXPECT_EQ(0, memcmp(first, samples.data(), 4));
    }
}

TEST(WavOpen, BitsPerSampleZeroComesFromTheBlockSize)
{
    Bytes six = WavFmtBody(1, 2, 44100, 0, 6);
    Opened a(RiffFile({Chunk("fmt ", six), ChunkHead("data", 0)}));
    ASSERT_EQ(WavOpenOk, a.result);
    EXPECT_EQ(24, a.wav.s.bitsPerSample);
    Bytes one = WavFmtBody(1, 2, 44100, 0, 1);
    Opened b(RiffFile({Chunk("fmt ", one), ChunkHead("data", 0)}));
    ASSERT_EQ(WavOpenOk, b.result);
    EXPECT_EQ(0, b.wav.s.bitsPerSample);
}

TEST(WavOpen, DeclaredLengthIsTakenAsItStands)
{
    Bytes fmt = FmtChunk(2, 44100, 24);  // blockAlign 6
    Opened a(RiffFile({fmt, ChunkHead("data", 1000), PatternBytes(1000)}));
    ASSERT_EQ(WavOpenOk, a.result);
    EXPECT_EQ(1000, a.wav.s.dataBytes);
    EXPECT_EQ(166, a.wav.s.frameCount);
    // More than the file holds: accepted, the scan finds the header long enough.
    Opened b(RiffFile({fmt, ChunkHead("data", 600000), PatternBytes(60)}));
    ASSERT_EQ(WavOpenOk, b.result);
    EXPECT_EQ(600000, b.wav.s.dataBytes);
    EXPECT_EQ(104, b.wav.s.fileSize);
}

TEST(WavOpen, OtherChunksAreSkippedByTheirSize)
{
    Opened f(RiffFile({StereoFmt(), Chunk("LIST", PatternBytes(26)), ChunkHead("data", 8), PatternBytes(8)}));
    ASSERT_EQ(WavOpenOk, f.result);
    EXPECT_EQ(78u, f.wav.s.dataOffset);
    EXPECT_EQ(0u, f.wav.s.junkSize);
}

TEST(WavOpen, BroadcastWaveDescription)
{
    Bytes body = BextBody(702);
    Opened f(RiffFile({Chunk("bext", body), StereoFmt(), ChunkHead("data", 4), PatternBytes(4)}), "take.bwf");
    ASSERT_EQ(WavOpenOk, f.result);
    const WavStream& s = f.wav.s;
    EXPECT_TRUE(s.flags & WavFlagBext);
    EXPECT_EQ(20u, s.bextOffset);
    EXPECT_EQ(702u, s.bextLength);
    EXPECT_EQ(0, memcmp(s.bext.description, &body[0], 256));
    EXPECT_EQ(0, memcmp(s.bext.originator, &body[256], 32));
    EXPECT_EQ(0, memcmp(s.bext.originatorReference, &body[288], 32));
    EXPECT_EQ(0, memcmp(s.bext.originationDate, &body[320], 10));
    EXPECT_EQ(0, memcmp(s.bext.originationTime, &body[330], 8));
    // Packed fields: copied out before comparing.
    uint32_t low = s.bext.timeReferenceLow, high = s.bext.timeReferenceHigh;
    uint16_t version = s.bext.version;
    EXPECT_EQ(Le32At(body, 338), low);
    EXPECT_EQ(Le32At(body, 342), high);
    EXPECT_EQ(uint16_t(body[346] | (body[347] << 8)), version);
    EXPECT_EQ(0, memcmp(s.bext.umid, &body[348], 64));
    EXPECT_EQ(0, memcmp(s.bext.reserved, &body[412], 190));
    EXPECT_EQ(0, memcmp(s.bext.codingHistory, &body[602], 100));
    for (size_t i = 100; i < sizeof(s.bext.codingHistory); ++i)
        ASSERT_EQ(0, s.bext.codingHistory[i]) << i;
    EXPECT_EQ(20u + 702 + 24 + 8, s.dataOffset);
}

TEST(WavOpen, LongBroadcastWaveDescriptionIsCut)
{
    Bytes body = BextBody(10000);
    Opened f(RiffFile({StereoFmt(), Chunk("bext", body), ChunkHead("data", 4), PatternBytes(4)}));
    ASSERT_EQ(WavOpenOk, f.result);
    EXPECT_EQ(4700u, f.wav.s.bextLength);
    EXPECT_EQ(44u, f.wav.s.bextOffset);
    EXPECT_EQ(0, memcmp(f.wav.s.bext.codingHistory, &body[602], 4096));
    EXPECT_EQ(44u + 10000 + 8, f.wav.s.dataOffset);
}

TEST(WavOpen, BextBehindTheDataIsNotRead)
{
    Opened f(RiffFile({StereoFmt(), ChunkHead("data", 4), PatternBytes(4), Chunk("bext", BextBody(602))}));
    ASSERT_EQ(WavOpenOk, f.result);
    EXPECT_FALSE(f.wav.s.flags & WavFlagBext);
    BextRecord zero;
    memset(&zero, 0, sizeof(zero));
    EXPECT_EQ(0, memcmp(&zero, &f.wav.s.bext, sizeof(zero)));
}

TEST(WavOpen, Rf64TakesTheDataLengthFromDs64)
{
    Bytes samples = PatternBytes(400);
    Opened a(RiffFile({Chunk("ds64", Ds64Body(0, 400, 100)), StereoFmt(), ChunkHead("data", 0xFFFFFFFF), samples},
                      0xFFFFFFFF, "RF64"));
    ASSERT_EQ(WavOpenOk, a.result);
    EXPECT_TRUE(a.wav.s.flags & WavFlagRf64);
    EXPECT_EQ(28u, a.wav.s.ds64Size);
    EXPECT_EQ(400, a.wav.s.dataBytes);
    EXPECT_EQ(100, a.wav.s.frameCount);
    EXPECT_EQ(80u, a.wav.s.dataOffset);
    // A real 32-bit size in the data chunk wins over ds64.
    Opened b(RiffFile({Chunk("ds64", Ds64Body(0, 400, 100)), StereoFmt(), ChunkHead("data", 200), samples}, 0xFFFFFFFF,
                      "RF64"));
    ASSERT_EQ(WavOpenOk, b.result);
    EXPECT_EQ(200, b.wav.s.dataBytes);
    EXPECT_EQ(50, b.wav.s.frameCount);
}

TEST(WavOpen, Rf64WithDs64Table)
{
    Opened f(RiffFile({Chunk("ds64", Ds64Body(0, 400, 100, 12)), StereoFmt(), ChunkHead("data", 0xFFFFFFFF),
                       PatternBytes(400)},
                      0xFFFFFFFF, "RF64"));
    ASSERT_EQ(WavOpenOk, f.result);
    EXPECT_EQ(40u, f.wav.s.ds64Size);
    EXPECT_EQ(60u + 24 + 8, f.wav.s.dataOffset);  // the walk went on at offset 60
    EXPECT_EQ(400, f.wav.s.dataBytes);
}

TEST(WavOpen, Ds64ValuesBeyondAnyFileAreUnknown)
{
    Opened f(RiffFile({Chunk("ds64", Ds64Body(~0ull, ~0ull, ~0ull)), StereoFmt(), ChunkHead("data", 0xFFFFFFFF),
                       PatternBytes(40)},
                      0xFFFFFFFF, "RF64"));
    ASSERT_EQ(WavOpenOk, f.result);
    EXPECT_EQ(0, f.wav.s.dataBytes);
    EXPECT_EQ(0, f.wav.s.frameCount);
}

TEST(WavOpen, PlainRiffPlaceholderSizeMeansUnknown)
{
    // Recorders write 0xFFFFFFFF while recording; no 64-bit length exists.
    Opened f(PlainWav(PatternBytes(400), 0xFFFFFFFF));
    ASSERT_EQ(WavOpenOk, f.result);
    EXPECT_EQ(0, f.wav.s.dataBytes);
    EXPECT_EQ(0, f.wav.s.frameCount);
    EXPECT_EQ(44u, f.wav.s.dataOffset);
}

TEST(WavOpen, JunkReservationIsRecorded)
{
    Bytes tail = Cat({StereoFmt(), ChunkHead("data", 4), PatternBytes(4)});
    Opened a(Cat({RiffFile({Chunk("JUNK", Bytes(28))}), tail}));
    ASSERT_EQ(WavOpenOk, a.result);
    EXPECT_EQ(28u, a.wav.s.junkSize);
    Opened b(Cat({RiffFile({Chunk("JUNK", Bytes(92))}), tail}));
    ASSERT_EQ(WavOpenOk, b.result);
    EXPECT_EQ(92u, b.wav.s.junkSize);
    Opened c(Cat({RiffFile({Chunk("JUNK", Bytes(20))}), tail}));
    ASSERT_EQ(WavOpenOk, c.result);
    EXPECT_EQ(0u, c.wav.s.junkSize) << "too small to become a ds64 chunk";
    Opened d(RiffFile({StereoFmt(), Chunk("JUNK", Bytes(28)), ChunkHead("data", 4), PatternBytes(4)}));
    ASSERT_EQ(WavOpenOk, d.result);
    EXPECT_EQ(0u, d.wav.s.junkSize) << "only a reservation right after the file header counts";
}

TEST(WavOpen, PadBytesAfterOddChunks)
{
    Bytes samples = PatternBytes(8);
    struct Case {
        const char* name;
        Bytes file;
        uint32_t dataOffset;
    };
    std::vector<Case> cases = {
        {"LIST padded", RiffFile({StereoFmt(), Chunk("LIST", PatternBytes(27), false, true), ChunkHead("data", 8), samples}),
         36 + 36 + 8},
        {"LIST unpadded", RiffFile({StereoFmt(), Chunk("LIST", PatternBytes(27)), ChunkHead("data", 8), samples}), 36 + 35 + 8},
        {"bext padded", RiffFile({Chunk("bext", BextBody(603), false, true), StereoFmt(), ChunkHead("data", 8), samples}),
         12 + 612 + 24 + 8},
        {"bext unpadded", RiffFile({Chunk("bext", BextBody(603)), StereoFmt(), ChunkHead("data", 8), samples}),
         12 + 611 + 24 + 8},
        {"fmt padded", RiffFile({Chunk("fmt ", Cat({WavFmtBody(1, 2, 44100, 16), Bytes(1, 7)}), false, true),
                                 ChunkHead("data", 8), samples}),
         12 + 26 + 8},
        {"two padded", RiffFile({Chunk("LIST", PatternBytes(3), false, true), StereoFmt(),
                                 Chunk("cue ", PatternBytes(5), false, true), ChunkHead("data", 8), samples}),
         12 + 12 + 24 + 14 + 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Opened f(c.file);
        ASSERT_EQ(WavOpenOk, f.result);
        EXPECT_EQ(c.dataOffset, f.wav.s.dataOffset);
        EXPECT_EQ(8, f.wav.s.dataBytes);
    }
}

TEST(WavOpen, Refusals)
{
    Bytes samples = PatternBytes(8);
    Bytes fmt0ch = WavFmtBody(1, 0, 44100, 16, 4);
    Bytes fmtAlign0 = WavFmtBody(1, 2, 44100, 16);
    fmtAlign0[12] = fmtAlign0[13] = 0;
    ByteWriter rifx;
    rifx.text("RIFX").u32(36).text("WAVE");
    struct Case {
        const char* name;
        Bytes file;
        int32_t result;
    };
    std::vector<Case> cases = {
        {"empty", Bytes(), WavOpenNotWave},
        {"short header", Bytes{'R', 'I', 'F', 'F', 0, 0}, WavOpenNotWave},
        {"RIFX", Cat({rifx.bytes, StereoFmt(), ChunkHead("data", 8), samples}), WavOpenNotWave},
        {"not WAVE", [] {
             Bytes b = RiffFile({StereoFmt(), ChunkHead("data", 0)});
             memcpy(&b[8], "WAVF", 4);
             return b;
         }(), WavOpenNotWave},
        {"AVI form", [] {
             Bytes b = RiffFile({StereoFmt(), ChunkHead("data", 0)});
             memcpy(&b[8], "AVI ", 4);
             return b;
         }(), WavOpenNotWave},
        {"RF64 cut short", Cat({RiffFile({}, 0xFFFFFFFF, "RF64"), Bytes(10)}), WavOpenNotWave},
        {"RF64 first chunk fmt", RiffFile({StereoFmt(), Chunk("ds64", Ds64Body(0, 8, 2)), ChunkHead("data", 8), samples},
                                          0xFFFFFFFF, "RF64"),
         WavOpenNoDs64},
        {"RF64 not WAVE", [] {
             Bytes b = RiffFile({Chunk("ds64", Ds64Body(0, 8, 2)), StereoFmt(), ChunkHead("data", 8)}, 0xFFFFFFFF, "RF64");
             memcpy(&b[8], "WAVX", 4);
             return b;
         }(), WavOpenNotWave},
        {"no data chunk", RiffFile({StereoFmt(), Chunk("LIST", PatternBytes(20))}), WavOpenNoData},
        {"fmt of 14", RiffFile({Chunk("fmt ", Bytes(14)), ChunkHead("data", 8), samples}), WavOpenNoData},
        {"fmt body cut", Cat({RiffFile({}), Bytes{'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2}}), WavOpenNoData},
        {"bext body cut", Cat({RiffFile({StereoFmt()}), Bytes{'b', 'e', 'x', 't', 0x5E, 2, 0, 0}, Bytes(100)}),
         WavOpenNoData},
        {"data before fmt", RiffFile({ChunkHead("data", 8), samples, StereoFmt()}), WavOpenNoData},
        {"blockAlign 0", RiffFile({Chunk("fmt ", fmtAlign0), ChunkHead("data", 8), samples}), WavOpenNoData},
        {"unknown chunk of 0xFFFFFFFF", RiffFile({StereoFmt(), Chunk("LIST", PatternBytes(8), false, false, 0xFFFFFFFF),
                                                  ChunkHead("data", 8), samples}),
         WavOpenUnknownSize},
        {"0 channels", RiffFile({Chunk("fmt ", fmt0ch), ChunkHead("data", 8), samples}), WavOpenNoChannels},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string path = dir.write("take.wav", c.file);
        ScopedWav wav;
        EXPECT_EQ(c.result, wav.open(path));
        EXPECT_EQ(0u, wav.s.dataOffset);
        EXPECT_NE(FileHandleNone, wav.s.handle) << "still open: the caller closes it";
        EXPECT_EQ(0, WavStream_Close(&wav.s));
        EXPECT_EQ(FileHandleNone, wav.s.handle);
        EXPECT_EQ(c.file, ReadFileBytes(path)) << "a refused file is left as it was";
    }
}

TEST(WavOpen, HugeSizesOnlyMoveForwardAndEnd)
{
    Bytes samples = PatternBytes(8);
    std::vector<std::pair<const char*, Bytes>> cases = {
        {"unknown 0x80000000", RiffFile({StereoFmt(), Chunk("LIST", samples, false, false, 0x80000000), ChunkHead("data", 8),
                                         samples})},
        {"unknown 0xFFFFFFF0", RiffFile({StereoFmt(), Chunk("LIST", samples, false, false, 0xFFFFFFF0), ChunkHead("data", 8),
                                         samples})},
        {"fmt 0x80000010", RiffFile({Chunk("fmt ", WavFmtBody(1, 2, 44100, 16), false, false, 0x80000010),
                                     ChunkHead("data", 8), samples})},
        {"fmt 0xFFFFFFFF", RiffFile({Chunk("fmt ", WavFmtBody(1, 2, 44100, 16), false, false, 0xFFFFFFFF),
                                     ChunkHead("data", 8), samples})},
        {"bext 0xFFFFFFFF", Cat({RiffFile({StereoFmt()}), Bytes{'b', 'e', 'x', 't', 0xFF, 0xFF, 0xFF, 0xFF},
                                    BextBody(4700), ChunkHead("data", 8), samples})},
        {"ds64 0x80000000", RiffFile({Chunk("ds64", Ds64Body(0, 8, 2), false, false, 0x80000000), StereoFmt(),
                                      ChunkHead("data", 8), samples},
                                     0xFFFFFFFF, "RF64")},
        {"ds64 0xFFFFFFFF", RiffFile({Chunk("ds64", Ds64Body(0, 8, 2), false, false, 0xFFFFFFFF), StereoFmt(),
                                      ChunkHead("data", 8), samples},
                                     0xFFFFFFFF, "RF64")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        Opened f(c.second);
        EXPECT_EQ(WavOpenNoData, f.result);
    }
}

TEST(WavOpen, ChunkOfTwoGigabytesIsSkippedUnsigned)
{
    // A data chunk behind a 2 GiB chunk, in a sparse file.
    TempDir dir;
    std::string path = dir.file("big.wav");
    Bytes head = RiffFile({StereoFmt(), Chunk("LIST", Bytes(), false, false, 0x80000000)});
    int64_t dataHeaderAt = int64_t(head.size()) + 0x80000000LL;
    ASSERT_TRUE(WriteSparse(path, head, dataHeaderAt));
    ASSERT_TRUE(WriteAt(path, dataHeaderAt, Cat({ChunkHead("data", 8), PatternBytes(8)})));
    ScopedWav wav;
    ASSERT_EQ(WavOpenOk, wav.open(path));
    EXPECT_EQ(uint32_t(dataHeaderAt + 8), wav.s.dataOffset);
    EXPECT_EQ(8, wav.s.dataBytes);
    EXPECT_EQ(dataHeaderAt + 16, wav.s.fileSize);
}

TEST(WavOpen, DataChunkBeyondFourGigabytesIsOutOfReach)
{
    // dataOffset is 32-bit: a data chunk that starts past it is refused, not wrapped.
    TempDir dir;
    std::string path = dir.file("big.wav");
    Bytes head = RiffFile({StereoFmt(), Chunk("LIST", Bytes(), false, false, 0xFFFFFFF0)});
    int64_t dataHeaderAt = int64_t(head.size()) + 0xFFFFFFF0LL;
    ASSERT_TRUE(WriteSparse(path, head, dataHeaderAt));
    ASSERT_TRUE(WriteAt(path, dataHeaderAt, Cat({ChunkHead("data", 8), PatternBytes(8)})));
    ScopedWav wav;
    EXPECT_EQ(WavOpenNoData, wav.open(path));
}

TEST(WavOpen, NullArguments)
{
    EXPECT_EQ(WavOpenNoStream, WavStream_Open(nullptr, "take.wav", 1));
    ScopedWav wav;
    EXPECT_EQ(WavOpenCannotOpen, WavStream_Open(&wav.s, nullptr, 1));
    EXPECT_EQ(FileHandleNone, wav.s.handle);
}

TEST(WavOpen, PathsOfStreamCapacityAreRefused)
{
    std::string longPath(StreamPathCapacity, 'a');
    longPath += ".wav";
    ScopedWav wav;
    memset(&wav.s, 0x5A, sizeof(wav.s));
    EXPECT_EQ(WavOpenCannotOpen, wav.open(longPath));
    EXPECT_EQ(FileHandleNone, wav.s.handle);
    EXPECT_EQ(0u, wav.s.dataOffset);
    longPath.resize(StreamPathCapacity);  // exactly 1096 characters
    EXPECT_EQ(WavOpenCannotOpen, wav.open(longPath));
    EXPECT_EQ(FileHandleNone, wav.s.handle);
}

#ifndef _WIN32
TEST(WavOpen, LongestPathThatFitsOpens)
{
    // Nested folders bring real paths to 1095 and 1096 characters.
    TempDir dir;
    std::string folder = dir.path();
    while (folder.size() + 1 + 200 + 1 + 20 < StreamPathCapacity) {
        folder += "/" + std::string(200, 'd');
        ASSERT_TRUE(MakeDir(folder));
    }
    Bytes file = PlainWav(PatternBytes(8));
    auto named = [&](size_t total) {
        std::string p = folder + "/";
        p += std::string(total - p.size() - 4, 'f') + ".wav";
        return p;
    };
    std::string fits = named(StreamPathCapacity - 1);
    std::string tooLong = named(StreamPathCapacity);
    ASSERT_TRUE(WriteFileBytes(fits, file));
    ASSERT_TRUE(WriteFileBytes(tooLong, file));
    ScopedWav a;
    EXPECT_EQ(WavOpenOk, a.open(fits));
    EXPECT_EQ(fits, std::string(a.s.path));
    ScopedWav b;
    EXPECT_EQ(WavOpenCannotOpen, b.open(tooLong));
    EXPECT_EQ(FileHandleNone, b.s.handle);
}
#endif

TEST(WavOpen, OpenFlagsChooseAccessAndSharing)
{
    TempDir dir;
    std::string missing = dir.file("missing.wav");
    ScopedWav none;
    EXPECT_EQ(WavOpenCannotOpen, none.open(missing, 1));
    EXPECT_EQ(-1, FileLength(missing)) << "a scan never creates a file";

    std::string path = dir.write("take.wav", PlainWav(PatternBytes(8)));
    {
        ScopedWav a, b;
        ASSERT_EQ(WavOpenOk, a.open(path, 0x20));
        EXPECT_EQ(WavOpenOk, b.open(path, 0x20)) << "read-only shared lets others read";
    }
    {
        ScopedWav a, b;
        ASSERT_EQ(WavOpenOk, a.open(path, 1));
        EXPECT_EQ(WavOpenCannotOpen, b.open(path, 0x20)) << "read and write is unshared";
    }
    {
        ScopedWav a, b;
        ASSERT_EQ(WavOpenOk, a.open(path, 0));
        EXPECT_EQ(WavOpenCannotOpen, b.open(path, 1)) << "read-only exclusive";
        // A read-only stream cannot be cut.
        EXPECT_EQ(StreamResultIoFailed, WavStream_Repair(&a.s));
    }
    EXPECT_EQ(PlainWav(PatternBytes(8)), ReadFileBytes(path));
}

TEST(WavOpen, HealthyFileStaysByteForByte)
{
    Bytes file = RiffFile({Chunk("bext", BextBody(603), false, true), StereoFmt(), Chunk("LIST", PatternBytes(9)),
                           ChunkHead("data", 400), PatternBytes(400), Chunk("id3 ", PatternBytes(30))});
    TempDir dir;
    std::string path = dir.write("take.wav", file);
    for (int32_t flag : {1, 0x20, 0}) {
        ScopedWav wav;
        ASSERT_EQ(WavOpenOk, wav.open(path, flag));
        EXPECT_EQ(0, WavStream_Close(&wav.s));
        EXPECT_EQ(0, WavStream_Close(&wav.s)) << "a second close does nothing";
    }
    EXPECT_EQ(file, ReadFileBytes(path));
}

}  // namespace
