// Virtual performance counter (library vm_counter_virtual). The counter and the
// frequency are atomics so that another thread may read them while the driving
// thread advances the counter.
#include "app/counter_virtual.h"

#include "app/counter.h"

#include <atomic>

namespace {
std::atomic<uint64_t> counter{0};
std::atomic<uint64_t> frequency{1000000000};
// Fraction of a tick owed by advanceVirtualSeconds, in units of 1/carryDenominator.
uint64_t carry = 0;
uint64_t carryDenominator = 0;
} // namespace

uint64_t readCounter() {
    return counter.load(std::memory_order_acquire);
}
uint64_t counterFrequency() {
    return frequency.load(std::memory_order_acquire);
}

void setVirtualFrequency(uint64_t ticksPerSecond) {
    frequency.store(ticksPerSecond, std::memory_order_release);
    carry = 0;
}

void setVirtualCounter(uint64_t ticks) {
    counter.store(ticks, std::memory_order_release);
    carry = 0;
}

void advanceVirtualCounter(uint64_t ticks) {
    counter.fetch_add(ticks, std::memory_order_acq_rel);
}

void advanceVirtualSeconds(uint64_t numerator, uint64_t denominator) {
    if (denominator == 0) return;
    if (denominator != carryDenominator) {
        carry = 0;
        carryDenominator = denominator;
    }
    // 128-bit so that a 1 GHz frequency times a long span cannot overflow.
    const unsigned __int128 total =
        static_cast<unsigned __int128>(numerator) * frequency.load(std::memory_order_acquire) +
        carry;
    carry = static_cast<uint64_t>(total % denominator);
    advanceVirtualCounter(static_cast<uint64_t>(total / denominator));
}
