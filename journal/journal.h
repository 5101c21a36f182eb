// The undo journal of repairs, for the command line (--journal FILE,
// --undo FILE) and the desktop program, and its undo.
//
// Before a repair's first write the journal gets one line, flushed to the
// disk: the file's path, its length and time of last change, the bytes of
// its header up to the first sample byte, the bytes the repair will write
// there, the bytes the cut will remove, the length of the padding it adds,
// and a fingerprint of its samples (a bounded number of blocks, whatever the
// take's length). Once the repair is closed, a second line says how the
// file was left. Both are JSON objects, each on a line of its own.
#ifndef TESSMARK_JOURNAL_H
#define TESSMARK_JOURNAL_H

#include <stdint.h>

#include <string>
#include <vector>

#include "fileio.h"
#include "result.h"

struct SoundFile;

// A repair recorded before its first write, whose outcome is yet to come.
typedef struct JournalPending {
    int64_t seq;          // its record
    int64_t headerBytes;  // its header length
    std::string path;
} JournalPending;

typedef struct Journal {
    FileHandle handle;                    // the journal, open for appending; FileHandleNone when none
    int32_t lineOpen;                     // 1 when the file does not end a line (a torn last record)
    std::vector<JournalPending> pending;  // the repairs in hand: several with --jobs
} Journal;

// Journal_Open's results.
enum {
    JournalOpened = 0,
    JournalCannotOpen = 1,    // the system refused it (File_LastOpenFailure says why)
    JournalIsRecording = 2,   // the path has a sound file's extension: records would corrupt a take
    JournalNotJournal = 3,    // an existing file that holds no journal
};

#ifdef __cplusplus
extern "C" {
#endif

// Opens (creating) the journal at path for appending. Others may read it
// meanwhile (it is neither locked nor leased). A Journal* result; on any but
// JournalOpened the journal is closed.
int32_t Journal_Open(Journal* journal, const char* path);

// ScanBeforeRepairFn: appends and flushes the record of the repair about to
// run (context: the Journal). 0 when the record is on the disk.
int32_t Journal_BeforeRepair(const ScanFileReport* report, struct SoundFile* file, void* context);

// To be called with every file report: after a repair, appends how the file
// was left. 0, or -1 when that line could not be written (the undo then
// treats the repair as interrupted).
int32_t Journal_AfterFile(Journal* journal, const ScanFileReport* report);

// 0, or -1 when the close failed.
int32_t Journal_Close(Journal* journal);

// What an undo did.
typedef struct JournalUndoOutcome {
    int64_t restored;   // files put back byte for byte
    int64_t unchanged;  // already as before the repair
    int64_t refused;    // changed since the repair, gone, or a record that cannot be read: left alone
} JournalUndoOutcome;

// Receives one word on one file of an undo: its path (for a record that
// cannot be read, the journal and its line), whether it was refused, and
// what was done.
typedef void (*JournalUndoNoteFn)(const char* path, int32_t refused, const char* text, void* context);

// Puts every file recorded in the journal at path back, newest record first,
// where its content is still as the repair left it (or as far as a repair or
// an undo got before it stopped). 0; -1 when the journal cannot be read.
int32_t Journal_Undo(const char* path, JournalUndoOutcome* outcome, JournalUndoNoteFn onNote, void* context);

#ifdef __cplusplus
}
#endif

#endif
