// How many requests the examination of a healthy recording makes: its
// header comes in one read of the file's first 4 KiB, and its length from
// the open's own measurement. On a network share every request costs a
// round trip, so these counts set the speed of an archive check.
#include <gtest/gtest.h>

#include <string.h>

#include "chunks.h"
#include "filefault.h"
#include "scanning.h"
#include "streams.h"

namespace {

struct Layout {
    const char* name;
    const char* file;   // its extension picks the reader
    Bytes bytes;
    uint32_t dataOffset;
    int64_t frames;
    uint32_t reads;     // read requests of the open
    uint32_t seeks;     // moves of the file pointer in the open
};

Bytes Rf64(const Bytes& samples)
{
    const Bytes fmt = StereoFmt();
    const uint64_t riffSize = 4 + 36 + fmt.size() + 8 + samples.size();
    return BuildWav({Chunk("ds64", Ds64Body(riffSize, samples.size(), samples.size() / 4)), fmt}, samples, 0xFFFFFFFF,
                    Bytes(), 0xFFFFFFFF, "RF64");
}

AiffLayout Aiff(uint32_t frames)
{
    return AiffLayout(2, 16, frames, PatternBytes(size_t(frames) * 4, 3));
}

AiffLayout Aifc(uint32_t frames)
{
    AiffLayout a = Aiff(frames);
    a.compression = "sowt";
    return a;
}

AiffLayout AiffBefore(uint32_t frames, const Bytes& chunk)
{
    AiffLayout a = Aiff(frames);
    a.before = {chunk};
    return a;
}

AiffLayout AiffWithTrailer(uint32_t frames)
{
    AiffLayout a = Aiff(frames);
    a.after = {Chunk("ID3 ", Bytes(30, 'i'), true)};
    return a;
}

std::vector<Layout> Layouts()
{
    const Bytes small = PatternBytes(400, 5);
    const Bytes large = PatternBytes(8000, 6);
    // Inside the head block a header costs its one read; the pointer then
    // stands behind the block, and one move puts it at the first sample.
    return {
        {"plain WAV shorter than the block", "a.wav", PlainWav(small), 44, 100, 1, 1},
        {"plain WAV longer than the block", "b.wav", PlainWav(large), 44, 2000, 1, 1},
        {"JUNK, LIST and bext before fmt", "c.wav",
         BuildWav({Chunk("JUNK", Bytes(28)), Chunk("LIST", Bytes(40, 'l')), Chunk("bext", BextBody(602)), StereoFmt()},
                  small),
         738, 100, 1, 1},
        {"odd chunk with its pad byte", "d.wav", BuildWav({Chunk("LIST", Bytes(5, 'l'), false, true), StereoFmt()}, small),
         58, 100, 1, 1},
        {"odd chunk without its pad byte", "e.wav", BuildWav({Chunk("LIST", Bytes(5, 'l')), StereoFmt()}, small), 57,
         100, 1, 1},
        {"RF64", "f.wav", Rf64(small), 80, 100, 1, 1},
        // Only what lies behind the block is read, each part where the
        // last read left the pointer: no move at all.
        {"bext reaching past the block", "g.wav", BuildWav({Chunk("bext", BextBody(4698)), StereoFmt()}, small), 4750,
         100, 5, 0},
        // The head block, then fmt header (one move over the LIST body),
        // fmt body, data header.
        {"header larger than the block", "h.wav", BuildWav({Chunk("LIST", Bytes(5000, 'l')), StereoFmt()}, small), 5052,
         100, 4, 1},
        {"plain AIFF shorter than the block", "a.aif", BuildAiff(Aiff(100)), 54, 100, 1, 1},
        {"plain AIFF longer than the block", "b.aif", BuildAiff(Aiff(2000)), 54, 2000, 1, 1},
        {"AIFF-C", "c.aifc", BuildAiff(Aifc(100)), 60, 100, 1, 1},
        {"odd chunk with its pad byte before COMM", "d.aif",
         BuildAiff(AiffBefore(100, Chunk("NAME", Bytes(5, 'n'), true, true))), 68, 100, 1, 1},
        // The chunks behind the samples are in the block too.
        {"AIFF with a chunk behind the samples", "e.aif", BuildAiff(AiffWithTrailer(100)), 54, 100, 1, 1},
        // The head block, then COMM header (one move), COMM body, SSND
        // header, SSND fields.
        {"AIFF header larger than the block", "f.aif", BuildAiff(AiffBefore(100, Chunk("ANNO", Bytes(5000, 'a'), true))),
         5062, 100, 5, 1},
    };
}

class HeadRead : public ::testing::TestWithParam<Layout> {};

TEST_P(HeadRead, OpenReadsTheHeaderOnceAndMeasuresNothingTwice)
{
    const Layout& l = GetParam();
    TempDir dir;
    const std::string path = dir.write(l.file, l.bytes);
    for (int32_t flag : {int32_t(SoundFileOpenReadShared), int32_t(SoundFileOpenReadWrite)}) {
        SCOPED_TRACE(flag);
        FaultGuard guard;
        Handle h;
        ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), flag));
        EXPECT_EQ(l.reads, FileFault_Count(FileFaultRead));
        EXPECT_EQ(l.seeks, FileFault_Count(FileFaultSeek));
        EXPECT_EQ(1u, FileFault_Count(FileFaultSize)) << "the open's own measurement, and no other";
        EXPECT_EQ(0u, FileFault_Count(FileFaultWrite | FileFaultTruncate | FileFaultFlush));
        EXPECT_EQ(int64_t(l.bytes.size()), SoundFile_GetFileSize(h.get()));
        EXPECT_EQ(l.dataOffset, SoundFile_GetDataOffset(h.get()));
        EXPECT_EQ(l.frames, h->info.frameCount);

        // The pointer is where the stream says: the first frame reads back
        // without another move.
        const bool aiff = h->kind == SoundFileKindAiff;
        EXPECT_EQ(1, aiff ? h->aiff.filePosState : h->wav.filePosState);
        FileFault_Disarm();
        Bytes frame(4);
        ASSERT_EQ(0, aiff ? h->aiff.readFrames(&h->aiff, frame.data(), 4, 1) : h->wav.readFrames(&h->wav, frame.data(), 4, 1));
        EXPECT_EQ(0u, FileFault_Count(FileFaultSeek));
        Bytes expected = Slice(l.bytes, l.dataOffset, 4);
        if (aiff && h->aiff.sampleOrder == AiffOrderBig) {
            // 16-bit samples arrive in host order (little-endian here).
            std::swap(expected[0], expected[1]);
            std::swap(expected[2], expected[3]);
        }
        EXPECT_EQ(expected, frame);
        EXPECT_EQ(0, SoundFile_Close(h.get()));
    }
    EXPECT_EQ(l.bytes, ReadFileBytes(path));
}

