// The window system in a web page (library vm_platform_web), over emscripten's
// html5.h: the intro window record (the page's canvas), keyboard, double-click and
// page visibility translated into neutral window events, full screen on a key or a
// double-click, the cursor over the canvas, messages shown as cards in the page
// (always mirrored on the console) and the end of the program, which hands the page
// back to its cards instead of ending a process. Main thread only: the browser
// calls the event handlers between frames.
#include "app/platform.h"
#include "app/window_events.h"
#include "app/window_web.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdio>

namespace {

AppWindow theWindow;

// Events wait here between the browser's handlers and pollWindowEvent. A full queue
// drops the newest event except Escape and deactivation, which replace the last.
constexpr int32_t queueSize = 64;
WindowEvent queue[queueSize];
int32_t queueHead = 0;
int32_t queueCount = 0;
bool handlersSet = false;

void push(WindowEvent event) {
    const bool ending = (event.kind == WindowEventKind::keyDown && event.value == keyEscape) ||
                        (event.kind == WindowEventKind::activate && event.value == 0);
    if (queueCount == queueSize) {
        if (!ending) return;
        --queueCount;
    }
    queue[(queueHead + queueCount) % queueSize] = event;
    ++queueCount;
}

void copyText(char* destination, size_t size, const char* text) {
    std::snprintf(destination, size, "%s", text ? text : "");
}

// Full screen is only granted inside a user's key or mouse handler; the page element
// goes full screen, so that its layout keeps the picture at 4:3 with black bars.
EM_JS(void, requestPageFullscreen, (), {
    var page = document.getElementById('page') || document.documentElement;
    if (document.fullscreenElement || !page.requestFullscreen) return;
    page.requestFullscreen().catch(function(){});
});

EM_JS(void, setCanvasCursor, (int shown), {
    var canvas = document.getElementById('screen');
    if (canvas) canvas.style.cursor = shown ? 'auto' : 'none';
});

EM_JS(int, pageHidden, (), { return document.hidden ? 1 : 0; });

EM_JS(void, pageMessage, (const char* caption, const char* text), {
    var c = UTF8ToString(caption), t = UTF8ToString(text);
    if (Module.velmoraMessage)
        Module.velmoraMessage(c, t);
    else
        console.log(c + ': ' + t);
});

EM_JS(void, pageEnded, (int code), {
    if (Module.velmoraEnded) Module.velmoraEnded(code);
});

EM_BOOL onKeyDown(int, const EmscriptenKeyboardEvent* event, void*) {
    if (!theWindow.destroyed && event->keyCode != keyEscape && !event->repeat)
        requestPageFullscreen();
    push({WindowEventKind::keyDown, static_cast<uint32_t>(event->keyCode)});
    // Escape is the intro's; every other key keeps its browser meaning.
    return event->keyCode == keyEscape;
}

EM_BOOL onDoubleClick(int, const EmscriptenMouseEvent*, void*) {
    if (!theWindow.destroyed) requestPageFullscreen();
    return true;
}

// A hidden page is a window switched away from: the intro ends as on deactivation.
// A hidden page gets no animation frames, so the loop takes the event when the page
// is shown again and shows the end card then; the page stops the sound at once.
EM_BOOL onVisibility(int, const EmscriptenVisibilityChangeEvent* event, void*) {
    push({WindowEventKind::activate, event->hidden ? 0u : 1u});
    return false;
}

} // namespace

void startWindowSystem() {
    queueHead = 0;
    queueCount = 0;
    if (handlersSet) return;
    handlersSet = true;
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, true, onKeyDown);
    emscripten_set_dblclick_callback(webCanvasTarget, nullptr, true, onDoubleClick);
    emscripten_set_visibilitychange_callback(nullptr, true, onVisibility);
}

AppWindow* createAppWindow(const char* className, const char* title, int32_t width,
                           int32_t height) {
    theWindow = AppWindow{};
    copyText(theWindow.className, sizeof theWindow.className, className);
    copyText(theWindow.title, sizeof theWindow.title, title);
    theWindow.width = width;
    theWindow.height = height;
    theWindow.canvas = webCanvasTarget;
    return &theWindow;
}

// The canvas is always on the page; a visible page is an active window.
void showAppWindow(AppWindow* window) {
    if (!window || window->destroyed) return;
    if (!pageHidden()) push({WindowEventKind::activate, 1});
}

bool destroyAppWindow(AppWindow* window) {
    if (!window || window->destroyed) return false;
    window->destroyed = true;
    return true;
}

void showCursor(bool show) {
    setCanvasCursor(show ? 1 : 0);
}

bool pollWindowEvent(WindowEvent* event) {
    if (queueCount == 0) return false;
    *event = queue[queueHead];
    queueHead = (queueHead + 1) % queueSize;
    --queueCount;
    return true;
}

// A page cannot block for a modal box: the card appears and the program goes on.
void showMessageBox(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    pageMessage(caption, text);
}

// The page outlives the intro: the frame loop stops, the page shows its end card
// (code 0) or keeps the message already shown, and the call unwinds back to the
// browser without running anything after it.
void exitProcess(int32_t code) {
    std::fflush(stdout);
    std::fflush(stderr);
    emscripten_cancel_main_loop();
    pageEnded(code);
    emscripten_exit_with_live_runtime();
}
