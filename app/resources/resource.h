// Resource ids and window names shared by the resource script, the window
// code and the test driver that finds the window from outside.
#ifndef TESSMARK_RESOURCE_H
#define TESSMARK_RESOURCE_H

#define IDB_BANNER 100         // the banner bitmap, 900 x 80, 24 bits per pixel
#define IDM_SELECT_FOLDER 50   // "&Select Folder To Scan"
#define IDM_QUIT 100           // "&Quit"
#define IDM_ABOUT 101          // "&About"

#define AppWindowClass "MainWindowClass"  // class of the main window
#define AppLogViewId 500                  // control id of the log view

#endif
