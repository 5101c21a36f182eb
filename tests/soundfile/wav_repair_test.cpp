// Header repair and update: the header bytes written for every form, sparse
// files past 4 GiB, idempotence, failures reported, and crashes between any
// two writes leaving a file that a second scan repairs.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>

#include "commit.h"
#include "filefault.h"
#include "scanning.h"
#include "streams.h"

namespace {

// Opens, repairs and closes; returns the close's result.
int32_t RepairFile(const std::string& path)
{
    ScopedWav wav;
    EXPECT_EQ(WavOpenOk, wav.open(path));
    EXPECT_EQ(0, WavStream_Repair(&wav.s));
    return WavStream_Close(&wav.s);
}

Bytes Patched32(Bytes b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
    b[at + 2] = uint8_t(v >> 16);
    b[at + 3] = uint8_t(v >> 24);
    return b;
}

TEST(WavRepair, UnfinishedRecordingGetsItsWholeFrames)
{
    // No lease, so that another opener may look while the stream holds the file.
    FaultGuard guard;
    FileFault_RefuseLeases(1);
    TempDir dir;
    Bytes samples = PatternBytes(1000003);
    Bytes file = PlainWav(samples, 0);
    std::string path = dir.write("take.wav", file);
    ScopedWav wav;
    ASSERT_EQ(WavOpenOk, wav.open(path));
    EXPECT_EQ(1000047, wav.s.fileSize);
    ASSERT_EQ(0, WavStream_Repair(&wav.s));
    EXPECT_EQ(250000, wav.s.frameCount);
    EXPECT_EQ(1000000, wav.s.dataBytes);
    EXPECT_EQ(1, wav.s.headerDirty);
    EXPECT_EQ(0, wav.s.filePosState);
    EXPECT_EQ(1000047, wav.s.fileSize) << "the size measured at open is kept";
    EXPECT_EQ(1000044, FileLength(path));
#ifndef _WIN32  // Windows lets no other opener read a file held unshared
    EXPECT_EQ(0u, Le32At(ReadAt(path, 40, 4), 0)) << "the header waits for the close";
#endif
    ASSERT_EQ(0, WavStream_Close(&wav.s));
    EXPECT_EQ(FileHandleNone, wav.s.handle);
    EXPECT_EQ(0u, wav.s.dataOffset);

    Bytes expected(file.begin(), file.begin() + 1000044);
    expected = Patched32(Patched32(expected, 4, 1000036), 40, 1000000);
    Bytes got = ReadFileBytes(path);
    EXPECT_EQ(1000036u, Le32At(got, 4));
    EXPECT_EQ(1000000u, Le32At(got, 40));
    EXPECT_TRUE(expected == got);

    // Idempotent: the repaired file declares what it holds; a second repair changes nothing.
    ScopedWav again;
    ASSERT_EQ(WavOpenOk, again.open(path));
    EXPECT_EQ(again.s.fileSize - int64_t(again.s.dataOffset), again.s.dataBytes);
    ASSERT_EQ(0, WavStream_Repair(&again.s));
    ASSERT_EQ(0, WavStream_Close(&again.s));
    EXPECT_TRUE(expected == ReadFileBytes(path));
}

TEST(WavRepair, WholeFramesAreNotCutButTheHeaderIsRewritten)
{
    TempDir dir;
    Bytes file = PlainWav(PatternBytes(4000), 400);
    std::string path = dir.write("take.wav", file);
    ASSERT_EQ(0, RepairFile(path));
    Bytes expected = Patched32(Patched32(file, 4, 4036), 40, 4000);
    EXPECT_EQ(expected, ReadFileBytes(path));
}

TEST(WavRepair, CleanCloseWritesNothing)
{
    TempDir dir;
    Bytes file = PlainWav(PatternBytes(4001), 12);
    std::string path = dir.write("take.wav", file);
    ScopedWav wav;
    ASSERT_EQ(WavOpenOk, wav.open(path));
    FileFault_Arm(0, 0, 0);
    EXPECT_EQ(0, WavStream_Close(&wav.s));
    EXPECT_EQ(0u, FileFault_Count(FileFaultWrite | FileFaultTruncate));
    EXPECT_EQ(0u, FileFault_Count(FileFaultFlush)) << "a file only read needs no flush";
    EXPECT_EQ(0, WavStream_Close(&wav.s));
    EXPECT_EQ(1u, FileFault_Count(FileFaultFlush | FileFaultClose)) << "a second close does nothing";
    FileFault_Disarm();
    EXPECT_EQ(file, ReadFileBytes(path));
}

TEST(WavRepair, BroadcastWaveKeepsItsMetadata)
{
    TempDir dir;
    Bytes bext = Chunk("bext", BextBody(603), false, true);
    Bytes list = Chunk("LIST", PatternBytes(31), false, true);
    Bytes head = RiffFile({bext, StereoFmt(), list, ChunkHead("data", 0)});
    Bytes samples = PatternBytes(8002);
    std::string path = dir.write("take.bwf", Cat({head, samples}));
    ASSERT_EQ(0, RepairFile(path));
    Bytes got = ReadFileBytes(path);
    ASSERT_EQ(head.size() + 8000, got.size());
    EXPECT_TRUE(std::equal(head.begin() + 12, head.end() - 4, got.begin() + 12)) << "chunks before the data survive";
    EXPECT_EQ(8000u, Le32At(got, head.size() - 4));
    EXPECT_EQ(uint32_t(got.size() - 8), Le32At(got, 4));
    EXPECT_TRUE(std::equal(samples.begin(), samples.begin() + 8000, got.begin() + long(head.size())));
}

// RF64 layout: RF64, ds64 (28 + extra), fmt, data 0xFFFFFFFF; returns the header.
Bytes Rf64Head(size_t ds64Extra = 0, uint64_t dataSize = 0)
{
    return RiffFile({Chunk("ds64", Ds64Body(0, dataSize, 0, ds64Extra)), StereoFmt(), ChunkHead("data", 0xFFFFFFFF)},
                    0xFFFFFFFF, "RF64");
}

TEST(WavRepair, Rf64BelowTheThresholdBecomesRiffWithFiller)
{
    TempDir dir;
    Bytes head = Rf64Head();
    Bytes samples = PatternBytes(4002);
    std::string path = dir.write("take.wav", Cat({head, samples}));
    ASSERT_EQ(0, RepairFile(path));
    Bytes got = ReadFileBytes(path);
    ASSERT_EQ(head.size() + 4000, got.size());
    EXPECT_EQ("RIFF", IdAt(got, 0));
    EXPECT_EQ(uint32_t(got.size() - 8), Le32At(got, 4));
    EXPECT_EQ("WAVE", IdAt(got, 8));
    EXPECT_EQ("JUNK", IdAt(got, 12));
    EXPECT_EQ(28u, Le32At(got, 16));
    EXPECT_EQ(Bytes(28, 0), Bytes(got.begin() + 20, got.begin() + 48));
    EXPECT_TRUE(std::equal(head.begin() + 48, head.end() - 4, got.begin() + 48));
    EXPECT_EQ(4000u, Le32At(got, 76));

    ScopedWav wav;
    ASSERT_EQ(WavOpenOk, wav.open(path));
    EXPECT_FALSE(wav.s.flags & WavFlagRf64);
    EXPECT_EQ(28u, wav.s.junkSize);
    EXPECT_EQ(4000, wav.s.dataBytes);
}

TEST(WavRepair, Ds64TableKeepsItsDeclaredSize)
{
    TempDir dir;
    Bytes head = Rf64Head(12);
    std::string path = dir.write("take.wav", Cat({head, PatternBytes(403)}));
    ASSERT_EQ(0, RepairFile(path));
    Bytes got = ReadFileBytes(path);
    EXPECT_EQ("JUNK", IdAt(got, 12));
    EXPECT_EQ(40u, Le32At(got, 16));
    EXPECT_EQ(Bytes(40, 0), Bytes(got.begin() + 20, got.begin() + 60)) << "the old table is covered too";
    EXPECT_EQ("fmt ", IdAt(got, 60));
    ScopedWav wav;
    ASSERT_EQ(WavOpenOk, wav.open(path));
    EXPECT_EQ(40u, wav.s.junkSize);
    EXPECT_EQ(400, wav.s.dataBytes);
}

TEST(WavRepair, ShortDs64BecomesFillerOfItsOwnSize)
{
    // A ds64 chunk declared 20 bytes long: the fmt chunk begins at 40.
    TempDir dir;
    ByteWriter w;
    w.text("RF64").u32(0xFFFFFFFF).text("WAVE").text("ds64").u32(20).u64(0).u64(0).u32(0);
    Bytes head = Cat({w.bytes, StereoFmt(), ChunkHead("data", 0)});
    std::string path = dir.write("take.wav", Cat({head, PatternBytes(402)}));
    {
        ScopedWav wav;
        ASSERT_EQ(WavOpenOk, wav.open(path));
        EXPECT_EQ(20u, wav.s.ds64Size);
        EXPECT_EQ(72u, wav.s.dataOffset);
    }
    ASSERT_EQ(0, RepairFile(path));
    Bytes got = ReadFileBytes(path);
    EXPECT_EQ("JUNK", IdAt(got, 12));
    EXPECT_EQ(20u, Le32At(got, 16));
    EXPECT_TRUE(std::equal(head.begin() + 40, head.end() - 4, got.begin() + 40)) << "fmt is untouched";
    EXPECT_EQ(400u, Le32At(got, 68));
}

TEST(WavRepair, NothingToGoByChangesNothing)
{
    TempDir dir;
    Bytes file = PlainWav(PatternBytes(4003), 0);
    std::string path = dir.write("take.wav", file);
    ScopedWav wav;
    ASSERT_EQ(WavOpenOk, wav.open(path));
    wav.s.fileSize = 0;  // a size that could not be measured
    EXPECT_EQ(StreamResultIoFailed, WavStream_Repair(&wav.s));
    EXPECT_EQ(0, wav.s.headerDirty);
    EXPECT_EQ(0, wav.s.frameCount);
    EXPECT_EQ(1, wav.s.filePosState);
    EXPECT_EQ(0, WavStream_Close(&wav.s));
    EXPECT_EQ(StreamResultIoFailed, WavStream_Repair(&wav.s)) << "a closed stream";
    EXPECT_EQ(file, ReadFileBytes(path));
    EXPECT_EQ(-1, WavStream_Repair(nullptr));
    EXPECT_EQ(-1, WavStream_UpdateHeader(nullptr));
    EXPECT_EQ(-1, WavStream_Close(nullptr));
}

TEST(WavRepair, ReadOnlyStreamIsNotRepaired)
{
    TempDir dir;
    Bytes file = PlainWav(PatternBytes(4003), 0);
    std::string path = dir.write("take.wav", file);
    ScopedWav wav;
    ASSERT_EQ(WavOpenOk, wav.open(path, 0x20));
    EXPECT_EQ(StreamResultIoFailed, WavStream_Repair(&wav.s));
    EXPECT_EQ(0, wav.s.headerDirty);
    EXPECT_EQ(0, WavStream_Close(&wav.s)) << "nothing was written: nothing to report";
    EXPECT_EQ(file, ReadFileBytes(path));
}

// ---- Faults: failures are reported, never taken for success.

TEST(WavRepairFaults, FailedMoveOrCutIsReported)
{
    for (uint32_t op : {uint32_t(FileFaultSeek), uint32_t(FileFaultTruncate)}) {
        SCOPED_TRACE(op);
        FaultGuard guard;
        TempDir dir;
        Bytes file = PlainWav(PatternBytes(4003), 0);
        std::string path = dir.write("take.wav", file);
        ScopedWav wav;
        ASSERT_EQ(WavOpenOk, wav.open(path));
        FileFault_Arm(op, 1, 0);
        EXPECT_EQ(StreamResultIoFailed, WavStream_Repair(&wav.s));
        FileFault_Disarm();
        EXPECT_EQ(0, wav.s.headerDirty);
        EXPECT_EQ(0, WavStream_Close(&wav.s));
        // A failed move writes nothing. The RIFF size goes before the cut,
        // so after a failed cut it is the repaired one; the data size still
        // declares nothing, and the next scan repairs the file.
        EXPECT_EQ(op == FileFaultSeek ? file : Patched32(file, 4, 44 + 4000 - 8), ReadFileBytes(path));
    }
}

TEST(WavRepairFaults, FailedHeaderWriteFlushOrCloseIsReported)
{
    struct Case {
        const char* name;
        uint32_t op;
        uint32_t nth;
    };
    for (const Case& c : {Case{"block write", FileFaultWrite, 1}, Case{"data size write", FileFaultWrite, 2},
                          Case{"seek", FileFaultSeek, 1}, Case{"first flush", FileFaultFlush, 1},
                          Case{"last flush", FileFaultFlush, 2}, Case{"close", FileFaultClose, 1}}) {
        SCOPED_TRACE(c.name);
        FaultGuard guard;
        TempDir dir;
        std::string path = dir.write("take.wav", PlainWav(PatternBytes(4003), 0));
        ScopedWav wav;
        ASSERT_EQ(WavOpenOk, wav.open(path));
        ASSERT_EQ(0, WavStream_Repair(&wav.s));
        FileFault_Arm(c.op, c.nth, 0);
        EXPECT_EQ(StreamResultIoFailed, WavStream_Close(&wav.s));
        FileFault_Disarm();
        EXPECT_EQ(FileHandleNone, wav.s.handle) << "the handle is released all the same";
        EXPECT_EQ(0u, wav.s.dataOffset);
        // A later scan still finishes the job.
        std::string outcome = ScanOnce(path);
        ASSERT_TRUE(outcome == "ok" || outcome == "repaired") << outcome;
        ScopedWav check;
        ASSERT_EQ(WavOpenOk, check.open(path));
        EXPECT_EQ(4000, check.s.dataBytes);
        EXPECT_EQ(4044, check.s.fileSize);
    }
}

TEST(WavRepairFaults, UpdateHeaderKeepsTheStreamDirtyAfterAFailure)
{
    FaultGuard guard;
    FileFault_RefuseLeases(1);  // another opener looks while the stream holds the file
    TempDir dir;
    std::string path = dir.write("take.wav", PlainWav(PatternBytes(4003), 0));
    ScopedWav wav;
    ASSERT_EQ(WavOpenOk, wav.open(path));
    ASSERT_EQ(0, WavStream_Repair(&wav.s));
    FileFault_Arm(FileFaultWrite, 1, 0);
    EXPECT_EQ(StreamResultIoFailed, WavStream_UpdateHeader(&wav.s));
    FileFault_Disarm();
    EXPECT_EQ(1, wav.s.headerDirty);
    EXPECT_EQ(0, WavStream_UpdateHeader(&wav.s));
    EXPECT_EQ(0, wav.s.headerDirty);
#ifndef _WIN32  // Windows lets no other opener read a file held unshared
    EXPECT_EQ(4000u, Le32At(ReadAt(path, 40, 4), 0));
#endif
}

TEST(WavRepairFaults, FlushOfAnUnchangedFileDoesNotDecide)
{
    // Some systems refuse to flush a read-only handle.
    FaultGuard guard;
    TempDir dir;
    std::string path = dir.write("take.wav", PlainWav(PatternBytes(400)));
    ScopedWav wav;
    ASSERT_EQ(WavOpenOk, wav.open(path, 0x20));
    FileFault_Arm(FileFaultFlush, 1, 0);
    EXPECT_EQ(0, WavStream_Close(&wav.s));
}

// A layout to crash in: the file, and what a clean repair leaves.
struct CrashCase {
    const char* name;
    std::function<void(const std::string&)> make;  // writes the unfinished file
    int64_t repairedLength;                         // file length after a clean repair
};

// Dies before the nth call of op: that call and every later one fail.
void CrashDuringClose(const std::string& path, uint32_t op, uint32_t nth)
{
    ScopedWav wav;
    ASSERT_EQ(WavOpenOk, wav.open(path));
    ASSERT_EQ(0, WavStream_Repair(&wav.s));
    FileFault_Arm(op, nth, FileFaultAll & ~FileFaultClose);
    WavStream_Close(&wav.s);
    FileFault_Disarm();
}

void CheckCrashSafety(const CrashCase& c)
{
    SCOPED_TRACE(c.name);
    FaultGuard guard;
    TempDir dir;
    std::string clean = dir.file("clean.wav");
    c.make(clean);
    FileFault_Arm(0, 0, 0);
    ASSERT_EQ(0, RepairFile(clean));
    uint32_t writes = FileFault_Count(FileFaultWrite);
    uint32_t flushes = FileFault_Count(FileFaultFlush);
    FileFault_Disarm();
    ASSERT_EQ(c.repairedLength, FileLength(clean));
    Bytes cleanHead = ReadAt(clean, 0, 4096);

    for (uint32_t op : {uint32_t(FileFaultWrite), uint32_t(FileFaultFlush)}) {
        uint32_t calls = op == FileFaultWrite ? writes : flushes;
        for (uint32_t nth = 1; nth <= calls; ++nth) {
            SCOPED_TRACE(testing::Message() << (op == FileFaultWrite ? "write " : "flush ") << nth);
            std::string path = dir.file("crash.wav");
            c.make(path);
            CrashDuringClose(path, op, nth);
            std::string outcome = ScanOnce(path);
            ASSERT_TRUE(outcome == "ok" || outcome == "repaired") << outcome;
            EXPECT_EQ(c.repairedLength, FileLength(path));
            EXPECT_TRUE(cleanHead == ReadAt(path, 0, 4096));
            ScopedWav wav;
            ASSERT_EQ(WavOpenOk, wav.open(path));
            EXPECT_EQ(wav.s.fileSize - int64_t(wav.s.dataOffset), wav.s.dataBytes);
        }
    }
}

TEST(WavRepairFaults, CrashBetweenAnyTwoWritesLeavesARepairableFile)
{
    Bytes samples = PatternBytes(4003);
    CheckCrashSafety({"plain", [&](const std::string& p) { WriteFileBytes(p, PlainWav(samples, 0)); }, 4044});
    CheckCrashSafety({"placeholder",
                      [&](const std::string& p) { WriteFileBytes(p, PlainWav(samples, 0xFFFFFFFF)); }, 4044});
    CheckCrashSafety({"rf64 to riff", [&](const std::string& p) { WriteFileBytes(p, Cat({Rf64Head(), samples})); },
                      4080});
    CheckCrashSafety({"rf64 table to riff",
                      [&](const std::string& p) { WriteFileBytes(p, Cat({Rf64Head(12), samples})); }, 4092});
}

// ---- Past 4 GiB, in sparse files.

const int64_t FiveGiB = 5 * GiB;

Bytes JunkHead(uint32_t junk, uint32_t dataSize = 0)
{
    return RiffFile({Chunk("JUNK", Bytes(junk, 0x4A)), Chunk("bext", BextBody(602)), StereoFmt(), ChunkHead("data", dataSize)});
}

TEST(WavRepairLarge, CrashSafetyPastFourGigabytes)
{
    Bytes rf64 = Rf64Head();
    Bytes junk = JunkHead(28);
    Bytes junkPlaceholder = JunkHead(28, 0xFFFFFFFF);
    CheckCrashSafety({"rf64", [&](const std::string& p) { WriteSparse(p, rf64, int64_t(rf64.size()) + FiveGiB + 3); },
                      int64_t(rf64.size()) + FiveGiB});
    CheckCrashSafety({"junk to rf64",
                      [&](const std::string& p) { WriteSparse(p, junk, int64_t(junk.size()) + FiveGiB + 1); },
                      int64_t(junk.size()) + FiveGiB});
    CheckCrashSafety({"junk to rf64, placeholder size",
                      [&](const std::string& p) {
                          WriteSparse(p, junkPlaceholder, int64_t(junkPlaceholder.size()) + FiveGiB + 2);
                      },
                      int64_t(junkPlaceholder.size()) + FiveGiB});
}

TEST(WavRepairLarge, Rf64OfFiveGigabytes)
{
    for (size_t extra : {size_t(0), size_t(12)}) {
        SCOPED_TRACE(extra);
        TempDir dir;
        std::string path = dir.file("big.wav");
        Bytes head = Rf64Head(extra);
        const int64_t end = int64_t(head.size()) + FiveGiB;
        ASSERT_TRUE(WriteSparse(path, head, end + 3));
        Bytes tail = PatternBytes(64, 9);
        ASSERT_TRUE(WriteAt(path, end - 64, tail));
        ASSERT_EQ(0, RepairFile(path));
        EXPECT_EQ(end, FileLength(path));
        Bytes got = ReadAt(path, 0, head.size());
        EXPECT_EQ("RF64", IdAt(got, 0));
        EXPECT_EQ(0xFFFFFFFFu, Le32At(got, 4));
        EXPECT_EQ("WAVE", IdAt(got, 8));
        EXPECT_EQ("ds64", IdAt(got, 12));
        EXPECT_EQ(uint32_t(28 + extra), Le32At(got, 16));
        EXPECT_EQ(uint64_t(end - 8), Le64At(got, 20));
        EXPECT_EQ(uint64_t(FiveGiB), Le64At(got, 28));
        EXPECT_EQ(uint64_t(FiveGiB / 4), Le64At(got, 36));
        EXPECT_EQ(0u, Le32At(got, 44));
        EXPECT_EQ(Bytes(extra, 0), Bytes(got.begin() + 48, got.begin() + 48 + long(extra)));
        EXPECT_EQ(0xFFFFFFFFu, Le32At(got, head.size() - 4));
        EXPECT_EQ(tail, ReadAt(path, end - 64, 64)) << "the last whole frames are kept";

        ScopedWav wav;
        ASSERT_EQ(WavOpenOk, wav.open(path));
        EXPECT_TRUE(wav.s.flags & WavFlagRf64);
        EXPECT_EQ(FiveGiB, wav.s.dataBytes);
        EXPECT_EQ(FiveGiB / 4, wav.s.frameCount);
    }
}

TEST(WavRepairLarge, PlainRiffWithJunkReservationBecomesRf64)
{
    for (uint32_t junk : {28u, 52u}) {
        SCOPED_TRACE(junk);
        TempDir dir;
        std::string path = dir.file("big.bwf");
        Bytes head = JunkHead(junk);
        const int64_t end = int64_t(head.size()) + FiveGiB;
        ASSERT_TRUE(WriteSparse(path, head, end + 1));
        ASSERT_EQ(0, RepairFile(path));
        EXPECT_EQ(end, FileLength(path));
        Bytes got = ReadAt(path, 0, head.size());
        EXPECT_EQ("RF64", IdAt(got, 0));
        EXPECT_EQ(0xFFFFFFFFu, Le32At(got, 4));
        EXPECT_EQ("ds64", IdAt(got, 12));
        EXPECT_EQ(junk, Le32At(got, 16));
        EXPECT_EQ(uint64_t(end - 8), Le64At(got, 20));
        EXPECT_EQ(uint64_t(FiveGiB), Le64At(got, 28));
        EXPECT_EQ(uint64_t(FiveGiB / 4), Le64At(got, 36));
        EXPECT_EQ(0u, Le32At(got, 44));
        EXPECT_EQ(Bytes(junk - 28, 0), Bytes(got.begin() + 48, got.begin() + 20 + junk));
        size_t after = 20 + junk;
        EXPECT_TRUE(std::equal(head.begin() + long(after), head.end() - 4, got.begin() + long(after)))
            << "bext and fmt are untouched";
        EXPECT_EQ(0xFFFFFFFFu, Le32At(got, head.size() - 4));

        ScopedWav wav;
        ASSERT_EQ(WavOpenOk, wav.open(path));
        EXPECT_TRUE(wav.s.flags & WavFlagRf64);
        EXPECT_TRUE(wav.s.flags & WavFlagBext);
        EXPECT_EQ(junk, wav.s.ds64Size);
        EXPECT_EQ(FiveGiB, wav.s.dataBytes);
    }
}

TEST(WavRepairLarge, PlainRiffWithoutReservationKeepsItsForm)
{
    TempDir dir;
    std::string path = dir.file("big.wav");
    Bytes head = JunkHead(20);  // too small to become a ds64 chunk
    const int64_t end = int64_t(head.size()) + FiveGiB;
    ASSERT_TRUE(WriteSparse(path, head, end + 2));
    ASSERT_EQ(0, RepairFile(path));
    EXPECT_EQ(end, FileLength(path));
    Bytes got = ReadAt(path, 0, head.size());
    Bytes expected = Patched32(Patched32(head, 4, 0xFFFFFFFF), head.size() - 4, 0xFFFFFFFF);
    EXPECT_EQ(expected, got);
}

TEST(WavRepairLarge, Rf64WithShortDs64IsLeftAlone)
{
    // No room for 64-bit sizes: the file is not touched at all.
    TempDir dir;
    std::string path = dir.file("big.wav");
    ByteWriter w;
    w.text("RF64").u32(0xFFFFFFFF).text("WAVE").text("ds64").u32(20).u64(0).u64(0).u32(0);
    Bytes head = Cat({w.bytes, StereoFmt(), ChunkHead("data", 0)});
    ASSERT_TRUE(WriteSparse(path, head, int64_t(head.size()) + FiveGiB + 1));
    ScopedWav wav;
    ASSERT_EQ(WavOpenOk, wav.open(path));
    EXPECT_EQ(StreamResultIoFailed, WavStream_Repair(&wav.s));
    EXPECT_EQ(0, wav.s.headerDirty);
    EXPECT_EQ(0, WavStream_Close(&wav.s));
    EXPECT_EQ(int64_t(head.size()) + FiveGiB + 1, FileLength(path));
    EXPECT_EQ(head, ReadAt(path, 0, head.size()));
}

TEST(WavRepairLarge, ThresholdsAreTestedApart)
{
    // 8-bit mono: one byte per frame, so every length is whole frames.
    Bytes fmt = FmtChunk(1, 8000, 8);
    Bytes head = RiffFile({Chunk("ds64", Ds64Body(0, 0, 0)), fmt, ChunkHead("data", 0)}, 0xFFFFFFFF, "RF64");
    const uint32_t offset = uint32_t(head.size());
    struct Case {
        const char* name;
        int64_t dataBytes;
        const char* form;
        uint32_t dataField;
    };
    for (const Case& c : {Case{"end 0xEFFFFFFE", 0xEFFFFFFELL - offset, "RIFF", 0xEFFFFFFEu - offset},
                          Case{"end 0xEFFFFFFF", 0xEFFFFFFFLL - offset, "RF64", 0xEFFFFFFFu - offset},
                          Case{"data 0xEFFFFFFE", 0xEFFFFFFELL, "RF64", 0xEFFFFFFEu},
                          Case{"data 0xEFFFFFFF", 0xEFFFFFFFLL, "RF64", 0xFFFFFFFFu}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string path = dir.file("big.wav");
        ASSERT_TRUE(WriteSparse(path, head, offset + c.dataBytes));
        ASSERT_EQ(0, RepairFile(path));
        Bytes got = ReadAt(path, 0, head.size());
        EXPECT_EQ(c.form, IdAt(got, 0));
        if (std::string(c.form) == "RIFF") {
            EXPECT_EQ(uint32_t(offset + c.dataBytes - 8), Le32At(got, 4));
            EXPECT_EQ("JUNK", IdAt(got, 12));
        } else {
            EXPECT_EQ(0xFFFFFFFFu, Le32At(got, 4));
            EXPECT_EQ(uint64_t(c.dataBytes), Le64At(got, 28));
        }
        EXPECT_EQ(c.dataField, Le32At(got, offset - 4));
        ScopedWav wav;
        ASSERT_EQ(WavOpenOk, wav.open(path));
        EXPECT_EQ(c.dataBytes, wav.s.dataBytes);
    }
}

// Bytes appended to a file through a handle that holds it: what a recorder
// does where the file system grants no lease and Windows lets no other
// opener in.
bool Append(FileHandle h, const Bytes& more)
{
    int64_t size = 0;
    return File_GetSize64(h, &size) && File_SeekTo(h, size) &&
           File_WriteExact(h, more.data(), uint32_t(more.size()));
}

// A recorder appends to a take after its open measured it, on a file system
// without leases, where only the comparison can tell: the repair of either
// container leaves every byte as it is.
struct GrownTake {
    const char* name;
    Bytes bytes;
    std::function<int32_t(const std::string& path, const Bytes& more)> repair;  // opens, appends, repairs
};

TEST(RepairWhileWritten, NeitherRepairTouchesAGrownTake)
{
    AiffLayout aiff(2, 16, 0, PatternBytes(1003));
    aiff.ssndSize = 8;
    const GrownTake takes[] = {
        {"take.wav", PlainWav(PatternBytes(1003), 0),
         [](const std::string& path, const Bytes& more) {
             ScopedWav wav;
             EXPECT_EQ(WavOpenOk, wav.open(path));
             EXPECT_TRUE(Append(wav.s.handle, more));
             int32_t result = WavStream_Repair(&wav.s);
             EXPECT_EQ(0, wav.s.headerDirty);
             EXPECT_EQ(0, wav.s.frameCount);
             return result;
         }},
        {"take.aif", BuildAiff(aiff),
         [](const std::string& path, const Bytes& more) {
             ScopedAiff a;
             EXPECT_EQ(AiffOpenOk, a.open(path));
             EXPECT_TRUE(Append(a.s.handle, more));
             int32_t result = AiffStream_Repair(&a.s);
             EXPECT_EQ(0, a.s.headerDirty);
             EXPECT_EQ(0, a.s.frameCount);
             return result;
         }},
    };
    for (const GrownTake& t : takes) {
        SCOPED_TRACE(t.name);
        FaultGuard guard;
        FileFault_RefuseLeases(1);
        TempDir dir;
        const std::string path = dir.write(t.name, t.bytes);
        const Bytes more = PatternBytes(64, 21);
        EXPECT_EQ(StreamResultIoFailed, t.repair(path, more));
        EXPECT_EQ(FileChangeLength, File_LastChange());
        EXPECT_EQ(Cat({t.bytes, more}), ReadFileBytes(path));
    }
}

TEST(RepairWhileWritten, CutLooksAgainAfterTheHeaderIsWritten)
{
    // Frames that arrive while the sizes are written and flushed must
    // outlive the cut too.
    FaultGuard guard;
    FileFault_RefuseLeases(1);
    TempDir dir;
    const Bytes file = PlainWav(PatternBytes(1003), 0);
    const std::string path = dir.write("take.wav", file);
    FileHandle h = FileHandleNone;
    ASSERT_EQ(1, File_Open(path.c_str(), FileModeReadWriteExisting, &h, 128));
    FileStamp examined;
    ASSERT_EQ(1, File_GetStamp(h, &examined));
    const uint8_t riffSize[4] = {0x14, 0x04, 0, 0};
    const HeaderField field = {4, riffSize, 4};
    const Bytes more = PatternBytes(64, 22);
    ASSERT_TRUE(Append(h, more));
    EXPECT_EQ(0, Commit_Cut(h, &field, 1, nullptr, 44 + 1000, &examined));
    EXPECT_EQ(FileChangeLength, File_LastChange());
    EXPECT_EQ(1, File_Close(h));
    Bytes expected = Patched32(Cat({file, more}), 4, 0x414);
    EXPECT_EQ(expected, ReadFileBytes(path)) << "the size was written, nothing was cut";
}

}  // namespace
