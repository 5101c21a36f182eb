// The one chunk walk of every container: header reads, the pad-byte
// tolerance, Wave64's GUIDs and alignment, and the trailer check.
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

// Wave64's chunk names (lower case, unlike RIFF's). Its GUIDs for them end
// in WaveTail; riff and list belong to an older family, and the marker and
// summary lists have GUIDs of their own. Some writers swap two bytes of the
// levl and bext GUIDs; those are named too.
const char* const Wave64Ids[] = {"fmt ", "data", "fact", "bext", "list", "junk", "levl", "mrkr", "smry",
                                 "iXML", "axml", "chna", "id3 ", "cue ", "PEAK", "umid", "cart", nullptr};
const uint8_t WaveTail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
const ChunkGuid Wave64Guids[] = {
    {{'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}, "riff"},
    {{'l', 'i', 's', 't', 0x2F, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}, "list"},
    {{'l', 'i', 's', 't', 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}, "list"},
    {{0x56, 0x62, 0xF7, 0xAB, 0x2D, 0x39, 0xD2, 0x11, 0x86, 0xC7, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A}, "mrkr"},
    {{0xBC, 0x94, 0x5F, 0x92, 0x5A, 0x52, 0xD2, 0x11, 0x86, 0xDC, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A}, "smry"},
    {{'l', 'e', 'v', 'l', 0xF3, 0xAC, 0xD3, 0x11, 0xD1, 0x8C, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A}, "levl"},
    {{'b', 'e', 'x', 't', 0xF3, 0xAC, 0xD3, 0xAA, 0xD1, 0x8C, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A}, "bext"},
    {{0}, ""},
};

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
    static const char* const structural[] = {"fmt ", "data", "ds64", "COMM", "SSND", "riff", nullptr};
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


// Where a header may start at or after pos: the next boundary where chunks
// are aligned. UINT64_MAX where none is left.
uint64_t Aligned(const ChunkRules* rules, uint64_t pos)
{
    const uint64_t a = rules->align > 1 ? rules->align : 1;
    const uint64_t rest = pos % a;
    if (rest == 0)
        return pos;
    return pos > UINT64_MAX - (a - rest) ? UINT64_MAX : pos + (a - rest);
}

// 1 when the file ends inside the pad byte or the alignment behind a body
// that ends at pos (afterOdd: one may follow): the bytes there are no chunk.
int PadOnly(const ChunkRules* rules, uint64_t pos, int afterOdd, uint64_t fileSize)
{
    if (fileSize <= pos)
        return 0;
    if (rules->padOdd)
        return afterOdd && fileSize - pos == 1;
    return fileSize <= Aligned(rules, pos);
}

// The id of the raw header bytes at p (idBytes of them) into id; 1 when it
// is an id a writer makes.
int IdOf(const ChunkRules* rules, const uint8_t* p, uint8_t id[4])
{
    memcpy(id, p, 4);
    if (rules->idBytes == 4)
        return Chunk_PlausibleId(id);
    if (rules->guidTail != nullptr && memcmp(p + 4, rules->guidTail, 12) == 0)
        return Chunk_PlausibleId(id);
    for (const ChunkGuid* g = rules->guids; g != nullptr && g->id[0] != '\0'; ++g)
        if (memcmp(p, g->guid, 16) == 0) {
            memcpy(id, g->id, 4);
            return 1;
        }
    return 0;
}

// Fills header from the raw header bytes read at pos.
void Decode(const ChunkRules* rules, const uint8_t* p, uint64_t pos, ChunkHeader* header)
{
    header->pos = pos;
    header->headBytes = Chunk_HeadBytes(rules);
    header->plausible = IdOf(rules, p, header->id);
    const uint8_t* sizeField = p + rules->idBytes;
    const uint64_t declared = rules->sizeBytes == 8 ? Chunk_Get64(rules, sizeField) : Chunk_Get32(rules, sizeField);
    header->undersized = declared < rules->sizeCounts;
    header->size = header->undersized ? 0 : declared - rules->sizeCounts;
}

}  // namespace

const ChunkRules ChunkRulesRiff = {0, 1, 1, RiffIds, 4, 4, 0, 1, nullptr, nullptr};
const ChunkRules ChunkRulesIff = {1, 1, 1, IffIds, 4, 4, 0, 1, nullptr, nullptr};
const ChunkRules ChunkRulesWave64 = {0, 0, 0, Wave64Ids, 16, 8, 24, 8, WaveTail, Wave64Guids};

const uint8_t ChunkWave64Riff[16] = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11,
                                     0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
const uint8_t ChunkWave64Wave[16] = {'w', 'a', 'v', 'e', 0xF3, 0xAC, 0xD3, 0x11,
                                     0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

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
    const ChunkRules* rules = cursor->rules;
    if (rules->align > 1) {
        // Aligned chunks leave no doubt where the next header starts.
        uint8_t raw[24];
        const uint64_t at = Aligned(rules, pos);
        if (at == UINT64_MAX || !Chunk_ReadAt(cursor, at, raw, Chunk_HeadBytes(rules)))
            return 0;
        Decode(rules, raw, at, header);
        return 1;
    }
    uint8_t bytes[9];
    const uint8_t* at = bytes;
    uint64_t headerPos = pos;
    const int sized = cursor->fileSize >= 0;
    const int room = !sized || (uint64_t(cursor->fileSize) > pos && uint64_t(cursor->fileSize) - pos >= 9);
    if (afterOdd && rules->padOdd && room) {
        if (Chunk_ReadAt(cursor, pos, bytes, 9)) {
            if (TakePadded(cursor, bytes, pos)) {
                at = bytes + 1;
                headerPos = pos + 1;
            }
            Decode(rules, at, headerPos, header);
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
    Decode(rules, at, headerPos, header);
    return 1;
}

uint32_t Chunk_HeadBytes(const ChunkRules* rules)
{
    return rules->idBytes + rules->sizeBytes;
}

uint64_t Chunk_End(const ChunkHeader* header)
{
    const uint64_t body = header->pos + header->headBytes;
    return header->size > UINT64_MAX - body ? UINT64_MAX : body + header->size;
}

int Chunk_OddEnd(const ChunkRules* rules, uint64_t body, uint64_t bodyBytes)
{
    if (rules->padOdd)
        return int(bodyBytes & 1);
    return rules->align > 1 && (body + bodyBytes) % rules->align != 0;
}

int Chunk_IsOdd(const ChunkCursor* cursor, const ChunkHeader* header)
{
    return Chunk_OddEnd(cursor->rules, header->pos + header->headBytes, header->size);
}

int32_t Chunk_IsTrailer(ChunkCursor* cursor, uint64_t pos, int afterOdd, uint64_t fileSize)
{
    const ChunkRules* rules = cursor->rules;
    const uint32_t head = Chunk_HeadBytes(rules);
    cursor->fileSize = int64_t(fileSize);
    for (uint32_t n = 0; n < ChunkTrailerLimit; ++n) {
        if (pos == fileSize)
            return 1;
        if (PadOnly(rules, pos, afterOdd, fileSize))
            return 1;  // the pad byte or alignment of the last chunk
        const uint64_t at = Aligned(rules, pos);
        if (at >= fileSize || fileSize - at < head)
            return 0;
        ChunkHeader header;
        if (!Chunk_ReadHeader(cursor, pos, afterOdd, &header))
            return -1;
        if (!header.plausible || header.undersized)
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
    const ChunkRules* rules = cursor->rules;
    if (pos >= fileSize)
        return ChunkFollowNothing;
    if (PadOnly(rules, pos, afterOdd, fileSize)) {
        if (rules->padOdd)
            return ChunkFollowPad;
        // Alignment that writers fill with zeros; other bytes there may be
        // a frame the header does not declare.
        uint8_t pad[8];
        const uint32_t n = uint32_t(fileSize - pos);
        if (n > sizeof(pad) || !Chunk_ReadAt(cursor, pos, pad, n))
            return n > sizeof(pad) ? ChunkFollowNothing : -1;
        for (uint32_t i = 0; i < n; ++i)
            if (pad[i] != 0)
                return ChunkFollowNothing;
        return ChunkFollowPad;
    }
    const int32_t trailer = Chunk_IsTrailer(cursor, pos, afterOdd, fileSize);
    if (trailer != 0)
        return trailer < 0 ? -1 : ChunkFollowChunks;
    // A chunk that writers put behind samples, whole in the file: whatever
    // a broken writer left after it (a tag stub without its size), the
    // samples end where it begins. Sample bytes match such an id and a size
    // that fits about once in 2^32 / 40.
    const uint64_t at = Aligned(rules, pos);
    if (at >= fileSize || fileSize - at < Chunk_HeadBytes(rules))
        return ChunkFollowNothing;
    ChunkHeader header;
    if (!Chunk_ReadHeader(cursor, pos, afterOdd, &header))
        return -1;
    return header.plausible && !header.undersized && TrailerId(rules, header.id) && Chunk_End(&header) <= fileSize
               ? ChunkFollowChunks
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
    const ChunkRules* rules = cursor->rules;
    int afterOdd = 0;
    for (uint32_t n = 0; n < ChunkTrailerLimit; ++n) {
        if (pos == fileSize || PadOnly(rules, pos, afterOdd, fileSize))
            return n > 0;
        const uint64_t at = Aligned(rules, pos);
        if (at >= fileSize || fileSize - at < Chunk_HeadBytes(rules) || *budget == 0)
            return 0;
        *budget -= 1;
        ChunkHeader header;
        if (!Chunk_ReadHeader(cursor, pos, afterOdd, &header))
            return -1;
        if (!header.plausible || header.undersized || Chunk_End(&header) > fileSize)
            return 0;
        pos = Chunk_End(&header);
        afterOdd = Chunk_IsOdd(cursor, &header);
    }
    return 0;
}

// Where samples end that a trailer found at p follows: before the padding
// that the container puts behind a body (a zero pad byte after an odd body;
// zeros up to the alignment, as many as there are, since writers pad with
// zeros), else at p; always a whole number of frames behind the first
// sample byte. block holds the file's bytes from start. 0 when none.
int SamplesEndBefore(const ChunkRules* rules, const ChunkSamples* s, const uint8_t* block, uint64_t start, uint64_t p,
                     uint64_t* end)
{
    const uint32_t frame = s->frameBytes;
    if (rules->padOdd) {
        // Writers make the pad byte zero, which a last sample rarely is.
        const uint64_t e = p - 1;
        if (p > s->lowest && (e - s->first) % frame == 0 && ((e - s->body) & 1) &&
            (e < start || block[e - start] == 0)) {
            *end = e;
            return 1;
        }
    } else if (rules->align > 1) {
        int found = 0;
        for (uint64_t e = p;; --e) {
            if ((e - s->first) % frame == 0) {
                *end = e;
                found = 1;
            }
            if (e <= s->lowest || p - e >= rules->align - 1 || e <= start || block[e - 1 - start] != 0)
                return found;
        }
    }
    if ((p - s->first) % frame != 0)
        return 0;
    *end = p;
    return 1;
}

}  // namespace

// The rule: the samples end at the first position p, counted back from the
// end of the file, where
//   - p lies a whole number of frames behind the first sample byte, or
//     behind such a position by the padding the container puts after a
//     body (SamplesEndBefore);
//   - p holds a chunk header whose id writers put behind samples (TrailerId),
//     at a boundary where chunks are aligned;
//   - from p, chunks with ids writers make, each fitting in the file, follow
//     one another (pad bytes as Chunk_ReadHeader takes them) up to exactly
//     the end of the file or its last padding.
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
    const ChunkRules* rules = cursor->rules;
    const uint64_t size = samples->fileSize;
    const uint32_t frame = samples->frameBytes;
    const uint32_t head = Chunk_HeadBytes(rules);
    if (frame == 0 || samples->lowest >= size || samples->first > samples->lowest || samples->body > samples->first)
        return 0;
    uint64_t low = samples->lowest;
    if (size - low > ChunkTrailerSearchBytes)
        low = size - ChunkTrailerSearchBytes;
    // Bytes more than the block, so that an id at the block's last bytes is whole.
    const uint32_t idRest = rules->idBytes - 1;
    uint8_t* block = static_cast<uint8_t*>(malloc(TrailerBlockBytes + idRest));
    if (block == nullptr)
        return 0;
    int32_t found = 0;
    uint32_t budget = TrailerReadBudget;
    cursor->fileSize = int64_t(size);
    for (uint64_t end = size; end > low && found >= 0;) {
        const uint64_t start = end - low > TrailerBlockBytes ? end - TrailerBlockBytes : low;
        const uint64_t readEnd = size - end >= idRest ? end + idRest : size;
        if (!Chunk_ReadAt(cursor, start, block, uint32_t(readEnd - start))) {
            found = -1;
            break;
        }
        for (uint64_t p = end; p-- > start;) {
            // A header needs head bytes; the id's are in the block.
            uint8_t id[4];
            if (size - p < head || (rules->align > 1 && p % rules->align != 0) ||
                !IdOf(rules, block + (p - start), id) || !TrailerId(rules, id))
                continue;
            uint64_t candidate = 0;
            if (!SamplesEndBefore(rules, samples, block, start, p, &candidate))
                continue;
            const int32_t chain = ChainToEnd(cursor, p, size, &budget);
            if (chain < 0) {
                found = -1;
                break;
            }
            if (chain == 1) {
                found = 1;
                *samplesEnd = candidate;
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
    const ChunkRules* rules = cursor->rules;
    const uint32_t head = Chunk_HeadBytes(rules);
    const uint64_t at = Aligned(rules, pos);
    if (at < UINT64_MAX - head && at + head > ChunkPositionLimit && at + head <= fileSize) {
        Stream_Refuse(refusal, 0, SoundReasonTooFar, at, 0, nullptr);
        return 0;
    }
    if (at >= fileSize || fileSize - at < head) {
        if (prev != nullptr && pos > fileSize)
            Stream_Refuse(refusal, 0, SoundReasonNoDataPast, prev->pos, Chunk_Size32(prev->size), prev->id);
        else
            Stream_Refuse(refusal, 0, SoundReasonNoDataEnd, pos, 0, nullptr);
        return 0;
    }
    if (!Chunk_ReadHeader(cursor, pos, afterOdd, header)) {
        // Where the size is not known, the end of the file is what ends a walk.
        Stream_Refuse(refusal, 0, fileSize == UINT64_MAX ? SoundReasonNoDataEnd : SoundReasonReadFailed, pos, 0,
                      nullptr);
        return 0;
    }
    if (header->pos + head > ChunkPositionLimit) {
        Stream_Refuse(refusal, 0, SoundReasonTooFar, header->pos, 0, nullptr);
        return 0;
    }
    static const uint8_t zeros[4] = {0, 0, 0, 0};
    const int zero = memcmp(header->id, zeros, 4) == 0 && header->size == 0;
    if (rules->printableIds && !header->plausible) {
        Stream_Refuse(refusal, 0, zero ? SoundReasonNoDataZeros : SoundReasonNoDataId, header->pos, 0, header->id);
        return 0;
    }
    // A size below its own header would not move the walk on; the chunk
    // sought may still be one whose size a writer has yet to set.
    if (header->undersized && !Chunk_SameId(header->id, reinterpret_cast<const char*>(refusal->sought))) {
        Stream_Refuse(refusal, 0, zero ? SoundReasonNoDataZeros : SoundReasonChunkSize, header->pos, 0, header->id);
        return 0;
    }
    return 1;
}

uint32_t Chunk_Size32(uint64_t size)
{
    return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(size);
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
