// Sample transfer through streams opened by the readers: the slots they fill,
// reads after the reader's own moves (repair, trailer check), and files grown
// by writes whose header the close writes, read back by readers we did not
// write.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "aiffstream.h"
#include "fileio.h"
#include "samples.h"
#include "streams.h"
#include "wavstream.h"

namespace {

template <class Stream>
Bytes ReadAll(Stream& s, int64_t frames)
{
    Bytes b(size_t(frames) * s.blockAlign);
    EXPECT_EQ(s.readFrames(&s, b.data(), uint32_t(b.size()), 1), TransferOk);
    return b;
}

// Host-order samples of an AIFF file's big-endian bytes.
Bytes HostOrder(Bytes b, uint32_t width)
{
    Samples_SwapByteOrder(b.data(), uint32_t(b.size()), width);
    return b;
}

TEST(TransferOpen, ReadersFillTheSlotsAndReadsFollowTheirMoves)
{
    TempDir dir;
    const Bytes data = PatternBytes(50 * 4, 3);
    // A header that declares 20 frames of the 50 present: an unfinished take.
    std::string path = dir.write("t.wav", RiffFile({FmtChunk(2, 48000, 16),
                                                   Chunk("data", data, false, false, 20 * 4)}));
    ScopedWav w;
    ASSERT_EQ(WavStream_Open(&w.s, path.c_str(), 1), WavOpenOk);
    EXPECT_EQ(w.s.readFrames, &WavStream_ReadFrames);
    EXPECT_EQ(w.s.writeBytes, &WavStream_WriteBytes);
    EXPECT_EQ(ReadAll(w.s, 5), Slice(data, 0, 20));
    // The trailer check moves the pointer; the next read must find its place.
    EXPECT_EQ(WavStream_HasChunkTrailer(&w.s), 0);
    EXPECT_EQ(ReadAll(w.s, 5), Slice(data, 20, 20));
    // So does the repair, which also lets the read see all 50 frames.
    ASSERT_EQ(WavStream_Repair(&w.s), 0);
    EXPECT_EQ(ReadAll(w.s, 40), Slice(data, 40, 160));
    ASSERT_EQ(WavStream_Close(&w.s), 0);

    const Bytes samples = PatternBytes(50 * 6, 4);
    path = dir.write("t.aif", BuildAiff(AiffLayout(2, 24, 20, samples)));
    ScopedAiff a;
    ASSERT_EQ(AiffStream_Open(&a.s, path.c_str(), 1), AiffOpenOk);
    EXPECT_EQ(a.s.readFrames, &AiffStream_ReadFrames);
    EXPECT_EQ(a.s.writeBytes, &AiffStream_WriteBytes);
    EXPECT_EQ(ReadAll(a.s, 5), HostOrder(Slice(samples, 0, 30), 3));
    EXPECT_EQ(AiffStream_HasChunkTrailer(&a.s), 0);
    EXPECT_EQ(ReadAll(a.s, 5), HostOrder(Slice(samples, 30, 30), 3));
    ASSERT_EQ(AiffStream_Repair(&a.s), 0);
    EXPECT_EQ(ReadAll(a.s, 40), HostOrder(Slice(samples, 60, 240), 3));
    ASSERT_EQ(AiffStream_Close(&a.s), 0);
}

TEST(TransferOpen, SilenceFollowsTheOpenedFormat)
{
    TempDir dir;
    std::string path = dir.write("t8.wav", BuildWav({FmtChunk(1, 44100, 8)}, Bytes{0x10, 0x20}));
    ScopedWav w;
    ASSERT_EQ(WavStream_Open(&w.s, path.c_str(), 0), WavOpenOk);
    Bytes b(4, 0xEE);
    ASSERT_EQ(w.s.readFrames(&w.s, b.data(), 4, 1), TransferOk);
    EXPECT_EQ(b, (Bytes{0x10, 0x20, 0x80, 0x80}));

    path = dir.write("t8.aif", BuildAiff(AiffLayout(1, 8, 2, Bytes{0x10, 0x20})));
    ScopedAiff a;
    ASSERT_EQ(AiffStream_Open(&a.s, path.c_str(), 0), AiffOpenOk);
    b.assign(4, 0xEE);
    ASSERT_EQ(a.s.readFrames(&a.s, b.data(), 4, 0), TransferOk);  // backward from 0: all before the start
    EXPECT_EQ(b, (Bytes{0, 0, 0, 0}));
}

TEST(TransferOpen, ForwardReadAfterAppendingWrites)
{
    TempDir dir;
    const Bytes data = PatternBytes(10 * 4, 5);
    std::string path = dir.write("t.wav", PlainWav(data));
    ScopedWav w;
    ASSERT_EQ(WavStream_Open(&w.s, path.c_str(), 1), WavOpenOk);
    Bytes more = PatternBytes(8 * 4, 6);
    w.s.writePos = w.s.frameCount;
    ASSERT_EQ(w.s.writeBytes(&w.s, more.data(), uint32_t(more.size())), TransferOk);
    EXPECT_EQ(w.s.frameCount, 18);
    EXPECT_EQ(ReadAll(w.s, 18), Cat({data, more}));
}

// A file grown by writes through the slots, closed, then checked by hand and
// reopened: the header covers every frame written.
TEST(TransferOpen, GrownWavHeaderIsWrittenAtClose)
{
    TempDir dir;
    // A recording that never got samples.
    std::string path = dir.write("empty.wav", BuildWav({FmtChunk(2, 44100, 24)}, Bytes()));
    const Bytes frames = PatternBytes(1000 * 6, 8);
    {
        ScopedWav w;
        ASSERT_EQ(WavStream_Open(&w.s, path.c_str(), 1), WavOpenOk);
        ASSERT_EQ(w.s.frameCount, 0);
        for (int i = 0; i < 10; ++i) {
            Bytes piece = Slice(frames, size_t(i) * 600, 600);
            ASSERT_EQ(w.s.writeBytes(&w.s, piece.data(), 600), TransferOk);
        }
        EXPECT_EQ(w.s.headerDirty, 1);
        ASSERT_EQ(WavStream_Close(&w.s), 0);
    }
    const Bytes file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), 44u + 6000u);
    EXPECT_EQ(Le32At(file, 4), 36u + 6000u);
    EXPECT_EQ(Le32At(file, 40), 6000u);
    EXPECT_EQ(Slice(file, 44, 6000), frames);

    ScopedWav w;
    ASSERT_EQ(WavStream_Open(&w.s, path.c_str(), 0), WavOpenOk);
    EXPECT_EQ(w.s.frameCount, 1000);
    w.s.readPos = 1000;
    Bytes b(12);
    ASSERT_EQ(w.s.readFrames(&w.s, b.data(), 12, 0), TransferOk);
    EXPECT_EQ(b, Cat({Slice(frames, 999 * 6, 6), Slice(frames, 998 * 6, 6)}));
}

