// The file access layer against real files: modes, exact transfers, 64-bit
// positions and sizes on sparse files, sharing, and injected faults.
#include <gtest/gtest.h>

#include <string.h>

#include <chrono>
#include <functional>
#include <thread>

#include "filefault.h"
#include "fileio.h"
#include "testfiles.h"

#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const int64_t GiB = 1024LL * 1024 * 1024;

struct OpenFile {
    FileHandle h = FileHandleNone;
    ~OpenFile()
    {
        if (h != FileHandleNone)
            File_Close(h);
    }
};

TEST(FileOpen, ModeWordsCreateOnlyWhenAsked)
{
    TempDir dir;
    std::string missing = dir.file("missing.wav");
    FileHandle h = 12345;
    EXPECT_EQ(0, File_Open(missing.c_str(), FileModeReadExclusive, &h, 128));
    EXPECT_EQ(FileHandleNone, h);
    h = 12345;
    EXPECT_EQ(0, File_Open(missing.c_str(), FileModeReadShared, &h, 128));
    EXPECT_EQ(FileHandleNone, h);
    EXPECT_EQ(0, File_Open(missing.c_str(), FileModeReadWriteExisting, &h, 128));
    EXPECT_EQ(-1, FileLength(missing)) << "open-existing must never create";

    OpenFile f;
    ASSERT_EQ(1, File_Open(missing.c_str(), FileModeReadWrite, &f.h, 128));
    EXPECT_NE(FileHandleNone, f.h);
    EXPECT_EQ(0, FileLength(missing));
}

TEST(FileOpen, OpenAlwaysKeepsAndCreateAlwaysEmpties)
{
    TempDir dir;
    std::string p = dir.write("take.wav", Bytes{1, 2, 3, 4});
    {
        OpenFile f;
        ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadWrite, &f.h, 128));
    }
    EXPECT_EQ(4, FileLength(p));
    {
        OpenFile f;
        ASSERT_EQ(1, File_Open(p.c_str(), FileModeRead | FileModeWrite | FileModeCreateAlways, &f.h, 128));
    }
    EXPECT_EQ(0, FileLength(p));
}

TEST(FileOpen, CreateAlwaysOnAFileHeldElsewhereKeepsItsBytes)
{
    TempDir dir;
    std::string p = dir.write("take.wav", Bytes{1, 2, 3, 4});
    OpenFile holder;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadExclusive, &holder.h, 128));
    FileHandle h;
    EXPECT_EQ(0, File_Open(p.c_str(), FileModeRead | FileModeWrite | FileModeCreateAlways, &h, 128));
    EXPECT_EQ(FileOpenFailInUse, File_LastOpenFailure());
    EXPECT_EQ(4, FileLength(p)) << "emptied only once it may be held";
}

TEST(FileOpen, RefusesModeWithoutDispositionOrAccess)
{
    TempDir dir;
    std::string p = dir.write("take.wav", Bytes{1});
    FileHandle h;
    EXPECT_EQ(0, File_Open(p.c_str(), FileModeRead, &h, 128));
    EXPECT_EQ(FileHandleNone, h);
}

TEST(FileOpen, RefusesFolders)
{
    TempDir dir;
    std::string sub = dir.file("take.wav");
    ASSERT_TRUE(MakeDir(sub));
    FileHandle h;
    EXPECT_EQ(0, File_Open(sub.c_str(), FileModeReadWrite, &h, 128));
    EXPECT_EQ(0, File_Open(sub.c_str(), FileModeReadShared, &h, 128));
    EXPECT_EQ(FileHandleNone, h);
}

#ifndef _WIN32
TEST(FileOpen, RefusesFifoWithoutBlocking)
{
    TempDir dir;
    std::string p = dir.file("take.wav");
    ASSERT_EQ(0, mkfifo(p.c_str(), 0644));
    FileHandle h;
    // With no writer a blocking open for reading would hang forever.
    EXPECT_EQ(0, File_Open(p.c_str(), FileModeReadShared, &h, 128));
    EXPECT_EQ(0, File_Open(p.c_str(), FileModeReadWrite, &h, 128));
    EXPECT_EQ(FileHandleNone, h);
}
#endif

