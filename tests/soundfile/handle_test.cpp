// The sound file handle: reader choice by extension, every error code and
// message, the summary, repair and close through the handle, and failures
// that must not pass for success.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>

#include "filefault.h"
#include "soundfile.h"
#include "streams.h"

namespace {

void ExpectClosedAnswers(SoundFile* f)
{
    EXPECT_EQ(0, f->isOpen);
    EXPECT_EQ(SoundFileKindNone, f->kind);
    SoundFileInfo info;
    memset(&info, 0x77, sizeof(info));
    EXPECT_EQ(-1, SoundFile_GetInfo(f, &info));
    SoundFileInfo zero;
    memset(&zero, 0, sizeof(zero));
    EXPECT_EQ(0, memcmp(&zero, &info, sizeof(info)));
    EXPECT_EQ(0xFFFFFFFFu, SoundFile_GetDataOffset(f));
    EXPECT_EQ(-1, SoundFile_GetFileSize(f));
    SoundFileVerdict verdict;
    EXPECT_EQ(0, SoundFile_Examine(f, &verdict));
    EXPECT_TRUE(verdict.state == SoundVerdictNone || verdict.state == SoundVerdictRefused);
    EXPECT_EQ(int32_t(SoundFileErrNotOpen), SoundFile_Repair(f));
    EXPECT_STREQ("File not openned", f->errorText);
    EXPECT_EQ(int32_t(SoundFileErrNotOpen), SoundFile_Close(f));
    EXPECT_EQ(int32_t(SoundFileErrNotOpen), f->errorCode);
    EXPECT_STREQ("File Already Closed", f->errorText);
}

TEST(HandleOpen, ExtensionChoosesTheReader)
{
    TempDir dir;
    Bytes wav = PlainWav(PatternBytes(400));
    Bytes aiff = BuildAiff(AiffLayout(2, 16, 100, PatternBytes(400)));
    for (const char* name : {"take.WAV", "take.Bwf", "take.wav"}) {
        SCOPED_TRACE(name);
        Handle h;
        std::string path = dir.write(name, wav);
        ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 1));
        EXPECT_EQ(SoundFileKindWav, h->kind);
        EXPECT_EQ(SoundFileKindWav, h->info.kind);
        EXPECT_EQ(FileHandleNone, h->aiff.handle);
        EXPECT_EQ(0, h->errorCode);
        EXPECT_STREQ("", h->errorText);
        EXPECT_EQ(44u, SoundFile_GetDataOffset(h.get()));
        EXPECT_EQ(444, SoundFile_GetFileSize(h.get()));
        EXPECT_EQ(0, SoundFile_Close(h.get()));
        EXPECT_EQ(FileHandleNone, h->wav.handle);
    }
    for (const char* name : {"loop.AIFF", "loop.aif", "loop.Iff"}) {
        SCOPED_TRACE(name);
        Handle h;
        std::string path = dir.write(name, aiff);
        ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 1));
        EXPECT_EQ(SoundFileKindAiff, h->kind);
        EXPECT_EQ(SoundFileKindAiff, h->info.kind);
        EXPECT_EQ(FileHandleNone, h->wav.handle);
        EXPECT_EQ(h->aiff.dataOffset, SoundFile_GetDataOffset(h.get()));
        EXPECT_EQ(int64_t(aiff.size()), SoundFile_GetFileSize(h.get()));
        EXPECT_EQ(0, SoundFile_Close(h.get()));
        EXPECT_EQ(FileHandleNone, h->aiff.handle) << "not open means FileHandleNone everywhere";
    }
}

