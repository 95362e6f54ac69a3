// The window system over SDL2 (library vm_platform_sdl): SDL start-up and shutdown,
// the intro window record, translation of SDL events into neutral window events,
// the cursor, message boxes (always mirrored on stderr) and process exit.
// Main thread only.
#include "app/platform.h"
#include "app/window_events.h"
#include "app/window_sdl.h"

#include <cstdio>
#include <cstdlib>

namespace {
AppWindow theWindow;
bool windowCreated = false;
bool videoStarted = false;

void copyText(char* destination, size_t size, const char* text) {
    std::snprintf(destination, size, "%s", text ? text : "");
}

WindowEvent translate(const SDL_Event& event) {
    switch (event.type) {
    case SDL_WINDOWEVENT:
        switch (event.window.event) {
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            return {WindowEventKind::activate, 1};
        case SDL_WINDOWEVENT_FOCUS_LOST:
            return {WindowEventKind::activate, 0};
        case SDL_WINDOWEVENT_EXPOSED:
            return {WindowEventKind::paint, 0};
        case SDL_WINDOWEVENT_CLOSE:
            return {WindowEventKind::close, 0};
        default:
            return {WindowEventKind::other, 0};
        }
    case SDL_KEYDOWN:
        // SDL key codes of the character keys are their ASCII codes: Escape is 27.
        return {WindowEventKind::keyDown, static_cast<uint32_t>(event.key.keysym.sym)};
    case SDL_QUIT:
        return {WindowEventKind::quit, 0};
    default:
        return {WindowEventKind::other, 0};
    }
}
} // namespace

void startWindowSystem() {
    videoStarted = SDL_Init(SDL_INIT_VIDEO) == 0;
}

AppWindow* createAppWindow(const char* className, const char* title, int32_t width,
                           int32_t height) {
    theWindow = AppWindow{};
    // The window class has no SDL counterpart; its name serves as the application's.
    SDL_SetHint(SDL_HINT_APP_NAME, className);
    copyText(theWindow.className, sizeof theWindow.className, className);
    copyText(theWindow.title, sizeof theWindow.title, title);
    theWindow.width = width;
    theWindow.height = height;
    windowCreated = true;
    return &theWindow;
}

void showAppWindow(AppWindow* window) {
    if (!window || window->destroyed || !window->sdlWindow) return;
    SDL_ShowWindow(window->sdlWindow);
    SDL_RaiseWindow(window->sdlWindow);
}

bool destroyAppWindow(AppWindow* window) {
    if (!window || window->destroyed) return false;
    window->destroyed = true;
    // Hidden rather than destroyed: the OpenGL context lives on the SDL window until
    // the display is released, and the plugins release their textures before that.
    // Hiding a full-screen window also gives the display its desktop mode back.
    if (window->sdlWindow) SDL_HideWindow(window->sdlWindow);
    return true;
}

void showCursor(bool show) {
    SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

bool pollWindowEvent(WindowEvent* event) {
    SDL_Event sdlEvent;
    if (!SDL_PollEvent(&sdlEvent)) return false;
    *event = translate(sdlEvent);
    return true;
}

void showMessageBox(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    // Without a screen no box can be shown; stderr has the text already.
    if (!videoStarted || headlessVideoDriver()) return;
    SDL_Window* parent = nullptr;
    if (windowCreated && !theWindow.destroyed) parent = theWindow.sdlWindow;
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, parent);
}

void exitProcess(int32_t code) {
    std::fflush(stdout);
    std::fflush(stderr);
    SDL_Quit();
    std::exit(code);
}