TEST(FileSharing, UnsharedOpensExcludeEveryOther)
{
    TempDir dir;
    std::string p = dir.write("take.wav", Bytes(16, 0));
    OpenFile first;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadWrite, &first.h, 128));
    FileHandle h;
    EXPECT_EQ(0, File_Open(p.c_str(), FileModeReadWrite, &h, 128));
    EXPECT_EQ(FileHandleNone, h);
    EXPECT_EQ(0, File_Open(p.c_str(), FileModeReadShared, &h, 128));
    EXPECT_EQ(0, File_Open(p.c_str(), FileModeReadExclusive, &h, 128));
}

TEST(FileSharing, SharedReadersCoexistButKeepWritersOut)
{
    TempDir dir;
    std::string p = dir.write("take.wav", Bytes(16, 0));
    OpenFile a, b;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadShared, &a.h, 128));
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadShared, &b.h, 128));
    FileHandle h;
    EXPECT_EQ(0, File_Open(p.c_str(), FileModeReadWrite, &h, 128));
    EXPECT_EQ(0, File_Open(p.c_str(), FileModeReadExclusive, &h, 128));
}

TEST(FileSharing, LockIsReleasedByClose)
{
    TempDir dir;
    std::string p = dir.write("take.wav", Bytes(16, 0));
    FileHandle h;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadWrite, &h, 128));
    EXPECT_EQ(1, File_Close(h));
    OpenFile again;
    EXPECT_EQ(1, File_Open(p.c_str(), FileModeReadWrite, &again.h, 128));
}

const uint32_t RecorderMode = FileModeWrite | FileModeShareRead | FileModeShareWrite | FileModeOpenExisting;

TEST(FileHolding, FileOpenForWritingElsewhereIsInUse)
{
    TempDir dir;
    if (!RepairsHoldFiles(dir.path()))
        GTEST_SKIP() << "this file system grants no lease";
    std::string p = dir.write("take.wav", Bytes(16, 0));
    OpenFile recorder;
    ASSERT_EQ(1, File_Open(p.c_str(), RecorderMode, &recorder.h, 128));
    OpenFile second;
    EXPECT_EQ(1, File_Open(p.c_str(), RecorderMode, &second.h, 128)) << "writers that share coexist";
    FileHandle h;
    EXPECT_EQ(0, File_Open(p.c_str(), FileModeReadWriteExisting, &h, 128));
    EXPECT_EQ(FileOpenFailInUse, File_LastOpenFailure());
    EXPECT_STREQ("in use by another program", File_OpenFailureText(File_LastOpenFailure()));
}

#ifdef __linux__
TEST(FileHolding, LeaseRefusesEveryOtherDescriptorAndBreaksOnOpen)
{
    TempDir dir;
    if (!RepairsHoldFiles(dir.path()))
        GTEST_SKIP() << "this file system grants no lease";
    std::string p = dir.write("take.wav", Bytes(16, 0));
    for (int flags : {O_RDONLY, O_WRONLY, O_RDWR}) {
        SCOPED_TRACE(flags);
        int fd = open(p.c_str(), flags | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        FileHandle h;
        EXPECT_EQ(0, File_Open(p.c_str(), FileModeReadWriteExisting, &h, 128));
        EXPECT_EQ(FileOpenFailInUse, File_LastOpenFailure());
        close(fd);
    }
    OpenFile mine;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadWriteExisting, &mine.h, 128));
    EXPECT_EQ(F_WRLCK, fcntl(int(mine.h), F_GETLEASE)) << "held for as long as the file is open";
    int fd = open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_TRUE(fd < 0 && errno == EWOULDBLOCK) << "an opener meets the lease";
    if (fd >= 0)
        close(fd);
    EXPECT_NE(F_WRLCK, fcntl(int(mine.h), F_GETLEASE)) << "and breaks it";
}
#endif