TEST(HandleOpen, UnknownNamesAreNotOpened)
{
    TempDir dir;
    MakeDir(dir.file("dir.wav"));
    Bytes wav = PlainWav(PatternBytes(400));
    for (std::string name : {std::string("loop.aiffc"), std::string("take.wave"), std::string("take"),
                             std::string("dir.wav") + PathSep() + "take", std::string("take.")}) {
        SCOPED_TRACE(name);
        std::string path = dir.write(name, wav);
        Handle h;
        EXPECT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 1));
        EXPECT_EQ(int32_t(SoundFileErrUnknownType), h->errorCode);
        EXPECT_STREQ("Unknown File Type", h->errorText);
        ExpectClosedAnswers(h.get());
    }
    Handle h;
    EXPECT_EQ(0, SoundFile_Open(h.get(), nullptr, 1));
    EXPECT_EQ(int32_t(SoundFileErrUnknownType), h->errorCode);
}

struct Refusal {
    const char* name;
    const char* fileName;
    Bytes bytes;  // empty: the file is not created
    int32_t code;
    const char* text;
};

void CheckRefusals(const std::vector<Refusal>& cases)
{
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string path = c.bytes.empty() ? dir.file(c.fileName) : dir.write(c.fileName, c.bytes);
        Handle h;
        EXPECT_EQ(c.code, SoundFile_Open(h.get(), path.c_str(), 1));
        EXPECT_EQ(c.code, h->errorCode);
        EXPECT_STREQ(c.text, h->errorText);
        EXPECT_EQ(FileHandleNone, h->wav.handle);
        EXPECT_EQ(FileHandleNone, h->aiff.handle);
        ExpectClosedAnswers(h.get());
        if (!c.bytes.empty()) {
            // Nothing stays open: an exclusive open succeeds, and the file is unchanged.
            FileHandle probe = FileHandleNone;
            EXPECT_EQ(1, File_Open(path.c_str(), FileModeReadWriteExisting, &probe, 128));
            if (probe != FileHandleNone)
                File_Close(probe);
            EXPECT_EQ(c.bytes, ReadFileBytes(path));
        } else {
            EXPECT_EQ(-1, FileLength(path)) << "no file is created";
        }
    }
}

TEST(HandleOpen, WavRefusalsAndTheirMessages)
{
    Bytes samples = PatternBytes(8);
    Bytes fmt0ch = WavFmtBody(1, 0, 44100, 16, 4);
    std::string text = "Take 3: room tone, then the scene.\r\n";
    CheckRefusals({
        {"missing", "take.wav", Bytes(), SoundFileErrCannotOpen, "Cannot open WAV file"},
        {"no data chunk", "take.wav", RiffFile({StereoFmt(), Chunk("LIST", PatternBytes(8))}), SoundFileErrCannotRead,
         "Cannot Read WAV Format"},
        {"data before fmt", "take.wav", RiffFile({ChunkHead("data", 8), samples, StereoFmt()}), SoundFileErrCannotRead,
         "Cannot Read WAV Format"},
        {"unknown chunk of 0xFFFFFFFF", "take.wav",
         RiffFile({StereoFmt(), Chunk("LIST", samples, false, false, 0xFFFFFFFF), ChunkHead("data", 8), samples}),
         SoundFileErrNoAudio, "No audio data present in file"},
        {"0 channels", "take.wav", RiffFile({Chunk("fmt ", fmt0ch), ChunkHead("data", 8), samples}), SoundFileErrCorrupted,
         "WAV Format Corrupted"},
        {"RF64 without ds64", "take.wav", RiffFile({StereoFmt(), ChunkHead("data", 8), samples}, 0xFFFFFFFF, "RF64"),
         SoundFileErrWav, "Error openning WAV file"},
        {"text named .wav", "notes.wav", Bytes(text.begin(), text.end()), SoundFileErrWav, "Error openning WAV file"},
    });
}

