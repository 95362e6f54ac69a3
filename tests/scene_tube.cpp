// The twisting tube on the recording device: its strips, states and transforms,
// the shape its phases give, the normals and the wrapping of the phases.
#include "effects/tube.h"

#include "app/frame_clock.h"
#include "app/random.h"
#include "assets/tube_assets.h"
#include "effects/backdrop.h"
#include "tests/scene_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

struct Point {
    double x, y, z;
};

class TubeTest : public ::testing::Test {
  protected:
    void SetUp() override { startScene(); }
    void TearDown() override {
        shutdownTube();
        shutdownBackdrop();
        EXPECT_EQ(recordLiveObjects(), 0u);
        recordReset();
    }
    void frame(float delta) {
        frameDelta = delta;
        recordClearLog();
        renderTube();
        expectBaseline();
        draws = copyDraws();
        // Ring k, vertex j of the buffer as it stands after the frame.
        const RecordedBuffer* buffer = recordedVertexBuffer(1);
        ASSERT_NE(buffer, nullptr);
        std::memcpy(vertex, buffer->bytes.data(), sizeof vertex);
    }
    Point position(int k, int j) const {
        return {vertex[k][j][0], vertex[k][j][1], vertex[k][j][2]};
    }
    Point normal(int k, int j) const { return {vertex[k][j][3], vertex[k][j][4], vertex[k][j][5]}; }
    std::vector<RecordedCall> draws;
    float vertex[33][64][8];
};

TEST_F(TubeTest, StripsStatesAndOneDrawPerRingPair) {
    ASSERT_EQ(initBackdrop(), 0);
    ASSERT_EQ(initTube(), 0);
    const RecordedBuffer* indices = recordedIndexBuffer(1);
    ASSERT_NE(indices, nullptr);
    ASSERT_EQ(indices->bytes.size(), 8320u);
    std::vector<uint16_t> index(4160);
    std::memcpy(index.data(), indices->bytes.data(), 8320);
    for (int a = 0; a < 32; a++) {
        for (int i = 0; i <= 64; i++) {
            ASSERT_EQ(index[130 * a + 2 * i], 64 * a + i % 64);
            ASSERT_EQ(index[130 * a + 2 * i + 1], 64 * (a + 1) + i % 64);
        }
    }
    renderBackdrop(); // the tube follows the background, whose states it must override
    frame(1.0f / 60.0f);
    ASSERT_EQ(draws.size(), 32u);
    for (uint32_t k = 1; k <= 32; k++) {
        const RecordedCall& d = draws[k - 1];
        EXPECT_EQ(d.args, (std::array<uint32_t, 6>{ptTriangleStrip, 64 * (k - 1), 128,
                                                   130 * (k - 1), 128, 0}));
    }
    const DrawState& s = draws[0].state;
    EXPECT_EQ(s.fvf, 0x112u);
    EXPECT_EQ(s.streamStride, 32u);
    EXPECT_EQ(s.texture, recordedTextureId(backdropTile(0)));
    EXPECT_NE(s.texture, 0u);
    EXPECT_EQ(s.renderStates[rsLighting], 1u);
    EXPECT_EQ(s.renderStates[rsSpecularEnable], 1u);
    EXPECT_EQ(s.renderStates[rsCullMode], cullClockwise);
    EXPECT_EQ(s.renderStates[rsShadeMode], shadeGouraud);
    EXPECT_EQ(s.renderStates[rsZEnable], 1u);
    EXPECT_EQ(s.renderStates[rsAlphaBlendEnable], 0u);
    EXPECT_EQ(s.stage0[tssMagFilter], filterLinear);
    EXPECT_TRUE(s.lightEnabled);
    EXPECT_EQ(std::memcmp(&s.light, &tubeLight, sizeof(Light)), 0);
    EXPECT_EQ(std::memcmp(&s.material, &tubeMaterial, sizeof(Material)), 0);
    EXPECT_EQ(std::memcmp(s.view, tubeViewMatrix, 64), 0);
    EXPECT_EQ(std::memcmp(s.projection, tubeProjectionMatrix, 64), 0);
    for (int i = 0; i < 16; i++) // the identity moved 100 units along x
        EXPECT_EQ(s.world[i], i == 12 ? 100.0f : i % 5 == 0 ? 1.0f : 0.0f);
    // Each ring goes through its own small lock that leaves the rest of the buffer alone.
    const auto locks = recordedCallsOf(CallKind::lockVertexBuffer);
    ASSERT_EQ(locks.size(), 33u);
    EXPECT_EQ(locks[32]->args, (std::array<uint32_t, 6>{32 * 2048, 2048, lockNoOverwrite}));
}

// With every phase 0 there is no radius wave and no twist; the sway still varies
// along the tube, its two factors stepping on by 606 and -442 units a ring.
double swayAtZero(int k) {
    const double unit = 6.283184 / 65536.0;
    return std::cos(-442.0 * k * unit) * std::sin(606.0 * k * unit) * 40.0;
}

