// The mixing thread (library vm_mixing_thread). startMixing and stopMixing run on
// the main thread; mixingThread runs on its own thread at time-critical priority,
// polling the device every 5 ms and rendering each block the device has finished.
// The two threads meet only through the byte flags of output.h.
#include "audio/mixing.h"

#include "audio/output.h"
#include "audio/waveout.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

std::thread mixingThreadHandle;

void mixingThread() {
    threadExited.store(0, std::memory_order_release);
    // Without the higher priority the thread still works; the ring is two seconds deep.
    (void)raiseThreadPriority();
    while (stopRequested.load(std::memory_order_acquire) == 0) {
        pollOutputOnce();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    threadExited.store(1, std::memory_order_release);
}

void stopMixingThread() {
    stopRequested.store(1, std::memory_order_release);
    while (rendering.load(std::memory_order_acquire) != 0)
        std::this_thread::yield();
    if (mixingThreadHandle.joinable()) {
        while (threadExited.load(std::memory_order_acquire) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // The thread may not have begun when stop was asked for; join covers that too.
        mixingThreadHandle.join();
    }
}

} // namespace

// A process that exits while the song plays (an X server going away, say) must not
// destroy a running std::thread, which would abort it.
void startMixing() {
    static bool exitHookSet = false;
    if (!exitHookSet) {
        std::atexit(stopMixingThread);
        exitHookSet = true;
    }
    stopRequested.store(0, std::memory_order_release);
    mixingThreadHandle = std::thread(mixingThread);
}

void stopMixing() {
    stopMixingThread();
}
