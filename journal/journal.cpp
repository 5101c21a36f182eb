#include "journal.h"

#include <string.h>

#include <vector>

#include "jsonline.h"
#include "record.h"
#include "sha256.h"
#include "soundfile.h"

namespace {

// Bytes of a header kept in one record at most: beyond it a header (a huge
// chunk before the samples) is refused a journaled repair.
const int64_t MaxHeaderBytes = 64 * 1024 * 1024;

// The fingerprint's blocks: their size and how many.
const int64_t PrintBlock = 4096;
const int64_t PrintBlocks = 17;

// 1 when the first line of an existing file is a record.
int HoldsJournal(FileHandle handle, int64_t size)
{
    std::string first(size_t(size < 65536 ? size : 65536), '\0');
    if (!File_SeekTo(handle, 0) || !File_ReadExact(handle, &first[0], uint32_t(first.size())))
        return 0;
    const size_t end = first.find('\n');
    if (end != std::string::npos)
        first.resize(end);
    if (first.compare(0, strlen(JournalRecordStart), JournalRecordStart) == 0)
        return 1;
    // A journal from before records put their type first.
    const nlohmann::json j = nlohmann::json::parse(first, nullptr, false);
    if (!j.is_object())
        return 0;
    const auto type = j.find("type");
    return type != j.end() && type->is_string() &&
           (type->get_ref<const std::string&>() == "repair" || type->get_ref<const std::string&>() == "repaired");
}

// Appends line at the end on a line of its own and flushes it to the disk;
// the line's offset in *seq. 0 or -1.
int32_t AppendFlushed(Journal* journal, const std::string& line, int64_t* seq)
{
    int64_t end = 0;
    if (journal->handle == FileHandleNone || !File_GetSize64(journal->handle, &end) ||
        !File_SeekTo(journal->handle, end))
        return -1;
    // A torn last record (a full disk, a crash) is closed first, so that
    // this one is whole on its own line.
    const std::string text = journal->lineOpen ? "\n" + line : line;
    if (!File_WriteExact(journal->handle, text.data(), static_cast<uint32_t>(text.size())) ||
        !File_Flush(journal->handle))
        return -1;
    journal->lineOpen = 0;
    if (seq != nullptr)
        *seq = end + (text.size() - line.size());
    return 0;
}

FileHandle HandleOf(const SoundFile* file)
{
    return file->kind == SoundFileKindAiff ? file->aiff.handle : file->wav.handle;
}

}  // namespace

std::string Journal_Fingerprint(FileHandle handle, int64_t from, int64_t to)
{
    Sha256 sha;
    Sha256_Start(&sha);
    std::vector<char> block(static_cast<size_t>(PrintBlock));
    const int64_t span = to > from ? to - from : 0;
    const int64_t blocks = span <= PrintBlock * PrintBlocks ? (span + PrintBlock - 1) / PrintBlock : PrintBlocks;
    for (int64_t i = 0; i < blocks; ++i) {
        // Spread from the first block to the last, both included.
        const int64_t at = blocks == 1 || span <= PrintBlock * PrintBlocks
                               ? from + i * PrintBlock
                               : from + i * ((span - PrintBlock) / (PrintBlocks - 1));
        const int64_t left = to - at;
        const uint32_t count = uint32_t(left < PrintBlock ? left : PrintBlock);
        if (!File_SeekTo(handle, at) || !File_ReadExact(handle, block.data(), count))
            return std::string();
        Sha256_Add(&sha, block.data(), count);
    }
    uint8_t digest[32];
    Sha256_Finish(&sha, digest);
    return Json_Hex(digest, sizeof(digest));
}

