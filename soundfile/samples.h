// In-place buffer routines of the sample transfer.
#ifndef TESSMARK_SAMPLES_H
#define TESSMARK_SAMPLES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Reverses the bytes of each whole width-byte sample from the buffer's start
// (big-endian to little-endian and back). Widths 2, 3 and 4 only; any other
// width, or a null buffer, does nothing. Bytes behind the last whole sample
// are left untouched.
void Samples_SwapByteOrder(void* buffer, uint32_t byteCount, uint32_t width);

// Reverses the bytes of each whole 8-byte sample (64-bit floats); a null
// buffer does nothing, bytes behind the last whole sample are left untouched.
void Samples_SwapByteOrder64(void* buffer, uint32_t byteCount);

// Reverses the order of the whole width-byte elements (frames) at the buffer's
// start, for any width of 1 or more; the bytes inside an element keep their
// order. Width 0 or a null buffer does nothing. Bytes behind the last whole
// element are left untouched.
void Samples_ReverseFrames(void* buffer, uint32_t byteCount, uint32_t width);

#ifdef __cplusplus
}
#endif

#endif
