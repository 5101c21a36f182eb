// Rebuilding a take whose header is gone from a sibling recorded with the
// same settings: the sibling's format and layout, this take's sizes, the
// take's bytes copied from where its samples start into a new file. The
// take itself is only read.
#ifndef TESSMARK_REBUILD_H
#define TESSMARK_REBUILD_H

#include <stdint.h>

#include "alignscore.h"
#include "chunks.h"
#include "fileio.h"
#include "stream.h"

// RebuildTemplate.container values.
enum {
    RebuildWav = 1,   // RIFF WAVE, Broadcast Wave
    RebuildRf64 = 2,  // RF64 WAVE
    RebuildAiff = 3,  // FORM AIFF
    RebuildAifc = 4,  // FORM AIFC, uncompressed types
};

// Results of Rebuild_ReadTemplate and Rebuild_Run.
enum {
    RebuildOk = 0,
    RebuildRefused = 1,     // the take was not rebuilt; reason says why
    RebuildBadTemplate = 2, // the sibling is none Tessmark reads; reason says why
};

// Bytes of a fmt or COMM body a template keeps; an extensible fmt has 40.
#define RebuildFormatCapacity 256u
// The longest header Rebuild_BuildHeader writes.
#define RebuildHeaderCapacity (RebuildFormatCapacity + 96u)
// Bytes the copy hands the system at once, between two progress reports.
#define RebuildCopyPiece (8u << 20)
// The buffer of a copy the system cannot make itself.
#define RebuildBufferBytes (1u << 20)
#define RebuildReasonCapacity 256u

typedef struct RebuildTemplate {
    int32_t container;                       // Rebuild*
    uint32_t dataOffset;                     // the sibling's first sample byte
    SampleLayout layout;                     // how its samples are stored
    uint16_t blockAlign;                     // bytes per frame
    uint16_t bitsPerSample;                  // as its header says
    uint32_t sampleRate;                     // frames per second
    int32_t hasFact;                         // WAV: a fact chunk counts the frames
    uint32_t formatLength;                   // fmt body (WAV) or COMM body (AIFF) bytes
    uint8_t format[RebuildFormatCapacity];   // that body as the sibling has it
    uint8_t version[4];                      // AIFF-C: the FVER body
    char extension[16];                      // the sibling's extension as spelled, dot included
    char reason[RebuildReasonCapacity];      // why the sibling was refused
} RebuildTemplate;

// The parts of a new file: its header, the samples, a pad byte, the chunks
// found behind the samples.
typedef struct RebuildShape {
    uint32_t headerLength;
    uint64_t sampleBytes;
    uint32_t padBytes;      // 1 behind an odd chunk that ends the file
    uint64_t trailerBytes;
    uint64_t totalBytes;
    uint8_t header[RebuildHeaderCapacity];
} RebuildShape;

// Called between two pieces of a copy; nonzero stops it (the new file is
// then removed).
typedef int32_t (*RebuildProgressFn)(void* context, uint64_t done, uint64_t total);

typedef struct RebuildJob {
    // Given.
    const RebuildTemplate* sibling;
    const char* path;            // the damaged take
    const char* outFolder;       // where the new file goes; null: beside the take
    int64_t offset;              // where its samples should start; -1: the sibling's data offset
    int32_t force;               // rebuild also where the bytes do not read as the sibling's layout
    RebuildProgressFn progress;  // may be null
    void* progressContext;
    // Found.
    char outputPath[StreamPathCapacity];
    const char* outputName;      // the last element of outputPath
    int64_t fileSize;
    AlignScore score;            // the chosen start and its score
    uint64_t start;              // first byte of the samples copied
    uint64_t samplesEnd;         // behind the last whole frame
    uint64_t trailerBytes;       // metadata chunks behind the samples, copied as they are
    int64_t frames;
    int64_t durationMs;
    int32_t channelOrderGuess;   // 1 when the first channel of a frame could not be told
    int32_t warned;              // 1 when --force overrode the score's verdict
    char reason[RebuildReasonCapacity];
} RebuildJob;

#ifdef __cplusplus
extern "C" {
#endif

// Reads the format and layout of a healthy sibling at path. RebuildOk, or
// RebuildBadTemplate with the reason: not read by Tessmark, compressed,
// samples it cannot score.
int32_t Rebuild_ReadTemplate(RebuildTemplate* sibling, const char* path);

// Fills shape->header for sampleBytes of samples followed by trailerBytes
// of chunks: the sibling's container and format, this take's sizes (RF64
// with ds64 where RIFF's fields cannot hold them). RebuildOk, or
// RebuildRefused where AIFF's 32-bit sizes cannot hold them.
int32_t Rebuild_BuildHeader(const RebuildTemplate* sibling, uint64_t sampleBytes, uint64_t trailerBytes,
                            RebuildShape* shape);

// The new file's path for the take at path: NAME-rebuilt.EXT in outFolder
// (null: beside the take), EXT as the sibling spells it. RebuildOk, or
// RebuildRefused when it does not fit capacity bytes.
int32_t Rebuild_OutputPath(const char* path, const char* outFolder, const char* extension, char* out,
                           uint32_t capacity);

// Rebuilds job->path into job->outputPath: refuses a take that the readers
// accept, finds where its samples start, copies them under a temporary
// name, flushes and renames it without replacing anything. RebuildOk, or
// RebuildRefused with job->reason; a refused job leaves no new file.
int32_t Rebuild_Run(RebuildJob* job);

#ifdef __cplusplus
}
#endif

#endif
