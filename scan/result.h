// One file's examination as a value, and what a scan counts. No text: the
// words for a result are render's.
#ifndef TESSMARK_SCANRESULT_H
#define TESSMARK_SCANRESULT_H

#include <stddef.h>
#include <stdint.h>

#include "soundfile.h"

// What one scan met, counted by the worker (see ScanOptions.outcomes and
// the table ScanOutcomeFields).
typedef struct ScanOutcomes {
    int32_t folderListed;  // 1 when the scanned folder could be listed; 0 when not (nothing was done)
    int32_t stopped;       // 1 when a stop ended the scan before the listing was done
    int64_t examined;      // sound files opened and examined (each counts in one of the four below)
    int64_t headerOk;      // "HEADER OK !"
    int64_t repaired;      // repaired, and the new header written and flushed
    int64_t needRepair;    // checkOnly: files whose header is short, left unchanged
    int64_t failed;        // "ERR:Can't Access File": the repair or the close of a repaired file failed
    int64_t notExamined;   // sound files passed over: notOpened and notRecordings together
    int64_t notOpened;     // sound files passed over unexamined: no access, in use, too long a path,
                           // links not followed; with recursive, also unlistable subfolders
    int64_t notRecordings; // sound files by name that are no recording read here: empty, not a WAV or
                           // AIFF file, a header the reader cannot use, a compressed encoding
    int64_t noSamples;     // sound files that hold nothing behind their data offset (no line)
    int64_t sameFile;      // names of a file examined under another name before in the same scan
} ScanOutcomes;

// Where a count shows in the summary line.
enum {
    ScanShownAlways = 0,     // always
    ScanShownRepairing = 1,  // when the scan may repair
    ScanShownChecking = 2,   // under checkOnly
    ScanShownWhenAny = 3,    // when it is not 0
    ScanShownNever = 4,      // in the --json summary only
};

// One count of ScanOutcomes: the one table behind the counts, the summary
// line and the --json summary keys.
typedef struct ScanOutcomeField {
    size_t offset;     // of its int64_t in ScanOutcomes
    const char* key;   // its --json summary key
    const char* one;   // its words in the summary line for a count of 1
    const char* many;  // ... for any other count
    int32_t shown;     // ScanShown*
} ScanOutcomeField;

// ScanResult.action and ScanFileReport.action values.
enum {
    ScanActionNone = 0,         // no sound file by its name: nothing to say
    ScanActionOk = 1,           // the header covers every whole frame (or the file holds no samples)
    ScanActionRepaired = 2,     // repaired, the new header written and flushed
    ScanActionNeedsRepair = 3,  // checkOnly: the header is short, the file unchanged
    ScanActionFailed = 4,       // the repair, or a read that had to precede it, failed
    ScanActionNotExamined = 5,  // passed over: refused by the reader, no access, in use, path too long
};

// Why, beyond what the verdict says (ScanResult.why).
enum {
    ScanWhyVerdict = 0,       // the verdict says it all
    ScanWhyNotJournaled = 1,  // the hook before the repair refused it (the journal could not record it)
    ScanWhyCannotAccess = 2,  // the repair, or the close that writes its header, failed
    ScanWhyLink = 3,          // a link, not followed (the listing's word)
    ScanWhyPathTooLong = 4,   // a path too long to build (the listing's word)
    ScanWhyCannotList = 5,    // a subfolder that cannot be listed (the listing's word)
    ScanWhySameFile = 6,      // the file was examined under another name before (detail)
    ScanWhyNotAFile = 7,      // a FIFO, device or socket named like a recording (the listing's word)
    ScanWhyDanglingLink = 8,  // a link named like a recording that leads nowhere (the listing's word)
    ScanWhyTooDeep = 9,       // a subfolder deeper than the scan goes (the listing's word)
};

// What the scan did with one file, or what the listing says of an entry.
typedef struct ScanResult {
    int32_t action;            // ScanAction*
    int32_t why;               // ScanWhy*
    int32_t change;            // FileChange*: why a repair stopped (another program changed the file)
    int32_t read;              // 1 when the file was read as a recording: the verdict describes it
    int32_t unreported;        // 1 for a listing's word on an entry that gets no report (a link, a folder)
    SoundFileVerdict verdict;  // what the examination found
    int64_t framesAfter;       // frames the header declares after the scan; -1 when not known
    int64_t durationMs;        // of those frames
    uint32_t flags;            // WavFlag* of the file after the scan
    ScanOutcomes counts;       // what it adds to the scan's outcomes
    uint32_t osError;          // a failed repair or journal write: the OS error (LastFileError), 0 if none
    char detail[1024];         // ScanWhySameFile: the name the file was examined as;
                               // ScanWhyPathTooLong: the folder the entry lies in
} ScanResult;

// What one scan did with one sound file, as the front ends receive it.
typedef struct ScanFileReport {
    const char* path;       // the full path opened
    const char* name;       // as the lines call it
    int32_t action;         // ScanAction*
    const char* reason;     // why, for every action but ScanActionOk ("" when there is nothing to say)
    int32_t container;      // SoundContainer* (stream.h) as the file was opened; None when not read
    uint32_t sampleRate;    // 0 and below: unknown while not examined
    int32_t channels;
    int32_t bitsPerSample;
    int32_t encoding;       // SoundEncoding* (soundfile.h)
    int64_t declaredBytes;  // sample bytes the header declared at open (whole frames)
    int64_t presentBytes;   // sample bytes the file holds (no metadata, pad byte or block padding)
    int64_t missingBytes;   // declared bytes the file lacks (a recording cut short); 0 otherwise
    int64_t framesBefore;   // frames the header declared at open; -1 when not known
    int64_t framesAfter;    // frames it declares after the scan; -1 when not known
} ScanFileReport;

#ifdef __cplusplus
extern "C" {
#endif

extern const ScanOutcomeField ScanOutcomeFields[];
extern const size_t ScanOutcomeFieldCount;

// The count a field of the table names.
int64_t ScanOutcomes_Get(const ScanOutcomes* outcomes, const ScanOutcomeField* field);

// Adds every count of from to to.
void ScanOutcomes_Add(ScanOutcomes* to, const ScanOutcomes* from);

#ifdef __cplusplus
}
#endif

#endif
