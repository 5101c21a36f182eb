// The one place that turns results into the log's lines, the notes and the
// reports, and the outcomes into the summary line.
#include "render.h"

#include <inttypes.h>
#include <stdio.h>

#include "fileio.h"
#include "listing.h"
#include "texts.h"

namespace {

// Room for a name as the lines call it and the longest of their texts.
const size_t LineCapacity = 1024 + 160;

// Why a file was passed over or failed, in a few words.
const char* Why(const ScanResult* r, char* out, size_t capacity)
{
    switch (r->why) {
    case ScanWhyNotJournaled:
        return "not journaled";
    case ScanWhyCannotAccess:
        return "cannot access file";
    case ScanWhyLink:
        return "a link, not followed";
    case ScanWhyPathTooLong:
        snprintf(out, capacity, "path too long (in %s)", r->detail);
        return out;
    case ScanWhyNotAFile:
        return "not a regular file (a FIFO, device or socket)";
    case ScanWhyDanglingLink:
        return "a link that leads nowhere";
    case ScanWhyTooDeep:
        snprintf(out, capacity, "a folder more than %d levels down: not entered", ScanMaxDepth);
        return out;
    case ScanWhyCannotList:
        return "cannot list folder";
    case ScanWhySameFile:
        snprintf(out, capacity, "already examined as %s", r->detail);
        return out;
    default:
        break;
    }
    const SoundFileVerdict* v = &r->verdict;
    if (v->state == SoundVerdictUnreadable)
        return "cannot read what follows the samples";
    if (v->state == SoundVerdictNoSamples)
        return "no samples";
    if (v->state == SoundVerdictMetadata)
        return "metadata behind the samples";
    if (v->state == SoundVerdictCutShort) {
        snprintf(out, capacity, "cut short: %" PRId64 " declared bytes are missing", v->missingBytes);
        return out;
    }
    if (v->state == SoundVerdictComplete)
        return "";
    return ScanRender_Reason(v, out, capacity);
}

void Line(const ScanRenderSink* sink, char* line)
{
    sink->line(line, sink->lineContext);
}

void Note(const ScanRenderSink* sink, const char* name, const char* text)
{
    if (sink->note != nullptr)
        sink->note(name, text, sink->noteContext);
}

// The lines a short header gives: what it lacks, and what became of it.
void ShortLines(const ScanResult* r, const char* name, const ScanRenderSink* sink, char* line)
{
    const char* action = r->action == ScanActionNeedsRepair ? "needs repair (not repaired, --check)" : TextRepair;
    if (r->verdict.reason != SoundReasonMissing)
        snprintf(line, LineCapacity, TextHeaderNotSet, name, action);
    else
        snprintf(line, LineCapacity, TextHeaderMissing, name, r->verdict.missingBytes, action);
    Line(sink, line);
    if (r->action == ScanActionFailed) {
        snprintf(line, LineCapacity, TextCannotAccess, name);
        Line(sink, line);
        char text[160];
        if (r->change != FileChangeNone) {
            snprintf(text, sizeof(text), "not repaired: still being written? (%s)", File_ChangeText(r->change));
            Note(sink, name, text);
        } else if (r->why == ScanWhyNotJournaled) {
            snprintf(text, sizeof(text), "not repaired: the journal could not be written (%s)",
                     r->osError != 0 ? File_ErrorText(r->osError) : "see above");
            Note(sink, name, text);
        } else if (r->osError != 0) {
            snprintf(text, sizeof(text), "not repaired: %s", File_ErrorText(r->osError));
            Note(sink, name, text);
        }
    } else if (r->action == ScanActionRepaired) {
        char format[96];
        SoundFile_DescribeFormat(format, sizeof(format), r->verdict.sampleRate, r->verdict.channels, r->durationMs);
        snprintf(line, LineCapacity, "%s %s", name, format);
        Line(sink, line);
        if (r->verdict.partialKept > 0) {
            char text[192];
            snprintf(text, sizeof(text),
                     "%" PRId64 " bytes of a partial last frame kept: it changed within %d s and may still be "
                     "growing; a scan once it has been quiet that long cuts them",
                     r->verdict.partialKept, SoundFileSettleMs / 1000);
            Note(sink, name, text);
        }
    }
}

}  // namespace

