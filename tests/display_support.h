// Helpers for the display tests: a 640 x 480 OpenGL window in the private X server with
// the device attached, and frames read back before they are presented.
#pragma once
#include "app/frame_clock.h"
#include "gfx/device.h"
#include "gfx/device_gl.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <vector>

inline std::vector<uint8_t> pixels(640 * 480 * 4);
inline const uint8_t* pixelAt(int32_t x, int32_t y) {
    return &pixels[(size_t(y) * 640 + x) * 4];
}

// Opens the window and attaches the device on the baseline the shell sets before the
// plugins start. The context and window stay until the process ends: destroying them
// unloads the driver, whose allocations the leak checker then can no longer tell apart.
inline void openDisplay() {
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_Window* window = SDL_CreateWindow("velmora test", 0, 0, 640, 480, SDL_WINDOW_OPENGL);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    ASSERT_NE(SDL_GL_CreateContext(window), nullptr) << SDL_GetError();
    glDeviceAttach(window, 0, 0, 640, 480);
    for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
        setTextureStageState(0, filter, filterLinear);
    setRenderState(rsLighting, 0);
}

// One frame of `delta` seconds on a cleared screen, read back into `pixels`.
template <typename Draw> void drawFrame(uint32_t clearColor, float delta, Draw draw) {
    deviceClear(clearTarget | clearZBuffer, clearColor, 1.0f, 0);
    deviceBeginScene();
    frameDelta = delta;
    draw();
    deviceEndScene();
    glDeviceReadPixels(pixels.data());
    devicePresent();
}