TEST(TransferOpen, GrownAiffHeaderIsWrittenAtClose)
{
    TempDir dir;
    std::string path = dir.write("empty.aif", BuildAiff(AiffLayout(2, 16, 0, Bytes())));
    const Bytes host = PatternBytes(500 * 4, 9);
    {
        ScopedAiff a;
        ASSERT_EQ(AiffStream_Open(&a.s, path.c_str(), 1), AiffOpenOk);
        Bytes buffer = host;
        ASSERT_EQ(a.s.writeBytes(&a.s, buffer.data(), uint32_t(buffer.size())), TransferOk);
        EXPECT_EQ(a.s.commSampleFrames, 500u);
        ASSERT_EQ(AiffStream_Close(&a.s), 0);
    }
    const Bytes file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), 54u + 2000u);
    EXPECT_EQ(Be32At(file, 4), 46u + 2000u);     // FORM size
    EXPECT_EQ(Be32At(file, 22), 500u);           // numSampleFrames
    EXPECT_EQ(Be32At(file, 42), 8u + 2000u);     // SSND size
    EXPECT_EQ(Slice(file, 54, 2000), HostOrder(host, 2));

    ScopedAiff a;
    ASSERT_EQ(AiffStream_Open(&a.s, path.c_str(), 0), AiffOpenOk);
    EXPECT_EQ(a.s.frameCount, 500);
    EXPECT_EQ(ReadAll(a.s, 500), host);
}

#ifndef _WIN32
struct Format {
    int16_t channels;
    int16_t bits;
};
const Format Formats[] = {{1, 8}, {2, 16}, {2, 24}, {1, 32}, {3, 16}};

