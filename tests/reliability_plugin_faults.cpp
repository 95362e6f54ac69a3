// The real shell and plugins on the recording device, with each texture, surface and
// buffer call the plugin inits make failing in turn. Each case runs in a child process
// that must end through fatalExit with "Can't init demo plugins" and code 1, after every
// later plugin init still ran, leaving no device object, no memory block and nothing for
// LeakSanitizer behind. Window system and display creation are stand-ins; the sound side
// is real, over the virtual wave output; the block functions are wrapped to count.
#include "app/counter_virtual.h"
#include "app/memory.h"
#include "app/platform.h"
#include "app/shell.h"
#include "effects/backdrop.h"
#include "effects/corner_panels.h"
#include "effects/picture_sequence.h"
#include "effects/text_scroller.h"
#include "effects/tube.h"
#include "gfx/device_record.h"
#include "gfx/display.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// ---- Counting the program's memory blocks ----

extern "C" void* __real__Z10allocBlocki(int32_t size);
extern "C" void* __real__Z10allocArrayii(int32_t count, int32_t size);
extern "C" void __real__Z9freeBlockPv(void* pointer);

namespace {
std::atomic<int64_t> liveBlocks{0};
}

extern "C" void* __wrap__Z10allocBlocki(int32_t size) {
    liveBlocks.fetch_add(1);
    return __real__Z10allocBlocki(size);
}
extern "C" void* __wrap__Z10allocArrayii(int32_t count, int32_t size) {
    liveBlocks.fetch_add(1);
    return __real__Z10allocArrayii(count, size);
}
extern "C" void __wrap__Z9freeBlockPv(void* pointer) {
    if (pointer) liveBlocks.fetch_sub(1);
    __real__Z9freeBlockPv(pointer);
}

namespace {

// ---- What a child run saw ----

std::vector<std::string> boxes;
// The creation calls a plugin makes when nothing fails, for each plugin in init order.
std::vector<std::vector<std::string>> signatures;

alignas(8) unsigned char windowBytes[8];
AppWindow* const theWindow = reinterpret_cast<AppWindow*>(windowBytes);
bool windowShown = false;

std::vector<std::string> creationsSinceReset() {
    std::vector<std::string> list;
    for (const RecordedCall& call : recordedCalls()) {
        if (call.kind != CallKind::createTexture && call.kind != CallKind::createVertexBuffer &&
            call.kind != CallKind::createIndexBuffer)
            continue;
        list.push_back(std::to_string(int(call.kind)));
        for (uint32_t a : call.args)
            list.back() += " " + std::to_string(a);
    }
    return list;
}

// A run in which one plugin stopped part-way makes all of every other plugin's
// creations, in init order, around a prefix of the failing plugin's.
std::string checkOtherInitsRan(const std::vector<std::string>& log) {
    size_t at = 0;
    size_t failing = 0;
    for (; failing < signatures.size(); ++failing) {
        const auto& sig = signatures[failing];
        if (log.size() - at < sig.size() ||
            !std::equal(sig.begin(), sig.end(), log.begin() + int64_t(at)))
            break;
        at += sig.size();
    }
    size_t tail = 0;
    for (size_t p = failing + 1; p < signatures.size(); ++p)
        tail += signatures[p].size();
    if (failing == signatures.size()) return ""; // failed after its last creation
    if (log.size() < at + tail) return "a plugin after the failing one did not run";
    size_t from = log.size() - tail;
    for (size_t p = failing + 1; p < signatures.size(); ++p)
        for (const std::string& call : signatures[p])
            if (log[from++] != call)
                return "plugin " + std::to_string(p) + " did not make all its creations";
    return "";
}

} // namespace

// ---- Stand-ins for the window system and the display creation ----

void startWindowSystem() {}
AppWindow* createAppWindow(const char*, const char*, int32_t, int32_t) {
    return theWindow;
}
void showAppWindow(AppWindow*) {}
bool destroyAppWindow(AppWindow* window) {
    if (window != theWindow || !windowShown) return false;
    windowShown = false;
    return true;
}
void showCursor(bool) {}
bool pollWindowEvent(WindowEvent*) {
    return false;
}
void showMessageBox(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    boxes.push_back(std::string(caption) + ": " + text);
}
void createDisplayDevice(AppWindow*) {
    windowShown = true;
}
void releaseDisplayDevice() {}