TEST(HandleOpen, AiffRefusalsAndTheirMessages)
{
    Bytes aifc = BuildAiff(AiffLayout(2, 16, 100, PatternBytes(400)));
    memcpy(&aifc[8], "AIFX", 4);
    ByteWriter ima4(true);
    ima4.raw(AiffCommBody(2, 100, 16, 44100)).text("ima4").u8(0).u8(0);
    Bytes compressed = FormFile({Chunk("COMM", ima4.bytes, true), Chunk("SSND", Cat({Bytes(8), PatternBytes(68)}), true)},
                                -1, "AIFC");
    Bytes comm17 = FormFile({Chunk("COMM", Bytes(17), true, true), Chunk("SSND", Cat({Bytes(8), PatternBytes(8)}), true)});
    Bytes shortSsnd = FormFile({Chunk("COMM", AiffCommBody(2, 1, 16, 44100), true), Chunk("SSND", Bytes(4), true)});
    CheckRefusals({
        {"missing", "loop.aif", Bytes(), SoundFileErrCannotOpen, "Cannot open AIFF file"},
        {"another form type", "loop.aif", aifc, SoundFileErrAiff, "Error openning AIFF file"},
        {"compressed AIFF-C", "loop.aifc", compressed, SoundFileErrCannotRead, "AIFF-C compression 'ima4' is not supported"},
        {"COMM of 17 bytes", "loop.aiff", comm17, SoundFileErrCannotRead, "Cannot Read AIFF Format"},
        {"SSND of 4 bytes", "loop.aiff", shortSsnd, SoundFileErrNoAudio, "No audio data present in file"},
        {"0 channels", "loop.iff", BuildAiff(AiffLayout(0, 16, 100, PatternBytes(200))), SoundFileErrCorrupted, "AIFF Format Corrupted"},
    });
}

TEST(HandleOpen, PathTooLongIsACannotOpen)
{
    std::string path(StreamPathCapacity + 10, 'a');
    path += ".wav";
    Handle h;
    EXPECT_EQ(int32_t(SoundFileErrCannotOpen), SoundFile_Open(h.get(), path.c_str(), 1));
    EXPECT_STREQ("Cannot open WAV file", h->errorText);
    path.replace(path.size() - 4, 4, ".aif");
    EXPECT_EQ(int32_t(SoundFileErrCannotOpen), SoundFile_Open(h.get(), path.c_str(), 1));
    EXPECT_STREQ("Cannot open AIFF file", h->errorText);
}

TEST(HandleOpen, SecondOpenIsRefusedAndTheFirstStaysOpen)
{
    TempDir dir;
    std::string first = dir.write("take.bwf", RiffFile({Chunk("bext", BextBody(602)), StereoFmt(), ChunkHead("data", 400),
                                                        PatternBytes(400)}));
    std::string second = dir.write("other.wav", PlainWav(PatternBytes(40)));
    Handle h;
    ASSERT_EQ(0, SoundFile_Open(h.get(), first.c_str(), 1));
    SoundFileInfo before;
    ASSERT_EQ(0, SoundFile_GetInfo(h.get(), &before));
    EXPECT_EQ(int32_t(SoundFileErrAlreadyOpen), SoundFile_Open(h.get(), second.c_str(), 1));
    EXPECT_EQ(int32_t(SoundFileErrAlreadyOpen), h->errorCode);
    EXPECT_STREQ("File Already Openned", h->errorText);
    EXPECT_EQ(1, h->isOpen);
    SoundFileInfo after;
    ASSERT_EQ(0, SoundFile_GetInfo(h.get(), &after));
    EXPECT_EQ(0, memcmp(&before, &after, sizeof(before)));
    EXPECT_EQ(0, SoundFile_Close(h.get()));
    EXPECT_EQ(int32_t(SoundFileErrNotOpen), SoundFile_Close(h.get()));
    EXPECT_STREQ("File Already Closed", h->errorText);

    // A new open starts from nothing: no error, flag or description survives.
    ASSERT_EQ(0, SoundFile_Open(h.get(), second.c_str(), 1));
    EXPECT_EQ(0, h->errorCode);
    EXPECT_STREQ("", h->errorText);
    EXPECT_EQ(0u, h->info.flags);
    EXPECT_EQ(SoundFileKindWav, h->info.kind);
    BextRecord zero;
    memset(&zero, 0, sizeof(zero));
    EXPECT_EQ(0, memcmp(&zero, &h->info.bext, sizeof(zero)));
}