void ScanRender_Report(const ScanResult* r, const char* path, const char* name, char* reason, size_t capacity,
                       ScanFileReport* out)
{
    Mem_Zero(out, sizeof(*out));
    out->path = path;
    out->name = name;
    out->action = r->action;
    out->reason = Why(r, reason, capacity);
    out->framesBefore = -1;
    out->framesAfter = -1;
    const SoundFileVerdict* v = &r->verdict;
    if (!r->read || v->container == SoundContainerNone)
        return;
    out->container = v->container;
    out->encoding = v->encoding;
    out->sampleRate = v->sampleRate;
    out->channels = v->channels;
    out->bitsPerSample = v->bitsPerSample;
    out->declaredBytes = v->declaredBytes;
    out->presentBytes = v->sampleBytes;
    out->missingBytes = v->state == SoundVerdictCutShort ? v->missingBytes : 0;
    out->framesBefore = v->frames;
    out->framesAfter = r->framesAfter;
}

void ScanRender_Give(const ScanResult* r, const char* path, const char* name, const ScanRenderSink* sink)
{
    if (r->action == ScanActionNone)
        return;
    char line[LineCapacity];
    char reason[LineCapacity];
    const SoundFileVerdict* v = &r->verdict;
    const int isFile = !r->unreported;
    if (r->action == ScanActionNotExamined) {
        // A recorder may hold it: the log says so as it does for a failure.
        if (v->reason == SoundReasonCannotOpen && v->refusal.value == FileOpenFailInUse) {
            snprintf(line, LineCapacity, TextCannotAccess, name);
            Line(sink, line);
        }
        if (r->why == ScanWhySameFile) {
            Note(sink, name, Why(r, reason, sizeof(reason)));
        } else {
            snprintf(line, LineCapacity, "not examined: %s", Why(r, reason, sizeof(reason)));
            Note(sink, name, line);
        }
    } else if (v->state == SoundVerdictShort) {
        ShortLines(r, name, sink, line);
    } else if (v->state == SoundVerdictUnreadable) {
        snprintf(line, LineCapacity, TextCannotAccess, name);
        Line(sink, line);
    } else if (v->state != SoundVerdictNoSamples) {
        snprintf(line, LineCapacity, TextHeaderOk, name);
        Line(sink, line);
        if (v->state == SoundVerdictCutShort)
            Note(sink, name, Why(r, reason, sizeof(reason)));
    }
    if ((r->flags & WavFlagBeyond32) && (r->action == ScanActionOk || r->action == ScanActionRepaired))
        Note(sink, name,
             "more than 4 GiB of samples in a plain RIFF file: programs that stop at 4 GiB see only part of them");
    if (isFile && sink->report != nullptr) {
        ScanFileReport report;
        ScanRender_Report(r, path, name, reason, sizeof(reason), &report);
        sink->report(&report, sink->reportContext);
    }
}

const char* ScanRender_Summary(const ScanOutcomes* o, int32_t checkOnly, char* out, size_t capacity)
{
    size_t at = 0;
    out[0] = '\0';
    for (size_t i = 0; i < ScanOutcomeFieldCount && at < capacity; ++i) {
        const ScanOutcomeField* f = &ScanOutcomeFields[i];
        const int64_t n = ScanOutcomes_Get(o, f);
        const int shown = f->shown == ScanShownAlways || (f->shown == ScanShownRepairing && !checkOnly) ||
                          (f->shown == ScanShownChecking && checkOnly) || (f->shown == ScanShownWhenAny && n > 0);
        if (!shown)
            continue;
        const char* glue = i == 0 ? "" : i == 1 ? ": " : ", ";
        at += size_t(snprintf(out + at, capacity - at, "%s%" PRId64 " %s", glue, n, n == 1 ? f->one : f->many));
    }
    return out;
}
