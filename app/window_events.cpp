// The window procedure's table over neutral events. Main thread only.
#include "app/window_events.h"

WindowResponse windowProcedure(const WindowEvent& event) {
    WindowResponse response{};
    response.defaultProcessing = true;
    switch (event.kind) {
    case WindowEventKind::activate:
        // The whole activation value: a non-zero "inactive but minimised" state keeps
        // the loop running; only an exact 0 destroys the window.
        response.setsRunning = true;
        response.running = static_cast<int32_t>(event.value);
        response.destroyWindow = event.value == 0;
        break;
    case WindowEventKind::paint:
        response.validate = true;
        response.defaultProcessing = false;
        response.result = 1;
        break;
    case WindowEventKind::keyDown:
        if (event.value == keyEscape) {
            response.setsRunning = true;
            response.running = 0;
        }
        break;
    case WindowEventKind::destroy:
    case WindowEventKind::close:
    case WindowEventKind::quit:
        response.setsRunning = true;
        response.running = 0;
        break;
    case WindowEventKind::other:
        break;
    }
    return response;
}
