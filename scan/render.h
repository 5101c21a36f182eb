// The words the scan gives a user for what an examination found.
#ifndef TESSMARK_RENDER_H
#define TESSMARK_RENDER_H

#include <stddef.h>

#include "soundfile.h"

#ifdef __cplusplus
extern "C" {
#endif

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