// The whole examination of a healthy file under a check: the open's reads,
// its measurement, and nothing behind the samples to look at.
TEST_P(HeadRead, CheckOfAHealthyFileReadsOnlyItsHeader)
{
    const Layout& l = GetParam();
    TempDir dir;
    dir.write(l.file, l.bytes);
    FaultGuard guard;
    ScanRun scan;
    scan.options.checkOnly = 1;
    EXPECT_EQ((Lines{std::string(l.file) + " HEADER OK !"}), scan.run(dir.path()));
    EXPECT_EQ(1u, FileFault_Count(FileFaultOpen));
    EXPECT_EQ(l.reads, FileFault_Count(FileFaultRead));
    EXPECT_EQ(1u, FileFault_Count(FileFaultSize));
    EXPECT_EQ(1u, FileFault_Count(FileFaultClose));
    EXPECT_EQ(0u, FileFault_Count(FileFaultWrite | FileFaultTruncate | FileFaultFlush));
}

INSTANTIATE_TEST_SUITE_P(Layouts, HeadRead, ::testing::ValuesIn(Layouts()),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c != '\0'; ++c)
                                 if ((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9'))
                                     name += *c;
                             return name;
                         });

// Bounds of the head block: a read that begins inside it and ends behind it
// takes only the rest from the file; a short file's block ends at its end,
// and a read past that end fails as the file's own read would.
TEST(HeadReadBounds, ReadsAcrossAndBehindTheBlock)
{
    TempDir dir;
    struct Case {
        const char* name;
        size_t fileBytes;
        uint64_t pos;
        uint32_t count;
        int ok;          // 1: the bytes are there
        uint32_t reads;  // read requests after the head block's
    };
    const Case cases[] = {
        {"inside the block", 9000, 100, 200, 1, 0},
        {"the block's last byte", 9000, 4095, 1, 1, 0},
        {"across the block's end", 9000, 4000, 200, 1, 1},
        {"behind the block", 9000, 5000, 100, 1, 1},
        {"the short file's last bytes", 300, 290, 10, 1, 0},
        {"one byte past the short file", 300, 291, 10, 0, 1},
        {"wholly past the short file", 300, 400, 8, 0, 1},
        {"an offset near 2^32", 300, 0xFFFFFFF8u, 8, 0, 1},
        {"an offset past 2^63", 300, (uint64_t(1) << 63) + 4, 8, 0, 0},
        {"an offset near 2^64", 300, UINT64_MAX - 2, 8, 0, 0},
        {"nothing inside the block", 9000, 10, 0, 1, 0},
        {"nothing at the block's end", 9000, 4096, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = PatternBytes(c.fileBytes, 11);
        const std::string path = dir.write("f.bin", bytes);
        FaultGuard guard;
        FileHandle handle;
        ASSERT_EQ(1, File_Open(path.c_str(), FileModeReadShared, &handle, 128));
        ChunkCursor cursor;
        ChunkCursor_Init(&cursor, handle, &ChunkRulesRiff, 0);
        ASSERT_EQ(1, Chunk_ReadHead(&cursor));
        EXPECT_EQ(c.fileBytes < ChunkHeadCapacity ? c.fileBytes : size_t(ChunkHeadCapacity), cursor.headLength);
        EXPECT_EQ(1u, FileFault_Count(FileFaultRead));
        Bytes got(c.count + 1, 0xEE);
        EXPECT_EQ(c.ok, Chunk_ReadAt(&cursor, c.pos, got.data(), c.count));
        EXPECT_EQ(1u + c.reads, FileFault_Count(FileFaultRead));
        if (c.ok) {
            EXPECT_EQ(Slice(bytes, size_t(c.pos), c.count), Slice(got, 0, c.count));
            EXPECT_EQ(0xEE, got[c.count]) << "nothing written past the request";
        }
        EXPECT_EQ(1, File_Close(handle));
    }
}

// A failed head read is a failed read: no header is taken from a block
// that never came.
TEST(HeadReadBounds, FailedHeadReadRefusesTheFile)
{
    TempDir dir;
    const std::string wav = dir.write("a.wav", PlainWav(PatternBytes(400)));
    const std::string aiff = dir.write("a.aif", BuildAiff(Aiff(100)));
    FaultGuard guard;
    {
        Handle h;
        FileFault_Arm(FileFaultRead, 1, 0);
        EXPECT_EQ(int32_t(SoundFileErrWav), SoundFile_Open(h.get(), wav.c_str(), 1));
    }
    {
        Handle h;
        FileFault_Arm(FileFaultRead, 1, 0);
        EXPECT_EQ(int32_t(SoundFileErrCannotRead), SoundFile_Open(h.get(), aiff.c_str(), 1));
    }
}

}  // namespace
