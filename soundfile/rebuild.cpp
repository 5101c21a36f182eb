// Rebuilding a take from a sibling: what the sibling says of the format,
// the new header, and the copy into a file that appears under its name only
// once it is complete.
#include "rebuild.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "soundfile.h"

namespace {

const uint64_t Field32 = 0xFFFFFFFFull;
// The FVER body every AIFF-C writer puts: the version of May 1990.
const uint8_t AifcVersion1[4] = {0xA2, 0x80, 0x51, 0x40};
// Body bytes of a ds64 chunk without a table.
const uint32_t Ds64Bytes = 28;
// Tries at a free temporary name before the copy gives up.
const int TemporaryTries = 100;

int32_t Refuse(char* reason, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(reason, RebuildReasonCapacity, format, args);
    va_end(args);
    return RebuildRefused;
}

// Reads a chunk body of up to capacity bytes at pos; its size is kept in *length.
int ReadBody(ChunkCursor* cursor, const ChunkHeader* h, uint8_t* out, uint32_t* length, char* reason)
{
    if (h->size > RebuildFormatCapacity) {
        Refuse(reason, "its %.4s chunk of %u bytes is none a recorder writes", reinterpret_cast<const char*>(h->id),
               unsigned(h->size));
        return 0;
    }
    if (!Chunk_ReadAt(cursor, h->pos + 8, out, h->size)) {
        Refuse(reason, "cannot read its %.4s chunk", reinterpret_cast<const char*>(h->id));
        return 0;
    }
    *length = h->size;
    return 1;
}

// The fmt body of a WAV sibling, and what it says of the samples.
int32_t WavTemplate(RebuildTemplate* t, SoundFile* file)
{
    const WavStream* w = &file->wav;
    ChunkCursor cursor;
    ChunkCursor_Init(&cursor, w->handle, &ChunkRulesRiff, ChunkPosUnknown);
    uint64_t pos = 12;
    int afterOdd = 0;
    // Each round moves on by 8 bytes at least; the data chunk ends the
    // walk. As for the reader, the last fmt chunk is the one that counts.
    while (pos + 8 < w->dataOffset) {
        ChunkHeader h;
        if (!Chunk_ReadHeader(&cursor, pos, afterOdd, &h))
            return Refuse(t->reason, "cannot read its chunks");
        if (Chunk_SameId(h.id, "fmt ") && !ReadBody(&cursor, &h, t->format, &t->formatLength, t->reason))
            return RebuildBadTemplate;
        pos = Chunk_End(&h);
        afterOdd = Chunk_IsOdd(&cursor, &h);
    }
    if (t->formatLength < 16)
        return Refuse(t->reason, "its fmt chunk was not found");
    if (Chunk_Get16(&ChunkRulesRiff, t->format + 2) != w->channels ||
        Chunk_Get16(&ChunkRulesRiff, t->format + 12) != w->blockAlign)
        return Refuse(t->reason, "its fmt chunk is not the one its reader took");
    uint16_t tag = w->formatTag;
    if (tag == 0xFFFE && t->formatLength >= 26)
        tag = Chunk_Get16(&ChunkRulesRiff, t->format + 24);  // the subformat
    if (tag != 1 && tag != 3)
        return Refuse(t->reason, "it is compressed (format 0x%04X)", unsigned(tag));
    t->container = (w->flags & WavFlagRf64) ? RebuildRf64 : RebuildWav;
    t->hasFact = w->factOffset != 0 || tag == 3;
    t->layout.encoding = tag == 3 ? SampleEncodingFloat
                                  : (w->blockAlign == w->channels ? SampleEncodingUnsigned8 : SampleEncodingInteger);
    t->layout.bigEndian = 0;
    return RebuildOk;
}

// The COMM (and FVER) body of an AIFF sibling.
int32_t AiffTemplate(RebuildTemplate* t, SoundFile* file)
{
    const AiffStream* a = &file->aiff;
    ChunkCursor cursor;
    ChunkCursor_Init(&cursor, a->handle, &ChunkRulesIff, ChunkPosUnknown);
    ChunkHeader h;
    if (!Chunk_ReadHeader(&cursor, a->commOffset - 8, 0, &h) || !ReadBody(&cursor, &h, t->format, &t->formatLength, t->reason))
        return t->reason[0] ? RebuildBadTemplate : Refuse(t->reason, "cannot read its COMM chunk");
    memcpy(t->version, AifcVersion1, 4);
    uint64_t pos = 12;
    int afterOdd = 0;
    while (pos + 8 < a->dataOffset) {
        if (!Chunk_ReadHeader(&cursor, pos, afterOdd, &h) || !Chunk_PlausibleId(h.id))
            break;
        if (Chunk_SameId(h.id, "FVER") && h.size == 4) {
            if (!Chunk_ReadAt(&cursor, h.pos + 8, t->version, 4))
                return Refuse(t->reason, "cannot read its FVER chunk");
            break;
        }
        pos = Chunk_End(&h);
        afterOdd = Chunk_IsOdd(&cursor, &h);
    }
    t->container = (a->flags & AiffFlagAifc) ? RebuildAifc : RebuildAiff;
    t->layout.encoding = a->sampleEncoding;
    t->layout.bigEndian = a->sampleOrder == AiffOrderBig;
    return RebuildOk;
}

struct HeaderWriter {
    uint8_t* at;
    const ChunkRules* rules;
    void Id(const char* id) { memcpy(at, id, 4); at += 4; }
    void U32(uint32_t v) { Chunk_Put32(rules, at, v); at += 4; }
    void U64(uint64_t v) { Chunk_Put64(rules, at, v); at += 8; }
    void Raw(const uint8_t* b, uint32_t n) { memcpy(at, b, n); at += n; }
    void Zeros(uint32_t n) { memset(at, 0, n); at += n; }
};

int32_t WavHeader(const RebuildTemplate* t, RebuildShape* s)
{
    const uint64_t frames = s->sampleBytes / t->blockAlign;
    const uint32_t fmtPad = t->formatLength & 1;
    const uint32_t plain = 12 + 8 + t->formatLength + fmtPad + (t->hasFact ? 12 : 0) + 8;
    int rf64 = t->container == RebuildRf64;
    uint64_t total = plain + (rf64 ? 8 + Ds64Bytes : 0) + s->sampleBytes + s->padBytes + s->trailerBytes;
    // 0xFFFFFFFF in a size field reads as "unknown" to some readers: RF64 then.
    if (!rf64 && (total - 8 >= Field32 || s->sampleBytes >= Field32)) {
        rf64 = 1;
        total += 8 + Ds64Bytes;
    }
    HeaderWriter w = {s->header, &ChunkRulesRiff};
    w.Id(rf64 ? "RF64" : "RIFF");
    w.U32(rf64 ? uint32_t(Field32) : uint32_t(total - 8));
    w.Id("WAVE");
    if (rf64) {
        w.Id("ds64");
        w.U32(Ds64Bytes);
        w.U64(total - 8);
        w.U64(s->sampleBytes);
        w.U64(frames);
        w.U32(0);  // no table
    }
    w.Id("fmt ");
    w.U32(t->formatLength);
    w.Raw(t->format, t->formatLength);
    w.Zeros(fmtPad);
    if (t->hasFact) {
        w.Id("fact");
        w.U32(4);
        w.U32(frames < Field32 ? uint32_t(frames) : uint32_t(Field32));
    }
    w.Id("data");
    w.U32(rf64 ? uint32_t(Field32) : uint32_t(s->sampleBytes));
    s->headerLength = uint32_t(w.at - s->header);
    s->totalBytes = total;
    return RebuildOk;
}

int32_t AiffHeader(const RebuildTemplate* t, RebuildShape* s)
{
    const int aifc = t->container == RebuildAifc;
    const uint64_t frames = s->sampleBytes / t->blockAlign;
    const uint32_t commPad = t->formatLength & 1;
    const uint32_t length = 12 + (aifc ? 12 : 0) + 8 + t->formatLength + commPad + 16;
    const uint64_t total = length + s->sampleBytes + s->padBytes + s->trailerBytes;
    if (total - 8 > Field32 || frames > Field32 || s->sampleBytes + 8 > Field32)
        return RebuildRefused;
    HeaderWriter w = {s->header, &ChunkRulesIff};
    w.Id("FORM");
    w.U32(uint32_t(total - 8));
    w.Id(aifc ? "AIFC" : "AIFF");
    if (aifc) {
        w.Id("FVER");
        w.U32(4);
        w.Raw(t->version, 4);
    }
    w.Id("COMM");
    w.U32(t->formatLength);
    uint8_t* comm = w.at;
    w.Raw(t->format, t->formatLength);
    Chunk_Put32(&ChunkRulesIff, comm + 2, uint32_t(frames));
    w.Zeros(commPad);
    w.Id("SSND");
    w.U32(uint32_t(s->sampleBytes + 8));
    w.U32(0);  // offset
    w.U32(0);  // block size
    s->headerLength = uint32_t(w.at - s->header);
    s->totalBytes = total;
    return RebuildOk;
}

int32_t ReadFromFile(void* context, uint64_t pos, uint8_t* buffer, uint32_t count)
{
    const FileHandle handle = *static_cast<const FileHandle*>(context);
    return pos <= uint64_t(INT64_MAX) && File_SeekTo(handle, int64_t(pos)) && File_ReadExact(handle, buffer, count)
               ? 0
               : -1;
}

// Copies the data stretches of [from, to) of src to dst at dstAt, passing
// over holes. 1 when done; 0 when a read or write failed, -1 when stopped.
int32_t CopySparse(RebuildJob* job, FileHandle src, uint64_t from, uint64_t to, FileHandle dst, uint64_t dstAt,
                   void* buffer, uint64_t* done, uint64_t total)
{
    uint64_t pos = from;
    while (pos < to) {
        int64_t start = 0, end = 0;
        if (!File_NextData(src, int64_t(pos), int64_t(to), &start, &end))
            return 0;
        if (uint64_t(start) >= to || end <= start)
            break;
        for (uint64_t at = uint64_t(start); at < uint64_t(end);) {
            const uint64_t left = uint64_t(end) - at;
            const uint32_t piece = left < RebuildCopyPiece ? uint32_t(left) : RebuildCopyPiece;
            const int64_t to = int64_t(dstAt + (at - from));
            if (!File_CopyRange(src, int64_t(at), dst, to, piece, buffer, RebuildBufferBytes))
                return 0;
            // The disk writes while the copy goes on: the flush before the
            // rename then waits for the last piece only.
            File_StartWriteback(dst, to, piece);
            at += piece;
            *done += piece;
            if (job->progress != nullptr && job->progress(job->progressContext, *done, total) != 0)
                return -1;
        }
        // A stretch always ends further on than it starts: the walk moves.
        pos = uint64_t(end);
    }
    return 1;
}

// A free temporary name beside the output, created: 1 with *handle open.
int CreateTemporary(const RebuildJob* job, char* temporary, uint32_t capacity, FileHandle* handle)
{
    const int folderLength = int(job->outputName - job->outputPath);
    for (int i = 0; i < TemporaryTries; ++i) {
        const int n = i == 0 ? snprintf(temporary, capacity, "%.*s.%s.part", folderLength, job->outputPath, job->outputName)
                             : snprintf(temporary, capacity, "%.*s.%s.%d.part", folderLength, job->outputPath,
                                        job->outputName, i);
        if (n < 0 || uint32_t(n) >= capacity)
            return 0;
        if (File_Open(temporary, FileModeWriteNew, handle, 128))
            return 1;
        if (File_LastOpenFailure() != FileOpenFailExists)
            return 0;
    }
    return 0;
}

int32_t WriteOutput(RebuildJob* job, FileHandle src, const RebuildShape* shape)
{
    char temporary[StreamPathCapacity];
    FileHandle dst = FileHandleNone;
    if (!CreateTemporary(job, temporary, sizeof(temporary), &dst))
        return Refuse(job->reason, "cannot create a file beside %s (%s)", job->outputName,
                      File_OpenFailureText(File_LastOpenFailure()));
    void* buffer = Mem_Alloc(RebuildBufferBytes);
    const uint64_t total = shape->sampleBytes + shape->trailerBytes;
    uint64_t done = 0;
    int32_t copied = 0;
    int ok = buffer != nullptr && File_AllowHoles(dst) && File_SeekTo(dst, 0) &&
             File_WriteExact(dst, shape->header, shape->headerLength);
    if (ok) {
        copied = CopySparse(job, src, job->start, job->samplesEnd, dst, shape->headerLength, buffer, &done, total);
        ok = copied == 1;
    }
    const uint64_t trailerAt = shape->headerLength + shape->sampleBytes + shape->padBytes;
    if (ok && shape->padBytes > 0) {
        const uint8_t zero = 0;
        ok = File_SeekTo(dst, int64_t(trailerAt - 1)) && File_WriteExact(dst, &zero, 1);
    }
    if (ok && shape->trailerBytes > 0) {
        copied = CopySparse(job, src, job->samplesEnd, job->samplesEnd + shape->trailerBytes, dst, trailerAt, buffer,
                            &done, total);
        ok = copied == 1;
    }
    // The length, so that a hole at the end is kept; then the disk has it all.
    ok = ok && File_SeekTo(dst, int64_t(shape->totalBytes)) && File_Truncate(dst) && File_Flush(dst);
    Mem_Free(buffer);
    ok = File_Close(dst) && ok;
    int exists = 0;
    if (ok && File_RenameNoReplace(temporary, job->outputPath, &exists))
        return RebuildOk;
    File_Remove(temporary);
    if (exists)
        return Refuse(job->reason, "%s exists", job->outputName);
    if (copied < 0)
        return Refuse(job->reason, "interrupted");
    return Refuse(job->reason, ok ? "cannot rename the new file to %s" : "writing %s failed (a full disk?)",
                  job->outputName);
}

// Where the samples start and end, and whether their bytes read as audio.
int32_t Examine(RebuildJob* job, FileHandle src)
{
    const RebuildTemplate* t = job->sibling;
    const uint64_t size = uint64_t(job->fileSize);
    const uint64_t nominal = job->offset >= 0 ? uint64_t(job->offset) : t->dataOffset;
    if (nominal >= size)
        return Refuse(job->reason, "no samples behind byte %llu", static_cast<unsigned long long>(nominal));
    AlignScore* score = &job->score;
    score->layout = t->layout;
    score->nominalStart = nominal;
    score->end = size;
    score->read = ReadFromFile;
    score->context = &src;
    const int32_t verdict = AlignScore_Run(score);
    score->context = nullptr;
    if (verdict == AlignReadFailed)
        return Refuse(job->reason, "cannot read it");
    if (verdict == AlignOtherLayout || verdict == AlignNoAudio || verdict == AlignBadLayout) {
        if (verdict == AlignOtherLayout)
            Refuse(job->reason, "its bytes read as %d-bit %d ch, not as the template's %d-bit %d ch",
                   int(score->other.sampleBytes * 8), int(score->other.channels), int(t->layout.sampleBytes * 8),
                   int(t->layout.channels));
        else
            Refuse(job->reason, "no alignment reads like audio (zeros, noise or too short)");
        if (!job->force)
            return RebuildRefused;
        job->warned = 1;
    }
    job->start = score->start;
    // Only a frame start the recorder's own layout vouches for tells channel 1.
    job->channelOrderGuess = t->layout.channels > 1 && (job->offset >= 0 || score->phase != 0);

    ChunkCursor cursor;
    ChunkCursor_Init(&cursor, src, t->container >= RebuildAiff ? &ChunkRulesIff : &ChunkRulesRiff, ChunkPosUnknown);
    uint64_t samplesEnd = size;
    // Metadata written behind the samples, found as the scan finds it.
    const ChunkSamples samples = {job->start, job->start, job->start, size, t->blockAlign};
    const int32_t trailer = Chunk_FindTrailer(&cursor, &samples, &samplesEnd);
    if (trailer < 0)
        return Refuse(job->reason, "cannot read it");
    if (trailer == 1 && samplesEnd >= job->start && samplesEnd <= size && (samplesEnd - job->start) % t->blockAlign == 0) {
        job->trailerBytes = size - samplesEnd;
    } else {
        samplesEnd = job->start + (size - job->start) / t->blockAlign * t->blockAlign;
        job->trailerBytes = 0;
    }
    job->samplesEnd = samplesEnd;
    job->frames = int64_t((samplesEnd - job->start) / t->blockAlign);
    job->durationMs = SoundFile_DurationMs(job->frames, t->sampleRate);
    if (job->frames == 0)
        return Refuse(job->reason, "no whole frame behind byte %llu", static_cast<unsigned long long>(job->start));
    return RebuildOk;
}

}  // namespace

