// The whole examination and repair of one file, as the scan does it, on any
// bytes. The first input byte picks the file name (WAV, BWF, RF64, BW64,
// Wave64, AIFF or AIFF-C), the rest is the file. Then the promises are checked:
// - a file the scan leaves alone (no line, "HEADER OK !") is byte-for-byte
//   unchanged;
// - a repaired file keeps every byte of every whole frame where it was, its
//   header changes only in its size fields, it ends after the last whole
//   frame (AIFF: plus zero padding to the SSND block size), it opens again
//   declaring exactly those frames, and a second scan changes nothing;
// - no failure is reported on a disk that does not fail;
// - with a fault plan (see FaultPlan), the failing scan reports no repair
//   that did not happen and changes no file it does not report, and the
//   scan after it leaves the same promises kept.
#include <inttypes.h>
#include <unistd.h>

#include <algorithm>

#include "filefault.h"
#include "fuzz_support.h"
#include "scanworker.h"
#include "soundfile.h"
#include "texts.h"

namespace {

// Picked by the low three bits of the first input byte.
const char* const Names[] = {"take.wav", "take.bwf", "take.aif", "take.aiff",
                             "take.w64", "take.bw64", "take.rf64", "take.aifc"};

struct Layout {
    int opened;             // 1 when the file opened read-only
    int aiff;               // 1 for an AIFF file
    int64_t fileSize;       // length of the file
    int64_t dataEnd;        // where the samples end (before metadata behind them)
    int64_t dataOffset;     // first sample byte
    int64_t declared;       // whole-frame bytes the header declares
    int64_t missing;        // bytes the verdict says the header lacks
    int32_t reason;         // how the header falls short (SoundReason*)
    uint32_t blockAlign;    // bytes per frame
    uint32_t flags;         // WavFlag* of a WAV file
    uint32_t ds64Size;      // declared ds64 body size (RF64)
    uint32_t factOffset;    // WAV fact chunk's frame count; 0: none
    uint32_t factBytes;     // its width
    uint32_t commOffset;    // AIFF COMM body
    uint32_t ssndOffset;    // AIFF SSND offset field
    uint32_t ssndBlockSize; // AIFF SSND block size
    int healthy;            // 1 when the scan must leave it alone: the verdict is not short
};

// The file as the one examination sees it.
Layout Examine(const std::string& path)
{
    static SoundFile file;
    Layout l;
    memset(&l, 0, sizeof(l));
    memset(&file, 0, sizeof(file));
    SoundFile_Open(&file, path.c_str(), SoundFileOpenReadShared);
    SoundFileVerdict verdict;
    SoundFile_Examine(&file, &verdict);
    if (!file.isOpen)
        return l;
    l.opened = 1;
    l.aiff = file.kind == SoundFileKindAiff;
    l.fileSize = SoundFile_GetFileSize(&file);
    l.dataEnd = verdict.samplesEnd;
    l.dataOffset = int64_t(SoundFile_GetDataOffset(&file));
    l.declared = file.info.dataBytes;
    l.missing = verdict.missingBytes;
    l.reason = verdict.reason;
    if (l.aiff) {
        l.blockAlign = file.aiff.blockAlign;
        l.commOffset = file.aiff.commOffset;
        l.ssndOffset = file.aiff.ssndOffset;
        l.ssndBlockSize = file.aiff.ssndBlockSize;
    } else {
        l.blockAlign = file.wav.blockAlign;
        l.flags = file.wav.flags;
        l.ds64Size = file.wav.ds64Size;
        l.factOffset = file.wav.factOffset;
        l.factBytes = file.wav.factBytes;
    }
    l.healthy = verdict.state != SoundVerdictShort;
    SoundFile_Close(&file);
    return l;
}

std::vector<std::string> lines;

void OnLine(const char* line, void*)
{
    lines.push_back(line);
}

// jobs: 0 for the one-thread scan, 2 for the queue of a parallel one.
std::vector<std::string> Scan(const std::string& folder, int32_t jobs)
{
    static LogBuffer log;
    static ScanTarget target;
    static ScanOptions options;
    static int ready = 0;
    if (!ready)
        LogBuffer_Init(&log, 0x10000);
    LogBuffer_Reset(&log);
    snprintf(target.folderPath, sizeof(target.folderPath), "%s", folder.c_str());
    target.logBuffer = &log;
    lines.clear();
    if (!ready) {
        options.onLine = OnLine;
        ScanWorker_SetOptions(&options);
        // The first scan runs on the worker thread as the program does; it
        // leaves the run flag set, so later scans run the same body here,
        // without a thread per input.
        ScanWorker_Start(target.folderPath, &log);
        ScanWorker_Wait();
        ready = 1;
    } else {
        options.jobs = jobs;
        ScanWorker_SetOptions(&options);
        ScanWorker_Run(&target);
    }
    return lines;
}

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Header bytes a repair may rewrite: the size fields, and for a file read
// as RF64 the block that becomes RIFF with a JUNK filler.
bool MayChange(const Layout& l, int64_t at)
{
    if (l.flags & WavFlagWave64)
        return (at >= 16 && at < 24) || (at >= l.dataOffset - 8 && at < l.dataOffset) ||
               (l.factOffset != 0 && at >= int64_t(l.factOffset) && at < int64_t(l.factOffset) + l.factBytes);
    if (at >= 4 && at < 8)
        return true;
    if (l.aiff) {
        int64_t frames = int64_t(l.commOffset) + 2;
        int64_t ssndSize = l.dataOffset - int64_t(l.ssndOffset) - 12;
        return (at >= frames && at < frames + 4) || (at >= ssndSize && at < ssndSize + 4);
    }
    if (at >= l.dataOffset - 4 && at < l.dataOffset)
        return true;
    if (l.factOffset != 0 && at >= int64_t(l.factOffset) && at < int64_t(l.factOffset) + 4)
        return true;
    if (l.flags & WavFlagRf64)
        return at < 4 || (at >= 12 && at < 20 + int64_t(l.ds64Size));
    return false;
}

int64_t PadBytes(const Layout& l, int64_t end)
{
    // The close pads to block sizes up to 1 MiB only.
    if (!l.aiff || l.ssndBlockSize <= 1 || l.ssndBlockSize > 0x100000)
        return 0;
    int64_t rest = end % int64_t(l.ssndBlockSize);
    return rest == 0 ? 0 : int64_t(l.ssndBlockSize) - rest;
}

// The fault plan of an input: its first byte's upper five bits. 0: none.
// Otherwise bits 0-2 pick the class of file operation that fails (open,
// read, write, seek, cut, flush, size, close), bit 3 makes every later one
// of that class fail too, bit 4 instead imitates a crash before the nth
// write, cut or flush; the second byte gives n - 1.
struct FaultPlan {
    uint32_t countOps = 0;  // FileFault* classes counted
    uint32_t nth = 0;       // the call that fails; 0: no fault
    uint32_t after = 0;     // classes failing from then on
};

FaultPlan PlanOf(uint8_t bits, uint8_t n)
{
    FaultPlan plan;
    if (bits == 0)
        return plan;
    plan.nth = uint32_t(n) + 1;
    if (bits & 16) {
        plan.countOps = FileFaultWrite | FileFaultTruncate | FileFaultFlush;
        plan.after = FileFaultAll & ~FileFaultClose;
    } else {
        plan.countOps = 1u << (bits & 7);
        plan.after = (bits & 8) ? plan.countOps : 0;
    }
    return plan;
}

// A fixed line of the log for the file name.
std::string Logged(const char* text, const std::string& name)
{
    char line[256];
    snprintf(line, sizeof(line), text, name.c_str());
    return line;
}

bool IsOk(const std::vector<std::string>& lines, const std::string& name)
{
    return lines.empty() || (lines.size() == 1 && lines[0] == Logged(TextHeaderOk, name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t planBits = data[0] >> 3;
    if (planBits != 0 && size < 2)
        return 0;
    const FaultPlan plan = PlanOf(planBits, planBits != 0 ? data[1] : 0);
    const size_t skip = planBits != 0 ? 2 : 1;
    // One input in sixteen goes through the parallel scan's queue and examiner
    // (two threads each time, which cost more than the scan).
    const int32_t jobs = (size % 16) == 1 ? 2 : 0;

    static const std::string folder = FuzzScratch() + "/scan";
    static bool made = MakeDir(folder);
    (void)made;
    for (const char* n : Names)
        unlink((folder + "/" + n).c_str());
    const std::string name = Names[data[0] & 7];
    const std::string path = folder + "/" + name;
    const uint8_t* bytes = data + skip;
    const size_t length = size - skip;
    FuzzWrite(path, bytes, length);
    const Bytes before(bytes, bytes + length);
    const Layout l = Examine(path);
    const int64_t present = l.dataEnd - l.dataOffset;
    // Metadata behind the samples: the repair sets the sizes, cuts nothing.
    const bool bounded = l.dataEnd < l.fileSize;

    if (plan.nth != 0) {
        // A failing disk or a crash first; then a scan on a sound disk.
        FileFault_Arm(plan.countOps, plan.nth, plan.after);
        std::vector<std::string> faulted = Scan(folder, jobs);
        FileFault_Disarm();
        const Bytes left = ReadFileBytes(path);
        FUZZ_CHECK(!l.opened || Examine(path).opened, "a failure left a file that no longer opens");
        const bool repaired = faulted.size() == 2 && StartsWith(faulted[1], name + " (");
        const bool failed = (faulted.size() == 1 || faulted.size() == 2) && faulted.back() == Logged(TextCannotAccess, name);
        FUZZ_CHECK(IsOk(faulted, name) || repaired || failed, "%zu lines, last '%s'", faulted.size(),
                   faulted.back().c_str());
        if (faulted.size() < 2 || l.healthy)
            FUZZ_CHECK(left == before, "a file changed without a repair line, or a healthy one changed");
        if (repaired) {
            // Reported as repaired: it is, and stays so.
            std::vector<std::string> next = Scan(folder, jobs);
            FUZZ_CHECK(IsOk(next, name) && ReadFileBytes(path) == left, "a file reported repaired was not complete");
        }
    }

    std::vector<std::string> got = Scan(folder, jobs);
    const Bytes after = ReadFileBytes(path);

    if (l.healthy || !l.opened) {
        FUZZ_CHECK(IsOk(got, name), "%s: %s", name.c_str(), got.empty() ? "" : got[0].c_str());
        FUZZ_CHECK(after == before, "%s: a file left alone changed", name.c_str());
        FUZZ_CHECK(got.empty() || l.opened, "a file that does not open was examined");
        return 0;
    }
    FUZZ_CHECK(l.blockAlign > 0, "a repair without a frame size");
    if (plan.nth == 0) {
        FUZZ_CHECK(got.size() == 2, "%zu lines, first '%s'", got.size(), got.empty() ? "" : got[0].c_str());
        char expected[256];
        if (l.reason != SoundReasonMissing)
            snprintf(expected, sizeof(expected), TextHeaderNotSet, name.c_str(), TextRepair);
        else
            snprintf(expected, sizeof(expected), TextHeaderMissing, name.c_str(), l.missing, TextRepair);
        FUZZ_CHECK(got[0] == expected, "line '%s', expected '%s'", got[0].c_str(), expected);
        FUZZ_CHECK(StartsWith(got[1], name + " (") && got[1].find(" ch) Length:") != std::string::npos,
                   "no failure without a failing disk: '%s'", got[1].c_str());
    } else {
        FUZZ_CHECK(IsOk(got, name) || (got.size() == 2 && StartsWith(got[1], name + " (")),
                   "the scan after a failure did not finish: %zu lines, last '%s'", got.size(),
                   got.empty() ? "" : got.back().c_str());
    }

    // Every whole frame stays where it was; only the partial frame goes.
    const int64_t whole = present / l.blockAlign * l.blockAlign;
    const int64_t end = l.dataOffset + whole;
    // Less than one frame leaves no samples for the close to pad behind.
    const int64_t pad = whole > 0 && !bounded ? PadBytes(l, end) : 0;
    // A repair stopped while padding leaves a complete file with less padding.
    const int64_t shortest = bounded ? l.fileSize : plan.nth != 0 ? end : end + pad;
    // A failure between the sizes and the cut, where the partial frame is a
    // single byte behind an odd SSND: that byte is then SSND's pad byte, and
    // the next scan rightly keeps it.
    const bool strayPad = plan.nth != 0 && l.aiff && !bounded && l.fileSize == end + 1 &&
                          ((int64_t(l.ssndOffset) + whole) & 1) != 0 && int64_t(after.size()) == end + 1;
    const int64_t longest = bounded ? l.fileSize : strayPad ? end + 1 : end + pad;
    FUZZ_CHECK(int64_t(after.size()) >= shortest && int64_t(after.size()) <= longest,
               "length %zu, expected %" PRId64 " to %" PRId64, after.size(), shortest, longest);
    FUZZ_CHECK(std::equal(before.begin() + l.dataOffset, before.begin() + end, after.begin() + l.dataOffset),
               "a sample byte changed");
    if (bounded || strayPad)
        FUZZ_CHECK(std::equal(before.begin() + end, before.end(), after.begin() + end),
                   "metadata behind the samples changed");
    else
        for (int64_t at = end; at < int64_t(after.size()); ++at)
            FUZZ_CHECK(after[size_t(at)] == 0, "block padding holds no zero at %" PRId64, at);
    for (int64_t at = 0; at < l.dataOffset; ++at)
        FUZZ_CHECK(after[size_t(at)] == before[size_t(at)] || MayChange(l, at), "header byte %" PRId64 " changed",
                   at);
    if (l.aiff && whole > 0) {
        uint32_t form = uint32_t(after[4]) << 24 | uint32_t(after[5]) << 16 | uint32_t(after[6]) << 8 | after[7];
        FUZZ_CHECK(int64_t(form) >= end - 8 && int64_t(form) <= int64_t(after.size()) - 8, "FORM size %u", form);
    }
    if (l.flags & WavFlagWave64) {
        uint64_t riff = 0;
        for (int i = 7; i >= 0; --i)
            riff = riff << 8 | after[size_t(16 + i)];
        FUZZ_CHECK(int64_t(riff) >= end && int64_t(riff) <= int64_t(after.size()), "riff size %" PRIu64, riff);
    }
    if (!l.aiff && memcmp(after.data(), "RIFF", 4) == 0 && end < 0xEFFFFFFF) {
        uint32_t riff = uint32_t(after[7]) << 24 | uint32_t(after[6]) << 16 | uint32_t(after[5]) << 8 | after[4];
        FUZZ_CHECK(int64_t(riff) >= end - 8 && int64_t(riff) <= int64_t(after.size()) - 8, "RIFF size %u", riff);
    }

    // The repaired header declares exactly those frames, and stays as it is.
    const Layout again = Examine(path);
    FUZZ_CHECK(again.opened, "the repaired file does not open");
    FUZZ_CHECK(again.dataOffset == l.dataOffset && again.blockAlign == l.blockAlign, "the layout moved");
    // Except after a failure between the cut and the header: when the cut
    // left chunks behind the declared samples (bytes that were a chunk and
    // a stray byte), the next scan rightly keeps them as metadata.
    const bool keptAsMetadata =
        plan.nth != 0 && again.healthy && again.declared >= l.declared && again.declared < whole;
    FUZZ_CHECK(whole == 0 || again.declared == whole || keptAsMetadata,
               "declares %" PRId64 " of %" PRId64 " bytes", again.declared, whole);
    std::vector<std::string> second = Scan(folder, jobs);
    FUZZ_CHECK(ReadFileBytes(path) == after, "a second scan changed the repaired file");
    FUZZ_CHECK(IsOk(second, name), "a second scan says '%s'", second[0].c_str());
    FUZZ_CHECK(whole == 0 || !second.empty(), "the repaired file was not examined");
    return 0;
}