// What happens to a file between its stamp and the check.
struct Interim {
    const char* test;
    bool leases;  // the file system grants leases
    std::function<void(FileHandle held, const std::string& path)> act;
    int timeToo;  // File_Unchanged's third argument
    int change;   // what File_LastChange says then; FileChangeNone: unchanged
};

void PrintTo(const Interim& i, std::ostream* os)
{
    *os << i.test;
}

void WriteThrough(FileHandle h, int64_t at)
{
    // A coarse clock gives a later time only after a tick.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    uint8_t frame[4] = {9, 8, 7, 6};
    ASSERT_EQ(1, File_SeekTo(h, at));
    ASSERT_EQ(1, File_WriteExact(h, frame, 4));
}

class FileStamps : public ::testing::TestWithParam<Interim> {};

TEST_P(FileStamps, UnchangedTellsWhatHappenedSinceTheStamp)
{
    const Interim& i = GetParam();
    FaultGuard guard;
    FileFault_RefuseLeases(i.leases ? 0 : 1);
    TempDir dir;
    if (i.change == FileChangeOpened && !RepairsHoldFiles(dir.path()))
        GTEST_SKIP() << "this file system grants no lease";
    std::string p = dir.write("take.wav", PatternBytes(1000));
    OpenFile f;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadWriteExisting, &f.h, 128));
    FileStamp stamp;
    ASSERT_EQ(1, File_GetStamp(f.h, &stamp));
    EXPECT_EQ(1000, stamp.size);
    EXPECT_NE(0, stamp.modified);
    i.act(f.h, p);
    EXPECT_EQ(i.change == FileChangeNone ? 1 : 0, File_Unchanged(f.h, &stamp, i.timeToo));
    EXPECT_EQ(i.change, File_LastChange());
    ASSERT_EQ(1, File_GetStamp(f.h, &stamp));
    EXPECT_EQ(FileChangeNone, File_LastChange()) << "a new stamp forgets the reason";
}

INSTANTIATE_TEST_SUITE_P(
    Interims, FileStamps,
    ::testing::Values(
        Interim{"NothingHappens", true, [](FileHandle, const std::string&) {}, 1, FileChangeNone},
        Interim{"Grows", true, [](FileHandle h, const std::string&) { WriteThrough(h, 1000); }, 0, FileChangeLength},
        Interim{"Shrinks", true,
                [](FileHandle h, const std::string&) {
                    ASSERT_EQ(1, File_SeekTo(h, 996));
                    ASSERT_EQ(1, File_Truncate(h));
                },
                0, FileChangeLength},
        Interim{"WrittenInPlace", true, [](FileHandle h, const std::string&) { WriteThrough(h, 40); }, 1,
                FileChangeTime},
        Interim{"WrittenInPlaceAndOnlyTheLengthCompared", true,
                [](FileHandle h, const std::string&) { WriteThrough(h, 40); }, 0, FileChangeNone}
#ifndef _WIN32
        ,
        Interim{"GrowsElsewhereWithoutLeases", false,
                [](FileHandle, const std::string& path) { ASSERT_TRUE(WriteAt(path, 1000, Bytes(4, 1))); }, 0,
                FileChangeLength}
#endif
#ifdef __linux__
        ,
        Interim{"OpenedElsewhere", true,
                [](FileHandle, const std::string& path) {
                    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                    if (fd >= 0)
                        close(fd);
                },
                0, FileChangeOpened}
#endif
        ),
    [](const ::testing::TestParamInfo<Interim>& info) { return std::string(info.param.test); });

