// The shell's start-up order, loop, frame composition and fatalExit, against
// stand-ins for the window system, display, device, plugins and sound that log
// every call. exitProcess throws instead of ending the test program.
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

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace {

struct ProcessExit {
    int32_t code;
};

// ---- What the stand-ins log and how they behave ----

std::vector<std::string> calls;
void log(const std::string& call) { calls.push_back(call); }

struct Behaviour {
    const char* displayFailure = nullptr; // createDisplayDevice ends with this
    int32_t failingPlugin = -1;           // 0..4 in init order
    bool soundOpens = true;
    bool songLoads = true;
    int32_t sequenceResult = 0;
    // Events handed out by pollWindowEvent; an empty optional means "none pending"
    // (a frame). When the script is used up, nothing is pending.
    std::deque<std::optional<WindowEvent>> events;
    uint64_t ticksPerIdlePoll = 0; // the counter moves on with every empty poll
    int32_t maxFrames = 1000;      // a runaway loop fails the test instead of hanging
    bool nestedFatalInShutdown = false;
};
Behaviour behaviour;

int fakeWindowRecord;
AppWindow* const fakeWindow = reinterpret_cast<AppWindow*>(&fakeWindowRecord);
bool windowDestroyed = false;
int frames = 0;
std::vector<float> deltasSeen;
alignas(8) unsigned char fakeSongBytes[64];
Song* const fakeSong = reinterpret_cast<Song*>(fakeSongBytes);

std::string songName(Song* song) { return song == nullptr ? "null" : song == fakeSong ? "song" : "?"; }

void reset(Behaviour b = Behaviour{}) {
    behaviour = std::move(b);
    calls.clear();
    windowDestroyed = false;
    frames = 0;
    deltasSeen.clear();
    setVirtualFrequency(1000000);
    setVirtualCounter(1000000);
}

// Runs start-up and, when asked, the loop; returns the exit code.
int32_t runShell(bool loop) {
    try {
        startShell();
        if (!loop) return -1;
        runLoop();
    } catch (const ProcessExit& exit) {
        return exit.code;
    }
}

int32_t callIndex(const std::string& call) {
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i] == call) return static_cast<int32_t>(i);
    return -1;
}

int32_t countOf(const std::string& call) {
    int32_t n = 0;
    for (const std::string& c : calls) n += c == call;
    return n;
}

// The calls from `first` on, up to and including `last`.
std::vector<std::string> span(const std::string& first, const std::string& last) {
    const int32_t a = callIndex(first), b = callIndex(last);
    if (a < 0 || b < a) return {};
    return std::vector<std::string>(calls.begin() + a, calls.begin() + b + 1);
}

const std::vector<std::string> teardownWithoutSong = {
    "destroyAppWindow",    "shutdownBackdrop", "shutdownTube",  "shutdownTextScroller",
    "shutdownCornerPanels", "shutdownPictureSequence", "setSyncSong(null)",
    "closeSoundOutput",    "releaseDisplayDevice", "showCursor(1)"};

} // namespace

// ---- Stand-ins: window system ----

void startWindowSystem() { log("startWindowSystem"); }
AppWindow* createAppWindow(const char* className, const char* title, int32_t width,
                           int32_t height) {
    log("createAppWindow(" + std::string(className) + "," + title + "," + std::to_string(width) +
        "," + std::to_string(height) + ")");
    return fakeWindow;
}
void showAppWindow(AppWindow* window) { log(window == fakeWindow ? "showAppWindow" : "showAppWindow(?)"); }
bool destroyAppWindow(AppWindow* window) {
    if (window != fakeWindow || windowDestroyed) return false;
    log("destroyAppWindow");
    windowDestroyed = true;
    return true;
}
void showCursor(bool show) { log(show ? "showCursor(1)" : "showCursor(0)"); }
bool pollWindowEvent(WindowEvent* event) {
    if (!behaviour.events.empty()) {
        std::optional<WindowEvent> next = behaviour.events.front();
        behaviour.events.pop_front();
        if (next) {
            *event = *next;
            return true;
        }
    }
    advanceVirtualCounter(behaviour.ticksPerIdlePoll);
    return false;
}
void showMessageBox(const char* caption, const char* text) {
    log("messageBox(" + std::string(caption) + "," + text + ")");
}
void exitProcess(int32_t code) {
    log("exitProcess(" + std::to_string(code) + ")");
    throw ProcessExit{code};
}

