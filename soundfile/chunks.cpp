// The one chunk walk of both containers: header reads, the pad-byte
// tolerance and the trailer check.
#include "chunks.h"

#include <string.h>

namespace {

const char* const RiffIds[] = {"fmt ", "data", "fact", "LIST", "JUNK", "junk", "bext", "iXML", "cue ", "ds64",
                               "id3 ", "ID3 ", "PAD ", "FLLR", "smpl", "inst", "axml", "acid", "cart", "levl",
                               "chna", "umid", "PEAK", "DISP", "plst", "labl", "note", "ltxt", "minf", "elm1",
                               "regn", "ovwf", "afsp", "mext", "SyLp", "_PMX", "wavl", "slnt", nullptr};
const char* const IffIds[] = {"COMM", "SSND", "FVER", "MARK", "INST", "COMT", "NAME", "AUTH", "(c) ",
                              "ANNO", "ID3 ", "id3 ", "APPL", "MIDI", "AESD", "CHAN", "chan", "basc",
                              "trns", "cate", "bext", "iXML", "FLLR", "PAD ", nullptr};

// Bound of the trailer walk. Real files carry a handful of chunks behind
// their samples; no sample data reads as this many well-formed chunks in a
// row, and the bound keeps a hostile file (millions of empty chunks) from
// costing millions of reads.
const uint32_t ChunkTrailerLimit = 1024;

int Known(const ChunkRules* rules, const uint8_t* id)
{
    for (const char* const* k = rules->knownIds; k != nullptr && *k != nullptr; ++k)
        if (Chunk_SameId(id, *k))
            return 1;
    return 0;
}

// An id at a place a chunk may start; ids never begin with a space.
int IdLike(const uint8_t* id)
{
    return Chunk_PlausibleId(id) && id[0] != ' ';
}

// Whether the header behind an odd-sized body starts one pad byte on
// (padded, what the formats ask for) or at once (unpadded). Writers differ:
// most pad with a zero byte; some recorders and old converters omit the
// pad altogether; a few fill it with a space or another printable byte. The
// zero or space pad cannot begin an id, so the id it leaves implausible
// tells; a printable pad is settled by the id writers use, and where
// neither tells, by which of the two chunks fits in the file, when that is
// known. Otherwise the header is taken unpadded, where a file without pads
// has it.
int TakePadded(const ChunkCursor* cursor, const uint8_t peek[9], uint64_t unpadded)
{
    const uint8_t* a = peek;
    const uint8_t* b = peek + 1;
    int likeA = IdLike(a);
    int likeB = IdLike(b);
    if (likeA != likeB)
        return likeB;
    if (!likeA)
        return 0;
    int knownA = Known(cursor->rules, a);
    int knownB = Known(cursor->rules, b);
    if (knownA != knownB)
        return knownB;
    if (cursor->fileSize >= 0) {
        uint64_t size = uint64_t(cursor->fileSize);
        int fitsA = unpadded + 8 + Chunk_Get32(cursor->rules, a + 4) <= size;
        int fitsB = unpadded + 9 + Chunk_Get32(cursor->rules, b + 4) <= size;
        if (fitsA != fitsB)
            return fitsB;
    }
    return 0;
}

}  // namespace

const ChunkRules ChunkRulesRiff = {0, 1, 0, RiffIds};
const ChunkRules ChunkRulesIff = {1, 1, 1, IffIds};

void ChunkCursor_Init(ChunkCursor* cursor, FileHandle handle, const ChunkRules* rules, uint64_t filePos)
{
    cursor->handle = handle;
    cursor->rules = rules;
    cursor->filePos = filePos;
    cursor->fileSize = -1;
    cursor->headLength = 0;
}

int Chunk_ReadHead(ChunkCursor* cursor)
{
    cursor->headLength = 0;
    uint32_t got = 0;
    if (!Chunk_SeekTo(cursor, 0) || !File_ReadUpTo(cursor->handle, cursor->head, ChunkHeadCapacity, &got)) {
        cursor->filePos = ChunkPosUnknown;
        return 0;
    }
    cursor->headLength = got;
    cursor->filePos = got;
    return 1;
}

int Chunk_SeekTo(ChunkCursor* cursor, uint64_t pos)
{
    if (cursor->filePos == pos)
        return 1;
    if (pos > uint64_t(INT64_MAX) || !File_SeekTo(cursor->handle, int64_t(pos))) {
        cursor->filePos = ChunkPosUnknown;
        return 0;
    }
    cursor->filePos = pos;
    return 1;
}

