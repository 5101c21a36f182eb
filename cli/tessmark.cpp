// tessmark: the command-line scanner. Runs the desktop program's scan worker
// on one folder and prints the same numbered lines, each as soon as its file
// is done, then a summary line.
#include <errno.h>
#include <inttypes.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "clijournal.h"
#include "cliplatform.h"
#include "clireport.h"
#include "fileio.h"
#include "scanplatform.h"
#include "scanworker.h"
#include "soundfile.h"
#include "tessmark_version.h"

enum {
    ExitOk = 0,           // no file failed (with --check: none needs repair)
    ExitFileFailed = 1,   // a repair failed or was refused (with --check: a file needs repair)
    ExitUsage = 2,        // bad command line, or a folder that cannot be listed
    ExitNotExamined = 3,  // nothing failed, but a recording was left unexamined (named on stderr)
    ExitInterrupted = 130 // stopped by Ctrl-C after the file in hand
};

static const char* const usageText =
    "Usage: tessmark [--check] [--recursive] [--follow-links] [--jobs N] [--json] [--journal FILE]\n"
    "                FOLDER\n"
    "       tessmark --undo FILE\n"
    "\n"
    "Examines every WAV, Broadcast Wave, RF64, BW64, Wave64, AIFF and AIFF-C\n"
    "recording in FOLDER and repairs each header that the recorder never\n"
    "finalised, in place, so that it covers every whole sample frame in the file.\n"
    "Healthy files are not touched, nor are files that another program has open\n"
    "for writing.\n"
    "Recordings: the files named %s\n"
    "\n"
    "  --check         examine and report only: open files read-only, change nothing\n"
    "  --recursive     also scan the subfolders (links to folders are not followed)\n"
    "  --follow-links  also examine the files that links in FOLDER lead to, which\n"
    "                  may lie outside it (without it, links are passed over)\n"
    "  --jobs N        examine up to N files at once, each from open to close by\n"
    "                  one thread (1 to %d; default: %d per processor, %d here);\n"
    "                  the lines, numbers, summary and exit status are those of\n"
    "                  --jobs 1\n"
    "  --json          write one JSON object per line on standard output for each\n"
    "                  recording, then one with the summary; the numbered lines go\n"
    "                  to standard error\n"
    "  --journal FILE  before each repair, append what it will change to FILE and\n"
    "                  flush it to the disk (not with --check)\n"
    "  --undo FILE     put back every file recorded in FILE, newest first, where it\n"
    "                  is still as the repair left it; other files are named and\n"
    "                  left alone\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Each recording that is not examined (refused by the reader, cannot be\n"
    "opened, in use, a link not followed) or not repaired (still being written)\n"
    "is named on standard error with the reason.\n"
    "\n"
    "Exit status: 0 when every recording was examined and none failed; 1 when a\n"
    "repair failed or was left undone (the file still being written) or, with\n"
    "--check, a file needs repair; 2 on a usage error or a folder that cannot be\n"
    "listed; 3 when nothing failed but a recording was left unexamined; 130 when\n"
    "interrupted (every file in hand is always finished first).\n"
    "With --undo: 0 when every recorded file was put back or was already as\n"
    "before; 1 when one was refused; 2 when FILE cannot be read.\n";

static AppState app;            // the worker's folder; its log stays unused here
static ScanOutcomes outcomes;   // counted by the worker
static int32_t lineNumber;      // the number of the last line printed
static volatile sig_atomic_t interrupted;
static FILE* humanOut;          // the numbered lines: stdout, or stderr under --json
static int jsonOut;             // --json
static CliJournal journal;      // --journal
static int journalFailed;       // a journal line after a repair could not be written
static int stdoutLive;          // standard output is a terminal: each line flushed at once