int32_t Rebuild_ReadTemplate(RebuildTemplate* t, const char* path)
{
    memset(t, 0, sizeof(*t));
    static thread_local SoundFile file;
    if (SoundFile_Open(&file, path, SoundFileOpenReadShared) != 0 || !file.isOpen) {
        if (file.errorCode == SoundFileErrUnknownType)
            Refuse(t->reason, "not a WAV, BWF, RF64, AIFF or AIFF-C recording (by its name)");
        else if (file.errorCode == SoundFileErrCannotOpen)
            Refuse(t->reason, "cannot open it (%s)", File_OpenFailureText(File_LastOpenFailure()));
        else
            Refuse(t->reason, "%s", file.errorText);
        return RebuildBadTemplate;
    }
    const int aiff = file.kind == SoundFileKindAiff;
    t->dataOffset = SoundFile_GetDataOffset(&file);
    t->sampleRate = file.info.sampleRate;
    t->bitsPerSample = uint16_t(file.info.bitsPerSample);
    t->blockAlign = aiff ? file.aiff.blockAlign : file.wav.blockAlign;
    t->layout.channels = uint16_t(file.info.channels);
    int32_t result = aiff ? AiffTemplate(t, &file) : WavTemplate(t, &file);
    SoundFile_Close(&file);
    if (result != RebuildOk)
        return RebuildBadTemplate;
    if (t->layout.channels == 0 || t->blockAlign % t->layout.channels != 0) {
        Refuse(t->reason, "its frames of %u bytes do not divide into %u channels", unsigned(t->blockAlign),
               unsigned(t->layout.channels));
        return RebuildBadTemplate;
    }
    t->layout.sampleBytes = uint16_t(t->blockAlign / t->layout.channels);
    if (!SampleLayout_IsValid(&t->layout)) {
        Refuse(t->reason, "its samples of %u bytes are not read here", unsigned(t->layout.sampleBytes));
        return RebuildBadTemplate;
    }
    const char* name = Path_FileName(path);
    const char* dot = strrchr(name, '.');
    snprintf(t->extension, sizeof(t->extension), "%s", dot != nullptr ? dot : "");
    return RebuildOk;
}

