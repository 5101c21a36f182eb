// Placeholder until the sample transfer lands.
#include "aiffstream.h"
#include "samples.h"
#include "wavstream.h"

int32_t WavStream_ReadFrames(WavStream*, void*, uint32_t, int) { return TransferReadFailed; }
int32_t WavStream_WriteBytes(WavStream*, void*, uint32_t) { return TransferWriteFailed; }
int32_t AiffStream_ReadFrames(AiffStream*, void*, uint32_t, int) { return TransferReadFailed; }
int32_t AiffStream_WriteBytes(AiffStream*, void*, uint32_t) { return TransferWriteFailed; }
void Samples_SwapByteOrder(void*, uint32_t, uint32_t) {}
void Samples_ReverseFrames(void*, uint32_t, uint32_t) {}
