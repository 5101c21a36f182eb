// tessmark --template: rebuilds takes whose header is gone from a sibling
// recorded with the same settings, one numbered line per take.
#ifndef TESSMARK_CLIREBUILD_H
#define TESSMARK_CLIREBUILD_H

#include <stdint.h>

#include "cliout.h"

typedef struct CliRebuildOptions {
    const char* templatePath;  // --template
    const char* outFolder;     // --out; null: beside each take
    int64_t offset;            // --offset; -1: not given
    int32_t force;             // --force
    int32_t json;              // --json
    const char* const* files;  // the takes, as given
    int32_t fileCount;
    CliOut* out;               // the numbered lines
} CliRebuildOptions;

// The byte count of --offset, or -1 for anything but decimal digits that
// fit 63 bits.
int64_t CliRebuild_ParseOffset(const char* text);

// Rebuilds every take; returns the exit status (cliexit.h).
int CliRebuild_Run(const CliRebuildOptions* options);

#endif