// The end of a child run: what the teardown left, then the real exit (where
// LeakSanitizer looks in the sanitizer build). A problem changes the code to 3.
void exitProcess(int32_t code) {
    std::string problems;
    if (recordLiveObjects() != 0)
        problems += std::to_string(recordLiveObjects()) + " device objects left; ";
    if (liveBlocks.load() != 0)
        problems += std::to_string(liveBlocks.load()) + " memory blocks left; ";
#if defined(__SANITIZE_ADDRESS__)
    // LeakSanitizer's own check at exit ends a leaking process with code 1, the code
    // expected here, so look before.
    if (__lsan_do_recoverable_leak_check() != 0) problems += "LeakSanitizer found leaks; ";
#endif
    if (code == 0 && !boxes.empty()) problems += "a message after a normal end; ";
    if (code != 0) {
        if (boxes.size() != 1 || boxes[0] != "Velmora: Can't init demo plugins")
            problems += "not exactly the one message; ";
        std::string order = checkOtherInitsRan(creationsSinceReset());
        if (!order.empty()) problems += order + "; ";
    }
    if (!problems.empty()) { // _exit: LeakSanitizer's check at exit would make it code 1
        std::fprintf(stderr, "teardown problems: %s\n", problems.c_str());
        std::fflush(stderr);
        _exit(3);
    }
    std::exit(code);
}

namespace {

// One start-up with the n-th call of one kind failing; ends the process.
[[noreturn]] void startWithFault(RecordFault fault, uint32_t nth) {
    setVirtualFrequency(1000000);
    setVirtualCounter(12345);
    recordReset();
    liveBlocks.store(0);
    boxes.clear();
    recordFailNth(fault, nth);
    startShell(); // a fault that passes start-up (see below) must still end cleanly
    std::fprintf(stderr, "start-up survived the fault\n");
    fatalExit(nullptr);
}

// The text column lays its lines out through vertex buffer locks and leaves a line
// blank until it scrolls away when one fails, so such a failure may pass start-up.
#define FAULT(name, mayPass)                                                                       \
    { RecordFault::name, CallKind::name, #name, mayPass }
const struct FaultKind {
    RecordFault fault;
    CallKind call;
    const char* name;
    bool mayPass;
} faultKinds[] = {FAULT(createTexture, false),      FAULT(surfaceLevel, false),
                  FAULT(surfaceLock, false),        FAULT(surfaceUnlock, false),
                  FAULT(createVertexBuffer, false), FAULT(lockVertexBuffer, true),
                  FAULT(createIndexBuffer, false),  FAULT(lockIndexBuffer, false)};
#undef FAULT

bool failedOrPassed(int status) {
    return WIFEXITED(status) && (WEXITSTATUS(status) == 1 || WEXITSTATUS(status) == 0);
}

const struct Plugin {
    int32_t (*init)();
    void (*shutdown)();
} pluginsInInitOrder[] = {
    {initBackdrop, shutdownBackdrop},
    {initTube, shutdownTube},
    {initTextScroller, shutdownTextScroller},
    {initCornerPanels, shutdownCornerPanels},
    {initPictureSequence, shutdownPictureSequence},
};

// Each plugin's creations when nothing fails, and how many calls of each fault kind
// the five inits make together.
std::vector<uint32_t> learnNormalStartUp() {
    signatures.clear();
    for (const Plugin& plugin : pluginsInInitOrder) {
        recordReset();
        EXPECT_EQ(plugin.init(), 0);
        signatures.push_back(creationsSinceReset());
        plugin.shutdown();
        EXPECT_EQ(recordLiveObjects(), 0u);
    }
    recordReset();
    int64_t blocksBefore = liveBlocks.load();
    EXPECT_EQ(initDemoPlugins(), 0);
    std::vector<uint32_t> counts;
    for (const FaultKind& kind : faultKinds)
        counts.push_back(uint32_t(recordedCallsOf(kind.call).size()));
    shutdownDemoPlugins();
    EXPECT_EQ(recordLiveObjects(), 0u);
    EXPECT_EQ(liveBlocks.load(), blocksBefore);
    recordReset();
    return counts;
}

// All the calls of one kind when they are few, else a spread with the first and last.
std::vector<uint32_t> callsToFail(uint32_t total) {
    std::vector<uint32_t> list;
    const uint32_t stride = total > 24 ? total / 12 : 1;
    for (uint32_t n = 1; n <= total; n += stride)
        list.push_back(n);
    if (!list.empty() && list.back() != total) list.push_back(total);
    return list;
}

TEST(PluginInitFaults, EveryFailingCallEndsTheStartUpCleanly) {
    std::vector<uint32_t> counts = learnNormalStartUp();
    ASSERT_EQ(signatures.size(), 5u);
    for (const auto& sig : signatures)
        EXPECT_FALSE(sig.empty()); // every plugin creates something, so its run is visible
    int32_t cases = 0;
    for (size_t k = 0; k < std::size(faultKinds); ++k) {
        for (uint32_t n : callsToFail(counts[k])) {
            SCOPED_TRACE(std::string(faultKinds[k].name) + " #" + std::to_string(n) + " of " +
                         std::to_string(counts[k]));
            if (faultKinds[k].mayPass)
                EXPECT_EXIT(startWithFault(faultKinds[k].fault, n), failedOrPassed, "");
            else
                EXPECT_EXIT(startWithFault(faultKinds[k].fault, n), testing::ExitedWithCode(1),
                            "Velmora: Can't init demo plugins");
            ++cases;
        }
    }
    EXPECT_GT(cases, 10);
    std::printf("%d start-up faults tried\n", cases);
}

} // namespace
