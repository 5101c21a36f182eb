// The scan worker on real folders: the decision for each kind of file, what
// is passed over, stopping between files, and the options front ends use.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "filefault.h"
#include "fileio.h"
#include "listing.h"
#include "scanning.h"
#include "scanworker.h"
#include "testfiles.h"

#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

std::string Numbered(const Lines& lines)
{
    std::string t;
    char prefix[32];
    for (size_t i = 0; i < lines.size(); ++i) {
        snprintf(prefix, sizeof prefix, "#%04i ", int(i + 1));
        t += prefix + lines[i] + "\r\n";
    }
    return t;
}

Lines Sorted(Lines l)
{
    std::sort(l.begin(), l.end());
    return l;
}

// A canonical 44-byte-header WAV file whose data chunk declares `declared`
// bytes, holding `samples`, then `trailer` (further chunks or garbage); its
// RIFF size is 0 while the data size is.
Bytes Wav(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t declared, const Bytes& samples,
          const Bytes& trailer = Bytes())
{
    return BuildWav({FmtChunk(channels, rate, bits)}, samples, declared, trailer, declared == 0 ? 0 : 36 + declared);
}
Bytes ListChunk()
{
    ByteWriter info;
    info.text("INFO").raw(Chunk("ICMT", Bytes{'t', 'a', 'k', 'e', ' ', '3', 0}, false, true));
    return Chunk("LIST", info.bytes);
}

class ScanDecisions : public ::testing::Test {
protected:
    TempDir dir;
    ScanRun scan;
    // Scans a folder holding only name with bytes; returns the lines.
    Lines One(const std::string& name, const Bytes& bytes)
    {
        dir.write(name, bytes);
        return scan.run(dir.path());
    }
    Bytes After(const std::string& name) { return ReadFileBytes(dir.file(name)); }
};

TEST_F(ScanDecisions, HeaderCoveringEverythingIsOkAndUntouched)
{
    Bytes file = Wav(2, 48000, 16, 1000, PatternBytes(1000));
    EXPECT_EQ(Lines{"take.wav HEADER OK !"}, One("take.wav", file));
    EXPECT_EQ(file, After("take.wav"));
    EXPECT_EQ(Numbered(scan.lines), scan.logText());
    EXPECT_EQ(1, scan.outcomes.folderListed);
    EXPECT_EQ(1, scan.outcomes.examined);
    EXPECT_EQ(1, scan.outcomes.headerOk);
}

TEST_F(ScanDecisions, RecordingCutShortIsOkAndUntouched)
{
    Bytes file = Wav(2, 48000, 16, 4000, PatternBytes(1000));
    EXPECT_EQ(Lines{"short.wav HEADER OK !"}, One("short.wav", file));
    EXPECT_EQ(file, After("short.wav"));
}

// A 16-bit stereo take whose header declares less than it holds.
struct Repair {
    const char* test;
    const char* name;
    uint32_t declared;
    size_t present;
    const char* verdict;  // the first line, after the name
};

void PrintTo(const Repair& r, std::ostream* os)
{
    *os << r.test;
}

class ScanRepairs : public ScanDecisions, public ::testing::WithParamInterface<Repair> {};

TEST_P(ScanRepairs, HeaderCoversEveryWholeFrame)
{
    const Repair& r = GetParam();
    const std::string name = r.name;
    Bytes samples = PatternBytes(r.present);
    Lines expected{name + r.verdict, name + " (48000Hz / 2 ch) Length:00:00:00"};
    EXPECT_EQ(expected, One(name, Wav(2, 48000, 16, r.declared, samples)));
    Bytes after = After(name);
    ASSERT_EQ(1044u, after.size());
    EXPECT_EQ(1000u, Le32At(after, 40));
    EXPECT_EQ(1036u, Le32At(after, 4));
    EXPECT_TRUE(std::equal(after.begin() + 44, after.end(), samples.begin())) << "a whole frame changed";
    EXPECT_EQ(1, scan.outcomes.repaired);
    EXPECT_EQ(Numbered(scan.lines), scan.logText());
}

INSTANTIATE_TEST_SUITE_P(
    Takes, ScanRepairs,
    ::testing::Values(Repair{"HeaderNotSetIsRepairedToEveryWholeFrame", "take.wav", 0, 1000, " header not set : repair"},
                      Repair{"HeaderMissingBytesNamesTheCount", "take.wav", 400, 1000,
                             " header missing 600 bytes : repair"},
                      Repair{"CutInsideAFrameDropsThePartialFrame", "take.wav", 0, 1001, " header not set : repair"},
                      // 1001 bytes declared and present at blockAlign 4: whole frames are 1000.
                      Repair{"OddDeclaredSizeAtTheEndLacksOneByte", "odd.wav", 1001, 1001,
                             " header missing 1 bytes : repair"}),
    [](const ::testing::TestParamInfo<Repair>& info) { return std::string(info.param.test); });

TEST_F(ScanDecisions, FileThatIsOnlyAHeaderGivesNoLine)
{
    Bytes file = Wav(2, 48000, 16, 0, Bytes());
    EXPECT_EQ(Lines{}, One("empty.wav", file));
    EXPECT_EQ(file, After("empty.wav"));
    // Counted apart, so that the counts add up to the lines.
    EXPECT_EQ(0, scan.outcomes.examined);
    EXPECT_EQ(0, scan.outcomes.headerOk);
    EXPECT_EQ(1, scan.outcomes.noSamples);
}

TEST_F(ScanDecisions, MetadataBehindCompleteSamplesIsNoRepair)
{
    // LIST after the data chunk (field recorders' notes), an id3 chunk,
    // several chunks, and the pad byte of an odd-sized data chunk.
    ByteWriter id3;
    id3.raw(Chunk("id3 ", PatternBytes(31, 7), false, true));
    ByteWriter several;
    several.raw(ListChunk()).raw(Chunk("cue ", PatternBytes(28, 3))).raw(Chunk("iXML", Bytes(5, 'x'), false, true));
    dir.write("list.wav", Wav(2, 48000, 16, 1000, PatternBytes(1000), ListChunk()));
    dir.write("id3.wav", Wav(2, 44100, 24, 600, PatternBytes(600), id3.bytes));
    dir.write("several.wav", Wav(1, 8000, 16, 200, PatternBytes(200), several.bytes));
    dir.write("pad.wav", Wav(1, 8000, 8, 999, PatternBytes(999), Bytes{0}));
    std::map<std::string, Bytes> before;
    for (const char* n : {"list.wav", "id3.wav", "several.wav", "pad.wav"})
        before[n] = After(n);
    Lines lines = scan.run(dir.path());
    EXPECT_EQ(Sorted(Lines{"id3.wav HEADER OK !", "list.wav HEADER OK !", "pad.wav HEADER OK !", "several.wav HEADER OK !"}),
              Sorted(lines));
    for (auto& kv : before)
        EXPECT_EQ(kv.second, After(kv.first)) << kv.first;
}