int32_t Rebuild_BuildHeader(const RebuildTemplate* sibling, uint64_t sampleBytes, uint64_t trailerBytes,
                            RebuildShape* shape)
{
    memset(shape, 0, sizeof(*shape));
    if (sibling->blockAlign == 0 || sibling->formatLength > RebuildFormatCapacity ||
        sampleBytes > uint64_t(INT64_MAX) / 2 || trailerBytes > uint64_t(INT64_MAX) / 2)
        return RebuildRefused;
    shape->sampleBytes = sampleBytes;
    shape->trailerBytes = trailerBytes;
    // An odd chunk that ends the file gets its pad byte; one that chunks
    // follow keeps what the take had there.
    shape->padBytes = (sampleBytes & 1) && trailerBytes == 0 ? 1 : 0;
    return sibling->container >= RebuildAiff ? AiffHeader(sibling, shape) : WavHeader(sibling, shape);
}

int32_t Rebuild_OutputPath(const char* path, const char* outFolder, const char* extension, char* out,
                           uint32_t capacity)
{
    const char* name = Path_FileName(path);
    const char* dot = strrchr(name, '.');
    // A leading dot names a hidden file; it is no extension.
    const size_t stem = dot != nullptr && dot != name ? size_t(dot - name) : strlen(name);
    int n;
    if (outFolder != nullptr) {
        size_t folder = strlen(outFolder);
        while (folder > 1 && Path_IsSeparator(outFolder[folder - 1]))
            --folder;
        n = snprintf(out, capacity, "%.*s%c%.*s-rebuilt%s", int(folder), outFolder, PathSeparator, int(stem), name,
                     extension);
    } else {
        n = snprintf(out, capacity, "%.*s%.*s-rebuilt%s", int(name - path), path, int(stem), name, extension);
    }
    if (n < 0 || uint32_t(n) >= capacity) {
        if (capacity > 0)
            out[0] = '\0';
        return RebuildRefused;
    }
    return RebuildOk;
}

