// Memory blocks and the math wrappers.
#include "app/mathutil.h"
#include "app/memory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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
    EXPECT_EQ(roundToInteger(2.5), 2);
    EXPECT_EQ(roundToInteger(3.5), 4);
    EXPECT_EQ(roundToInteger(-0.5), 0);
    EXPECT_EQ(roundToInteger(-2.7), -3);
    EXPECT_EQ(roundToInteger(6442450944.5), 6442450944); // 64-bit, ties to even

    EXPECT_EQ(floorRound(2.7), 2.0);
    EXPECT_EQ(floorRound(-0.2), -1.0);
    EXPECT_EQ(floorRound(3.0), 2.0); // 2.5 rounds to even
    EXPECT_EQ(floorRound(4.0), 4.0);
    EXPECT_EQ(floorRound(-3.0), -4.0);
    EXPECT_EQ(floorRound(4294967301.5), 5.0); // the low 32 bits of the integer

    for (double y : {0.0, 1.0, -1.0, 0.5, 1e9})
        EXPECT_EQ(power(0.0, y), 0.0) << y;
    EXPECT_EQ(power(2.0, 10.0), 1024.0);
    EXPECT_EQ(power(2.0, -3.0), 0.125);
    EXPECT_NEAR(power(2.0, 0.5), std::sqrt(2.0), 4e-16);
    EXPECT_NEAR(power(2.0, -2.75), std::exp2(-2.75), 1e-16); // fraction keeps t's sign
    EXPECT_TRUE(std::isnan(power(-2.0, 0.5)));
    EXPECT_EQ(power(2.0, 1e12), std::numeric_limits<double>::infinity());
    EXPECT_EQ(power(2.0, -1e12), 0.0);
}

TEST(Math, ArcSineBothBranches) {
    const double pi = 3.14159265358979323846;
    EXPECT_DOUBLE_EQ(arcSine(1.0), pi / 2);
    EXPECT_DOUBLE_EQ(arcSine(-1.0), -pi / 2);
    for (double x : {0.25, -0.5, 0.75, -0.9, 0.9999999999})
        EXPECT_NEAR(arcSine(x), std::asin(x), 4e-16) << x;
}

} // namespace