TEST_F(TubeTest, AllPhasesZeroGiveTheRippledUntwistedTubeWithNormalsFromTheRingBefore) {
    seedRandom(0); // every number drawn is then 0
    ASSERT_EQ(initTube(), 0);
    frame(0.0f);
    for (int k = 0; k < 33; k++) {
        for (int j = 0; j < 64; j++) {
            const double turn = 6.283184 / 64.0;
            const double r = 60.0 + 10.0 * std::cos(5.0 * turn * j);
            const Point p = position(k, j);
            EXPECT_NEAR(p.x, r * std::cos(turn * j) + swayAtZero(k), 1e-3) << k << " " << j;
            EXPECT_NEAR(p.y, r * std::sin(turn * j), 1e-3);
            EXPECT_EQ(p.z, 128.0 - 8.0 * k);
            EXPECT_FLOAT_EQ(vertex[k][j][6], float(k) * 0.1f);
            EXPECT_EQ(vertex[k][j][7], 0.9f);
        }
    }
    for (int j = 0; j < 64; j++) { // no ring before the first one yet
        const Point n = normal(0, j);
        EXPECT_EQ(n.x * n.x + n.y * n.y + n.z * n.z, 0.0);
    }
    // The same tube again: ring 0 now takes its normals from the last frame's ring 32.
    frame(0.0f);
    for (int k = 0; k < 33; k++) {
        for (int j = 0; j < 64; j++) {
            const int before = k == 0 ? 32 : k - 1;
            const Point a = position(before, j), b = position(before, (j + 1) % 64);
            const Point c = position(k, j);
            const Point e1 = {b.x - a.x, b.y - a.y, b.z - a.z},
                        e2 = {c.x - a.x, c.y - a.y, c.z - a.z};
            const Point cross = {e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z,
                                 e1.x * e2.y - e1.y * e2.x};
            const double length =
                std::sqrt(cross.x * cross.x + cross.y * cross.y + cross.z * cross.z);
            const Point n = normal(k, j);
            const double nLength = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
            // Unit length within the few percent of the unrefined reciprocal square root,
            // pointing against the cross product.
            EXPECT_GT(nLength, 0.955) << k << " " << j;
            EXPECT_LT(nLength, 1.022);
            EXPECT_NEAR((n.x * cross.x + n.y * cross.y + n.z * cross.z) / (length * nLength), -1.0,
                        1e-6);
            if (k > 0) { // outward
                EXPECT_GT(n.x * (c.x - swayAtZero(k)) + n.y * c.y, 0.0);
            }
        }
    }
}

TEST_F(TubeTest, PhasesWrapAfterLongFramesAndTheRadiusStaysAboveTwenty) {
    seedRandom(0);
    ASSERT_EQ(initTube(), 0);
    float phase[6], scroll;
    frame(1.0f);
    readTubePhases(phase, &scroll);
    EXPECT_EQ(phase[0], 32768.0f);
    EXPECT_EQ(phase[1], 2293.76f);
    EXPECT_EQ(phase[2], -1409.024f + 65536.0f);
    EXPECT_EQ(phase[3], 5898.24f);
    EXPECT_EQ(phase[4], 5570.56f);
    EXPECT_EQ(phase[5], -10813.44f + 65536.0f);
    EXPECT_EQ(scroll, -0.1f + 1.0f);
    frame(3.0f); // p0 runs half a turn a second: three more half turns
    readTubePhases(phase, &scroll);
    EXPECT_EQ(phase[0], 0.0f);

    float minRadius = 1e9f;
    seedRandom(12345);
    for (int f = 0; f < 300; f++) {
        // Frames up to hours long, and the last one as long as the clock can hand out.
        const float delta = f == 299 ? 65535.99998f : float(nextRandom()) * float(f % 3 + 1) / 7.0f;
        readTubePhases(phase, &scroll);
        frame(delta);
        for (int k = 0; k < 33; k++) {
            EXPECT_FLOAT_EQ(vertex[k][0][6], float(k) * 0.1f + scroll);
            // Opposite vertices lie on one line through the axis, 2R apart, and the
            // ripple takes at most 10 off R.
            for (int j = 0; j < 32; j++) {
                const Point p = position(k, j), q = position(k, j + 32);
                minRadius =
                    std::min(minRadius, float(std::hypot(p.x - q.x, p.y - q.y) / 2.0 - 10.0));
            }
        }
        readTubePhases(phase, &scroll);
        for (float p : phase) {
            EXPECT_GE(p, 0.0f) << delta;
            EXPECT_LT(p, 65536.0f) << delta;
        }
        EXPECT_GE(scroll, 0.0f);
        EXPECT_LT(scroll, 1.0f);
    }
    EXPECT_GE(minRadius, 20.0f - 1e-3f);
    EXPECT_LT(minRadius, 21.0f); // the narrowest shapes were reached
}

TEST_F(TubeTest, FailedInitsAndShutdownsLeaveNothingBehind) {
    shutdownTube(); // before any init
    for (RecordFault fault : {RecordFault::createVertexBuffer, RecordFault::createIndexBuffer,
                              RecordFault::lockIndexBuffer}) {
        recordFailNth(fault, 1);
        EXPECT_EQ(initTube(), -1);
        shutdownTube();
        shutdownTube();
        EXPECT_EQ(recordLiveObjects(), 0u);
    }
    // A ring whose lock fails is skipped; the others are still written and drawn.
    ASSERT_EQ(initTube(), 0);
    recordFailNth(RecordFault::lockVertexBuffer, 5);
    frame(0.0f);
    EXPECT_EQ(draws.size(), 32u);
}

} // namespace