TEST_F(ScanDecisions, BytesThatAreNoChunksCountAsSamples)
{
    // A recorder that never came back to the header: what follows the
    // declared 400 bytes is more samples, not a chunk.
    Bytes samples = PatternBytes(1000, 9);
    samples[400] = 0x01;  // not a printable chunk id
    Lines lines = One("take.wav", Wav(2, 48000, 16, 400, Bytes(samples.begin(), samples.begin() + 400),
                                      Bytes(samples.begin() + 400, samples.end())));
    EXPECT_EQ("take.wav header missing 600 bytes : repair", lines.at(0));
    EXPECT_EQ(1000u, Le32At(After("take.wav"), 40));
}

TEST_F(ScanDecisions, BroadcastWaveAndRf64)
{
    ByteWriter bextBody;
    bextBody.text("Interview, take 4").fill(602 - 17);
    ByteWriter bwf;
    bwf.text("RIFF").u32(0).text("WAVE").raw(Chunk("bext", bextBody.bytes)).raw(FmtChunk(2, 48000, 24));
    bwf.text("data").u32(0).raw(PatternBytes(6 * 4800 + 5));
    dir.write("take.bwf", bwf.bytes);

    // RF64 as a recorder leaves it when it stops before its final update:
    // ds64 sizes zero, data size 0xFFFFFFFF.
    ByteWriter rf;
    rf.text("RF64").u32(0xFFFFFFFF).text("WAVE");
    rf.text("ds64").u32(28).u64(0).u64(0).u64(0).u32(0);
    rf.raw(FmtChunk(1, 96000, 16));
    rf.text("data").u32(0xFFFFFFFF).raw(PatternBytes(2 * 96000 * 2));
    dir.write("big.wav", rf.bytes);

    Lines lines = scan.run(dir.path());
    EXPECT_EQ(Sorted(Lines{"take.bwf header not set : repair", "take.bwf (48000Hz / 2 ch) Length:00:00:00",
                           "big.wav header not set : repair", "big.wav (96000Hz / 1 ch) Length:00:00:02"}),
              Sorted(lines));
    Bytes bwfAfter = After("take.bwf");
    EXPECT_EQ(bwf.bytes.size() - 5, bwfAfter.size());
    EXPECT_EQ(0, memcmp(bwfAfter.data() + 20, "Interview, take 4", 17)) << "the description survives";

    Lines again = scan.run(dir.path());
    EXPECT_EQ(Sorted(Lines{"take.bwf HEADER OK !", "big.wav HEADER OK !"}), Sorted(again));
}

TEST_F(ScanDecisions, AiffNotSetMissingAndMetadataBehind)
{
    // 16-bit stereo: 4 bytes a frame; SSND body = 8 + samples. A recorder
    // that never came back leaves an SSND of 8 bytes and FORM 0.
    AiffLayout notSet(2, 16, 0, PatternBytes(4 * 441 + 3));
    notSet.ssndSize = 8;
    notSet.formSize = 0;
    dir.write("notset.aif", BuildAiff(notSet));
    AiffLayout missing(2, 16, 100, PatternBytes(4 * 441));
    missing.ssndSize = 8 + 400;
    missing.formSize = 4 + 26 + 8 + 8 + 400;
    dir.write("missing.aiff", BuildAiff(missing));
    AiffLayout named(1, 16, 500, PatternBytes(1000), 22050);
    named.after = {Chunk("NAME", Bytes{'t', 'a', 'k', 'e', '5'}, true, true)};
    Bytes healthy = BuildAiff(named);
    dir.write("named.aif", healthy);
    Lines lines = scan.run(dir.path());
    EXPECT_EQ(Sorted(Lines{"notset.aif header not set : repair", "notset.aif (44100Hz / 2 ch) Length:00:00:00",
                           "missing.aiff header missing 1364 bytes : repair",
                           "missing.aiff (44100Hz / 2 ch) Length:00:00:00", "named.aif HEADER OK !"}),
              Sorted(lines));
    EXPECT_EQ(healthy, After("named.aif"));
    Bytes notset = After("notset.aif");
    ASSERT_EQ(12u + 26 + 16 + 4 * 441, notset.size());
    EXPECT_EQ(441u, Be32At(notset, 22)) << "COMM frame count";
    EXPECT_EQ(8u + 4 * 441, Be32At(notset, 42)) << "SSND size";
    EXPECT_EQ(uint32_t(notset.size() - 8), Be32At(notset, 4)) << "FORM size";
    EXPECT_EQ(Sorted(Lines{"notset.aif HEADER OK !", "missing.aiff HEADER OK !", "named.aif HEADER OK !"}),
              Sorted(scan.run(dir.path())));
}

TEST_F(ScanDecisions, DurationsPrintHoursMinutesSecondsUncapped)
{
    // 8-bit mono at 10 Hz: 37,239 frames are 1 h 2 min 3.9 s.
    EXPECT_EQ("a.wav (10Hz / 1 ch) Length:01:02:03", One("a.wav", Wav(1, 10, 8, 0, Bytes(37239, 0x80))).at(1));
    // At 1 Hz, 360,000 frames are 100 hours; hours are not reduced to days.
    TempDir other;
    other.write("b.wav", Wav(1, 1, 8, 0, Bytes(360001, 0x80)));
    EXPECT_EQ("b.wav (1Hz / 1 ch) Length:100:00:01", scan.run(other.path()).at(1));
}

TEST_F(ScanDecisions, MissingCountBeyond32BitsIsPrintedInFull)
{
    // A 3 GiB take whose header was last updated at 100 bytes (sparse file).
    const int64_t size = 3LL * 1024 * 1024 * 1024;
    std::string path = dir.write("long.wav", Wav(2, 48000, 16, 100, PatternBytes(100)));
    ASSERT_TRUE(SetFileLength(path, size));
    Lines lines = scan.run(dir.path());
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("long.wav header missing " + std::to_string(size - 44 - 100) + " bytes : repair", lines[0]);
    // (3 GiB - 44) / 4 whole frames at 48 kHz: 16777 s.
    EXPECT_EQ("long.wav (48000Hz / 2 ch) Length:04:39:37", lines[1]);
    EXPECT_EQ(size, FileLength(path)) << "(3 GiB - 44) is whole frames: nothing to cut";
}

