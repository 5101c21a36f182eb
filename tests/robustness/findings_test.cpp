// Inputs the fuzzers turned up, kept as they were found (rebuilt in code).
#include "robust_support.h"

namespace {

// Samples declared in full, a chunk no writer is known to put there, and
// one stray byte: not a chunk sequence to the end of the file, so every byte
// behind the data counts as samples, and the repair cuts the stray byte as a
// partial frame. (A LIST chunk there ends the samples: see below.)
Bytes ChunkAndStrayByte(const char* id = "zzzz")
{
    ByteWriter info;
    info.text("INFO").raw(Chunk("ICMT", Bytes{'t', 'a', 'k', 'e', ' ', '1', 0}, false, true));
    Bytes file = RiffFile({StereoFmt(48000), Chunk("data", PatternBytes(400, 31)), Chunk(id, info.bytes)});
    file.push_back(0);
    return file;
}

TEST(FuzzFindings, KnownChunkAndStrayByteBehindTheSamples)
{
    TempDir dir(MemoryFolder());
    const Bytes original = ChunkAndStrayByte("LIST");
    const std::string path = dir.write("take.wav", original);
    EXPECT_EQ((Lines{OkLine("take.wav")}), ScanRun().run(dir.path()));
    EXPECT_EQ(original, ReadFileBytes(path));
}

TEST(FuzzFindings, ChunkAndStrayByteBehindTheSamples)
{
    TempDir dir(MemoryFolder());
    const Bytes original = ChunkAndStrayByte();
    const Bytes cut(original.begin(), original.end() - 1);
    const std::string path = dir.write("take.wav", original);

    // Undisturbed: the chunk's bytes become samples, the stray byte goes.
    ASSERT_EQ((Lines{"take.wav header missing 29 bytes : repair", "take.wav (48000Hz / 2 ch) Length:00:00:00"}),
              ScanRun().run(dir.path()));
    Bytes repaired = ReadFileBytes(path);
    ASSERT_EQ(cut.size(), repaired.size());
    EXPECT_EQ(428, Examine(path).declared);

    // The RIFF size goes first: when it fails, nothing has changed, and the
    // next scan repairs the file as above.
    WriteFileBytes(path, original);
    {
        FaultGuard guard;
        FileFault_Arm(FileFaultWrite, 1, 0);
        ASSERT_EQ((Lines{"take.wav header missing 29 bytes : repair", ErrLine("take.wav")}),
                  ScanRun().run(dir.path()));
    }
    EXPECT_EQ(original, ReadFileBytes(path));
    EXPECT_EQ(2u, ScanRun().run(dir.path()).size());
    EXPECT_EQ(repaired, ReadFileBytes(path));

    // The first write after the cut fails: the header still declares 400
    // bytes, and what follows them is now exactly the LIST chunk. The next
    // scan keeps it as the metadata it is; no byte but the stray one is
    // gone, the RIFF size written before the cut matches the file, and
    // nothing more changes.
    WriteFileBytes(path, original);
    {
        FaultGuard guard;
        FileFault_Arm(FileFaultWrite, 2, 0);
        ASSERT_EQ((Lines{"take.wav header missing 29 bytes : repair", ErrLine("take.wav")}), ScanRun().run(dir.path()));
    }
    Bytes kept = cut;
    kept[4] = uint8_t(cut.size() - 8);
    kept[5] = uint8_t((cut.size() - 8) >> 8);
    EXPECT_EQ(kept, ReadFileBytes(path));
    EXPECT_EQ((Lines{OkLine("take.wav")}), ScanRun().run(dir.path()));
    EXPECT_EQ(kept, ReadFileBytes(path));
}

TEST(FuzzFindings, LessThanOneFrameIsCutWithoutPadding)
{
    // A frame wider than what was recorded, and an SSND block size: the
    // repair cuts the partial frame, and with no frame left writes neither
    // header nor padding.
    TempDir dir(MemoryFolder());
    AiffLayout a = UnfinishedAiff();
    a.sampleSize = 2288;  // 286 bytes per sample, 572 per stereo frame
    a.blockSize = 512;
    a.ssndOffset = 4;
    const Bytes head = BuildAiff(a);
    a.samples = PatternBytes(284, 32);
    const Bytes file = BuildAiff(a);
    const Bytes cut(file.begin(), file.begin() + long(head.size()));
    const std::string path = dir.write("take.aif", file);
    Lines lines = ScanRun().run(dir.path());
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("take.aif header not set : repair", lines[0]);
    EXPECT_EQ("take.aif (48000Hz / 2 ch) Length:00:00:00", lines[1]);
    EXPECT_EQ(cut, ReadFileBytes(path));
    EXPECT_EQ(Lines{}, ScanRun().run(dir.path()));
    EXPECT_EQ(cut, ReadFileBytes(path));
}

}  // namespace
