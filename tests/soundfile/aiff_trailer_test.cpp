// What follows the declared samples: metadata and padding that a repair
// must leave alone, and samples of an unfinished recording that it must not.
#include <gtest/gtest.h>

#include "filefault.h"
#include "scanning.h"
#include "chunks.h"
#include "streams.h"

namespace {

// 8-bit mono, 1001 frames: an odd SSND chunk.
AiffLayout OddSsnd()
{
    AiffLayout layout;
    layout.channels = 1;
    layout.sampleSize = 8;
    layout.frames = 1001;
    layout.samples = PatternBytes(1001);
    return layout;
}

AiffLayout Stereo(uint32_t frames)
{
    AiffLayout layout;
    layout.frames = frames;
    layout.samples = PatternBytes(4 * frames);
    return layout;
}

struct TrailerCase {
    const char* what;
    Bytes file;
    int32_t expected;
    size_t kept = 0;  // bytes at the end that every scan leaves as they are
};

std::vector<TrailerCase> Cases()
{
    std::vector<TrailerCase> c;
    c.push_back({"nothing follows", BuildAiff(Stereo(100)), 0});
    {
        AiffLayout s = Stereo(100);
        s.frames = 200;
        c.push_back({"header declares more than present", BuildAiff(s), 0});
    }
    {
        AiffLayout s = Stereo(100);
        s.after = {Chunk("ID3 ", Bytes(30, 'i'), true)};
        c.push_back({"one chunk", BuildAiff(s), 1});
        s.after = {Chunk("NAME", Bytes(5, 'n'), true, true), Chunk("ANNO", Bytes(7, 'a'), true, true),
                   Chunk("COMT", Bytes(0), true), Chunk("APPL", Bytes(9, 'x'), true, true)};
        c.push_back({"odd chunks with pad bytes", BuildAiff(s), 1});
        s.after = {Chunk("NAME", Bytes(5, 'n'), true, false), Chunk("ANNO", Bytes(7, 'a'), true, false)};
        c.push_back({"odd chunks whose writer left out the pad", BuildAiff(s), 1});
        // The samples end where a known chunk begins, whatever a broken
        // writer left behind it.
        s.after = {Chunk("NAME", Bytes(5, 'n'), true, true), Bytes({1, 2, 3})};
        c.push_back({"chunk followed by junk", BuildAiff(s), ChunkFollowChunks});
        s.after = {Chunk("NAME", Bytes(5, 'n'), true, true, 20)};
        c.push_back({"chunk reaching beyond the end", BuildAiff(s), 0});
        s.after = {Chunk(std::string("NA\x01", 3) + "E", Bytes(6, 'n'), true)};
        c.push_back({"id with a control character", BuildAiff(s), 0});
    }
    {
        AiffLayout s = OddSsnd();
        s.ssndPad = true;
        c.push_back({"pad byte of an odd SSND", BuildAiff(s), ChunkFollowPad});
        s.after = {Chunk("ANNO", Bytes(4, 'a'), true)};
        c.push_back({"pad byte and a chunk", BuildAiff(s), 1});
        s.ssndPad = false;
        c.push_back({"odd SSND without pad, then a chunk", BuildAiff(s), 1});
        Bytes f = BuildAiff(OddSsnd());
        f.push_back(0x55);
        c.push_back({"one sample behind an odd SSND", f, 0});
    }
    {
        // SSND declares 100 zero bytes beyond the frames.
        AiffLayout s = Stereo(100);
        s.samples.resize(500, 0);
        s.ssndSize = 8 + 500;
        s.after = {Chunk("NAME", Bytes(4, 'n'), true)};
        c.push_back({"zeros to the end of the SSND chunk, then a chunk", BuildAiff(s), 1});
        s.samples[450] = 1;
        // They are samples then, and the chunk behind SSND is no sample.
        c.push_back({"the SSND's extra bytes are not zero", BuildAiff(s), 0, 12});
    }
    {
        AiffLayout s = Stereo(100);
        s.blockSize = 4096;
        Bytes f = BuildAiff(s);
        f.resize(4096, 0);
        c.push_back({"zero padding to the block size", f, ChunkFollowPad});
        Bytes partial = f;
        partial.resize(1000);
        c.push_back({"padding cut short", partial, ChunkFollowPad});
        Bytes chunkBehind = f;
        Bytes name = Chunk("NAME", Bytes(4, 'n'), true);
        chunkBehind.insert(chunkBehind.end(), name.begin(), name.end());
        c.push_back({"padding, then a chunk", chunkBehind, 1});
        f.resize(4097, 0);
        c.push_back({"zeros beyond the block", f, 0});
        f.resize(4096);
        f[3000] = 7;
        c.push_back({"samples within the block", f, 0});
    }
    {
        // Without a block size, zeros behind the samples are silence.
        Bytes f = BuildAiff(Stereo(100));
        f.resize(f.size() + 400, 0);
        c.push_back({"trailing silence", f, 0});
    }
    {
        // An unfinished recording: the header declares 100 frames, 2000 follow.
        AiffLayout s = Stereo(2100);
        s.frames = 100;
        s.ssndSize = 8 + 400;
        c.push_back({"unfinished recording", BuildAiff(s), 0});
    }
    {
        // A zero-filled region larger than any padding is not metadata.
        AiffLayout s = Stereo(100);
        s.samples.resize(400 + (2 << 20), 0);
        s.ssndSize = 8 + int64_t(s.samples.size());
        c.push_back({"megabytes of zeros in the SSND chunk", BuildAiff(s), 0});
    }
    return c;
}

TEST(AiffTrailer, WhatFollowsTheSamples)
{
    TempDir dir;
    int i = 0;
    for (const TrailerCase& t : Cases()) {
        SCOPED_TRACE(t.what);
        std::string p = dir.write("t" + std::to_string(i++) + ".aif", t.file);
        ScopedAiff a;
        ASSERT_EQ(AiffOpenOk, a.open(p));
        EXPECT_EQ(t.expected, AiffStream_HasChunkTrailer(&a.s));
        EXPECT_EQ(0, AiffStream_Close(&a.s));
        EXPECT_EQ(t.file, ReadFileBytes(p));
        // A scan leaves metadata alone and repairs only what is samples.
        std::string outcome = ScanOnce(p);
        if (t.expected != ChunkFollowNothing) {
            EXPECT_EQ("ok", outcome);
        }
        if (outcome == "ok") {
            EXPECT_EQ(t.file, ReadFileBytes(p));
        }
        if (t.kept > 0) {
            const Bytes after = ReadFileBytes(p);
            ASSERT_GE(after.size(), t.kept);
            EXPECT_EQ(Slice(t.file, t.file.size() - t.kept, t.kept), Slice(after, after.size() - t.kept, t.kept));
        }
        EXPECT_EQ("ok", ScanOnce(p)) << "a second scan changes nothing";
    }
}

// A disk that fails while the check looks behind the samples: no answer
// that would let the scan turn metadata into samples.
TEST(AiffTrailer, FailedReadIsNoAnswer)
{
    TempDir dir;
    AiffLayout s = Stereo(100);
    s.blockSize = 64;
    // The samples end at 454: zero padding to 512, then two chunks.
    s.after = {Bytes(58, 0), Chunk("NAME", Bytes(5, 'n'), true, true), Chunk("ID3 ", Bytes(30, 'i'), true)};
    std::string p = dir.write("t.aif", BuildAiff(s));
    {
        ScopedAiff a;
        ASSERT_EQ(AiffOpenOk, a.open(p));
        FileFault_Disarm();
        ASSERT_EQ(1, AiffStream_HasChunkTrailer(&a.s));
    }
    const uint32_t reads = FileFault_Count(FileFaultRead);
    const uint32_t seeks = FileFault_Count(FileFaultSeek);
    ASSERT_GE(reads, 3u);
    for (uint32_t op : {uint32_t(FileFaultRead), uint32_t(FileFaultSeek)}) {
        for (uint32_t nth = 1; nth <= (op == FileFaultRead ? reads : seeks); ++nth) {
            SCOPED_TRACE(std::to_string(op) + " " + std::to_string(nth));
            ScopedAiff a;
            ASSERT_EQ(AiffOpenOk, a.open(p));
            FileFault_Arm(op, nth, 0);
            EXPECT_EQ(StreamResultIoFailed, AiffStream_HasChunkTrailer(&a.s));
            FileFault_Disarm();
        }
    }
}

TEST(AiffTrailer, ReadsStillFindTheSamplesAfterTheCheck)
{
    TempDir dir;
    AiffLayout s = Stereo(100);
    s.after = {Chunk("ID3 ", Bytes(30, 'i'), true)};
    ScopedAiff a;
    ASSERT_EQ(AiffOpenOk, a.open(dir.write("t.aif", BuildAiff(s))));
    ASSERT_EQ(1, AiffStream_HasChunkTrailer(&a.s));
    EXPECT_EQ(0, a.s.filePosState) << "the check moved the file pointer";
    Bytes frames(8);
    ASSERT_EQ(0, a.s.readFrames(&a.s, frames.data(), 8, 1));
    // 16-bit samples arrive in host order (little-endian here).
    Bytes expected = Slice(s.samples, 0, 8);
    for (size_t i = 0; i < expected.size(); i += 2)
        std::swap(expected[i], expected[i + 1]);
    EXPECT_EQ(expected, frames);
}

}  // namespace