TEST(FileTransfer, ExactReadMeetingEndOfFileFails)
{
    TempDir dir;
    std::string p = dir.write("take.wav", Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    OpenFile f;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadShared, &f.h, 128));
    uint8_t buf[12] = {};
    EXPECT_EQ(0, File_ReadExact(f.h, buf, 12));
    ASSERT_EQ(1, File_SeekTo(f.h, 0));
    EXPECT_EQ(1, File_ReadExact(f.h, buf, 0));
    EXPECT_EQ(1, File_ReadExact(f.h, buf, 8));
    EXPECT_EQ(8, buf[7]);
    EXPECT_EQ(0, File_ReadExact(f.h, buf, 1)) << "a read at the end of the file is a failure";
}

TEST(FileTransfer, WriteReadBackAndRelativeSeeks)
{
    TempDir dir;
    std::string p = dir.file("take.wav");
    OpenFile f;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadWrite, &f.h, 128));
    Bytes data = PatternBytes(64);
    ASSERT_EQ(1, File_WriteExact(f.h, data.data(), 64));
    ASSERT_EQ(1, File_SeekBy(f.h, -16));
    uint8_t buf[16];
    ASSERT_EQ(1, File_ReadExact(f.h, buf, 16));
    EXPECT_EQ(0, memcmp(buf, data.data() + 48, 16));
    EXPECT_EQ(0, File_SeekTo(f.h, -1)) << "a negative position is refused";
}

TEST(FileTransfer, TruncateCutsAtThePointerAndFlushCloseSucceed)
{
    TempDir dir;
    std::string p = dir.write("take.wav", PatternBytes(1003));
    FileHandle h;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadWrite, &h, 128));
    ASSERT_EQ(1, File_SeekTo(h, 1000));
    EXPECT_EQ(1, File_Truncate(h));
    EXPECT_EQ(1, File_Flush(h));
    int64_t size = -1;
    EXPECT_EQ(1, File_GetSize64(h, &size));
    EXPECT_EQ(1000, size);
    EXPECT_EQ(1, File_Close(h));
    EXPECT_EQ(1000, FileLength(p));
}

TEST(FileLarge, SizeBeyondFourGiBOnSparseFile)
{
    TempDir dir;
    std::string p = dir.write("big.wav", Bytes{});
    ASSERT_TRUE(SetFileLength(p, 5 * GiB));
    OpenFile f;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadShared, &f.h, 128));
    int64_t size = 0;
    EXPECT_EQ(1, File_GetSize64(f.h, &size));
    EXPECT_EQ(5368709120LL, size);
}

TEST(FileLarge, SizeWhoseLowHalfIsAllOnesIsNotAFailure)
{
    TempDir dir;
    std::string p = dir.write("edge.wav", Bytes{});
    ASSERT_TRUE(SetFileLength(p, 0xFFFFFFFFLL));
    OpenFile f;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadShared, &f.h, 128));
    int64_t size = 0;
    EXPECT_EQ(1, File_GetSize64(f.h, &size));
    EXPECT_EQ(0xFFFFFFFFLL, size);
}

TEST(FileLarge, RelativeSeekBeyondTwoGiBMovesForward)
{
    TempDir dir;
    std::string p = dir.write("big.wav", Bytes{});
    const int64_t at = 2415919104LL;  // 2.25 GiB: the low half reads as negative
    ASSERT_TRUE(WriteAt(p, at, Bytes{0xAB, 0xCD}));
    OpenFile f;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadShared, &f.h, 128));
    ASSERT_EQ(1, File_SeekBy(f.h, at));
    uint8_t buf[2] = {};
    ASSERT_EQ(1, File_ReadExact(f.h, buf, 2));
    EXPECT_EQ(0xAB, buf[0]);
    EXPECT_EQ(0xCD, buf[1]);
}

