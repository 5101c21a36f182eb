#include "clirebuild.h"

#include <inttypes.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <chrono>

#include "cliexit.h"
#include "cliplatform.h"
#include "clireport.h"
#include "rebuild.h"
#include "soundfile.h"

namespace {

volatile sig_atomic_t interrupted;

void OnInterrupt(void)
{
    interrupted = 1;
}

// A line on a terminal, overwritten in place, once a copy has taken a second.
struct Progress {
    const char* name;
    std::chrono::steady_clock::time_point started;
    int live;    // standard error is a terminal
    int shown;   // length of the line on screen; 0 when none
};

int32_t ShowProgress(void* context, uint64_t done, uint64_t total)
{
    Progress* p = static_cast<Progress*>(context);
    if (p->live && total > 0 && std::chrono::steady_clock::now() - p->started >= std::chrono::seconds(1)) {
        char line[512];
        size_t at = CliOut_Shown(line, 0, sizeof(line) - 64, p->name);
        snprintf(line + at, sizeof(line) - at, ": %3d%% of %" PRIu64 " MiB", int(done * 100 / total),
                 (total + (1u << 20) - 1) >> 20);
        const int length = int(strlen(line));
        fprintf(stderr, "\r%s%*s", line, p->shown > length ? p->shown - length : 0, "");
        fflush(stderr);
        p->shown = length;
    }
    return interrupted ? 1 : 0;
}

void ClearProgress(Progress* p)
{
    if (p->shown > 0) {
        fprintf(stderr, "\r%*s\r", p->shown, "");
        fflush(stderr);
    }
    p->shown = 0;
}

void PrintResult(CliOut* out, const char* name, const RebuildJob* job, int32_t result, const RebuildTemplate* t)
{
    char line[2048];
    if (result != RebuildOk) {
        snprintf(line, sizeof(line), "%s not rebuilt : %s", name, job->reason);
        CliOut_Line(out, line);
        return;
    }
    char format[96];
    SoundFile_DescribeFormat(format, sizeof(format), t->sampleRate, t->layout.channels, job->durationMs);
    int n = snprintf(line, sizeof(line), "%s rebuilt as %s %s, samples from byte %" PRIu64 ", score %.3f", name,
                     job->outputName, format, job->start, AlignScore_Score(&job->score));
    if (n > 0 && size_t(n) < sizeof(line) && job->channelOrderGuess)
        n += snprintf(line + n, sizeof(line) - size_t(n), ", channel order is a guess");
    if (n > 0 && size_t(n) < sizeof(line) && job->warned)
        snprintf(line + n, sizeof(line) - size_t(n), " (forced: %s)", job->reason);
    CliOut_Line(out, line);
}

}  // namespace

int64_t CliRebuild_ParseOffset(const char* text)
{
    if (text == nullptr || *text == '\0')
        return -1;
    int64_t n = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || n > (INT64_MAX - 9) / 10)
            return -1;
        n = n * 10 + (*p - '0');
    }
    return n;
}

int CliRebuild_Run(const CliRebuildOptions* options)
{
    static RebuildTemplate sibling;
    if (Rebuild_ReadTemplate(&sibling, options->templatePath) != RebuildOk) {
        char text[RebuildReasonCapacity + 64];
        snprintf(text, sizeof(text), "not usable as a template: %s (see tessmark --help)", sibling.reason);
        CliOut_Note(options->templatePath, text);
        return ExitUsage;
    }
    if (options->outFolder != nullptr && !File_Exists(options->outFolder)) {
        CliOut_Note(options->outFolder, "no such folder (see tessmark --help)");
        return ExitUsage;
    }
    CliPlatform_CatchInterrupts(OnInterrupt);
    CliOut* out = options->out;
    char line[1024];
    snprintf(line, sizeof(line), "Template %s: %d-bit, %d ch, %u Hz, samples from byte %u",
             Path_FileName(options->templatePath), int(sibling.bitsPerSample), int(sibling.layout.channels),
             unsigned(sibling.sampleRate), unsigned(sibling.dataOffset));
    CliOut_Line(out, line);

    static RebuildJob job;
    Progress progress;
    progress.live = CliPlatform_IsTerminal(stderr);
    int64_t rebuilt = 0, refused = 0;
    for (int32_t i = 0; i < options->fileCount && !interrupted; ++i) {
        const char* path = options->files[i];
        memset(&job, 0, sizeof(job));
        job.sibling = &sibling;
        job.path = path;
        job.outFolder = options->outFolder;
        job.offset = options->offset;
        job.force = options->force;
        progress.name = Path_FileName(path);
        progress.started = std::chrono::steady_clock::now();
        progress.shown = 0;
        job.progress = ShowProgress;
        job.progressContext = &progress;
        const int32_t result = Rebuild_Run(&job);
        ClearProgress(&progress);
        PrintResult(out, Path_FileName(path), &job, result, &sibling);
        if (result == RebuildOk) {
            rebuilt += 1;
        } else {
            refused += 1;
            char text[RebuildReasonCapacity + 32];
            snprintf(text, sizeof(text), "not rebuilt: %s", job.reason);
            CliOut_Note(path, text);
        }
        if (options->json) {
            CliReport_Rebuild(stdout, &job, result == RebuildOk);
            if (out->stdoutLive)
                fflush(stdout);
            CliOut_Check(stdout);
        }
    }
    const int status = interrupted ? ExitInterrupted : (refused > 0 ? ExitFileFailed : ExitOk);
    fprintf(out->human, "%" PRId64 " %s: %" PRId64 " rebuilt, %" PRId64 " refused\n", rebuilt + refused,
            rebuilt + refused == 1 ? "file" : "files", rebuilt, refused);
    fflush(out->human);
    if (options->json) {
        CliReport_RebuildSummary(stdout, rebuilt, refused, interrupted != 0, status);
        fflush(stdout);
    }
    if (interrupted)
        fprintf(stderr, "tessmark: interrupted; the takes after the one in hand were not begun\n");
    return CliOut_Finish(status, "every take was still rebuilt or refused");
}
