// Metadata behind the sample data: a well-formed chunk sequence up to the
// end of the file, or a chunk whose id writers put there.
#include <gtest/gtest.h>

#include "chunks.h"
#include "streams.h"

namespace {

// 8-bit mono: odd data lengths are whole frames.
Bytes MonoFmt()
{
    return FmtChunk(1, 8000, 8);
}

int32_t TrailerOf(const Bytes& file, int64_t* filePosState = nullptr)
{
    TempDir dir;
    std::string path = dir.write("take.wav", file);
    ScopedWav wav;
    EXPECT_EQ(WavOpenOk, wav.open(path));
    int32_t result = WavStream_HasChunkTrailer(&wav.s);
    if (filePosState)
        *filePosState = wav.s.filePosState;
    EXPECT_EQ(0, WavStream_Close(&wav.s));
    EXPECT_EQ(file, ReadFileBytes(path)) << "only headers are read";
    return result;
}

TEST(WavTrailer, ChunksBehindTheSamples)
{
    Bytes even = PatternBytes(400);
    Bytes odd = PatternBytes(401);
    Bytes list = Chunk("LIST", PatternBytes(26));
    Bytes oddList = Chunk("LIST", PatternBytes(27));
    struct Case {
        const char* name;
        Bytes file;
        int32_t expected;
    };
    std::vector<Case> cases = {
        {"LIST after data", RiffFile({StereoFmt(), ChunkHead("data", 400), even, list}), 1},
        {"odd data, pad, LIST", RiffFile({MonoFmt(), ChunkHead("data", 401), odd, Bytes(1, 0), list}), 1},
        {"odd data without pad, LIST", RiffFile({MonoFmt(), ChunkHead("data", 401), odd, list}), 1},
        {"odd data and its pad only", RiffFile({MonoFmt(), ChunkHead("data", 401), odd, Bytes(1, 0)}), ChunkFollowPad},
        {"nothing behind", RiffFile({StereoFmt(), ChunkHead("data", 400), even}), 0},
        {"odd data, nothing behind", RiffFile({MonoFmt(), ChunkHead("data", 401), odd}), 0},
        {"garbage behind", RiffFile({StereoFmt(), ChunkHead("data", 400), even, PatternBytes(100, 3)}), 0},
        {"samples behind an empty data chunk", RiffFile({StereoFmt(), ChunkHead("data", 0), even}), 0},
        {"silence behind an empty data chunk", RiffFile({StereoFmt(), ChunkHead("data", 0), Bytes(4000, 0)}), 0},
        {"odd chunk padded at the end", RiffFile({StereoFmt(), ChunkHead("data", 400), even, Chunk("LIST", PatternBytes(27), false, true)}), 1},
        {"odd chunk unpadded at the end", RiffFile({StereoFmt(), ChunkHead("data", 400), even, oddList}), 1},
        {"chain with pads", RiffFile({StereoFmt(), ChunkHead("data", 400), even, Chunk("LIST", PatternBytes(27), false, true),
                                      Chunk("id3 ", PatternBytes(9), false, true), Chunk("cue ", PatternBytes(4))}),
         1},
        // Writers that omit the pad do so inside the chain too: metadata, as in AIFF.
        {"missing pad inside the chain", RiffFile({StereoFmt(), ChunkHead("data", 400), even, oddList, list}), 1},
        {"chunk runs past the end", RiffFile({StereoFmt(), ChunkHead("data", 400), even, Chunk("LIST", PatternBytes(26), false,
                                                                                         false, 27)}),
         0},
        {"id with control bytes", RiffFile({StereoFmt(), ChunkHead("data", 400), even, Chunk("LI\x01T", PatternBytes(26))}), 0},
        // A known chunk ends the samples, whatever a broken writer left
        // behind it (a tag stub without its size).
        {"partial header after a chunk", RiffFile({StereoFmt(), ChunkHead("data", 400), even, list, Bytes{'L', 'I', 'S'}}), 1},
        {"tag stub after a chunk", RiffFile({StereoFmt(), ChunkHead("data", 400), even, list, Bytes{'i', 'd', '3', ' '}}), 1},
        {"unknown chunk, then garbage", RiffFile({StereoFmt(), ChunkHead("data", 400), even, Chunk("zzzz", PatternBytes(8)), Bytes{1, 2, 3}}), 0},
        {"data declared longer than the file", RiffFile({StereoFmt(), ChunkHead("data", 800), even, list}), 0},
        {"RF64 length from ds64",
         RiffFile({Chunk("ds64", Ds64Body(0, 400, 100)), StereoFmt(), ChunkHead("data", 0xFFFFFFFF), even, list}, 0xFFFFFFFF,
                  "RF64"),
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, TrailerOf(c.file));
    }
}

TEST(WavTrailer, FilePointerIsNoLongerKnown)
{
    int64_t state = -1;
    EXPECT_EQ(1, TrailerOf(RiffFile({StereoFmt(), ChunkHead("data", 4), PatternBytes(4), Chunk("LIST", Bytes(4))}), &state));
    EXPECT_EQ(0, state);
}

TEST(WavTrailer, WalkIsBounded)
{
    // Over a thousand empty chunks: no real file carries so many; the walk
    // stops rather than running on, and leaves them as the metadata they are.
    ByteWriter w;
    for (int i = 0; i < 1025; ++i)
        w.text("JUNK").u32(0);
    EXPECT_EQ(1, TrailerOf(RiffFile({StereoFmt(), ChunkHead("data", 4), PatternBytes(4), w.bytes})));
    ByteWriter few;
    for (int i = 0; i < 1000; ++i)
        few.text("JUNK").u32(0);
    EXPECT_EQ(1, TrailerOf(RiffFile({StereoFmt(), ChunkHead("data", 4), PatternBytes(4), few.bytes})));
}

TEST(WavTrailer, StreamNotOpen)
{
    EXPECT_EQ(0, WavStream_HasChunkTrailer(nullptr));
    ScopedWav wav;
    EXPECT_EQ(0, WavStream_HasChunkTrailer(&wav.s));
}

}  // namespace