TEST(HandleInfo, SummaryOfEachKind)
{
    TempDir dir;
    Bytes bext = BextBody(702);
    Bytes rf64Bwf = RiffFile({Chunk("ds64", Ds64Body(0, 400, 100)), Chunk("bext", bext), StereoFmt(),
                              ChunkHead("data", 0xFFFFFFFF), PatternBytes(400)},
                             0xFFFFFFFF, "RF64");
    Bytes rf64 = RiffFile({Chunk("ds64", Ds64Body(0, 400, 100)), StereoFmt(), ChunkHead("data", 0xFFFFFFFF),
                           PatternBytes(400)},
                          0xFFFFFFFF, "RF64");
    ByteWriter ext;
    ext.raw(WavFmtBody(0xFFFE, 2, 48000, 24)).u16(22).u16(24).u32(3).fill(16, 0x11);
    struct Case {
        const char* name;
        const char* fileName;
        Bytes file;
        int32_t kind;
        uint32_t flags;
        int32_t encoding;
        int32_t channels;
        int32_t bits;
        uint32_t rate;
        int64_t frames;
    };
    std::vector<Case> cases = {
        {"pcm", "a.wav", PlainWav(PatternBytes(400)), SoundFileKindWav, 0, 0, 2, 16, 44100, 100},
        {"bwf", "a.bwf", RiffFile({Chunk("bext", bext), StereoFmt(), ChunkHead("data", 400), PatternBytes(400)}),
         SoundFileKindBwf, WavFlagBext, 0, 2, 16, 44100, 100},
        {"rf64", "a.wav", rf64, SoundFileKindWav, WavFlagRf64, 0, 2, 16, 44100, 100},
        {"rf64 bwf", "a.wav", rf64Bwf, SoundFileKindBwf, WavFlagRf64 | WavFlagBext, 0, 2, 16, 44100, 100},
        {"8-bit", "a.wav", RiffFile({FmtChunk(1, 8000, 8), ChunkHead("data", 400), PatternBytes(400)}),
         SoundFileKindWav, 0, SampleEncodingUnsigned8, 1, 8, 8000, 400},
        {"float", "a.wav", RiffFile({Chunk("fmt ", WavFmtBody(3, 2, 48000, 32)), ChunkHead("data", 400), PatternBytes(400)}),
         SoundFileKindWav, 0, SampleEncodingFloat, 2, 32, 48000, 50},
        {"extensible", "a.wav", RiffFile({Chunk("fmt ", ext.bytes), ChunkHead("data", 400), PatternBytes(400)}),
         SoundFileKindWav, 0, 0, 2, 24, 48000, 66},
        {"8-bit aiff", "a.aif", BuildAiff(AiffLayout(1, 8, 400, PatternBytes(400), 22050)), SoundFileKindAiff, 0, 0, 1, 8, 22050, 400},
        {"16-bit aiff", "a.aif", BuildAiff(AiffLayout(2, 16, 100, PatternBytes(400))), SoundFileKindAiff, 0, 0, 2, 16, 44100, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.write(c.fileName, c.file);
        Handle h;
        ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 1));
        SoundFileInfo info;
        ASSERT_EQ(0, SoundFile_GetInfo(h.get(), &info));
        EXPECT_EQ(c.kind, h->kind);
        EXPECT_EQ(c.kind, info.kind);
        EXPECT_EQ(c.flags, info.flags);
        EXPECT_EQ(c.encoding, info.sampleEncoding);
        EXPECT_EQ(c.channels, info.channels);
        EXPECT_EQ(c.bits, info.bitsPerSample);
        EXPECT_EQ(c.rate, info.sampleRate);
        EXPECT_EQ(c.frames, info.frameCount);
        EXPECT_EQ(c.frames, h->length);
        EXPECT_EQ(0, h->position);
        if (c.flags & WavFlagBext) {
            EXPECT_EQ(0, memcmp(&h->wav.bext, &info.bext, sizeof(BextRecord)));
            EXPECT_EQ(0, memcmp(info.bext.codingHistory, &bext[602], 100));
        } else {
            BextRecord zero;
            memset(&zero, 0, sizeof(zero));
            EXPECT_EQ(0, memcmp(&zero, &info.bext, sizeof(zero)));
        }
        EXPECT_EQ(0, SoundFile_Close(h.get()));
        EXPECT_EQ(c.kind, h->info.kind) << "the summary outlives the close";
    }
}

