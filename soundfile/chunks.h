// The chunk layer every container is read through: RIFF (WAV, RF64, BW64),
// IFF (AIFF) and Wave64 are the same sequence of ids and sizes, and differ
// only in the rules of a ChunkRules record: 4-byte ids or 16-byte GUIDs,
// 32- or 64-bit sizes that count the header or not, a pad byte after an odd
// body or chunks on 8-byte boundaries.
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

// A Wave64 GUID that does not end in ChunkRules.guidTail, and the id a
// walk knows it by.
typedef struct ChunkGuid {
    uint8_t guid[16];
    char id[5];
} ChunkGuid;

typedef struct ChunkRules {
    int bigEndian;               // IFF's numbers are big-endian, RIFF's little-endian
    int padOdd;                  // an odd-sized body is followed by a pad byte
    int printableIds;            // an id that is not printable ends the walk (else unknown ids are skipped)
    const char* const* knownIds; // ids writers use, null-terminated; they settle a pad-byte doubt
    uint32_t idBytes;            // 4, or 16 for a GUID
    uint32_t sizeBytes;          // 4 or 8
    uint32_t sizeCounts;         // bytes of the chunk header the size counts too (Wave64: all 24)
    uint32_t align;              // chunks start at multiples of this from the file's start; 1: padOdd says
    const uint8_t* guidTail;     // GUIDs ending in these 12 bytes are named by their first four
    const ChunkGuid* guids;      // the other GUIDs named, ending with an empty id
} ChunkRules;

extern const ChunkRules ChunkRulesRiff;
extern const ChunkRules ChunkRulesIff;
extern const ChunkRules ChunkRulesWave64;

// The GUIDs of the Wave64 file header: its first 16 bytes, and its form
// type at 24.
extern const uint8_t ChunkWave64Riff[16];
extern const uint8_t ChunkWave64Wave[16];

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
    uint8_t id[4];        // a GUID's name (see ChunkRules); an unnamed GUID's first four bytes
    uint64_t size;        // body bytes as declared, in host order
    uint64_t pos;         // where the header starts (behind a pad byte or alignment, if skipped)
    uint32_t headBytes;   // 8, or 24 for Wave64
    int32_t plausible;    // an id a writer makes: printable, and for a GUID a named one
    int32_t undersized;   // the size declared is below the header it counts (size then 0)
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
// size (afterOdd), at pos or one pad byte further on (see chunks.cpp);
// where chunks are aligned, at the next boundary from pos. 1 on success.
int Chunk_ReadHeader(ChunkCursor* cursor, uint64_t pos, int afterOdd, ChunkHeader* header);

// Bytes of a chunk header under rules: 8, or 24 for Wave64.
uint32_t Chunk_HeadBytes(const ChunkRules* rules);

// Where the header after this chunk would start without its pad byte or
// alignment; UINT64_MAX for a size no file reaches.
uint64_t Chunk_End(const ChunkHeader* header);
// 1 when a pad byte or alignment may follow this chunk.
int Chunk_IsOdd(const ChunkCursor* cursor, const ChunkHeader* header);
// The same for a body of bodyBytes at body (the samples' chunk, whose size
// a verdict may not take from its header).
int Chunk_OddEnd(const ChunkRules* rules, uint64_t body, uint64_t bodyBytes);

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
// chunk a writer makes: a printable id (where rules ask for one), inside
// ChunkPositionLimit, a size that covers its own header (but for the chunk
// refusal->sought names). 0 otherwise, with why in *refusal: the chunks end
// at the end of the file (prev may run past it), zeros, an id no writer
// makes, a size below the header, a chunk beyond 4 GiB, or a failed read.
int Chunk_Next(ChunkCursor* cursor, uint64_t pos, int afterOdd, uint64_t fileSize, const ChunkHeader* prev,
               ChunkHeader* header, StreamRefusal* refusal);

// A 64-bit size for a 32-bit field of a refusal: 0xFFFFFFFF when larger.
uint32_t Chunk_Size32(uint64_t size);

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
