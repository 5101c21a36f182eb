// The program's entry: registers the window class, creates the main window,
// scans the folder it was given, if any, and runs the message loop until WM_QUIT.
#include <string.h>

#include "app.h"

#include <commctrl.h>

AppState TheApp;

int AppMain(HINSTANCE instance)
{
    memset(&TheApp, 0, sizeof(TheApp));
    TheApp.instance = instance;
    // The manifest asks for the common controls 6; they are loaded here.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, (LPCSTR)IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    // The band right of the banner, seen when the window is maximised, takes
    // the menu colour.
    windowClass.hbrBackground = (HBRUSH)(INT_PTR)(COLOR_MENU + 1);
    windowClass.lpszMenuName = AppMenuName;
    windowClass.lpszClassName = AppWindowClass;
    if (RegisterClassA(&windowClass) == 0) {
        MessageBoxA(nullptr, "Failed to register main class...", "Sorry", MB_ICONERROR);
        return 0;
    }

    char title[64];
    App_BaseTitle(title, sizeof(title));

    // WM_CREATE runs inside this call, before mainWindow is set: the window
    // procedure uses the handle it is given.
    HWND window = CreateWindowExA(0, AppWindowClass, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  CW_USEDEFAULT, CW_USEDEFAULT, AppWindowWidth, AppWindowHeight,
                                  nullptr, nullptr, instance, nullptr);
    TheApp.mainWindow = window;
    if (window == nullptr) {
        MessageBoxA(nullptr, "Failed to create window...", "Sorry", MB_ICONERROR);
        return 0;
    }

    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    // A folder dropped on the program's icon, or sent to it: scanned at once.
    char folder[AppFolderPathCapacity];
    if (App_FolderFromCommandLine(folder, sizeof(folder)))
        App_ScanFolder(&TheApp, folder);

    MSG message;
    memset(&message, 0, sizeof(message));
    while (GetMessageA(&message, nullptr, 0, 0) != 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return AppMain(instance);
}
