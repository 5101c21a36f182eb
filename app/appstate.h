// The application's one global record. The scan worker is given its
// folderPath and its logBuffer; the window fields are Win32 handles kept as
// opaque pointers.
#ifndef TESSMARK_APPSTATE_H
#define TESSMARK_APPSTATE_H

#include <stdint.h>

#include "logbuffer.h"

#define AppFolderPathCapacity 1024

typedef struct AppState {
    void* mainWindow;                        // HWND of the main window
    void* instance;                          // HINSTANCE given to AppMain
    void* logView;                           // HWND of the read-only log view; null if not created
    void* bannerBitmap;                      // HBITMAP of the banner (resource 100)
    void* logFont;                           // HFONT of the log view
    uint32_t refreshTimerId;                 // id SetTimer returned (1200); 0 when no timer runs
    LogBuffer logBuffer;                     // the log shared by the window and the worker
    char folderPath[AppFolderPathCapacity];  // the folder to scan, without a trailing separator
} AppState;

#endif
