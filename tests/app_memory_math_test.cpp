// Memory blocks and the math wrappers.
#include "app/mathutil.h"
#include "app/memory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

bool allZero(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

struct Exhausted : std::runtime_error {
    using std::runtime_error::runtime_error;
};
[[noreturn]] void throwExhausted(const char* message) { throw Exhausted(message); }

TEST(Memory, BlocksAreZeroFilledAndDistinct) {
    void* empty1 = allocBlock(0);
    void* empty2 = allocBlock(0);
    ASSERT_NE(empty1, nullptr);
    ASSERT_NE(empty2, nullptr);
    EXPECT_NE(empty1, empty2);

    // Dirty a block, free it, and ask again: new blocks still read as zero.
    for (int round = 0; round < 3; ++round) {
        auto* block = static_cast<unsigned char*>(allocBlock(4096));
        ASSERT_TRUE(allZero(block, 4096));
        std::memset(block, 0xA5, 4096);
        freeBlock(block);
    }
    auto* array = static_cast<int32_t*>(allocArray(1000, sizeof(int32_t)));
    EXPECT_TRUE(allZero(array, 1000 * sizeof(int32_t)));
    array[999] = -1; // the whole count x size area is usable
    freeBlock(array);
    freeBlock(empty1);
    freeBlock(empty2);
    freeBlock(nullptr); // accepted
}

TEST(Memory, ImpossibleRequestsGoToTheExhaustedHandler) {
    setMemoryExhaustedHandler(throwExhausted);
    // count x size beyond 32 bits would wrap to a small block in 32-bit arithmetic.
    EXPECT_THROW(allocArray(65536, 65537), Exhausted);
    EXPECT_THROW(allocArray(-1, 16), Exhausted);
    EXPECT_THROW(allocArray(16, -1), Exhausted);
    EXPECT_THROW(allocBlock(-32), Exhausted);
    try {
        allocBlock(-1);
        FAIL() << "no exhaustion reported";
    } catch (const Exhausted& e) {
        EXPECT_STREQ(e.what(), "Out of memory");
    }
    setMemoryExhaustedHandler(nullptr);
}

TEST(MemoryDeathTest, WithoutAHandlerExhaustionEndsWithAMessage) {
    EXPECT_EXIT(allocArray(1 << 20, 1 << 20), testing::ExitedWithCode(1), "Out of memory");
}

TEST(Math, RoundToIntegerTiesToEven) {
    EXPECT_EQ(roundToInteger(2.5), 2);
    EXPECT_EQ(roundToInteger(3.5), 4);
    EXPECT_EQ(roundToInteger(-0.5), 0);
    EXPECT_EQ(roundToInteger(-1.5), -2);
    EXPECT_EQ(roundToInteger(-2.5), -2);
    EXPECT_EQ(roundToInteger(0.49999999999999994), 0);
    EXPECT_EQ(roundToInteger(2.5000000000000004), 3);
    EXPECT_EQ(roundToInteger(-2.7), -3);
    // Beyond 32 bits: a 64-bit result.
    EXPECT_EQ(roundToInteger(6442450944.5), 6442450944);
    // Colour bytes: 0.5 x 255 = 127.5 goes to 128, 0.3 x 255 = 76.5 to 76.
    EXPECT_EQ(roundToInteger(0.5 * 255), 128);
    EXPECT_EQ(roundToInteger(76.5), 76);
}

TEST(Math, FloorRoundIsFloorExceptOnOddWholeNumbers) {
    EXPECT_EQ(floorRound(2.7), 2.0);
    EXPECT_EQ(floorRound(-0.2), -1.0);
    EXPECT_EQ(floorRound(3.0), 2.0); // the tie x - 0.5 = 2.5 goes to even
    EXPECT_EQ(floorRound(4.0), 4.0);
    EXPECT_EQ(floorRound(0.0), 0.0);
    EXPECT_EQ(floorRound(-3.0), -4.0);
    EXPECT_EQ(floorRound(-4.0), -4.0);
    EXPECT_EQ(floorRound(15.999), 15.0);
    EXPECT_EQ(floorRound(1e-9), 0.0);
    // The low 32 bits of the integer: 2^32 + 5.5 gives 5.
    EXPECT_EQ(floorRound(4294967301.5), 5.0);
}

TEST(Math, PowerOfTwoAndItsEdges) {
    for (double exponent : {0.0, 1.0, -1.0, 0.5, -1000.0, 1e9})
        EXPECT_EQ(power(0.0, exponent), 0.0) << exponent;
    EXPECT_EQ(power(2.0, 10.0), 1024.0);
    EXPECT_EQ(power(2.0, -3.0), 0.125);
    EXPECT_EQ(power(2.0, 0.0), 1.0);
    EXPECT_NEAR(power(2.0, 0.5), std::sqrt(2.0), 4e-16);
    EXPECT_NEAR(power(2.0, -7.25), std::exp2(-7.25), 1e-18);
    EXPECT_NEAR(power(10.0, 3.0), 1000.0, 1e-12);
    // A fraction with the sign of t: 2^-0.75 scaled by 2^-2.
    EXPECT_NEAR(power(2.0, -2.75), std::exp2(-2.75), 1e-16);
    EXPECT_TRUE(std::isnan(power(-2.0, 0.5)));
    EXPECT_TRUE(std::isnan(power(2.0, std::numeric_limits<double>::quiet_NaN())));
    // Far outside the double range: infinity and zero, not an overflowed conversion.
    EXPECT_EQ(power(2.0, 1e12), std::numeric_limits<double>::infinity());
    EXPECT_EQ(power(2.0, -1e12), 0.0);
    EXPECT_EQ(power(2.0, std::numeric_limits<double>::infinity()),
              std::numeric_limits<double>::infinity());
}

TEST(Math, TrigonometryWrappers) {
    const double pi = 3.14159265358979323846;
    EXPECT_DOUBLE_EQ(sine(pi / 6), 0.5);
    EXPECT_DOUBLE_EQ(cosine(pi / 3), 0.5);
    EXPECT_EQ(squareRoot(16.0), 4.0);
    EXPECT_DOUBLE_EQ(arcSine(1.0), pi / 2);
    EXPECT_DOUBLE_EQ(arcSine(-1.0), -pi / 2);
    EXPECT_EQ(arcSine(0.0), 0.0);
    // Both branches, and close to 1 where 1 - x^2 would cancel.
    for (double x : {0.25, 0.5, -0.5, 0.75, -0.9, 0.999999, 0.9999999999})
        EXPECT_NEAR(arcSine(x), std::asin(x), 1e-15 * (1 + std::fabs(std::asin(x)))) << x;
    EXPECT_DOUBLE_EQ(arcTangent2(1.0, 1.0), pi / 4);
    EXPECT_DOUBLE_EQ(tangent(pi / 4), 1.0);
}

} // namespace
