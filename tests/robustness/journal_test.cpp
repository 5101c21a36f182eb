// The undo journal across a repair that dies: the scan journals the repair,
// flushes the record, then dies before each write, cut or flush its repair
// makes. Either an undo then puts the file back byte for byte, or the next
// journaled scan completes the repair and an undo of both records puts the
// file back all the same.
#include "journal.h"
#include "robust_support.h"

namespace {

const uint32_t Changes = FileFaultWrite | FileFaultTruncate | FileFaultFlush;
const uint32_t Dead = FileFaultAll & ~FileFaultClose;

// The journal, and the change before which the repair dies (0: it does not).
struct Dying {
    Journal journal;
    uint32_t nth = 0;
};

int32_t JournalThenDie(const ScanFileReport* report, SoundFile* file, void* context)
{
    Dying* dying = static_cast<Dying*>(context);
    const int32_t result = Journal_BeforeRepair(report, file, &dying->journal);
    if (dying->nth > 0)
        FileFault_Arm(Changes, dying->nth, Dead);
    return result;
}

// One journaled scan of dir, dying before the repair's nth change.
void ScanJournaled(const TempDir& dir, const std::string& journalPath, uint32_t nth)
{
    FaultGuard guard;
    Dying dying;
    ASSERT_EQ(0, Journal_Open(&dying.journal, journalPath.c_str()));
    dying.nth = nth;
    ScanRun run;
    run.options.beforeRepair = JournalThenDie;
    run.options.repairContext = &dying;
    run.options.onFile = [](const ScanFileReport* report, void* context) {
        Journal_AfterFile(&static_cast<Dying*>(context)->journal, report);
    };
    run.options.fileContext = &dying;
    run.run(dir.path());
    FileFault_Disarm();
    EXPECT_EQ(0, Journal_Close(&dying.journal));
}

JournalUndoOutcome Undo(const std::string& journalPath)
{
    JournalUndoOutcome outcome;
    EXPECT_EQ(0, Journal_Undo(journalPath.c_str(), &outcome, nullptr, nullptr));
    return outcome;
}

class JournaledRepair : public ::testing::TestWithParam<Recording> {
protected:
    const Recording& r = GetParam();
    TempDir dir{MemoryFolder()};
    TempDir journals{MemoryFolder()};
    const std::string path = dir.file(r.name);
    const Reference ref = Undisturbed(r, dir);
    const uint32_t changes = ref.count(Changes);
};

// A file the scan leaves alone gets no record.
TEST_P(JournaledRepair, RecordsNothingOfAHealthyFile)
{
    const std::string journal = journals.file("healthy.journal");
    WriteFileBytes(path, r.bytes);
    ScanJournaled(dir, journal, 0);
    if (!r.healthy)
        return;  // the others: below
    EXPECT_EQ(Bytes(), ReadFileBytes(journal));
    const JournalUndoOutcome outcome = Undo(journal);
    EXPECT_EQ(0, outcome.restored + outcome.unchanged + outcome.refused);
    EXPECT_EQ(r.bytes, ReadFileBytes(path));
}

TEST_P(JournaledRepair, UndoesARepairThatRanToItsEnd)
{
    if (r.healthy)
        return;  // no repair to journal: RecordsNothingOfAHealthyFile
    const std::string journal = journals.file("whole.journal");
    WriteFileBytes(path, r.bytes);
    ScanJournaled(dir, journal, 0);
    ASSERT_EQ(ref.bytes, ReadFileBytes(path)) << "journaling changes nothing of the repair";
    const JournalUndoOutcome outcome = Undo(journal);
    EXPECT_EQ(1, outcome.restored);
    EXPECT_EQ(0, outcome.refused);
    EXPECT_EQ(r.bytes, ReadFileBytes(path));
}

TEST_P(JournaledRepair, UndoesARepairThatDiedAtAnyPoint)
{
    if (r.healthy)
        return;  // no repair to journal: RecordsNothingOfAHealthyFile
    ASSERT_GE(changes, 2u);
    for (uint32_t nth = 1; nth <= changes; ++nth) {
        SCOPED_TRACE(::testing::Message() << "dies before change " << nth << " of " << changes);
        const std::string journal = journals.file("died" + std::to_string(nth) + ".journal");
        WriteFileBytes(path, r.bytes);
        ScanJournaled(dir, journal, nth);
        const JournalUndoOutcome outcome = Undo(journal);
        EXPECT_EQ(0, outcome.refused);
        EXPECT_EQ(1, outcome.restored + outcome.unchanged);
        EXPECT_EQ(r.bytes, ReadFileBytes(path)) << "the undo puts back every byte";
        if (::testing::Test::HasFailure())
            return;
    }
}

TEST_P(JournaledRepair, UndoesARepairThatDiedAndTheScanThatCompletedIt)
{
    if (r.healthy)
        return;  // no repair to journal: RecordsNothingOfAHealthyFile
    for (uint32_t nth = 1; nth <= changes; ++nth) {
        SCOPED_TRACE(::testing::Message() << "dies before change " << nth << " of " << changes);
        const std::string journal = journals.file("completed" + std::to_string(nth) + ".journal");
        WriteFileBytes(path, r.bytes);
        ScanJournaled(dir, journal, nth);
        ScanJournaled(dir, journal, 0);
        // (Died in the padding, the file is one the next scan takes as
        // complete: it need not match the undisturbed repair byte for byte.)
        const JournalUndoOutcome outcome = Undo(journal);
        EXPECT_EQ(0, outcome.refused);
        EXPECT_EQ(r.bytes, ReadFileBytes(path)) << "both records undone, newest first";
        if (::testing::Test::HasFailure())
            return;
    }
}

// C4: an undo that dies before any of its writes, cut or flushes leaves a
// file the next undo puts back.
TEST_P(JournaledRepair, UndoThatDiedAtAnyPointIsFinishedByTheNext)
{
    if (r.healthy)
        return;  // no repair to journal: RecordsNothingOfAHealthyFile
    const std::string journal = journals.file("undo.journal");
    WriteFileBytes(path, r.bytes);
    ScanJournaled(dir, journal, 0);
    const Bytes repaired = ReadFileBytes(path);
    uint32_t undoChanges = 0;
    {
        FaultGuard guard;
        FileFault_Arm(Changes, 0, 0);
        Undo(journal);
        undoChanges = FileFault_Count(Changes);
    }
    ASSERT_GE(undoChanges, 2u);
    for (uint32_t nth = 1; nth <= undoChanges; ++nth) {
        SCOPED_TRACE(::testing::Message() << "the undo dies before change " << nth << " of " << undoChanges);
        WriteFileBytes(path, repaired);
        {
            FaultGuard guard;
            FileFault_Arm(Changes, nth, Dead);
            Undo(journal);
        }
        const JournalUndoOutcome outcome = Undo(journal);
        EXPECT_EQ(0, outcome.refused);
        EXPECT_EQ(r.bytes, ReadFileBytes(path)) << "the second undo puts back every byte";
        if (::testing::Test::HasFailure())
            return;
    }
}

// An interrupted repair leaves the header's other bytes as they were: one
// changed since (a tag editor, say) keeps the undo from writing the old
// header over it.
TEST_P(JournaledRepair, RefusesAnInterruptedRepairWhoseHeaderChangedSince)
{
    if (r.healthy)
        return;  // no repair to journal: RecordsNothingOfAHealthyFile
    const std::string journal = journals.file("edited.journal");
    WriteFileBytes(path, r.bytes);
    ScanJournaled(dir, journal, 1);
    Bytes edited = ReadFileBytes(path);
    // The form type: no size field, and no repair writes other bytes there.
    edited[8] ^= 0x20;
    WriteFileBytes(path, edited);
    const JournalUndoOutcome outcome = Undo(journal);
    EXPECT_EQ(1, outcome.refused);
    EXPECT_EQ(edited, ReadFileBytes(path)) << "a refused file is left as it is";
}

TEST_P(JournaledRepair, RefusesAFileChangedSinceItsRepair)
{
    if (r.healthy)
        return;  // no repair to journal: RecordsNothingOfAHealthyFile
    const std::string journal = journals.file("changed.journal");
    WriteFileBytes(path, r.bytes);
    ScanJournaled(dir, journal, 0);
    Bytes changed = ReadFileBytes(path);
    changed[static_cast<size_t>(r.dataOffset)] ^= 0x5A;  // a sample byte, the size and header unchanged
    WriteFileBytes(path, changed);
    const JournalUndoOutcome outcome = Undo(journal);
    EXPECT_EQ(1, outcome.refused);
    EXPECT_EQ(changed, ReadFileBytes(path)) << "a refused file is left as it is";
}

INSTANTIATE_TEST_SUITE_P(Layouts, JournaledRepair, ::testing::ValuesIn(RepairLayouts()), LayoutName);

}  // namespace
