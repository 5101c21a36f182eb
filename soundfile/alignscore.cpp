// The alignment score. Roughness is the mean square change from one frame
// to the next against twice each channel's variance: about 1 for noise
// (and for bytes read at the wrong place, which look like noise), far below
// for recorded sound, whose energy lies well below half the sample rate.
#include "alignscore.h"

#include <math.h>
#include <string.h>

#include "soundfile.h"

namespace {

// A window whose every reading is rougher than this is noise (or a random
// prefix) and tells nothing; a layout rougher than this is no audio.
const double NoiseLimit = 0.5;
// Another layout must be this much smoother to be taken over the sibling's.
const double ClearFactor = 3.0;
// Below this mean variance per sample a reading is silence (a zeroed
// cluster, a hole): under half a 16-bit step squared.
const double SilenceVariance = 1e-10;
// Room behind a window for the byte shifts within a sample.
const uint32_t ShiftRoom = 8;
const uint32_t MaxPhases = 8;
const uint32_t MaxLayouts = AlignMaxOthers + 1;

// Misread floats take any exponent: kept finite and bounded so that they
// read as the noise they are.
inline double Bounded(double x)
{
    if (!(x == x))
        return 0.0;
    return x > 4.0 ? 4.0 : (x < -4.0 ? -4.0 : x);
}

// One decoder per layout, picked once per reading: the inner loops run
// over every byte of 48 windows for some forty layouts.
template <int Bytes, bool Big>
inline uint64_t Gather(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 0; i < Bytes; ++i)
        v = (v << 8) | p[Big ? i : Bytes - 1 - i];
    return v;
}

template <int Bytes, bool Big>
struct IntDecoder {
    double operator()(const uint8_t* p) const
    {
        const uint64_t sign = uint64_t(1) << (8 * Bytes - 1);
        return double(int64_t(Gather<Bytes, Big>(p) ^ sign) - int64_t(sign)) * (1.0 / double(sign));
    }
};

struct Unsigned8Decoder {
    double operator()(const uint8_t* p) const { return (double(p[0]) - 128.0) * (1.0 / 128.0); }
};

template <bool Big>
struct Float32Decoder {
    double operator()(const uint8_t* p) const
    {
        const uint32_t bits = uint32_t(Gather<4, Big>(p));
        float f;
        memcpy(&f, &bits, 4);
        return Bounded(double(f));
    }
};

template <bool Big>
struct Float64Decoder {
    double operator()(const uint8_t* p) const
    {
        const uint64_t bits = Gather<8, Big>(p);
        double x;
        memcpy(&x, &bits, 8);
        return Bounded(x);
    }
};

template <typename Decoder>
double RoughnessWith(const SampleLayout* l, const uint8_t* p, uint32_t frames, Decoder decode)
{
    const size_t frameBytes = size_t(l->channels) * l->sampleBytes;
    double change = 0.0;
    double spread = 0.0;
    for (uint32_t c = 0; c < l->channels; ++c) {
        const uint8_t* at = p + c * l->sampleBytes;
        double last = decode(at);
        double sum = last, squares = last * last, diffs = 0.0;
        for (uint32_t f = 1; f < frames; ++f) {
            const double x = decode(at + f * frameBytes);
            sum += x;
            squares += x * x;
            diffs += (x - last) * (x - last);
            last = x;
        }
        change += diffs;
        const double variance = squares - sum * sum / frames;
        spread += variance > 0 ? variance : 0.0;
    }
    if (spread <= SilenceVariance * double(frames) * l->channels)
        return -1.0;
    const double r = change / (2.0 * spread);
    return r < 2.0 ? r : 2.0;
}

// Roughness of frames whole frames from p; -1 for silence.
double Roughness(const SampleLayout* l, const uint8_t* p, uint32_t frames)
{
    if (frames < 2)
        return -1.0;
    const bool big = l->bigEndian != 0;
    if (l->encoding == SampleEncodingFloat) {
        if (l->sampleBytes == 4)
            return big ? RoughnessWith(l, p, frames, Float32Decoder<true>()) : RoughnessWith(l, p, frames, Float32Decoder<false>());
        return big ? RoughnessWith(l, p, frames, Float64Decoder<true>()) : RoughnessWith(l, p, frames, Float64Decoder<false>());
    }
    switch (l->sampleBytes) {
    case 1:
        return l->encoding == SampleEncodingUnsigned8 ? RoughnessWith(l, p, frames, Unsigned8Decoder())
                                                      : RoughnessWith(l, p, frames, IntDecoder<1, false>());
    case 2:
        return big ? RoughnessWith(l, p, frames, IntDecoder<2, true>()) : RoughnessWith(l, p, frames, IntDecoder<2, false>());
    case 3:
        return big ? RoughnessWith(l, p, frames, IntDecoder<3, true>()) : RoughnessWith(l, p, frames, IntDecoder<3, false>());
    default:
        return big ? RoughnessWith(l, p, frames, IntDecoder<4, true>()) : RoughnessWith(l, p, frames, IntDecoder<4, false>());
    }
}

