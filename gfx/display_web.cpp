// The display in a web page (library vm_display_web): a WebGL 1 context on the
// intro window's canvas with a 640 x 480 drawing buffer, which the page scales to
// fit; the WebGL device (device_webgl.cpp) is attached to it. There are no display
// modes to choose: the page is the screen. The drawing buffer is kept after each
// frame only in the still mode (webKeepsDrawingBuffer), so that a still can be read
// back from the canvas, and has no alpha, so the page never shows through. Main
// thread only.
#include "app/shell.h"
#include "app/window_web.h"
#include "gfx/device_webgl.h"
#include "gfx/display.h"

#include <emscripten/html5.h>

namespace {
EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = 0;
} // namespace

void allowHeadlessDisplay(bool) {}

void createDisplayDevice(AppWindow* window) {
    const char* canvas = window && window->canvas ? window->canvas : webCanvasTarget;
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_TRUE;
    attributes.stencil = EM_FALSE;
    attributes.antialias = EM_FALSE;
    attributes.premultipliedAlpha = EM_FALSE;
    attributes.preserveDrawingBuffer = webKeepsDrawingBuffer ? EM_TRUE : EM_FALSE;
    attributes.failIfMajorPerformanceCaveat = EM_FALSE;
    attributes.majorVersion = 1;
    attributes.minorVersion = 0;
    // Only the extensions the device asks for: enabling every one the browser offers
    // costs a round trip to its graphics process each, about 0.1 s in all.
    attributes.enableExtensionsByDefault = EM_FALSE;
    emscripten_set_canvas_element_size(canvas, 640, 480);
    context = emscripten_webgl_create_context(canvas, &attributes);
    if (context <= 0) {
        context = 0;
        fatalExit(noWebGlMessage);
    }
    if (emscripten_webgl_make_context_current(context) != EMSCRIPTEN_RESULT_SUCCESS ||
        !webglDeviceAttach()) {
        emscripten_webgl_destroy_context(context);
        context = 0;
        fatalExit(noWebGlMessage);
    }
}

void releaseDisplayDevice() {
    if (!context) return;
    webglDeviceDetach();
    emscripten_webgl_destroy_context(context);
    context = 0;
}