int32_t Rebuild_Run(RebuildJob* job)
{
    job->reason[0] = '\0';
    job->outputPath[0] = '\0';
    job->outputName = job->outputPath;
    job->fileSize = 0;
    job->start = job->samplesEnd = job->trailerBytes = 0;
    job->frames = job->durationMs = 0;
    job->channelOrderGuess = job->warned = 0;
    memset(&job->score, 0, sizeof(job->score));
    const RebuildTemplate* t = job->sibling;
    if (t == nullptr || job->path == nullptr || t->blockAlign == 0)
        return Refuse(job->reason, "no template");
    if (Rebuild_OutputPath(job->path, job->outFolder, t->extension, job->outputPath, sizeof(job->outputPath)) != 0)
        return Refuse(job->reason, "the new file's path is too long");
    job->outputName = Path_FileName(job->outputPath);

    static thread_local SoundFile file;
    if (SoundFile_Open(&file, job->path, SoundFileOpenReadShared) == 0 && file.isOpen) {
        SoundFile_Close(&file);
        return Refuse(job->reason, "has a header: scan it");
    }
    FileHandle src = FileHandleNone;
    FileStamp stamp;
    if (!File_OpenMeasured(job->path, FileModeReadShared, &src, 128, &stamp))
        return Refuse(job->reason, "cannot open it (%s)", File_OpenFailureText(File_LastOpenFailure()));
    int32_t result = File_GetSize64(src, &job->fileSize) ? Examine(job, src) : Refuse(job->reason, "cannot read it");
    if (result == RebuildOk) {
        RebuildShape shape;
        if (Rebuild_BuildHeader(t, job->samplesEnd - job->start, job->trailerBytes, &shape) != RebuildOk)
            result = Refuse(job->reason, "AIFF cannot hold %llu bytes of samples (32-bit sizes)",
                            static_cast<unsigned long long>(job->samplesEnd - job->start));
        else if (File_Exists(job->outputPath))
            result = Refuse(job->reason, "%s exists", job->outputName);
        else
            result = WriteOutput(job, src, &shape);
    }
    File_Close(src);
    return result;
}
