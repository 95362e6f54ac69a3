// Virtual wave output (library vm_waveout_virtual): the play position is moved by
// the caller instead of a device. Open, start, reset and close run on the main
// thread; the position and the priority request may come from the mixing thread,
// so the values they touch are atomic.
#include "audio/waveout.h"
#include "audio/waveout_virtual.h"

#include <atomic>

namespace {
std::atomic<uint64_t> position{0};
std::atomic<int32_t> priorityRequests{0};
std::atomic<bool> priorityRefused{false};
const int16_t* ring = nullptr;
int32_t ringFrames = 0;
int32_t openRate = 0;
bool openFails = false;
} // namespace

bool openWaveOutput(int32_t rate) {
    closeWaveOutput();
    if (openFails) return false;
    openRate = rate;
    return true;
}

void startWaveOutput(const int16_t* data, int32_t frames) {
    ring = data;
    ringFrames = frames;
    position.store(0, std::memory_order_release);
}

uint64_t waveOutputPosition() {
    if (!ring) return 0;
    return position.load(std::memory_order_acquire);
}

void resetWaveOutput() {
    ring = nullptr;
    ringFrames = 0;
    position.store(0, std::memory_order_release);
}

void closeWaveOutput() {
    resetWaveOutput();
    openRate = 0;
}

bool raiseThreadPriority() {
    priorityRequests.fetch_add(1, std::memory_order_relaxed);
    return !priorityRefused.load(std::memory_order_relaxed);
}

void setVirtualPosition(uint64_t bytes) {
    position.store(bytes, std::memory_order_release);
}
void advanceVirtualPosition(uint64_t bytes) {
    position.fetch_add(bytes, std::memory_order_acq_rel);
}
const int16_t* virtualRing() {
    return ring;
}
int32_t virtualRingFrames() {
    return ringFrames;
}
int32_t virtualOutputRate() {
    return openRate;
}
bool virtualOutputOpen() {
    return openRate != 0;
}
bool virtualOutputPlaying() {
    return ring != nullptr;
}
void setVirtualOpenFails(bool fails) {
    openFails = fails;
}
void setVirtualPriorityRefused(bool refused) {
    priorityRefused.store(refused, std::memory_order_relaxed);
}
int32_t virtualPriorityRequests() {
    return priorityRequests.load(std::memory_order_relaxed);
}
