// Repairing AIFF headers: the recomputed sizes, the bytes the close writes,
// block padding, the refusals, failures of the file system, interrupted
// closes, and a read-back by readers we did not write.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include "filefault.h"
#include "scanning.h"
#include "streams.h"

namespace {

// The example recording: 16-bit stereo at 44100 Hz declaring 100 frames,
// holding 10,003 sample bytes (2500 frames and 3 bytes of a frame cut off).
AiffLayout Example(uint32_t blockSize)
{
    AiffLayout layout;
    layout.frames = 100;
    layout.samples = PatternBytes(10003);
    layout.blockSize = blockSize;
    layout.ssndSize = 8 + 400;
    layout.formSize = 54 + 400 - 8;
    return layout;
}

// The file as a correct repair leaves it.
Bytes Repaired(Bytes file, uint32_t frames, uint32_t blockAlign, int64_t padTo = 0)
{
    uint32_t dataOffset = 54;
    uint32_t dataBytes = frames * blockAlign;
    file.resize(dataOffset + dataBytes);
    if (padTo > int64_t(file.size()))
        file.resize(size_t(padTo), 0);
    memcpy(file.data() + 4, Be32Bytes(uint32_t(file.size() - 8)).data(), 4);
    memcpy(file.data() + 22, Be32Bytes(frames).data(), 4);
    memcpy(file.data() + 42, Be32Bytes(dataBytes + 8).data(), 4);
    return file;
}

TEST(AiffRepair, ExampleWithoutBlockSize)
{
    TempDir dir;
    Bytes original = BuildAiff(Example(0));
    ASSERT_EQ(10057u, original.size());
    std::string p = dir.write("take.aif", original);
    ScopedAiff a;
    ASSERT_EQ(AiffOpenOk, a.open(p));
    ASSERT_EQ(0, AiffStream_HasChunkTrailer(&a.s));
    ASSERT_EQ(0, AiffStream_Repair(&a.s));
    EXPECT_EQ(2500, a.s.frameCount);
    EXPECT_EQ(10000, a.s.dataBytes);
    EXPECT_EQ(1, a.s.headerDirty);
    EXPECT_EQ(0, a.s.filePosState);
    EXPECT_EQ(100u, a.s.commSampleFrames);
    EXPECT_EQ(10057, a.s.fileSize);
    EXPECT_EQ(10054, FileLength(p)) << "the partial frame is cut at once";
    // FORM and SSND sizes go before the cut; the frame count waits for the close.
    Bytes sized = Slice(original, 0, 54);
    memcpy(sized.data() + 4, Be32Bytes(10046).data(), 4);
    memcpy(sized.data() + 42, Be32Bytes(10008).data(), 4);
    EXPECT_EQ(sized, ReadThrough(a.s.handle, 0, 54));

    FileFault_Disarm();
    EXPECT_EQ(0, AiffStream_Close(&a.s));
    EXPECT_EQ(3u, FileFault_Count(FileFaultWrite));
    EXPECT_EQ(FileHandleNone, a.s.handle);
    EXPECT_EQ(0, a.s.headerDirty);
    Bytes after = ReadFileBytes(p);
    EXPECT_EQ(10046u, Be32At(after, 4));
    EXPECT_EQ(2500u, Be32At(after, 22));
    EXPECT_EQ(10008u, Be32At(after, 42));
    EXPECT_EQ(Repaired(original, 2500, 4), after) << "no other byte changes";
    EXPECT_EQ("ok", ScanOnce(p));
    EXPECT_EQ(after, ReadFileBytes(p));
}

TEST(AiffRepair, ExampleWithBlockSize4096IsPadded)
{
    TempDir dir;
    Bytes original = BuildAiff(Example(4096));
    std::string p = dir.write("take.aif", original);
    ScopedAiff a;
    ASSERT_EQ(AiffOpenOk, a.open(p));
    ASSERT_EQ(0, AiffStream_Repair(&a.s));
    EXPECT_EQ(10054, FileLength(p));
    FileFault_Disarm();
    EXPECT_EQ(0, AiffStream_Close(&a.s));
    // Three fields, 2234 zero bytes in pieces of 512, 512, 512, 512 and 186,
    // and the FORM size again.
    EXPECT_EQ(3u + 5 + 1, FileFault_Count(FileFaultWrite));
    Bytes after = ReadFileBytes(p);
    ASSERT_EQ(12288u, after.size());
    EXPECT_EQ(12280u, Be32At(after, 4));
    EXPECT_EQ(2500u, Be32At(after, 22));
    EXPECT_EQ(10008u, Be32At(after, 42));
    EXPECT_EQ(Bytes(2234, 0), Slice(after, 10054, 2234));
    EXPECT_EQ(Repaired(original, 2500, 4, 12288), after);

    // The padding is not taken for samples by the next scan.
    EXPECT_EQ("ok", ScanOnce(p));
    EXPECT_EQ(after, ReadFileBytes(p));
}

TEST(AiffRepair, NoPaddingWhenAlignedOrBlockSizeBelowTwo)
{
    TempDir dir;
    for (uint32_t blockSize : {0u, 1u, 4096u}) {
        SCOPED_TRACE(blockSize);
        AiffLayout layout;
        // For 4096 the samples end at 8192.
        layout.frames = 0;
        layout.channels = 1;
        layout.samples = PatternBytes(blockSize == 4096 ? 8192 - 54 : 998);
        layout.blockSize = blockSize;
        layout.ssndSize = 8;
        Bytes original = BuildAiff(layout);
        std::string p = dir.write("take" + std::to_string(blockSize) + ".aif", original);
        ScopedAiff a;
        ASSERT_EQ(AiffOpenOk, a.open(p));
        ASSERT_EQ(0, AiffStream_Repair(&a.s));
        FileFault_Disarm();
        EXPECT_EQ(0, AiffStream_Close(&a.s));
        EXPECT_EQ(3u, FileFault_Count(FileFaultWrite)) << "the FORM size is written once";
        EXPECT_EQ(int64_t(original.size()), FileLength(p));
        Bytes after = ReadFileBytes(p);
        EXPECT_EQ(uint32_t(original.size() - 8), Be32At(after, 4));
        EXPECT_EQ(uint32_t(layout.samples.size() / 2), Be32At(after, 22));
    }
}

TEST(AiffRepair, CleanCloseNeitherWritesNorFlushes)
{
    TempDir dir;
    AiffLayout layout;
    layout.frames = 10;
    layout.samples = PatternBytes(40);
    Bytes original = BuildAiff(layout);
    std::string p = dir.write("take.aif", original);
    ScopedAiff a;
    ASSERT_EQ(AiffOpenOk, a.open(p));
    FileFault_Disarm();
    EXPECT_EQ(0, AiffStream_Close(&a.s));
    EXPECT_EQ(0u, FileFault_Count(FileFaultWrite | FileFaultTruncate));
    EXPECT_EQ(0u, FileFault_Count(FileFaultFlush)) << "a file only read needs no flush";
    EXPECT_EQ(original, ReadFileBytes(p));
    EXPECT_EQ(0, AiffStream_Close(&a.s)) << "a second close does nothing";
    EXPECT_EQ(1u, FileFault_Count(FileFaultClose));
}

TEST(AiffRepair, LessThanOneFrame)
{
    TempDir dir;
    AiffLayout layout;
    layout.frames = 0;
    layout.samples = PatternBytes(3);
    layout.ssndSize = 8;
    Bytes original = BuildAiff(layout);
    std::string p = dir.write("take.aif", original);
    ScopedAiff a;
    ASSERT_EQ(AiffOpenOk, a.open(p));
    ASSERT_EQ(0, AiffStream_Repair(&a.s));
    EXPECT_EQ(0, a.s.frameCount);
    EXPECT_EQ(0, a.s.dataBytes);
    EXPECT_EQ(1, a.s.headerDirty);
    EXPECT_EQ(54, FileLength(p));
    FileFault_Disarm();
    EXPECT_EQ(0, AiffStream_Close(&a.s));
    EXPECT_EQ(0u, FileFault_Count(FileFaultWrite | FileFaultFlush));
    EXPECT_EQ(Slice(original, 0, 54), ReadFileBytes(p));
}

TEST(AiffRepair, FileShorterThanTheDataOffsetIsLeftAlone)
{
    TempDir dir;
    AiffLayout layout;
    layout.frames = 0;
    layout.ssndOffset = 0;
    layout.ssndSize = 8;
    Bytes original = BuildAiff(layout);
    // The offset field points 100 bytes beyond the end of the file.
    memcpy(original.data() + 46, Be32Bytes(100).data(), 4);
    std::string p = dir.write("take.aif", original);
    ScopedAiff a;
    ASSERT_EQ(AiffOpenOk, a.open(p));
    ASSERT_EQ(154u, a.s.dataOffset);
    ASSERT_EQ(54, a.s.fileSize);
    EXPECT_EQ(0, AiffStream_HasChunkTrailer(&a.s));
    FileFault_Disarm();
    EXPECT_EQ(StreamResultIoFailed, AiffStream_Repair(&a.s));
    EXPECT_EQ(0u, FileFault_Count(FileFaultSeek | FileFaultTruncate | FileFaultWrite));
    EXPECT_EQ(0, a.s.headerDirty);
    EXPECT_EQ(0, a.s.frameCount);
    EXPECT_EQ(1, a.s.filePosState);
    EXPECT_EQ(0, AiffStream_Close(&a.s));
    EXPECT_EQ(original, ReadFileBytes(p));
}

// A header whose sizes would not fit AIFF's 32-bit fields is not written:
// a FORM size that wrapped would make every reader see a tiny file.
TEST(AiffRepair, SamplesEndingBeyondThe32BitFieldsAreRefused)
{
    TempDir dir;
    AiffLayout layout;
    layout.channels = 1;
    layout.sampleSize = 8;
    layout.frames = 0;
    layout.ssndSize = 8;
    layout.samples = PatternBytes(64);
    Bytes header = BuildAiff(layout);

    // FORM size = end - 8 = 0xFFFFFFFF exactly: the largest repair that fits.
    const int64_t largest = 0x100000007LL;
    std::string fits = dir.write("fits.aif", header);
    ASSERT_TRUE(SetFileLength(fits, largest));
    {
        ScopedAiff a;
        ASSERT_EQ(AiffOpenOk, a.open(fits));
        ASSERT_EQ(0, AiffStream_Repair(&a.s));
        EXPECT_EQ(largest - 54, a.s.frameCount);
        EXPECT_EQ(0, AiffStream_Close(&a.s));
        Bytes h = ReadAt(fits, 0, 54);
        ASSERT_EQ(54u, h.size());
        EXPECT_EQ(0xFFFFFFFFu, Be32At(h, 4));
        EXPECT_EQ(uint32_t(largest - 54), Be32At(h, 22));
        EXPECT_EQ(uint32_t(largest - 54 + 8), Be32At(h, 42));
        EXPECT_EQ(largest, FileLength(fits));
    }

    for (int64_t length : {largest + 1, 54 + 5 * GiB}) {
        SCOPED_TRACE(length);
        std::string big = dir.write("big.aif", header);
        ASSERT_TRUE(SetFileLength(big, length));
        ScopedAiff a;
        ASSERT_EQ(AiffOpenOk, a.open(big));
        FileFault_Disarm();
        EXPECT_EQ(StreamResultIoFailed, AiffStream_Repair(&a.s));
        EXPECT_EQ(0u, FileFault_Count(FileFaultSeek | FileFaultTruncate | FileFaultWrite));
        EXPECT_EQ(0, a.s.headerDirty);
        EXPECT_EQ(0, a.s.frameCount);
        EXPECT_EQ(0, AiffStream_Close(&a.s));
        EXPECT_EQ(length, FileLength(big));
        EXPECT_EQ(Slice(header, 0, 54), ReadAt(big, 0, 54));
    }

    // The padding to the block size must fit as well.
    layout.blockSize = 4096;
    std::string padded = dir.write("padded.aif", BuildAiff(layout));
    ASSERT_TRUE(SetFileLength(padded, largest - 1));
    ScopedAiff a;
    ASSERT_EQ(AiffOpenOk, a.open(padded));
    EXPECT_EQ(StreamResultIoFailed, AiffStream_Repair(&a.s));
    EXPECT_EQ(0, AiffStream_Close(&a.s));
    EXPECT_EQ(largest - 1, FileLength(padded));
}

TEST(AiffRepair, GarbledBlockSizeWritesNoHugePadding)
{
    TempDir dir;
    AiffLayout layout = Example(0xFFFFFFF0u);
    Bytes original = BuildAiff(layout);
    std::string p = dir.write("take.aif", original);
    EXPECT_EQ("repaired", ScanOnce(p));
    EXPECT_EQ(Repaired(original, 2500, 4), ReadFileBytes(p));
    EXPECT_EQ("ok", ScanOnce(p));
}

TEST(AiffRepair, NullAndClosedStreams)
{
    EXPECT_EQ(-1, AiffStream_Repair(nullptr));
    EXPECT_EQ(-1, AiffStream_UpdateHeader(nullptr));
    EXPECT_EQ(-1, AiffStream_Close(nullptr));
    EXPECT_EQ(0, AiffStream_HasChunkTrailer(nullptr));
    ScopedAiff closed;
    EXPECT_EQ(StreamResultIoFailed, AiffStream_Repair(&closed.s));
    EXPECT_EQ(0, AiffStream_Close(&closed.s));
}

TEST(AiffRepair, ReadOnlyStreamIsNotRepaired)
{
    TempDir dir;
    Bytes original = BuildAiff(Example(0));
    std::string p = dir.write("take.aif", original);
    for (int32_t flag : {0x20, 0}) {
        ScopedAiff a;
        ASSERT_EQ(AiffOpenOk, a.open(p, flag));
        EXPECT_EQ(StreamResultIoFailed, AiffStream_Repair(&a.s));
        EXPECT_EQ(0, a.s.headerDirty);
        EXPECT_EQ(100, a.s.frameCount);
        EXPECT_EQ(0, AiffStream_Close(&a.s)) << "nothing was written, nothing is lost";
        EXPECT_EQ(original, ReadFileBytes(p));
    }
}

TEST(AiffRepair, FailedMoveOrCutIsReported)
{
    TempDir dir;
    Bytes original = BuildAiff(Example(0));
    for (uint32_t op : {uint32_t(FileFaultSeek), uint32_t(FileFaultTruncate)}) {
        SCOPED_TRACE(op);
        std::string p = dir.write("take.aif", original);
        ScopedAiff a;
        ASSERT_EQ(AiffOpenOk, a.open(p));
        FileFault_Arm(op, 1, 0);
        EXPECT_EQ(StreamResultIoFailed, AiffStream_Repair(&a.s));
        FileFault_Disarm();
        EXPECT_EQ(0, a.s.headerDirty) << "a failed repair is never written as one";
        EXPECT_EQ(100, a.s.frameCount);
        EXPECT_EQ(400, a.s.dataBytes);
        EXPECT_EQ(0, AiffStream_Close(&a.s));
        // A failed move writes nothing; after a failed cut FORM and SSND
        // already hold the repaired sizes, and the old frame count sends
        // the next scan back to the repair.
        Bytes expected = original;
        if (op == FileFaultTruncate) {
            memcpy(expected.data() + 4, Be32Bytes(10046).data(), 4);
            memcpy(expected.data() + 42, Be32Bytes(10008).data(), 4);
        }
        EXPECT_EQ(expected, ReadFileBytes(p));
    }
}

TEST(AiffRepair, FailedHeaderWritePaddingOrFlushIsReported)
{
    TempDir dir;
    Bytes original = BuildAiff(Example(4096));
    // Writes: FORM, SSND, COMM, five pieces of padding, FORM; flushes: three.
    struct Fault {
        uint32_t op;
        uint32_t nth;
    };
    const Fault faults[] = {{FileFaultWrite, 1}, {FileFaultWrite, 2}, {FileFaultWrite, 3}, {FileFaultWrite, 4},
                            {FileFaultWrite, 8}, {FileFaultWrite, 9}, {FileFaultFlush, 1}, {FileFaultFlush, 2},
                            {FileFaultFlush, 3}, {FileFaultSeek, 1}, {FileFaultSeek, 4}, {FileFaultClose, 1}};
    for (const Fault& f : faults) {
        SCOPED_TRACE(std::to_string(f.op) + "/" + std::to_string(f.nth));
        std::string p = dir.write("take.aif", original);
        ScopedAiff a;
        ASSERT_EQ(AiffOpenOk, a.open(p));
        ASSERT_EQ(0, AiffStream_Repair(&a.s));
        FileFault_Arm(f.op, f.nth, 0);
        EXPECT_EQ(StreamResultIoFailed, AiffStream_Close(&a.s));
        FileFault_Disarm();
        EXPECT_EQ(FileHandleNone, a.s.handle);
        // Whatever failed, the samples are all there and the next scan
        // finishes the job.
        std::string outcome = ScanOnce(p);
        EXPECT_TRUE(outcome == "ok" || outcome == "repaired") << outcome;
        Bytes after = ReadFileBytes(p);
        ASSERT_GE(after.size(), 10054u);
        EXPECT_EQ(Slice(original, 54, 10000), Slice(after, 54, 10000));
        EXPECT_EQ(2500u, Be32At(after, 22));
        EXPECT_EQ(10008u, Be32At(after, 42));
        EXPECT_EQ("ok", ScanOnce(p));
    }
}

// A process killed while the close rewrites the header: every write from
// the nth on is lost. The next scan must bring the file to a header that
// covers every sample, and never declare more than the file holds.
TEST(AiffRepair, InterruptedCloseIsFinishedByTheNextScan)
{
    TempDir dir;
    for (uint32_t blockSize : {0u, 4096u}) {
        Bytes original = BuildAiff(Example(blockSize));
        uint32_t writes = blockSize ? 9 : 3;
        for (uint32_t n = 1; n <= writes + 1; ++n) {
            for (uint32_t op : {uint32_t(FileFaultWrite), uint32_t(FileFaultFlush)}) {
                SCOPED_TRACE(std::to_string(blockSize) + " " + std::to_string(op) + " " + std::to_string(n));
                std::string p = dir.write("take.aif", original);
                ScopedAiff a;
                ASSERT_EQ(AiffOpenOk, a.open(p));
                ASSERT_EQ(0, AiffStream_Repair(&a.s));
                FileFault_Arm(op, n, FileFaultAll & ~FileFaultClose);
                AiffStream_Close(&a.s);
                FileFault_Disarm();

                Bytes crashed = ReadFileBytes(p);
                uint32_t declared = Be32At(crashed, 22);
                EXPECT_TRUE(declared == 100 || declared == 2500) << declared;
                if (declared == 2500) {
                    EXPECT_EQ(10008u, Be32At(crashed, 42)) << "the count is only written behind the sizes";
                    EXPECT_GE(Be32At(crashed, 4), 10046u);
                }
                std::string outcome = ScanOnce(p);
                EXPECT_EQ(declared == 100 ? "repaired" : "ok", outcome);
                Bytes after = ReadFileBytes(p);
                ASSERT_GE(after.size(), 10054u);
                EXPECT_EQ(Slice(original, 54, 10000), Slice(after, 54, 10000));
                EXPECT_EQ(2500u, Be32At(after, 22));
                EXPECT_EQ(10008u, Be32At(after, 42));
                EXPECT_LE(Be32At(after, 4), uint32_t(after.size() - 8));
                EXPECT_EQ("ok", ScanOnce(p));
                EXPECT_EQ(after, ReadFileBytes(p));
            }
        }
    }
}

TEST(AiffRepair, SamplesAndMetadataBeforeThemSurvive)
{
    TempDir dir;
    AiffLayout layout;
    layout.channels = 1;
    layout.sampleSize = 24;
    layout.frames = 0;
    layout.ssndSize = 8;
    layout.ssndOffset = 12;
    layout.blockSize = 512;
    layout.before = {Chunk("FVER", Be32Bytes(0xA2805140), true)};
    layout.between = {Chunk("NAME", Bytes(5, 'n'), true, true), Chunk("ANNO", Bytes(9, 'a'), true, true)};
    layout.samples = PatternBytes(3 * 777 + 2);
    Bytes original = BuildAiff(layout);
    std::string p = dir.write("take.aiff", original);
    ScopedAiff a;
    ASSERT_EQ(AiffOpenOk, a.open(p));
    uint32_t dataOffset = a.s.dataOffset;
    uint32_t commOffset = a.s.commOffset;
    ASSERT_EQ(0, AiffStream_Repair(&a.s));
    ASSERT_EQ(0, AiffStream_Close(&a.s));
    Bytes after = ReadFileBytes(p);
    int64_t end = dataOffset + 3 * 777;
    int64_t padded = (end + 511) / 512 * 512;
    ASSERT_EQ(size_t(padded), after.size());
    EXPECT_EQ(Slice(original, 0, 4), Slice(after, 0, 4));
    EXPECT_EQ(uint32_t(padded - 8), Be32At(after, 4));
    EXPECT_EQ(Slice(original, 8, commOffset + 2 - 8), Slice(after, 8, commOffset + 2 - 8));
    EXPECT_EQ(777u, Be32At(after, commOffset + 2));
    size_t ssndSizeAt = dataOffset - 12 - 12;
    EXPECT_EQ(Slice(original, commOffset + 6, ssndSizeAt - commOffset - 6),
              Slice(after, commOffset + 6, ssndSizeAt - commOffset - 6));
    EXPECT_EQ(12u + 3 * 777 + 8, Be32At(after, ssndSizeAt));
    EXPECT_EQ(Slice(original, ssndSizeAt + 4, size_t(end) - ssndSizeAt - 4),
              Slice(after, ssndSizeAt + 4, size_t(end) - ssndSizeAt - 4));
}

#ifndef _WIN32

// sox and Python's aifc read a repaired file's every whole frame back.
TEST(AiffRepair, IndependentReadersReadEveryWholeFrame)
{
    bool haveSox = Have("sox --version");
    bool haveAifc = HavePython("aifc");
    if (!haveSox && !haveAifc)
        GTEST_SKIP() << "neither sox nor python3 with aifc";

    struct Case {
        int16_t channels;
        int16_t bits;
        uint32_t frames;
        uint32_t extra;
        uint32_t blockSize;
        uint32_t ssndOffset;
    };
    const Case cases[] = {
        {2, 16, 2500, 3, 0, 0},   {2, 16, 2500, 3, 4096, 0}, {1, 24, 1001, 2, 0, 0}, {1, 8, 4999, 0, 0, 0},
        {2, 24, 333, 5, 512, 4},  {1, 32, 100, 1, 0, 0},     {3, 16, 77, 5, 4096, 8},
    };
    TempDir dir;
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(i);
        AiffLayout layout;
        layout.channels = c.channels;
        layout.sampleSize = c.bits;
        layout.frames = 0;
        layout.ssndSize = 8;
        layout.blockSize = c.blockSize;
        layout.ssndOffset = c.ssndOffset;
        layout.between = {Chunk("NAME", Bytes(3, 'n'), true, true)};
        uint32_t blockAlign = uint32_t(c.channels) * uint32_t(c.bits / 8);
        layout.samples = PatternBytes(size_t(c.frames) * blockAlign + c.extra, uint32_t(i + 7));
        std::string p = dir.write("take" + std::to_string(i++) + ".aif", BuildAiff(layout));
        ASSERT_EQ("repaired", ScanOnce(p));
        Bytes expected = Slice(layout.samples, 0, size_t(c.frames) * blockAlign);
        bool ok = false;
        if (haveSox) {
            Bytes got = SoxRaw(p, "-e signed-integer -B", &ok);
            EXPECT_TRUE(ok);
            EXPECT_EQ(expected.size(), got.size());
            EXPECT_TRUE(expected == got) << "sox reads other samples";
        }
        // aifc ignores the SSND offset field and reads from the fields' end.
        if (haveAifc && c.ssndOffset == 0) {
            EXPECT_TRUE(PythonFrames("aifc", {p}));
            Bytes got = ReadFileBytes(p + ".raw");
            EXPECT_EQ(expected.size(), got.size());
            EXPECT_TRUE(expected == got) << "aifc reads other samples";
        }
    }
}
#endif

}  // namespace