// 1 when a is nearer the sibling's layout than b: the same sample size
// first, then the same channel count, then fewer channels.
int Nearer(const SampleLayout* sibling, const SampleLayout* a, const SampleLayout* b)
{
    const int sizeA = a->sampleBytes != sibling->sampleBytes, sizeB = b->sampleBytes != sibling->sampleBytes;
    if (sizeA != sizeB)
        return sizeA < sizeB;
    const int channelsA = a->channels != sibling->channels, channelsB = b->channels != sibling->channels;
    if (channelsA != channelsB)
        return channelsA < channelsB;
    return a->channels < b->channels;
}

uint32_t FrameBytes(const SampleLayout* l)
{
    return uint32_t(l->channels) * l->sampleBytes;
}

int SameLayout(const SampleLayout* a, const SampleLayout* b)
{
    return a->channels == b->channels && a->sampleBytes == b->sampleBytes && a->encoding == b->encoding &&
           a->bigEndian == b->bigEndian;
}

// The sibling's layout first, then the others of its encoding.
uint32_t ListLayouts(const SampleLayout* sibling, SampleLayout* out)
{
    uint32_t count = 0;
    out[count++] = *sibling;
    const int isFloat = sibling->encoding == SampleEncodingFloat;
    static const uint16_t IntSizes[] = {1, 2, 3, 4};
    static const uint16_t FloatSizes[] = {4, 8};
    const uint16_t* sizes = isFloat ? FloatSizes : IntSizes;
    const uint32_t sizeCount = isFloat ? 2 : 4;
    // 8-bit samples are unsigned in WAV and signed in AIFF: as the sibling
    // keeps them, else as its container does.
    int32_t eightBit = sibling->bigEndian ? SampleEncodingInteger : SampleEncodingUnsigned8;
    if (sibling->sampleBytes == 1 && !isFloat)
        eightBit = sibling->encoding;
    for (uint16_t c = 1; c <= AlignOtherChannels; ++c)
        for (uint32_t i = 0; i < sizeCount && count < MaxLayouts; ++i) {
            SampleLayout l = *sibling;
            l.channels = c;
            l.sampleBytes = sizes[i];
            l.encoding = isFloat ? SampleEncodingFloat : (sizes[i] == 1 ? eightBit : SampleEncodingInteger);
            if (!SameLayout(&l, sibling))
                out[count++] = l;
        }
    return count;
}

// How much smoother another layout must read. Fewer channels of the same
// size read smoother by their ratio k when the channels are alike (dual
// mono), and a take of fewer channels read with more reads rougher by about
// k squared: the bar lies between.
double Bar(const SampleLayout* sibling, const SampleLayout* other)
{
    if (other->sampleBytes == sibling->sampleBytes && other->channels < sibling->channels &&
        sibling->channels % other->channels == 0) {
        const double k = double(sibling->channels / other->channels);
        const double bar = k * sqrt(k);
        return bar > ClearFactor ? bar : ClearFactor;
    }
    return ClearFactor;
}

// Where window k of count starts, spread evenly over span - length bytes.
uint64_t WindowAt(uint64_t room, uint32_t k, uint32_t count)
{
    if (count < 2)
        return 0;
    const uint64_t step = room / (count - 1);
    const uint64_t rest = room % (count - 1);
    return step * k + rest * k / (count - 1);
}

}  // namespace

int32_t SampleLayout_IsValid(const SampleLayout* l)
{
    if (l == nullptr || l->channels < 1)
        return 0;
    switch (l->encoding) {
    case SampleEncodingFloat:
        return l->sampleBytes == 4 || l->sampleBytes == 8;
    case SampleEncodingUnsigned8:
        return l->sampleBytes == 1;
    case SampleEncodingInteger:
        return l->sampleBytes >= 1 && l->sampleBytes <= 4;
    default:
        return 0;
    }
}

double AlignScore_Roughness(const SampleLayout* layout, const uint8_t* bytes, uint32_t count)
{
    if (!SampleLayout_IsValid(layout) || bytes == nullptr)
        return -1.0;
    return Roughness(layout, bytes, count / FrameBytes(layout));
}

double AlignScore_Score(const AlignScore* job)
{
    const double r = job->roughness;
    return r >= 1.0 ? 0.0 : (r <= 0.0 ? 1.0 : 1.0 - r);
}

