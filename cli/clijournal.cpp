#include "clijournal.h"

#include <string.h>

#include <vector>

#include "clijson.h"
#include "cliplatform.h"
#include "clisha256.h"
#include "commit.h"
#include "soundfile.h"

// Bytes of a header kept in one record at most: beyond it a header (a huge
// chunk before the samples) is refused a journaled repair.
static const int64_t MaxHeaderBytes = 64 * 1024 * 1024;

int32_t CliJournal_Open(CliJournal* journal, const char* path)
{
    journal->handle = FileHandleNone;
    journal->pending.clear();
    FileHandle handle;
    if (!File_Open(path, FileModeReadWrite, &handle, 128))
        return -1;
    journal->handle = handle;
    return 0;
}

// Appends line at the end and flushes it to the disk; the line's offset in
// *seq. 0 or -1.
static int32_t appendFlushed(CliJournal* journal, const std::string& line, int64_t* seq)
{
    int64_t end = 0;
    if (journal->handle == FileHandleNone || !File_GetSize64(journal->handle, &end) ||
        !File_SeekTo(journal->handle, end))
        return -1;
    if (!File_WriteExact(journal->handle, line.data(), static_cast<uint32_t>(line.size())) ||
        !File_Flush(journal->handle))
        return -1;
    if (seq != nullptr)
        *seq = end;
    return 0;
}

// The hex SHA-256 of the whole file behind handle; empty when a read failed.
static std::string hashFile(FileHandle handle, int64_t size)
{
    CliSha256 sha;
    CliSha256_Start(&sha);
    std::vector<char> buffer(1 << 20);
    if (!File_SeekTo(handle, 0))
        return std::string();
    for (int64_t at = 0; at < size;) {
        const int64_t left = size - at;
        const uint32_t count = left < int64_t(buffer.size()) ? uint32_t(left) : uint32_t(buffer.size());
        if (!File_ReadExact(handle, buffer.data(), count))
            return std::string();
        CliSha256_Add(&sha, buffer.data(), count);
        at += count;
    }
    uint8_t digest[32];
    CliSha256_Finish(&sha, digest);
    return CliJson_Hex(digest, sizeof(digest));
}

static FileHandle handleOf(const SoundFile* file)
{
    return file->kind == SoundFileKindAiff ? file->aiff.handle : file->wav.handle;
}

int32_t CliJournal_BeforeRepair(const ScanFileReport* report, struct SoundFile* file, void* context)
{
    CliJournal* journal = static_cast<CliJournal*>(context);
    SoundFileRepairPlan plan;
    CliFileStamp stamp;
    if (SoundFile_GetRepairPlan(file, &plan) != 0 || CliPlatform_Stamp(handleOf(file), &stamp) != 0)
        return -1;
    if (plan.headerBytes > MaxHeaderBytes || plan.keepBytes > plan.fileSize || plan.fileSize - plan.keepBytes > MaxHeaderBytes)
        return -1;
    std::vector<char> header(static_cast<size_t>(plan.headerBytes));
    std::vector<char> removed(static_cast<size_t>(plan.fileSize - plan.keepBytes));
    if (SoundFile_ReadAt(file, 0, header.data(), static_cast<uint32_t>(header.size())) != 0 ||
        SoundFile_ReadAt(file, plan.keepBytes, removed.data(), static_cast<uint32_t>(removed.size())) != 0)
        return -1;

    nlohmann::json line = nlohmann::json::object();
    line["type"] = "repair";
    CliJson_PutName(&line, "path", report->path);
    line["device"] = stamp.device;
    line["inode"] = stamp.inode;
    line["size"] = stamp.size;
    line["mtime_ns"] = stamp.mtimeNs;
    line["header"] = CliJson_Hex(header.data(), header.size());
    line["keep"] = plan.keepBytes;
    line["removed"] = CliJson_Hex(removed.data(), removed.size());
    line["pad"] = plan.padBytes;
    int64_t seq = 0;
    if (appendFlushed(journal, CliJson_Line(line), &seq) != 0)
        return -1;
    journal->pending.push_back(CliJournalPending{seq, plan.headerBytes, report->path});
    return 0;
}

