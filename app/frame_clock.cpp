// Frame clock over the replaceable performance counter. Main thread only.
#include "app/frame_clock.h"

#include "app/counter.h"

#include <cstdint>

float frameDelta = 0.0f;

namespace {
uint64_t frequency = 0; // counter ticks per second; only the low 32 bits are used
int64_t consumed = 0;   // counter value up to which time has been handed out
} // namespace

void startFrameClock() {
    frequency = counterFrequency();
    consumed = static_cast<int64_t>(readCounter());
    frameDelta = 0.0f;
}

void tickFrameClock() {
    const int64_t now = static_cast<int64_t>(readCounter());
    const int64_t elapsed = now - consumed;
    const uint32_t rate = static_cast<uint32_t>(frequency);

    // A counter that went backwards, a frame of 65536 s or more (the 16.16 quotient
    // would not fit 32 bits; from 2^48 ticks on, the shift alone would overflow) or a
    // counter without a rate: the frame counts as zero seconds and the clock starts
    // again from now, so the next frame measures from here instead of the bad value.
    if (elapsed < 0 || rate == 0 || (static_cast<uint64_t>(elapsed) >> 48) != 0) {
        consumed = now;
        frameDelta = 0.0f;
        return;
    }
    const uint64_t quotient = (static_cast<uint64_t>(elapsed) << 16) / rate;
    if (quotient > UINT32_MAX) {
        consumed = now;
        frameDelta = 0.0f;
        return;
    }
    const uint32_t q = static_cast<uint32_t>(quotient);

    // Only the ticks that q stands for are consumed; the remainder carries over.
    consumed += static_cast<int64_t>((static_cast<uint64_t>(q) * rate) >> 16);
    frameDelta = static_cast<float>(q) / 65536.0f;
}