TEST(FileLarge, AbsoluteSeeksAndWritesBeyondFourGiB)
{
    TempDir dir;
    std::string p = dir.file("big.wav");
    OpenFile f;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadWrite, &f.h, 128));
    const int64_t at = 5 * GiB + 3;
    ASSERT_EQ(1, File_SeekTo(f.h, at));
    uint8_t out[3] = {7, 8, 9};
    ASSERT_EQ(1, File_WriteExact(f.h, out, 3));
    int64_t size = 0;
    ASSERT_EQ(1, File_GetSize64(f.h, &size));
    EXPECT_EQ(at + 3, size);
    ASSERT_EQ(1, File_Close(f.h));
    f.h = FileHandleNone;
    Bytes back = ReadAt(p, at, 3);
    EXPECT_EQ((Bytes{7, 8, 9}), back);
}

TEST(FileLarge, SeekToLowHalfAllOnesAfterAnEarlierErrorSucceeds)
{
    TempDir dir;
    std::string p = dir.write("edge.wav", Bytes{1, 2});
    ASSERT_TRUE(SetFileLength(p, 0x100000010LL));
    OpenFile f;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadShared, &f.h, 128));
    uint8_t buf[8];
    ASSERT_EQ(1, File_SeekTo(f.h, 0x100000010LL));
    EXPECT_EQ(0, File_ReadExact(f.h, buf, 8));  // leaves an OS error code behind
    // The position 0xFFFFFFFF has a low half that equals the failure marker.
    EXPECT_EQ(1, File_SeekTo(f.h, 0xFFFFFFFFLL));
    EXPECT_EQ(1, File_SeekBy(f.h, 1));
    EXPECT_EQ(1, File_SeekTo(f.h, 0x80000000LL));
}

TEST(FileFaults, NthCallFailsOnceOrFromThenOn)
{
    TempDir dir;
    std::string p = dir.write("take.wav", Bytes(32, 1));
    OpenFile f;
    ASSERT_EQ(1, File_Open(p.c_str(), FileModeReadWrite, &f.h, 128));
    uint8_t b[4] = {2, 2, 2, 2};

    FileFault_Arm(FileFaultWrite, 2, 0);
    EXPECT_EQ(1, File_WriteExact(f.h, b, 4));
    EXPECT_EQ(0, File_WriteExact(f.h, b, 4));
    EXPECT_EQ(1, File_WriteExact(f.h, b, 4));
    EXPECT_EQ(3u, FileFault_Count(FileFaultWrite));

    FileFault_Arm(FileFaultWrite, 1, FileFaultAll & ~FileFaultClose);
    EXPECT_EQ(0, File_WriteExact(f.h, b, 4));
    EXPECT_EQ(0, File_SeekTo(f.h, 0));
    EXPECT_EQ(0, File_Truncate(f.h));
    EXPECT_EQ(0, File_Flush(f.h));
    EXPECT_EQ(0, File_ReadExact(f.h, b, 4));
    FileFault_Disarm();
    EXPECT_EQ(1, File_SeekTo(f.h, 0));
    EXPECT_EQ(32, FileLength(p)) << "nothing reached the file while the fault held";
}

TEST(MemoryUtilities, SwapFillZeroCopy)
{
    EXPECT_EQ(0x3412, Swap16(0x1234));
    EXPECT_EQ(0x78563412u, Swap32(0x12345678u));
    uint8_t b[13];
    Mem_FillSilence8(b, 13);
    for (uint8_t v : b)
        EXPECT_EQ(0x80, v);
    Mem_Zero(b, 5);
    EXPECT_EQ(0, b[4]);
    EXPECT_EQ(0x80, b[5]);
    uint8_t c[3] = {1, 2, 3};
    Mem_Copy(b, c, 3);
    EXPECT_EQ(3, b[2]);
    Mem_Copy(b, b, 3);
    EXPECT_EQ(1, b[0]);
    void* block = Mem_Alloc(512);
    ASSERT_NE(nullptr, block);
    Mem_Free(block);
}

}  // namespace
