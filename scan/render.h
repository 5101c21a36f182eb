// The words the scan gives a user for what an examination found.
#ifndef TESSMARK_RENDER_H
#define TESSMARK_RENDER_H

#include <stddef.h>

#include "result.h"
#include "soundfile.h"

// Where what a result says goes, in the order of the scan.
typedef struct ScanRenderSink {
    void (*line)(const char* line, void* context);                    // a numbered line of the log
    void* lineContext;
    void (*note)(const char* name, const char* text, void* context);  // a word the log does not carry; may be null
    void* noteContext;
    void (*report)(const ScanFileReport* report, void* context);      // may be null
    void* reportContext;
} ScanRenderSink;

#ifdef __cplusplus
extern "C" {
#endif

// Gives out what result says of the file at path (name: as the lines call
// it): its lines, its notes and its report, in that order.
void ScanRender_Give(const ScanResult* result, const char* path, const char* name, const ScanRenderSink* sink);

// The report of result into *report; its reason is written into reason
// (capacity bytes), which must outlive the report.
void ScanRender_Report(const ScanResult* result, const char* path, const char* name, char* reason, size_t capacity,
                       ScanFileReport* report);

// The summary line of a scan ("12 files examined: 7 OK, 2 repaired, 0
// failed, 3 could not be opened") into out; returns out.
const char* ScanRender_Summary(const ScanOutcomes* outcomes, int32_t checkOnly, char* out, size_t capacity);

// Why a file was not examined, or how it falls short, in a few words
// ("empty (0 bytes)", "compressed (IMA ADPCM): not repaired", "no data
// chunk; zeros from offset 44"); written into out (capacity bytes, cut to
// fit). Returns out.
const char* ScanRender_Reason(const SoundFileVerdict* verdict, char* out, size_t capacity);

// The name of an encoding ("IMA ADPCM", "A-law", "16-bit PCM"...).
const char* ScanRender_EncodingName(const SoundFileVerdict* verdict, char* out, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif
