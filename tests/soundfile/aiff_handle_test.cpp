// AIFF files through the sound file handle: the summary, every AIFF row of
// the error table, and repairs reported through the handle.
#include <gtest/gtest.h>

#include <string.h>

#include "filefault.h"
#include "soundfile.h"
#include "streams.h"

namespace {

// The file is not held open: another unshared open succeeds.
bool NotHeld(const std::string& path)
{
    AiffStream s;
    int32_t r = AiffStream_Open(&s, path.c_str(), 1);
    if (s.handle != FileHandleNone)
        AiffStream_Close(&s);
    return r != AiffOpenCannotOpen;
}

TEST(AiffHandle, OpensAndSummarises)
{
    TempDir dir;
    AiffLayout layout;
    layout.channels = 1;
    layout.sampleSize = 8;
    layout.rate = Extended80(8000);
    layout.frames = 80000;
    layout.samples = PatternBytes(80000);
    layout.between = {Chunk("NAME", Bytes(10, 'n'), true)};
    for (const char* name : {"loop.AIFF", "loop.aif", "loop.Iff"}) {
        SCOPED_TRACE(name);
        std::string p = dir.write(name, BuildAiff(layout));
        Handle h;
        ASSERT_EQ(0, SoundFile_Open(h.get(), p.c_str(), 1));
        EXPECT_EQ(0, h->errorCode);
        EXPECT_STREQ("", h->errorText);
        EXPECT_EQ(FileHandleNone, h->wav.handle);
        SoundFileInfo info;
        ASSERT_EQ(0, SoundFile_GetInfo(h.get(), &info));
        EXPECT_EQ(SoundFileKindAiff, info.kind);
        EXPECT_EQ(8000u, info.sampleRate);
        EXPECT_EQ(1, info.channels);
        EXPECT_EQ(8, info.bitsPerSample);
        EXPECT_EQ(SampleEncodingInteger, info.sampleEncoding) << "8-bit AIFF samples are signed";
        EXPECT_EQ(0u, info.flags);
        EXPECT_EQ(80000, info.frameCount);
        EXPECT_EQ(10000, info.durationMs);
        EXPECT_EQ(80000, info.dataBytes);
        EXPECT_EQ(72u, SoundFile_GetDataOffset(h.get()));
        EXPECT_EQ(80072, SoundFile_GetFileSize(h.get()));
        SoundFileVerdict verdict;
        EXPECT_EQ(0, SoundFile_Examine(h.get(), &verdict));
        EXPECT_EQ(SoundVerdictComplete, verdict.state);
        EXPECT_EQ(0, SoundFile_Close(h.get()));
        EXPECT_FALSE(h->isOpen);
    }
    std::string aifc = dir.write("loop.aifc", BuildAiff(layout));
    Handle h;
    EXPECT_EQ(0, SoundFile_Open(h.get(), aifc.c_str(), 1));
    EXPECT_TRUE(h->isOpen) << ".aifc is an AIFF name too";
    EXPECT_EQ(0, SoundFile_Close(h.get()));
}

struct Row {
    const char* what;
    Bytes file;
    int32_t code;
    const char* text;
};

TEST(AiffHandle, ErrorTableRows)
{
    AiffLayout good;
    good.frames = 4;
    good.samples = PatternBytes(16);
    Bytes aifc = BuildAiff(good);
    memcpy(aifc.data() + 8, "AIFX", 4);
    AiffLayout noCh = good;
    noCh.channels = 0;
    AiffLayout noSize = good;
    noSize.sampleSize = 0;
    AiffLayout shortSsnd = good;
    shortSsnd.ssndSize = 7;
    ByteWriter comm22(true);
    comm22.raw(AiffCommBody(2, 4, 16, 44100)).u32(0);
    const Row rows[] = {
        {"not FORM AIFF or AIFC", aifc, SoundFileErrAiff, "Error openning AIFF file"},
        {"COMM of 22 bytes", FormFile({Chunk("COMM", comm22.bytes, true), Chunk("SSND", Bytes(24), true)}),
         SoundFileErrCannotRead, "Cannot Read AIFF Format"},
        {"sampleSize 0", BuildAiff(noSize), SoundFileErrCannotRead, "Cannot Read AIFF Format"},
        {"SSND of 7 bytes without its fields", Slice(BuildAiff(shortSsnd), 0, 12 + 26 + 8 + 4), SoundFileErrNoAudio,
         "No audio data present in file"},
        {"no channels", BuildAiff(noCh), SoundFileErrCorrupted, "AIFF Format Corrupted"},
    };
    TempDir dir;
    int i = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::string p = dir.write("bad" + std::to_string(i++) + ".aif", r.file);
        Handle h;
        EXPECT_EQ(r.code, SoundFile_Open(h.get(), p.c_str(), 1));
        EXPECT_EQ(r.code, h->errorCode);
        EXPECT_STREQ(r.text, h->errorText);
        EXPECT_FALSE(h->isOpen);
        EXPECT_EQ(SoundFileKindNone, h->kind);
        EXPECT_EQ(FileHandleNone, h->aiff.handle);
        EXPECT_TRUE(NotHeld(p)) << "the stream was closed again";
        EXPECT_EQ(r.file, ReadFileBytes(p));
    }

