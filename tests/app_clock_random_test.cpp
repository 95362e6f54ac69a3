// Frame clock, random generator and the virtual counter that drives both.
#include "app/counter.h"
#include "app/counter_virtual.h"
#include "app/frame_clock.h"
#include "app/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <sstream>

namespace {

void startClockAt(uint64_t frequency, uint64_t counter) {
    setVirtualFrequency(frequency);
    setVirtualCounter(counter);
    startFrameClock();
}

float tickAfter(uint64_t ticks) {
    advanceVirtualCounter(ticks);
    tickFrameClock();
    return frameDelta;
}

TEST(FrameClock, QuantisesCarriesTheRemainderAndSkipsBadFrames) {
    // 59659 ticks at 3579545 Hz: q = 1092, 59644 ticks consumed, 15 carried.
    startClockAt(3579545, 1000);
    EXPECT_EQ(frameDelta, 0.0f);
    EXPECT_EQ(tickAfter(59659), 0.01666259765625f);
    EXPECT_EQ(tickAfter(59644), 0.01666259765625f); // 15 + 59644 = 59659 again
    // At 1 GHz a quantum is 15258.8 ticks: quick ticks give 0 and consume nothing.
    startClockAt(1000000000, 5);
    EXPECT_EQ(tickAfter(10000), 0.0f);
    EXPECT_EQ(tickAfter(5000), 0.0f);
    EXPECT_EQ(tickAfter(300), 1.0f / 65536.0f);
    // Only the low 32 bits of the frequency count.
    startClockAt((uint64_t(1) << 32) + 1000000, 0);
    EXPECT_EQ(tickAfter(1000000), 1.0f);

    // Over many uneven frames every delta is a whole number of quanta and the sum
    // stays within one quantum plus one tick per frame of the counter.
    startClockAt(1000000000, 77);
    std::srand(12345);
    double sum = 0.0, seconds = 0.0;
    for (int i = 0; i < 5000; ++i) {
        const uint64_t ticks = 1000 + uint64_t(std::rand()) * 7919 % 40000000;
        seconds += double(ticks) / 1e9;
        const float delta = tickAfter(ticks);
        ASSERT_EQ(delta * 65536.0f, std::floor(delta * 65536.0f)) << i;
        sum += delta;
    }
    EXPECT_LT(std::fabs(seconds - sum), 1.0 / 65536.0 + 5000 / 1e9);

    // Bad frames count as zero and the clock goes on.
    const uint64_t hz = 1000000;
    startClockAt(hz, 50 * hz);
    setVirtualCounter(40 * hz); // backwards
    tickFrameClock();
    EXPECT_EQ(frameDelta, 0.0f);
    EXPECT_EQ(tickAfter(hz / 4), 0.25f); // measured from where the counter went
    EXPECT_EQ(tickAfter(65535 * hz), 65535.0f);
    EXPECT_EQ(tickAfter(65536 * hz), 0.0f); // the quotient would not fit 32 bits
    EXPECT_EQ(tickAfter(hz / 8), 0.125f);
    EXPECT_EQ(tickAfter(uint64_t(1) << 50), 0.0f); // the shift would overflow
    startClockAt(uint64_t(1) << 32, 0);            // no usable frequency
    EXPECT_EQ(tickAfter(12345), 0.0f);
}

TEST(VirtualCounter, FractionsOfASecondAddUpExactly) {
    setVirtualFrequency(10);
    setVirtualCounter(0);
    for (uint64_t expected : {3u, 6u, 10u}) { // the remainder is carried
        advanceVirtualSeconds(1, 3);
        EXPECT_EQ(readCounter(), expected);
    }
    setVirtualFrequency(1000000000);
    setVirtualCounter(0);
    for (int i = 0; i < 6060; ++i)
        advanceVirtualSeconds(1, 60);
    EXPECT_EQ(readCounter(), 101000000000u);
}

// std::mt19937 given the 69069-seeded state words is the reference (libstdc++ also
// reads the position; 624 regenerates before the first output).
std::mt19937 reference(uint32_t seed) {
    std::stringstream state;
    for (int i = 0; i < 624; ++i, seed *= 69069u)
        state << seed << ' ';
    state << 624;
    std::mt19937 generator;
    state >> generator;
    return generator;
}

TEST(Random, MatchesTheReferenceAcrossRegenerations) {
    EXPECT_EQ(reference(4357)(), 3510405877u); // the generator's published first output
    // Calls 1, 625 and 1249 regenerate the state.
    for (uint32_t seed : {4357u, 1u, 0xDEADBEEFu, 0xFFFFFFFFu}) {
        std::mt19937 expected = reference(seed);
        seedRandom(seed);
        for (int call = 1; call <= 1900; ++call)
            ASSERT_EQ(nextRandom(), int32_t(expected() & 0x7FFF)) << seed << " call " << call;
    }
    seedRandom(0);
    for (int i = 0; i < 1300; ++i)
        ASSERT_EQ(nextRandom(), 0) << i;
}

// In a fresh process, where the generator has never been seeded.
TEST(RandomDeathTest, SeedsItselfFromTheCounterOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setVirtualCounter((uint64_t(7) << 32) + 4357); // the low 32 bits seed
            bool ok = nextRandom() == 2805;
            setVirtualCounter(1);
            ok = ok && nextRandom() == 29826 && nextRandom() == 5515;
            std::exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
