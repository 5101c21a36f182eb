// Where the samples of a take without a header start, and whether its bytes
// read as the layout a sibling recording says: audio changes little from one
// sample to the next, misaligned or misread bytes change as much as noise.
#ifndef TESSMARK_ALIGNSCORE_H
#define TESSMARK_ALIGNSCORE_H

#include <stdint.h>

// How a run of bytes is read as samples.
typedef struct SampleLayout {
    uint16_t channels;     // 1 or more
    uint16_t sampleBytes;  // 1 to 4 for integers, 4 or 8 for floats
    int32_t encoding;      // SampleEncoding* (soundfile.h)
    int32_t bigEndian;     // 1: the most significant byte first
} SampleLayout;

// Reads count bytes at pos of the source into buffer: 0, or -1 when it failed.
typedef int32_t (*AlignReadFn)(void* context, uint64_t pos, uint8_t* buffer, uint32_t count);

// Verdicts of AlignScore_Run.
enum {
    AlignAudio = 0,        // the layout reads like audio at start
    AlignNoAudio = 1,      // no layout and no alignment reads like audio (zeros, noise, too short)
    AlignOtherLayout = 2,  // another layout (other) reads clearly more like audio
    AlignReadFailed = 3,   // the source could not be read
    AlignBadLayout = 4,    // the layout is none AlignScore reads
};

// Windows spread over the samples, and the bytes of each.
#define AlignWindowCount 48u
#define AlignWindowBytes 4096u
// The channel counts the other layouts are tried with: 1 to this.
#define AlignOtherChannels 8u
#define AlignMaxOthers 40u

typedef struct AlignScore {
    // Given.
    SampleLayout layout;    // the sibling's
    uint64_t nominalStart;  // where the samples should start
    uint64_t end;           // where they end at the latest (the file's size)
    AlignReadFn read;
    void* context;
    // Found.
    int32_t verdict;        // Align*
    uint64_t start;         // nominalStart + phase: the first byte of a frame
    uint32_t phase;         // byte within a sample where the samples begin
    double roughness;       // the layout's at start: near 0 smooth audio, near 1 noise
    uint32_t windowsUsed;   // windows that told something (not silence, not noise)
    SampleLayout other;     // the other layout that reads best
    double otherRoughness;  // its roughness; 1 when none was tried
} AlignScore;

#ifdef __cplusplus
extern "C" {
#endif

// 1 when AlignScore reads the layout: channels 1 or more, integers of 1 to 4
// bytes (unsigned only for 1 byte), floats of 4 or 8.
int32_t SampleLayout_IsValid(const SampleLayout* layout);

// Scores every alignment within one frame of the layout from nominalStart,
// and the other layouts (1 to AlignOtherChannels channels, the sample sizes
// of the same encoding), over windows spread from nominalStart to end that
// leave out silence and noise. A shift by whole samples only rotates the
// channels and scores alike, so one alignment per byte within a sample is
// scored, and ties go to the one nearest nominalStart. Sets the found
// fields; returns the verdict.
int32_t AlignScore_Run(AlignScore* job);

// How much the bytes at start read like audio: 1 - roughness, from 0 to 1.
double AlignScore_Score(const AlignScore* job);

// Roughness of count bytes read as layout from their first byte: the
// frame-to-frame change of each channel against its spread, over all
// channels; -1 for silence. For the tests and the fuzz target.
double AlignScore_Roughness(const SampleLayout* layout, const uint8_t* bytes, uint32_t count);

#ifdef __cplusplus
}
#endif

#endif
