// MT19937 with the 69069 seeding and 15-bit output. Main thread only.
#include "app/random.h"

#include "app/counter.h"

namespace {
constexpr int32_t stateSize = 624;
constexpr int32_t middle = 397;
constexpr uint32_t matrixValue = 0x9908B0DFu;
constexpr uint32_t upperMask = 0x80000000u;
constexpr uint32_t lowerMask = 0x7FFFFFFFu;
constexpr int32_t neverSeeded = stateSize + 1;

uint32_t state[stateSize];
int32_t index = neverSeeded; // stateSize: regenerate before the next output

uint32_t twist(uint32_t upper, uint32_t lower, uint32_t distant) {
    const uint32_t y = (upper & upperMask) | (lower & lowerMask);
    return distant ^ (y >> 1) ^ ((y & 1u) ? matrixValue : 0u);
}

// In place and in increasing k: from k = 227 on, state[k + 397 - 624] is already new.
void regenerate() {
    for (int32_t k = 0; k < stateSize - 1; ++k)
        state[k] = twist(state[k], state[k + 1], state[(k + middle) % stateSize]);
    state[stateSize - 1] = twist(state[stateSize - 1], state[0], state[middle - 1]);
}
} // namespace

void seedRandom(uint32_t seed) {
    index = stateSize;
    state[0] = seed;
    for (int32_t i = 1; i < stateSize; ++i)
        state[i] = state[i - 1] * 69069u;
}

int32_t nextRandom() {
    if (index >= stateSize) {
        if (index == neverSeeded) seedRandom(static_cast<uint32_t>(readCounter()));
        regenerate();
        index = 0;
    }
    uint32_t y = state[index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    return static_cast<int32_t>((y ^ (y >> 18)) & 0x7FFFu);
}
