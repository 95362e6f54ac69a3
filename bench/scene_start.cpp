// The main scene brought up for a measurement (see scene_start.h). Main thread only.
#include "bench/scene_start.h"

#include "app/frame_clock.h"
#include "app/platform.h"
#include "app/shell.h"
#include "audio/waveout_virtual.h"
#include "effects/picture_sequence.h"
#include "gfx/device.h"
#include "gfx/display.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t bytesPerSecond = 44100 * 4;

Clock::time_point audioMark;
double audioCarry = 0.0;

} // namespace

void advanceSceneAudio() {
    const Clock::time_point now = Clock::now();
    audioCarry += std::chrono::duration<double>(now - audioMark).count() * bytesPerSecond;
    audioMark = now;
    const uint64_t bytes = uint64_t(audioCarry) & ~uint64_t(3);
    audioCarry -= double(bytes);
    advanceVirtualPosition(bytes);
}

bool startMainScene() {
    startWindowSystem();
    AppWindow* window = createAppWindow("Velmora", "Velmora", 640, 480);
    showCursor(false);
    showAppWindow(window);
    createDisplayDevice(window);
    initDemoPlugins();
    initSound();
    showAppWindow(window);
    startMusic();
    audioMark = Clock::now();

    // Whatever the frame lengths, the opening and its white-out are over within a
    // few dozen frames; these are composed as composeFrame does, with a set frameDelta.
    frameDelta = 2.0f;
    bool openingOver = false;
    for (int32_t frame = 0; frame < 200 && !openingOver; ++frame) {
        deviceClear(clearTarget | clearZBuffer, 0, 1.0f, 0);
        deviceBeginScene();
        const int32_t sequence = renderPictureSequence();
        if (sequence != -1) renderWhiteout();
        deviceEndScene();
        devicePresent();
        // Over once the sequence has handed over after the white-out has fallen.
        openingOver = sequence == 0;
    }
    startFrameClock();
    return openingOver;
}
