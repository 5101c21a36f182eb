// The --json report: one JSON object per line for each sound file the scan
// looked at, then one with the summary. The keys are listed in the README.
#ifndef TESSMARK_CLIREPORT_H
#define TESSMARK_CLIREPORT_H

#include <stdint.h>
#include <stdio.h>

#include "rebuild.h"
#include "scanworker.h"

// Writes the object of one file to out. 0, or -1 when the write failed.
int32_t CliReport_File(FILE* out, const ScanFileReport* report);

// Writes the summary object. 0 or -1.
int32_t CliReport_Summary(FILE* out, const ScanOutcomes* outcomes, int32_t checkOnly, int32_t interrupted,
                          int32_t exitStatus);

// Writes the object of one take of tessmark --template. 0 or -1.
int32_t CliReport_Rebuild(FILE* out, const RebuildJob* job, int32_t rebuilt);

// Writes the summary object of tessmark --template. 0 or -1.
int32_t CliReport_RebuildSummary(FILE* out, int64_t rebuilt, int64_t refused, int32_t interrupted, int32_t exitStatus);

#endif
