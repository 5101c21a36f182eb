// The words for what an examination found: why a file is refused, how a
// header falls short, which encoding a take uses.
#include "render.h"

#include <inttypes.h>
#include <stdio.h>

#include "fileio.h"

namespace {

const char* FamilyName(int32_t container)
{
    switch (container) {
    case SoundContainerAiff:
    case SoundContainerAifc:
        return "an AIFF";
    case SoundContainerRf64:
        return "an RF64";
    case SoundContainerBw64:
        return "a BW64";
    case SoundContainerWave64:
        return "a Wave64";
    default:
        return "a WAV or RF64";
    }
}

// Four bytes as the user can read them: as text when printable, else hex.
void Shown(const uint8_t* bytes, uint32_t count, char* out, size_t capacity)
{
    int printable = count > 0;
    for (uint32_t i = 0; i < count; ++i)
        printable = printable && bytes[i] >= 0x20 && bytes[i] < 0x7F;
    if (printable) {
        snprintf(out, capacity, "'%.*s'", int(count), reinterpret_cast<const char*>(bytes));
        return;
    }
    size_t at = 0;
    out[0] = '\0';
    for (uint32_t i = 0; i < count && at + 4 < capacity; ++i)
        at += size_t(snprintf(out + at, capacity - at, i == 0 ? "%02X" : " %02X", bytes[i]));
}

const char* CompressedName(int32_t encoding)
{
    switch (encoding) {
    case SoundEncodingImaAdpcm:
        return "IMA ADPCM";
    case SoundEncodingMsAdpcm:
        return "MS ADPCM";
    case SoundEncodingGsm610:
        return "GSM 6.10";
    case SoundEncodingMpeg:
        return "MPEG audio";
    case SoundEncodingALaw:
        return "A-law";
    case SoundEncodingMuLaw:
        return "mu-law";
    default:
        return nullptr;
    }
}

}  // namespace

const char* ScanRender_EncodingName(const SoundFileVerdict* v, char* out, size_t capacity)
{
    const char* named = CompressedName(v->encoding);
    uint8_t type[4] = {uint8_t(v->formatTag >> 24), uint8_t(v->formatTag >> 16), uint8_t(v->formatTag >> 8),
                       uint8_t(v->formatTag)};
    char id[24];
    Shown(type, 4, id, sizeof(id));
    if (v->container == SoundContainerAifc && v->encoding >= SoundEncodingCompressed)
        snprintf(out, capacity, "%s%sAIFF-C %s", named != nullptr ? named : "", named != nullptr ? ", " : "", id);
    else if (named != nullptr && v->encoding == SoundEncodingMpeg && v->formatTag == 0x55)
        snprintf(out, capacity, "MP3");
    else if (named != nullptr)
        snprintf(out, capacity, "%s", named);
    else if (v->encoding == SoundEncodingFloat)
        snprintf(out, capacity, "%d-bit float", int(v->bitsPerSample));
    else if (v->encoding == SoundEncodingSigned || v->encoding == SoundEncodingUnsigned)
        snprintf(out, capacity, "%d-bit PCM", int(v->bitsPerSample));
    else
        snprintf(out, capacity, "format 0x%04X", unsigned(v->formatTag & 0xFFFF));
    return out;
}

