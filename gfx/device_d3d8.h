// Glue between the Direct3D 8 display creation (display_d3d8.cpp) and the Direct3D 8
// display device (device_d3d8.cpp). The display code creates the device and attaches
// it; before releasing it, the display code detaches it. All calls are made on the
// main thread.
#pragma once
#include <cstdint>

struct IDirect3DDevice8;

// Every call of gfx/device.h goes to `device` from now on; the display code keeps
// its own reference.
void d3d8DeviceAttach(IDirect3DDevice8* device);
// Calls fail again until the next attach. Safe to call when not attached.
void d3d8DeviceDetach();

// Asks the display creation for a back buffer that can be locked, so that
// d3d8DeviceReadPixels works. Set before createDisplayDevice; the intro never does.
void requestLockableBackBuffer(bool lockable);

// Reads the 640 x 480 picture back from the back buffer as RGBA bytes, top row first
// (640 * 480 * 4 bytes), alpha 255. Call it before devicePresent: the discarding
// swap leaves the back buffer undefined. Returns 0, or -1 when the back buffer
// cannot be locked (not requested lockable) or has a format it cannot convert.
int32_t d3d8DeviceReadPixels(uint8_t* rgba640x480);