// ---- Stand-ins: display and device ----

void createDisplayDevice(AppWindow* window) {
    log(window == fakeWindow ? "createDisplayDevice" : "createDisplayDevice(?)");
    if (behaviour.displayFailure) fatalExit(behaviour.displayFailure);
}
void releaseDisplayDevice() { log("releaseDisplayDevice"); }
int32_t deviceClear(uint32_t flags, uint32_t color, float z, uint32_t stencil) {
    log("clear(" + std::to_string(flags) + "," + std::to_string(color) + "," +
        std::to_string(z) + "," + std::to_string(stencil) + ")");
    return 0;
}
int32_t deviceBeginScene() {
    log("beginScene");
    return 0;
}
int32_t deviceEndScene() {
    log("endScene");
    return 0;
}
int32_t devicePresent() {
    log("present");
    if (++frames > behaviour.maxFrames) throw ProcessExit{-99};
    return 0;
}
int32_t setRenderState(uint32_t state, uint32_t value) {
    log("rs(" + std::to_string(state) + "," + std::to_string(value) + ")");
    return 0;
}
int32_t setTextureStageState(uint32_t stage, uint32_t type, uint32_t value) {
    log("tss(" + std::to_string(stage) + "," + std::to_string(type) + "," + std::to_string(value) +
        ")");
    return 0;
}

// ---- Stand-ins: plugins ----

namespace {
int32_t pluginInit(int32_t index, const char* name) {
    log(name);
    return behaviour.failingPlugin == index ? -1 : 0;
}
} // namespace
int32_t initBackdrop() { return pluginInit(0, "initBackdrop"); }
int32_t initTube() { return pluginInit(1, "initTube"); }
int32_t initTextScroller() { return pluginInit(2, "initTextScroller"); }
int32_t initCornerPanels() { return pluginInit(3, "initCornerPanels"); }
int32_t initPictureSequence() { return pluginInit(4, "initPictureSequence"); }
void renderBackdrop() { log("renderBackdrop"); }
void renderTube() { log("renderTube"); }
void renderTextScroller() { log("renderTextScroller"); }
void renderCornerPanels() { log("renderCornerPanels"); }
int32_t renderPictureSequence() {
    log("renderPictureSequence");
    deltasSeen.push_back(frameDelta);
    return behaviour.sequenceResult;
}
void renderWhiteout() { log("renderWhiteout"); }
void shutdownBackdrop() { log("shutdownBackdrop"); }
void shutdownTube() {
    log("shutdownTube");
    if (behaviour.nestedFatalInShutdown) fatalExit("Out of memory");
}
void shutdownTextScroller() { log("shutdownTextScroller"); }
void shutdownCornerPanels() { log("shutdownCornerPanels"); }
void shutdownPictureSequence() { log("shutdownPictureSequence"); }

// ---- Stand-ins: sound ----

void registerFileCallbacks(OpenCallback open, CloseCallback close, ReadCallback read,
                           SeekCallback seek, TellCallback tell) {
    const bool ours = open == openModuleFile && close == closeModuleFile &&
                      read == readModuleFile && seek == seekModuleFile && tell == tellModuleFile;
    log(ours ? "registerFileCallbacks" : "registerFileCallbacks(?)");
}
void* openModuleFile(const char*) { return nullptr; }
void closeModuleFile(void*) {}
int32_t readModuleFile(void*, int32_t, void*) { return 0; }
void seekModuleFile(void*, int32_t, int32_t) {}
int32_t tellModuleFile(void*) { return 0; }
bool openSoundOutput(int32_t rate) {
    log("openSoundOutput(" + std::to_string(rate) + ")");
    return behaviour.soundOpens;
}
void closeSoundOutput() { log("closeSoundOutput"); }
Song* loadSong(const char* name) {
    log(name == nullptr ? "loadSong" : "loadSong(?)");
    return behaviour.songLoads ? fakeSong : nullptr;
}
bool playSong(Song* song) {
    log("playSong(" + songName(song) + ")");
    return true;
}
bool freeSong(Song* song) {
    log("freeSong(" + songName(song) + ")");
    return true;
}
void setSyncSong(Song* song) { log("setSyncSong(" + songName(song) + ")"); }

