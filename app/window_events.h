// The window procedure of the one intro window as a single platform-free function
// over a small neutral event. The platform layer (window_sdl.cpp) translates its
// own events into WindowEvent; the shell dispatches them here and carries out the
// response. Main thread only.
#pragma once
#include <cstdint>

enum class WindowEventKind : uint8_t {
    activate, // value: the activation state; 0 means deactivated (switched away)
    paint,    // the window needs repainting
    keyDown,  // value: the key code; keyEscape for Escape
    destroy,  // the window has been destroyed
    close,    // a close request (window manager, Alt+F4)
    quit,     // the application is asked to quit (also SIGINT and SIGTERM)
    other,    // anything else: default processing only
};

constexpr uint32_t keyEscape = 27;

struct WindowEvent {
    WindowEventKind kind;
    uint32_t value;
};

// What the shell does with an event.
struct WindowResponse {
    bool setsRunning;       // running is to be set to `running`
    int32_t running;        // the new value of running when setsRunning
    bool destroyWindow;     // destroy the window now (a deactivation)
    bool validate;          // mark the window as painted
    bool defaultProcessing; // the platform's default handling applies
    int32_t result;         // the procedure's result where no default processing applies
};

WindowResponse windowProcedure(const WindowEvent& event);
