// Matrix4 layout and the identity constant.
#include "effects/matrix.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// p' = [x y z 1] * M, the row-vector convention the device uses.
void transformPoint(const Matrix4& m, const float in[3], float out[3]) {
    for (int c = 0; c < 3; c++)
        out[c] = in[0] * m.m[0][c] + in[1] * m.m[1][c] + in[2] * m.m[2][c] + m.m[3][c];
}

} // namespace

TEST(Matrix, IdentityIsCopiedAndRestoredExactly) {
    const float* flat = matrixFloats(identityMatrix);
    for (int i = 0; i < 16; i++) EXPECT_EQ(flat[i], (i % 5 == 0) ? 1.0f : 0.0f) << "float " << i;

    Matrix4 world;
    std::memset(&world, 0xFF, sizeof world); // NaN patterns everywhere
    setIdentity(&world);
    EXPECT_EQ(std::memcmp(&world, &identityMatrix, sizeof world), 0);

    // Changing the copy leaves the constant alone; a second setIdentity restores it.
    world.m[3][0] = 100.0f;
    EXPECT_EQ(identityMatrix.m[3][0], 0.0f);
    EXPECT_EQ(matrixFloats(world)[12], 100.0f) << "m[3][0] is float 12 (row-major)";
    setIdentity(&world);
    EXPECT_EQ(std::memcmp(&world, &identityMatrix, sizeof world), 0);
}

TEST(Matrix, TranslationLivesInRowThree) {
    Matrix4 world;
    setIdentity(&world);
    world.m[3][0] = 100.0f;
    const float points[][3] = {{0, 0, 0}, {1.5f, -2.0f, 3.25f}, {-100.0f, 7.0f, -0.5f}};
    for (const auto& p : points) {
        float out[3];
        transformPoint(world, p, out);
        EXPECT_EQ(out[0], p[0] + 100.0f);
        EXPECT_EQ(out[1], p[1]);
        EXPECT_EQ(out[2], p[2]);
    }
}
