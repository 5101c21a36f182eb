// What the robustness tests share: damaged recordings of every layout a
// repair handles, and the checks that no whole frame was lost.
#ifndef TESSMARK_TEST_ROBUST_SUPPORT_H
#define TESSMARK_TEST_ROBUST_SUPPORT_H

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chunkbuilder.h"
#include "filefault.h"
#include "scanning.h"
#include "soundfile.h"
#include "testfiles.h"
#include "texts.h"

// An AIFF recording as the recorder left it: 48 kHz, SSND declaring its
// offset and block size only; the bytes its offset skips are not zero.
inline AiffLayout UnfinishedAiff()
{
    AiffLayout a;
    a.rate = Extended80(48000);
    a.ssndSize = 8;
    a.offsetFill = 0x33;
    return a;
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

// The layouts every repair step is tried on: WAV, Broadcast Wave with
// metadata before the samples, RF64 (with and without a ds64 table), BW64,
// Wave64, AIFF with an SSND offset and block padding; and healthy files
// whose metadata follows the samples, which must never change.
std::vector<Recording> RepairLayouts();

// A test name for a layout: its file name in letters and digits.
std::string LayoutName(const ::testing::TestParamInfo<Recording>& info);

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

// A fixed line of the log for the file name.
inline std::string Logged(const char* text, const std::string& name)
{
    char line[2048];
    snprintf(line, sizeof(line), text, name.c_str());
    return line;
}

inline std::string OkLine(const std::string& name)
{
    return Logged(TextHeaderOk, name);
}

inline std::string ErrLine(const std::string& name)
{
    return Logged(TextCannotAccess, name);
}

#endif
