#include "result.h"

#include <string.h>

#define ScanField(member) offsetof(ScanOutcomes, member)

// In the order the summary line gives them; "examined" leads it.
const ScanOutcomeField ScanOutcomeFields[] = {
    {ScanField(examined), "examined", "file examined", "files examined", ScanShownAlways},
    {ScanField(headerOk), "ok", "OK", "OK", ScanShownAlways},
    {ScanField(repaired), "repaired", "repaired", "repaired", ScanShownRepairing},
    {ScanField(needRepair), "needs_repair", "needs repair (not repaired: --check changes nothing)",
     "need repair (not repaired: --check changes nothing)", ScanShownChecking},
    {ScanField(failed), "failed", "failed", "failed", ScanShownRepairing},
    {ScanField(notExamined), "not_examined", nullptr, nullptr, ScanShownNever},
    {ScanField(notOpened), "not_opened", "could not be opened", "could not be opened", ScanShownWhenAny},
    {ScanField(notRecordings), "not_recordings", "is no recording Tessmark reads", "are no recording Tessmark reads",
     ScanShownWhenAny},
    {ScanField(noSamples), "no_samples", "holds no samples", "hold no samples", ScanShownWhenAny},
    {ScanField(sameFile), "same_file", "is another name of a file examined", "are other names of files examined",
     ScanShownWhenAny},
};

const size_t ScanOutcomeFieldCount = sizeof(ScanOutcomeFields) / sizeof(ScanOutcomeFields[0]);

int64_t ScanOutcomes_Get(const ScanOutcomes* outcomes, const ScanOutcomeField* field)
{
    int64_t value;
    memcpy(&value, reinterpret_cast<const char*>(outcomes) + field->offset, sizeof(value));
    return value;
}

void ScanOutcomes_Add(ScanOutcomes* to, const ScanOutcomes* from)
{
    for (size_t i = 0; i < ScanOutcomeFieldCount; ++i) {
        char* at = reinterpret_cast<char*>(to) + ScanOutcomeFields[i].offset;
        int64_t sum;
        memcpy(&sum, at, sizeof(sum));
        sum += ScanOutcomes_Get(from, &ScanOutcomeFields[i]);
        memcpy(at, &sum, sizeof(sum));
    }
}
