// The scan worker: a background thread that examines every file of one
// folder, repairs short headers and logs one or two numbered lines per file;
// for the command-line scanner, with several examiner threads beside it.
#ifndef TESSMARK_SCANWORKER_H
#define TESSMARK_SCANWORKER_H

#include <stdint.h>

#include "options.h"

#ifdef __cplusplus
extern "C" {
#endif

// Sets the options of the scans started from now on (a copy is kept; null
// restores the defaults). Call only while no worker runs.
void ScanWorker_SetOptions(const ScanOptions* options);

// Stops any running scan, then starts a new worker on folder (copied),
// appending its lines to log (may be null). After a ScanWorker_RequestStop
// not yet cleared by ScanWorker_Stop the new worker stops before its first
// file. A failed thread creation is not reported.
void ScanWorker_Start(const char* folder, LogBuffer* log);

// Asks the worker to stop and waits, without a time limit, until it has
// finished the file in hand; the next start then runs in full (an earlier
// stop request is forgotten). Safe when no scan ever ran.
void ScanWorker_Stop(void);

// Asks the worker to stop after the file in hand, without waiting; a scan
// started after it stops too, until ScanWorker_Stop, so that a request that
// comes just before a start is not lost. Safe from any thread and from a
// signal handler.
void ScanWorker_RequestStop(void);

// Waits, without a time limit, until the worker has ended by itself (or by a
// stop request), and releases it. Safe when no scan ever ran.
void ScanWorker_Wait(void);

// The thread body; returns 0 in every case. With options.jobs above 1 the
// files are examined by a pool of that many threads (pool.h).
uint32_t ScanWorker_Run(const ScanTarget* target);

#ifdef __cplusplus
}
#endif

#endif
