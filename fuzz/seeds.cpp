// Writes the seed corpora of the fuzz targets: small files of every layout the
// readers know, healthy and damaged, so that fuzzing starts from real shapes.
// Usage: fuzz_seeds OUTDIR  (makes OUTDIR/wav, OUTDIR/w64, OUTDIR/aiff, OUTDIR/repair)
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

#include "testfiles.h"

namespace {

typedef std::vector<std::pair<std::string, Bytes>> Seeds;

Seeds WavSeeds()
{
    const Bytes stereo = FmtChunk(2, 44100, 16);
    const Bytes samples = PatternBytes(403);
    ByteWriter ext;
    ext.raw(WavFmtBody(0xFFFE, 2, 48000, 24)).u16(22).u16(24).u32(3).fill(16, 0x20);
    ByteWriter list;
    list.text("INFO").raw(Chunk("ICMT", Bytes{'t', 'a', 'k', 'e', ' ', '1', 0}, false, true));
    const Bytes listChunk = Chunk("LIST", list.bytes);
    const Bytes ds64 = Chunk("ds64", Ds64Body(0, 0, 0));
    const Bytes ds64Table = Chunk("ds64", Ds64Body(0, 100, 0, 12, 0x11, 1));
    return {
        {"unfinished", BuildWav({stereo}, samples, 0)},
        {"short", BuildWav({stereo}, samples, 100)},
        // Every whole frame declared, a partial one behind: the cut alone completes it.
        {"stray-bytes", BuildWav({stereo}, samples, 400)},
        {"healthy", BuildWav({stereo}, Slice(samples, 0, 400))},
        {"list-behind", BuildWav({stereo}, PatternBytes(400), -1, listChunk)},
        {"odd-data-pad", RiffFile({FmtChunk(1, 8000, 8), Chunk("data", PatternBytes(41), false, true), listChunk})},
        {"placeholder", BuildWav({stereo}, samples, 0xFFFFFFFF)},
        {"bext", BuildWav({Chunk("bext", PatternBytes(603, 7), false, true), stereo}, samples, 0)},
        {"junk-reservation", BuildWav({Chunk("JUNK", Bytes(28, 0)), stereo}, samples, 0)},
        {"extensible", BuildWav({Chunk("fmt ", ext.bytes)}, PatternBytes(301), 0)},
        {"float", BuildWav({Chunk("fmt ", WavFmtBody(3, 1, 96000, 32))}, PatternBytes(43), 8)},
        {"float-fact", BuildWav({Chunk("fmt ", WavFmtBody(3, 2, 48000, 32)), Chunk("fact", Bytes(4, 0))}, PatternBytes(83), 0)},
        {"space-pad", BuildWav({Chunk("LIST", Bytes(5, 'a'), false, false), Bytes(1, ' '), stereo}, samples, 0)},
        {"eight-bit", BuildWav({FmtChunk(1, 8000, 8)}, PatternBytes(37), 0)},
        {"odd-chunk-padded", BuildWav({Chunk("odd ", PatternBytes(5), false, true), stereo}, samples, 0)},
        {"odd-chunk-unpadded", BuildWav({Chunk("odd ", PatternBytes(5)), stereo}, samples, 0)},
        {"rf64", BuildWav({ds64, stereo}, samples, 0xFFFFFFFF, Bytes(), 0xFFFFFFFF, "RF64")},
        {"rf64-table", BuildWav({ds64Table, stereo}, samples, 0xFFFFFFFF, Bytes(), 0xFFFFFFFF, "RF64")},
        {"rf64-data-size", BuildWav({ds64, stereo}, samples, 200, Bytes(), 0xFFFFFFFF, "RF64")},
        // Metadata written behind samples whose size was never set.
        {"unset-list-behind", BuildWav({stereo}, PatternBytes(400), 0, Cat({listChunk, Chunk("id3 ", PatternBytes(9), false, true)}))},
        {"unset-odd-pad-list", RiffFile({FmtChunk(1, 8000, 8), ChunkHead("data", 0), PatternBytes(41), Bytes(1, 0), listChunk})},
        {"sox-placeholder", BuildWav({stereo}, samples, 0x7FFFF000)},
        {"list-then-stub", BuildWav({stereo}, PatternBytes(400), -1, Cat({listChunk, Bytes{'i', 'd', '3', ' '}}))},
        {"ima-adpcm", BuildWav({Chunk("fmt ", WavFmtBody(0x11, 1, 8000, 4, 256)), Chunk("fact", Bytes{0xF9, 1, 0, 0})}, PatternBytes(512), 0, listChunk)},
        {"mp3", BuildWav({Chunk("fmt ", WavFmtBody(0x55, 1, 8000, 0, 1152))}, PatternBytes(1152))},
        {"zeros-after-fmt", Cat({RiffFile({stereo}), Bytes(256, 0)})},
        {"bw64", BuildWav({ds64Table, Chunk("chna", PatternBytes(44, 3)), stereo}, samples, 0xFFFFFFFF, Bytes(),
                          0xFFFFFFFF, "BW64")},
        {"bw64-axml-behind", BuildWav({Chunk("ds64", Ds64Body(0, 400, 0)), stereo}, PatternBytes(400), 0xFFFFFFFF,
                                      Chunk("axml", PatternBytes(31, 4), false, true), 0xFFFFFFFF, "BW64")},
        {"adm-junk-chna", BuildWav({Chunk("JUNK", Bytes(40, 0)), stereo, Chunk("chna", Bytes(44, 0))}, samples, 0)},
    };
}

Seeds Wave64Seeds()
{
    const Bytes stereo = Wave64Chunk("fmt ", WavFmtBody(1, 2, 44100, 16));
    const Bytes mono = Wave64Chunk("fmt ", WavFmtBody(1, 1, 44100, 16));
    const Bytes samples = PatternBytes(403);
    ByteWriter info;
    info.text("INFO").raw(Chunk("ICMT", Bytes{'t', 'a', 'k', 'e', 0}, false, true));
    const Bytes list = Wave64Chunk("list", info.bytes);
    return {
        {"healthy", BuildWave64({stereo}, Slice(samples, 0, 400))},
        {"sox-unfinished", BuildWave64({stereo}, samples, 24, {}, 0)},
        {"ffmpeg-placeholder", BuildWave64({stereo}, samples, INT64_MAX, {}, INT64_MAX)},
        {"short", BuildWave64({stereo}, samples, 24 + 100)},
        {"list-behind", BuildWave64({mono}, Slice(samples, 0, 402), -1, {list})},
        {"unset-list-behind",
         BuildWave64({mono}, Slice(samples, 0, 402), 24, {list, Wave64Chunk("levl", Bytes(5, 1))})},
        {"float-fact", BuildWave64({Wave64Chunk("fmt ", WavFmtBody(3, 2, 48000, 32)), Wave64Chunk("fact", Bytes(8, 0))},
                                   samples, 24)},
        {"bext", BuildWave64({Wave64Chunk("bext", PatternBytes(603, 7)), stereo}, samples, 24)},
        // An unknown GUID of 32 bytes in all, skipped by its size.
        {"junk-unknown", BuildWave64({Wave64Chunk("junk", Bytes(20, 0)),
                                      Cat({PatternBytes(16, 9), Bytes{32, 0, 0, 0, 0, 0, 0, 0}, Bytes(8, 1)}), stereo},
                                     samples, 24)},
        {"undersized", BuildWave64({Wave64Head("junk", 8), stereo}, samples)},
    };
}

Seeds AiffSeeds()
{
    Seeds out;
    AiffLayout plain;
    plain.ssndSize = 8;  // as a recorder that never came back leaves it
    plain.offsetFill = 0x55;
    plain.samples = PatternBytes(403);
    out.push_back({"unfinished", BuildAiff(plain)});
    AiffLayout shortCount = plain;
    shortCount.frames = 25;
    shortCount.ssndSize = 8 + 100;
    out.push_back({"short", BuildAiff(shortCount)});
    AiffLayout healthy = plain;
    healthy.samples = PatternBytes(400);
    healthy.frames = 100;
    healthy.ssndSize = 408;
    healthy.after = {Chunk("ANNO", Bytes{'h', 'i', '!'}, true, true)};
    out.push_back({"healthy-anno-behind", BuildAiff(healthy)});
    AiffLayout named = plain;
    named.between = {Chunk("NAME", Bytes{'t', 'a', 'k', 'e'}, true), Chunk("odd ", PatternBytes(3), true, true)};
    out.push_back({"chunks-before", BuildAiff(named)});
    AiffLayout blocks = plain;
    blocks.ssndOffset = 4;
    blocks.blockSize = 512;
    out.push_back({"offset-blocksize", BuildAiff(blocks)});
    AiffLayout neverSized = plain;
    neverSized.ssndSize = 0;
    out.push_back({"ssnd-size-0", BuildAiff(neverSized)});
    AiffLayout bounded = plain;
    bounded.ssndSize = -1;
    bounded.after = {Chunk("ID3 ", PatternBytes(33, 2), true, true)};
    out.push_back({"id3-behind-ssnd", BuildAiff(bounded)});
    for (const char* type : {"NONE", "twos", "sowt", "raw ", "in24", "in32", "fl32", "FL32", "fl64", "FL64", "ima4"}) {
        AiffLayout c = plain;
        c.compression = type;
        c.samples = PatternBytes(384);
        std::string name = std::string("aifc-") + type;
        if (name.back() == ' ')
            name.pop_back();
        out.push_back({name, BuildAiff(c)});
    }
    AiffLayout trailer = plain;
    trailer.ssndSize = 0;
    trailer.after = {Chunk("COMT", PatternBytes(9, 3), true, true), Chunk("MARK", Bytes(2, 0), true)};
    out.push_back({"unset-comt-behind", BuildAiff(trailer)});
    AiffLayout pipe = plain;
    pipe.frames = 0x1FC00000;
    pipe.ssndSize = 0x7F000008;
    out.push_back({"sox-placeholder", BuildAiff(pipe)});
    AiffLayout stray = blocks;
    stray.frames = 100;
    out.push_back({"stray-bytes-blocksize", BuildAiff(stray)});
    AiffLayout wide = plain;
    wide.channels = 1;
    wide.sampleSize = 24;
    wide.samples = PatternBytes(301);
    out.push_back({"24-bit", BuildAiff(wide)});
    AiffLayout twelve = plain;
    twelve.channels = 3;
    twelve.sampleSize = 12;
    out.push_back({"12-bit", BuildAiff(twelve)});
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
    MakeDir(folder);
    for (const auto& s : seeds)
        if (!WriteFileBytes(folder + "/" + s.first, Cat({prefix, s.second})))
            return false;
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
    MakeDir(out);
    Seeds wav = WavSeeds();
    Seeds w64 = Wave64Seeds();
    Seeds aiff = AiffSeeds();
    // The repair target takes a first byte whose three low bits pick the
    // name (0 .wav, 2 .aif, 4 .w64, 5 .bw64) and whose upper five bits a
    // fault plan, with n - 1 in a second byte (see FaultPlan in
    // repair_fuzz.cpp).
    const uint8_t NameWav = 0, NameAif = 2, NameW64 = 4, NameBw64 = 5;
    Seeds repairWav, repairW64, repairAiff;
    for (const auto& s : wav)
        repairWav.push_back({"wav-" + s.first, s.second});
    for (const auto& s : w64)
        repairW64.push_back({"w64-" + s.first, s.second});
    for (const auto& s : aiff)
        repairAiff.push_back({"aiff-" + s.first, s.second});
    const std::pair<uint8_t, Seeds> faults[] = {
        {NameWav,
         {{"fault-wav-unfinished", Find(wav, "unfinished")}, {"fault-wav-rf64", Find(wav, "rf64")},
          {"fault-wav-list-behind", Find(wav, "list-behind")}, {"fault-wav-stray", Find(wav, "stray-bytes")}}},
        {NameBw64, {{"fault-bw64", Find(wav, "bw64")}}},
        {NameW64,
         {{"fault-w64-sox", Find(w64, "sox-unfinished")}, {"fault-w64-ffmpeg", Find(w64, "ffmpeg-placeholder")}}},
        {NameAif,
         {{"fault-aiff-padded", Find(aiff, "offset-blocksize")},
          {"fault-aiff-stray", Find(aiff, "stray-bytes-blocksize")}}},
    };
    bool ok = Save(out + "/wav", wav, {}) && Save(out + "/w64", w64, {}) && Save(out + "/aiff", aiff, {}) &&
              Save(out + "/repair", repairWav, {NameWav}) && Save(out + "/repair", repairW64, {NameW64}) &&
              Save(out + "/repair", repairAiff, {NameAif});
    const uint8_t plans[][2] = {{1 << 3, 3}, {2 << 3, 0}, {4 << 3, 0}, {5 << 3, 1}, {(1 | 8) << 3, 4}, {16 << 3, 1}};
    for (const auto& plan : plans) {
        std::string tag = "-" + std::to_string(plan[0]) + "-" + std::to_string(plan[1]);
        for (const auto& f : faults) {
            Seeds tagged;
            for (const auto& s : f.second)
                tagged.push_back({s.first + tag, s.second});
            ok = ok && Save(out + "/repair", tagged, {uint8_t(plan[0] | f.first), plan[1]});
        }
    }
    // The rebuild target: the same files as siblings, the first byte's two
    // low bits picking the name (0 .wav, 1 .aif), the rest a layout.
    ok = ok && Save(out + "/rebuild", wav, {0x24}) && Save(out + "/rebuild", aiff, {0x25});
    if (!ok) {
        fprintf(stderr, "fuzz_seeds: cannot write into %s\n", out.c_str());
        return 1;
    }
    return 0;
}
