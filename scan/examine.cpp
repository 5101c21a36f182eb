#include "examine.h"

#include <string.h>

#include "fileio.h"

namespace {

// What the file declares now, for the reports and the format line.
void Describe(const SoundFile* file, ScanResult* r)
{
    const SoundFileVerdict* v = &r->verdict;
    r->framesAfter = v->encoding >= SoundEncodingCompressed ? v->frames : file->info.frameCount;
    r->durationMs = file->info.durationMs;
    r->flags = file->info.flags;
}

// A verdict that leaves the file as it is.
void LeaveAlone(SoundFile* file, ScanResult* r)
{
    const SoundFileVerdict* v = &r->verdict;
    ScanOutcomes* counts = &r->counts;
    switch (v->state) {
    case SoundVerdictRefused:
        // Read-only, in use, a header the reader refuses, an encoding no
        // repair may touch.
        r->action = ScanActionNotExamined;
        r->read = v->reason == SoundReasonCompressed;
        counts->notExamined += 1;
        if (v->reason == SoundReasonCannotOpen)
            counts->notOpened += 1;
        else
            counts->notRecordings += 1;
        break;
    case SoundVerdictNoSamples:
        r->action = ScanActionOk;
        counts->noSamples += 1;  // a header without samples: nothing to cover, and no line
        break;
    case SoundVerdictUnreadable:
        // A disk that fails while the samples' end is looked at: a repair
        // now could turn the metadata behind them into samples.
        r->action = ScanActionFailed;
        counts->examined += 1;
        counts->failed += 1;
        break;
    default:
        // Complete, with metadata or a pad byte behind, or cut short.
        r->action = ScanActionOk;
        counts->examined += 1;
        counts->headerOk += 1;
        break;
    }
    if (file->isOpen)
        SoundFile_Close(file);
}

void Open(SoundFile* file, const char* path, const ScanExamineOptions* options)
{
    Mem_Zero(file, sizeof(*file));
    SoundFile_Open(file, path, options->checkOnly ? SoundFileOpenReadShared | SoundFileOpenHeaderOnly
                                                  : SoundFileOpenReadWrite | SoundFileOpenHeaderOnly);
}

const FileStamp* Identity(const SoundFile* file)
{
    return file->kind == SoundFileKindAiff ? &file->aiff.examined : &file->wav.examined;
}

// 1 when the entry's file may be one an earlier entry reached under another
// name. A shared open breaks no lease and meets only shared opens, so a
// check opens first; a repair's open could break the lease of an examiner
// that holds the file under its other name, so only its links are asked.
int MaybeSeen(SoundFile* file, const ScanEntry* entry, const ScanExamineOptions* options, int* opened)
{
    if (options->claim == nullptr)
        return 0;
    if (options->anyLinked)
        return 1;
    if (options->checkOnly) {
        Open(file, entry->path, options);
        *opened = 1;
        return file->isOpen && Identity(file)->links > 1;
    }
    FileStamp stamp;
    return File_StampPath(entry->path, &stamp) && stamp.links > 1;
}

}  // namespace

void ScanExamine_File(SoundFile* file, const ScanEntry* entry, const ScanExamineOptions* options, ScanResult* r)
{
    Mem_Zero(r, sizeof(*r));
    r->framesAfter = -1;
    const char* path = entry->path;
    const char* name = entry->name;
    Mem_Zero(file, sizeof(*file));
    int opened = 0;
    if (MaybeSeen(file, entry, options, &opened)) {
        // Examined under the first of its names, as on one thread: its turn
        // comes after every entry listed before it, and until then it holds
        // nothing that an earlier entry's examiner may need.
        if (entry->turn != nullptr && opened) {
            if (file->isOpen)
                SoundFile_Close(file);
            opened = 0;
        }
        options->awaitTurn(entry->turn, options->hookContext);
        if (!opened)
            Open(file, path, options);
        if (file->isOpen && Identity(file)->links > 0 &&
            options->claim(Identity(file), name, r->detail, options->hookContext)) {
            SoundFile_Close(file);
            r->action = ScanActionNotExamined;
            r->why = ScanWhySameFile;
            r->counts.sameFile += 1;
            return;
        }
    } else if (!opened) {
        Open(file, path, options);
    }
    SoundFileVerdict* v = &r->verdict;
    SoundFile_Examine(file, v);
    if (v->state == SoundVerdictNone)
        return;  // not a sound file by its name
    r->read = v->state != SoundVerdictRefused;
    Describe(file, r);
    if (v->state != SoundVerdictShort) {
        LeaveAlone(file, r);
        return;
    }
    r->counts.examined += 1;
    if (options->checkOnly) {
        r->action = ScanActionNeedsRepair;
        r->counts.needRepair += 1;
        SoundFile_Close(file);
        return;
    }
    r->action = ScanActionRepaired;
    LastFileError = 0;  // so that the cause of a failed write below is this file's
    if (options->hook != nullptr && options->hook(r, path, name, file, options->hookContext) != 0) {
        r->why = ScanWhyNotJournaled;
    } else if (SoundFile_Repair(file) != 0) {
        r->why = ScanWhyCannotAccess;
        r->change = File_LastChange();
    } else {
        Describe(file, r);
        // The new header reaches the disk at the close: only a clean close
        // makes the file repaired.
        if (SoundFile_Close(file) == 0) {
            r->counts.repaired += 1;
            return;
        }
        r->why = ScanWhyCannotAccess;
    }
    r->osError = LastFileError;
    if (file->isOpen)
        SoundFile_Close(file);
    r->action = ScanActionFailed;
    r->counts.failed += 1;
}

void ScanExamine_PassOver(int32_t why, int32_t isFile, const char* detail, ScanResult* r)
{
    Mem_Zero(r, sizeof(*r));
    if (detail != nullptr) {
        const size_t n = strnlen(detail, sizeof(r->detail) - 1);
        Mem_Copy(r->detail, detail, uint32_t(n));
    }
    r->framesAfter = -1;
    r->action = ScanActionNotExamined;
    r->why = why;
    r->unreported = !isFile;
    r->counts.notExamined += 1;
    r->counts.notOpened += 1;
}
