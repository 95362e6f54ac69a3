// The display over SDL2 and OpenGL (library vm_display_sdl): enumerates SDL's
// display modes, lets display.cpp order them, and tries each with a full-screen
// window and an OpenGL 2.1 context until one comes up; then attaches the OpenGL
// device (device_gl.cpp) to it. Main thread only.
//
// With SDL on X11 the depth buffer is part of the window's visual, chosen when the
// window is created: every attempt therefore creates a window of its own, and the
// one that works becomes the intro window.
//
// SDL's full-screen request on X11 is a mode switch (when the mode differs) plus a
// message to the window manager, after which SDL waits up to 100 ms for the window
// to move or change size, on every show and every hide. Where no window manager
// runs nothing ever answers, so every start and every exit would pay the whole
// 100 ms. There, when the display already is in the wanted mode, the request would
// change nothing: the window is made the size of the screen at its origin and shown
// as a plain window, which is all that full screen amounts to without a manager.
#include "gfx/display.h"

#include "app/memory.h"
#include "app/shell.h"
#include "app/window_sdl.h"
#include "gfx/device_gl.h"

#include <SDL.h>
#include <SDL_opengl.h>

#include <cstdio>

// Last: Xlib's macros (None, Status, Bool...) reach only the code below.
#include <SDL_syswm.h>

namespace {
SDL_Window* displayWindow = nullptr;
SDL_GLContext displayContext = nullptr;
AppWindow* owner = nullptr;
bool headlessAllowed = false;

struct AttemptContext {
    const AppWindow* window;
    const SDL_DisplayMode* modes; // as enumerated, indexed by DisplayCandidate::modeIndex
    bool headless;
};

bool hasOpenGl21() {
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0, minor = 0;
    if (!version || std::sscanf(version, "%d.%d", &major, &minor) != 2) return false;
    return major > 2 || (major == 2 && minor >= 1);
}

// Only a window manager selects SubstructureRedirect on the root window (the X server
// lets one client at a time do so). Other video drivers count as managed: they
// keep SDL's full-screen handling.
bool windowManagerRuns(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return true;
    Display* display = info.info.x11.display;
    XWindowAttributes root;
    if (!XGetWindowAttributes(display, DefaultRootWindow(display), &root)) return true;
    return (root.all_event_masks & SubstructureRedirectMask) != 0;
#else
    (void)window;
    return true;
#endif
}

bool sameMode(const SDL_DisplayMode& a, const SDL_DisplayMode& b) {
    return a.w == b.w && a.h == b.h && a.format == b.format && a.refresh_rate == b.refresh_rate;
}

// Whether the window, width x height at 0,0, already covers display 0 in the mode
// the attempt wants (null candidate: the desktop's own mode) with no window manager
// to act on a full-screen request.
bool coversScreenUnmanaged(SDL_Window* window, const DisplayCandidate* candidate,
                           const SDL_DisplayMode* modes, int width, int height) {
    SDL_Rect bounds;
    SDL_DisplayMode current;
    if (SDL_GetDisplayBounds(0, &bounds) != 0 || SDL_GetCurrentDisplayMode(0, &current) != 0)
        return false;
    if (bounds.x != 0 || bounds.y != 0 || bounds.w != width || bounds.h != height) return false;
    if (candidate && !sameMode(current, modes[candidate->modeIndex])) return false;
    return !windowManagerRuns(window);
}

void discard(SDL_Window* window, SDL_GLContext context) {
    if (context) SDL_GL_DeleteContext(context);
    if (window) SDL_DestroyWindow(window);
}

int32_t attemptDisplay(const DisplayCandidate* candidate, int32_t depthBits, void* data) {
    const auto* context = static_cast<const AttemptContext*>(data);
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depthBits);

