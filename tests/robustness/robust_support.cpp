#include "robust_support.h"

#include <algorithm>

std::vector<Recording> RepairLayouts()
{
    std::vector<Recording> out;
    const Bytes samples = PatternBytes(4003, 3);
    // A damaged recording: a header, then samples to the end.
    auto damaged = [&out](const char* name, const Bytes& head, const Bytes& rest) {
        out.push_back({name, Cat({head, rest}), int64_t(head.size()), 4, false});
    };
    // n sample bytes in an AIFF layout, then the chunks in after.
    auto aiff = [&out](const char* name, AiffLayout a, size_t n, uint32_t seed, const std::vector<Bytes>& after,
                       bool healthy) {
        const int64_t dataOffset = int64_t(BuildAiff(a).size());
        a.samples = PatternBytes(n, seed);
        a.after = after;
        out.push_back({name, BuildAiff(a), dataOffset, 4, healthy});
    };

    damaged("take.wav", RiffFile({StereoFmt(48000), ChunkHead("data", 0)}), samples);
    {
        ByteWriter info;
        info.text("INFO").raw(Chunk("ICMT", PatternBytes(23, 5), false, true));
        damaged("take.bwf",
                RiffFile({Chunk("bext", PatternBytes(603, 4), false, true), StereoFmt(48000),
                          Chunk("LIST", info.bytes, false, true), ChunkHead("data", 400)}),
                PatternBytes(8002, 6));
    }
    damaged("rf64.wav",
            RiffFile({Chunk("ds64", Ds64Body(0, 0, 0)), StereoFmt(48000), ChunkHead("data", 0xFFFFFFFF)}, 0xFFFFFFFF,
                     "RF64"),
            samples);
    damaged("rf64table.wav",
            RiffFile({Chunk("ds64", Ds64Body(0, 0, 0, 24, 0x5A, 2)), StereoFmt(48000), ChunkHead("data", 0xFFFFFFFF)},
                     0xFFFFFFFF, "RF64"),
            samples);
    {
        AiffLayout a = UnfinishedAiff();
        a.ssndOffset = 4;
        a.blockSize = 4096;
        a.between = {Chunk("NAME", Bytes{'t', 'a', 'k', 'e', ' ', '7'}, true)};
        aiff("padded.aif", a, 10003, 7, {}, false);
    }
    {
        // AIFF-C as converters write it (FVER first), little-endian samples.
        AiffLayout a = UnfinishedAiff();
        a.compression = "sowt";
        a.before = {Chunk("FVER", Bytes{0xA2, 0x80, 0x51, 0x40}, true)};
        aiff("take.aifc", a, 4003, 16, {}, false);
        // An SSND ckSize the recorder never wrote: 0.
        AiffLayout zero = UnfinishedAiff();
        zero.ssndSize = 0;
        zero.formSize = 0;
        aiff("ssnd0.aif", zero, 4003, 17, {}, false);
    }
    // The containers of long takes: Wave64 as sox leaves it (riff 0, data
    // 24) and as ffmpeg does (its placeholders), and BW64 with chna before
    // its samples; each with a partial frame.
    damaged("take.w64", BuildWave64({Wave64Chunk("fmt ", WavFmtBody(1, 2, 48000, 16))}, Bytes(), 24, {}, 0), samples);
    damaged("ffmpeg.w64",
            BuildWave64({Wave64Chunk("fmt ", WavFmtBody(1, 2, 48000, 16))}, Bytes(), INT64_MAX, {}, INT64_MAX),
            samples);
    {
        ByteWriter ds64;
        ds64.u64(0).u64(0).u64(0).u32(1).text("axml").u64(5);
        ByteWriter chna;
        chna.u16(1).u16(1).text("ATU_00000001").text("AT_00010001_01").fill(19, 0);
        damaged("take.bw64",
                RiffFile({Chunk("ds64", ds64.bytes), Chunk("chna", chna.bytes), StereoFmt(48000),
                          ChunkHead("data", 0xFFFFFFFF)},
                         0xFFFFFFFF, "BW64"),
                samples);
    }
    // Every whole frame declared, a partial one behind it: the cut alone
    // completes the file, so the header goes first.
    damaged("stray.wav", RiffFile({StereoFmt(48000), ChunkHead("data", 4000)}, 4003 + 36), samples);
    // A data size past the last whole frame: the repair makes it smaller.
    damaged("pastframe.wav", RiffFile({StereoFmt(48000), ChunkHead("data", 4002)}, 4003 + 36), samples);
    {
        // A fuzzer's find: 16-byte frames all declared, five stray bytes,
        // an SSND block size, and a FORM size past the end of the file.
        AiffLayout a = UnfinishedAiff();
        a.sampleSize = 64;
        a.frames = 16;
        a.ssndOffset = 4;
        a.blockSize = 512;
        a.formSize = 453;
        const int64_t dataOffset = int64_t(BuildAiff(a).size());
        a.samples = PatternBytes(16 * 16 + 5, 15);
        out.push_back({"stray.aif", BuildAiff(a), dataOffset, 16, false});
    }
    {
        ByteWriter info;
        info.text("INFO").raw(Chunk("INAM", PatternBytes(9, 8), false, true));
        Bytes head = RiffFile({StereoFmt(48000), ChunkHead("data", 4000)});
        Bytes file = RiffFile({StereoFmt(48000), Chunk("data", PatternBytes(4000, 9)), Chunk("LIST", info.bytes, false, true)});
        out.push_back({"healthy.wav", file, int64_t(head.size()), 4, true});
    }
    {
        // Alignment, then a list chunk behind the samples.
        ByteWriter info;
        info.text("INFO").raw(Chunk("INAM", PatternBytes(9, 8), false, true));
        const Bytes fmt = Wave64Chunk("fmt ", WavFmtBody(1, 1, 48000, 16));
        const Bytes head = BuildWave64({fmt}, Bytes(), 24 + 4002);
        out.push_back({"healthy.w64", BuildWave64({fmt}, PatternBytes(4002, 9), -1, {Wave64Chunk("list", info.bytes)}),
                       int64_t(head.size()), 2, true});
    }
    AiffLayout complete = UnfinishedAiff();
    complete.frames = 1000;
    complete.ssndSize = 8 + 4000;
    aiff("healthy.aiff", complete, 4000, 10, {Chunk("ANNO", Bytes{'f', 'i', 'e', 'l', 'd'}, true, true)}, true);
    {
        // 8-bit mono: an odd-sized data chunk, its pad byte, then metadata.
        Bytes fmt = FmtChunk(1, 8000, 8);
        Bytes head = RiffFile({fmt, ChunkHead("data", 4001)});
        Bytes file = RiffFile({fmt, Chunk("data", PatternBytes(4001, 11), false, true),
                               Chunk("id3 ", PatternBytes(17, 12), false, true), Chunk("LIST", PatternBytes(8, 13))});
        out.push_back({"healthyodd.wav", file, int64_t(head.size()), 1, true});
    }
    // An odd-sized chunk with its pad byte between two chunks behind the samples.
    aiff("healthyodd.aif", complete, 4000, 14,
         {Chunk("ANNO", Bytes{'t', 'a', 'k', 'e', '9'}, true, true), Chunk("AUTH", Bytes{'m', 'e', '!', '!'}, true)},
         true);
    return out;
}

