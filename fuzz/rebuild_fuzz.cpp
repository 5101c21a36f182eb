// The rebuild on any bytes. The first input byte picks the sibling's name
// (WAV, AIFF or AIFF-C) and, in its upper bits, a layout for the score; the
// rest is both the sibling and the take. Then the promises are checked:
// - a sibling the readers open either gives a template or a reason;
// - a header built from a template opens again with our reader, with the
//   template's channels, the frames asked for and its samples right behind;
// - the score stays inside the frame it was asked about and between its
//   bounds, whatever the bytes, and never reads past them.
#include <math.h>

#include "fuzz_support.h"
#include "rebuild.h"
#include "soundfile.h"

namespace {

const char* const Names[] = {"sibling.wav", "sibling.aif", "sibling.aifc", "sibling.bwf"};

int32_t ReadInput(void* context, uint64_t pos, uint8_t* buffer, uint32_t count)
{
    const Bytes* b = static_cast<const Bytes*>(context);
    FUZZ_CHECK(pos <= b->size() && b->size() - pos >= count, "read past the input: %llu + %u of %zu",
               static_cast<unsigned long long>(pos), count, b->size());
    memcpy(buffer, b->data() + pos, count);
    return 0;
}

void CheckScore(const SampleLayout& layout, const Bytes& bytes, uint64_t nominal)
{
    AlignScore s;
    memset(&s, 0, sizeof(s));
    s.layout = layout;
    s.nominalStart = nominal;
    s.end = bytes.size();
    s.read = ReadInput;
    s.context = const_cast<Bytes*>(&bytes);
    const int32_t verdict = AlignScore_Run(&s);
    FUZZ_CHECK(verdict >= AlignAudio && verdict <= AlignBadLayout, "verdict %d", verdict);
    FUZZ_CHECK(s.start >= nominal && s.start - nominal < (layout.sampleBytes ? layout.sampleBytes : 1u),
               "start %llu outside the sample at %llu", static_cast<unsigned long long>(s.start),
               static_cast<unsigned long long>(nominal));
    FUZZ_CHECK(s.roughness >= 0 && s.roughness <= 2 && s.otherRoughness >= 0 && s.otherRoughness <= 2,
               "roughness %f, other %f", s.roughness, s.otherRoughness);
    const double score = AlignScore_Score(&s);
    FUZZ_CHECK(score >= 0 && score <= 1, "score %f", score);
}

void CheckHeader(const RebuildTemplate& t, uint64_t frames)
{
    RebuildShape shape;
    const uint64_t bytes = frames * t.blockAlign;
    if (Rebuild_BuildHeader(&t, bytes, 0, &shape) != RebuildOk)
        return;
    FUZZ_CHECK(shape.headerLength <= RebuildHeaderCapacity, "header of %u bytes", shape.headerLength);
    FUZZ_CHECK(shape.totalBytes == shape.headerLength + bytes + shape.padBytes, "total %llu",
               static_cast<unsigned long long>(shape.totalBytes));
    const std::string path = FuzzScratch() + "/rebuilt" + t.extension;
    FUZZ_CHECK(WriteFileBytes(path, Cat({Bytes(shape.header, shape.header + shape.headerLength),
                                         PatternBytes(size_t(bytes)), Bytes(shape.padBytes, 0)})),
               "cannot write %s", path.c_str());
    static SoundFile file;
    memset(&file, 0, sizeof(file));
    FUZZ_CHECK(SoundFile_Open(&file, path.c_str(), SoundFileOpenReadShared) == 0 && file.isOpen,
               "the rebuilt header does not open: %s", file.errorText);
    FUZZ_CHECK(file.info.channels == t.layout.channels && file.info.frameCount == int64_t(frames) &&
                   SoundFile_GetDataOffset(&file) == shape.headerLength,
               "read back %d ch, %lld frames at %u", file.info.channels, static_cast<long long>(file.info.frameCount),
               SoundFile_GetDataOffset(&file));
    SoundFile_Close(&file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t pick = data[0];
    const Bytes bytes(data + 1, data + size);
    const std::string sibling = FuzzScratch() + "/" + Names[pick & 3];
    FuzzWrite(sibling, bytes.data(), bytes.size());
    static RebuildTemplate t;
    if (Rebuild_ReadTemplate(&t, sibling.c_str()) == RebuildOk) {
        FUZZ_CHECK(SampleLayout_IsValid(&t.layout) && t.blockAlign == t.layout.channels * t.layout.sampleBytes,
                   "template of %u bytes per frame", unsigned(t.blockAlign));
        CheckHeader(t, 1 + (pick >> 2));
        CheckScore(t.layout, bytes, t.dataOffset);
    } else {
        FUZZ_CHECK(t.reason[0] != '\0', "a sibling refused without a reason");
    }
    // Any layout, any start, on the same bytes.
    static const int32_t Encodings[] = {SampleEncodingInteger, SampleEncodingUnsigned8, SampleEncodingFloat};
    SampleLayout any;
    any.channels = uint16_t(1 + (pick >> 5));
    any.sampleBytes = uint16_t(1 + ((pick >> 2) & 7));
    any.encoding = Encodings[(pick >> 2) % 3];
    any.bigEndian = pick & 1;
    CheckScore(any, bytes, bytes.size() > 1 ? bytes[0] % bytes.size() : 0);
    return 0;
}