int32_t AlignScore_Run(AlignScore* job)
{
    job->start = job->nominalStart;
    job->phase = 0;
    job->roughness = 1.0;
    job->windowsUsed = 0;
    memset(&job->other, 0, sizeof(job->other));
    job->otherRoughness = 1.0;
    if (!SampleLayout_IsValid(&job->layout) || FrameBytes(&job->layout) > AlignWindowBytes / 2 ||
        job->read == nullptr) {
        job->verdict = AlignBadLayout;
        return job->verdict;
    }
    job->verdict = AlignNoAudio;
    if (job->end <= job->nominalStart || job->end - job->nominalStart < 2ull * FrameBytes(&job->layout))
        return job->verdict;

    SampleLayout layouts[MaxLayouts];
    const uint32_t layoutCount = ListLayouts(&job->layout, layouts);
    double sums[MaxLayouts][MaxPhases];
    memset(sums, 0, sizeof(sums));

    const uint64_t span = job->end - job->nominalStart;
    const uint32_t length = span < AlignWindowBytes + ShiftRoom ? uint32_t(span) : AlignWindowBytes + ShiftRoom;
    const uint32_t windows = span <= length ? 1 : AlignWindowCount;
    uint8_t buffer[AlignWindowBytes + ShiftRoom];
    double rough[MaxLayouts][MaxPhases];
    for (uint32_t k = 0; k < windows; ++k) {
        const uint64_t at = job->nominalStart + WindowAt(span - length, k, windows);
        if (job->read(job->context, at, buffer, length) != 0) {
            job->verdict = AlignReadFailed;
            return job->verdict;
        }
        int informative = 0;
        for (uint32_t i = 0; i < layoutCount; ++i) {
            const SampleLayout* l = &layouts[i];
            const uint32_t frameBytes = FrameBytes(l);
            for (uint32_t phase = 0; phase < l->sampleBytes; ++phase) {
                // The same phase in every window: counted from the nominal start.
                const uint32_t skip = uint32_t((phase + l->sampleBytes - (at - job->nominalStart) % l->sampleBytes) %
                                               l->sampleBytes);
                const uint32_t frames = length > skip ? (length - skip) / frameBytes : 0;
                rough[i][phase] = Roughness(l, buffer + skip, frames);
                if (rough[i][phase] >= 0 && rough[i][phase] < NoiseLimit)
                    informative = 1;
            }
        }
        if (!informative)
            continue;  // silence, a hole, noise or random bytes: no say
        job->windowsUsed += 1;
        for (uint32_t i = 0; i < layoutCount; ++i)
            for (uint32_t phase = 0; phase < layouts[i].sampleBytes; ++phase)
                sums[i][phase] += rough[i][phase] < 0 ? 1.0 : rough[i][phase];
    }
    if (job->windowsUsed == 0)
        return job->verdict;

    const double used = double(job->windowsUsed);
    // Strictly smaller only: a tie stays with the shift nearest the nominal start.
    uint32_t best = 0;
    for (uint32_t phase = 1; phase < job->layout.sampleBytes; ++phase)
        if (sums[0][phase] < sums[0][best])
            best = phase;
    job->phase = best;
    job->start = job->nominalStart + best;
    job->roughness = sums[0][best] / used;

    // The other layouts, each at its best byte shift.
    double means[MaxLayouts];
    double bestBeating = -1.0;
    for (uint32_t i = 1; i < layoutCount; ++i) {
        double mean = sums[i][0];
        for (uint32_t phase = 1; phase < layouts[i].sampleBytes; ++phase)
            if (sums[i][phase] < mean)
                mean = sums[i][phase];
        means[i] = mean / used;
        const int beats = means[i] < NoiseLimit && means[i] * Bar(&job->layout, &layouts[i]) < job->roughness;
        if (beats && (bestBeating < 0 || means[i] < bestBeating))
            bestBeating = means[i];
    }
    // Of the layouts that beat the sibling's, the one nearest it names the
    // mistake: 16-bit stereo also reads as smooth 32-bit mono.
    const int clear = bestBeating >= 0;
    uint32_t pick = 0;
    for (uint32_t i = 1; i < layoutCount; ++i) {
        const int beats = means[i] < NoiseLimit && means[i] * Bar(&job->layout, &layouts[i]) < job->roughness;
        if (clear && !beats)
            continue;
        if (pick == 0 || (clear ? Nearer(&job->layout, &layouts[i], &layouts[pick]) : means[i] < means[pick]))
            pick = i;
    }
    if (pick != 0) {
        job->other = layouts[pick];
        job->otherRoughness = means[pick];
    }
    if (clear)
        job->verdict = AlignOtherLayout;
    else
        job->verdict = job->roughness < NoiseLimit ? AlignAudio : AlignNoAudio;
    return job->verdict;
}
