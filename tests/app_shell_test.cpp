// The shell against stand-ins for the window system, display, device, plugins and
// sound, all defined here and chosen at link time. Each logs its call; exitProcess
// throws instead of ending the test program.
#include "app/counter_virtual.h"
#include "app/frame_clock.h"
#include "app/memory.h"
#include "app/platform.h"
#include "app/random.h"
#include "app/shell.h"
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

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

namespace {
using Calls = std::vector<std::string>;
struct ProcessExit {
    int32_t code;
};
constexpr WindowEvent none{WindowEventKind::other, 0xFFFFFFFF}; // script: nothing pending

struct World {
    Calls calls;
    const char* displayFailure = nullptr;
    std::string failingInit;
    bool soundOpens = true, songLoads = true, windowGone = false;
    int32_t sequenceResult = 0, frames = 0;
    std::deque<WindowEvent> events;
    uint64_t ticksPerIdlePoll = 0, counter = 1000000;
    std::string fatalInShutdown;
} world;

// Handles only: the shell never looks inside them.
alignas(8) unsigned char songBytes[8], windowBytes[8];
Song* const theSong = reinterpret_cast<Song*>(songBytes);
AppWindow* const theWindow = reinterpret_cast<AppWindow*>(windowBytes);

// Logs "name arg arg ...": the stand-ins' calls in order.
template <class... Args> void log(const std::string& name, Args... args) {
    std::ostringstream call;
    call << name;
    ((call << ' ' << args), ...);
    world.calls.push_back(call.str());
}
std::string name(Song* song) {
    return song ? "song" : "null";
}

int32_t run(World setup, bool loop = true) {
    world = std::move(setup);
    setVirtualFrequency(1000000);
    setVirtualCounter(world.counter);
    try {
        startShell();
        if (!loop) return -1;
        runLoop();
    } catch (const ProcessExit& exit) {
        return exit.code;
    }
}

Calls after(const std::string& first, size_t count) {
    for (size_t i = 0; i < world.calls.size(); ++i)
        if (world.calls[i] == first)
            return Calls(world.calls.begin() + i,
                         world.calls.begin() + std::min(world.calls.size(), i + count));
    return {};
}
int32_t count(const std::string& call) {
    return int32_t(std::count(world.calls.begin(), world.calls.end(), call));
}
std::string joined(const Calls& calls) {
    std::string all;
    for (const std::string& call : calls)
        all += (all.empty() ? "" : "|") + call;
    return all;
}
const std::string teardown = "destroyAppWindow|shutdownBackdrop|shutdownTube|"
                             "shutdownTextScroller|shutdownCornerPanels|shutdownPictureSequence|"
                             "setSyncSong null";
} // namespace

// ---- Stand-ins ----
// clang-format off

void startWindowSystem() { log("startWindowSystem"); }
AppWindow* createAppWindow(const char* className, const char* title, int32_t w, int32_t h) {
    return log("createAppWindow", className, title, w, h), theWindow;
}
void showAppWindow(AppWindow* window) { log("showAppWindow", window == theWindow); }
bool destroyAppWindow(AppWindow* window) {
    if (window != theWindow || world.windowGone) return false;
    return log("destroyAppWindow"), world.windowGone = true;
}
void showCursor(bool show) { log("showCursor", show); }
bool pollWindowEvent(WindowEvent* event) {
    *event = world.events.empty() ? none : world.events.front();
    if (!world.events.empty()) world.events.pop_front();
    if (event->value == none.value) advanceVirtualCounter(world.ticksPerIdlePoll);
    return event->value != none.value;
}
void showMessageBox(const char* caption, const char* text) { log("box", caption, text); }
void exitProcess(int32_t code) { log("exit", code); throw ProcessExit{code}; }
void createDisplayDevice(AppWindow* window) {
    log("createDisplayDevice", window == theWindow);
    if (world.displayFailure) fatalExit(world.displayFailure);
}
void releaseDisplayDevice() { log("releaseDisplayDevice"); }
int32_t deviceClear(uint32_t flags, uint32_t color, float z, uint32_t stencil) {
    return log("clear", flags, color, z, stencil), 0;
}
int32_t deviceBeginScene() { return log("begin"), 0; }
int32_t deviceEndScene() { return log("end"), 0; }
int32_t devicePresent() {
    if (++world.frames > 1000) throw ProcessExit{-99}; // a runaway loop
    return log("present"), 0;
}
int32_t setRenderState(uint32_t state, uint32_t value) { return log("rs", state, value), 0; }
int32_t setTextureStageState(uint32_t stage, uint32_t type, uint32_t value) {
    return log("tss", stage, type, value), 0;
}