    // The desktop-mode window is made as large as the desktop as well, so that it
    // covers the screen also where no window manager carries out full-screen requests.
    int width = 640, height = 480;
    SDL_DisplayMode desktop;
    if (!candidate && !context->headless && SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
        width = desktop.w;
        height = desktop.h;
    }
    SDL_Window* window = SDL_CreateWindow(context->window->title, 0, 0, width, height,
                                          SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) return attemptNoWindow;
    // Full-screen takes effect when the window is shown (below), after the context
    // has been checked, so that a display without OpenGL 2.1 changes no mode.
    int failed = 0;
    if (context->headless ||
        coversScreenUnmanaged(window, candidate, context->modes, width, height)) {
        // Shown as it is.
    } else if (candidate) {
        failed = SDL_SetWindowDisplayMode(window, &context->modes[candidate->modeIndex]) ||
                 SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN);
    } else {
        failed = SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    }
    if (failed) {
        discard(window, nullptr);
        return attemptNoWindow;
    }
    SDL_GLContext glContext = SDL_GL_CreateContext(window);
    if (!glContext || !hasOpenGl21()) {
        discard(window, glContext);
        return attemptNoContext;
    }
    SDL_ShowWindow(window);
    if (candidate) {
        // The mode switch happens on showing; a display that refused it stays in
        // its own mode.
        SDL_DisplayMode current;
        const int display = SDL_GetWindowDisplayIndex(window);
        if (display < 0 || SDL_GetCurrentDisplayMode(display, &current) != 0 || current.w != 640 ||
            current.h != 480) {
            discard(window, glContext);
            return attemptNoWindow;
        }
    }
    displayWindow = window;
    displayContext = glContext;
    return attemptCreated;
}

// The display's modes with their Direct3D format codes. Both arrays are allocArray'd.
int32_t enumerateModes(SDL_DisplayMode** sdlModes, DisplayMode** modes) {
    const int count = SDL_GetNumDisplayModes(0);
    if (count <= 0) return 0;
    *sdlModes = static_cast<SDL_DisplayMode*>(allocArray(count, sizeof(SDL_DisplayMode)));
    *modes = static_cast<DisplayMode*>(allocArray(count, sizeof(DisplayMode)));
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode& mode = (*sdlModes)[i];
        if (SDL_GetDisplayMode(0, i, &mode) != 0) continue; // stays 0 x 0: filtered out
        (*modes)[i] = {static_cast<uint32_t>(mode.w), static_cast<uint32_t>(mode.h),
                       static_cast<uint32_t>(mode.refresh_rate > 0 ? mode.refresh_rate : 0),
                       displayFormatCode(mode.format)};
    }
    return count;
}
} // namespace

void allowHeadlessDisplay(bool allow) {
    headlessAllowed = allow;
}

void createDisplayDevice(AppWindow* window) {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) fatalExit(noOpenGlMessage);
    const bool headless = headlessVideoDriver();
    if (headless && !headlessAllowed) fatalExit(noOpenGlMessage);
    if (SDL_GL_LoadLibrary(nullptr) != 0) fatalExit(noOpenGlMessage);

    SDL_DisplayMode* sdlModes = nullptr;
    DisplayMode* modes = nullptr;
    DisplayCandidate* candidates = nullptr;
    if (!headless) {
        const int32_t count = enumerateModes(&sdlModes, &modes);
        candidates = collectDisplayCandidates(modes, count);
    }
    AttemptContext context{window, sdlModes, headless};
    const DisplayChoice choice = chooseDisplay(candidates, attemptDisplay, &context);
    const bool desktopMode = choice.candidate == nullptr;
    freeDisplayCandidates(candidates);
    if (sdlModes) freeBlock(sdlModes);
    if (modes) freeBlock(modes);
    if (choice.failure) fatalExit(choice.failure);

    owner = window;
    owner->sdlWindow = displayWindow;
    // Vertical sync; some servers (Xvfb) refuse it, which is harmless.
    SDL_GL_SetSwapInterval(1);

    DisplayViewport viewport{0, 0, 640, 480};
    if (desktopMode && !headless) {
        // Sized from the desktop mode the window covers, not from a drawable size.
        SDL_DisplayMode desktop;
        if (SDL_GetDesktopDisplayMode(0, &desktop) == 0)
            viewport = fitPicture(desktop.w, desktop.h);
    }
    glDeviceAttach(displayWindow, viewport.x, viewport.y, viewport.width, viewport.height);
}

void releaseDisplayDevice() {
    if (displayContext) {
        glDeviceDetach();
        SDL_GL_DeleteContext(displayContext);
        displayContext = nullptr;
    }
    if (displayWindow) {
        SDL_DestroyWindow(displayWindow);
        displayWindow = nullptr;
    }
    if (owner) {
        owner->sdlWindow = nullptr;
        owner = nullptr;
    }
}