int32_t CliJournal_AfterFile(CliJournal* journal, const ScanFileReport* report)
{
    size_t at = 0;
    while (at < journal->pending.size() && journal->pending[at].path != report->path)
        ++at;
    if (at == journal->pending.size())
        return 0;
    const int64_t seq = journal->pending[at].seq;
    const int64_t headerBytes = journal->pending[at].headerBytes;
    journal->pending.erase(journal->pending.begin() + static_cast<std::ptrdiff_t>(at));
    if (report->action != ScanActionRepaired)
        return 0;  // a failed repair stays an interrupted one for the undo
    FileHandle handle;
    if (!File_Open(report->path, FileModeReadShared, &handle, 128))
        return -1;
    CliFileStamp stamp;
    std::vector<char> header(static_cast<size_t>(headerBytes));
    int ok = CliPlatform_Stamp(handle, &stamp) == 0 && File_SeekTo(handle, 0) &&
             File_ReadExact(handle, header.data(), static_cast<uint32_t>(header.size()));
    // A change within the clock's tick keeps size and time: the undo
    // compares the whole file.
    const std::string sha256 = ok ? hashFile(handle, stamp.size) : std::string();
    File_Close(handle);
    if (!ok || sha256.empty())
        return -1;
    nlohmann::json line = nlohmann::json::object();
    line["type"] = "repaired";
    line["seq"] = seq;
    line["size"] = stamp.size;
    line["mtime_ns"] = stamp.mtimeNs;
    line["header"] = CliJson_Hex(header.data(), header.size());
    line["sha256"] = sha256;
    return appendFlushed(journal, CliJson_Line(line), nullptr);
}

int32_t CliJournal_Close(CliJournal* journal)
{
    if (journal->handle == FileHandleNone)
        return 0;
    const int ok = File_Close(journal->handle);
    journal->handle = FileHandleNone;
    return ok ? 0 : -1;
}

// ------------------------------------------------------------------ undo

// One repair as the journal tells it.
typedef struct UndoRecord {
    int64_t seq;
    std::string path;
    int64_t device, inode, size, mtimeNs, keep, pad;
    std::string header, removed;
    int done;  // 1 when the repair's end was recorded
    int64_t doneSize, doneMtimeNs;
    std::string doneHeader;
    std::string doneSha256;
} UndoRecord;

static int readWhole(const char* path, std::string* out)
{
    FileHandle handle;
    int64_t size = 0;
    if (!File_Open(path, FileModeReadShared, &handle, 128))
        return 0;
    int ok = File_GetSize64(handle, &size) && size < (int64_t(1) << 31);
    if (ok) {
        out->assign(static_cast<size_t>(size), '\0');
        ok = File_SeekTo(handle, 0) && File_ReadExact(handle, &(*out)[0], static_cast<uint32_t>(size));
    }
    File_Close(handle);
    return ok;
}

static int parseRepair(const nlohmann::json& j, int64_t seq, UndoRecord* r)
{
    r->seq = seq;
    r->done = 0;
    auto header = j.find("header");
    auto removed = j.find("removed");
    return CliJson_GetName(j, "path", &r->path) && CliJson_GetInt(j, "device", &r->device) &&
           CliJson_GetInt(j, "inode", &r->inode) && CliJson_GetInt(j, "size", &r->size) &&
           CliJson_GetInt(j, "mtime_ns", &r->mtimeNs) && CliJson_GetInt(j, "keep", &r->keep) &&
           CliJson_GetInt(j, "pad", &r->pad) && header != j.end() && header->is_string() &&
           CliJson_FromHex(header->get_ref<const std::string&>(), &r->header) && removed != j.end() &&
           removed->is_string() && CliJson_FromHex(removed->get_ref<const std::string&>(), &r->removed) &&
           r->keep >= 0 && r->size >= r->keep && int64_t(r->removed.size()) == r->size - r->keep && r->pad >= 0;
}

static int readRange(FileHandle handle, int64_t pos, int64_t length, std::string* out)
{
    out->assign(static_cast<size_t>(length), '\0');
    return length == 0 || (File_SeekTo(handle, pos) && File_ReadExact(handle, &(*out)[0], static_cast<uint32_t>(length)));
}

