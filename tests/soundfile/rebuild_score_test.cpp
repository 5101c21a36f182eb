// Finding where the samples start: synthesized takes in every sample layout,
// their true start shifted within a frame behind a zeroed, random or sparse
// stretch, and bytes that are no such take.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "alignscore.h"
#include "chunkbuilder.h"
#include "soundfile.h"

namespace {

const double Pi = 3.14159265358979323846;

struct Format {
    const char* name;
    uint16_t sampleBytes;
    int32_t encoding;
    int32_t bigEndian;
};

const Format Formats[] = {
    {"u8", 1, SampleEncodingUnsigned8, 0}, {"s8be", 1, SampleEncodingInteger, 1},
    {"s16le", 2, SampleEncodingInteger, 0}, {"s16be", 2, SampleEncodingInteger, 1},
    {"s24le", 3, SampleEncodingInteger, 0}, {"s24be", 3, SampleEncodingInteger, 1},
    {"s32le", 4, SampleEncodingInteger, 0}, {"f32le", 4, SampleEncodingFloat, 0},
    {"f32be", 4, SampleEncodingFloat, 1},   {"f64le", 8, SampleEncodingFloat, 0},
};

SampleLayout LayoutOf(const Format& f, uint16_t channels)
{
    return SampleLayout{channels, f.sampleBytes, f.encoding, f.bigEndian};
}

// One sample stored as the layout stores it.
void Put(const SampleLayout& l, double x, uint8_t* p)
{
    uint64_t v;
    if (l.encoding == SampleEncodingFloat) {
        if (l.sampleBytes == 4) {
            float f = float(x);
            uint32_t bits;
            memcpy(&bits, &f, 4);
            v = bits;
        } else {
            memcpy(&v, &x, 8);
        }
    } else {
        const double full = double(uint64_t(1) << (8 * l.sampleBytes - 1)) - 1;
        v = uint64_t(int64_t(lround(x * full)));
        if (l.encoding == SampleEncodingUnsigned8)
            v = uint64_t(int64_t(lround(x * 127)) + 128);
    }
    for (uint32_t i = 0; i < l.sampleBytes; ++i)
        p[l.bigEndian ? l.sampleBytes - 1 - i : i] = uint8_t(v >> (8 * i));
}

// A mixture of sines, other frequencies in every channel (alike in every
// channel when same is set), at 48 kHz.
Bytes Take(const SampleLayout& l, uint32_t frames, bool same = false)
{
    Bytes b(size_t(frames) * l.channels * l.sampleBytes);
    uint8_t* p = b.data();
    for (uint32_t n = 0; n < frames; ++n)
        for (uint32_t c = 0; c < l.channels; ++c, p += l.sampleBytes) {
            const double k = same ? 0 : c;
            const double t = n / 48000.0;
            const double x = 0.3 * sin(2 * Pi * (220 + 70 * k) * t) + 0.15 * sin(2 * Pi * (1250 + 310 * k) * t + k);
            Put(l, x, p);
        }
    return b;
}

enum Prefix { Zeroed, Random, Sparse };
const char* const PrefixNames[] = {"zeroed", "random", "sparse"};

// The take's bytes at nominal + shift, behind what was lost; a sparse file
// also has holes (zeros) among its samples.
Bytes Damaged(const Bytes& take, Prefix prefix, uint32_t nominal, uint32_t shift)
{
    Bytes lost(nominal + shift, 0);
    if (prefix == Random)
        lost = PatternBytes(lost.size(), 9);
    Bytes out = Cat({lost, take});
    if (prefix == Sparse)
        for (size_t at = 65536; at + 32768 <= out.size(); at += 131072)
            memset(out.data() + at, 0, 32768);
    return out;
}

int32_t ReadMemory(void* context, uint64_t pos, uint8_t* buffer, uint32_t count)
{
    const Bytes* b = static_cast<const Bytes*>(context);
    if (pos > b->size() || b->size() - pos < count)
        return -1;
    memcpy(buffer, b->data() + pos, count);
    return 0;
}

AlignScore Score(const SampleLayout& sibling, const Bytes& bytes, uint64_t nominal)
{
    AlignScore s;
    memset(&s, 0, sizeof(s));
    s.layout = sibling;
    s.nominalStart = nominal;
    s.end = bytes.size();
    s.read = ReadMemory;
    s.context = const_cast<Bytes*>(&bytes);
    AlignScore_Run(&s);
    return s;
}

struct AlignCase {
    Format format;
    uint16_t channels;
};

std::string AlignName(const testing::TestParamInfo<AlignCase>& info)
{
    return std::string(info.param.format.name) + "_" + std::to_string(info.param.channels) + "ch";
}

std::vector<AlignCase> AlignCases()
{
    std::vector<AlignCase> out;
    for (const Format& f : Formats)
        for (uint16_t c = 1; c <= 6; ++c)
            out.push_back({f, c});
    return out;
}

class RebuildAlign : public testing::TestWithParam<AlignCase> {};

// The start lies within a sample of where it was written; a shift by whole
// samples rotates the channels, scores alike and goes to the nominal start.
TEST_P(RebuildAlign, FindsTheByteWithinASample)
{
    const SampleLayout l = LayoutOf(GetParam().format, GetParam().channels);
    const uint32_t frameBytes = uint32_t(l.channels) * l.sampleBytes;
    const Bytes take = Take(l, 300000 / frameBytes);
    const uint32_t nominal = 4096;
    // The prefixes take turns over the table.
    const Prefix prefix = Prefix((GetParam().channels + l.sampleBytes) % 3);
    std::vector<uint32_t> shifts = {0, 1u % frameBytes, l.sampleBytes % frameBytes, frameBytes - 1};
    std::sort(shifts.begin(), shifts.end());
    shifts.erase(std::unique(shifts.begin(), shifts.end()), shifts.end());
    for (uint32_t shift : shifts) {
        SCOPED_TRACE(std::string(PrefixNames[prefix]) + " prefix, shift " + std::to_string(shift));
        const AlignScore s = Score(l, Damaged(take, prefix, nominal, shift), nominal);
        EXPECT_EQ(AlignAudio, s.verdict);
        EXPECT_EQ(nominal + shift % l.sampleBytes, s.start);
        EXPECT_GT(AlignScore_Score(&s), 0.9);
        EXPECT_GT(s.windowsUsed, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, RebuildAlign, testing::ValuesIn(AlignCases()), AlignName);

struct LayoutCase {
    const char* name;
    SampleLayout take;
    SampleLayout sibling;
    bool sameChannels;    // every channel of the take alike
    int32_t verdict;
    uint16_t otherChannels;     // of the layout that reads better, where one does
    uint16_t otherSampleBytes;
};

const LayoutCase LayoutCases[] = {
    {"mono_sibling_stereo_take", {2, 2, SampleEncodingInteger, 0}, {1, 2, SampleEncodingInteger, 0}, false,
     AlignOtherLayout, 2, 2},
    {"bits16_sibling_bits24_take", {2, 3, SampleEncodingInteger, 0}, {2, 2, SampleEncodingInteger, 0}, false,
     AlignOtherLayout, 2, 3},
    {"bits24_sibling_bits16_take", {1, 2, SampleEncodingInteger, 1}, {1, 3, SampleEncodingInteger, 1}, false,
     AlignOtherLayout, 1, 2},
    {"stereo_sibling_mono_take", {1, 2, SampleEncodingInteger, 0}, {2, 2, SampleEncodingInteger, 0}, false,
     AlignOtherLayout, 1, 2},
    {"float_mono_sibling_stereo_take", {2, 4, SampleEncodingFloat, 0}, {1, 4, SampleEncodingFloat, 0}, false,
     AlignOtherLayout, 2, 4},
    // Channels alike read smoother as fewer channels, and are no other layout.
    {"dual_mono", {2, 2, SampleEncodingInteger, 0}, {2, 2, SampleEncodingInteger, 0}, true, AlignAudio, 0, 0},
    {"six_alike", {6, 3, SampleEncodingInteger, 0}, {6, 3, SampleEncodingInteger, 0}, true, AlignAudio, 0, 0},
    {"six_differ", {6, 2, SampleEncodingInteger, 1}, {6, 2, SampleEncodingInteger, 1}, false, AlignAudio, 0, 0},
};

class RebuildLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(RebuildLayout, TellsAnotherLayout)
{
    const LayoutCase& c = GetParam();
    const Bytes bytes = Cat({Bytes(44, 0), Take(c.take, 40000, c.sameChannels)});
    const AlignScore s = Score(c.sibling, bytes, 44);
    EXPECT_EQ(c.verdict, s.verdict);
    if (c.verdict == AlignOtherLayout) {
        EXPECT_EQ(c.otherChannels, s.other.channels);
        EXPECT_EQ(c.otherSampleBytes, s.other.sampleBytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RebuildLayout, testing::ValuesIn(LayoutCases),
                         [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

struct NoiseCase {
    const char* name;
    Bytes bytes;
};

class RebuildNoAudio : public testing::TestWithParam<NoiseCase> {};

// No layout and no alignment reads like audio: refused.
TEST_P(RebuildNoAudio, Refuses)
{
    for (const Format& f : Formats) {
        SCOPED_TRACE(f.name);
        const AlignScore s = Score(LayoutOf(f, 2), GetParam().bytes, 0);
        EXPECT_EQ(AlignNoAudio, s.verdict);
        EXPECT_LT(AlignScore_Score(&s), 0.5);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RebuildNoAudio,
                         testing::Values(NoiseCase{"zeros", Bytes(400000, 0)},
                                         NoiseCase{"random", PatternBytes(400000, 3)},
                                         NoiseCase{"one_frame", Bytes(16, 1)}, NoiseCase{"empty", Bytes()}),
                         [](const testing::TestParamInfo<NoiseCase>& info) { return std::string(info.param.name); });

TEST(RebuildScore, RefusesLayoutsItCannotRead)
{
    const SampleLayout bad[] = {{0, 2, SampleEncodingInteger, 0}, {2, 5, SampleEncodingInteger, 0},
                                {2, 2, SampleEncodingFloat, 0}, {2, 2, SampleEncodingUnsigned8, 0},
                                {4096, 4, SampleEncodingInteger, 0}};
    const Bytes bytes = PatternBytes(100000, 4);
    for (const SampleLayout& l : bad)
        EXPECT_EQ(AlignBadLayout, Score(l, bytes, 0).verdict);
}

}  // namespace
