// A failing disk under the scan: every file operation that the examination
// and repair of a file makes is failed in turn (the nth read, write, seek,
// cut, flush, size query, open or close), for every layout a repair
// handles. Whatever fails, the file stays readable and is either as it was
// or finished by the next scan with every whole frame kept; a failure in the
// repair is reported as "ERR:Can't Access File", never as a repair; a
// healthy file never changes.
#include "robust_support.h"

namespace {

struct OpClass {
    uint32_t op;       // FileFault* class
    const char* name;  // for messages
};

const OpClass Classes[] = {{FileFaultOpen, "open"},         {FileFaultRead, "read"},   {FileFaultWrite, "write"},
                           {FileFaultSeek, "seek"},         {FileFaultTruncate, "cut"}, {FileFaultFlush, "flush"},
                           {FileFaultSize, "size query"},   {FileFaultClose, "close"}};

// What an undisturbed scan does with a layout.
struct Reference {
    Lines lines;                // its lines
    Bytes bytes;                // the file after it
    uint32_t calls[8] = {0};    // calls of each class, in the order of Classes
};

Reference Undisturbed(const Recording& r, const TempDir& dir)
{
    Reference ref;
    std::string path = dir.write(r.name, r.bytes);
    FaultGuard guard;
    ref.lines = ScanOnce(dir.path());
    for (size_t i = 0; i < sizeof(Classes) / sizeof(Classes[0]); ++i)
        ref.calls[i] = FileFault_Count(Classes[i].op);
    FileFault_Disarm();
    ref.bytes = ReadFileBytes(path);
    return ref;
}

// After a disturbed scan left the file as it is now: the next scan must
// finish the job exactly as far as the samples go, and the one after that
// must find nothing to do.
void ExpectNextScanFinishes(const Recording& r, const Reference& ref, const TempDir& dir)
{
    const std::string path = dir.file(r.name);
    Lines second = ScanOnce(dir.path());
    Bytes got = ReadFileBytes(path);
    ExpectWholeFramesKept(r, ref.bytes, got);
    const int64_t whole = (int64_t(r.bytes.size()) - r.dataOffset) / r.blockAlign * r.blockAlign;
    Examined e = Examine(path);
    ASSERT_TRUE(e.opened);
    EXPECT_EQ(whole, e.declared) << "the header declares every whole frame";
    EXPECT_EQ((Lines{OkLine(r.name)}), ScanOnce(dir.path())) << "second scan said: " << ::testing::PrintToString(second);
    EXPECT_EQ(got, ReadFileBytes(path)) << "a complete file changes no more";
}

void CheckEveryFailure(const Recording& r)
{
    SCOPED_TRACE(r.name);
    TempDir dir;
    const std::string path = dir.file(r.name);
    const Reference ref = Undisturbed(r, dir);
    if (r.healthy) {
        ASSERT_EQ((Lines{OkLine(r.name)}), ref.lines);
        ASSERT_EQ(r.bytes, ref.bytes);
    } else {
        ASSERT_EQ(2u, ref.lines.size());
        ASSERT_NE(ErrLine(r.name), ref.lines[1]);
    }

    for (size_t c = 0; c < sizeof(Classes) / sizeof(Classes[0]); ++c) {
        const OpClass& cls = Classes[c];
        ASSERT_LT(ref.calls[c], 1000u) << "a loop that does not end?";
        for (uint32_t nth = 1; nth <= ref.calls[c]; ++nth)
        for (bool persistent : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "failing " << cls.name << " " << nth << " of " << ref.calls[c]
                                              << (persistent ? " and every later one" : " only"));
            WriteFileBytes(path, r.bytes);
            FaultGuard guard;
            ScanRun scan;
            uint32_t callsAtFirstLine = 0;
            scan.onLine = [&](const std::string&) {
                if (scan.lines.size() == 1)
                    callsAtFirstLine = FileFault_Count(cls.op);
            };
            FileFault_Arm(cls.op, nth, persistent ? cls.op : 0);
            Lines lines = scan.run(dir.path());
            FileFault_Disarm();
            Bytes after = ReadFileBytes(path);

            EXPECT_TRUE(Examine(path).opened) << "the file must stay readable";
            if (r.healthy) {
                // Could it not look behind the samples, it must not guess.
                EXPECT_TRUE(lines.empty() || lines == ref.lines || lines == Lines{ErrLine(r.name)})
                    << ::testing::PrintToString(lines);
                EXPECT_EQ(r.bytes, after) << "a healthy file changed";
                continue;
            }
            if (lines.empty() || lines == Lines{ErrLine(r.name)}) {
                // Failed while examining: nothing was decided, nothing changed.
                EXPECT_EQ(r.bytes, after);
            } else {
                ASSERT_EQ(2u, lines.size()) << ::testing::PrintToString(lines);
                EXPECT_EQ(ref.lines[0], lines[0]);
                const bool failedInRepair = callsAtFirstLine < nth;
                if (failedInRepair) {
                    EXPECT_EQ(ErrLine(r.name), lines[1]) << "a failed repair reported as done";
                }
                if (lines[1] != ErrLine(r.name)) {
                    EXPECT_EQ(ref.lines[1], lines[1]);
                    EXPECT_EQ(ref.bytes, after) << "reported repaired, but not as an undisturbed repair";
                }
            }
            ExpectNextScanFinishes(r, ref, dir);
            if (::testing::Test::HasFailure())
                return;  // one broken step is enough to read
        }
    }
}

class FailingDisk : public ::testing::TestWithParam<Recording> {};

TEST_P(FailingDisk, EveryOperationOfTheRepairFails)
{
    CheckEveryFailure(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Layouts, FailingDisk, ::testing::ValuesIn(RepairLayouts()), LayoutName);

}  // namespace
