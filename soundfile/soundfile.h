// The sound file handle: one object over an open WAV/BWF/RF64/BW64/Wave64 or
// AIFF file.
#ifndef TESSMARK_SOUNDFILE_H
#define TESSMARK_SOUNDFILE_H

#include <stdint.h>

#include "aiffstream.h"
#include "wavstream.h"

// SoundFileKind values.
enum {
    SoundFileKindNone = 0,  // nothing open
    SoundFileKindWav = 1,   // WAV, RF64, BW64 or Wave64 without bext
    SoundFileKindAiff = 2,  // AIFF
    SoundFileKindBwf = 3,   // the same with a bext chunk
};

// openFlag values the callers use.
enum {
    SoundFileOpenReadWrite = 0x01,   // read and write, unshared (the scan)
    SoundFileOpenReadShared = 0x20,  // read only, others may read (checking only)
    SoundFileOpenHeaderOnly = 0x100, // with either: no samples will be read, so the open leaves the file
                                     // pointer where its reads left it (filePosState tells)
};

// Error codes kept in SoundFile.errorCode.
enum {
    SoundFileErrUnknownType = 1,
    SoundFileErrCannotOpen = 2,
    SoundFileErrCannotRead = 3,
    SoundFileErrNoAudio = 4,
    SoundFileErrCorrupted = 5,
    SoundFileErrWav = 0x10000001,
    SoundFileErrAiff = 0x10000002,
    SoundFileErrAlreadyOpen = 0x20000000,
    SoundFileErrNotOpen = 0x20000001,
    SoundFileErrAccess = 0x30000000,  // a repair or header update met an I/O failure
};

// sampleEncoding values.
enum {
    SampleEncodingInteger = 0,
    SampleEncodingUnsigned8 = 1,
    SampleEncodingFloat = 2,
};

typedef struct SoundFileInfo {
    int32_t kind;            // copy of the handle's kind as of the last fill
    uint32_t sampleRate;     // samples per second of one channel
    int32_t channels;        // channel count
    int32_t bitsPerSample;   // bits per sample
    int32_t sampleEncoding;  // SampleEncoding*; 0 for AIFF
    uint32_t flags;          // WavFlagBext, WavFlagRf64, WavFlagBw64, WavFlagWave64, WavFlagBeyond32
    int64_t frameCount;      // frames the header declares; after a repair, the whole frames held
    int64_t durationMs;      // frameCount * 1000 / sampleRate; 0 when the rate is 0
    int64_t dataBytes;       // blockAlign * frameCount: the declared length in whole frames
    BextRecord bext;         // the bext description when kind is 3; zero otherwise
} SoundFileInfo;

// What a repair of the open file will change, known before its first write
// (an undo journal keeps the bytes): it overwrites no byte at or past
// headerBytes, cuts the file to keepBytes, then appends padBytes zero bytes.
typedef struct SoundFileRepairPlan {
    int64_t fileSize;     // the length the repair starts from
    int64_t headerBytes;  // the offset of the first sample byte
    int64_t keepBytes;    // the length after the cut; fileSize when nothing is cut
    int64_t padBytes;     // zero bytes the close appends after keepBytes (AIFF block padding)
    uint32_t changeCount;
    StreamChange changes[StreamChangeCapacity];  // what it writes into the header, each at most once
} SoundFileRepairPlan;

// How long a take must have been left unchanged before a repair cuts its
// partial last frame: a recorder that opens, appends a buffer and closes
// again, or one on a file system that grants no lease, completes that frame
// with its next write, and a cut would shift every sample after it. Within
// it, the repair declares the whole frames and keeps the partial one. Card
// readers and loggers write at least every few seconds while they record.
#define SoundFileSettleMs 10000

// SoundFileVerdict.state: what SoundFile_Examine found.
enum {
    SoundVerdictNone = 0,        // nothing to examine: no sound file by its name
    SoundVerdictRefused = 1,     // not examined: reason and refusal say why; never changed
    SoundVerdictNoSamples = 2,   // nothing behind the header
    SoundVerdictComplete = 3,    // the header declares every whole frame (a pad byte may follow)
    SoundVerdictMetadata = 4,    // complete, with metadata chunks behind the samples
    SoundVerdictShort = 5,       // declares fewer bytes than the samples hold: a repair declares repairBytes
    SoundVerdictCutShort = 6,    // declares more bytes than the file holds: left as it is
    SoundVerdictUnreadable = 7,  // a read failed while looking behind the samples: left as it is
};

// SoundFileVerdict.encoding. Those from SoundEncodingCompressed on are
// never repaired: their frames are no fixed number of bytes, or not known
// to be.
enum {
    SoundEncodingUnknown = 0,
    SoundEncodingSigned = 1,    // integer PCM
    SoundEncodingUnsigned = 2,  // 8-bit WAV PCM
    SoundEncodingFloat = 3,
    SoundEncodingALaw = 4,
    SoundEncodingMuLaw = 5,
    SoundEncodingCompressed = 6,
    SoundEncodingImaAdpcm = 6,
    SoundEncodingMsAdpcm = 7,
    SoundEncodingGsm610 = 8,
    SoundEncodingMpeg = 9,      // MPEG audio, MP3 among it
    SoundEncodingOther = 10,    // another compressed or unknown encoding: formatTag names it
};

