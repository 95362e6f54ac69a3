// What the SDL window layer (window_sdl.cpp) and the SDL display creation
// (gfx/display_sdl.cpp) share: the record of the intro window. The display creation
// makes the SDL window, because its pixel format (the depth buffer) is fixed when it
// is created; the window layer shows, hides and parents message boxes on it.
// Main thread only. Platform-layer code only: includes SDL.
#pragma once
#include <SDL.h>

#include <cstdint>
#include <cstring>

struct AppWindow {
    char className[32];
    char title[64];
    int32_t width;
    int32_t height;
    SDL_Window* sdlWindow; // made by createDisplayDevice, gone after releaseDisplayDevice
    bool destroyed;        // taken off the screen by destroyAppWindow
};

// SDL falls back to its "offscreen" driver when no X server can be reached, and a
// full-screen window then "succeeds" invisibly; "dummy" has no screen either.
inline bool headlessVideoDriver() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
}
