// In-place buffer routines of the sample transfer.
#ifndef TESSMARK_SAMPLES_H
#define TESSMARK_SAMPLES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Reverses the bytes of each width-byte sample (widths 2, 3, 4; others: nothing).
void Samples_SwapByteOrder(void* buffer, uint32_t byteCount, uint32_t width);

// Reverses the order of the width-byte elements of the buffer.
void Samples_ReverseFrames(void* buffer, uint32_t byteCount, uint32_t width);

#ifdef __cplusplus
}
#endif

#endif