const char* ScanRender_Reason(const SoundFileVerdict* v, char* out, size_t capacity)
{
    const StreamRefusal* r = &v->refusal;
    char id[24];
    Shown(r->bytes, 4, id, sizeof(id));
    // The chunk a walk sought, as people name it: "data", "SSND".
    char sought[5] = {0, 0, 0, 0, 0};
    for (int i = 0; i < 4 && r->sought[i] > 0x20 && r->sought[i] < 0x7F; ++i)
        sought[i] = char(r->sought[i]);
    const uint64_t pos = r->pos;
    const int aiff = r->container == SoundContainerAiff || r->container == SoundContainerAifc;
    switch (v->reason) {
    case SoundReasonNotSet:
    case SoundReasonPlaceholder:
    case SoundReasonMissing: {
        int n = v->reason == SoundReasonNotSet        ? snprintf(out, capacity, "header not set")
                : v->reason == SoundReasonPlaceholder ? snprintf(out, capacity, "header not set (a placeholder size)")
                                                      : snprintf(out, capacity, "header missing %" PRId64 " bytes",
                                                                 v->missingBytes);
        if (v->partialKept > 0 && n > 0 && size_t(n) < capacity)
            snprintf(out + n, capacity - size_t(n), "; a partial last frame of %" PRId64 " bytes kept", v->partialKept);
        break;
    }
    case SoundReasonCannotOpen:
        snprintf(out, capacity, "cannot open (%s)",
                 r->value == FileOpenFailNone ? "path too long" : File_OpenFailureText(int(r->value)));
        break;
    case SoundReasonEmpty:
        snprintf(out, capacity, "empty (0 bytes)");
        break;
    case SoundReasonTruncated:
        Shown(r->bytes, r->value < 4 ? r->value : 4, id, sizeof(id));
        snprintf(out, capacity, "only %u bytes (%s): too short for %s header", unsigned(r->value), id,
                 FamilyName(r->container));
        break;
    case SoundReasonNotContainer:
        snprintf(out, capacity, "not %s file: it begins with %s", FamilyName(r->container), id);
        break;
    case SoundReasonWrongForm:
        if (r->container == SoundContainerWave64)
            snprintf(out, capacity, "not a Wave64 file: a riff of type %s", id);
        else if (aiff)
            snprintf(out, capacity, "not an AIFF file: a FORM of type %s", id);
        else
            snprintf(out, capacity, "not a WAV file: a RIFF form of type %s", id);
        break;
    case SoundReasonNoDs64:
        snprintf(out, capacity, "%s file without its ds64 chunk", FamilyName(r->container));
        break;
    case SoundReasonChunkSize:
        snprintf(out, capacity, "chunk %s at offset %" PRIu64 " declares a size below its own header", id, pos);
        break;
    case SoundReasonNoFormat:
        snprintf(out, capacity, "no fmt chunk before the samples at offset %" PRIu64, pos);
        break;
    case SoundReasonFormatShort:
        if (aiff)
            snprintf(out, capacity, "COMM chunk of %u bytes, too short", unsigned(r->value));
        else
            snprintf(out, capacity, "fmt chunk of %u bytes, too short (16 needed)", unsigned(r->value));
        break;
    case SoundReasonNoChannels:
        snprintf(out, capacity, "a channel count of 0");
        break;
    case SoundReasonNoFrameSize:
        if (aiff)
            snprintf(out, capacity, "no usable frame size (sample size %d)", int(int16_t(r->value)));
        else
            snprintf(out, capacity, "the fmt chunk gives a frame size of 0");
        break;
    case SoundReasonNoDataEnd:
        snprintf(out, capacity, "no %s chunk; the chunks end at the end of the file (offset %" PRIu64 ")", sought,
                 pos);
        break;
    case SoundReasonNoDataZeros:
        snprintf(out, capacity, "no %s chunk; zeros from offset %" PRIu64, sought, pos);
        break;
    case SoundReasonNoDataId:
        snprintf(out, capacity, "no %s chunk; no chunk id (%s) at offset %" PRIu64, sought, id, pos);
        break;
    case SoundReasonNoDataPast:
        snprintf(out, capacity, "no %s chunk; chunk %s at offset %" PRIu64 " runs past the end of the file", sought,
                 id, pos);
        break;
    case SoundReasonUnknownSize:
        snprintf(out, capacity, "chunk %s at offset %" PRIu64 " declares no size", id, pos);
        break;
    case SoundReasonSamplesFields:
        snprintf(out, capacity, "the SSND chunk at offset %" PRIu64 " ends before its sample data", pos);
        break;
    case SoundReasonCompressed: {
        char name[48];
        snprintf(out, capacity, "compressed (%s): not repaired", ScanRender_EncodingName(v, name, sizeof(name)));
        break;
    }
    case SoundReasonTooFar:
        snprintf(out, capacity, "a chunk beyond 4 GiB (offset %" PRIu64 ")", pos);
        break;
    default:
        snprintf(out, capacity, "a read failed at offset %" PRIu64, pos);
        break;
    }
    return out;
}
