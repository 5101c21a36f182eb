// The undo of a journal of any bytes: records torn, damaged or made up. It
// must neither read past a buffer nor hang, and it may touch only the take
// in the scratch folder, which the records name by a bare name: an input
// with a separator, or a JSON escape that could spell one, is passed over.
#include <unistd.h>

#include "fuzz_support.h"
#include "journal.h"

namespace {

// The take the seeds' records name, as their repair left it.
const Bytes& RepairedTake()
{
    static const Bytes take = PlainWav(PatternBytes(400));
    return take;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (data[i] == '/' || data[i] == '\\')
            return 0;
    static const bool inScratch = chdir(FuzzScratch().c_str()) == 0;
    FUZZ_CHECK(inScratch, "cannot enter %s", FuzzScratch().c_str());
    FUZZ_CHECK(WriteFileBytes("take.wav", RepairedTake()), "cannot write the take");
    FuzzWrite("fuzz.journal", data, size);
    JournalUndoOutcome outcome;
    FUZZ_CHECK(Journal_Undo("fuzz.journal", &outcome, nullptr, nullptr) == 0, "a journal that was written is read");
    const Bytes after = ReadFileBytes("take.wav");
    // Either left as the repair left it, or put back: never longer than
    // its recorded original could be.
    FUZZ_CHECK(after.size() <= RepairedTake().size() + size, "the take grew by %zu bytes",
               after.size() - RepairedTake().size());
    return 0;
}