// Writes the first frames over an existing take and appends the rest, the
// way an editor would, in pieces that do not all end on a frame.
template <class Stream>
void WriteInPieces(Stream& s, const Bytes& host, uint32_t blockAlign)
{
    size_t done = 0;
    s.writePos = 0;
    while (done < host.size()) {
        size_t want = blockAlign * 37 + 1;  // a stray byte the write must leave alone
        if (want > host.size() - done)
            want = host.size() - done;
        Bytes piece = Slice(host, done, want);
        ASSERT_EQ(s.writeBytes(&s, piece.data(), uint32_t(want)), TransferOk);
        done += (want / blockAlign) * blockAlign;
        if (want < blockAlign)
            break;
    }
}

// Grows a take of every format through the slots of the stream that Open
// opens; returns the paths and the host-order frames each must now hold.
template <class Stream>
void GrowTakes(const TempDir& dir, bool aiff, std::vector<std::string>* paths,
               std::vector<Bytes>* hosts, int32_t (*open)(Stream*, const char*, int32_t),
               int32_t (*close)(Stream*))
{
    int i = 0;
    for (const Format& f : Formats) {
        SCOPED_TRACE(i);
        const uint32_t blockAlign = uint32_t(f.channels) * uint32_t(f.bits / 8);
        const Bytes first = PatternBytes(100 * blockAlign, uint32_t(i + 20));
        const Bytes file = aiff ? BuildAiff(AiffLayout(f.channels, f.bits, 100, first))
                                : BuildWav({FmtChunk(uint16_t(f.channels), 44100, uint16_t(f.bits))}, first);
        std::string path = dir.write("take" + std::to_string(i) + (aiff ? ".aif" : ".wav"), file);
        const Bytes host = PatternBytes(2000 * blockAlign, uint32_t(i + 40));
        ++i;
        Stream s;
        memset(&s, 0, sizeof s);
        ASSERT_EQ(open(&s, path.c_str(), 1), 0);
        WriteInPieces(s, host, blockAlign);
        EXPECT_EQ(s.frameCount, 2000);
        EXPECT_EQ(s.headerDirty, 1);
        ASSERT_EQ(close(&s), 0);
        paths->push_back(path);
        hosts->push_back(host);
    }
}

// Grows a take of every format, then has sox and Python's module (wave or
// aifc) read each back in the file's own byte order; returns how many of
// the two readers there are.
template <class Stream>
int GrowAndReadBack(bool aiff, int32_t (*open)(Stream*, const char*, int32_t), int32_t (*close)(Stream*))
{
    TempDir dir;
    std::vector<std::string> paths;
    std::vector<Bytes> expected;
    GrowTakes<Stream>(dir, aiff, &paths, &expected, open, close);
    if (::testing::Test::HasFatalFailure())
        return 0;
    for (size_t i = 0; aiff && i < paths.size(); ++i)
        expected[i] = HostOrder(expected[i], uint32_t(Formats[i].bits / 8));
    const char* module = aiff ? "aifc" : "wave";
    int readers = 0;
    if (Have("sox --version")) {
        ++readers;
        for (size_t i = 0; i < paths.size(); ++i) {
            bool ok = false;
            Bytes got = SoxRaw(paths[i], aiff ? "-B" : "-L", &ok);
            EXPECT_TRUE(ok) << paths[i];
            EXPECT_EQ(got.size(), expected[i].size()) << paths[i];
            EXPECT_TRUE(got == expected[i]) << "sox reads other samples from " << paths[i];
        }
    }
    if (HavePython(module)) {
        ++readers;
        EXPECT_TRUE(PythonFrames(module, paths));
        for (size_t i = 0; i < paths.size(); ++i)
            EXPECT_TRUE(ReadFileBytes(paths[i] + ".raw") == expected[i])
                << module << " reads other samples from " << paths[i];
    }
    return readers;
}

TEST(TransferOpen, GrownWavReadsBackSampleExactInOtherReaders)
{
    int readers = GrowAndReadBack<WavStream>(false, WavStream_Open, WavStream_Close);
    ASSERT_FALSE(HasFatalFailure());
    if (readers == 0)
        GTEST_SKIP() << "neither sox nor python3 with wave";
}

TEST(TransferOpen, GrownAiffReadsBackSampleExactInOtherReaders)
{
    int readers = GrowAndReadBack<AiffStream>(true, AiffStream_Open, AiffStream_Close);
    ASSERT_FALSE(HasFatalFailure());
    if (readers == 0)
        GTEST_SKIP() << "neither sox nor python3 with aifc";
}
#endif

}  // namespace