int32_t Journal_Open(Journal* journal, const char* path)
{
    journal->handle = FileHandleNone;
    journal->lineOpen = 0;
    journal->pending.clear();
    if (SoundFile_HasSoundExtension(path))
        return JournalIsRecording;
    FileHandle handle;
    // Shared: a reader (cat, tail -f) neither waits for the scan nor keeps it
    // from starting.
    const uint32_t mode = FileModeRead | FileModeWrite | FileModeShareRead | FileModeShareWrite | FileModeOpenAlways;
    if (!File_Open(path, mode, &handle, 128))
        return JournalCannotOpen;
    int64_t size = 0;
    char last = '\n';
    if (!File_GetSize64(handle, &size) ||
        (size > 0 && (!File_SeekTo(handle, size - 1) || !File_ReadExact(handle, &last, 1)))) {
        File_Close(handle);
        return JournalCannotOpen;
    }
    if (size > 0 && !HoldsJournal(handle, size)) {
        File_Close(handle);
        return JournalNotJournal;
    }
    journal->handle = handle;
    journal->lineOpen = last != '\n';
    return JournalOpened;
}

int32_t Journal_BeforeRepair(const ScanFileReport* report, struct SoundFile* file, void* context)
{
    Journal* journal = static_cast<Journal*>(context);
    SoundFileRepairPlan plan;
    FileStamp stamp;
    if (SoundFile_GetRepairPlan(file, &plan) != 0 || !File_GetStamp(HandleOf(file), &stamp))
        return -1;
    if (plan.headerBytes > MaxHeaderBytes || plan.keepBytes > plan.fileSize || plan.fileSize - plan.keepBytes > MaxHeaderBytes)
        return -1;
    std::vector<char> header(static_cast<size_t>(plan.headerBytes));
    std::vector<char> removed(static_cast<size_t>(plan.fileSize - plan.keepBytes));
    if (SoundFile_ReadAt(file, 0, header.data(), static_cast<uint32_t>(header.size())) != 0 ||
        SoundFile_ReadAt(file, plan.keepBytes, removed.data(), static_cast<uint32_t>(removed.size())) != 0)
        return -1;
    const std::string fingerprint = Journal_Fingerprint(HandleOf(file), plan.headerBytes, plan.keepBytes);
    // The stream reads again from where it last stood: it must seek.
    file->wav.filePosState = 0;
    file->aiff.filePosState = 0;
    if (fingerprint.empty())
        return -1;

    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    line["type"] = "repair";
    Json_PutName(&line, "path", report->path);
    line["size"] = stamp.size;
    line["mtime_ns"] = File_ModifiedNs(&stamp);
    line["header"] = Json_Hex(header.data(), header.size());
    nlohmann::ordered_json changes = nlohmann::ordered_json::array();
    for (uint32_t i = 0; i < plan.changeCount; ++i) {
        const StreamChange& c = plan.changes[i];
        nlohmann::ordered_json change = nlohmann::ordered_json::object();
        change["at"] = c.pos;
        if (c.zeros)
            change["zeros"] = c.length;
        else
            change["bytes"] = Json_Hex(c.bytes, c.length);
        changes.push_back(change);
    }
    line["changes"] = changes;
    line["keep"] = plan.keepBytes;
    line["removed"] = Json_Hex(removed.data(), removed.size());
    line["pad"] = plan.padBytes;
    line["fingerprint"] = fingerprint;
    int64_t seq = 0;
    if (AppendFlushed(journal, Json_Line(line), &seq) != 0)
        return -1;
    journal->pending.push_back(JournalPending{seq, plan.headerBytes, report->path});
    return 0;
}

int32_t Journal_AfterFile(Journal* journal, const ScanFileReport* report)
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
    FileStamp stamp;
    std::vector<char> header(static_cast<size_t>(headerBytes));
    const int ok = File_GetStamp(handle, &stamp) && File_SeekTo(handle, 0) &&
                   File_ReadExact(handle, header.data(), static_cast<uint32_t>(header.size()));
    File_Close(handle);
    if (!ok)
        return -1;
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    line["type"] = "repaired";
    line["seq"] = seq;
    line["size"] = stamp.size;
    line["mtime_ns"] = File_ModifiedNs(&stamp);
    line["header"] = Json_Hex(header.data(), header.size());
    return AppendFlushed(journal, Json_Line(line), nullptr);
}

int32_t Journal_Close(Journal* journal)
{
    if (journal->handle == FileHandleNone)
        return 0;
    const int ok = File_Close(journal->handle);
    journal->handle = FileHandleNone;
    return ok ? 0 : -1;
}
