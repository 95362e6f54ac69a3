// Entry of the intro in a web page (program velmora.js): no main of its own; the
// page calls velmoraStart once sound may play (or has failed), and again for every
// "play again". The frame loop is the browser's animation-frame callback: it takes
// the waiting events, then lets the mixing pump render what the audio device has
// finished, then draws one frame. Main thread only.
#include "app/page_cards.h"
#include "app/platform.h"
#include "app/shell.h"
#include "app/window_events.h"
#include "audio/mixing_pump.h"

#include "app/window_web.h"

#include <emscripten.h>

const bool webKeepsDrawingBuffer = false;

namespace {

uint8_t card[640 * 480 * 4];
bool firstFrameDrawn = false;

EM_JS(void, pageFirstFrame, (), {
    if (Module.velmoraFirstFrame) Module.velmoraFirstFrame();
});

void frame() {
    WindowEvent event;
    while (loopContinues() && pollWindowEvent(&event))
        dispatchWindowEvent(event);
    if (!loopContinues()) fatalExit(nullptr);
    pumpMixing();
    renderFrame();
    if (!firstFrameDrawn) {
        firstFrameDrawn = true;
        pageFirstFrame();
    }
}

} // namespace

extern "C" {

// Runs the shell's start-up and hands the loop to the browser. Ends through the
// page's hooks when the intro ends or cannot start.
EMSCRIPTEN_KEEPALIVE void velmoraStart() {
    startShell();
    emscripten_set_main_loop(frame, 0, 0);
}

// The picture of a page card (PageCard), 640 x 480 RGBA, valid until the next call.
EMSCRIPTEN_KEEPALIVE const uint8_t* velmoraCard(int32_t which) {
    drawPageCard(which == 1 ? PageCard::again : PageCard::start, card);
    return card;
}
}
