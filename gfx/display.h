// Display selection: which 640 x 480 full-screen modes are candidates and in which
// order they are tried, the depth buffers tried for each, the fallback to the
// desktop's own mode with the picture scaled to fit, and the messages that end the
// program when nothing can be had. The selection is platform-free (display.cpp);
// createDisplayDevice and releaseDisplayDevice carry it out over SDL2 and OpenGL
// (display_sdl.cpp, library vm_display_sdl) or over Direct3D 8 (display_d3d8.cpp,
// library vm_display_d3d8). Main thread only.
#pragma once
#include <cstdint>

struct AppWindow;

inline constexpr const char* noOpenGlMessage = "OpenGL 2.1 needed";
inline constexpr const char* noDirect3dMessage = "DirectX 8 needed";
inline constexpr const char* noWebGlMessage =
    "WebGL is needed to show this intro; this browser has it turned off or does not offer it";
inline constexpr const char* noVideoModeMessage = "No valid video mode found";

// One display mode as enumerated; format is the Direct3D code (displayFormatCode).
struct DisplayMode {
    uint32_t width;
    uint32_t height;
    uint32_t refreshRate; // 0: the display's default
    uint32_t format;
};

// One node of the ordered candidate list (allocBlock'd; freeDisplayCandidates).
struct DisplayCandidate {
    uint32_t width;
    uint32_t height;
    uint32_t refreshRate;
    uint32_t format;
    uint32_t behaviourFlags; // hardware (0x40) or software (0x20) vertex processing
    int32_t sortKey;         // key bit | format << 16 | refresh << 8 | depth format
    uint32_t depthFormat;    // D32 (71) or D16 (80)
    int32_t modeIndex;       // position of the mode in the enumeration
    DisplayCandidate* next;
};

// The Direct3D format code of an SDL pixel format: 24-bit RGB 20, ARGB8888 21,
// RGB888/XRGB8888 22, RGB565 23, RGB555 24, ARGB1555 25, ARGB4444 26, the
// palettised INDEX8 41; anything else 0 (unknown).
uint32_t displayFormatCode(uint32_t sdlPixelFormat);

// What the device interface adds to the choice: the vertex processing it offers
// and a check of each mode that passes the plain filter (the device type and a depth
// buffer), which answers 0 and the depth format to use, or -1 to leave the mode out.
inline constexpr uint32_t hardwareVertexProcessing = 0x40;
inline constexpr uint32_t softwareVertexProcessing = 0x20;
using DisplayModeCheck = int32_t (*)(const DisplayMode& mode, uint32_t* depthFormat, void* context);
struct DisplayModeFilter {
    uint32_t behaviourFlags;
    DisplayModeCheck check; // null: every mode, with a D32 depth buffer first
    void* context;
};

// The 640 x 480 modes in formats 20 to 26 with a refresh rate up to 255 that pass
// the filter's check, in ascending key order; among equal keys a later-enumerated
// mode stands first. Software vertex processing sets the key's top bit. Null when
// there is none. No filter: hardware vertex processing and no check (OpenGL).
DisplayCandidate* collectDisplayCandidates(const DisplayMode* modes, int32_t count,
                                           const DisplayModeFilter* filter = nullptr);
void freeDisplayCandidates(DisplayCandidate* list);

// Depth buffer sizes tried for every mode, in this order.
inline constexpr int32_t depthBitsOrder[3] = {32, 24, 16};

// Results of one attempt to set up a mode.
inline constexpr int32_t attemptCreated = 0;   // window, mode and OpenGL 2.1 context are up
inline constexpr int32_t attemptNoWindow = 1;  // the window or the mode could not be had
inline constexpr int32_t attemptNoContext = 2; // a window, but no OpenGL 2.1 context on it

// Tries to set up `candidate` (null: the desktop's own mode) with a depth buffer of
// `depthBits`.
using DisplayAttempt = int32_t (*)(const DisplayCandidate* candidate, int32_t depthBits,
                                   void* context);

struct DisplayChoice {
    const DisplayCandidate* candidate; // null: the desktop fallback, or nothing
    int32_t depthBits;                 // 0 when nothing could be set up
    const char* failure;               // the message to end with; null on success
};

// Tries every candidate in list order, each with the depths of depthBitsOrder, then
// the desktop's own mode with the same depths. Fails with noOpenGlMessage when some
// window came up but no OpenGL 2.1 context could be made on it, else with
// noVideoModeMessage.
DisplayChoice chooseDisplay(const DisplayCandidate* list, DisplayAttempt attempt, void* context);

// The largest 4:3 area centred on a screen of the given size, in OpenGL viewport
// terms (x from the left, y from the bottom); the rest stays black.
struct DisplayViewport {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};
DisplayViewport fitPicture(int32_t screenWidth, int32_t screenHeight);

// ---- Carried out by the platform layer (display_sdl.cpp, display_d3d8.cpp) ----

// Creates the full-screen display for `window` (SDL: the window with its OpenGL
// context; Direct3D 8: the device on the window) and attaches the display device to
// it. Returns only on success; otherwise ends the program through fatalExit with
// noOpenGlMessage or noDirect3dMessage, or noVideoModeMessage.
void createDisplayDevice(AppWindow* window);

// Detaches the device, then destroys the context and the window. Safe when nothing
// was created, and when called twice.
void releaseDisplayDevice();

// SDL's "offscreen" and "dummy" video drivers have no screen: the intro treats them
// as no display. A headless program (the offline capture) allows them; on them the
// display is a plain 640 x 480 window with an OpenGL context, no mode is chosen.
void allowHeadlessDisplay(bool allow);
