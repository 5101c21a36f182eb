// tessmark: the command-line scanner. Runs the desktop program's scan worker
// on one folder and prints the same numbered lines, each as soon as its file
// is done, then a summary line.
#include <errno.h>
#include <inttypes.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "cliexit.h"
#include "journal.h"
#include "cliout.h"
#include "cliplatform.h"
#include "clirebuild.h"
#include "clireport.h"
#include "fileio.h"
#include "scanplatform.h"
#include "render.h"
#include "scanworker.h"
#include "soundfile.h"
#include "texts.h"
#include "tessmark_version.h"

static const char* const usageText =
    "Usage: tessmark [--check] [--recursive] [--follow-links] [--jobs N] [--json] [--journal FILE]\n"
    "                FOLDER\n"
    "       tessmark --undo FILE\n"
    "       tessmark --template SIBLING [--out FOLDER] [--offset N] [--force] [--json]\n"
    "                FILE...\n"
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
    "  --template SIBLING\n"
    "                  rebuild each FILE whose header is gone (zeroed, overwritten,\n"
    "                  or a fragment without one) as a new file NAME-rebuilt.EXT,\n"
    "                  with the format of SIBLING, a healthy take recorded with the\n"
    "                  same settings; FILE is only read, an existing file never\n"
    "                  replaced\n"
    "  --out FOLDER    with --template: put the new files in FOLDER (default:\n"
    "                  beside each FILE)\n"
    "  --offset N      with --template: the samples start within one frame of byte\n"
    "                  N of FILE (default: where SIBLING's start; 0 for a fragment)\n"
    "  --force         with --template: rebuild also where the bytes of FILE do not\n"
    "                  read as audio in SIBLING's format\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Each recording that is not examined (refused by the reader, cannot be\n"
    "opened, in use, a link not followed, no regular file, in a folder too deep)\n"
    "or not repaired (still being written, a write that failed) is named on\n"
    "standard error with the reason.\n"
    "\n"
    "Exit status: 0 when every recording was examined and none failed; 1 when a\n"
    "repair failed or was left undone (the file still being written) or, with\n"
    "--check, a file needs repair; 2 on a usage error, a folder that cannot be\n"
    "listed or a journal that cannot be opened (or is a recording, or a file\n"
    "that is no journal); 3 when nothing failed but a recording was left\n"
    "unexamined; 4 when the lines or the report could not all be written (a\n"
    "full disk, a closed pipe: the scan stops after the files in hand); 130 when\n"
    "interrupted (every file in hand is always finished first).\n"
    "With --undo: 0 when every recorded file was put back or was already as\n"
    "before; 1 when one was refused; 2 when FILE cannot be read; 4 as above.\n"
    "With --template: 0 when every FILE was rebuilt; 1 when one was refused;\n"
    "2 on a usage error or a SIBLING that cannot be used; 4 as above.\n";

static char folderPath[ScanPathCapacity];  // the folder as the worker takes it
static ScanOutcomes outcomes;   // counted by the worker
static CliOut out;               // the numbered lines: stdout, or stderr under --json
static volatile sig_atomic_t interrupted;
static int jsonOut;             // --json
static Journal journal;      // --journal
static int journalFailed;       // a journal line after a repair could not be written

// Prints one log line with the number the desktop log would give it.
static void printLine(const char* line, void* context)
{
    (void)context;
    CliOut_Line(&out, line);
}

// Passes each file's report to the JSON lines and the journal.
static void onFileReport(const ScanFileReport* report, void* context)
{
    (void)context;
    if (jsonOut) {
        CliReport_File(stdout, report);
        if (out.stdoutLive)
            fflush(stdout);
        CliOut_Check(stdout);
    }
    if (journal.handle != FileHandleNone && Journal_AfterFile(&journal, report) != 0)
        journalFailed = 1;
}

