// The background and the twisting tube on the recording device: tiles, strips, states
// and transforms, the shape the tube's phases give, its normals and the phases' wrap.
#include "effects/tube.h"

#include "app/frame_clock.h"
#include "app/random.h"
#include "assets/backdrop_assets.h"
#include "assets/tube_assets.h"
#include "effects/backdrop.h"
#include "tests/effects_support.h"

#include <cmath>
#include <cstring>

namespace {

struct Point {
    double x, y, z;
};
Point cross(Point a, Point b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(Point a, Point b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

class TubeTest : public ::testing::Test {
  protected:
    // Shutdown is safe before any init and twice over (init failures, at every call, are
    // the reliability tests' part).
    void SetUp() override {
        startScene();
        shutdownTube();
    }
    void TearDown() override {
        shutdownTube();
        shutdownTube();
        shutdownBackdrop();
        shutdownBackdrop();
        EXPECT_EQ(backdropTile(0), nullptr);
        EXPECT_EQ(recordLiveObjects(), 0u);
    }
    void frame(float delta) {
        frameDelta = delta;
        recordClearLog();
        renderTube();
        expectBaseline();
        draws = copyDraws();
        std::memcpy(vertex, recordedVertexBuffer(1)->bytes.data(), sizeof vertex);
    }
    Point at(int k, int j, int field = 0) const { // field 3: the normal
        return {vertex[k][j][field], vertex[k][j][field + 1], vertex[k][j][field + 2]};
    }
    std::vector<RecordedCall> draws;
    float vertex[33][64][8]; // ring, vertex, x y z nx ny nz u v
};

TEST_F(TubeTest, BackdropTilesThenTubeStripsStatesAndOneDrawPerRing) {
    shutdownBackdrop(); // before any init
    ASSERT_EQ(initBackdrop(), 0);
    ASSERT_EQ(initTube(), 0);
    const uint16_t* index = reinterpret_cast<const uint16_t*>(recordedIndexBuffer(1)->bytes.data());
    ASSERT_EQ(recordedIndexBuffer(1)->bytes.size(), 8320u);
    for (int a = 0; a < 32; a++)
        for (int i = 0; i <= 64; i++)
            ASSERT_TRUE(index[130 * a + 2 * i] == 64 * a + i % 64 &&
                        index[130 * a + 2 * i + 1] == 64 * (a + 1) + i % 64);
    // The background: each tile's own picture on its own 256 x 256 quad, point sampled
    // (one texel per pixel), culling left off for the next render to set.
    recordClearLog();
    renderBackdrop();
    draws = copyDraws();
    ASSERT_EQ(draws.size(), 6u);
    for (uint32_t t = 0; t < 6; t++) {
        const RecordedCall& d = draws[t];
        EXPECT_EQ(d.args, (std::array<uint32_t, 6>{ptTriangleStrip, 2, 28}));
        ASSERT_EQ(d.data.size(), 112u);
        EXPECT_EQ(std::memcmp(d.data.data(), backdropVertices + 112 * t, 112), 0);
        EXPECT_EQ(d.state.texture, recordedTextureId(backdropTile(int32_t(t))));
        const RecordedTexture* texture = recordedTexture(d.state.texture);
        ASSERT_TRUE(texture && texture->width == 256 && texture->format == fmtR5G6B5);
        EXPECT_EQ(std::memcmp(texture->levelBytes[0].data(), backdropTileImages[t], 131072), 0);
        for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
            EXPECT_EQ(d.state.stage0[filter], filterPoint);
        expectStates(d.state,
                     {rsZEnable, 0, rsAlphaBlendEnable, 0, rsLighting, 0, rsCullMode, cullNone});
    }
    expectBaseline();
    EXPECT_EQ(recordedState(rsCullMode), cullNone);
    // The tube overrides the states the background leaves.
    frame(1.0f / 60.0f);
    ASSERT_EQ(draws.size(), 32u);
    for (uint32_t k = 1; k <= 32; k++)
        EXPECT_EQ(draws[k - 1].args, (std::array<uint32_t, 6>{ptTriangleStrip, 64 * (k - 1), 128,
                                                              130 * (k - 1), 128, 0}));
    const DrawState& s = draws[0].state;
    EXPECT_TRUE(s.fvf == 0x112 && s.streamStride == 32 && s.lightEnabled);
    EXPECT_EQ(s.texture, recordedTextureId(backdropTile(0)));
    expectStates(s, {rsLighting, 1, rsSpecularEnable, 1, rsCullMode, cullClockwise});
    expectStates(s, {rsShadeMode, shadeGouraud, rsZEnable, 1, rsAlphaBlendEnable, 0});
    EXPECT_EQ(s.stage0[tssMagFilter], filterLinear);
    EXPECT_EQ(std::memcmp(&s.light, &tubeLight, sizeof(Light)), 0);
    EXPECT_EQ(std::memcmp(&s.material, &tubeMaterial, sizeof(Material)), 0);
    EXPECT_EQ(std::memcmp(s.view, tubeViewMatrix, 64), 0);
    EXPECT_EQ(std::memcmp(s.projection, tubeProjectionMatrix, 64), 0);
    for (int i = 0; i < 16; i++) // the identity moved 100 units along x
        EXPECT_EQ(s.world[i], i == 12 ? 100.0f : i % 5 == 0 ? 1.0f : 0.0f);
    const auto locks = recordedCallsOf(CallKind::lockVertexBuffer); // one small lock a ring
    ASSERT_EQ(locks.size(), 33u);
    EXPECT_EQ(locks[32]->args, (std::array<uint32_t, 6>{32 * 2048, 2048, lockNoOverwrite}));
    recordFailNth(RecordFault::lockVertexBuffer, 5); // that ring is skipped, the rest drawn
    frame(0.0f);
    EXPECT_EQ(draws.size(), 32u);
}

// With every phase 0 there is no radius wave and no twist; the sway still varies
// along the tube, its two factors stepping on by 606 and -442 units a ring.
TEST_F(TubeTest, AllPhasesZeroGiveTheRippledUntwistedTubeWithNormalsFromTheRingBefore) {
    seedRandom(0); // every number drawn is then 0
    ASSERT_EQ(initTube(), 0);
    const double unit = 6.283184 / 65536.0;
    for (int pass = 0; pass < 2; pass++) {
        frame(0.0f);
        for (int k = 0; k < 33; k++) {
            const double sway = std::cos(-442.0 * k * unit) * std::sin(606.0 * k * unit) * 40.0;
            for (int j = 0; j < 64; j++) {
                const double r = 60.0 + 10.0 * std::cos(5120.0 * j * unit);
                const Point p = at(k, j), n = at(k, j, 3);
                ASSERT_NEAR(p.x, r * std::cos(1024.0 * j * unit) + sway, 1e-3) << k << " " << j;
                ASSERT_NEAR(p.y, r * std::sin(1024.0 * j * unit), 1e-3);
                ASSERT_TRUE(p.z == 128.0 - 8.0 * k && vertex[k][j][7] == 0.9f);
                ASSERT_EQ(vertex[k][j][6], float(k) * 0.1f);
                if (pass == 0 && k == 0) { // no ring before the first one yet
                    ASSERT_EQ(dot(n, n), 0.0);
                    continue;
                }
                // Against the cross product of the edges to the ring before (for ring 0
                // the last frame's ring 32), unit length within the few percent of the
                // unrefined reciprocal square root, and outward.
                const Point a = at(k ? k - 1 : 32, j), b = at(k ? k - 1 : 32, (j + 1) % 64);
                const Point c =
                    cross({b.x - a.x, b.y - a.y, b.z - a.z}, {p.x - a.x, p.y - a.y, p.z - a.z});
                const double length = std::sqrt(dot(n, n));
                ASSERT_TRUE(length > 0.955 && length < 1.022) << k << " " << j;
                ASSERT_NEAR(dot(n, c) / (length * std::sqrt(dot(c, c))), -1.0, 1e-6);
                if (k > 0) {
                    ASSERT_GT(n.x * (p.x - sway) + n.y * p.y, 0.0);
                }
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
    const float expected[6] = {32768.0f, 2293.76f, -1409.024f + 65536.0f,
                               5898.24f, 5570.56f, -10813.44f + 65536.0f};
    EXPECT_EQ(std::memcmp(phase, expected, sizeof phase), 0);
    EXPECT_EQ(scroll, -0.1f + 1.0f);

    float narrowest = 1e9f;
    seedRandom(12345);
    for (int f = 0; f < 300; f++) { // frames up to hours long, the last as long as can be
        const float delta = f == 299 ? 65535.99998f : float(nextRandom()) * float(f % 3 + 1) / 7.0f;
        readTubePhases(phase, &scroll);
        frame(delta);
        for (int k = 0; k < 33; k++) {
            EXPECT_FLOAT_EQ(vertex[k][0][6], float(k) * 0.1f + scroll);
            // Opposite vertices lie on a line through the axis, 2R apart; the ripple
            // takes at most 10 off R.
            for (int j = 0; j < 32; j++) {
                const Point p = at(k, j), q = at(k, j + 32);
                narrowest = std::min(narrowest, float(std::hypot(p.x - q.x, p.y - q.y) / 2 - 10));
            }
        }
        readTubePhases(phase, &scroll);
        for (float p : phase)
            ASSERT_TRUE(p >= 0.0f && p < 65536.0f) << delta;
        ASSERT_TRUE(scroll >= 0.0f && scroll < 1.0f) << delta;
    }
    EXPECT_GE(narrowest, 20.0f - 1e-3f);
    EXPECT_LT(narrowest, 21.0f); // the narrowest shapes were reached
}

} // namespace
