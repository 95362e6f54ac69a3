// Memory blocks and the math wrappers.
#include "app/mathutil.h"
#include "app/memory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

namespace {

struct Exhausted {};
[[noreturn]] void throwExhausted(const char*) {
    throw Exhausted{};
}

TEST(Memory, ZeroFilledBlocksAndImpossibleRequests) {
    void* empty1 = allocBlock(0);
    void* empty2 = allocBlock(0);
    EXPECT_TRUE(empty1 && empty2 && empty1 != empty2);
    for (int round = 0; round < 3; ++round) { // freed dirty blocks come back zeroed
        auto* block = static_cast<unsigned char*>(allocArray(1000, 4));
        for (int i = 0; i < 4000; ++i)
            ASSERT_EQ(block[i], 0) << i;
        std::memset(block, 0xA5, 4000);
        freeBlock(block);
    }
    freeBlock(empty1);
    freeBlock(empty2);

    // count x size beyond 32 bits, or negative: exhaustion, not a small block.
    setMemoryExhaustedHandler(throwExhausted);
    EXPECT_THROW(allocArray(65536, 65537), Exhausted);
    EXPECT_THROW(allocArray(-1, 16), Exhausted);
    EXPECT_THROW(allocBlock(-32), Exhausted);
    setMemoryExhaustedHandler(nullptr);
    EXPECT_EXIT(allocArray(1 << 20, 1 << 20), testing::ExitedWithCode(1), "Out of memory");
}

TEST(Math, RoundingFloorRoundAndPower) {
    // x, roundToInteger(x): ties to even, 64-bit results.
    const double rounded[] = {2.5, 2, 3.5, 4, -0.5, 0, -2.7, -3, 6442450944.5, 6442450944};
    for (size_t i = 0; i < std::size(rounded); i += 2)
        EXPECT_EQ(roundToInteger(rounded[i]), int64_t(rounded[i + 1])) << rounded[i];
    // x, floorRound(x): x - 0.5 rounded to even, the low 32 bits of the integer kept.
    const double floored[] = {2.7, 2, -0.2, -1, 3.0, 2, 4.0, 4, -3.0, -4, 4294967301.5, 5};
    for (size_t i = 0; i < std::size(floored); i += 2)
        EXPECT_EQ(floorRound(floored[i]), floored[i + 1]) << floored[i];
    for (double y : {0.0, 1.0, -1.0, 0.5, 1e9})
        EXPECT_EQ(power(0.0, y), 0.0) << y;
    // y, power(2, y); a fraction of y keeps its sign.
    const double inf = std::numeric_limits<double>::infinity();
    const double powers[] = {10,   1024, -3,    0.125, 0.5, std::sqrt(2.0), -2.75, std::exp2(-2.75),
                             1e12, inf,  -1e12, 0};
    for (size_t i = 0; i < std::size(powers); i += 2) {
        const double got = power(2.0, powers[i]), want = powers[i + 1];
        EXPECT_TRUE(got == want || std::fabs(got - want) <= 4e-16) << powers[i];
    }
    EXPECT_TRUE(std::isnan(power(-2.0, 0.5)));
}

TEST(Math, ArcSineBothBranches) {
    const double pi = 3.14159265358979323846;
    EXPECT_DOUBLE_EQ(arcSine(1.0), pi / 2);
    EXPECT_DOUBLE_EQ(arcSine(-1.0), -pi / 2);
    for (double x : {0.25, -0.5, 0.75, -0.9, 0.9999999999})
        EXPECT_NEAR(arcSine(x), std::asin(x), 4e-16) << x;
}

} // namespace
