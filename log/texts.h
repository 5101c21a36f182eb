// The system's fixed texts: the lines a scan logs, the log's line number and
// its out-of-room message, and the sound file handle's messages. People
// compare logs across versions, scripts parse them, and the window's tests
// read them back: they are fixed, letter for letter. Change none of them;
// a new text is added beside them, never in the place of one.
#ifndef TESSMARK_TEXTS_H
#define TESSMARK_TEXTS_H

#include <inttypes.h>

// The log's line number, before every line.
#define TextLineNumber "#%04i "
// Once, when the log is full: characters held, capacity.
#define TextLogFull "****** Not Enough Memory in TXT Buffer (%i char / %i max)*******"

// The first line of a scan: the folder.
#define TextScanning "Scanning %s"
// A file's lines: its name first.
#define TextHeaderOk "%s HEADER OK !"
#define TextHeaderNotSet "%s header not set : %s"
#define TextHeaderMissing "%s header missing %" PRId64 " bytes : %s"
#define TextRepair "repair"
#define TextCannotAccess "%s ERR:Can't Access File"
// A take's format and length: rate, channels, hours, minutes, seconds.
#define TextFormat "(%iHz / %i ch) Length:%02" PRId64 ":%02" PRId64 ":%02" PRId64
#define TextFormatLine "%s " TextFormat
// The window's lines without a number: a word on one file (name, text),
// as the command line's "tessmark: NAME: TEXT" on standard error, and the
// end of a stopped scan (one that ran to its end gives the summary line).
#define TextNote "    %s: %s"
#define TextScanStopped "Scan stopped"

// The undo of a journal's repairs: its first line in the window (the
// journal), a file refused (why), its end (restored, already as before,
// refused), as the command line's --undo says them.
#define TextUndoing "Undoing the repairs of the last scan (%s)"
#define TextNotUndone "not undone: %s"
#define TextUndoSummary "%" PRId64 " restored, %" PRId64 " already as before, %" PRId64 " refused"
#define TextJournalUnreadable "cannot read the journal"
// After a repair whose end could not be journaled.
#define TextJournalIncomplete "the journal may lack how this file was left; the undo takes it as an interrupted repair"
// A scan from the window whose journal cannot be opened repairs nothing.
#define TextNoJournal "the journal of this scan cannot be opened: the scan only checks"

// The sound file handle's messages (SoundFile.errorText).
#define TextUnknownType "Unknown File Type"
#define TextCannotOpenWav "Cannot open WAV file"
#define TextCannotReadWav "Cannot Read WAV Format"
#define TextNoAudio "No audio data present in file"
#define TextWavCorrupted "WAV Format Corrupted"
#define TextWavFailed "Error openning WAV file"
#define TextCannotOpenAiff "Cannot open AIFF file"
#define TextCannotReadAiff "Cannot Read AIFF Format"
#define TextAiffCorrupted "AIFF Format Corrupted"
#define TextAiffFailed "Error openning AIFF file"
#define TextAlreadyOpen "File Already Openned"
#define TextNotOpen "File not openned"
#define TextAlreadyClosed "File Already Closed"

#endif
