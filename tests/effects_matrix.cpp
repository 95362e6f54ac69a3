// Matrix4 layout and the identity constant.
#include "effects/matrix.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Matrix, IdentityCopiesAndRowThreeTranslation) {
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(matrixFloats(identityMatrix)[i], i % 5 ? 0.0f : 1.0f);
    Matrix4 world;
    std::memset(&world, 0xFF, sizeof world);
    setIdentity(&world);
    world.m[3][0] = 100.0f;
    EXPECT_EQ(matrixFloats(world)[12], 100.0f); // row-major: m[3][0] is float 12
    EXPECT_EQ(identityMatrix.m[3][0], 0.0f);    // the constant is untouched
    // p' = [x y z 1] * M moves every point 100 along x.
    const float p[3] = {1.5f, -2.0f, 3.25f};
    for (int c = 0; c < 3; c++) {
        float out =
            p[0] * world.m[0][c] + p[1] * world.m[1][c] + p[2] * world.m[2][c] + world.m[3][c];
        EXPECT_EQ(out, p[c] + (c == 0 ? 100.0f : 0.0f));
    }
    setIdentity(&world);
    EXPECT_EQ(std::memcmp(&world, &identityMatrix, sizeof world), 0);
}