TEST(HandleInfo, DurationAndWholeFrameBytes)
{
    TempDir dir;
    struct Case {
        const char* name;
        Bytes file;
        int64_t frames;
        int64_t durationMs;
        int64_t dataBytes;
    };
    Bytes fmt48k = FmtChunk(2, 48000, 16);
    Bytes rate0 = FmtChunk(2, 0, 16);
    Bytes rate1 = FmtChunk(1, 1, 8);
    std::vector<Case> cases = {
        {"ten seconds", RiffFile({fmt48k, ChunkHead("data", 48000 * 4 * 10)}), 480000, 10000, 1920000},
        {"one frame", RiffFile({fmt48k, ChunkHead("data", 4), PatternBytes(4)}), 1, 0, 4},
        {"1001 bytes", RiffFile({fmt48k, ChunkHead("data", 1001)}), 250, 5, 1000},
        {"rate 0", RiffFile({rate0, ChunkHead("data", 4000)}), 1000, 0, 4000},
        {"longest 64-bit length",
         RiffFile({Chunk("ds64", Ds64Body(0, 0x7FFFFFFFFFFFFFFFull, 0)), rate1, ChunkHead("data", 0xFFFFFFFF)}, 0xFFFFFFFF,
                  "RF64"),
         INT64_MAX, INT64_MAX, INT64_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.write("take.wav", c.file);
        Handle h;
        ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 0x20));
        EXPECT_EQ(c.frames, h->info.frameCount);
        EXPECT_EQ(c.durationMs, h->info.durationMs);
        EXPECT_EQ(c.dataBytes, h->info.dataBytes);
    }
}

TEST(HandleRepair, RepairedSizesShowAtOnceAndReachTheDiskAtClose)
{
    FaultGuard guard;
    FileFault_RefuseLeases(1);  // another opener looks while the handle holds the file
    TempDir dir;
    Bytes file = PlainWav(PatternBytes(1000003), 0);
    std::string path = dir.write("take.wav", file);
    Handle h;
    ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 1));
    EXPECT_EQ(0, h->info.frameCount);
    ASSERT_EQ(0, SoundFile_Repair(h.get()));
    SoundFileInfo info;
    ASSERT_EQ(0, SoundFile_GetInfo(h.get(), &info));
    EXPECT_EQ(250000, info.frameCount);
    EXPECT_EQ(1000000, info.dataBytes);
    EXPECT_EQ(5668, info.durationMs);
    EXPECT_EQ(250000, h->length);
    EXPECT_EQ(1000047, SoundFile_GetFileSize(h.get())) << "the size measured at open";
#ifndef _WIN32  // Windows lets no other opener read a file held unshared
    EXPECT_EQ(0u, Le32At(ReadAt(path, 40, 4), 0)) << "the header is not written yet";
#endif
    ASSERT_EQ(0, SoundFile_Close(h.get()));
    EXPECT_EQ(0, h->errorCode);
    EXPECT_EQ(1000000u, Le32At(ReadAt(path, 40, 4), 0));
    EXPECT_EQ(1000036u, Le32At(ReadAt(path, 4, 4), 0));
    EXPECT_EQ(1000044, FileLength(path));
}

