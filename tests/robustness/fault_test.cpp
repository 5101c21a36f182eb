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

void CheckEveryFailure(const Recording& r)
{
    SCOPED_TRACE(r.name);
    TempDir dir(MemoryFolder());
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
        ASSERT_LT(ref.count(cls.op), 1000u) << "a loop that does not end?";
        for (uint32_t nth = 1; nth <= ref.count(cls.op); ++nth)
        for (bool persistent : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "failing " << cls.name << " " << nth << " of " << ref.count(cls.op)
                                              << (persistent ? " and every later one" : " only"));
            WriteFileBytes(path, r.bytes);
            FaultGuard guard;
            ScanRun scan;
            // The calls made when the examination is done and the repair begins.
            struct Count {
                uint32_t op;
                uint32_t calls;
            } atRepair{cls.op, 0};
            scan.options.beforeRepair = [](const ScanFileReport*, SoundFile*, void* context) {
                Count* c = static_cast<Count*>(context);
                c->calls = FileFault_Count(c->op);
                return int32_t(0);
            };
            scan.options.repairContext = &atRepair;
            const uint32_t& callsAtFirstLine = atRepair.calls;
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
