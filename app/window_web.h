// What the web window layer (window_web.cpp) and the web display creation
// (gfx/display_web.cpp) share: the record of the intro window, which in the page is
// the canvas with the id "screen" (a 640 x 480 drawing buffer that the page scales
// to fit at 4:3). Main thread only. Platform-layer code only.
#pragma once
#include <cstdint>

struct AppWindow {
    char className[32];
    char title[64];
    int32_t width;
    int32_t height;
    const char* canvas; // the canvas as an html5.h target: "#screen"
    bool destroyed;     // taken off the screen by destroyAppWindow
};

inline constexpr const char* webCanvasTarget = "#screen";

// Whether the canvas keeps its drawing buffer after each frame, so that the page can
// read a frame back from it: the still mode does, the live intro does not (keeping it
// costs the browser a copy of the whole buffer a frame). Each program defines it.
extern const bool webKeepsDrawingBuffer;