// Puts one file back. 0 restored, 1 already as before, -1 refused (why in *why).
static int undoOne(const UndoRecord& r, const char** why)
{
    FileHandle handle;
    if (!File_Open(r.path.c_str(), FileModeReadWriteExisting, &handle, 128)) {
        *why = "cannot open it";
        return -1;
    }
    CliFileStamp stamp;
    std::string head, tail;
    const int64_t headerBytes = static_cast<int64_t>(r.header.size());
    int result = -1;
    *why = "changed since its repair";
    if (CliPlatform_Stamp(handle, &stamp) != 0) {
        *why = "cannot tell which file it is";
    } else if (stamp.device != uint64_t(r.device) || stamp.inode != uint64_t(r.inode)) {
        *why = "another file than the one repaired";
    } else if (stamp.size < headerBytes || !readRange(handle, 0, headerBytes, &head)) {
        *why = stamp.size < headerBytes ? "changed since its repair" : "cannot read it";
    } else {
        const int64_t z = stamp.size;
        // What lies behind the kept bytes must be the removed bytes (uncut),
        // zero padding the repair added, or the removed bytes over that
        // padding, not yet cut: an undo stopped before its cut (C4).
        int tailOk = 0;
        int undoStopped = 0;
        if (z == r.size) {
            tailOk = readRange(handle, r.keep, r.size - r.keep, &tail) && tail == r.removed;
        } else if (z >= r.keep && z <= r.keep + r.pad && readRange(handle, r.keep, z - r.keep, &tail)) {
            const size_t removed = r.removed.size();
            undoStopped = z > r.size && tail.compare(0, removed, r.removed) == 0 &&
                          tail.find_first_not_of('\0', removed) == std::string::npos;
            tailOk = undoStopped || tail.find_first_not_of('\0') == std::string::npos;
        }
        int asLeft = 0;
        if (tailOk && z == r.size && head == r.header) {
            result = 1;  // as before the repair
        } else if (r.done) {
            // Exactly: the hash, since a change within the clock's tick keeps
            // the time. An undo stopped between its writes left the original
            // bytes under the repaired header (C4).
            asLeft = tailOk && head == r.doneHeader &&
                     ((z == r.doneSize && !undoStopped && hashFile(handle, z) == r.doneSha256) ||
                      (z == r.size && z != r.doneSize) || undoStopped);
        } else {
            // A repair stopped before its end: only size fields of the header
            // can differ, which the length check above bounds; the rest must
            // be where it was.
            asLeft = tailOk;
        }
        if (asLeft) {
            // Padding may cover where the removed bytes were: they go back
            // over it, and what remains of it is cut (C4).
            const HeaderField tail = {r.keep, reinterpret_cast<const uint8_t*>(r.removed.data()),
                                      static_cast<uint32_t>(r.removed.size())};
            const HeaderField header = {0, reinterpret_cast<const uint8_t*>(r.header.data()),
                                        static_cast<uint32_t>(headerBytes)};
            int ok = Commit_Restore(handle, &tail, z > r.size ? r.size : -1, &header);
            ok = ok && CliPlatform_SetModified(handle, r.mtimeNs) == 0;
            result = ok ? 0 : -1;
            if (!ok)
                *why = "a write failed while putting it back";
        }
    }
    if (!File_Close(handle) && result == 0) {
        *why = "the close failed while putting it back";
        result = -1;
    }
    return result;
}

int32_t CliJournal_Undo(const char* path, CliUndoOutcome* outcome, CliUndoNoteFn onNote, void* context)
{
    memset(outcome, 0, sizeof(*outcome));
    std::string text;
    if (!readWhole(path, &text))
        return -1;
    std::vector<UndoRecord> records;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();  // a last line cut short by a crash
        const int64_t seq = static_cast<int64_t>(at);
        nlohmann::json j = nlohmann::json::parse(text.begin() + static_cast<std::ptrdiff_t>(at),
                                                 text.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
        at = end + 1;
        auto type = j.is_object() ? j.find("type") : j.end();
        if (j.is_discarded() || !j.is_object() || type == j.end() || !type->is_string()) {
            outcome->badLines += 1;
            continue;
        }
        const std::string& kind = type->get_ref<const std::string&>();
        if (kind == "repair") {
            UndoRecord r;
            if (parseRepair(j, seq, &r))
                records.push_back(r);
            else
                outcome->badLines += 1;
        } else if (kind == "repaired") {
            int64_t of = -1;
            UndoRecord* match = nullptr;
            CliJson_GetInt(j, "seq", &of);
            for (UndoRecord& r : records)
                if (r.seq == of)
                    match = &r;
            auto header = j.find("header");
            auto hash = j.find("sha256");
            if (match != nullptr && hash != j.end() && hash->is_string() && CliJson_GetInt(j, "size", &match->doneSize) &&
                CliJson_GetInt(j, "mtime_ns", &match->doneMtimeNs) && header != j.end() && header->is_string() &&
                CliJson_FromHex(header->get_ref<const std::string&>(), &match->doneHeader) &&
                match->doneHeader.size() == match->header.size()) {
                match->done = 1;
                match->doneSha256 = hash->get_ref<const std::string&>();
            }
            else
                outcome->badLines += 1;
        } else {
            outcome->badLines += 1;
        }
    }
    for (size_t i = records.size(); i-- > 0;) {
        const UndoRecord& r = records[i];
        const char* why = "";
        const int result = undoOne(r, &why);
        if (result == 0) {
            outcome->restored += 1;
            if (onNote != nullptr)
                onNote(r.path.c_str(), 0, r.done ? "restored" : "restored (its repair had been interrupted)", context);
        } else if (result == 1) {
            outcome->unchanged += 1;
            if (onNote != nullptr)
                onNote(r.path.c_str(), 0, "already as before its repair", context);
        } else {
            outcome->refused += 1;
            if (onNote != nullptr)
                onNote(r.path.c_str(), 1, why, context);
        }
    }
    return 0;
}
