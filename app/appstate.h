// The application's one global record. The scan worker is given its
// folderPath and its logBuffer; the window fields are Win32 handles kept as
// opaque pointers.
#ifndef TESSMARK_APPSTATE_H
#define TESSMARK_APPSTATE_H

#include <stdint.h>

#include "logbuffer.h"
#include "scanplatform.h"

// The scan takes a folder path of at most this many bytes.
#define AppFolderPathCapacity ScanPathCapacity

// How far the running scan has come, for the title. The worker writes it
// for each file, the window's refresh timer reads it: both under the lock.
typedef struct AppProgress {
    ScanLock lock;
    int32_t lockReady;                       // 1 while lock is initialised
    int32_t running;                         // 1 from a scan's start until its end
    int64_t examined;                        // files examined so far
    char lastPath[ScanPathCapacity];         // the file examined last: its folder is the one in hand
} AppProgress;

typedef struct AppState {
    void* mainWindow;                        // HWND of the main window
    void* instance;                          // HINSTANCE given to AppMain
    void* logView;                           // HWND of the read-only log view; null if not created
    void* bannerBitmap;                      // HBITMAP of the banner (resource 100)
    void* logFont;                           // HFONT of the log view
    uint32_t refreshTimerId;                 // id SetTimer returned (1200); 0 when no timer runs
    LogBuffer logBuffer;                     // the log shared by the window and the worker
    char folderPath[AppFolderPathCapacity];  // the folder to scan, without a trailing separator;
                                             // written only while no worker runs
    int32_t includeSubfolders;               // "Include Subfolders" checked: scans from now on enter subfolders
    int32_t checkOnly;                       // "Check Only" checked: scans from now on change no file
    int32_t scanCheckOnly;                   // checkOnly of the scan running or last run, for its summary
    char lastJournal[AppFolderPathCapacity]; // the journal of the last scan that repaired a file; "" for none
    volatile long undoAvailable;             // 1 while lastJournal holds repairs to undo (Interlocked*)
    volatile long undoRunning;               // 1 while an undo runs on its thread (Interlocked*)
    AppProgress progress;
} AppState;

#endif
