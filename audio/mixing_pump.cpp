// The mixing pump (library vm_mixing_pump): startMixing and stopMixing only switch
// the pump on and off; pumpMixing, called by the frame loop, does one poll of the
// output. Everything runs on the main thread, so stopMixing has nothing to wait for.
#include "audio/mixing.h"
#include "audio/mixing_pump.h"

#include "audio/output.h"

namespace {
bool pumping = false;
} // namespace

void startMixing() {
    stopRequested.store(0, std::memory_order_release);
    threadExited.store(0, std::memory_order_release);
    pumping = true;
}

void stopMixing() {
    stopRequested.store(1, std::memory_order_release);
    pumping = false;
    threadExited.store(1, std::memory_order_release);
}

void pumpMixing() {
    if (pumping && stopRequested.load(std::memory_order_acquire) == 0) pollOutputOnce();
}
