// The window system over SDL2 (library vm_platform_sdl): SDL start-up and shutdown,
// the intro window record, translation of SDL events into neutral window events,
// the cursor, message boxes (always mirrored on stderr) and process exit.
// Main thread only, apart from the signal handler and the fork hook of the boxes.
#include "app/platform.h"
#include "app/window_events.h"
#include "app/window_sdl.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {
AppWindow theWindow;
bool windowCreated = false;
bool videoStarted = false;

// While a message box is up, SDL's own SIGINT and SIGTERM handlers only queue a quit
// event that nobody reads, and SDL's X11 box runs in a child process that the main
// thread waits for. So during a box a handler of ours takes the box's process down,
// the wait returns, and a quit event ends the intro through its usual exit: code 1
// after a fatal message, as after a dismissed one; the code of a normal end after
// the "Quillon" box. The child's process id reaches the handler through a page
// shared across the fork, written by a fork hook in the child.
struct BoxProcess {
    std::atomic<pid_t> pid;     // the box's process; 0 while none is known
    std::atomic<int> signalled; // a signal came while the box was up
};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
BoxProcess* boxProcess = nullptr; // in the shared page; null when it could not be made
std::atomic<bool> boxShowing{false};

void endBox(int) {
    boxProcess->signalled.store(1);
    if (pid_t box = boxProcess->pid.load(); box > 0) kill(box, SIGKILL);
}

// In the child of every fork: only a box's child records itself, and goes at once
// when the signal came before the parent could know its id.
void boxForked() {
    if (!boxShowing.load()) return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    boxProcess->pid.store(getpid());
    if (boxProcess->signalled.load()) _exit(1);
}

// A window manager hands the input focus around as a box over the intro window
// closes, and takes it from the intro window a moment after the box has gone (evilwm
// gives it to the pointer's window, which SDL does not report as a gain). For a while
// after a box, a loss of focus is answered by taking the focus back instead of being
// reported, as Windows gives the activation back to the window under a closed box.
constexpr uint64_t refocusMilliseconds = 3000;
uint64_t refocusUntil = 0; // SDL ticks

bool prepareBoxProcess() {
    if (boxProcess) return true;
    void* page = mmap(nullptr, sizeof(BoxProcess), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return false;
    boxProcess = new (page) BoxProcess{};
    pthread_atfork(nullptr, nullptr, boxForked);
    return true;
}

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
    if (sdlEvent.type == SDL_WINDOWEVENT && sdlEvent.window.event == SDL_WINDOWEVENT_FOCUS_LOST &&
        SDL_GetTicks64() < refocusUntil && !theWindow.destroyed && theWindow.sdlWindow) {
        SDL_RaiseWindow(theWindow.sdlWindow);
        SDL_SetWindowInputFocus(theWindow.sdlWindow);
        *event = {WindowEventKind::other, 0};
        return true;
    }
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
    if (!prepareBoxProcess()) {
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, parent);
        return;
    }
    boxProcess->pid.store(0);
    boxProcess->signalled.store(0);
    struct sigaction ours = {}, previousInt, previousTerm;
    ours.sa_handler = endBox;
    sigemptyset(&ours.sa_mask);
    sigaction(SIGTERM, &ours, &previousTerm);
    // An ignored SIGINT (a background job's) stays ignored, as SDL leaves it.
    sigaction(SIGINT, nullptr, &previousInt);
    if (previousInt.sa_handler != SIG_IGN) sigaction(SIGINT, &ours, nullptr);
    boxShowing.store(true);
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, parent);
    boxShowing.store(false);
    boxProcess->pid.store(0);
    sigaction(SIGTERM, &previousTerm, nullptr);
    sigaction(SIGINT, &previousInt, nullptr);
    if (parent) refocusUntil = SDL_GetTicks64() + refocusMilliseconds;
    if (boxProcess->signalled.load()) {
        SDL_Event quit = {};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
    }
}

void exitProcess(int32_t code) {
    std::fflush(stdout);
    std::fflush(stderr);
    SDL_Quit();
    std::exit(code);
}