TEST(HandleRepair, FailuresAreReportedNotTakenForSuccess)
{
    TempDir dir;
    Bytes file = PlainWav(PatternBytes(4003), 0);
    {
        SCOPED_TRACE("failed move in the repair");
        FaultGuard guard;
        std::string path = dir.write("a.wav", file);
        Handle h;
        ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 1));
        FileFault_Arm(FileFaultSeek, 1, 0);
        EXPECT_EQ(int32_t(SoundFileErrAccess), SoundFile_Repair(h.get()));
        FileFault_Disarm();
        EXPECT_EQ(int32_t(SoundFileErrAccess), h->errorCode);
        EXPECT_STREQ("Cannot Repair File", h->errorText);
        EXPECT_EQ(1, h->isOpen);
        EXPECT_EQ(0, SoundFile_Close(h.get())) << "nothing was marked for writing";
        EXPECT_EQ(file, ReadFileBytes(path));
    }
    {
        SCOPED_TRACE("failed cut in the repair");
        FaultGuard guard;
        std::string path = dir.write("b.wav", file);
        Handle h;
        ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 1));
        FileFault_Arm(FileFaultTruncate, 1, 0);
        EXPECT_EQ(int32_t(SoundFileErrAccess), SoundFile_Repair(h.get()));
        FileFault_Disarm();
        EXPECT_STREQ("Cannot Repair File", h->errorText);
        EXPECT_EQ(0, SoundFile_Close(h.get()));
        // The RIFF size, written before the cut, is the repaired one; the
        // data size still declares nothing.
        Bytes expected = file;
        expected[4] = uint8_t(44 + 4000 - 8);
        expected[5] = uint8_t((44 + 4000 - 8) >> 8);
        expected[6] = expected[7] = 0;
        EXPECT_EQ(expected, ReadFileBytes(path));
    }
    {
        SCOPED_TRACE("read-only handle");
        std::string path = dir.write("c.wav", file);
        Handle h;
        ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 0x20));
        EXPECT_EQ(int32_t(SoundFileErrAccess), SoundFile_Repair(h.get()));
        EXPECT_EQ(0, SoundFile_Close(h.get()));
        EXPECT_EQ(file, ReadFileBytes(path));
    }
    for (uint32_t op : {uint32_t(FileFaultWrite), uint32_t(FileFaultFlush), uint32_t(FileFaultClose)}) {
        SCOPED_TRACE(testing::Message() << "failed close step " << op);
        FaultGuard guard;
        std::string path = dir.write("d.wav", file);
        Handle h;
        ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 1));
        ASSERT_EQ(0, SoundFile_Repair(h.get()));
        FileFault_Arm(op, 1, 0);
        EXPECT_EQ(int32_t(SoundFileErrAccess), SoundFile_Close(h.get()));
        FileFault_Disarm();
        EXPECT_EQ(int32_t(SoundFileErrAccess), h->errorCode);
        EXPECT_STREQ("Cannot Update File Header", h->errorText);
        EXPECT_EQ(0, h->isOpen);
        EXPECT_EQ(SoundFileKindNone, h->kind);
        EXPECT_EQ(FileHandleNone, h->wav.handle);
        // The file is free again and a second pass completes the repair.
        ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 1));
        if (SoundFile_GetFileSize(h.get()) - SoundFile_GetDataOffset(h.get()) > h->info.dataBytes) {
            EXPECT_EQ(0, SoundFile_Repair(h.get()));
        }
        EXPECT_EQ(0, SoundFile_Close(h.get()));
        EXPECT_EQ(4000u, Le32At(ReadAt(path, 40, 4), 0));
        EXPECT_EQ(4044, FileLength(path));
    }
}

TEST(HandleRepair, AiffGoesThroughItsOwnStream)
{
    TempDir dir;
    Bytes samples = PatternBytes(4003);
    AiffLayout layout(2, 16, 0, samples);
    layout.ssndSize = 8;
    layout.ssndPad = true;
    std::string path = dir.write("loop.aif", BuildAiff(layout));
    Handle h;
    ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 1));
    EXPECT_EQ(0, h->info.frameCount);
    ASSERT_EQ(0, SoundFile_Repair(h.get()));
    EXPECT_EQ(h->aiff.frameCount, h->info.frameCount);
    EXPECT_EQ(h->aiff.frameCount * 4, h->info.dataBytes);
    EXPECT_GT(h->info.frameCount, 0);
    ASSERT_EQ(0, SoundFile_Close(h.get()));
    EXPECT_EQ(FileHandleNone, h->aiff.handle);
}

