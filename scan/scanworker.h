// The scan worker: a background thread that examines every file of one
// folder, repairs short headers and logs one or two numbered lines per file.
#ifndef TESSMARK_SCANWORKER_H
#define TESSMARK_SCANWORKER_H

#include <stdint.h>

#include "appstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// Stops any running scan, then starts a new worker on app (folderPath,
// logBuffer). A failed thread creation is not reported.
void ScanWorker_Start(AppState* app);

// Asks the worker to stop and waits, without a time limit, until it has
// finished the file in hand. Safe when no scan ever ran.
void ScanWorker_Stop(void);

// The thread body; returns 0 in every case.
uint32_t ScanWorker_Run(AppState* app);

#ifdef __cplusplus
}
#endif

#endif
