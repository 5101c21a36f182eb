// The chunk layer both containers are read through: RIFF (WAV, RF64) and
// IFF (AIFF) are the same sequence of 4-byte ids and 32-bit sizes, and
// differ only in the rules of a ChunkRules record.
#ifndef TESSMARK_CHUNKS_H
#define TESSMARK_CHUNKS_H

#include <stdint.h>

#include "fileio.h"
#include "stream.h"

// Chunks are addressed through 32-bit offsets (dataOffset, the header
// fields) in both containers; nothing at or beyond this can be used.
#define ChunkPositionLimit 0xFFFFFFFFu

// Where the file pointer stands is not known.
#define ChunkPosUnknown UINT64_MAX

typedef struct ChunkRules {
    int bigEndian;               // IFF's numbers are big-endian, RIFF's little-endian
    int padOdd;                  // an odd-sized body is followed by a pad byte
    int printableIds;            // an id that is not printable ends the walk
    const char* const* knownIds; // ids writers use, null-terminated; they settle a pad-byte doubt
} ChunkRules;

extern const ChunkRules ChunkRulesRiff;
extern const ChunkRules ChunkRulesIff;

// Bytes at the start of a file that Chunk_ReadHead takes in one request:
// the whole header of a plain recording, with room for a bext chunk.
#define ChunkHeadCapacity 4096u

// One open file, walked chunk by chunk. Reads inside the head block are
// served from memory; the others move the pointer only when it is not
// already where they begin.
typedef struct ChunkCursor {
    FileHandle handle;
    const ChunkRules* rules;
    uint64_t filePos;     // where the file pointer stands; ChunkPosUnknown
    int64_t fileSize;     // measured when a pad-byte doubt needs it; -1 before
    uint32_t headLength;  // bytes of head that hold the file's first bytes; 0 before Chunk_ReadHead
    uint8_t head[ChunkHeadCapacity];
} ChunkCursor;

typedef struct ChunkHeader {
    uint8_t id[4];
    uint32_t size;  // body bytes as declared, in host order
    uint64_t pos;   // where the header starts (behind a pad byte, if one was skipped)
} ChunkHeader;

#ifdef __cplusplus
extern "C" {
#endif

void ChunkCursor_Init(ChunkCursor* cursor, FileHandle handle, const ChunkRules* rules, uint64_t filePos);

// Reads the first bytes of the file, up to ChunkHeadCapacity, in one read
// request: those that request gives (fewer at the end of a short file, or
// where the file system gives a part) serve every later read inside them.
// 1 on success, also for an empty file; 0 when the read failed.
int Chunk_ReadHead(ChunkCursor* cursor);

// Starts the walk of a file just opened: the head block and the 12-byte file
// header in header; *fileSize the length the open measured, or UINT64_MAX
// where it could not (a bound of nothing). 1 on success; 0 with why in
// *refusal: a failed read, an empty file, fewer than 12 bytes.
int Chunk_Begin(ChunkCursor* cursor, FileHandle handle, const ChunkRules* rules, const FileStamp* measured,
                uint8_t header[12], uint64_t* fileSize, StreamRefusal* refusal);

// Reads count bytes at pos: from the head block as far as it holds them,
// the rest from the file. 1 on success. On a failure the position is unknown.
int Chunk_ReadAt(ChunkCursor* cursor, uint64_t pos, void* buffer, uint32_t count);
// Moves the pointer to pos (only when it is not there); 1 on success.
int Chunk_SeekTo(ChunkCursor* cursor, uint64_t pos);

// Reads the chunk header at pos, or, when the chunk before it had an odd
// size (afterOdd), at pos or one pad byte further on (see chunks.cpp).
// 1 on success.
int Chunk_ReadHeader(ChunkCursor* cursor, uint64_t pos, int afterOdd, ChunkHeader* header);

// Where the header after this chunk would start without its pad byte.
uint64_t Chunk_End(const ChunkHeader* header);
// 1 when a pad byte may follow this chunk.
int Chunk_IsOdd(const ChunkCursor* cursor, const ChunkHeader* header);

// 1 when the bytes from pos to fileSize are a run of well-formed chunks
// (pad bytes included, also a last one), nothing at all, or more such
// chunks than ChunkTrailerLimit; 0 otherwise. afterOdd as for
// Chunk_ReadHeader, for the chunk that ends at pos. -1 when a move or read
// failed before it could tell: everything looked at lies inside the measured
// file, so a failure there is a failing disk, not an answer.
int32_t Chunk_IsTrailer(ChunkCursor* cursor, uint64_t pos, int afterOdd, uint64_t fileSize);

// What follows samples that a header says end at pos (pos below fileSize).
enum {
    ChunkFollowNothing = 0,  // nothing that reads as metadata: more samples, or garbage
    ChunkFollowChunks = 1,   // metadata: a run of well-formed chunks to the end of the file, or a
                             // chunk whose id writers put there and that fits in the file
    ChunkFollowPad = 2,      // only the pad byte of an odd-sized chunk
};
// ChunkFollow*, or -1 when a read failed. afterOdd as for Chunk_ReadHeader.
int32_t Chunk_FollowsAt(ChunkCursor* cursor, uint64_t pos, int afterOdd, uint64_t fileSize);

// Samples whose end a header does not tell (see Chunk_FindTrailer).
typedef struct ChunkSamples {
    uint64_t body;        // the body of the chunk that holds them: an odd body is padded
    uint64_t first;       // the first sample byte; frames count from here
    uint64_t lowest;      // they end here or later
    uint64_t fileSize;
    uint32_t frameBytes;  // bytes per frame, above 0
} ChunkSamples;

// How far from the end of the file Chunk_FindTrailer looks for metadata.
#define ChunkTrailerSearchBytes (8u << 20)

// Looks for metadata chunks that a recorder wrote behind its samples before
// it stopped, when the header does not say where the samples end (see
// chunks.cpp for the rule and its limits). 1 with *samplesEnd when found:
// the samples end there, a whole number of frames from first, and the
// chunks (behind the pad byte of an odd body) run to the end of the file.
// 0 when none is found; -1 when a read failed.
int32_t Chunk_FindTrailer(ChunkCursor* cursor, const ChunkSamples* samples, uint64_t* samplesEnd);

// Reads the header at pos of a walk that looks for a chunk (afterOdd as for
// Chunk_ReadHeader; prev: the chunk before it, or null). 1 when it is a
// chunk a writer makes: a printable id, inside ChunkPositionLimit. 0
// otherwise, with why in *refusal: the chunks end at the end of the file
// (prev may run past it), zeros, an id no writer makes, a chunk beyond
// 4 GiB, or a failed read.
int Chunk_Next(ChunkCursor* cursor, uint64_t pos, int afterOdd, uint64_t fileSize, const ChunkHeader* prev,
               ChunkHeader* header, StreamRefusal* refusal);

int Chunk_SameId(const uint8_t* id, const char* name);
// Four printable ASCII characters, as writers make ids.
int Chunk_PlausibleId(const uint8_t* id);

uint16_t Chunk_Get16(const ChunkRules* rules, const uint8_t* p);
uint32_t Chunk_Get32(const ChunkRules* rules, const uint8_t* p);
uint64_t Chunk_Get64(const ChunkRules* rules, const uint8_t* p);
void Chunk_Put32(const ChunkRules* rules, uint8_t* p, uint32_t v);
void Chunk_Put64(const ChunkRules* rules, uint8_t* p, uint64_t v);

#ifdef __cplusplus
}
#endif

#endif
