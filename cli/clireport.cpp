#include "clireport.h"

#include "jsonline.h"
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
    case SoundContainerWav:
        return "wav";
    case SoundContainerRf64:
        return "rf64";
    case SoundContainerBw64:
        return "bw64";
    case SoundContainerWave64:
        return "w64";
    case SoundContainerAiff:
        return "aiff";
    case SoundContainerAifc:
        return "aifc";
    default:
        return nullptr;
    }
}

static const char* encodingName(int32_t encoding)
{
    switch (encoding) {
    case SoundEncodingUnsigned:
        return "unsigned";
    case SoundEncodingFloat:
        return "float";
    case SoundEncodingALaw:
        return "alaw";
    case SoundEncodingMuLaw:
        return "mulaw";
    case SoundEncodingImaAdpcm:
        return "ima-adpcm";
    case SoundEncodingMsAdpcm:
        return "ms-adpcm";
    case SoundEncodingGsm610:
        return "gsm610";
    case SoundEncodingMpeg:
        return "mpeg";
    case SoundEncodingOther:
        return "other";
    default:
        return "signed";
    }
}

// A count that may not be known.
static nlohmann::json known(int64_t value)
{
    return value >= 0 ? nlohmann::json(value) : nlohmann::json(nullptr);
}

int32_t CliReport_File(FILE* out, const ScanFileReport* report)
{
    nlohmann::json line = nlohmann::json::object();
    line["type"] = "file";
    Json_PutName(&line, "path", report->path);
    Json_PutName(&line, "name", report->name);
    const char* container = containerName(report->container);
    line["action"] = actionName(report->action);
    if (report->reason != nullptr && report->reason[0] != '\0')
        line["reason"] = report->reason;
    else
        line["reason"] = nullptr;
    if (container == nullptr) {
        // Not read: nothing is known of its samples.
        for (const char* key : {"container", "rate", "channels", "bits", "encoding", "declared_bytes",
                                "present_bytes", "missing_bytes", "frames_before", "frames_after"})
            line[key] = nullptr;
    } else {
        line["container"] = container;
        line["rate"] = report->sampleRate;
        line["channels"] = report->channels;
        // Compressed formats may state no sample size.
        line["bits"] = report->bitsPerSample > 0 ? nlohmann::json(report->bitsPerSample) : nlohmann::json(nullptr);
        line["encoding"] = encodingName(report->encoding);
        line["declared_bytes"] = report->declaredBytes;
        line["present_bytes"] = report->presentBytes;
        line["missing_bytes"] = report->missingBytes > 0 ? nlohmann::json(report->missingBytes) : nlohmann::json(nullptr);
        line["frames_before"] = known(report->framesBefore);
        line["frames_after"] = known(report->framesAfter);
    }
    return Json_WriteLine(out, line);
}

int32_t CliReport_Summary(FILE* out, const ScanOutcomes* outcomes, int32_t checkOnly, int32_t interrupted,
                          int32_t exitStatus)
{
    nlohmann::json line = nlohmann::json::object();
    line["type"] = "summary";
    line["check_only"] = checkOnly != 0;
    for (size_t i = 0; i < ScanOutcomeFieldCount; ++i)
        line[ScanOutcomeFields[i].key] = ScanOutcomes_Get(outcomes, &ScanOutcomeFields[i]);
    line["interrupted"] = interrupted != 0;
    line["exit_status"] = exitStatus;
    return Json_WriteLine(out, line);
}

int32_t CliReport_Rebuild(FILE* out, const RebuildJob* job, int32_t rebuilt)
{
    nlohmann::json line = nlohmann::json::object();
    line["type"] = "rebuild";
    Json_PutName(&line, "path", job->path);
    line["action"] = rebuilt ? "rebuilt" : "refused";
    // A forced take keeps the verdict it overrode as its reason.
    if (job->reason[0] != '\0')
        line["reason"] = job->reason;
    else
        line["reason"] = nullptr;
    if (rebuilt)
        Json_PutName(&line, "output", job->outputPath);
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
    return Json_WriteLine(out, line);
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
    return Json_WriteLine(out, line);
}
