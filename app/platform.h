// The window system as the shell sees it: start-up, the one intro window, events,
// the cursor, message boxes and process exit. Implemented over SDL2 by
// window_sdl.cpp (library vm_platform_sdl), over Win32 by window_win32.cpp
// (vm_platform_win32) and over a web page's html5.h by window_web.cpp
// (vm_platform_web); tests link stand-ins with the same functions. All calls are
// made on the main thread.
#pragma once
#include <cstdint>

struct WindowEvent;
struct AppWindow; // the platform's record of the intro window

// Brings up the window system. A failure is not reported here: the display
// creation finds it and ends the program with its own message.
void startWindowSystem();

// Creates the intro window record: class name, title and client size. On SDL the
// window itself is made by the display creation, which must choose its pixel
// format (depth buffer) at creation time; until then the record stands for it.
AppWindow* createAppWindow(const char* className, const char* title, int32_t width, int32_t height);

// Shows the window and asks for the input focus; the activation arrives later as
// an event. Harmless for a window that has no on-screen counterpart yet or any more.
void showAppWindow(AppWindow* window);

// Takes the window off the screen for good. True when it was still there (the
// shell then dispatches the destroy event); false for null or an already destroyed
// window. The window's drawing context stays alive until the display is released.
bool destroyAppWindow(AppWindow* window);

void showCursor(bool show);

// Takes the next pending event without waiting; false when none is pending.
bool pollWindowEvent(WindowEvent* event);

// Writes "caption: text" to stderr, then shows a modal box with OK where a desktop
// is available. Returns when the box has been dismissed, or at once when SIGINT or
// SIGTERM comes while it is up; the signal also queues a quit event, so that the
// loop ends as it does on that signal while the intro runs.
void showMessageBox(const char* caption, const char* text);

// Shuts the window system down and ends the process with `code`.
[[noreturn]] void exitProcess(int32_t code);
