// The undo: every repair the journal records is put back, newest first,
// where the file's content is still as the repair (or an interrupted repair,
// or an interrupted undo) left it. Which file it is, is told by its content:
// its length, its header, the bytes the undo changes and a fingerprint of
// its samples; a card mounted again gets other device and inode numbers.
#include <string.h>

#include <string>
#include <vector>

#include "commit.h"
#include "journal.h"
#include "jsonline.h"
#include "record.h"

namespace {

// One repair as the journal tells it.
struct Change {
    int64_t at;
    std::string bytes;  // empty with zeros set
    int64_t zeros;
};

struct UndoRecord {
    int64_t seq;
    int64_t line;
    std::string path;
    int64_t size, mtimeNs, keep, pad;
    std::string header, removed, fingerprint;
    std::vector<Change> changes;
    int hasChanges;
    int done;  // 1 when the repair's end was recorded
    std::string doneHeader;
};

int ReadWhole(const char* path, std::string* out)
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

int ParseChanges(const nlohmann::json& j, UndoRecord* r)
{
    const auto list = j.find("changes");
    r->hasChanges = list != j.end();
    if (!r->hasChanges)
        return 1;
    if (!list->is_array())
        return 0;
    for (const nlohmann::json& c : *list) {
        Change change{0, std::string(), 0};
        const auto bytes = c.find("bytes");
        if (!c.is_object() || !Json_GetInt(c, "at", &change.at) || change.at < 0)
            return 0;
        if (bytes != c.end()) {
            if (!bytes->is_string() || !Json_FromHex(bytes->get_ref<const std::string&>(), &change.bytes))
                return 0;
        } else if (!Json_GetInt(c, "zeros", &change.zeros) || change.zeros < 0) {
            return 0;
        }
        r->changes.push_back(change);
    }
    return 1;
}

int ParseRepair(const nlohmann::json& j, UndoRecord* r)
{
    r->done = 0;
    const auto header = j.find("header");
    const auto removed = j.find("removed");
    const auto print = j.find("fingerprint");
    if (print != j.end() && print->is_string())
        r->fingerprint = print->get_ref<const std::string&>();
    return Json_GetName(j, "path", &r->path) && Json_GetInt(j, "size", &r->size) &&
           Json_GetInt(j, "mtime_ns", &r->mtimeNs) && Json_GetInt(j, "keep", &r->keep) &&
           Json_GetInt(j, "pad", &r->pad) && header != j.end() && header->is_string() &&
           Json_FromHex(header->get_ref<const std::string&>(), &r->header) && removed != j.end() &&
           removed->is_string() && Json_FromHex(removed->get_ref<const std::string&>(), &r->removed) &&
           r->keep >= 0 && r->size >= r->keep && int64_t(r->removed.size()) == r->size - r->keep && r->pad >= 0 &&
           ParseChanges(j, r);
}

int ParseDone(const nlohmann::json& j, std::vector<UndoRecord>* records)
{
    int64_t of = -1;
    Json_GetInt(j, "seq", &of);
    for (UndoRecord& r : *records) {
        if (r.seq != of)
            continue;
        const auto header = j.find("header");
        std::string done;
        if (header == j.end() || !header->is_string() || !Json_FromHex(header->get_ref<const std::string&>(), &done) ||
            done.size() != r.header.size())
            return 0;
        r.done = 1;
        r.doneHeader = done;
        return 1;
    }
    return 0;
}

// 1 when byte i of the header may be what the repair wrote there.
int Written(const UndoRecord& r, size_t i, char byte)
{
    for (const Change& c : r.changes) {
        if (int64_t(i) < c.at)
            continue;
        const int64_t k = int64_t(i) - c.at;
        if (c.bytes.empty() ? (k < c.zeros && byte == '\0') : (k < int64_t(c.bytes.size()) && c.bytes[size_t(k)] == byte))
            return 1;
    }
    // Journals from before the changes were recorded: the header the
    // repair left.
    return !r.hasChanges && r.done && r.doneHeader[i] == byte;
}

// How the header stands: 2 as before the repair, 1 every byte as before or
// as the repair writes it, 0 changed otherwise.
int HeaderState(const UndoRecord& r, const std::string& head)
{
    if (head == r.header)
        return 2;
    // A journal from before the changes that recorded no end: nothing to
    // hold the header to.
    if (!r.hasChanges && !r.done)
        return 1;
    for (size_t i = 0; i < head.size(); ++i)
        if (head[i] != r.header[i] && !Written(r, i, head[i]))
            return 0;
    return 1;
}

int ReadRange(FileHandle handle, int64_t pos, int64_t length, std::string* out)
{
    out->assign(static_cast<size_t>(length), '\0');
    return length == 0 || (File_SeekTo(handle, pos) && File_ReadExact(handle, &(*out)[0], static_cast<uint32_t>(length)));
}

// What lies behind the kept bytes of a file z bytes long: 0 none that a
// repair or an undo leaves; 1 the removed bytes (the file's own length);
// 2 zero padding the repair added; 3 the removed bytes over that padding,
// not yet cut: an undo stopped before its cut (C4).
int TailState(FileHandle handle, const UndoRecord& r, int64_t z)
{
    std::string tail;
    if (z == r.size)
        return ReadRange(handle, r.keep, r.size - r.keep, &tail) && tail == r.removed ? 1 : 0;
    if (z < r.keep || z > r.keep + r.pad || !ReadRange(handle, r.keep, z - r.keep, &tail))
        return 0;
    if (z > r.size && tail.compare(0, r.removed.size(), r.removed) == 0 &&
        tail.find_first_not_of('\0', r.removed.size()) == std::string::npos)
        return 3;
    return tail.find_first_not_of('\0') == std::string::npos ? 2 : 0;
}

// The samples are the recorded ones; a journal from before fingerprints
// has its header and tail tell.
int SamplesKept(FileHandle handle, const UndoRecord& r)
{
    return r.fingerprint.empty() || Journal_Fingerprint(handle, int64_t(r.header.size()), r.keep) == r.fingerprint;
}

// Puts one file back. 0 restored, 1 already as before, -1 refused (why in *why).
int UndoOne(const UndoRecord& r, const char** why)
{
    FileHandle handle;
    if (!File_Open(r.path.c_str(), FileModeReadWriteExisting, &handle, 128)) {
        *why = "cannot open it";
        return -1;
    }
    FileStamp stamp;
    std::string head;
    const int64_t headerBytes = static_cast<int64_t>(r.header.size());
    int result = -1;
    *why = "changed since its repair";
    if (!File_GetStamp(handle, &stamp)) {
        *why = "cannot measure it";
    } else if (stamp.size < headerBytes || !ReadRange(handle, 0, headerBytes, &head)) {
        *why = stamp.size < headerBytes ? "changed since its repair" : "cannot read it";
    } else {
        const int64_t z = stamp.size;
        const int header = HeaderState(r, head);
        const int tail = header != 0 ? TailState(handle, r, z) : 0;
        if (tail != 0 && !SamplesKept(handle, r)) {
            *why = "changed since its repair (other samples)";
        } else if (tail == 1 && header == 2) {
            result = 1;  // as before the repair
        } else if (tail != 0) {
            // Padding may cover where the removed bytes were: they go back
            // over it, and what remains of it is cut (C4).
            const HeaderField back = {r.keep, reinterpret_cast<const uint8_t*>(r.removed.data()),
                                      static_cast<uint32_t>(r.removed.size())};
            const HeaderField old = {0, reinterpret_cast<const uint8_t*>(r.header.data()),
                                     static_cast<uint32_t>(headerBytes)};
            int ok = Commit_Restore(handle, &back, z > r.size ? r.size : -1, &old);
            ok = ok && File_SetModifiedNs(handle, r.mtimeNs);
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

void Note(JournalUndoNoteFn onNote, void* context, const char* path, int32_t refused, const char* text)
{
    if (onNote != nullptr)
        onNote(path, refused, text, context);
}

}  // namespace

int32_t Journal_Undo(const char* path, JournalUndoOutcome* outcome, JournalUndoNoteFn onNote, void* context)
{
    memset(outcome, 0, sizeof(*outcome));
    std::string text;
    if (!ReadWhole(path, &text))
        return -1;
    std::vector<UndoRecord> records;
    size_t at = 0;
    for (int64_t lineNumber = 1; at < text.size(); ++lineNumber) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();  // a last line cut short by a crash
        const nlohmann::json j = nlohmann::json::parse(text.begin() + static_cast<std::ptrdiff_t>(at),
                                                       text.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
        const int64_t seq = static_cast<int64_t>(at);
        const bool blank = end == at;
        at = end + 1;
        if (blank)
            continue;
        const auto type = j.is_object() ? j.find("type") : j.end();
        const std::string kind = type != j.end() && type->is_string() ? type->get<std::string>() : std::string();
        UndoRecord r;
        r.seq = seq;
        r.line = lineNumber;
        int readable = 0;
        if (kind == "repair" && ParseRepair(j, &r)) {
            records.push_back(r);
            readable = 1;
        } else if (kind == "repaired") {
            readable = ParseDone(j, &records);
        }
        if (!readable) {
            // A record that cannot be read may be a repair whose bytes are
            // lost to the undo: said, and counted as refused.
            const std::string where = std::string(path) + " line " + std::to_string(lineNumber);
            outcome->refused += 1;
            Note(onNote, context, where.c_str(), 1, "a record that cannot be read (torn or damaged)");
        }
    }
    for (size_t i = records.size(); i-- > 0;) {
        const UndoRecord& r = records[i];
        const char* why = "";
        const int result = UndoOne(r, &why);
        if (result == 0) {
            outcome->restored += 1;
            Note(onNote, context, r.path.c_str(), 0, r.done ? "restored" : "restored (its repair had been interrupted)");
        } else if (result == 1) {
            outcome->unchanged += 1;
            Note(onNote, context, r.path.c_str(), 0, "already as before its repair");
        } else {
            outcome->refused += 1;
            Note(onNote, context, r.path.c_str(), 1, why);
        }
    }
    return 0;
}