// What one examination of an open file found: the one decision on whether
// a file is healthy and where its samples end, for every caller.
typedef struct SoundFileVerdict {
    int32_t state;          // SoundVerdict*
    int32_t reason;         // SoundReason*: why refused (Refused), how the header falls short (Short)
    int32_t container;      // SoundContainer* (stream.h); refused: the family of the reader that refused it
    int32_t encoding;       // SoundEncoding*
    uint32_t formatTag;     // WAV: the format tag (of an extensible's sub-format); AIFF-C: the
                            // compression type's four bytes, the first in the top byte
    uint32_t sampleRate;
    int32_t channels;
    uint32_t frameBytes;    // bytes per frame (a WAV block for compressed encodings)
    int32_t bitsPerSample;  // as the format states it; 0 where it states none
    int64_t fileSize;
    int64_t dataOffset;     // the first sample byte
    int64_t declaredBytes;  // whole-frame bytes the header declares (a placeholder's as it reads)
    int64_t samplesEnd;     // where the samples end: the end of the file, or where a pad byte,
                            // zero block padding or metadata chunks begin
    int64_t sampleBytes;    // samplesEnd - dataOffset: the sample bytes the file holds
    int64_t repairBytes;    // Short: the whole-frame bytes a repair declares; else declaredBytes
    int64_t missingBytes;   // Short: sampleBytes beyond what is declared; CutShort: declared bytes the
                            // file lacks
    int64_t frames;         // frames declared; for a compressed encoding the fact chunk's count, -1 when none
    int64_t changedMs;      // milliseconds since the file last changed, as the open measured it
    int64_t partialKept;    // Short: bytes of a partial last frame the repair keeps, since the file
                            // changed within SoundFileSettleMs; 0 when it cuts them (or there are none)
    StreamRefusal refusal;  // Refused: the facts behind reason
} SoundFileVerdict;

typedef struct SoundFile {
    SoundFileInfo info;    // the summary
    int32_t isOpen;        // 1 while a file is open
    int32_t kind;          // which stream member is in use (SoundFileKind*)
    int64_t position;      // frame position; 0 whenever the summary is filled
    int64_t length;        // frames in the file; the summary's frameCount
    WavStream wav;         // the stream of kinds 1 and 3
    AiffStream aiff;       // the stream of kind 2
    int32_t errorCode;     // code of the last failure; 0 after a successful open
    char errorText[1024];  // message of the last failure; empty after a successful open
    StreamRefusal refusal; // why the last open refused the file (SoundFile_Examine tells it)
} SoundFile;

#ifdef __cplusplus
extern "C" {
#endif

// Opens path with the reader its extension names (.wav .bwf .rf64 .bw64 .w64 /
// .aif .aiff .aifc .iff).
// Returns 0 when opened and also for an unknown extension (errorCode 1, handle
// closed); otherwise the errorCode set. -1 for a null handle.
int32_t SoundFile_Open(SoundFile* file, const char* path, int32_t openFlag);

// 1 when SoundFile_Open would pick a reader for path by its extension.
int32_t SoundFile_HasSoundExtension(const char* path);

// Writes the extensions SoundFile_Open knows, space-separated (".wav .bwf
// ..."), into out (capacity bytes, cut to fit, NUL-terminated). Returns out.
const char* SoundFile_ListExtensions(char* out, uint32_t capacity);

// Repairs the header by the file size and refreshes the summary. 0 when done;
// SoundFileErrAccess when the stream's repair failed (summary still
// refreshed; the file is not repaired); SoundFileErrNotOpen; -1 for a null
// handle or an unknown kind.
int32_t SoundFile_Repair(SoundFile* file);

// Fills plan for a SoundFile_Repair of the open file, before it runs. 0; -1
// when nothing is open or the repair would leave the file alone.
int32_t SoundFile_GetRepairPlan(SoundFile* file, SoundFileRepairPlan* plan);

// Reads count bytes at pos through the open handle. 0; SoundFileErrAccess
// when the read failed; -1 when nothing is open.
int32_t SoundFile_ReadAt(SoundFile* file, int64_t pos, void* buffer, uint32_t count);

// Closes, rewriting a dirty header. 0; SoundFileErrAccess when the header
// update, flush or close failed; SoundFileErrNotOpen; -1.
int32_t SoundFile_Close(SoundFile* file);

// Copies the summary (destination zeroed first). 0, or -1 when nothing is open.
int32_t SoundFile_GetInfo(SoundFile* file, SoundFileInfo* info);

// dataOffset of the open stream; 0xFFFFFFFF when nothing is open.
uint32_t SoundFile_GetDataOffset(SoundFile* file);

// fileSize measured at open; -1 when nothing is open, -2 for an unknown kind.
int64_t SoundFile_GetFileSize(SoundFile* file);

// Decides what the file is: refused (after a failed SoundFile_Open, or for
// an encoding a repair must not touch), without samples, complete, complete
// with metadata behind its samples, short, cut short, or unreadable behind
// its samples; see SoundFileVerdict and examine.cpp for the rules. Reads
// what follows the declared samples, never changes the file. A short
// verdict tells the next SoundFile_Repair where the samples end. 0; -1
// without a handle or verdict.
int32_t SoundFile_Examine(SoundFile* file, SoundFileVerdict* verdict);

// frames * 1000 / rate, truncated; 0 for a rate of 0 or no frames.
int64_t SoundFile_DurationMs(int64_t frames, uint32_t rate);

// Writes "(48000Hz / 2 ch) Length:00:41:07", as the log lines give a
// take's format and length. 0, or -1 when it did not fit.
int32_t SoundFile_DescribeFormat(char* out, uint32_t capacity, uint32_t sampleRate, int32_t channels,
                                 int64_t durationMs);

// Internal: fill the summary from the stream in use and mark the handle open.
int32_t SoundFile_FillInfoFromWav(SoundFile* file);
int32_t SoundFile_FillInfoFromAiff(SoundFile* file);

#ifdef __cplusplus
}
#endif

#endif
