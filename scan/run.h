// One scan of one folder, start to end, on the calling thread: the folder
// is walked (listing.h), each file examined (examine.h) there or by a pool
// of examiners (pool.h), and each result given out in listing order
// (render.h) to the log and the callbacks.
#ifndef TESSMARK_SCANRUN_H
#define TESSMARK_SCANRUN_H

#include <stdint.h>

#include "options.h"

// Scans target with options; running is asked between files and a 0 from it
// stops the scan. 0 once the scan has ended (onEnd called); -1 when a record
// is missing or the scan's state could not be allocated (nothing called).
int32_t ScanRun_Folder(const ScanTarget* target, const ScanOptions* options, int32_t (*running)(void));

#endif
