// Placeholder until the AIFF reader lands: every AIFF file is refused.
#include "aiffstream.h"

int32_t AiffStream_Open(AiffStream* stream, const char*, int32_t)
{
    if (stream == nullptr)
        return AiffOpenNoStream;
    stream->handle = FileHandleNone;
    return AiffOpenCannotOpen;
}
double Extended80_ToDouble(const uint8_t*) { return 0.0; }
int32_t AiffStream_Repair(AiffStream*) { return StreamResultIoFailed; }
int32_t AiffStream_UpdateHeader(AiffStream* stream) { return stream == nullptr ? -1 : 0; }
int32_t AiffStream_Close(AiffStream* stream)
{
    stream->handle = FileHandleNone;
    return 0;
}
int32_t AiffStream_HasChunkTrailer(AiffStream*) { return 0; }
