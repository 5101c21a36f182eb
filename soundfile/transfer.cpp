// Sample transfer: moves whole frames between a caller's buffer and an open
// WAV or AIFF stream. Reads deliver silence for frames outside the sample
// data; writes overwrite or extend the data and leave the header to the close.
#include <stdint.h>

#include "aiffstream.h"
#include "fileio.h"
#include "samples.h"
#include "wavstream.h"

namespace {

// Highest file offset a write may end at where the container's sizes are
// 32-bit fields read as signed by many programs (plain RIFF, AIFF; not
// RF64, BW64 or Wave64).
const int64_t ClassicEndLimit = 0x7FFFFFFF;

// What the two containers do differently in one transfer.
struct TransferRules {
    uint32_t sampleWidth;  // bytes per sample turned between file and host order; 0: none
    int silence8;          // 1: silence is 0x80 (unsigned 8-bit WAV samples), 0: zero
    int limited;           // 1: a write may not end beyond ClassicEndLimit
};

// Turns each whole sample between file and host order.
void TurnSamples(uint8_t* p, uint32_t n, uint32_t width)
{
    if (width == 8)
        Samples_SwapByteOrder64(p, n);
    else if (width > 1)
        Samples_SwapByteOrder(p, n, width);
}

void FillSilence(uint8_t* p, uint32_t n, int silence8)
{
    if (silence8)
        Mem_FillSilence8(p, n);
    else
        Mem_Zero(p, n);
}

// A stream the transfer may touch: a file is open and its data chunk was
// found. A stream left by a failed open still holds its handle but has
// dataOffset 0, and a write there would land on the file header.
template <class Stream>
bool IsOpen(const Stream* s)
{
    return s->handle != FileHandleNone && s->dataOffset != 0;
}

template <class Stream>
int32_t ReadFramesImpl(Stream* s, uint8_t* buffer, uint32_t byteCount, int forward, const TransferRules& rules)
{
    const int64_t blockAlign = s->blockAlign;
    const int64_t frames = byteCount / blockAlign;
    if (frames == 0)
        return TransferOk;
    // Only whole frames move; the bytes of a partial frame at the end of the
    // buffer stay as the caller left them.
    const uint32_t wholeBytes = uint32_t(frames * blockAlign);

    int64_t start, newPos;
    if (forward) {
        if (s->readPos > INT64_MAX - frames)
            return TransferSeekFailed;
        start = s->readPos;
        newPos = s->readPos + frames;
    } else {
        if (s->readPos < INT64_MIN + frames)
            return TransferSeekFailed;
        start = s->readPos - frames;
        newPos = start;
    }

    int64_t lead = 0;
    if (start < 0) {
        lead = start < -frames ? frames : -start;
        start += lead;
    }
    const int64_t rest = frames - lead;
    int64_t mid = 0;
    int64_t tail = 0;
    if (rest > 0) {
        if (start >= s->frameCount) {
            tail = rest;
        } else {
            const int64_t present = s->frameCount - start;
            mid = rest < present ? rest : present;
            tail = rest - mid;
        }
    }

    int64_t offset = 0;
    if (mid > 0) {
        // Frame counts from a damaged 64-bit header can name offsets no
        // file can have; refuse them before the buffer is touched.
        if (start > (INT64_MAX - int64_t(s->dataOffset)) / blockAlign)
            return TransferSeekFailed;
        offset = int64_t(s->dataOffset) + start * blockAlign;
    }

    uint8_t* p = buffer;
    const uint32_t leadBytes = uint32_t(lead * blockAlign);
    FillSilence(p, leadBytes, rules.silence8);
    p += leadBytes;
    if (mid > 0) {
        const uint32_t midBytes = uint32_t(mid * blockAlign);
        // The pointer is known only at frame readPos, where a forward read
        // without leading silence begins.
        const bool atStart = forward && lead == 0 && s->filePosState == 1;
        if (!atStart && !File_SeekTo(s->handle, offset)) {
            s->filePosState = 0;
            return TransferSeekFailed;
        }
        if (!File_ReadExact(s->handle, p, midBytes)) {
            // A short read has moved the pointer somewhere inside the data.
            s->filePosState = 0;
            return TransferReadFailed;
        }
        p += midBytes;
    }
    FillSilence(p, uint32_t(tail * blockAlign), rules.silence8);

    s->readPos = newPos;
    if (forward) {
        // After a read of file frames only, the pointer sits at the new readPos.
        s->filePosState = mid == frames ? 1 : 0;
    } else {
        Samples_ReverseFrames(buffer, wholeBytes, uint32_t(blockAlign));
        s->filePosState = 0;
    }
    TurnSamples(buffer, wholeBytes, rules.sampleWidth);
    return TransferOk;
}

template <class Stream>
int32_t WriteBytesImpl(Stream* s, uint8_t* buffer, uint32_t byteCount, const TransferRules& rules)
{
    const int64_t blockAlign = s->blockAlign;
    const int64_t frames = byteCount / blockAlign;
    if (frames == 0)
        return TransferOk;
    const uint32_t wholeBytes = uint32_t(frames * blockAlign);

    // A negative position would put the samples over the header.
    if (s->writePos < 0)
        return TransferSeekFailed;
    if (s->writePos > (INT64_MAX - int64_t(s->dataOffset)) / blockAlign)
        return TransferTooLarge;
    const int64_t pos = int64_t(s->dataOffset) + s->writePos * blockAlign;
    if (pos > INT64_MAX - int64_t(wholeBytes))
        return TransferTooLarge;
    const int64_t end = pos + wholeBytes;
    if (rules.limited && end > ClassicEndLimit)
        return TransferTooLarge;
    const int64_t newWritePos = s->writePos + frames;
    const int64_t newFrameCount = newWritePos > s->frameCount ? newWritePos : s->frameCount;
    // Only a frame count from a damaged 64-bit header fails this.
    if (newFrameCount > INT64_MAX / blockAlign)
        return TransferTooLarge;

    s->filePosState = 0;
    if (!File_SeekTo(s->handle, pos))
        return TransferSeekFailed;
    TurnSamples(buffer, wholeBytes, rules.sampleWidth);
    if (!File_WriteExact(s->handle, buffer, wholeBytes))
        return TransferWriteFailed;

    s->writePos = newWritePos;
    if (newFrameCount != s->frameCount) {
        s->frameCount = newFrameCount;
        s->headerDirty = 1;
    }
    s->dataBytes = s->frameCount * blockAlign;
    return TransferOk;
}

// Bytes per sample of an AIFF stream, or 0 when blockAlign is not a whole
// number of samples per channel (a COMM whose channels times sample bytes
// overflowed 16 bits): such a stream has no frame layout to work with.
uint32_t AiffSampleWidth(const AiffStream* s)
{
    if (s->channels == 0 || s->blockAlign == 0 || s->blockAlign % s->channels != 0)
        return 0;
    return uint32_t(s->blockAlign / s->channels);
}

TransferRules WavRules(const WavStream* s)
{
    TransferRules r;
    r.sampleWidth = 0;
    r.silence8 = s->bitsPerSample == 8 ? 1 : 0;
    r.limited = (s->flags & (WavFlagRf64 | WavFlagWave64)) ? 0 : 1;
    return r;
}

TransferRules AiffRules(const AiffStream* s)
{
    TransferRules r;
    const uint32_t width = AiffSampleWidth(s);
    // 'sowt' samples are little-endian already. Floats of 8 bytes are
    // turned too; integers wider than 4 bytes never were.
    if (s->sampleOrder == AiffOrderLittle || (width > 4 && s->sampleEncoding != 2))
        r.sampleWidth = 0;
    else
        r.sampleWidth = width;
    r.silence8 = s->sampleEncoding == 1;  // 'raw ': offset binary; other 8-bit AIFF samples are signed
    r.limited = 1;
    return r;
}

}  // namespace

