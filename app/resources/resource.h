// Resource ids, window names and registry names shared by the resource
// script, the window code and the test driver that finds the window from
// outside.
#ifndef TESSMARK_RESOURCE_H
#define TESSMARK_RESOURCE_H

#define IDB_BANNER 100         // the banner bitmap, 900 x 80, 24 bits per pixel
#define IDM_SELECT_FOLDER 50   // "&Select Folder To Scan"
#define IDM_SUBFOLDERS 51      // "Include &Subfolders", checked: the scans enter subfolders
#define IDM_CHECK_ONLY 52      // "&Check Only", checked: the scans change no file
#define IDM_SAVE_LOG 53        // "Save &Log As..."
#define IDM_UNDO_REPAIRS 54    // "&Undo Last Scan's Repairs", greyed while there is nothing to undo
#define IDM_QUIT 100           // "&Quit"
#define IDM_ABOUT 101          // "&About"

#define AppWindowClass "MainWindowClass"  // class of the main window
#define AppLogViewId 500                  // control id of the log view

// Where the options are remembered for the user (under HKEY_CURRENT_USER),
// REG_DWORD values 0 or 1.
#define AppRegistryKey "Software\\Tessmark"
#define AppRegistrySubfolders "IncludeSubfolders"
#define AppRegistryCheckOnly "CheckOnly"
// The journal of the last scan that repaired a file, REG_SZ: what the undo
// puts back.
#define AppRegistryLastJournal "LastJournal"
#define AppWidenText(s) L##s
#define AppWiden(s) AppWidenText(s)

#endif
