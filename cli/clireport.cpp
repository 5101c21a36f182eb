#include "clireport.h"

#include "clijson.h"
#include "soundfile.h"

static const char* actionName(int32_t action)
{
    switch (action) {
    case ScanActionOk:
        return "ok";
    case ScanActionRepaired:
        return "repaired";
    case ScanActionNeedsRepair:
        return "needs-repair";
    case ScanActionFailed:
        return "failed";
    default:
        return "not-examined";
    }
}

static const char* containerName(int32_t container)
{
    switch (container) {
    case ScanContainerWav:
        return "wav";
    case ScanContainerRf64:
        return "rf64";
    case ScanContainerAiff:
        return "aiff";
    case ScanContainerAifc:
        return "aifc";
    default:
        return nullptr;
    }
}

static const char* encodingName(int32_t encoding)
{
    switch (encoding) {
    case SampleEncodingUnsigned8:
        return "unsigned";
    case SampleEncodingFloat:
        return "float";
    default:
        return "signed";
    }
}

int32_t CliReport_File(FILE* out, const ScanFileReport* report)
{
    nlohmann::json line = nlohmann::json::object();
    line["type"] = "file";
    CliJson_PutName(&line, "path", report->path);
    CliJson_PutName(&line, "name", report->name);
    const char* container = containerName(report->container);
    line["action"] = actionName(report->action);
    if (report->reason != nullptr && report->reason[0] != '\0')
        line["reason"] = report->reason;
    else
        line["reason"] = nullptr;
    if (container == nullptr) {
        // Not read: nothing is known of its samples.
        for (const char* key : {"container", "rate", "channels", "bits", "encoding", "declared_bytes",
                                "present_bytes", "frames_before", "frames_after"})
            line[key] = nullptr;
    } else {
        line["container"] = container;
        line["rate"] = report->sampleRate;
        line["channels"] = report->channels;
        line["bits"] = report->bitsPerSample;
        line["encoding"] = encodingName(report->sampleEncoding);
        line["declared_bytes"] = report->declaredBytes;
        line["present_bytes"] = report->presentBytes;
        line["frames_before"] = report->framesBefore;
        line["frames_after"] = report->framesAfter;
    }
    return CliJson_WriteLine(out, line);
}

int32_t CliReport_Summary(FILE* out, const ScanOutcomes* outcomes, int32_t checkOnly, int32_t interrupted,
                          int32_t exitStatus)
{
    nlohmann::json line = nlohmann::json::object();
    line["type"] = "summary";
    line["check_only"] = checkOnly != 0;
    line["examined"] = outcomes->examined;
    line["ok"] = outcomes->headerOk;
    line["repaired"] = outcomes->repaired;
    line["needs_repair"] = outcomes->needRepair;
    line["failed"] = outcomes->failed;
    line["not_examined"] = outcomes->notOpened;
    line["no_samples"] = outcomes->noSamples;
    line["interrupted"] = interrupted != 0;
    line["exit_status"] = exitStatus;
    return CliJson_WriteLine(out, line);
}

int32_t CliReport_Rebuild(FILE* out, const RebuildJob* job, int32_t rebuilt)
{
    nlohmann::json line = nlohmann::json::object();
    line["type"] = "rebuild";
    CliJson_PutName(&line, "path", job->path);
    line["action"] = rebuilt ? "rebuilt" : "refused";
    // A forced take keeps the verdict it overrode as its reason.
    if (job->reason[0] != '\0')
        line["reason"] = job->reason;
    else
        line["reason"] = nullptr;
    if (rebuilt)
        CliJson_PutName(&line, "output", job->outputPath);
    else
        line["output"] = nullptr;
    const RebuildTemplate* t = job->sibling;
    line["rate"] = t->sampleRate;
    line["channels"] = t->layout.channels;
    line["bits"] = t->bitsPerSample;
    // Each fact only where the rebuild got as far as learning it.
    if (job->score.read != nullptr) {
        line["start"] = job->score.start;
        line["score"] = AlignScore_Score(&job->score);
        line["channel_order_guess"] = job->channelOrderGuess != 0;
    } else {
        for (const char* key : {"start", "score", "channel_order_guess"})
            line[key] = nullptr;
    }
    if (job->frames > 0)
        line["frames"] = job->frames;
    else
        line["frames"] = nullptr;
    return CliJson_WriteLine(out, line);
}

int32_t CliReport_RebuildSummary(FILE* out, int64_t rebuilt, int64_t refused, int32_t interrupted, int32_t exitStatus)
{
    nlohmann::json line = nlohmann::json::object();
    line["type"] = "summary";
    line["files"] = rebuilt + refused;
    line["rebuilt"] = rebuilt;
    line["refused"] = refused;
    line["interrupted"] = interrupted != 0;
    line["exit_status"] = exitStatus;
    return CliJson_WriteLine(out, line);
}