static void printUndoNote(const char* path, int32_t refused, const char* text, void* context)
{
    (void)context;
    if (refused) {
        char note[ScanPathCapacity + 256];
        snprintf(note, sizeof(note), TextNotUndone, text);
        CliOut_Note(path, note);
        return;
    }
    char line[ScanPathCapacity + 256];
    size_t at = CliOut_Shown(line, 0, sizeof(line), path);
    at = CliOut_Shown(line, at, sizeof(line), ": ");
    at = CliOut_Shown(line, at, sizeof(line), text);
    line[at++] = '\n';
    line[at] = '\0';
    fputs(line, stdout);
    CliOut_Check(stdout);
}

static int runUndo(const char* journalPath)
{
    JournalUndoOutcome outcome;
    if (Journal_Undo(journalPath, &outcome, printUndoNote, nullptr) != 0) {
        fprintf(stderr, "tessmark: cannot read journal '%s'\n", journalPath);
        return ExitUsage;
    }
    printf(TextUndoSummary "\n", outcome.restored, outcome.unchanged, outcome.refused);
    return CliOut_Finish(outcome.refused > 0 ? ExitFileFailed : ExitOk, "the undo still went to its end");
}

// Names a file on standard error with what the scan says of it.
static void printNote(const char* name, const char* text, void* context)
{
    (void)context;
    CliOut_Note(name, text);
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

// A scan that cannot be heard stops as after Ctrl-C, only with its own exit status.
static void onOutputFailure(void)
{
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

int main(int argc, char** argv)
{
    CliPlatform_Utf8Arguments(&argc, &argv);
    CliPlatform_KeepBrokenPipes();
    int checkOnly = 0;
    int recursive = 0;
    int followLinks = 0;
    int32_t jobs = -1;
    const char* folder = nullptr;
    const char* journalPath = nullptr;
    const char* undoPath = nullptr;
    CliRebuildOptions rebuild;
    memset(&rebuild, 0, sizeof(rebuild));
    rebuild.offset = -1;
    std::vector<const char*> operands;
    int optionsEnded = 0;
    out.human = stdout;
    // As the classic tools: a terminal gets each line as it comes, a pipe
    // gets them in blocks, without one write per line.
    out.stdoutLive = CliPlatform_IsTerminal(stdout);
    static char stdoutBlock[1 << 16];
    if (!out.stdoutLive)
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
                       ScanJobsPerCpu, ScanPool_DefaultJobs());
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
            } else if (strcmp(arg, "--template") == 0 || strcmp(arg, "--out") == 0) {
                if (i + 1 >= argc)
                    return usageError(arg[2] == 't' ? "a recording must follow" : "a folder must follow", arg);
                (arg[2] == 't' ? rebuild.templatePath : rebuild.outFolder) = argv[++i];
            } else if (strcmp(arg, "--offset") == 0) {
                if (i + 1 >= argc)
                    return usageError("a number must follow", arg);
                rebuild.offset = CliRebuild_ParseOffset(argv[++i]);
                if (rebuild.offset < 0)
                    return usageError("--offset takes a byte count, not", argv[i]);
            } else if (strcmp(arg, "--force") == 0) {
                rebuild.force = 1;
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
        operands.push_back(arg);
    }
    if (rebuild.templatePath != nullptr) {
        if (checkOnly || recursive || followLinks || jobs > 0 || journalPath != nullptr || undoPath != nullptr)
            return usageError("--template does not go with --check, --recursive, --follow-links, --jobs, --journal "
                              "or --undo",
                              nullptr);
        if (operands.empty())
            return usageError("no file given to rebuild", nullptr);
        rebuild.json = jsonOut;
        rebuild.files = operands.data();
        rebuild.fileCount = static_cast<int32_t>(operands.size());
        if (jsonOut)
            out.human = stderr;
        rebuild.out = &out;
        return CliRebuild_Run(&rebuild);
    }
    if (rebuild.outFolder != nullptr || rebuild.offset >= 0 || rebuild.force)
        return usageError("--out, --offset and --force go with --template only", nullptr);
    if (operands.size() > 1)
        return usageError("one folder only; unexpected", operands[1]);
    if (!operands.empty())
        folder = operands[0];
    if (undoPath != nullptr) {
        if (folder != nullptr || checkOnly || recursive || followLinks || jsonOut || journalPath != nullptr || jobs > 0)
            return usageError("--undo takes a journal and nothing else", nullptr);
        return runUndo(undoPath);
    }
    if (folder == nullptr)
        return usageError("no folder given", nullptr);
    if (journalPath != nullptr && checkOnly)
        return usageError("--check changes nothing, so --journal has nothing to record", nullptr);
    if (jsonOut)
        out.human = stderr;

    // The folder as the desktop keeps it: without a trailing separator,
    // except for a root, which is nothing but one.
    size_t n = strlen(folder);
    while (n > 1 && Path_IsSeparator(folder[n - 1]) && !(n == 3 && folder[1] == ':'))
        --n;
    if (n == 0 || n >= sizeof(folderPath)) {
        fprintf(stderr, "tessmark: cannot list folder '%s': %s\n", folder, n == 0 ? "empty name" : "path too long");
        return ExitUsage;
    }
    memcpy(folderPath, folder, n);
    folderPath[n] = '\0';

    DirListing probe;
    errno = 0;
    if (!DirListing_Open(&probe, folderPath)) {
        const char* reason = CliPlatform_ListFailure(errno);
        if (reason != nullptr)
            fprintf(stderr, "tessmark: cannot list folder '%s': %s\n", folder, reason);
        else
            fprintf(stderr, "tessmark: cannot list folder '%s'\n", folder);
        return ExitUsage;
    }
    DirListing_Close(&probe);
    if (journalPath != nullptr) {
        const int32_t opened = Journal_Open(&journal, journalPath);
        if (opened == JournalIsRecording)
            return usageError("the journal would be written into a recording:", journalPath);
        if (opened == JournalNotJournal)
            return usageError("not a journal, and not to be overwritten:", journalPath);
        if (opened != JournalOpened) {
            fprintf(stderr, "tessmark: cannot open journal '%s' (%s)\n", journalPath,
                    File_OpenFailureText(File_LastOpenFailure()));
            return ExitUsage;
        }
    }

    ScanOptions options;
    memset(&options, 0, sizeof(options));
    options.checkOnly = checkOnly;
    options.recursive = recursive;
    options.followLinks = followLinks;
    options.jobs = jobs > 0 ? jobs : ScanPool_DefaultJobs();
    // Without --jobs, files in flight only where they come slowly.
    options.adaptive = jobs <= 0;
    options.onLine = printLine;
    options.onNote = printNote;
    options.onFile = onFileReport;
    if (journal.handle != FileHandleNone) {
        options.beforeRepair = Journal_BeforeRepair;
        options.repairContext = &journal;
    }
    options.outcomes = &outcomes;
    ScanWorker_SetOptions(&options);
    CliPlatform_CatchInterrupts(onInterrupt);
    CliOut_OnFailure(onOutputFailure);

    char scanning[sizeof(folderPath) + 16];
    snprintf(scanning, sizeof(scanning), TextScanning, folderPath);
    printLine(scanning, nullptr);
    ScanWorker_Start(folderPath, nullptr);
    ScanWorker_Wait();

    if (Journal_Close(&journal) != 0 || journalFailed)
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
    char summary[512];
    fputs(ScanRender_Summary(&outcomes, checkOnly, summary, sizeof(summary)), out.human);
    fprintf(out.human, "\n");
    fflush(out.human);
    if (jsonOut) {
        CliReport_Summary(stdout, &outcomes, checkOnly, interrupted, status);
        fflush(stdout);
    }
    if (interrupted)
        fprintf(stderr, "tessmark: interrupted; the file in hand was finished, the rest not examined\n");
    return CliOut_Finish(status, outcomes.stopped && !interrupted
                                     ? "the files in hand were finished, the rest not examined"
                                     : "the scan itself went to its end");
}