// Plain RIFF takes past the size where the 64-bit form begins, without a
// reservation for it: exact sizes while they fit their fields, 0xFFFFFFFF
// beyond; either way repaired once, then left alone.
struct BigTake {
    const char* name;
    int64_t sampleBytes;  // whole frames of 16-bit stereo
    uint32_t riffSize;
    uint32_t dataSize;
    bool beyond;  // past what the data size can say
};

void PrintTo(const BigTake& t, std::ostream* os)
{
    *os << t.name;
}

class ScanBigTakes : public ScanDecisions, public ::testing::WithParamInterface<BigTake> {};

TEST_P(ScanBigTakes, RepairedOnceThenLeftAlone)
{
    const BigTake& t = GetParam();
    const std::string path = dir.write("big.wav", Wav(2, 48000, 16, 0, Bytes()));
    ASSERT_TRUE(SetFileLength(path, 44 + t.sampleBytes + 2)) << "sparse, with half a frame behind";
    const Lines note = t.beyond ? Lines{"big.wav: more than 4 GiB of samples in a plain RIFF file: programs that "
                                        "stop at 4 GiB see only part of them"}
                                : Lines{};
    Lines first = scan.run(dir.path());
    ASSERT_EQ(2u, first.size());
    EXPECT_EQ("big.wav header not set : repair", first[0]);
    EXPECT_EQ(note, scan.notes);
    EXPECT_EQ(44 + t.sampleBytes, FileLength(path));
    const Bytes head = ReadAt(path, 0, 44);
    EXPECT_EQ(t.riffSize, Le32At(head, 4));
    EXPECT_EQ(t.dataSize, Le32At(head, 40));
    for (int again = 0; again < 3; ++again) {
        EXPECT_EQ(Lines{"big.wav HEADER OK !"}, scan.run(dir.path()));
        EXPECT_EQ(note, scan.notes);
        EXPECT_EQ(head, ReadAt(path, 0, 44));
        EXPECT_EQ(44 + t.sampleBytes, FileLength(path));
    }
    scan.options.checkOnly = 1;
    EXPECT_EQ(Lines{"big.wav HEADER OK !"}, scan.run(dir.path()));
    EXPECT_EQ(0, scan.outcomes.needRepair);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScanBigTakes,
                         ::testing::Values(BigTake{"under4GiB", 0xF0000000LL, 0xF0000000u + 36, 0xF0000000u, false},
                                           BigTake{"justUnder", 0xFFFFFFFCLL - 36, 0xFFFFFFFCu,
                                                   0xFFFFFFFCu - 36, false},
                                           BigTake{"beyond4GiB", 4 * GiB + GiB / 2, 0xFFFFFFFFu, 0xFFFFFFFFu, true}),
                         [](const ::testing::TestParamInfo<BigTake>& info) { return std::string(info.param.name); });

// Pad bytes after an odd-sized chunk as writers leave them: zero, a space,
// another printable byte, or none at all.
struct Pad {
    const char* name;
    Bytes bytes;
};

void PrintTo(const Pad& p, std::ostream* os)
{
    *os << p.name;
}

class ScanPads : public ScanDecisions, public ::testing::WithParamInterface<Pad> {};

TEST_P(ScanPads, OddChunkBeforeTheSamples)
{
    const Bytes samples = PatternBytes(4002, 21);
    const Bytes file =
        BuildWav({Cat({Chunk("LIST", Bytes(5, 'n')), GetParam().bytes}), FmtChunk(2, 48000, 16)}, samples, 0);
    const int64_t dataOffset = int64_t(file.size() - samples.size());
    EXPECT_EQ(2u, One("take.wav", file).size());
    const Bytes after = After("take.wav");
    ASSERT_EQ(size_t(dataOffset + 4000), after.size());
    EXPECT_EQ(Slice(samples, 0, 4000), Slice(after, size_t(dataOffset), 4000)) << "sample-exact";
    EXPECT_EQ(4000u, Le32At(after, size_t(dataOffset - 4)));
    EXPECT_EQ(Lines{"take.wav HEADER OK !"}, scan.run(dir.path()));
}

TEST_P(ScanPads, OddChunkBehindTheSamples)
{
    const Bytes file = BuildWav({FmtChunk(2, 48000, 16)}, PatternBytes(4000, 22), 4000,
                                Cat({Chunk("LIST", Bytes(5, 'n')), GetParam().bytes, Chunk("id3 ", Bytes(10, 'i'))}));
    EXPECT_EQ(Lines{"take.wav HEADER OK !"}, One("take.wav", file));
    EXPECT_EQ(file, After("take.wav"));
}

INSTANTIATE_TEST_SUITE_P(Bytes, ScanPads,
                         ::testing::Values(Pad{"zero", Bytes{0}}, Pad{"space", Bytes{' '}}, Pad{"letter", Bytes{'X'}},
                                           Pad{"none", Bytes{}}),
                         [](const ::testing::TestParamInfo<Pad>& info) { return std::string(info.param.name); });

TEST_F(ScanDecisions, FactChunkGetsTheRepairedFrameCount)
{
    // 32-bit float stereo: 8-byte frames, a fact chunk the recorder left at 0.
    const Bytes file = BuildWav({Chunk("fmt ", WavFmtBody(3, 2, 48000, 32)), Chunk("fact", Bytes(4, 0))},
                                PatternBytes(8003, 23), 0);
    EXPECT_EQ(2u, One("float.wav", file).size());
    const Bytes after = After("float.wav");
    EXPECT_EQ(1000u, Le32At(after, 12 + 24 + 8)) << "fact's dwSampleLength";
    EXPECT_EQ(8000u, Le32At(after, 12 + 24 + 12 + 4));
    EXPECT_EQ(Lines{"float.wav HEADER OK !"}, scan.run(dir.path()));
}

TEST_F(ScanDecisions, TrailingSeparatorFindsTheSameFiles)
{
    dir.write("take.wav", Wav(2, 48000, 16, 0, PatternBytes(1000)));
    Lines lines = scan.run(dir.path() + PathSep());
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("take.wav header not set : repair", lines[0]);
}

TEST_F(ScanDecisions, FolderThatCannotBeListedGivesNoLine)
{
    EXPECT_EQ(Lines{}, scan.run(dir.file("missing")));
    EXPECT_EQ(0, scan.outcomes.folderListed);
    EXPECT_EQ(Lines{}, scan.run(""));
    EXPECT_EQ(0, scan.outcomes.folderListed);
    std::string file = dir.write("take.wav", Wav(2, 48000, 16, 0, PatternBytes(8)));
    EXPECT_EQ(Lines{}, scan.run(file)) << "a file is no folder";
    EXPECT_EQ(0, scan.outcomes.folderListed);
    EXPECT_EQ("", scan.logText());
}

