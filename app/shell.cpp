// The application shell: start-up order, the event and frame loop, frame
// composition and fatalExit. Platform-free: the window system is reached through
// app/platform.h, the display through gfx/display.h and gfx/device.h.
// Everything here runs on the main thread; startMusic starts the mixing thread and
// shutdownSound stops it before the output is closed.
#include "app/shell.h"

#include "app/counter.h"
#include "app/frame_clock.h"
#include "app/memory.h"
#include "app/platform.h"
#include "app/random.h"
#include "app/window_events.h"
#include "audio/output.h"
#include "audio/sync.h"
#include "effects/backdrop.h"
#include "effects/corner_panels.h"
#include "effects/picture_sequence.h"
#include "effects/text_scroller.h"
#include "effects/tube.h"
#include "gfx/device.h"
#include "gfx/display.h"
#include "music/loader.h"
#include "music/module_source.h"

#include <cstdio>

namespace {
// The window class and the title are two separate strings that happen to be equal;
// the title is also the caption of every fatal message.
constexpr const char* windowClassName = "Velmora";
constexpr const char* windowTitle = "Velmora";

AppWindow* window = nullptr;
int32_t running = 0;
Song* song = nullptr;
bool exiting = false;

// Win32 activates a window synchronously when it is shown; SDL reports the focus a
// while later (about 200 ms after a full-screen window appears on X11). Until the
// first activation arrives, bounded by activationWaitSeconds, the window counts as
// active, so that the loop neither ends at once nor waits for the report to draw.
constexpr uint64_t activationWaitSeconds = 3;
bool activationPending = false;
uint64_t activationDeadline = 0;

bool activationStillPending() {
    if (activationPending && readCounter() >= activationDeadline) activationPending = false;
    return activationPending;
}
} // namespace

// ---- Start-up ----

void startShell() {
    window = nullptr;
    running = 0;
    song = nullptr;
    exiting = false;
    activationPending = false;
    setMemoryExhaustedHandler(fatalExit);

    startWindowSystem();
    window = createAppWindow(windowClassName, windowTitle, 640, 480);
    showCursor(false);
    showAppWindow(window);
    // (No COM to initialise on this platform.)
    createDisplayDevice(window);
    initDemoPlugins();
    initSound();
    showAppWindow(window);
    if (running == 0) {
        activationPending = true;
        activationDeadline = readCounter() + activationWaitSeconds * counterFrequency();
    }
    startMusic();
    startFrameClock();
}

int32_t initDemoPlugins() {
    // Baseline states set only once; every plugin restores them after drawing.
    setTextureStageState(0, tssMagFilter, filterLinear);
    setTextureStageState(0, tssMinFilter, filterLinear);
    setTextureStageState(0, tssMipFilter, filterLinear);
    setRenderState(rsLighting, 0);

    seedRandom(static_cast<uint32_t>(readCounter()));

    // All five run even after a failure, so each has done its part for the shutdowns.
    int32_t result = initBackdrop();
    result |= initTube();
    result |= initTextScroller();
    result |= initCornerPanels();
    result |= initPictureSequence();
    if (result != 0) fatalExit("Can't init demo plugins");
    return 0;
}

void initSound() {
    registerFileCallbacks(openModuleFile, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    if (!openSoundOutput(44100)) {
        showMessageBox("Quillon", "Error during initialization of Quillon");
        return;
    }
    // A module that cannot be loaded means no music, without a message.
    song = loadSong(nullptr);
    setSyncSong(song);
}

void startMusic() {
    if (song) playSong(song);
}

// ---- Loop and frame ----

void dispatchWindowEvent(const WindowEvent& event) {
    const WindowResponse response = windowProcedure(event);
    if (response.setsRunning) {
        running = response.running;
        activationPending = false;
    }
    // Destroying the window delivers its destroy event at once, as Win32 does.
    if (response.destroyWindow && destroyAppWindow(window))
        dispatchWindowEvent({WindowEventKind::destroy, 0});
}

bool loopContinues() {
    return running != 0 || activationStillPending();
}

void runLoop() {
    WindowEvent event;
    while (loopContinues()) {
        if (pollWindowEvent(&event))
            dispatchWindowEvent(event);
        else
            renderFrame();
    }
    fatalExit(nullptr);
}

void renderFrame() {
    composeFrame();
    devicePresent();
}

void composeFrame() {
    deviceClear(clearTarget | clearZBuffer, 0x00000000, 1.0f, 0);
    tickFrameClock();
    deviceBeginScene();
    // -1: the opening owns the screen; 1: it is ending; 0: it is over.
    const int32_t sequence = renderPictureSequence();
    if (sequence == 0) {
        renderBackdrop();
        renderTube();
        renderTextScroller();
        renderCornerPanels();
    }
    if (sequence != -1) renderWhiteout();
    deviceEndScene();
}

// ---- Teardown ----

void shutdownDemoPlugins() {
    shutdownBackdrop();
    shutdownTube();
    shutdownTextScroller();
    shutdownCornerPanels();
    shutdownPictureSequence();
}

void shutdownSound() {
    setSyncSong(nullptr);
    if (song) {
        // Stops the mixing thread before the song's memory goes.
        freeSong(song);
        song = nullptr;
    }
    closeSoundOutput();
}

void fatalExit(const char* message) {
    if (exiting) {
        // Entered again from inside the teardown (memory ran out there, say): what
        // is left is not safe to tear down twice.
        std::fprintf(stderr, "%s: %s\n", windowTitle, message ? message : "teardown failed");
        exitProcess(1);
    }
    exiting = true;
    if (destroyAppWindow(window)) dispatchWindowEvent({WindowEventKind::destroy, 0});
    shutdownDemoPlugins();
    shutdownSound();
    releaseDisplayDevice();
    // (No COM to uninitialise.)
    showCursor(true);
    if (message) showMessageBox(windowTitle, message);
    // A shown message means the program failed.
    exitProcess(message ? 1 : 0);
}

int32_t shellRunning() {
    return running;
}
Song* shellSong() {
    return song;
}