TEST(HandleMisuse, NullHandleAndUnknownKind)
{
    SoundFileInfo info;
    memset(&info, 0x55, sizeof(info));
    EXPECT_EQ(-1, SoundFile_Open(nullptr, "take.wav", 1));
    EXPECT_EQ(-1, SoundFile_Repair(nullptr));
    EXPECT_EQ(-1, SoundFile_Close(nullptr));
    EXPECT_EQ(-1, SoundFile_GetInfo(nullptr, &info));
    EXPECT_EQ(0, info.kind) << "the destination is zeroed";
    EXPECT_EQ(0xFFFFFFFFu, SoundFile_GetDataOffset(nullptr));
    EXPECT_EQ(-1, SoundFile_GetFileSize(nullptr));
    SoundFileVerdict verdict;
    EXPECT_EQ(-1, SoundFile_Examine(nullptr, &verdict));
    EXPECT_EQ(-1, SoundFile_FillInfoFromWav(nullptr));
    EXPECT_EQ(-1, SoundFile_FillInfoFromAiff(nullptr));

    TempDir dir;
    std::string path = dir.write("take.wav", PlainWav(PatternBytes(40)));
    Handle h;
    ASSERT_EQ(0, SoundFile_Open(h.get(), path.c_str(), 1));
    EXPECT_EQ(-1, SoundFile_GetInfo(h.get(), nullptr));
    h->kind = 9;
    EXPECT_EQ(-1, SoundFile_Repair(h.get()));
    EXPECT_EQ(0u, SoundFile_GetDataOffset(h.get()));
    EXPECT_EQ(-2, SoundFile_GetFileSize(h.get()));
    EXPECT_EQ(-1, SoundFile_Examine(h.get(), &verdict));
    EXPECT_EQ(-1, SoundFile_Close(h.get()));
    EXPECT_EQ(0, h->isOpen);
    EXPECT_EQ(9, h->kind);
    EXPECT_EQ(0, h->errorCode) << "misuse sets no error";
    WavStream_Close(&h->wav);
}

TEST(HandleVerdict, DispatchesToTheOpenStream)
{
    TempDir dir;
    std::string wavPath = dir.write("take.wav", RiffFile({StereoFmt(), ChunkHead("data", 400), PatternBytes(400),
                                                          Chunk("LIST", PatternBytes(26))}));
    std::string plainPath = dir.write("plain.wav", PlainWav(PatternBytes(400), 0));
    AiffLayout annotated(2, 16, 100, PatternBytes(400));
    annotated.after = {Chunk("ANNO", Bytes(10, 'a'), true)};
    std::string aiffPath = dir.write("loop.aif", BuildAiff(annotated));
    struct Case {
        std::string path;
        int32_t state;
        int64_t sampleBytes;
    };
    for (const Case& c : {Case{wavPath, SoundVerdictMetadata, 400}, Case{plainPath, SoundVerdictShort, 400},
                          Case{aiffPath, SoundVerdictMetadata, 400}}) {
        SCOPED_TRACE(c.path);
        Handle h;
        ASSERT_EQ(0, SoundFile_Open(h.get(), c.path.c_str(), 1));
        SoundFileVerdict verdict;
        ASSERT_EQ(0, SoundFile_Examine(h.get(), &verdict));
        EXPECT_EQ(c.state, verdict.state);
        EXPECT_EQ(c.sampleBytes, verdict.sampleBytes);
        ASSERT_EQ(0, SoundFile_Close(h.get()));
    }
}

}  // namespace