class ScanPassesOver : public ScanDecisions {};

TEST_F(ScanPassesOver, HiddenFilesSubfoldersAndOtherTypes)
{
    Bytes damaged = Wav(2, 48000, 16, 0, PatternBytes(1000));
    dir.write(".hidden.wav", damaged);
    ASSERT_TRUE(MakeDir(dir.file("sub")));
    dir.write("sub" + PathSep() + "inner.wav", damaged);
    ASSERT_TRUE(MakeDir(dir.file("folder.wav")));
    dir.write("take.mp3", damaged);
    dir.write("notes.txt", Bytes{'h', 'i'});
    dir.write("noext", damaged);
    EXPECT_EQ(Lines{}, scan.run(dir.path()));
    EXPECT_EQ(damaged, After(".hidden.wav"));
    EXPECT_EQ(damaged, After("sub" + PathSep() + "inner.wav"));
    EXPECT_EQ(damaged, After("take.mp3"));
    EXPECT_EQ(0, scan.outcomes.examined);
    EXPECT_EQ(0, scan.outcomes.notOpened) << "files that are no sound files by name are not counted";
}

TEST_F(ScanPassesOver, RefusedHeadersAndFilesInUse)
{
    dir.write("notes.wav", Bytes(100, 'a'));
    AiffLayout ima4(2, 16, 0, PatternBytes(400));
    ima4.compression = "ima4";
    dir.write("take3.aifc", BuildAiff(ima4));
    Bytes damaged = Wav(2, 48000, 16, 0, PatternBytes(1000));
    std::string busy = dir.write("busy.wav", damaged);
    FileHandle held = FileHandleNone;
    ASSERT_EQ(1, File_Open(busy.c_str(), FileModeReadExclusive, &held, 128)) << "a recorder still holds the file";
    EXPECT_EQ(Lines{"busy.wav ERR:Can't Access File"}, scan.run(dir.path()));
    File_Close(held);
    EXPECT_EQ(damaged, After("busy.wav"));
    EXPECT_EQ(1, scan.outcomes.notOpened);
    EXPECT_EQ(2, scan.outcomes.notRecordings) << "opened, but no recording read here";
    EXPECT_EQ(0, scan.outcomes.examined);
    EXPECT_EQ(Sorted(Lines{"busy.wav: not examined: cannot open (in use by another program)",
                           "notes.wav: not examined: not a WAV or RF64 file: it begins with 'aaaa'",
                           "take3.aifc: not examined: compressed (IMA ADPCM, AIFF-C 'ima4'): not repaired"}),
              Sorted(scan.notes));
}

TEST_F(ScanPassesOver, ReadOnlyFile)
{
    Bytes damaged = Wav(2, 48000, 16, 0, PatternBytes(1000));
    std::string path = dir.write("locked.wav", damaged);
    ASSERT_TRUE(SetReadOnly(path, true));
    FileHandle probe = FileHandleNone;
    if (File_Open(path.c_str(), FileModeReadWriteExisting, &probe, 128)) {
        File_Close(probe);
        SetReadOnly(path, false);
        GTEST_SKIP() << "this user may write read-only files (root, or Wine run by root)";
    }
    EXPECT_EQ(Lines{}, scan.run(dir.path()));
    SetReadOnly(path, false);
    EXPECT_EQ(damaged, After("locked.wav"));
}