// Appends text to out from at, control characters of odd file names shown
// as '?' so that they cannot drive the terminal; returns the new length.
static size_t appendShown(char* out, size_t at, size_t capacity, const char* text)
{
    for (const char* p = text; *p != '\0' && at + 2 < capacity; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        out[at++] = (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    }
    return at;
}

// Prints one log line with the number the desktop log would give it.
static void printLine(const char* line, void* context)
{
    (void)context;
    lineNumber += 1;
    char out[ScanPathCapacity + 256];
    int n = snprintf(out, sizeof(out), "#%04i ", static_cast<int>(lineNumber));
    size_t at = appendShown(out, static_cast<size_t>(n), sizeof(out), line);
    out[at++] = '\n';
    out[at] = '\0';
    fputs(out, humanOut);
    if (humanOut != stdout || stdoutLive)
        fflush(humanOut);
}

// Passes each file's report to the JSON lines and the journal.
static void onFileReport(const ScanFileReport* report, void* context)
{
    (void)context;
    if (jsonOut) {
        CliReport_File(stdout, report);
        if (stdoutLive)
            fflush(stdout);
    }
    if (journal.handle != FileHandleNone && CliJournal_AfterFile(&journal, report) != 0)
        journalFailed = 1;
}

static void printUndoNote(const char* path, int32_t refused, const char* text, void* context)
{
    (void)context;
    char out[ScanPathCapacity + 256];
    size_t at = 0;
    if (refused)
        at = appendShown(out, at, sizeof(out), "tessmark: ");
    at = appendShown(out, at, sizeof(out), path);
    at = appendShown(out, at, sizeof(out), refused ? ": not undone: " : ": ");
    at = appendShown(out, at, sizeof(out), text);
    out[at++] = '\n';
    out[at] = '\0';
    fflush(stdout);
    fputs(out, refused ? stderr : stdout);
}

static int runUndo(const char* journalPath)
{
    CliUndoOutcome outcome;
    if (CliJournal_Undo(journalPath, &outcome, printUndoNote, nullptr) != 0) {
        fprintf(stderr, "tessmark: cannot read journal '%s'\n", journalPath);
        return ExitUsage;
    }
    printf("%" PRId64 " restored, %" PRId64 " already as before, %" PRId64 " refused\n", outcome.restored,
           outcome.unchanged, outcome.refused);
    if (outcome.badLines > 0)
        fprintf(stderr, "tessmark: %" PRId64 " lines of '%s' are no record and were skipped\n", outcome.badLines,
                journalPath);
    fflush(stdout);
    return outcome.refused > 0 ? ExitFileFailed : ExitOk;
}

// Names a file on standard error with what the scan says of it.
static void printNote(const char* name, const char* text, void* context)
{
    (void)context;
    char out[ScanPathCapacity + 512];
    size_t at = appendShown(out, 0, sizeof(out), "tessmark: ");
    at = appendShown(out, at, sizeof(out), name);
    at = appendShown(out, at, sizeof(out), ": ");
    at = appendShown(out, at, sizeof(out), text);
    out[at++] = '\n';
    out[at] = '\0';
    fflush(stdout);
    fputs(out, stderr);
}

static int usageError(const char* message, const char* detail)
{
    if (detail != nullptr)
        fprintf(stderr, "tessmark: %s '%s' (see tessmark --help)\n", message, detail);
    else
        fprintf(stderr, "tessmark: %s (see tessmark --help)\n", message);
    return ExitUsage;
}

static void onInterrupt(void)
{
    interrupted = 1;
    ScanWorker_RequestStop();
}

// The number of --jobs: 1 to ScanMaxJobs, or 0 for anything else.
static int32_t parseJobs(const char* text)
{
    int32_t n = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || n > ScanMaxJobs)
            return 0;
        n = n * 10 + (*p - '0');
    }
    return n <= ScanMaxJobs ? n : 0;
}

static const char* plural(int64_t n, const char* one, const char* many)
{
    return n == 1 ? one : many;
}

