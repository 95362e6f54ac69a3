// The display over Direct3D 8 (library vm_display_d3d8): loads d3d8.dll at run time,
// enumerates the default adapter's modes, lets display.cpp filter and order them
// with this file's device type and depth buffer checks, and creates the full-screen
// device on the intro window with the first candidate that works; then attaches the
// Direct3D 8 device (device_d3d8.cpp) to it. Main thread only.
//
// d3d8.dll is loaded by name rather than imported: the program then also starts
// where Direct3D 8 is missing, and says so.
#include "app/memory.h"
#include "app/shell.h"
#include "app/window_win32.h"
#include "gfx/device.h"
#include "gfx/device_d3d8.h"
#include "gfx/display.h"

#include <windows.h>

#include <d3d8.h>

namespace {

using Direct3DCreate8Function = IDirect3D8*(WINAPI*)(UINT);

HMODULE library = nullptr;
IDirect3D8* direct3d = nullptr;
IDirect3DDevice8* device = nullptr;
bool lockableBackBuffer = false;

// The depth buffer for a display format: 32 bits when the adapter has it for that
// format, else 16 bits; formats with stencil bits are never chosen.
int32_t chooseDepthFormat(uint32_t adapterFormat, uint32_t* depthFormat) {
    const D3DFORMAT adapter = D3DFORMAT(adapterFormat);
    constexpr uint32_t depthFormats[2] = {fmtD32, fmtD16};
    for (uint32_t depth : depthFormats) {
        if (SUCCEEDED(direct3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, adapter, D3DUSAGE_DEPTHSTENCIL,
                                                  D3DRTYPE_SURFACE, D3DFORMAT(depth))) &&
            SUCCEEDED(direct3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, adapter, adapter,
                                                       D3DFORMAT(depth)))) {
            *depthFormat = depth;
            return 0;
        }
    }
    return -1;
}

// Full screen with the back buffer in the display format, and a depth buffer.
int32_t checkMode(const DisplayMode& mode, uint32_t* depthFormat, void*) {
    const D3DFORMAT format = D3DFORMAT(mode.format);
    if (FAILED(direct3d->CheckDeviceType(0, D3DDEVTYPE_HAL, format, format, FALSE))) return -1;
    return chooseDepthFormat(mode.format, depthFormat);
}

DisplayCandidate* collectCandidates() {
    const UINT count = direct3d->GetAdapterModeCount(0);
    D3DCAPS8 caps{};
    const bool hardwareTransform = SUCCEEDED(direct3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps)) &&
                                   (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0;
    if (count == 0) return nullptr;
    auto* modes = static_cast<DisplayMode*>(allocArray(int32_t(count), sizeof(DisplayMode)));
    for (UINT i = 0; i < count; ++i) {
        D3DDISPLAYMODE mode{};
        if (FAILED(direct3d->EnumAdapterModes(0, i, &mode))) continue; // stays 0 x 0: left out
        modes[i] = {mode.Width, mode.Height, mode.RefreshRate, uint32_t(mode.Format)};
    }
    const DisplayModeFilter filter{hardwareTransform ? hardwareVertexProcessing
                                                     : softwareVertexProcessing,
                                   checkMode, nullptr};
    DisplayCandidate* list = collectDisplayCandidates(modes, int32_t(count), &filter);
    freeBlock(modes);
    return list;
}

IDirect3DDevice8* createDevice(HWND focus, const DisplayCandidate& candidate) {
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 640;
    parameters.BackBufferHeight = 480;
    parameters.BackBufferFormat = D3DFORMAT(candidate.format);
    parameters.BackBufferCount = 0; // one back buffer
    parameters.MultiSampleType = D3DMULTISAMPLE_NONE;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.hDeviceWindow = nullptr; // the focus window
    parameters.Windowed = FALSE;
    parameters.EnableAutoDepthStencil = TRUE;
    parameters.AutoDepthStencilFormat = D3DFORMAT(candidate.depthFormat);
    parameters.Flags = lockableBackBuffer ? D3DPRESENTFLAG_LOCKABLE_BACKBUFFER : 0;
    parameters.FullScreen_RefreshRateInHz = candidate.refreshRate;
    parameters.FullScreen_PresentationInterval = 0; // wait for the vertical retrace
    IDirect3DDevice8* created = nullptr;
    if (FAILED(direct3d->CreateDevice(0, D3DDEVTYPE_HAL, focus, candidate.behaviourFlags,
                                      &parameters, &created)))
        return nullptr;
    return created;
}

} // namespace

void requestLockableBackBuffer(bool lockable) {
    lockableBackBuffer = lockable;
}

void createDisplayDevice(AppWindow* window) {
    library = LoadLibraryA("d3d8.dll");
    auto create = library ? reinterpret_cast<Direct3DCreate8Function>(
                                reinterpret_cast<void*>(GetProcAddress(library, "Direct3DCreate8")))
                          : nullptr;
    direct3d = create ? create(D3D_SDK_VERSION) : nullptr;
    if (!direct3d) fatalExit(noDirect3dMessage);

    DisplayCandidate* candidates = collectCandidates();
    if (!candidates) fatalExit(noVideoModeMessage);
    for (const DisplayCandidate* candidate = candidates; candidate && !device;
         candidate = candidate->next)
        device = createDevice(window->hwnd, *candidate);
    freeDisplayCandidates(candidates);
    if (!device) fatalExit(noVideoModeMessage);
    d3d8DeviceAttach(device);
}

void releaseDisplayDevice() {
    d3d8DeviceDetach();
    if (device) {
        device->Release();
        device = nullptr;
    }
    if (direct3d) {
        direct3d->Release();
        direct3d = nullptr;
    }
    if (library) {
        FreeLibrary(library);
        library = nullptr;
    }
}

// Every mode is a real one: there is no headless display on this platform.
void allowHeadlessDisplay(bool) {}