#ifndef _WIN32
// Entries named like recordings that are no file to open: never opened (a
// blocking open would hang the scan and the test time out), each named.
TEST_F(ScanPassesOver, FifoSocketDeviceAndDanglingLinkAreNamedNeverOpened)
{
    ASSERT_EQ(0, mkfifo(dir.file("take.wav").c_str(), 0644));
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string sock = dir.file("sock.wav");
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    strcpy(addr.sun_path, sock.c_str());
    ASSERT_EQ(0, bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    ASSERT_EQ(0, symlink("/dev/zero", dir.file("zero.wav").c_str()));
    ASSERT_EQ(0, symlink(dir.file("nowhere.wav").c_str(), dir.file("dangling.wav").c_str()));
    ASSERT_EQ(0, mkfifo(dir.file("pipe.txt").c_str(), 0644));  // named like no take: not a word
    const Bytes damaged = Wav(2, 48000, 16, 0, PatternBytes(1000));
    const Lines repaired{"real.wav header not set : repair", "real.wav (48000Hz / 2 ch) Length:00:00:00"};
    const std::string notFile = ": not examined: not a regular file (a FIFO, device or socket)";
    const struct {
        int32_t followLinks;
        Lines notes;
    } cases[] = {
        {0, {"dangling.wav: not examined: a link, not followed", "sock.wav" + notFile, "take.wav" + notFile,
             "zero.wav: not examined: a link, not followed"}},
        {1, {"dangling.wav: not examined: a link that leads nowhere", "sock.wav" + notFile, "take.wav" + notFile,
             "zero.wav" + notFile}},
    };
    for (const auto& c : cases) {
        dir.write("real.wav", damaged);
        scan.options.followLinks = c.followLinks;
        scan.run(dir.path());
        EXPECT_EQ(Sorted(repaired), Sorted(scan.lines));
        EXPECT_EQ(c.notes, Sorted(scan.notes));
        EXPECT_EQ(4, scan.outcomes.notOpened);
    }
    close(s);
}

TEST_F(ScanPassesOver, FolderDeeperThanTheScanGoesIsNamed)
{
    std::string folder = dir.path(), shown;
    for (int depth = 0; depth <= ScanMaxDepth; ++depth) {
        shown += (depth == 0 ? "" : "/") + std::string("d");
        folder += "/d";
        ASSERT_TRUE(MakeDir(folder));
    }
    const Bytes damaged = Wav(2, 48000, 16, 0, PatternBytes(1000));
    WriteFileBytes(folder + "/deep.wav", damaged);
    scan.options.recursive = 1;
    EXPECT_EQ(Lines{}, scan.run(dir.path()));
    EXPECT_EQ(Lines{shown + ": not examined: a folder more than 64 levels down: not entered"}, scan.notes);
    EXPECT_EQ(1, scan.outcomes.notOpened);
    EXPECT_EQ(damaged, ReadFileBytes(folder + "/deep.wav"));
}

TEST_F(ScanPassesOver, LinkedFileIsExaminedThroughItsLink)
{
    TempDir elsewhere;
    std::string target = elsewhere.write("take.wav", Wav(2, 48000, 16, 0, PatternBytes(1000)));
    ASSERT_EQ(0, symlink(target.c_str(), dir.file("link.wav").c_str()));
    scan.options.followLinks = 1;  // only when asked
    Lines lines = scan.run(dir.path());
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("link.wav header not set : repair", lines[0]);
    EXPECT_EQ(1000u, Le32At(ReadFileBytes(target), 40));
}

// A link inside the scanned folder (or, recursive, below it) that leads to
// a take outside it.
struct OutsideLink {
    const char* test;
    const char* folder;   // where the link lies, below the scanned folder ("" at its top)
    const char* link;     // the link's name
    int recursive;
    const char* note;     // what the scan says of it; "" for nothing
};

void PrintTo(const OutsideLink& l, std::ostream* os)
{
    *os << l.test;
}

class ScanLinks : public ScanDecisions, public ::testing::WithParamInterface<OutsideLink> {};

TEST_P(ScanLinks, FileOutsideTheFolderIsNeverChanged)
{
    const OutsideLink& l = GetParam();
    TempDir elsewhere;
    AiffLayout unfinished(2, 16, 0, PatternBytes(1000));
    unfinished.ssndSize = 8;
    const Bytes damaged = Path_HasExtension(l.link, ".aif") ? BuildAiff(unfinished) : Wav(2, 48000, 16, 0, PatternBytes(1000));
    // Named like no take, so that only the link's name can make it one.
    const std::string target = elsewhere.write("outside.dat", damaged);
    std::string at = dir.path();
    if (l.folder[0] != '\0') {
        at = dir.file(l.folder);
        ASSERT_TRUE(MakeDir(at));
    }
    ASSERT_EQ(0, symlink(target.c_str(), (at + "/" + l.link).c_str()));
    dir.write("real.wav", Wav(2, 48000, 16, 0, PatternBytes(1000)));
    scan.options.recursive = l.recursive;
    Lines lines = scan.run(dir.path());
    EXPECT_EQ(Sorted(Lines{"real.wav header not set : repair", "real.wav (48000Hz / 2 ch) Length:00:00:00"}),
              Sorted(lines));
    EXPECT_EQ(damaged, ReadFileBytes(target)) << "a file outside the folder changed";
    EXPECT_EQ(l.note[0] != '\0' ? Lines{l.note} : Lines{}, scan.notes);
    EXPECT_EQ(l.note[0] != '\0' ? 1 : 0, scan.outcomes.notOpened);

    scan.options.followLinks = 1;
    scan.run(dir.path());
    const bool reached = l.note[0] != '\0';
    EXPECT_EQ(reached, ReadFileBytes(target) != damaged) << "followed when asked, if the scan reaches it";
}

INSTANTIATE_TEST_SUITE_P(
    Links, ScanLinks,
    ::testing::Values(OutsideLink{"AtTheTop", "", "take.aif", 0, "take.aif: not examined: a link, not followed"},
                      OutsideLink{"NamedLikeAWav", "", "take.wav", 0, "take.wav: not examined: a link, not followed"},
                      OutsideLink{"InASubfolder", "day1", "take.wav", 1,
                                  "day1/take.wav: not examined: a link, not followed"},
                      OutsideLink{"InASubfolderNotEntered", "day1", "take.wav", 0, ""},
                      OutsideLink{"NamedLikeNoTake", "", "notes.txt", 0, ""}),
    [](const ::testing::TestParamInfo<OutsideLink>& info) { return std::string(info.param.test); });

TEST_F(ScanPassesOver, EntryWhosePathDoesNotFitIsNotOpened)
{
    // Nest folders until the folder path nearly fills the path buffer.
    std::string folder = dir.path();
    while (folder.size() < 900)
        folder += "/" + std::string(60, 'd');
    ASSERT_TRUE(MakeDir(folder));
    folder.resize(folder.size());
    Bytes damaged = Wav(2, 48000, 16, 0, PatternBytes(1000));
    size_t room = 1023 - folder.size() - 1;  // the longest name that still fits
    std::string fits = std::string(room - 4, 'f') + ".wav";
    std::string tooLong = std::string(room - 3, 'g') + ".wav";
    WriteFileBytes(folder + "/" + fits, damaged);
    WriteFileBytes(folder + "/" + tooLong, damaged);
    Lines lines = scan.run(folder);
    EXPECT_EQ(Sorted(Lines{fits + " header not set : repair", fits + " (48000Hz / 2 ch) Length:00:00:00"}), Sorted(lines));
    EXPECT_EQ(damaged, ReadFileBytes(folder + "/" + tooLong));
    EXPECT_EQ(1, scan.outcomes.notOpened);
    EXPECT_EQ(Lines{tooLong + ": not examined: path too long (in " + folder + ")"}, scan.notes);
}
#endif

// A recorder at work on the take while the scan looks at it.
class ScanWhileRecording : public ScanDecisions {
protected:
    const Bytes damaged = Wav(2, 48000, 16, 0, PatternBytes(1000));
    const std::string path = dir.write("take.wav", damaged);

    // The next scan, with the recorder gone, repairs every whole frame.
    void ExpectRepairedOnceLeft(uint32_t frameBytes)
    {
        Lines again = scan.run(dir.path());
        ASSERT_EQ(2u, again.size()) << ::testing::PrintToString(again);
        EXPECT_EQ("take.wav (48000Hz / 2 ch) Length:00:00:00", again[1]);
        EXPECT_EQ(frameBytes, Le32At(After("take.wav"), 40));
    }
};

TEST_F(ScanWhileRecording, TakeARecorderHoldsOpenIsNotExamined)
{
    if (!RepairsHoldFiles(dir.path()))
        GTEST_SKIP() << "this file system grants no lease";
    // Open for writing and shared, as capture programs keep their takes.
    FileHandle recorder = FileHandleNone;
    ASSERT_EQ(1, File_Open(path.c_str(), FileModeWrite | FileModeShareRead | FileModeShareWrite | FileModeOpenExisting,
                           &recorder, 128));
    EXPECT_EQ(Lines{"take.wav ERR:Can't Access File"}, scan.run(dir.path()));
    EXPECT_EQ(Lines{"take.wav: not examined: cannot open (in use by another program)"}, scan.notes);
    EXPECT_EQ(1, scan.outcomes.notOpened);
    EXPECT_EQ(0, scan.outcomes.examined);
    EXPECT_EQ(0, scan.outcomes.failed);

    const Bytes more = PatternBytes(402, 5);
    ASSERT_EQ(1, File_SeekTo(recorder, int64_t(damaged.size())));
    ASSERT_EQ(1, File_WriteExact(recorder, more.data(), uint32_t(more.size())));
    ASSERT_EQ(1, File_Close(recorder));
    EXPECT_EQ(Cat({damaged, more}), After("take.wav")) << "every frame the recorder wrote is there";
    ExpectRepairedOnceLeft(1400);
}

#ifndef _WIN32
// What a recorder does to the take between the scan's examination and its
// repair; returns what the file must then hold.
struct Interference {
    const char* test;
    bool leases;  // the file system grants leases
    std::function<Bytes(const std::string& path, const Bytes& before)> act;
    const char* why;  // the reason the scan gives
};

void PrintTo(const Interference& i, std::ostream* os)
{
    *os << i.test;
}

class ScanWhileWritten : public ScanWhileRecording, public ::testing::WithParamInterface<Interference> {};

TEST_P(ScanWhileWritten, TakeThatChangesWhileCheckedIsNotRepaired)
{
    const Interference& i = GetParam();
    if (i.leases && !RepairsHoldFiles(dir.path()))
        GTEST_SKIP() << "this file system grants no lease";
    FaultGuard guard;
    FileFault_RefuseLeases(i.leases ? 0 : 1);
    // Between the examination and the repair's first write.
    struct Act {
        const Interference* i;
        std::string path;
        Bytes before;
        Bytes expected;
    } act{&i, path, damaged, Bytes()};
    scan.options.beforeRepair = [](const ScanFileReport*, SoundFile*, void* context) {
        Act* a = static_cast<Act*>(context);
        a->expected = a->i->act(a->path, a->before);
        return int32_t(0);
    };
    scan.options.repairContext = &act;
    Lines lines = scan.run(dir.path());
    const Bytes& expected = act.expected;
    EXPECT_EQ((Lines{"take.wav header not set : repair", "take.wav ERR:Can't Access File"}), lines);
    EXPECT_EQ(Lines{std::string("take.wav: not repaired: still being written? (") + i.why + ")"}, scan.notes);
    EXPECT_EQ(expected, After("take.wav")) << "every byte stays";
    EXPECT_EQ(1, scan.outcomes.failed);
    EXPECT_EQ(0, scan.outcomes.repaired);
    scan.options.beforeRepair = nullptr;
    ExpectRepairedOnceLeft(uint32_t(expected.size() - 44) / 4 * 4);
}

INSTANTIATE_TEST_SUITE_P(
    Recorders, ScanWhileWritten,
    ::testing::Values(
        Interference{"GrowsWithoutLeases", false,
                     [](const std::string& path, const Bytes& before) {
                         const Bytes frame = PatternBytes(4, 8);
                         EXPECT_TRUE(WriteAt(path, int64_t(before.size()), frame));
                         return Cat({before, frame});
                     },
                     "its length changed while it was checked"},
#ifdef __linux__
        Interference{"OpenedElsewhere", true,
                     [](const std::string& path, const Bytes& before) {
                         // Without O_NONBLOCK the open would wait for the scan.
                         int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                         EXPECT_TRUE(fd < 0 && errno == EWOULDBLOCK) << "the scan holds a lease";
                         if (fd >= 0)
                             close(fd);
                         return before;
                     },
                     "another program opened it while it was checked"},
#endif
        Interference{"WrittenInPlaceWithoutLeases", false,
                     [](const std::string& path, const Bytes& before) {
                         // A coarse clock gives a later time only after a tick.
                         std::this_thread::sleep_for(std::chrono::milliseconds(20));
                         const Bytes frame = PatternBytes(4, 9);
                         EXPECT_TRUE(WriteAt(path, 44, frame));
                         Bytes after = before;
                         std::copy(frame.begin(), frame.end(), after.begin() + 44);
                         return after;
                     },
                     "it was written while it was checked"}),
    [](const ::testing::TestParamInfo<Interference>& info) { return std::string(info.param.test); });
#endif

TEST(ScanFailures, FailedRepairAndFailedCloseReportAccessErrors)
{
    // A failed close comes after the header's write: the next scan finds
    // the header whole; after any other fault it finishes the repair.
    const struct {
        uint32_t op;
        Lines again;
    } cases[] = {
        {FileFaultTruncate, {"take.wav header not set : repair", "take.wav (48000Hz / 2 ch) Length:00:00:00"}},
        {FileFaultFlush, {"take.wav header not set : repair", "take.wav (48000Hz / 2 ch) Length:00:00:00"}},
        {FileFaultWrite, {"take.wav header not set : repair", "take.wav (48000Hz / 2 ch) Length:00:00:00"}},
        {FileFaultClose, {"take.wav HEADER OK !"}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ScanRun scan;
        // A partial last frame, so that the repair cuts.
        dir.write("take.wav", Wav(2, 48000, 16, 0, PatternBytes(1001)));
        FileFault_Arm(c.op, 1, 0);
        Lines lines = scan.run(dir.path());
        FileFault_Disarm();
        EXPECT_EQ((Lines{"take.wav header not set : repair", "take.wav ERR:Can't Access File"}), lines)
            << "fault class " << c.op;
        // The cause named: an injected fault is a failing disk's.
        EXPECT_EQ(Lines{"take.wav: not repaired: input/output error: a failing disk or card?"}, scan.notes)
            << "fault class " << c.op;
        EXPECT_EQ(1, scan.outcomes.failed);
        EXPECT_EQ(0, scan.outcomes.repaired);
        EXPECT_EQ(c.again, scan.run(dir.path())) << "fault class " << c.op;
        EXPECT_EQ(1000u, Le32At(ReadFileBytes(dir.file("take.wav")), 40));
    }
}

TEST(ScanCheckOnly, ReportsWithoutChangingAnything)
{
    TempDir dir;
    ScanRun scan;
    Bytes notSet = Wav(2, 48000, 16, 0, PatternBytes(1001));
    Bytes missing = Wav(2, 48000, 16, 400, PatternBytes(1000));
    Bytes healthy = Wav(2, 48000, 16, 1000, PatternBytes(1000), ListChunk());
    dir.write("a.wav", notSet);
    dir.write("b.wav", missing);
    dir.write("c.wav", healthy);
    scan.options.checkOnly = 1;
    Lines lines = scan.run(dir.path());
    EXPECT_EQ(Sorted(Lines{"a.wav header not set : needs repair (not repaired, --check)",
                           "b.wav header missing 600 bytes : needs repair (not repaired, --check)", "c.wav HEADER OK !"}),
              Sorted(lines));
    EXPECT_EQ(notSet, ReadFileBytes(dir.file("a.wav")));
    EXPECT_EQ(missing, ReadFileBytes(dir.file("b.wav")));
    EXPECT_EQ(healthy, ReadFileBytes(dir.file("c.wav")));
    EXPECT_EQ(3, scan.outcomes.examined);
    EXPECT_EQ(2, scan.outcomes.needRepair);
    EXPECT_EQ(1, scan.outcomes.headerOk);
    EXPECT_EQ(0, scan.outcomes.repaired);

    // Checking opens shared: a file another program reads is still checked.
    FileHandle reader = FileHandleNone;
    ASSERT_EQ(1, File_Open(dir.file("c.wav").c_str(), FileModeReadShared, &reader, 128));
    EXPECT_EQ(3u, scan.run(dir.path()).size());
    File_Close(reader);

    // The desktop's defaults come back with null options.
    ScanWorker_SetOptions(nullptr);
    LogBuffer_Reset(scan.log.get());
    scan.restart();
    ScanWorker_Wait();
    std::string log = scan.logText();
    EXPECT_NE(std::string::npos, log.find("a.wav header not set : repair\r\n"));
    EXPECT_EQ(1000u, Le32At(ReadFileBytes(dir.file("a.wav")), 40));
}

TEST(ScanRecursive, EntersSubfoldersOnlyWhenAsked)
{
    TempDir dir;
    ScanRun scan;
    Bytes damaged = Wav(1, 8000, 16, 0, PatternBytes(800));
    const std::string s = PathSep();
    ASSERT_TRUE(MakeDir(dir.file("day1" + s + "take2")));
    ASSERT_TRUE(MakeDir(dir.file(".trash")));
    dir.write("top.wav", damaged);
    dir.write("day1" + s + "take1.wav", damaged);
    dir.write("day1" + s + "take2" + s + "take1.wav", damaged);
    dir.write(".trash" + s + "old.wav", damaged);

    EXPECT_EQ(2u, scan.run(dir.path()).size()) << "only top.wav without recursion";
    EXPECT_EQ(damaged, ReadFileBytes(dir.file("day1" + s + "take1.wav")));

    scan.options.recursive = 1;
    Lines lines = scan.run(dir.path() + s);
    EXPECT_EQ(Sorted(Lines{"day1" + s + "take1.wav header not set : repair", "day1" + s + "take1.wav (8000Hz / 1 ch) Length:00:00:00",
                           "day1" + s + "take2" + s + "take1.wav header not set : repair",
                           "day1" + s + "take2" + s + "take1.wav (8000Hz / 1 ch) Length:00:00:00", "top.wav HEADER OK !"}),
              Sorted(lines));
    EXPECT_EQ(damaged, ReadFileBytes(dir.file(".trash" + s + "old.wav"))) << "hidden folders stay hidden";
    EXPECT_EQ(3, scan.outcomes.examined);
#ifndef _WIN32
    // A link back to the top would loop for ever: links are not entered.
    ASSERT_EQ(0, symlink(dir.path().c_str(), dir.file("day1" + s + "loop").c_str()));
    EXPECT_EQ(3u, scan.run(dir.path()).size());
#endif
}

TEST(ScanStop, StopBetweenFilesFinishesTheFileInHand)
{
    TempDir dir;
    ScanRun scan;
    Bytes damaged = Wav(2, 48000, 16, 0, PatternBytes(4000));
    for (const char* n : {"a.wav", "b.wav", "c.wav", "d.wav"})
        dir.write(n, damaged);
    // The stop comes while the first file is in hand, before its repair.
    scan.options.beforeRepair = [](const ScanFileReport*, SoundFile*, void*) {
        ScanWorker_RequestStop();
        return int32_t(0);
    };
    Lines lines = scan.run(dir.path());
    ASSERT_EQ(2u, lines.size());
    std::string name = lines[0].substr(0, 5);
    EXPECT_EQ(name + " header not set : repair", lines[0]);
    EXPECT_EQ(name + " (48000Hz / 2 ch) Length:00:00:00", lines[1]) << "repair and close were finished";
    int repaired = 0;
    for (const char* n : {"a.wav", "b.wav", "c.wav", "d.wav"})
        repaired += ReadFileBytes(dir.file(n)) != damaged;
    EXPECT_EQ(1, repaired);
    EXPECT_EQ(1, scan.outcomes.stopped);
    EXPECT_EQ(1, scan.outcomes.examined);
}

TEST(ScanStop, StopFromTheWindowThreadWaitsForTheFileInHand)
{
    TempDir dir;
    ScanRun scan;
    Bytes damaged = Wav(2, 48000, 16, 0, PatternBytes(4000));
    for (const char* n : {"a.wav", "b.wav", "c.wav"})
        dir.write(n, damaged);
    // The first file is held in hand, right before its repair.
    struct Gate {
        std::mutex m;
        std::condition_variable cv;
        bool inHand = false, release = false;
    } gate;
    scan.options.beforeRepair = [](const ScanFileReport*, SoundFile*, void* context) {
        Gate* g = static_cast<Gate*>(context);
        std::unique_lock<std::mutex> lock(g->m);
        if (!g->inHand) {
            g->inHand = true;
            g->cv.notify_all();
            g->cv.wait(lock, [g] { return g->release; });
        }
        return int32_t(0);
    };
    scan.options.repairContext = &gate;
    std::mutex& m = gate.m;
    std::condition_variable& cv = gate.cv;
    bool& release = gate.release;
    scan.start(dir.path());
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return gate.inHand; });
    }
    std::atomic<bool> stopped{false};
    std::thread window([&] {
        ScanWorker_Stop();
        stopped = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(stopped.load()) << "Stop waits for the file in hand";
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
    }
    cv.notify_all();
    window.join();
    EXPECT_EQ(2u, scan.lines.size());
    EXPECT_EQ(1, scan.outcomes.examined);
    ScanWorker_Stop();  // nothing to stop: returns at once
}