int main(int argc, char** argv)
{
    CliPlatform_Utf8Arguments(&argc, &argv);
    int checkOnly = 0;
    int recursive = 0;
    int followLinks = 0;
    int32_t jobs = -1;
    const char* folder = nullptr;
    const char* journalPath = nullptr;
    const char* undoPath = nullptr;
    int optionsEnded = 0;
    humanOut = stdout;
    // As the classic tools: a terminal gets each line as it comes, a pipe
    // gets them in blocks, without one write per line.
    stdoutLive = CliPlatform_IsTerminal(stdout);
    static char stdoutBlock[1 << 16];
    if (!stdoutLive)
        setvbuf(stdout, stdoutBlock, _IOFBF, sizeof(stdoutBlock));
    journal.handle = FileHandleNone;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
            if (strcmp(arg, "--") == 0) {
                optionsEnded = 1;
            } else if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
                char extensions[128];
                printf(usageText, SoundFile_ListExtensions(extensions, sizeof(extensions)), ScanMaxJobs,
                       ScanJobsPerCpu, ScanWorker_DefaultJobs());
                return ExitOk;
            } else if (strcmp(arg, "--version") == 0) {
                printf("tessmark %s\n", TessmarkVersionText);
                return ExitOk;
            } else if (strcmp(arg, "--check") == 0) {
                checkOnly = 1;
            } else if (strcmp(arg, "--recursive") == 0) {
                recursive = 1;
            } else if (strcmp(arg, "--json") == 0) {
                jsonOut = 1;
            } else if (strcmp(arg, "--journal") == 0 || strcmp(arg, "--undo") == 0) {
                if (i + 1 >= argc)
                    return usageError("a file must follow", arg);
                (arg[2] == 'j' ? journalPath : undoPath) = argv[++i];
            } else if (strcmp(arg, "--follow-links") == 0) {
                followLinks = 1;
            } else if (strcmp(arg, "--jobs") == 0) {
                if (i + 1 >= argc)
                    return usageError("a number must follow", arg);
                jobs = parseJobs(argv[++i]);
                if (jobs == 0) {
                    char message[64];
                    snprintf(message, sizeof(message), "--jobs takes a number from 1 to %d, not", ScanMaxJobs);
                    return usageError(message, argv[i]);
                }
            } else {
                return usageError("unknown option", arg);
            }
            continue;
        }
        if (folder != nullptr)
            return usageError("one folder only; unexpected", arg);
        folder = arg;
    }
    if (undoPath != nullptr) {
        if (folder != nullptr || checkOnly || recursive || jsonOut || journalPath != nullptr || jobs > 0)
            return usageError("--undo takes a journal and nothing else", nullptr);
        return runUndo(undoPath);
    }
    if (folder == nullptr)
        return usageError("no folder given", nullptr);
    if (journalPath != nullptr && checkOnly)
        return usageError("--check changes nothing, so --journal has nothing to record", nullptr);
    if (jsonOut)
        humanOut = stderr;

    // The folder as the desktop keeps it: without a trailing separator,
    // except for a root, which is nothing but one.
    size_t n = strlen(folder);
    while (n > 1 && Path_IsSeparator(folder[n - 1]) && !(n == 3 && folder[1] == ':'))
        --n;
    if (n == 0 || n >= sizeof(app.folderPath)) {
        fprintf(stderr, "tessmark: cannot list folder '%s': %s\n", folder, n == 0 ? "empty name" : "path too long");
        return ExitUsage;
    }
    memcpy(app.folderPath, folder, n);
    app.folderPath[n] = '\0';

    DirListing probe;
    errno = 0;
    if (!DirListing_Open(&probe, app.folderPath)) {
        const char* reason = CliPlatform_ListFailure(errno);
        if (reason != nullptr)
            fprintf(stderr, "tessmark: cannot list folder '%s': %s\n", folder, reason);
        else
            fprintf(stderr, "tessmark: cannot list folder '%s'\n", folder);
        return ExitUsage;
    }
    DirListing_Close(&probe);
    if (journalPath != nullptr && CliJournal_Open(&journal, journalPath) != 0) {
        fprintf(stderr, "tessmark: cannot open journal '%s' (%s)\n", journalPath,
                File_OpenFailureText(File_LastOpenFailure()));
        return ExitUsage;
    }

    ScanOptions options;
    memset(&options, 0, sizeof(options));
    options.checkOnly = checkOnly;
    options.recursive = recursive;
    options.followLinks = followLinks;
    options.jobs = jobs > 0 ? jobs : ScanWorker_DefaultJobs();
    options.onLine = printLine;
    options.onNote = printNote;
    options.onFile = onFileReport;
    if (journal.handle != FileHandleNone) {
        options.beforeRepair = CliJournal_BeforeRepair;
        options.repairContext = &journal;
    }
    options.outcomes = &outcomes;
    ScanWorker_SetOptions(&options);
    CliPlatform_CatchInterrupts(onInterrupt);

    char scanning[sizeof(app.folderPath) + 16];
    snprintf(scanning, sizeof(scanning), "Scanning %s", app.folderPath);
    printLine(scanning, nullptr);
    ScanWorker_Start(&app);
    ScanWorker_Wait();

    if (CliJournal_Close(&journal) != 0 || journalFailed)
        fprintf(stderr, "tessmark: the journal may lack how repaired files were left; --undo takes them as "
                        "interrupted repairs\n");
    if (!outcomes.folderListed) {
        fprintf(stderr, "tessmark: cannot list folder '%s'\n", folder);
        return ExitUsage;
    }
    int status = ExitOk;
    if (interrupted)
        status = ExitInterrupted;
    else if (outcomes.failed > 0 || (checkOnly && outcomes.needRepair > 0))
        status = ExitFileFailed;
    else if (outcomes.notOpened > 0 || outcomes.notRecordings > 0)
        status = ExitNotExamined;
    if (checkOnly)
        fprintf(humanOut, "%" PRId64 " %s examined: %" PRId64 " OK, %" PRId64 " %s repair (not repaired: --check changes nothing)",
               outcomes.examined, plural(outcomes.examined, "file", "files"), outcomes.headerOk, outcomes.needRepair,
               plural(outcomes.needRepair, "needs", "need"));
    else
        fprintf(humanOut, "%" PRId64 " %s examined: %" PRId64 " OK, %" PRId64 " repaired, %" PRId64 " failed", outcomes.examined,
               plural(outcomes.examined, "file", "files"), outcomes.headerOk, outcomes.repaired, outcomes.failed);
    if (outcomes.notOpened > 0)
        fprintf(humanOut, ", %" PRId64 " could not be opened", outcomes.notOpened);
    if (outcomes.notRecordings > 0)
        fprintf(humanOut, ", %" PRId64 " %s no recording Tessmark reads", outcomes.notRecordings,
                plural(outcomes.notRecordings, "is", "are"));
    if (outcomes.noSamples > 0)
        fprintf(humanOut, ", %" PRId64 " %s no samples", outcomes.noSamples, plural(outcomes.noSamples, "holds", "hold"));
    fprintf(humanOut, "\n");
    fflush(humanOut);
    if (jsonOut) {
        CliReport_Summary(stdout, &outcomes, checkOnly, interrupted, status);
        fflush(stdout);
    }
    if (interrupted)
        fprintf(stderr, "tessmark: interrupted; the file in hand was finished, the rest not examined\n");
    return status;
}
