// The header rewrite and its undo in the order that survives a crash
// (rules C1 to C4 in commit.h).
#include "commit.h"

namespace {

int WriteField(FileHandle handle, const HeaderField* field)
{
    return File_SeekTo(handle, field->pos) && File_WriteExact(handle, field->bytes, field->length);
}

int WriteFields(FileHandle handle, const HeaderField* fields, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        if (!WriteField(handle, &fields[i]))
            return 0;
    return count == 0 || File_Flush(handle);
}

}  // namespace

int Commit_Cut(FileHandle handle, const HeaderField* fields, uint32_t count, const HeaderField* last, int64_t cutAt,
               const FileStamp* examined)
{
    if (!WriteFields(handle, fields, count))
        return 0;
    if (last != nullptr && !(WriteField(handle, last) && File_Flush(handle)))
        return 0;
    // Nothing to cut (the take ends on a whole frame): a truncate could only
    // take what a recorder appended since, where no lease tells of it.
    if (cutAt >= examined->size)
        return 1;
    // The writes above changed the time of last change: length and lease tell.
    return File_Unchanged(handle, examined, 0) && File_SeekTo(handle, cutAt) && File_Truncate(handle);
}

int Commit_Header(FileHandle handle, const HeaderField* fields, uint32_t count, const HeaderField* last)
{
    return WriteFields(handle, fields, count) && WriteField(handle, last) && File_Flush(handle);
}

int Commit_Restore(FileHandle handle, const HeaderField* tail, int64_t cutAt, const HeaderField* header)
{
    if (!WriteField(handle, tail))
        return 0;
    if (cutAt >= 0 && !(File_SeekTo(handle, cutAt) && File_Truncate(handle)))
        return 0;
    return File_Flush(handle) && WriteField(handle, header) && File_Flush(handle);
}

uint32_t Commit_Describe(const HeaderField* fields, uint32_t count, StreamChange* changes, uint32_t at)
{
    for (uint32_t i = 0; i < count && at < StreamChangeCapacity; ++i) {
        if (fields[i].length > StreamChangeBytes)
            continue;
        StreamChange* c = &changes[at++];
        Mem_Zero(c, sizeof(*c));
        c->pos = fields[i].pos;
        c->length = fields[i].length;
        Mem_Copy(c->bytes, fields[i].bytes, fields[i].length);
    }
    return at;
}

int Commit_Zeros(FileHandle handle, uint64_t count)
{
    static const uint8_t zeros[512] = {0};
    while (count > 0) {
        uint32_t n = count < sizeof(zeros) ? uint32_t(count) : uint32_t(sizeof(zeros));
        if (!File_WriteExact(handle, zeros, n))
            return 0;
        count -= n;
    }
    return 1;
}