extern "C" {

int32_t WavStream_ReadFrames(WavStream* stream, void* buffer, uint32_t byteCount, int forward)
{
    if (stream == nullptr)
        return -1;
    if (!IsOpen(stream))
        return TransferOk;
    if (stream->blockAlign == 0)
        return TransferReadFailed;
    if (byteCount < stream->blockAlign)
        return TransferOk;
    if (buffer == nullptr)
        return -1;
    return ReadFramesImpl(stream, static_cast<uint8_t*>(buffer), byteCount, forward, WavRules(stream));
}

int32_t WavStream_WriteBytes(WavStream* stream, void* buffer, uint32_t byteCount)
{
    if (stream == nullptr)
        return -1;
    if (!IsOpen(stream) || stream->blockAlign == 0)
        return TransferWriteFailed;
    if (byteCount < stream->blockAlign)
        return TransferOk;
    if (buffer == nullptr)
        return -1;
    return WriteBytesImpl(stream, static_cast<uint8_t*>(buffer), byteCount, WavRules(stream));
}

int32_t AiffStream_ReadFrames(AiffStream* stream, void* buffer, uint32_t byteCount, int forward)
{
    if (stream == nullptr)
        return -1;
    if (!IsOpen(stream))
        return TransferOk;
    if (AiffSampleWidth(stream) == 0)
        return TransferReadFailed;
    if (byteCount < stream->blockAlign)
        return TransferOk;
    if (buffer == nullptr)
        return -1;
    return ReadFramesImpl(stream, static_cast<uint8_t*>(buffer), byteCount, forward, AiffRules(stream));
}

int32_t AiffStream_WriteBytes(AiffStream* stream, void* buffer, uint32_t byteCount)
{
    if (stream == nullptr)
        return -1;
    if (!IsOpen(stream) || AiffSampleWidth(stream) == 0)
        return TransferWriteFailed;
    if (byteCount < stream->blockAlign)
        return TransferOk;
    if (buffer == nullptr)
        return -1;
    const int64_t before = stream->frameCount;
    int32_t result = WriteBytesImpl(stream, static_cast<uint8_t*>(buffer), byteCount, AiffRules(stream));
    // The write limit keeps the frame count well inside COMM's 32 bits.
    if (result == TransferOk && stream->frameCount != before)
        stream->commSampleFrames = uint32_t(stream->frameCount);
    return result;
}

void Samples_SwapByteOrder(void* buffer, uint32_t byteCount, uint32_t width)
{
    if (buffer == nullptr || width < 2 || width > 4)
        return;
    uint8_t* p = static_cast<uint8_t*>(buffer);
    const uint32_t count = byteCount / width;
    for (uint32_t i = 0; i < count; ++i, p += width) {
        uint8_t t = p[0];
        p[0] = p[width - 1];
        p[width - 1] = t;
        if (width == 4) {
            t = p[1];
            p[1] = p[2];
            p[2] = t;
        }
    }
}

void Samples_SwapByteOrder64(void* buffer, uint32_t byteCount)
{
    if (buffer == nullptr)
        return;
    uint8_t* p = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < byteCount / 8; ++i, p += 8)
        for (int b = 0; b < 4; ++b) {
            const uint8_t t = p[b];
            p[b] = p[7 - b];
            p[7 - b] = t;
        }
}

void Samples_ReverseFrames(void* buffer, uint32_t byteCount, uint32_t width)
{
    if (buffer == nullptr || width == 0)
        return;
    const uint32_t count = byteCount / width;
    if (count < 2)
        return;
    uint8_t* lo = static_cast<uint8_t*>(buffer);
    uint8_t* hi = lo + (count - 1) * width;
    for (uint32_t i = 0; i < count / 2; ++i) {
        for (uint32_t b = 0; b < width; ++b) {
            const uint8_t t = lo[b];
            lo[b] = hi[b];
            hi[b] = t;
        }
        lo += width;
        hi -= width;
    }
}

}  // extern "C"