#define PLUGIN(Name, Render)                                                                   \
    int32_t init##Name() { return log("init" #Name), world.failingInit == #Name ? -1 : 0; }    \
    Render                                                                                     \
    void shutdown##Name() {                                                                    \
        log("shutdown" #Name);                                                                 \
        if (world.fatalInShutdown == #Name) fatalExit("Out of memory");                        \
    }
PLUGIN(Backdrop, void renderBackdrop() { log("renderBackdrop"); })
PLUGIN(Tube, void renderTube() { log("renderTube"); })
PLUGIN(TextScroller, void renderTextScroller() { log("renderTextScroller"); })
PLUGIN(CornerPanels, void renderCornerPanels() { log("renderCornerPanels"); })
PLUGIN(PictureSequence, )
int32_t renderPictureSequence() {
    log("renderPictureSequence", frameDelta);
    return world.sequenceResult;
}
void renderWhiteout() { log("renderWhiteout"); }

void registerFileCallbacks(OpenCallback open, CloseCallback close, ReadCallback read,
                           SeekCallback seek, TellCallback tell) {
    log("registerFileCallbacks", open == openModuleFile && close == closeModuleFile &&
                                     read == readModuleFile && seek == seekModuleFile &&
                                     tell == tellModuleFile);
}
void* openModuleFile(const char*) { return nullptr; }
void closeModuleFile(void*) {}
int32_t readModuleFile(void*, int32_t, void*) { return 0; }
void seekModuleFile(void*, int32_t, int32_t) {}
int32_t tellModuleFile(void*) { return 0; }
bool openSoundOutput(int32_t rate) { return log("openSoundOutput", rate), world.soundOpens; }
void closeSoundOutput() { log("closeSoundOutput"); }
Song* loadSong(const char* file) { return log("loadSong", file == nullptr), world.songLoads ? theSong : nullptr; }
bool playSong(Song* song) { return log("playSong", name(song)), true; }
bool freeSong(Song* song) { return log("freeSong", name(song)), true; }
void setSyncSong(Song* song) { log("setSyncSong", name(song)); }
// clang-format on

// ---- Tests ----

namespace {

TEST(Shell, StartUpOrder) {
    World w;
    w.counter = (uint64_t(3) << 32) + 4357;
    EXPECT_EQ(run(w, false), -1);
    EXPECT_EQ(joined(world.calls),
              "startWindowSystem|createAppWindow Velmora Velmora 640 480|showCursor 0|"
              "showAppWindow 1|createDisplayDevice 1|tss 0 16 2|tss 0 17 2|tss 0 18 2|rs 137 0|"
              "initBackdrop|initTube|initTextScroller|initCornerPanels|initPictureSequence|"
              "registerFileCallbacks 1|openSoundOutput 44100|loadSong 1|setSyncSong song|"
              "showAppWindow 1|playSong song");
    EXPECT_EQ(nextRandom(), 2805); // seeded from the counter's low 32 bits (4357)
    // The frame clock starts last: the first frame measures from there.
    advanceVirtualSeconds(1, 4);
    renderFrame();
    EXPECT_EQ(count("renderPictureSequence 0.25"), 1);

    // No sound output: a box and no song; no module: neither box nor song.
    w = World{};
    w.soundOpens = false;
    run(w, false);
    EXPECT_EQ(joined(after("openSoundOutput 44100", 3)),
              "openSoundOutput 44100|box Quillon Error during initialization of Quillon|"
              "showAppWindow 1");
    w = World{};
    w.songLoads = false;
    w.events = {{WindowEventKind::quit, 0}};
    EXPECT_EQ(run(w), 0);
    EXPECT_EQ(joined(after("loadSong 1", 3)), "loadSong 1|setSyncSong null|showAppWindow 1");
    EXPECT_EQ(count("playSong null") + count("freeSong null") + count("freeSong song"), 0);
}

TEST(Shell, FatalExitFromEveryStage) {
    // The display fails before anything else started: every teardown step runs
    // harmlessly, the message comes last, code 1.
    World w;
    w.displayFailure = "OpenGL 2.1 needed";
    EXPECT_EQ(run(w), 1);
    EXPECT_EQ(joined(after("createDisplayDevice 1", 99)),
              "createDisplayDevice 1|" + teardown +
                  "|closeSoundOutput|releaseDisplayDevice|showCursor 1|"
                  "box Velmora OpenGL 2.1 needed|exit 1");

    // A failing plugin init: the later ones still run.
    w = World{};
    w.failingInit = "Tube";
    EXPECT_EQ(run(w), 1);
    EXPECT_EQ(joined(after("initTube", 5)),
              "initTube|initTextScroller|initCornerPanels|initPictureSequence|destroyAppWindow");
    EXPECT_EQ(world.calls[world.calls.size() - 2], "box Velmora Can't init demo plugins");

    // A normal end: the song is freed before the output closes; code 0, no box.
    w = World{};
    w.events = {{WindowEventKind::activate, 1}, none, {WindowEventKind::keyDown, keyEscape}};
    EXPECT_EQ(run(w), 0);
    EXPECT_EQ(joined(after("destroyAppWindow", 99)),
              teardown +
                  "|freeSong song|closeSoundOutput|releaseDisplayDevice|showCursor 1|exit 0");
    EXPECT_EQ(shellSong(), nullptr);

    // Exhausted memory ends through fatalExit; entered again inside the teardown,
    // it leaves at once.
    run(World{}, false);
    EXPECT_THROW(allocArray(-1, 1), ProcessExit);
    EXPECT_EQ(world.calls[world.calls.size() - 2], "box Velmora Out of memory");
    w = World{};
    w.fatalInShutdown = "Tube";
    w.events = {{WindowEventKind::close, 0}};
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(w), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Velmora: Out of memory\n");
    EXPECT_EQ(joined(after("shutdownTube", 9)), "shutdownTube|exit 1");
    setMemoryExhaustedHandler(nullptr);
}

TEST(Shell, LoopEndsOnEscapeDeactivationAndClose) {
    using E = WindowEventKind;
    const WindowEvent on{E::activate, 1}, escape{E::keyDown, keyEscape}, close{E::close, 0};
    struct Case {
        const char* what;
        std::deque<WindowEvent> events;
        uint64_t ticksPerIdlePoll;
        int32_t frames;
    } cases[] = {
        {"no frame after Escape",
         {on, none, {E::paint, 0}, none, {E::keyDown, 'a'}, none, escape, none},
         0,
         3},
        {"switching away", {on, none, {E::activate, 0}, none}, 0, 1},
        {"inactive but minimised runs on", {on, {E::activate, 0x10000}, none, close}, 0, 1},
        // Until the first activation, bounded by 3 s, the window counts as active.
        {"frames while awaited", {none, none, on, none, {E::quit, 0}}, 0, 3},
        {"never activated: 3 s at 0.5 s a turn", {}, 500000, 6},
        {"closed before activation", {close, none}, 0, 0},
    };
    for (const Case& c : cases) {
        World w;
        w.events = c.events;
        w.ticksPerIdlePoll = c.ticksPerIdlePoll;
        EXPECT_EQ(run(w), 0) << c.what;
        EXPECT_EQ(world.frames, c.frames) << c.what;
        // The window goes at once, and only once, before the teardown.
        EXPECT_EQ(joined(after("destroyAppWindow", 2)), "destroyAppWindow|shutdownBackdrop");
        EXPECT_EQ(count("destroyAppWindow"), 1) << c.what;
    }
}

TEST(Shell, FrameCompositionByPictureSequenceResult) {
    run(World{}, false);
    auto frame = [](int32_t sequenceResult) {
        world.sequenceResult = sequenceResult;
        world.calls.clear();
        renderFrame();
        return joined(world.calls);
    };
    const std::string start = "clear 3 0 1 0|begin|renderPictureSequence 0|";
    EXPECT_EQ(frame(-1), start + "end|present");
    EXPECT_EQ(frame(1), start + "renderWhiteout|end|present");
    EXPECT_EQ(frame(0), start + "renderBackdrop|renderTube|renderTextScroller|"
                                "renderCornerPanels|renderWhiteout|end|present");
}

} // namespace
