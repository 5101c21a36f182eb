// Resource ids shared by the resource script and the window code.
#ifndef TESSMARK_RESOURCE_H
#define TESSMARK_RESOURCE_H

#define IDB_BANNER 100         // the banner bitmap, 900 x 80, 24 bits per pixel
#define IDM_SELECT_FOLDER 50   // "&Select Folder To Scan"
#define IDM_QUIT 100           // "&Quit"
#define IDM_ABOUT 101          // "&About"

#endif
