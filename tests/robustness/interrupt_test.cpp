// Repairs cut short as a crash or a power cut would cut them: the scan dies
// before each write, cut or flush that its repair makes (nothing of the
// repair reaches the disk from that call on). The next scan must complete
// the repair with every whole frame kept, even when it is cut short too.
#include "robust_support.h"

namespace {

// The file operations whose order decides what a crash leaves behind.
const uint32_t Changes = FileFaultWrite | FileFaultTruncate | FileFaultFlush;
// A dead process makes no call at all; a close still releases the handle.
const uint32_t Dead = FileFaultAll & ~FileFaultClose;

// Scans the folder, dying before the nth change; returns the lines.
Lines ScanDyingAt(const TempDir& dir, uint32_t nth)
{
    FaultGuard guard;
    FileFault_Arm(Changes, nth, Dead);
    return ScanRun().run(dir.path());
}

// A layout's file in a folder of its own, and what an undisturbed scan does with it.
class InterruptedRepair : public ::testing::TestWithParam<Recording> {
protected:
    const Recording& r = GetParam();
    TempDir dir{MemoryFolder()};
    const std::string path = dir.file(r.name);
    const Reference ref = Undisturbed(r, dir);
    const uint32_t changes = ref.count(Changes);
};

TEST_P(InterruptedRepair, NextScanCompletesItAfterACrashAtAnyPoint)
{
    ASSERT_GE(changes, 2u) << "a repair cuts the file and writes its header";

    for (uint32_t nth = 1; nth <= changes; ++nth) {
        SCOPED_TRACE(::testing::Message() << "dies before change " << nth << " of " << changes);
        WriteFileBytes(path, r.bytes);
        Lines lines = ScanDyingAt(dir, nth);
        ASSERT_EQ(2u, lines.size()) << ::testing::PrintToString(lines);
        EXPECT_EQ(ErrLine(r.name), lines[1]);
        EXPECT_TRUE(Examine(path).opened) << "a crashed repair leaves a readable file";
        ExpectNextScanFinishes(r, ref, dir);
        if (::testing::Test::HasFailure())
            return;
    }
}

TEST_P(InterruptedRepair, NextScanCompletesItWhenItDiesToo)
{

    for (uint32_t first = 1; first <= changes; ++first) {
        // How many changes the second scan makes on what the first left.
        WriteFileBytes(path, r.bytes);
        ScanDyingAt(dir, first);
        const Bytes crashed = ReadFileBytes(path);
        uint32_t secondChanges;
        {
            FaultGuard guard;
            ScanRun().run(dir.path());
            secondChanges = FileFault_Count(Changes);
        }
        for (uint32_t second = 1; second <= secondChanges; ++second) {
            SCOPED_TRACE(::testing::Message() << "dies before change " << first << ", then before change " << second);
            WriteFileBytes(path, crashed);
            ScanDyingAt(dir, second);
            EXPECT_TRUE(Examine(path).opened);
            ExpectNextScanFinishes(r, ref, dir);
            if (::testing::Test::HasFailure())
                return;
        }
    }
}

std::vector<Recording> Damaged()
{
    std::vector<Recording> out;
    for (const Recording& r : RepairLayouts())
        if (!r.healthy)
            out.push_back(r);
    return out;
}

INSTANTIATE_TEST_SUITE_P(Layouts, InterruptedRepair, ::testing::ValuesIn(Damaged()), LayoutName);

}  // namespace