TEST(ScanStop, StopRequestedBeforeTheStartHolds)
{
    TempDir dir;
    ScanRun scan;
    const Bytes damaged = Wav(2, 48000, 16, 0, PatternBytes(4000));
    for (const char* n : {"a.wav", "b.wav"})
        dir.write(n, damaged);
    // A Ctrl-C between the command-line scanner's handler and its start.
    ScanWorker_RequestStop();
    EXPECT_EQ(Lines{}, scan.run(dir.path()));
    EXPECT_EQ(1, scan.outcomes.stopped);
    EXPECT_EQ(0, scan.outcomes.examined);
    scan.restart();  // another start does not forget it either
    ScanWorker_Wait();
    EXPECT_EQ(0, scan.outcomes.examined);
    for (const char* n : {"a.wav", "b.wav"})
        EXPECT_EQ(damaged, ReadFileBytes(dir.file(n))) << n;
    // The desktop's folder command stops any scan first: its scan runs in full.
    ScanWorker_Stop();
    EXPECT_EQ(4u, scan.run(dir.path()).size());
    EXPECT_EQ(0, scan.outcomes.stopped);
}

TEST(ScanStop, StartStopsTheRunningScanAndStopWithoutScanIsSafe)
{
    ScanWorker_Stop();
    ScanWorker_Wait();
    TempDir dir;
    ScanRun scan;
    dir.write("a.wav", Wav(2, 48000, 16, 1000, PatternBytes(1000)));
    scan.start(dir.path());
    scan.restart();  // the folder and options stay as they are
    ScanWorker_Wait();
    // The first scan may or may not have reached the file before its stop.
    ASSERT_GE(scan.lines.size(), 1u);
    ASSERT_LE(scan.lines.size(), 2u);
    for (const std::string& line : scan.lines)
        EXPECT_EQ("a.wav HEADER OK !", line);
    EXPECT_EQ(0, scan.outcomes.stopped) << "the second scan ran to its end";
}

