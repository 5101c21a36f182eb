// What the robustness tests share: damaged recordings of every layout a
// repair handles, a scan run as the program runs it, and the checks that no
// whole frame was lost.
#ifndef TESSMARK_TEST_ROBUST_SUPPORT_H
#define TESSMARK_TEST_ROBUST_SUPPORT_H

#include <gtest/gtest.h>

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chunkbuilder.h"
#include "filefault.h"
#include "scanworker.h"
#include "soundfile.h"
#include "testfiles.h"

typedef std::vector<std::string> Lines;

inline Bytes Cat(const std::vector<Bytes>& parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A chunk header without its body (the body follows raw).
inline Bytes ChunkHead(const char* id, uint32_t size, bool bigEndian = false)
{
    ByteWriter w(bigEndian);
    w.text(id).u32(size);
    return w.bytes;
}

inline Bytes Ds64Chunk(uint64_t dataSize, uint32_t size = 28, uint32_t tableLength = 0)
{
    ByteWriter w;
    w.u64(0).u64(dataSize).u64(0).u32(tableLength);
    if (size > 28)
        w.fill(size - 28, 0x5A);
    w.bytes.resize(size);
    return Cat({ChunkHead("ds64", size), w.bytes});
}

inline Bytes StereoFmt16()
{
    return Chunk("fmt ", WavFmtBody(1, 2, 48000, 16));
}

// An AIFF file: FORM, COMM, extra chunks, SSND with offset and block size,
// the samples, then whatever is behind them.
struct AiffLayout {
    int16_t channels = 2;
    int16_t bits = 16;
    uint32_t frames = 0;
    uint32_t ssndSize = 8;
    uint32_t offset = 0;
    uint32_t blockSize = 0;
    Bytes samples;
    Bytes behind;
    std::vector<Bytes> between;  // chunks between COMM and SSND
    int64_t formSize = -1;  // -1: the true size
};

inline Bytes MakeAiff(const AiffLayout& a)
{
    ByteWriter ssnd(true);
    ssnd.text("SSND").u32(a.ssndSize).u32(a.offset).u32(a.blockSize).fill(a.offset, 0x33);
    std::vector<Bytes> chunks{Chunk("COMM", AiffCommBody(a.channels, a.frames, a.bits, 48000), true)};
    chunks.insert(chunks.end(), a.between.begin(), a.between.end());
    chunks.push_back(Cat({ssnd.bytes, a.samples, a.behind}));
    return FormFile(chunks, a.formSize);
}

// A damaged recording of one layout, with what the scan must make of it.
struct Recording {
    std::string name;      // file name (its extension picks the reader)
    Bytes bytes;           // the file as the recorder left it
    int64_t dataOffset;    // first sample byte
    uint32_t blockAlign;   // bytes per frame
    bool healthy;          // true when the scan must leave it untouched
};

inline void PrintTo(const Recording& r, std::ostream* os)
{
    *os << r.name;
}

// A temporary folder on a memory file system where there is one: the
// fault loops scan hundreds of times, and each repair flushes to the disk.
struct ScratchDir {
    std::unique_ptr<TempDir> dir;
    ScratchDir();
    const TempDir& operator*() const { return *dir; }
    const TempDir* operator->() const { return dir.get(); }
};

// The layouts every repair step is tried on: WAV, Broadcast Wave with
// metadata before the samples, RF64 (with and without a ds64 table), AIFF
// with an SSND offset and block padding; and healthy files whose metadata
// follows the samples, which must never change.
std::vector<Recording> RepairLayouts();

// A test name for a layout: its file name in letters and digits.
std::string LayoutName(const ::testing::TestParamInfo<Recording>& info);

// One scan of a folder, run as the program runs it (on the worker thread).
struct ScanRun {
    std::unique_ptr<AppState> app{new AppState()};
    ScanOutcomes outcomes{};
    ScanOptions options{};
    Lines lines;
    std::function<void(const std::string&)> onLine;  // called on the worker thread

    ScanRun();
    ~ScanRun();
    Lines run(const std::string& folder, bool checkOnly = false);
};

// Scans folder once without faults and returns the lines.
Lines ScanOnce(const std::string& folder);

// Opens path read-only as the scan would and reports what it declares.
struct Examined {
    int32_t openResult = -1;   // SoundFile_Open's result; 0 when opened
    bool opened = false;       // a sound file was opened
    int64_t fileSize = -1;     // its length
    int64_t dataOffset = -1;   // first sample byte
    int64_t declared = -1;     // whole-frame bytes declared
};
Examined Examine(const std::string& path);

// Checks a file that a repair (whole or in parts, and a second scan)
// produced from original: every byte of every whole frame is where it was,
// the header declares exactly those frames, nothing but zero padding
// follows them, and header bytes are either the original's or clean's (the
// result of an undisturbed repair). An AIFF FORM size may also stand
// anywhere from the end of the samples to the end of the padding: a repair
// stopped while padding leaves a file that is complete without the rest.
void ExpectWholeFramesKept(const Recording& r, const Bytes& clean, const Bytes& got);

// What an undisturbed scan does with a layout.
struct Reference {
    Lines lines;              // its lines
    Bytes bytes;              // the file after it
    uint32_t calls[8] = {0};  // calls of each fault class (bit i: class 1 << i)

    // Calls of the classes in ops.
    uint32_t count(uint32_t ops) const
    {
        uint32_t n = 0;
        for (uint32_t i = 0; i < 8; ++i)
            if (ops & (1u << i))
                n += calls[i];
        return n;
    }
};

// Writes r into dir, scans it without faults and counts the file calls.
Reference Undisturbed(const Recording& r, const TempDir& dir);

// After a disturbed scan left r's file in dir as it is now: the next scan
// finishes the job as far as the samples go, the header declares every
// whole frame, and the scan after that finds nothing to do.
void ExpectNextScanFinishes(const Recording& r, const Reference& ref, const TempDir& dir);

// Fault injection that is switched off again however the test ends.
struct FaultGuard {
    FaultGuard() { FileFault_Disarm(); }
    ~FaultGuard() { FileFault_Disarm(); }
};

inline std::string OkLine(const std::string& name)
{
    return name + " HEADER OK !";
}

inline std::string ErrLine(const std::string& name)
{
    return name + " ERR:Can't Access File";
}

#endif
