// Entry of the page's still mode (program velmora-still.js, loaded by index.html?at=T):
// the frame at T seconds, drawn as velmora-capture --at draws it, from the virtual
// counter and the virtual wave output at 60 frames a second, every frame from the
// start composed in turn. Up to framesPerTurn frames are composed per animation
// frame so the page stays responsive; the last one is presented and the page told
// (Module.velmoraStillDrawn), which marks itself ready. Main thread only.
#include "app/platform.h"
#include "app/shell.h"
#include "gfx/device.h"
#include "tools/capture/capture_options.h"
#include "tools/capture/capture_step.h"

#include "app/window_web.h"

#include <emscripten.h>

#include <string>

const bool webKeepsDrawingBuffer = true;

namespace {

constexpr int32_t fps = 60;
constexpr int64_t framesPerTurn = 120;

int64_t nextFrame = 0;
int64_t lastFrame = 0;

EM_JS(void, stillDrawn, (double seconds), {
    if (Module.velmoraStillDrawn) Module.velmoraStillDrawn(seconds);
});

void turn() {
    const int64_t end =
        nextFrame + framesPerTurn < lastFrame ? nextFrame + framesPerTurn : lastFrame + 1;
    for (; nextFrame < end; ++nextFrame)
        composeCaptureFrame(nextFrame, fps);
    if (nextFrame <= lastFrame) return;
    devicePresent();
    emscripten_cancel_main_loop();
    stillDrawn(static_cast<double>(lastFrame) / fps);
}

} // namespace

extern "C" {

// Draws the frame at `seconds` (decimal seconds, at most three decimals, at most an
// hour). Anything else is reported in a message card and nothing is drawn.
EMSCRIPTEN_KEEPALIVE void velmoraStill(const char* seconds) {
    int64_t milliseconds = 0;
    if (!parseSeconds(seconds, &milliseconds)) {
        const std::string text = std::string("?at= needs a time in seconds such as 36 or "
                                             "33.7 (at most an hour), not \"") +
                                 seconds + "\"";
        showMessageBox("Velmora", text.c_str());
        return;
    }
    startCaptureClock(fps);
    startShell();
    nextFrame = 0;
    lastFrame = frameAtTime(milliseconds, fps);
    emscripten_set_main_loop(turn, 0, 0);
}
}
