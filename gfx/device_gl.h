// Glue between the SDL display creation code and the OpenGL 2.1 display device
// (device_gl.cpp). The display code creates the window and a current OpenGL
// context, then attaches the device to it; before the context is destroyed it
// detaches, which releases every OpenGL object the device made.
// All calls are made on the main thread.
#pragma once
#include <cstdint>

struct SDL_Window;

// Call once the window's OpenGL context is current. The 640 x 480 picture is drawn
// into the given viewport of the window's drawable (bottom-left origin, pixels, as
// glViewport counts it); the device then starts from Direct3D 8's default states.
// devicePresent swaps this window.
void glDeviceAttach(SDL_Window* window, int viewportX, int viewportY, int viewportWidth,
                    int viewportHeight);

// Releases the device's OpenGL objects (textures still alive are freed) while the
// context is still current. Safe to call when not attached.
void glDeviceDetach();

// Reads the 640 x 480 picture back from the back buffer as RGBA bytes, top row
// first (640 * 480 * 4 bytes). Used by tests and the capture tool; call it before
// devicePresent, since a swap leaves the back buffer undefined.
void glDeviceReadPixels(uint8_t* rgba640x480);
