// The undo journal (--journal FILE) and its undo (--undo FILE).
//
// Before a repair's first write the journal gets one line, flushed to the
// disk: the file's path and identity, its size and modification time, the
// bytes of its header up to the first sample byte (every byte a repair may
// overwrite lies there), the bytes the cut will remove and the length of the
// padding the repair will add. Once the repair is closed, a second line says
// how the file was left. Both are JSON objects, one per line.
#ifndef TESSMARK_CLIJOURNAL_H
#define TESSMARK_CLIJOURNAL_H

#include <stdint.h>

#include <string>
#include <vector>

#include "fileio.h"
#include "scanworker.h"

// A repair recorded before its first write, whose outcome is yet to come.
typedef struct CliJournalPending {
    int64_t seq;            // its record
    int64_t headerBytes;    // its header length
    std::string path;
} CliJournalPending;

typedef struct CliJournal {
    FileHandle handle;      // the journal, open for appending; FileHandleNone when none
    std::vector<CliJournalPending> pending;  // the repairs in hand: several with --jobs
} CliJournal;

// Opens (creating) the journal at path for appending; it stays locked
// against a second scan. 0, or -1 with the journal closed.
int32_t CliJournal_Open(CliJournal* journal, const char* path);

// ScanBeforeRepairFn: appends and flushes the record of the repair about to
// run (context: the CliJournal). 0 when the record is on the disk.
int32_t CliJournal_BeforeRepair(const ScanFileReport* report, struct SoundFile* file, void* context);

// To be called with every file report: after a repair, appends how the file
// was left. 0, or -1 when that line could not be written (the undo then
// treats the repair as interrupted).
int32_t CliJournal_AfterFile(CliJournal* journal, const ScanFileReport* report);

// 0, or -1 when the close failed.
int32_t CliJournal_Close(CliJournal* journal);

// What an undo did.
typedef struct CliUndoOutcome {
    int64_t restored;    // files put back byte for byte
    int64_t unchanged;   // already as before the repair
    int64_t refused;     // changed since the repair, gone, or unreadable: left alone
    int64_t badLines;    // lines that are no record (a torn last line, say)
} CliUndoOutcome;

// Receives one word on one file of an undo: its path and what was done.
typedef void (*CliUndoNoteFn)(const char* path, int32_t refused, const char* text, void* context);

// Puts every file recorded in the journal at path back, newest record first,
// where it is still as the repair left it. 0; -1 when the journal cannot be
// read.
int32_t CliJournal_Undo(const char* path, CliUndoOutcome* outcome, CliUndoNoteFn onNote, void* context);

#endif