    // Cannot open: missing (and not created), held by another open, path too long.
    std::string missing = dir.file("missing.aif");
    {
        Handle h;
        EXPECT_EQ(SoundFileErrCannotOpen, SoundFile_Open(h.get(), missing.c_str(), 1));
        EXPECT_STREQ("Cannot open AIFF file", h->errorText);
        EXPECT_EQ(-1, FileLength(missing));
    }
    std::string held = dir.write("held.aif", BuildAiff(good));
    {
        Handle first;
        ASSERT_EQ(0, SoundFile_Open(first.get(), held.c_str(), 1));
        Handle second;
        EXPECT_EQ(SoundFileErrCannotOpen, SoundFile_Open(second.get(), held.c_str(), 1));
        EXPECT_STREQ("Cannot open AIFF file", second->errorText);
        EXPECT_EQ(FileHandleNone, second->aiff.handle);
    }
    {
        std::string longPath = dir.file(std::string(StreamPathCapacity, 'x') + ".aif");
        Handle h;
        EXPECT_EQ(SoundFileErrCannotOpen, SoundFile_Open(h.get(), longPath.c_str(), 1));
        EXPECT_EQ(FileHandleNone, h->aiff.handle);
    }
}

TEST(AiffHandle, RepairReachesTheDiskAtClose)
{
    TempDir dir;
    AiffLayout layout;
    layout.frames = 100;
    layout.ssndSize = 408;
    layout.samples = PatternBytes(10003);
    Bytes original = BuildAiff(layout);
    std::string p = dir.write("take.aif", original);
    Handle h;
    ASSERT_EQ(0, SoundFile_Open(h.get(), p.c_str(), 1));
    SoundFileVerdict verdict;
    ASSERT_EQ(0, SoundFile_Examine(h.get(), &verdict));
    ASSERT_EQ(SoundVerdictShort, verdict.state);
    ASSERT_EQ(0, SoundFile_Repair(h.get()));
    SoundFileInfo info;
    ASSERT_EQ(0, SoundFile_GetInfo(h.get(), &info));
    EXPECT_EQ(2500, info.frameCount);
    EXPECT_EQ(10000, info.dataBytes);
    EXPECT_EQ(56, info.durationMs);
    EXPECT_EQ(100u, Be32At(ReadThrough(h->aiff.handle, 0, 54), 22)) << "the header waits for the close";
    EXPECT_EQ(0, SoundFile_Close(h.get()));
    Bytes after = ReadFileBytes(p);
    EXPECT_EQ(10054u, after.size());
    EXPECT_EQ(10046u, Be32At(after, 4));
    EXPECT_EQ(2500u, Be32At(after, 22));
    EXPECT_EQ(10008u, Be32At(after, 42));
}

TEST(AiffHandle, FailedRepairAndCloseAreReported)
{
    TempDir dir;
    AiffLayout layout;
    layout.frames = 0;
    layout.ssndSize = 8;
    layout.samples = PatternBytes(4000);
    Bytes original = BuildAiff(layout);

    // Samples ending beyond what the 32-bit fields hold.
    std::string big = dir.write("big.aif", original);
    ASSERT_TRUE(SetFileLength(big, 5LL << 30));
    {
        Handle h;
        ASSERT_EQ(0, SoundFile_Open(h.get(), big.c_str(), 1));
        EXPECT_EQ(SoundFileErrAccess, SoundFile_Repair(h.get()));
        EXPECT_EQ(0, SoundFile_Close(h.get()));
        EXPECT_EQ(5LL << 30, FileLength(big));
        EXPECT_EQ(Slice(original, 0, 54), ReadAt(big, 0, 54));
    }

    // A header write that fails at close.
    std::string p = dir.write("take.aif", original);
    Handle h;
    ASSERT_EQ(0, SoundFile_Open(h.get(), p.c_str(), 1));
    ASSERT_EQ(0, SoundFile_Repair(h.get()));
    FileFault_Arm(FileFaultWrite, 1, 0);
    EXPECT_EQ(SoundFileErrAccess, SoundFile_Close(h.get()));
    FileFault_Disarm();
    EXPECT_EQ(FileHandleNone, h->aiff.handle);
    // Only FORM and SSND sizes, written before the cut, are new; the frame
    // count still declares nothing, and the next scan repairs the file.
    Bytes expected = original;
    memcpy(expected.data() + 4, Be32Bytes(54 + 4000 - 8).data(), 4);
    memcpy(expected.data() + 42, Be32Bytes(4008).data(), 4);
    EXPECT_EQ(expected, ReadFileBytes(p));
}

}  // namespace