// What the end callback saw of one scan.
struct EndSeen {
    std::mutex m;
    int calls = 0;
    size_t linesBefore = 0;  // lines given out before the end
    ScanOutcomes outcomes{};
    ScanRun* run = nullptr;
    static void onEnd(const ScanOutcomes* outcomes, void* context)
    {
        EndSeen* e = static_cast<EndSeen*>(context);
        std::lock_guard<std::mutex> lock(e->m);
        e->calls += 1;
        e->linesBefore = e->run->lines.size();
        e->outcomes = *outcomes;
    }
};

TEST(ScanEnd, TheEndComesLastOncePerScanAlsoAfterAStop)
{
    TempDir dir;
    const Bytes damaged = Wav(2, 48000, 16, 0, PatternBytes(4000));
    for (const char* n : {"a.wav", "b.wav", "c.wav"})
        dir.write(n, damaged);
    dir.write("d.wav", Bytes());
    struct Case {
        const char* what;
        bool stopInFirstFile;  // a stop requested while the first file is in hand
        int32_t listed, stopped, examined;
        size_t lines;
    } cases[] = {
        {"a scan to its end", false, 1, 0, 3, 6},
        {"the same folder again", false, 1, 0, 3, 3},
        {"a stop in the first file", true, 1, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScanRun scan;
        EndSeen end;
        end.run = &scan;
        scan.options.onEnd = EndSeen::onEnd;
        scan.options.endContext = &end;
        if (c.stopInFirstFile) {
            for (const char* n : {"a.wav", "b.wav", "c.wav"})
                dir.write(n, damaged);
            scan.options.checkOnly = 1;
            scan.onLine = [](const std::string&) { ScanWorker_RequestStop(); };
        }
        scan.run(dir.path());
        ScanWorker_Stop();  // forgets the request
        EXPECT_EQ(1, end.calls);
        EXPECT_EQ(c.lines, scan.lines.size());
        EXPECT_EQ(scan.lines.size(), end.linesBefore) << "every line before the end";
        EXPECT_EQ(0, memcmp(&scan.outcomes, &end.outcomes, sizeof(ScanOutcomes))) << "the outcomes the scan counted";
        EXPECT_EQ(c.listed, end.outcomes.folderListed);
        EXPECT_EQ(c.stopped, end.outcomes.stopped);
        EXPECT_EQ(c.examined, end.outcomes.examined);
    }

    // A folder that cannot be listed ends too, and says so.
    ScanRun scan;
    EndSeen end;
    end.run = &scan;
    scan.options.onEnd = EndSeen::onEnd;
    scan.options.endContext = &end;
    scan.run(dir.file("missing"));
    EXPECT_EQ(1, end.calls);
    EXPECT_EQ(0, end.outcomes.folderListed);
}

TEST(ScanEnd, AStopFromAnotherThreadReturnsOnlyAfterTheEnd)
{
    TempDir dir;
    for (int i = 0; i < 200; ++i)
        dir.write("take" + std::to_string(i) + ".wav", Wav(2, 48000, 16, 4000, PatternBytes(4000)));
    ScanRun scan;
    EndSeen end;
    end.run = &scan;
    scan.options.onEnd = [](const ScanOutcomes* outcomes, void* context) {
        // Slow, as a window's log may be: the stop must still wait for it.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EndSeen::onEnd(outcomes, context);
    };
    scan.options.endContext = &end;
    std::atomic<int> seen{0};
    scan.onLine = [&seen](const std::string&) { seen += 1; };
    scan.start(dir.path());
    while (seen.load() == 0)
        std::this_thread::yield();
    ScanWorker_Stop();
    std::lock_guard<std::mutex> lock(end.m);
    EXPECT_EQ(1, end.calls);
}

TEST(ScanRepeat, SecondScanFindsEverythingOkAndChangesNoByte)
{
    TempDir dir;
    ScanRun scan;
    dir.write("a.wav", Wav(2, 48000, 16, 0, PatternBytes(1003)));
    dir.write("b.wav", Wav(1, 44100, 24, 300, PatternBytes(3000)));
    AiffLayout unfinished(2, 24, 0, PatternBytes(6 * 100 + 1), 48000);
    unfinished.ssndSize = 8;
    unfinished.formSize = 0;
    dir.write("c.aif", BuildAiff(unfinished));
    dir.write("d.wav", Wav(1, 8000, 8, 101, PatternBytes(101), Bytes{0}));
    Lines first = scan.run(dir.path());
    EXPECT_EQ(7u, first.size());
    std::map<std::string, Bytes> after;
    for (const char* n : {"a.wav", "b.wav", "c.aif", "d.wav"})
        after[n] = ReadFileBytes(dir.file(n));
    Lines second = scan.run(dir.path());
    EXPECT_EQ(Sorted(Lines{"a.wav HEADER OK !", "b.wav HEADER OK !", "c.aif HEADER OK !", "d.wav HEADER OK !"}),
              Sorted(second));
    for (auto& kv : after)
        EXPECT_EQ(kv.second, ReadFileBytes(dir.file(kv.first))) << kv.first;
    EXPECT_EQ(Numbered(second), scan.logText());
}

}  // namespace