int Chunk_ReadAt(ChunkCursor* cursor, uint64_t pos, void* buffer, uint32_t count)
{
    if (pos < cursor->headLength) {
        const uint32_t held = cursor->headLength - uint32_t(pos);
        const uint32_t n = count < held ? count : held;
        if (n > 0)
            memcpy(buffer, cursor->head + pos, n);
        if (n == count)
            return 1;
        // Only what the head block lacks comes from the file, where the
        // head's read left the pointer when nothing moved it since.
        buffer = static_cast<uint8_t*>(buffer) + n;
        pos = cursor->headLength;
        count -= n;
    }
    if (!Chunk_SeekTo(cursor, pos))
        return 0;
    if (!File_ReadExact(cursor->handle, buffer, count)) {
        cursor->filePos = ChunkPosUnknown;
        return 0;
    }
    cursor->filePos = pos + count;
    return 1;
}

int Chunk_ReadHeader(ChunkCursor* cursor, uint64_t pos, int afterOdd, ChunkHeader* header)
{
    uint8_t bytes[9];
    const uint8_t* at = bytes;
    header->pos = pos;
    const int sized = cursor->fileSize >= 0;
    const int room = !sized || (uint64_t(cursor->fileSize) > pos && uint64_t(cursor->fileSize) - pos >= 9);
    if (afterOdd && cursor->rules->padOdd && room) {
        if (Chunk_ReadAt(cursor, pos, bytes, 9)) {
            if (TakePadded(cursor, bytes, pos)) {
                at = bytes + 1;
                header->pos = pos + 1;
            }
            memcpy(header->id, at, 4);
            header->size = Chunk_Get32(cursor->rules, at + 4);
            return 1;
        }
        // Where the file's size is known the 9 bytes are in it, and a
        // failed read is a failing disk; otherwise fewer than 9 are left,
        // and the 8 at pos are all there is.
        if (sized)
            return 0;
    }
    if (!Chunk_ReadAt(cursor, pos, bytes, 8))
        return 0;
    memcpy(header->id, at, 4);
    header->size = Chunk_Get32(cursor->rules, at + 4);
    return 1;
}

uint64_t Chunk_End(const ChunkHeader* header)
{
    return header->pos + 8 + uint64_t(header->size);
}

int Chunk_IsOdd(const ChunkCursor* cursor, const ChunkHeader* header)
{
    return cursor->rules->padOdd && (header->size & 1);
}

int32_t Chunk_IsTrailer(ChunkCursor* cursor, uint64_t pos, int afterOdd, uint64_t fileSize)
{
    cursor->fileSize = int64_t(fileSize);
    for (uint32_t n = 0; n < ChunkTrailerLimit; ++n) {
        if (pos == fileSize)
            return 1;
        if (afterOdd && fileSize - pos == 1)
            return 1;  // the pad byte of the last chunk
        if (pos > fileSize || fileSize - pos < 8)
            return 0;
        ChunkHeader header;
        if (!Chunk_ReadHeader(cursor, pos, afterOdd, &header))
            return -1;
        if (!Chunk_PlausibleId(header.id))
            return 0;
        uint64_t end = Chunk_End(&header);
        if (end > fileSize)
            return 0;
        pos = end;
        afterOdd = Chunk_IsOdd(cursor, &header);
    }
    // Still chunks: metadata, however odd. A repair would make it samples
    // and could cut its last bytes as a partial frame.
    return 1;
}

int Chunk_SameId(const uint8_t* id, const char* name)
{
    return memcmp(id, name, 4) == 0;
}

int Chunk_PlausibleId(const uint8_t* id)
{
    for (int i = 0; i < 4; ++i)
        if (id[i] < 0x20 || id[i] > 0x7E)
            return 0;
    return 1;
}

uint16_t Chunk_Get16(const ChunkRules* rules, const uint8_t* p)
{
    return rules->bigEndian ? uint16_t((p[0] << 8) | p[1]) : uint16_t(p[0] | (p[1] << 8));
}

uint32_t Chunk_Get32(const ChunkRules* rules, const uint8_t* p)
{
    if (rules->bigEndian)
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint64_t Chunk_Get64(const ChunkRules* rules, const uint8_t* p)
{
    uint64_t first = Chunk_Get32(rules, p);
    uint64_t second = Chunk_Get32(rules, p + 4);
    return rules->bigEndian ? (first << 32) | second : first | (second << 32);
}

void Chunk_Put32(const ChunkRules* rules, uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[rules->bigEndian ? 3 - i : i] = uint8_t(v >> (8 * i));
}

void Chunk_Put64(const ChunkRules* rules, uint8_t* p, uint64_t v)
{
    Chunk_Put32(rules, p + (rules->bigEndian ? 4 : 0), uint32_t(v));
    Chunk_Put32(rules, p + (rules->bigEndian ? 0 : 4), uint32_t(v >> 32));
}