std::string LayoutName(const ::testing::TestParamInfo<Recording>& info)
{
    std::string name;
    for (char c : info.param.name)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            name += c;
    return name;
}

Examined Examine(const std::string& path)
{
    Examined e;
    std::unique_ptr<SoundFile> file(new SoundFile());
    e.openResult = SoundFile_Open(file.get(), path.c_str(), SoundFileOpenReadShared);
    if (e.openResult != 0 || !file->isOpen)
        return e;
    e.opened = true;
    e.fileSize = SoundFile_GetFileSize(file.get());
    e.dataOffset = int64_t(SoundFile_GetDataOffset(file.get()));
    e.declared = file->info.dataBytes;
    SoundFile_Close(file.get());
    return e;
}

void ExpectWholeFramesKept(const Recording& r, const Bytes& clean, const Bytes& got)
{
    const int64_t present = int64_t(r.bytes.size()) - r.dataOffset;
    const int64_t whole = present / r.blockAlign * r.blockAlign;
    const int64_t end = r.dataOffset + whole;
    ASSERT_GE(int64_t(got.size()), end) << "samples are missing";
    ASSERT_LE(got.size(), clean.size()) << "more than padding follows the samples";
    EXPECT_TRUE(std::equal(r.bytes.begin() + r.dataOffset, r.bytes.begin() + end, got.begin() + r.dataOffset))
        << "a sample byte changed";
    EXPECT_TRUE(std::all_of(got.begin() + end, got.end(), [](uint8_t b) { return b == 0; }))
        << "only zero padding may follow the samples";
    const bool aiff = r.name.find(".aif") != std::string::npos;
    if (r.name.find(".w64") != std::string::npos) {
        uint64_t riff = 0;
        for (int i = 7; i >= 0; --i)
            riff = riff << 8 | got[size_t(16 + i)];
        EXPECT_GE(int64_t(riff), end) << "the riff size must cover the samples";
        EXPECT_LE(int64_t(riff), int64_t(got.size())) << "the riff size must not pass the end of the file";
    }
    if (aiff || std::equal(got.begin(), got.begin() + 4, "RIFF")) {
        uint32_t form = aiff ? uint32_t(got[4]) << 24 | uint32_t(got[5]) << 16 | uint32_t(got[6]) << 8 | got[7]
                             : uint32_t(got[7]) << 24 | uint32_t(got[6]) << 16 | uint32_t(got[5]) << 8 | got[4];
        EXPECT_GE(int64_t(form), end - 8) << "the FORM or RIFF size must cover the samples";
        EXPECT_LE(int64_t(form), int64_t(got.size()) - 8) << "the FORM or RIFF size must not pass the end of the file";
    }
    for (int64_t at = 0; at < r.dataOffset; ++at) {
        if (aiff && at >= 4 && at < 8)
            continue;
        if (got[size_t(at)] != r.bytes[size_t(at)] && got[size_t(at)] != clean[size_t(at)]) {
            ADD_FAILURE() << "header byte " << at << " is neither the original nor the repaired one";
            break;
        }
    }
}

