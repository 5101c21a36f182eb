// Writes the seed corpora of the fuzz targets: small files of every layout the
// readers know, healthy and damaged, so that fuzzing starts from real shapes.
// Usage: fuzz_seeds OUTDIR  (makes OUTDIR/wav, OUTDIR/aiff, OUTDIR/repair)
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "chunkbuilder.h"

namespace {

typedef std::vector<std::pair<std::string, Bytes>> Seeds;

Bytes Cat(const std::vector<Bytes>& parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes DataHead(uint32_t size)
{
    ByteWriter w;
    w.text("data").u32(size);
    return w.bytes;
}

Bytes Ds64(uint64_t dataSize, uint32_t extra)
{
    ByteWriter w;
    w.u64(0).u64(dataSize).u64(0).u32(extra / 12).fill(extra, 0x11);
    return Chunk("ds64", w.bytes);
}

Seeds WavSeeds()
{
    const Bytes stereo = Chunk("fmt ", WavFmtBody(1, 2, 44100, 16));
    const Bytes samples = PatternBytes(403);
    ByteWriter ext;
    ext.raw(WavFmtBody(0xFFFE, 2, 48000, 24)).u16(22).u16(24).u32(3).fill(16, 0x20);
    ByteWriter list;
    list.text("INFO").raw(Chunk("ICMT", Bytes{'t', 'a', 'k', 'e', ' ', '1', 0}, false, true));
    const Bytes listChunk = Chunk("LIST", list.bytes);
    return {
        {"unfinished", RiffFile({stereo, DataHead(0), samples})},
        {"short", RiffFile({stereo, DataHead(100), samples})},
        // Every whole frame declared, a partial one behind: the cut alone completes it.
        {"stray-bytes", RiffFile({stereo, DataHead(400), samples})},
        {"healthy", RiffFile({stereo, DataHead(400), Bytes(samples.begin(), samples.begin() + 400)})},
        {"list-behind", RiffFile({stereo, Chunk("data", PatternBytes(400)), listChunk})},
        {"odd-data-pad", RiffFile({Chunk("fmt ", WavFmtBody(1, 1, 8000, 8)), Chunk("data", PatternBytes(41), false, true),
                                   listChunk})},
        {"placeholder", RiffFile({stereo, DataHead(0xFFFFFFFF), samples})},
        {"bext", RiffFile({Chunk("bext", PatternBytes(603, 7), false, true), stereo, DataHead(0), samples})},
        {"junk-reservation", RiffFile({Chunk("JUNK", Bytes(28, 0)), stereo, DataHead(0), samples})},
        {"extensible", RiffFile({Chunk("fmt ", ext.bytes), DataHead(0), PatternBytes(301)})},
        {"float", RiffFile({Chunk("fmt ", WavFmtBody(3, 1, 96000, 32)), DataHead(8), PatternBytes(43)})},
        {"eight-bit", RiffFile({Chunk("fmt ", WavFmtBody(1, 1, 8000, 8)), DataHead(0), PatternBytes(37)})},
        {"odd-chunk-padded", RiffFile({Chunk("odd ", PatternBytes(5), false, true), stereo, DataHead(0), samples})},
        {"odd-chunk-unpadded", RiffFile({Chunk("odd ", PatternBytes(5)), stereo, DataHead(0), samples})},
        {"rf64", RiffFile({Ds64(0, 0), stereo, DataHead(0xFFFFFFFF), samples}, 0xFFFFFFFF, "RF64")},
        {"rf64-table", RiffFile({Ds64(100, 12), stereo, DataHead(0xFFFFFFFF), samples}, 0xFFFFFFFF, "RF64")},
        {"rf64-data-size", RiffFile({Ds64(0, 0), stereo, DataHead(200), samples}, 0xFFFFFFFF, "RF64")},
    };
}

struct AiffShape {
    int16_t channels = 2;
    int16_t bits = 16;
    uint32_t frames = 0;
    uint32_t ssndSize = 8;  // as a recorder that never came back leaves it
    uint32_t offset = 0;
    uint32_t blockSize = 0;
    std::vector<Bytes> before;  // chunks between COMM and SSND
    Bytes samples;
    Bytes behind;  // bytes after the samples
};

Bytes Aiff(const AiffShape& s)
{
    ByteWriter ssnd(true);
    ssnd.text("SSND").u32(s.ssndSize).u32(s.offset).u32(s.blockSize).fill(s.offset, 0x55).raw(s.samples);
    std::vector<Bytes> chunks{Chunk("COMM", AiffCommBody(s.channels, s.frames, s.bits, 44100), true)};
    chunks.insert(chunks.end(), s.before.begin(), s.before.end());
    chunks.push_back(Cat({ssnd.bytes, s.behind}));
    return FormFile(chunks);
}

Seeds AiffSeeds()
{
    Seeds out;
    AiffShape plain;
    plain.samples = PatternBytes(403);
    out.push_back({"unfinished", Aiff(plain)});
    AiffShape shortCount = plain;
    shortCount.frames = 25;
    shortCount.ssndSize = 8 + 100;
    out.push_back({"short", Aiff(shortCount)});
    AiffShape healthy = plain;
    healthy.samples = PatternBytes(400);
    healthy.frames = 100;
    healthy.ssndSize = 408;
    healthy.behind = Chunk("ANNO", Bytes{'h', 'i', '!'}, true, true);
    out.push_back({"healthy-anno-behind", Aiff(healthy)});
    AiffShape named = plain;
    named.before = {Chunk("NAME", Bytes{'t', 'a', 'k', 'e'}, true), Chunk("odd ", PatternBytes(3), true, true)};
    out.push_back({"chunks-before", Aiff(named)});
    AiffShape blocks = plain;
    blocks.offset = 4;
    blocks.blockSize = 512;
    out.push_back({"offset-blocksize", Aiff(blocks)});
    AiffShape stray = blocks;
    stray.frames = 100;
    out.push_back({"stray-bytes-blocksize", Aiff(stray)});
    AiffShape wide = plain;
    wide.channels = 1;
    wide.bits = 24;
    wide.samples = PatternBytes(301);
    out.push_back({"24-bit", Aiff(wide)});
    AiffShape twelve = plain;
    twelve.channels = 3;
    twelve.bits = 12;
    out.push_back({"12-bit", Aiff(twelve)});
    return out;
}

Bytes Find(const Seeds& seeds, const std::string& name)
{
    for (const auto& s : seeds)
        if (s.first == name)
            return s.second;
    fprintf(stderr, "fuzz_seeds: no seed %s\n", name.c_str());
    exit(1);
}

bool Save(const std::string& folder, const Seeds& seeds, const Bytes& prefix)
{
    mkdir(folder.c_str(), 0755);
    for (const auto& s : seeds) {
        std::string path = folder + "/" + s.first;
        FILE* f = fopen(path.c_str(), "wb");
        if (f == nullptr)
            return false;
        for (uint8_t b : prefix)
            fputc(b, f);
        bool ok = fwrite(s.second.data(), 1, s.second.size(), f) == s.second.size();
        if (fclose(f) != 0 || !ok)
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_seeds OUTDIR\n");
        return 2;
    }
    std::string out = argv[1];
    mkdir(out.c_str(), 0755);
    Seeds wav = WavSeeds();
    Seeds aiff = AiffSeeds();
    // The repair target takes a first byte whose two low bits pick the name
    // (0 .wav, 2 .aif) and whose upper six bits a fault plan, with n - 1 in
    // a second byte (see FaultPlan in repair_fuzz.cpp).
    Seeds repairWav, repairAiff;
    for (const auto& s : wav)
        repairWav.push_back({"wav-" + s.first, s.second});
    for (const auto& s : aiff)
        repairAiff.push_back({"aiff-" + s.first, s.second});
    Seeds faultWav{{"fault-wav-unfinished", Find(wav, "unfinished")}, {"fault-wav-rf64", Find(wav, "rf64")},
                    {"fault-wav-list-behind", Find(wav, "list-behind")}, {"fault-wav-stray", Find(wav, "stray-bytes")}};
    Seeds faultAiff{{"fault-aiff-padded", Find(aiff, "offset-blocksize")},
                    {"fault-aiff-stray", Find(aiff, "stray-bytes-blocksize")}};
    bool ok = Save(out + "/wav", wav, {}) && Save(out + "/aiff", aiff, {}) && Save(out + "/repair", repairWav, {0}) &&
              Save(out + "/repair", repairAiff, {2});
    const uint8_t plans[][2] = {{1 << 2, 3}, {2 << 2, 0}, {4 << 2, 0}, {5 << 2, 1}, {(1 | 8) << 2, 4}, {16 << 2, 1}};
    for (const auto& plan : plans) {
        std::string tag = "-" + std::to_string(plan[0]) + "-" + std::to_string(plan[1]);
        Seeds w, a;
        for (const auto& s : faultWav)
            w.push_back({s.first + tag, s.second});
        for (const auto& s : faultAiff)
            a.push_back({s.first + tag, s.second});
        ok = ok && Save(out + "/repair", w, {plan[0], plan[1]}) &&
             Save(out + "/repair", a, {uint8_t(plan[0] | 2), plan[1]});
    }
    if (!ok) {
        fprintf(stderr, "fuzz_seeds: cannot write into %s\n", out.c_str());
        return 1;
    }
    return 0;
}
