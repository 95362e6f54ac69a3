// What the Win32 window layer (window_win32.cpp) and the Direct3D 8 display
// creation share: the record of the intro window, whose handle is the focus window
// of the full-screen device, and the process instance kept by the entry point.
// Main thread only. Platform-layer code only: includes windows.h.
#pragma once
#include <windows.h>

struct AppWindow {
    HWND hwnd;      // the popup window; null when it could not be created
    bool destroyed; // taken off the screen by destroyAppWindow
};

// Keeps the instance handle that WinMain received, for the window class and window.
void setAppInstance(HINSTANCE instance);
