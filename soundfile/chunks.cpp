// The one chunk walk of both containers: header reads, the pad-byte
// tolerance and the trailer check.
#include "chunks.h"

#include <stdlib.h>
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

// An id writers put behind their samples: a known one, but none of those
// that carry a file's format or samples, which never stand there.
int TrailerId(const ChunkRules* rules, const uint8_t* id)
{
    static const char* const structural[] = {"fmt ", "data", "ds64", "COMM", "SSND", nullptr};
    for (const char* const* k = structural; *k != nullptr; ++k)
        if (Chunk_SameId(id, *k))
            return 0;
    return Known(rules, id);
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

const ChunkRules ChunkRulesRiff = {0, 1, 1, RiffIds};
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

int Chunk_Begin(ChunkCursor* cursor, FileHandle handle, const ChunkRules* rules, const FileStamp* measured,
                uint8_t header[12], uint64_t* fileSize, StreamRefusal* refusal)
{
    ChunkCursor_Init(cursor, handle, rules, 0);
    *fileSize = measured->size > 0 ? uint64_t(measured->size) : UINT64_MAX;
    if (!Chunk_ReadHead(cursor))
        return Stream_Refuse(refusal, 0, SoundReasonReadFailed, 0, 0, nullptr);
    if (cursor->headLength == 0)
        return Stream_Refuse(refusal, 0, SoundReasonEmpty, 0, 0, nullptr);
    if (cursor->headLength < 12 || !Chunk_ReadAt(cursor, 0, header, 12))
        return Stream_Refuse(refusal, 0, SoundReasonTruncated, 0, cursor->headLength, cursor->head);
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

int32_t Chunk_FollowsAt(ChunkCursor* cursor, uint64_t pos, int afterOdd, uint64_t fileSize)
{
    if (pos >= fileSize)
        return ChunkFollowNothing;
    if (afterOdd && cursor->rules->padOdd && fileSize - pos == 1)
        return ChunkFollowPad;
    const int32_t trailer = Chunk_IsTrailer(cursor, pos, afterOdd, fileSize);
    if (trailer != 0)
        return trailer < 0 ? -1 : ChunkFollowChunks;
    // A chunk that writers put behind samples, whole in the file: whatever
    // a broken writer left after it (a tag stub without its size), the
    // samples end where it begins. Sample bytes match such an id and a size
    // that fits about once in 2^32 / 40.
    if (fileSize - pos < 8)
        return ChunkFollowNothing;
    ChunkHeader header;
    if (!Chunk_ReadHeader(cursor, pos, afterOdd, &header))
        return -1;
    return TrailerId(cursor->rules, header.id) && Chunk_End(&header) <= fileSize ? ChunkFollowChunks
                                                                                  : ChunkFollowNothing;
}

namespace {

// Bytes of the tail read at a time by Chunk_FindTrailer.
const uint32_t TrailerBlockBytes = 1u << 20;
// Chunk headers Chunk_FindTrailer reads in all: a real tail offers a few
// candidates; a hostile one (the id "LIST" at every frame) must not cost
// millions of reads.
const uint32_t TrailerReadBudget = 4096;

// 1 when the chunks from pos (the first one read at pos exactly) run to the
// end of the file, or to its last pad byte; 0 when not; -1 when a read
// failed. *budget counts the headers read.
int32_t ChainToEnd(ChunkCursor* cursor, uint64_t pos, uint64_t fileSize, uint32_t* budget)
{
    int afterOdd = 0;
    for (uint32_t n = 0; n < ChunkTrailerLimit; ++n) {
        if (pos == fileSize || (afterOdd && fileSize - pos == 1))
            return n > 0;
        if (pos > fileSize || fileSize - pos < 8 || *budget == 0)
            return 0;
        *budget -= 1;
        ChunkHeader header;
        if (!Chunk_ReadHeader(cursor, pos, afterOdd, &header))
            return -1;
        if (!Chunk_PlausibleId(header.id) || Chunk_End(&header) > fileSize)
            return 0;
        pos = Chunk_End(&header);
        afterOdd = Chunk_IsOdd(cursor, &header);
    }
    return 0;
}

}  // namespace

// The rule: the samples end at the first position p, counted back from the
// end of the file, where
//   - p lies a whole number of frames behind the first sample byte, or one
//     pad byte more where that number of bytes leaves the chunk's body odd
//     (the pad byte then ends the samples' chunk);
//   - p holds a chunk header whose id writers put behind samples (TrailerId);
//   - from p, chunks with printable ids, each fitting in the file, follow
//     one another (pad bytes as Chunk_ReadHeader takes them) up to exactly
//     the end of the file or its last pad byte.
// Of several such positions the lowest wins: a LIST whose sub-chunks also
// run to the end of the file starts the metadata, not its first sub-chunk.
// Limits: only the last ChunkTrailerSearchBytes are searched, so a larger
// trailer is taken for samples, as before this search existed; a chain
// that sample bytes happen to form needs a known id at a frame boundary and
// sizes that land exactly on the end of the file, which audio does not
// give; a hostile file may exhaust TrailerReadBudget, and is then taken as
// having no trailer.
int32_t Chunk_FindTrailer(ChunkCursor* cursor, const ChunkSamples* samples, uint64_t* samplesEnd)
{
    const uint64_t size = samples->fileSize;
    const uint32_t frame = samples->frameBytes;
    if (frame == 0 || samples->lowest >= size || samples->first > samples->lowest || samples->body > samples->first)
        return 0;
    uint64_t low = samples->lowest;
    if (size - low > ChunkTrailerSearchBytes)
        low = size - ChunkTrailerSearchBytes;
    uint8_t* block = static_cast<uint8_t*>(malloc(TrailerBlockBytes + 3));
    if (block == nullptr)
        return 0;
    int32_t found = 0;
    uint32_t budget = TrailerReadBudget;
    cursor->fileSize = int64_t(size);
    for (uint64_t end = size; end > low && found >= 0;) {
        const uint64_t start = end - low > TrailerBlockBytes ? end - TrailerBlockBytes : low;
        // Three bytes more, so that an id at the block's last bytes is whole.
        const uint64_t readEnd = size - end >= 3 ? end + 3 : size;
        if (!Chunk_ReadAt(cursor, start, block, uint32_t(readEnd - start))) {
            found = -1;
            break;
        }
        for (uint64_t p = end; p-- > start;) {
            // A header needs 8 bytes; the id's 4 are in the block.
            if (size - p < 8 || !TrailerId(cursor->rules, block + (p - start)))
                continue;
            const uint64_t whole = p - samples->first;
            // The pad byte of an odd body: writers make it zero, which a
            // last sample rarely is.
            const int padded = cursor->rules->padOdd && p > samples->lowest && (whole - 1) % frame == 0 &&
                               ((p - 1 - samples->body) & 1) && (p - 1 < start || block[p - 1 - start] == 0);
            if (!padded && whole % frame != 0)
                continue;
            const int32_t chain = ChainToEnd(cursor, p, size, &budget);
            if (chain < 0) {
                found = -1;
                break;
            }
            if (chain == 1) {
                found = 1;
                *samplesEnd = padded ? p - 1 : p;
            }
        }
        end = start;
    }
    free(block);
    return found;
}

int Chunk_Next(ChunkCursor* cursor, uint64_t pos, int afterOdd, uint64_t fileSize, const ChunkHeader* prev,
               ChunkHeader* header, StreamRefusal* refusal)
{
    if (pos + 8 > ChunkPositionLimit && pos + 8 <= fileSize) {
        Stream_Refuse(refusal, 0, SoundReasonTooFar, pos, 0, nullptr);
        return 0;
    }
    if (pos >= fileSize || fileSize - pos < 8) {
        if (prev != nullptr && pos > fileSize)
            Stream_Refuse(refusal, 0, SoundReasonNoDataPast, prev->pos, prev->size, prev->id);
        else
            Stream_Refuse(refusal, 0, SoundReasonNoDataEnd, pos, 0, nullptr);
        return 0;
    }
    if (!Chunk_ReadHeader(cursor, pos, afterOdd, header)) {
        // Where the size is not known, the end of the file is what ends a walk.
        Stream_Refuse(refusal, 0, fileSize == UINT64_MAX ? SoundReasonNoDataEnd : SoundReasonReadFailed, pos, 0, nullptr);
        return 0;
    }
    if (header->pos + 8 > ChunkPositionLimit) {
        Stream_Refuse(refusal, 0, SoundReasonTooFar, header->pos, 0, nullptr);
        return 0;
    }
    if (cursor->rules->printableIds && !Chunk_PlausibleId(header->id)) {
        static const uint8_t zeros[4] = {0, 0, 0, 0};
        const int zero = memcmp(header->id, zeros, 4) == 0 && header->size == 0;
        Stream_Refuse(refusal, 0, zero ? SoundReasonNoDataZeros : SoundReasonNoDataId, header->pos, 0, header->id);
        return 0;
    }
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
