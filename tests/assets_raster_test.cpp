// The generator's picture arithmetic: the blue-noise dither that keeps gradients free of
// bands, and the distance transform the logo's outline is built on. (What the generator
// writes is pinned byte for byte by the regeneration test.)
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "raster.h"

TEST(GeneratorRaster, DitherKeepsTheAverageOfAGradient) {
    // Every threshold of the 64 x 64 mask is used exactly once; exact levels stay exact
    // (no noise on flat colours of a stored level).
    std::set<float> thresholds;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const float t = ditherThreshold(x, y);
            ASSERT_TRUE(t > 0.0f && t < 1.0f) << t;
            thresholds.insert(t);
            ASSERT_EQ(ditherLevel(float(x % 32) / 31.0f, 31, 7, y), x % 32);
        }
    EXPECT_EQ(thresholds.size(), 4096u);
    EXPECT_EQ(ditherThreshold(3, 5), ditherThreshold(3 + 64, 5 + 128)) << "the mask tiles";

    // A slow ramp quantised to 5 bits: the mean over every 8 x 64 block follows the
    // ramp to within a tenth of a step, where rounding alone would make stairs with
    // errors of half a step.
    for (int x0 = 0; x0 < 512; x0 += 8) {
        double sum = 0, expected = 0;
        for (int x = x0; x < x0 + 8; ++x) {
            float value = float(x) / 511.0f;
            expected += value * 64;
            for (int y = 0; y < 64; ++y)
                sum += ditherLevel(value, 31, x, y) / 31.0;
        }
        EXPECT_NEAR(sum / 512, expected / 512, 0.1 / 31) << "columns " << x0 << "..";
    }
    // Neighbours in a region of one flat mid value differ by at most one level.
    for (int x = 0; x < 63; ++x)
        EXPECT_LE(std::abs(ditherLevel(0.37f, 31, x, 9) - ditherLevel(0.37f, 31, x + 1, 9)), 1);
}

TEST(GeneratorRaster, DistanceTransformMatchesBruteForce) {
    const int w = 23, h = 17;
    std::vector<bool> inside(w * h, false);
    Random random(7);
    for (int i = 0; i < 9; ++i)
        inside[random.next() % (w * h)] = true;
    Plane d = distanceTo(inside, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double best = 1e9;
            for (int j = 0; j < h; ++j)
                for (int i = 0; i < w; ++i)
                    if (inside[j * w + i])
                        best = std::min(best, std::hypot(double(x - i), double(y - j)));
            EXPECT_NEAR(d.at(x, y), best, 1e-4) << x << "," << y;
        }
    // Signed distance of a disc: negative inside, positive outside, zero near the rim.
    Plane disc(41, 41);
    for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 41; ++x)
            disc.at(x, y) = std::hypot(x - 20.0, y - 20.0) < 12 ? 1.0f : 0.0f;
    Plane sd = signedDistance(disc);
    EXPECT_NEAR(sd.at(20, 20), -11.5f, 1.0f);
    EXPECT_NEAR(sd.at(20, 40), 7.5f, 1.0f);
    EXPECT_LT(std::fabs(sd.at(32, 20)), 1.0f);
    // With nothing inside, every distance is "far".
    Plane empty = distanceTo(std::vector<bool>(16, false), 4, 4);
    EXPECT_GT(empty.at(0, 0), 1e5f);
}
