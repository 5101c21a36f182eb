// Hostile and odd folder entries: sizes near 0xFFFFFFFF, runs of empty
// chunks, chunks out of order, zero frame sizes, short or huge ds64 chunks,
// SSND offsets beyond their chunk, compressed AIFF-C, files of 0 to 11 bytes, a folder,
// a FIFO, a read-only file and files locked by another process, all named
// like recordings. The scan must end, must not crash, must report nothing
// but "HEADER OK !" for them, and must leave every byte as it was.
#include "robust_support.h"

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <future>
#include <map>
#include <thread>

#include "fileio.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif
#endif

namespace {

typedef std::vector<std::pair<std::string, Bytes>> Files;

Bytes Samples(size_t n)
{
    return PatternBytes(n, 21);
}

// RF64 with a ds64 chunk declaring size bytes (its 28-byte table cut to
// that when shorter; a longer table is not there), a fmt chunk right behind
// the bytes present, and a data chunk declaring exactly what follows.
Bytes Rf64WithDs64(uint32_t size, uint64_t dataSize = 400, uint32_t tableLength = 0)
{
    const Bytes table = Ds64Body(0, dataSize, 0, 0, 0, tableLength);
    Bytes ds64 = Cat({ChunkHead("ds64", size), Slice(table, 0, size < 28 ? size : 28)});
    return RiffFile({ds64, StereoFmt(48000), ChunkHead("data", 400), Samples(400)}, 0xFFFFFFFF, "RF64");
}

Bytes ZeroSizedChunks(const char* id, size_t count)
{
    Bytes out;
    for (size_t i = 0; i < count; ++i) {
        Bytes c = ChunkHead(id, 0);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

void WavFiles(Files* files)
{
    const Bytes fmt = StereoFmt(48000);
    ByteWriter noChannels;
    noChannels.u16(1).u16(0).u32(48000).u32(192000).u16(4).u16(16);
    ByteWriter noAlign;
    noAlign.u16(1).u16(2).u32(48000).u32(192000).u16(0).u16(16);
    Bytes riffWave = RiffFile({});

    *files = {
        // Sizes near 0xFFFFFFFF: skipped as unsigned numbers, past the end.
        {"unknown-ffffffff.wav", BuildWav({fmt, ChunkHead("LIST", 0xFFFFFFFF)}, Samples(400), 0)},
        {"unknown-fffffff8.wav", BuildWav({fmt, ChunkHead("LIST", 0xFFFFFFF8)}, Samples(400), 0)},
        {"unknown-80000000.wav", BuildWav({fmt, ChunkHead("LIST", 0x80000000)}, Samples(400), 0)},
        {"fmt-ffffffff.wav",
         BuildWav({Cat({ChunkHead("fmt ", 0xFFFFFFFF), WavFmtBody(1, 2, 48000, 16)})}, Samples(400), 0)},
        {"bext-ffffffff.wav", BuildWav({fmt, Cat({ChunkHead("bext", 0xFFFFFFFF), Samples(100)})}, Samples(0), 0)},
        {"data-fffffffe.wav", BuildWav({fmt}, Samples(1000), 0xFFFFFFFE)},
        {"riff-size-ffffffff.wav", RiffFile({fmt, ChunkHead("data", 1000), Samples(1000)}, 0xFFFFFFFF)},
        {"riff-size-0.wav", RiffFile({fmt, ChunkHead("data", 1000), Samples(1000)}, 0)},
        // Runs of zero-sized chunks: each moves the walk 8 bytes on.
        {"zero-chunks.wav", Cat({riffWave, ZeroSizedChunks("JUNK", 20000)})},
        {"zero-bytes.wav", Cat({riffWave, Bytes(256 * 1024, 0)})},
        {"zero-chunks-before-fmt.wav", BuildWav({ZeroSizedChunks("JUNK", 5000), fmt}, Samples(1000), 1000)},
        {"zero-chunks-behind.wav", Cat({BuildWav({fmt}, Samples(1000), 1000), ZeroSizedChunks("PAD ", 5000)})},
        // A repair would cut the last two bytes of the LIST chunk as a partial frame.
        {"chunks-then-list-behind.wav",
         Cat({BuildWav({fmt}, Samples(1000), 1000), ZeroSizedChunks("PAD ", 1100),
              Chunk("LIST", Samples(5), false, true)})},
        // Chunks out of order, and frame sizes of nothing.
        {"fmt-after-data.wav", RiffFile({ChunkHead("data", 0), Samples(402), fmt})},
        {"data-only.wav", RiffFile({ChunkHead("data", 0), Samples(402)})},
        {"channels0.wav", BuildWav({Chunk("fmt ", noChannels.bytes)}, Samples(402), 0)},
        {"blockalign0.wav", BuildWav({Chunk("fmt ", noAlign.bytes)}, Samples(402), 0)},
        {"fmt-short.wav", BuildWav({Chunk("fmt ", Bytes(14, 1))}, Samples(402), 0)},
        // ds64 chunks shorter than their 28-byte table, and huge ones.
        {"ds64-0.wav", Rf64WithDs64(0)},
        {"ds64-8.wav", Rf64WithDs64(8)},
        {"ds64-20.wav", Rf64WithDs64(20)},
        {"ds64-27.wav", Rf64WithDs64(27)},
        {"ds64-cut.wav", Cat({ChunkHead("RF64", 0xFFFFFFFF), Bytes{'W', 'A', 'V', 'E'}, ChunkHead("ds64", 28),
                              Bytes(10, 0)})},
        {"ds64-table-7ffffff0.wav", Rf64WithDs64(0x7FFFFFF0)},
        {"ds64-table-ffffffff.wav", Rf64WithDs64(0xFFFFFFFF)},
        {"ds64-table-length.wav", Rf64WithDs64(28, 400, 0xFFFFFFFF)},
        {"ds64-data-huge.wav",
         BuildWav({Chunk("ds64", Ds64Body(0, 0x7FFFFFFFFFFFFFFFull, 0)), fmt}, Samples(403), 0xFFFFFFFF, Bytes(),
                  0xFFFFFFFF, "RF64")},
        {"rf64-fmt-first.wav", BuildWav({fmt}, Samples(402), 0, Bytes(), -1, "RF64")},
        // Not WAVE at all.
        {"rifx.wav", BuildWav({fmt}, Samples(402), 0, Bytes(), -1, "RIFX")},
        {"avi.wav", Cat({ChunkHead("RIFF", 100), Bytes{'A', 'V', 'I', ' '}, fmt, ChunkHead("data", 0), Samples(402)})},
    };
}

// Wave64 and BW64 headers a reader must not trust: sizes no file has,
// chunks that would not move the walk on, a header cut short.
void LongTakeFiles(Files* files)
{
    const Bytes fmt = Wave64Chunk("fmt ", WavFmtBody(1, 2, 48000, 16));
    Bytes headerSized;  // unknown 24-byte chunks, each only its header
    for (int i = 0; i < 5000; ++i)
        headerSized = Cat({headerSized, PatternBytes(16, 31), Bytes{24, 0, 0, 0, 0, 0, 0, 0}});
    const Files more = {
        {"w64-data-huge.w64", BuildWave64({fmt}, Samples(403), int64_t(UINT64_MAX >> 1) - 1)},
        {"w64-riff-max.w64", BuildWave64({fmt}, Samples(400), -1, {}, INT64_MAX)},
        {"w64-chunk-huge.w64", BuildWave64({Wave64Head("junk", UINT64_MAX - 7), fmt}, Samples(403), 24)},
        {"w64-chunk-23.w64", BuildWave64({Wave64Head("junk", 23), fmt}, Samples(403), 24)},
        {"w64-header-only-chunks.w64", BuildWave64({headerSized, fmt}, Samples(400))},
        {"w64-header-cut.w64", Slice(Wave64File({fmt}), 0, 30)},
        {"w64-wrong-form.w64", Cat({Wave64Guid("riff"), Bytes(8, 0), Wave64Guid("WAVE"), fmt})},
        {"w64-fmt-short.w64", BuildWave64({Wave64Chunk("fmt ", Bytes(14, 1))}, Samples(402), 24)},
        {"bw64-ds64-8.bw64", BuildWav({Chunk("ds64", Bytes(8, 0)), StereoFmt(48000)}, Samples(403), 0xFFFFFFFF,
                                      Bytes(), 0xFFFFFFFF, "BW64")},
        {"bw64-data-huge.bw64",
         BuildWav({Chunk("ds64", Ds64Body(0, 0x7FFFFFFFFFFFFFFFull, 0)), StereoFmt(48000)}, Samples(403), 0xFFFFFFFF,
                  Bytes(), 0xFFFFFFFF, "BW64")},
    };
    files->insert(files->end(), more.begin(), more.end());
}

void AiffFiles(Files* files)
{
    AiffLayout damaged = UnfinishedAiff();
    damaged.samples = Samples(402);

    // SSND offset fields that point past the chunk and the file (which
    // holds 402 sample bytes): 100000, and the farthest a 32-bit offset goes.
    Bytes beyond = BuildAiff(damaged);
    Bytes far = beyond;
    const size_t offsetField = 46;
    const uint8_t beyondOffset[4] = {0x00, 0x01, 0x86, 0xA0};
    for (size_t i = 0; i < 4; ++i) {
        beyond[offsetField + i] = beyondOffset[i];
        far[offsetField + i] = 0xFF;
    }

    Bytes ssndFirst =
        FormFile({Cat({ChunkHead("SSND", 8, true), Bytes(8, 0), Samples(402)}),
                  Chunk("COMM", AiffCommBody(2, 0, 16, 48000), true)});
    ByteWriter aifc(true);
    aifc.raw(AiffCommBody(2, 0, 16, 48000)).text("NONE").u8(0).u8(0);
    ByteWriter ima4(true);
    ima4.raw(AiffCommBody(2, 0, 16, 48000)).text("ima4").u8(0).u8(0);
    Bytes aifcFile = FormFile({Chunk("FVER", Bytes{0xA2, 0x80, 0x51, 0x40}, true), Chunk("COMM", ima4.bytes, true),
                               Cat({ChunkHead("SSND", 8, true), Bytes(8, 0), Samples(402)})},
                              -1, "AIFC");
    Bytes aifcComm18 = FormFile({Chunk("COMM", AiffCommBody(2, 0, 16, 48000), true),
                                 Cat({ChunkHead("SSND", 8, true), Bytes(8, 0), Samples(402)})},
                                -1, "AIFC");
    Bytes comm22 = FormFile({Chunk("COMM", aifc.bytes, true), Cat({ChunkHead("SSND", 8, true), Bytes(8, 0),
                                                                   Samples(402)})});

    AiffLayout noChannels = damaged;
    noChannels.channels = 0;
    AiffLayout negativeChannels = damaged;
    negativeChannels.channels = -2;
    AiffLayout noBits = damaged;
    noBits.sampleSize = 0;
    AiffLayout negativeBits = damaged;
    negativeBits.sampleSize = -16;
    AiffLayout wideFrame = damaged;
    wideFrame.channels = 32767;
    wideFrame.sampleSize = 32;
    AiffLayout formHuge = damaged;
    formHuge.frames = 100;
    formHuge.ssndSize = 408;
    formHuge.samples = Samples(400);
    formHuge.formSize = 0xFFFFFFFF;
    AiffLayout framesHuge = damaged;
    framesHuge.frames = 0xFFFFFFFF;
    AiffLayout hugeChunk = damaged;
    hugeChunk.between = {ChunkHead("APPL", 0xFFFFFFFF, true)};
    AiffLayout oddHugeChunk = damaged;
    oddHugeChunk.between = {ChunkHead("APPL", 0xFFFFFFF7, true)};
    AiffLayout ssndShort = damaged;
    ssndShort.ssndSize = 7;

    AiffLayout healthyZeroRun = damaged;
    healthyZeroRun.frames = 100;
    healthyZeroRun.ssndSize = 408;
    healthyZeroRun.samples = Samples(400);
    healthyZeroRun.after = {ZeroSizedChunks("PAD ", 70000)};
    Bytes commOnly = FormFile({Chunk("COMM", AiffCommBody(2, 0, 16, 48000), true), Bytes(8 * 20000, 0)});
    Bytes zeroRun = FormFile({ZeroSizedChunks("NAME", 20000), Chunk("COMM", AiffCommBody(2, 0, 16, 48000), true)});

    Files aiff = {
        {"ssnd-offset-far.aif", far},
        {"ssnd-offset-beyond.aif", beyond},
        {"comm-after-ssnd.aif", ssndFirst},
        {"aifc-ima4.aif", aifcFile},
        {"aifc-ima4.aifc", aifcFile},
        {"aifc-comm18.aifc", aifcComm18},
        {"comm-22.aif", comm22},
        {"channels0.aif", BuildAiff(noChannels)},
        {"channels-negative.aif", BuildAiff(negativeChannels)},
        {"samplesize0.aif", BuildAiff(noBits)},
        {"samplesize-negative.aif", BuildAiff(negativeBits)},
        {"frame-too-wide.aif", BuildAiff(wideFrame)},
        {"form-ffffffff.aif", BuildAiff(formHuge)},
        {"frames-ffffffff.aiff", BuildAiff(framesHuge)},
        {"chunk-ffffffff.aif", BuildAiff(hugeChunk)},
        {"chunk-fffffff7.aif", BuildAiff(oddHugeChunk)},
        {"ssnd-7-fields-cut.aif", Slice(BuildAiff(ssndShort), 0, 12 + 26 + 8 + 4)},
        {"zero-chunks-no-ssnd.aif", commOnly},
        {"zero-chunks-no-comm.iff", zeroRun},
        {"zero-chunks-behind.aif", BuildAiff(healthyZeroRun)},
        {"riff-named.aif", BuildWav({StereoFmt(48000)}, Samples(402), 0)},
        {"form-named.wav", BuildAiff(damaged)},
    };
    files->insert(files->end(), aiff.begin(), aiff.end());
}

// Files of 0 to 11 bytes: a header cut before its form type.
void ShortFiles(Files* files)
{
    const Bytes riff = RiffFile({});
    const Bytes form = FormFile({});
    const Bytes garbage = PatternBytes(12, 99);
    for (const char* ext : {"wav", "bwf", "aif", "aiff", "iff"}) {
        const bool aiff = ext[0] != 'w' && ext[0] != 'b';
        for (size_t n = 0; n <= 11; ++n) {
            const Bytes& whole = aiff ? form : riff;
            files->push_back({"short" + std::to_string(n) + "." + ext, Bytes(whole.begin(), whole.begin() + long(n))});
            files->push_back({"garbage" + std::to_string(n) + "." + ext, Bytes(garbage.begin(), garbage.begin() + long(n))});
        }
    }
}

// Runs the scan on the worker thread, as the program does, with a time limit.
Lines ScanWithin(ScanRun& scan, const std::string& folder, int seconds)
{
    auto done = std::async(std::launch::async, [&] { return scan.run(folder); });
    if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        ADD_FAILURE() << "the scan hangs";
        fflush(stdout);
        std::_Exit(1);
    }
    return done.get();
}

// Lines that name the entry name (the scan starts each line with it).
Lines LinesOf(const Lines& lines, const std::string& name)
{
    Lines out;
    for (const std::string& l : lines)
        if (l.compare(0, name.size() + 1, name + " ") == 0)
            out.push_back(l);
    return out;
}

TEST(HostileFiles, ScanEndsAndChangesNoByte)
{
    Files files;
    WavFiles(&files);
    LongTakeFiles(&files);
    AiffFiles(&files);
    ShortFiles(&files);
    TempDir dir;
    for (const auto& f : files)
        ASSERT_TRUE(WriteFileBytes(dir.file(f.first), f.second)) << f.first;

    ScanRun scan;
    Lines lines = ScanWithin(scan, dir.path(), 60);

    size_t named = 0;
    for (const auto& f : files) {
        SCOPED_TRACE(f.first);
        Lines mine = LinesOf(lines, f.first);
        named += mine.size();
        EXPECT_TRUE(mine.empty() || mine == Lines{OkLine(f.first)}) << ::testing::PrintToString(mine);
        EXPECT_TRUE(ReadFileBytes(dir.file(f.first)) == f.second) << "the file changed";
    }
    EXPECT_EQ(lines.size(), named) << ::testing::PrintToString(lines);
    EXPECT_EQ(0, scan.outcomes.repaired);
    EXPECT_EQ(0, scan.outcomes.failed);
}

// A damaged recording that a scan would repair, were it free to.
Bytes Repairable()
{
    return BuildWav({StereoFmt(48000)}, Samples(4002), 0);
}

// Scans dir and expects it to leave name alone, saying so with refused;
// then, once released, that the next scan repairs it (so it was the
// protection that held).
void ExpectProtected(const TempDir& dir, const std::string& name, const std::function<void()>& release,
                     const Lines& refused = Lines{})
{
    ScanRun scan;
    Lines lines = ScanWithin(scan, dir.path(), 60);
    EXPECT_EQ(refused, LinesOf(lines, name));
    EXPECT_EQ(Repairable(), ReadFileBytes(dir.file(name)));
    release();
    Lines after = ScanWithin(scan, dir.path(), 60);
    EXPECT_EQ(2u, LinesOf(after, name).size()) << ::testing::PrintToString(after);
}

TEST(HostileEntries, FolderNamedLikeARecordingIsNotEntered)
{
    TempDir dir;
    ASSERT_TRUE(MakeDir(dir.file("take.wav")));
    ASSERT_TRUE(MakeDir(dir.file("take.aif")));
    std::string inner = dir.file("take.wav") + PathSep() + "inner.wav";
    ASSERT_TRUE(WriteFileBytes(inner, Repairable()));
    ScanRun scan;
    EXPECT_EQ(Lines{}, ScanWithin(scan, dir.path(), 60));
    EXPECT_EQ(Repairable(), ReadFileBytes(inner));
}

#ifndef _WIN32
TEST(HostileEntries, FifoNamedLikeARecordingNeverBlocks)
{
    TempDir dir;
    ASSERT_EQ(0, mkfifo(dir.file("take.wav").c_str(), 0644));
    ASSERT_EQ(0, mkfifo(dir.file("take.aiff").c_str(), 0644));
    // One with a writer that never writes: a read would wait for ever.
    int writer = open(dir.file("take.aiff").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    ASSERT_TRUE(WriteFileBytes(dir.file("real.wav"), Repairable()));
    ScanRun scan;
    Lines lines = ScanWithin(scan, dir.path(), 20);
    close(writer);
    EXPECT_EQ(Lines{}, LinesOf(lines, "take.wav"));
    EXPECT_EQ(Lines{}, LinesOf(lines, "take.aiff"));
    EXPECT_EQ(2u, LinesOf(lines, "real.wav").size());
}
#endif

#if defined(__linux__)
// Root writes through mode bits; the immutable attribute stops root too.
bool SetImmutable(const std::string& path, bool on)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}
#endif

TEST(HostileEntries, ReadOnlyRecordingIsLeftAlone)
{
    TempDir dir;
    const std::string path = dir.file("readonly.wav");
    ASSERT_TRUE(WriteFileBytes(path, Repairable()));
#ifdef _WIN32
    ASSERT_TRUE(SetReadOnly(path, true));
    auto release = [&] { SetReadOnly(path, false); };
#else
    bool immutable = false;
    if (geteuid() == 0) {
#if defined(__linux__)
        immutable = SetImmutable(path, true);
#endif
        if (!immutable)
            GTEST_SKIP() << "root writes to read-only files, and this file system has no immutable attribute";
    } else {
        ASSERT_EQ(0, chmod(path.c_str(), 0444));
    }
    struct Undo {
        std::string path;
        bool immutable;
        ~Undo()
        {
#if defined(__linux__)
            if (immutable)
                SetImmutable(path, false);
#endif
            chmod(path.c_str(), 0644);
        }
    } undo{path, immutable};
    auto release = [&] {
#if defined(__linux__)
        if (undo.immutable)
            SetImmutable(path, false);
#endif
        chmod(path.c_str(), 0644);
    };
#endif
    // Wine run by root keeps the attribute in the mode bits, which root
    // writes through; only a system that refuses this open can be tested.
    FileHandle probe = FileHandleNone;
    if (File_Open(path.c_str(), FileModeReadWriteExisting, &probe, 128)) {
        File_Close(probe);
        release();
        GTEST_SKIP() << "this system lets the test write to the read-only file";
    }
    ExpectProtected(dir, "readonly.wav", release);
}

#ifdef _WIN32
TEST(HostileEntries, RecordingOpenElsewhereIsLeftAlone)
{
    // A player reading the file: the scan opens without sharing and is refused.
    TempDir dir;
    const std::string path = dir.file("playing.wav");
    ASSERT_TRUE(WriteFileBytes(path, Repairable()));
    FileHandle held = FileHandleNone;
    ASSERT_EQ(1, File_Open(path.c_str(), FileModeReadShared, &held, 128));
    ExpectProtected(dir, "playing.wav", [&] { File_Close(held); }, Lines{ErrLine("playing.wav")});
}
#else
// Another process holding a file open, and a lock on it (lockOp not 0),
// until released.
struct LockingProcess {
    pid_t pid = -1;
    int release = -1;  // closing it lets the child go

    bool start(const std::string& path, int lockOp, int openFlags = O_RDONLY)
    {
        int ready[2], hold[2];
        if (pipe(ready) != 0 || pipe(hold) != 0)
            return false;
        pid = fork();
        if (pid == 0) {
            close(ready[0]);
            close(hold[1]);
            int fd = open(path.c_str(), openFlags);
            char ok = (fd >= 0 && (lockOp == 0 || flock(fd, lockOp) == 0)) ? 'y' : 'n';
            if (write(ready[1], &ok, 1) != 1)
                _exit(1);
            char c;
            while (read(hold[0], &c, 1) > 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(hold[0]);
        release = hold[1];
        char ok = 'n';
        bool started = pid > 0 && read(ready[0], &ok, 1) == 1 && ok == 'y';
        close(ready[0]);
        return started;
    }
    void stop()
    {
        if (release >= 0)
            close(release);
        release = -1;
        if (pid > 0)
            waitpid(pid, nullptr, 0);
        pid = -1;
    }
    ~LockingProcess() { stop(); }
};

TEST(HostileEntries, RecordingLockedByAnotherProcessIsLeftAlone)
{
    // A recorder still writing (exclusive lock) and a player reading (shared lock).
    for (int lockOp : {LOCK_EX, LOCK_SH}) {
        SCOPED_TRACE(lockOp == LOCK_EX ? "exclusive" : "shared");
        TempDir dir;
        const std::string path = dir.file("locked.wav");
        ASSERT_TRUE(WriteFileBytes(path, Repairable()));
        LockingProcess other;
        ASSERT_TRUE(other.start(path, lockOp));
        ExpectProtected(dir, "locked.wav", [&] { other.stop(); }, Lines{ErrLine("locked.wav")});
    }
}

TEST(HostileEntries, RecordingOpenForWritingElsewhereIsLeftAlone)
{
    // A recorder that takes no lock: only the kernel knows it holds the file.
    for (int openFlags : {O_WRONLY | O_APPEND, O_RDWR, O_RDONLY}) {
        SCOPED_TRACE(openFlags);
        TempDir dir;
        if (!RepairsHoldFiles(dir.path()))
            GTEST_SKIP() << "this file system grants no lease";
        const std::string path = dir.file("recording.wav");
        ASSERT_TRUE(WriteFileBytes(path, Repairable()));
        LockingProcess recorder;
        ASSERT_TRUE(recorder.start(path, 0, openFlags));
        ExpectProtected(dir, "recording.wav", [&] { recorder.stop(); }, Lines{ErrLine("recording.wav")});
    }
}
#endif

}  // namespace
