// Glue between the web display code (display_web.cpp) and the WebGL 1 display
// device (device_webgl.cpp). The display code creates the WebGL context on the
// page's canvas and makes it current, then attaches the device to it.
// All calls are made on the main thread.
#pragma once
#include <cstdint>

// Call once the canvas's WebGL 1 context (640 x 480 drawing buffer) is current; the
// device then starts from Direct3D 8's default states. False when the context lacks
// what the device needs (its shaders do not compile).
bool webglDeviceAttach();

// Releases the device's WebGL objects while the context is still current. Safe to
// call when not attached.
void webglDeviceDetach();

// Reads the 640 x 480 picture back as RGBA bytes, top row first (640 * 480 * 4
// bytes). The drawing buffer is preserved, so this also works after the frame.
void webglDeviceReadPixels(uint8_t* rgba640x480);
