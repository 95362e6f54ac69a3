// Memory blocks and the math wrappers.
#include "app/mathutil.h"
#include "app/memory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>

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
    // Ties to even, 64-bit results.
    for (auto [x, want] : {std::pair<double, int64_t>{2.5, 2},
                           {3.5, 4},
                           {-0.5, 0},
                           {-2.7, -3},
                           {6442450944.5, 6442450944}})
        EXPECT_EQ(roundToInteger(x), want) << x;
    // Rounds x - 0.5 to even, keeping the low 32 bits of the integer.
    for (auto [x, want] : {std::pair{2.7, 2.0},
                           {-0.2, -1.0},
                           {3.0, 2.0},
                           {4.0, 4.0},
                           {-3.0, -4.0},
                           {4294967301.5, 5.0}})
        EXPECT_EQ(floorRound(x), want) << x;
    for (double y : {0.0, 1.0, -1.0, 0.5, 1e9})
        EXPECT_EQ(power(0.0, y), 0.0) << y;
    const double inf = std::numeric_limits<double>::infinity();
    for (auto [x, y, want] : {std::tuple{2.0, 10.0, 1024.0},
                              {2.0, -3.0, 0.125},
                              {2.0, 0.5, std::sqrt(2.0)},
                              {2.0, -2.75, std::exp2(-2.75)},
                              {2.0, 1e12, inf},
                              {2.0, -1e12, 0.0}}) // fraction keeps t's sign
        EXPECT_TRUE(power(x, y) == want || std::fabs(power(x, y) - want) <= 4e-16) << y;
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