Reference Undisturbed(const Recording& r, const TempDir& dir)
{
    Reference ref;
    std::string path = dir.write(r.name, r.bytes);
    FaultGuard guard;
    ref.lines = ScanRun().run(dir.path());
    for (uint32_t i = 0; i < 8; ++i)
        ref.calls[i] = FileFault_Count(1u << i);
    FileFault_Disarm();
    ref.bytes = ReadFileBytes(path);
    return ref;
}

void ExpectNextScanFinishes(const Recording& r, const Reference& ref, const TempDir& dir)
{
    const std::string path = dir.file(r.name);
    Lines second = ScanRun().run(dir.path());
    Bytes got = ReadFileBytes(path);
    ExpectWholeFramesKept(r, ref.bytes, got);
    const int64_t whole = (int64_t(r.bytes.size()) - r.dataOffset) / r.blockAlign * r.blockAlign;
    Examined e = Examine(path);
    ASSERT_TRUE(e.opened);
    EXPECT_EQ(whole, e.declared) << "the header declares every whole frame";
    EXPECT_EQ((Lines{OkLine(r.name)}), ScanRun().run(dir.path())) << "second scan said: " << ::testing::PrintToString(second);
    EXPECT_EQ(got, ReadFileBytes(path)) << "a complete file changes no more";
}