// ---- Tests ----

namespace {

TEST(ShellStartUp, OrderOfEveryStep) {
    reset();
    // The seed is the low 32 bits of the counter.
    setVirtualCounter((uint64_t(3) << 32) + 4357);
    EXPECT_EQ(runShell(false), -1);
    const std::vector<std::string> expected = {
        "startWindowSystem",
        "createAppWindow(Velmora,Velmora,640,480)",
        "showCursor(0)",
        "showAppWindow",
        "createDisplayDevice",
        "tss(0,16,2)",
        "tss(0,17,2)",
        "tss(0,18,2)",
        "rs(137,0)",
        "initBackdrop",
        "initTube",
        "initTextScroller",
        "initCornerPanels",
        "initPictureSequence",
        "registerFileCallbacks",
        "openSoundOutput(44100)",
        "loadSong",
        "setSyncSong(song)",
        "showAppWindow",
        "playSong(song)",
    };
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(nextRandom(), 2805);
    EXPECT_EQ(shellSong(), fakeSong);
    EXPECT_EQ(shellRunning(), 0); // the activation has not been reported yet
    // The frame clock starts last: the first frame measures from the end of start-up.
    EXPECT_EQ(frameDelta, 0.0f);
    advanceVirtualSeconds(1, 4);
    renderFrame();
    EXPECT_EQ(deltasSeen, (std::vector<float>{0.25f}));
}

TEST(ShellStartUp, WithoutSoundOrSong) {
    // The output cannot be opened: a box, no song, and start-up goes on.
    Behaviour noOutput;
    noOutput.soundOpens = false;
    reset(noOutput);
    EXPECT_EQ(runShell(false), -1);
    EXPECT_EQ(span("openSoundOutput(44100)", "showAppWindow"),
              (std::vector<std::string>{"openSoundOutput(44100)",
                                        "messageBox(Quillon,Error during initialization of Quillon)",
                                        "showAppWindow"}));
    EXPECT_EQ(callIndex("loadSong"), -1);
    EXPECT_EQ(callIndex("playSong(song)"), -1);
    EXPECT_EQ(shellSong(), nullptr);

    // The module does not load: no music and no message.
    Behaviour noSong;
    noSong.songLoads = false;
    reset(noSong);
    EXPECT_EQ(runShell(false), -1);
    EXPECT_EQ(span("loadSong", "showAppWindow"),
              (std::vector<std::string>{"loadSong", "setSyncSong(null)", "showAppWindow"}));
    EXPECT_EQ(countOf("playSong(song)") + countOf("playSong(null)"), 0);
    EXPECT_EQ(callIndex("messageBox(Quillon,Error during initialization of Quillon)"), -1);

    // Ending normally afterwards frees no song.
    noSong.events = {WindowEvent{WindowEventKind::keyDown, keyEscape}};
    reset(noSong);
    EXPECT_EQ(runShell(true), 0);
    EXPECT_EQ(countOf("freeSong(null)") + countOf("freeSong(song)"), 0);
}

TEST(ShellFatalExit, DisplayFailureBeforeAnythingElseStarted) {
    Behaviour b;
    b.displayFailure = "OpenGL 2.1 needed";
    reset(b);
    EXPECT_EQ(runShell(true), 1);
    std::vector<std::string> expected = {"startWindowSystem",
                                         "createAppWindow(Velmora,Velmora,640,480)",
                                         "showCursor(0)", "showAppWindow", "createDisplayDevice"};
    expected.insert(expected.end(), teardownWithoutSong.begin(), teardownWithoutSong.end());
    expected.push_back("messageBox(Velmora,OpenGL 2.1 needed)");
    expected.push_back("exitProcess(1)");
    EXPECT_EQ(calls, expected);

    b.displayFailure = "No valid video mode found";
    reset(b);
    EXPECT_EQ(runShell(true), 1);
    EXPECT_EQ(callIndex("messageBox(Velmora,No valid video mode found)"),
              int32_t(calls.size()) - 2);
}

TEST(ShellFatalExit, PluginFailureStillRunsEveryInit) {
    for (int32_t failing = 0; failing < 5; ++failing) {
        Behaviour b;
        b.failingPlugin = failing;
        reset(b);
        EXPECT_EQ(runShell(true), 1) << failing;
        EXPECT_EQ(span("initBackdrop", "destroyAppWindow"),
                  (std::vector<std::string>{"initBackdrop", "initTube", "initTextScroller",
                                            "initCornerPanels", "initPictureSequence",
                                            "destroyAppWindow"}))
            << failing;
        EXPECT_EQ(callIndex("registerFileCallbacks"), -1);
        EXPECT_EQ(calls[calls.size() - 2], "messageBox(Velmora,Can't init demo plugins)");
        EXPECT_EQ(calls.back(), "exitProcess(1)");
    }
}

TEST(ShellFatalExit, NormalEndTearsDownInOrderWithCodeZero) {
    Behaviour b;
    b.events = {WindowEvent{WindowEventKind::activate, 1}, std::nullopt,
                WindowEvent{WindowEventKind::keyDown, keyEscape}};
    reset(b);
    EXPECT_EQ(runShell(true), 0);
    EXPECT_EQ(span("destroyAppWindow", "exitProcess(0)"),
              (std::vector<std::string>{"destroyAppWindow", "shutdownBackdrop", "shutdownTube",
                                        "shutdownTextScroller", "shutdownCornerPanels",
                                        "shutdownPictureSequence", "setSyncSong(null)",
                                        "freeSong(song)", "closeSoundOutput",
                                        "releaseDisplayDevice", "showCursor(1)",
                                        "exitProcess(0)"}));
    EXPECT_EQ(shellSong(), nullptr);
    EXPECT_EQ(countOf("messageBox(Velmora,Can't init demo plugins)"), 0);
}

TEST(ShellFatalExit, MemoryExhaustionAndReentry) {
    // The shell installs fatalExit as the exhausted-memory handler.
    reset();
    EXPECT_EQ(runShell(false), -1);
    calls.clear();
    try {
        allocArray(-1, 1);
        FAIL() << "allocation returned";
    } catch (const ProcessExit& exit) {
        EXPECT_EQ(exit.code, 1);
    }
    EXPECT_EQ(calls[calls.size() - 2], "messageBox(Velmora,Out of memory)");
    EXPECT_EQ(countOf("freeSong(song)"), 1);

    // Entered again from inside the teardown: straight out, code 1, nothing twice.
    Behaviour b;
    b.nestedFatalInShutdown = true;
    b.events = {WindowEvent{WindowEventKind::quit, 0}};
    reset(b);
    testing::internal::CaptureStderr();
    EXPECT_EQ(runShell(true), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Velmora: Out of memory"), std::string::npos) << err;
    EXPECT_EQ(span("shutdownBackdrop", "exitProcess(1)"),
              (std::vector<std::string>{"shutdownBackdrop", "shutdownTube", "exitProcess(1)"}));
    setMemoryExhaustedHandler(nullptr);
}

TEST(ShellLoop, EscapeEndsAfterItsMessageWithoutAnotherFrame) {
    Behaviour b;
    b.events = {WindowEvent{WindowEventKind::activate, 1},
                std::nullopt,
                WindowEvent{WindowEventKind::paint, 0},
                std::nullopt,
                WindowEvent{WindowEventKind::keyDown, 'a'},
                WindowEvent{WindowEventKind::other, 0},
                std::nullopt,
                WindowEvent{WindowEventKind::keyDown, keyEscape},
                std::nullopt};
    reset(b);
    EXPECT_EQ(runShell(true), 0);
    EXPECT_EQ(frames, 3);
    EXPECT_GT(callIndex("destroyAppWindow"), callIndex("present"));
    EXPECT_EQ(countOf("messageBox(Velmora,Can't init demo plugins)"), 0);
}

TEST(ShellLoop, DeactivationDestroysTheWindowOnce) {
    Behaviour b;
    b.events = {WindowEvent{WindowEventKind::activate, 1}, std::nullopt, std::nullopt,
                WindowEvent{WindowEventKind::activate, 0}, std::nullopt};
    reset(b);
    EXPECT_EQ(runShell(true), 0);
    EXPECT_EQ(frames, 2);
    EXPECT_EQ(countOf("destroyAppWindow"), 1);
    // Destroyed at the deactivation, before any plugin shutdown.
    EXPECT_LT(callIndex("destroyAppWindow"), callIndex("shutdownBackdrop"));

    // Minimised and inactive (a non-zero value) keeps it running.
    b.events = {WindowEvent{WindowEventKind::activate, 1},
                WindowEvent{WindowEventKind::activate, 0x00010000}, std::nullopt,
                WindowEvent{WindowEventKind::close, 0}};
    reset(b);
    EXPECT_EQ(runShell(true), 0);
    EXPECT_EQ(frames, 1);
}

TEST(ShellLoop, WaitsABoundedTimeForTheFirstActivation) {
    // Frames are drawn while the first activation is awaited.
    Behaviour b;
    b.events = {std::nullopt, std::nullopt, WindowEvent{WindowEventKind::activate, 1},
                std::nullopt, WindowEvent{WindowEventKind::quit, 0}};
    reset(b);
    EXPECT_EQ(runShell(true), 0);
    EXPECT_EQ(frames, 3);

    // It never comes: the loop ends once 3 s have passed (0.5 s per idle turn).
    b = Behaviour{};
    b.ticksPerIdlePoll = 500000;
    reset(b);
    EXPECT_EQ(runShell(true), 0);
    EXPECT_GE(frames, 5);
    EXPECT_LE(frames, 7);

    // A close request before it arrives ends at once, without a frame.
    b = Behaviour{};
    b.events = {WindowEvent{WindowEventKind::close, 0}, std::nullopt, std::nullopt};
    reset(b);
    EXPECT_EQ(runShell(true), 0);
    EXPECT_EQ(frames, 0);

    // So does a deactivation.
    b.events = {WindowEvent{WindowEventKind::activate, 0}, std::nullopt};
    reset(b);
    EXPECT_EQ(runShell(true), 0);
    EXPECT_EQ(frames, 0);
    EXPECT_EQ(countOf("destroyAppWindow"), 1);
}

TEST(ShellFrame, CompositionByPictureSequenceResult) {
    reset();
    EXPECT_EQ(runShell(false), -1);
    const std::vector<std::string> head = {"clear(3,0,1.000000,0)", "beginScene",
                                           "renderPictureSequence"};
    auto frameFor = [&](int32_t result) {
        behaviour.sequenceResult = result;
        calls.clear();
        renderFrame();
        return calls;
    };
    std::vector<std::string> expected = head;
    expected.insert(expected.end(), {"endScene", "present"});
    EXPECT_EQ(frameFor(-1), expected);

    expected = head;
    expected.insert(expected.end(), {"renderWhiteout", "endScene", "present"});
    EXPECT_EQ(frameFor(1), expected);

    expected = head;
    expected.insert(expected.end(), {"renderBackdrop", "renderTube", "renderTextScroller",
                                     "renderCornerPanels", "renderWhiteout", "endScene",
                                     "present"});
    EXPECT_EQ(frameFor(0), expected);

    // frameDelta is this frame's, ticked between the clear and the scene.
    deltasSeen.clear();
    advanceVirtualSeconds(1, 8);
    renderFrame();
    renderFrame();
    advanceVirtualSeconds(1, 2);
    renderFrame();
    EXPECT_EQ(deltasSeen, (std::vector<float>{0.125f, 0.0f, 0.5f}));
}

} // namespace
