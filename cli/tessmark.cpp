// tessmark: the command-line scanner. Runs the desktop program's scan worker
// on one folder and prints the same numbered lines, each as soon as its file
// is done, then a summary line.
#include <errno.h>
#include <inttypes.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "cliplatform.h"
#include "fileio.h"
#include "scanplatform.h"
#include "scanworker.h"
#include "tessmark_version.h"

enum {
    ExitOk = 0,           // no file failed (with --check: none needs repair)
    ExitFileFailed = 1,   // a repair failed or was refused (with --check: a file needs repair)
    ExitUsage = 2,        // bad command line, or a folder that cannot be listed
    ExitNotExamined = 3,  // nothing failed, but a recording was left unexamined (named on stderr)
    ExitInterrupted = 130 // stopped by Ctrl-C after the file in hand
};

static const char* const usageText =
    "Usage: tessmark [--check] [--recursive] [--follow-links] FOLDER\n"
    "\n"
    "Examines every WAV, Broadcast Wave, RF64 and AIFF recording in FOLDER and\n"
    "repairs each header that the recorder never finalised, in place, so that it\n"
    "covers every whole sample frame in the file. Healthy files are not touched,\n"
    "nor are files that another program has open for writing.\n"
    "\n"
    "  --check         examine and report only: open files read-only, change nothing\n"
    "  --recursive     also scan the subfolders (links to folders are not followed)\n"
    "  --follow-links  also examine the files that links in FOLDER lead to, which\n"
    "                  may lie outside it (without it, links are passed over)\n"
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
    "interrupted (the file in hand is always finished first).\n";

static AppState app;            // the worker's folder; its log stays unused here
static ScanOutcomes outcomes;   // counted by the worker
static int32_t lineNumber;      // the number of the last line printed
static volatile sig_atomic_t interrupted;

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
    fputs(out, stdout);
    fflush(stdout);
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

static const char* plural(int64_t n, const char* one, const char* many)
{
    return n == 1 ? one : many;
}

int main(int argc, char** argv)
{
    int checkOnly = 0;
    int recursive = 0;
    int followLinks = 0;
    const char* folder = nullptr;
    int optionsEnded = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
            if (strcmp(arg, "--") == 0) {
                optionsEnded = 1;
            } else if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
                fputs(usageText, stdout);
                return ExitOk;
            } else if (strcmp(arg, "--version") == 0) {
                printf("tessmark %s\n", TessmarkVersionText);
                return ExitOk;
            } else if (strcmp(arg, "--check") == 0) {
                checkOnly = 1;
            } else if (strcmp(arg, "--recursive") == 0) {
                recursive = 1;
            } else if (strcmp(arg, "--follow-links") == 0) {
                followLinks = 1;
            } else {
                return usageError("unknown option", arg);
            }
            continue;
        }
        if (folder != nullptr)
            return usageError("one folder only; unexpected", arg);
        folder = arg;
    }
    if (folder == nullptr)
        return usageError("no folder given", nullptr);

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

    ScanOptions options;
    memset(&options, 0, sizeof(options));
    options.checkOnly = checkOnly;
    options.recursive = recursive;
    options.followLinks = followLinks;
    options.onLine = printLine;
    options.onNote = printNote;
    options.outcomes = &outcomes;
    ScanWorker_SetOptions(&options);
    CliPlatform_CatchInterrupts(onInterrupt);

    char scanning[sizeof(app.folderPath) + 16];
    snprintf(scanning, sizeof(scanning), "Scanning %s", app.folderPath);
    printLine(scanning, nullptr);
    ScanWorker_Start(&app);
    ScanWorker_Wait();

    if (!outcomes.folderListed) {
        fprintf(stderr, "tessmark: cannot list folder '%s'\n", folder);
        return ExitUsage;
    }
    if (checkOnly)
        printf("%" PRId64 " %s examined: %" PRId64 " OK, %" PRId64 " %s repair (not repaired: --check changes nothing)",
               outcomes.examined, plural(outcomes.examined, "file", "files"), outcomes.headerOk, outcomes.needRepair,
               plural(outcomes.needRepair, "needs", "need"));
    else
        printf("%" PRId64 " %s examined: %" PRId64 " OK, %" PRId64 " repaired, %" PRId64 " failed", outcomes.examined,
               plural(outcomes.examined, "file", "files"), outcomes.headerOk, outcomes.repaired, outcomes.failed);
    if (outcomes.notOpened > 0)
        printf(", %" PRId64 " could not be opened", outcomes.notOpened);
    printf("\n");
    fflush(stdout);

    if (interrupted) {
        fprintf(stderr, "tessmark: interrupted; the file in hand was finished, the rest not examined\n");
        return ExitInterrupted;
    }
    if (outcomes.failed > 0 || (checkOnly && outcomes.needRepair > 0))
        return ExitFileFailed;
    return outcomes.notOpened > 0 ? ExitNotExamined : ExitOk;
}
