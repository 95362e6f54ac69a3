// The flashing corner panels on the recording device, fed through the real sync
// queries: a song with chosen instrument cells, and a one-block ring whose record is
// the one being heard standing in for the output side.
#include "effects/corner_panels.h"

#include "app/frame_clock.h"
#include "app/mathutil.h"
#include "assets/panel_assets.h"
#include "audio/output.h"
#include "audio/sync.h"
#include "music/song.h"
#include "tests/effects_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace {

constexpr float tick = 1.0f / 64.0f;
constexpr int32_t channels = 4;
using Levels = std::pair<uint32_t, uint32_t>; // flash bytes drawn: top, bottom

// Shutdown is safe before any init and twice over.
class CornerPanelsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        recordReset();
        shutdownCornerPanels();
        std::memset(&song, 0, sizeof song);
        patterns[0] = {64, cells[0]};
        patterns[1] = {64, cells[1]};
        song.patterns = patterns;
        song.patternCount = 2;
        song.channelCount = channels;
        song.orderTable[1] = 1;
        setSyncSong(&song);
        savedBlockCount = blockCount;
        blockCount = 1;
        syncRecords = &heard;
        heardBlock.store(0);
        hear(0, 0);
        ASSERT_EQ(initCornerPanels(), 0);
        deviceBeginScene();
    }
    void TearDown() override {
        shutdownCornerPanels();
        shutdownCornerPanels();
        EXPECT_EQ(recordLiveObjects(), 0u);
        syncRecords = nullptr;
        blockCount = savedBlockCount;
        setSyncSong(nullptr);
        recordReset();
    }
    void hear(uint8_t order, uint8_t row) { heard = SyncRecord{order, row, 0}; }

    // One frame: the flash byte each strip was drawn with, the same in all its vertices.
    static Levels frame(float delta) {
        frameDelta = delta;
        recordClearLog();
        renderCornerPanels();
        uint32_t level[2] = {~0u, ~0u};
        for (const RecordedCall* d : recordedDraws()) {
            uint32_t specular = vertexWord(*d, 0, vxSpecular);
            for (uint32_t v = 0; v < drawnVertexCount(*d); v++)
                EXPECT_EQ(vertexWord(*d, v, vxSpecular), specular);
            EXPECT_EQ(specular, greyOf(specular & 0xFF));
            level[d->args[1] / 24] = specular & 0xFF;
        }
        return {level[0], level[1]};
    }

    Song song;
    Pattern patterns[2];
    PatternCell cells[2][64 * channels] = {};
    SyncRecord heard;
    int32_t savedBlockCount = 0;
};

TEST_F(CornerPanelsTest, UploadsDrawsBothStripsAndPutsTheBaselineBack) {
    for (uint32_t id = 1; id <= 2; id++) {
        const RecordedTexture* t = recordedTexture(id);
        EXPECT_TRUE(t->format == fmtA4R4G4B4 && t->width == 128u);
        EXPECT_EQ(std::memcmp(t->levelBytes[0].data(), panelImages[id - 1], 32768), 0);
    }
    frame(tick);
    const std::vector<RecordedCall> draws = copyDraws();
    const auto locks = recordedCallsOf(CallKind::lockVertexBuffer);
    ASSERT_EQ(draws.size(), 2u);
    for (uint32_t i = 0; i < 2; i++) {
        const DrawState& s = draws[i].state;
        EXPECT_EQ(draws[i].kind, CallKind::drawPrimitive);
        EXPECT_EQ(draws[i].args, (std::array<uint32_t, 6>{ptTriangleList, 24 * i, 8}));
        EXPECT_TRUE(s.texture == i + 1 && s.fvf == fvfScreenSpecular && s.streamBuffer == 1u &&
                    s.streamStride == 32u);
        expectStates(s, {rsCullMode, cullNone, rsZEnable, 0, rsAlphaBlendEnable, 1, rsSrcBlend,
                         blendSrcAlpha, rsDestBlend, blendInvSrcAlpha, rsSpecularEnable, 1});
        for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
            EXPECT_EQ(s.stage0[filter], filterPoint);
        // The embedded vertices, drawn from the buffer: only the specular colour differs.
        for (uint32_t v = 0; v < 24; v++) {
            const uint8_t* source = panelVertices + (24 * i + v) * 32;
            EXPECT_EQ(std::memcmp(draws[i].data.data() + v * 32, source, 20), 0);
            EXPECT_EQ(std::memcmp(draws[i].data.data() + v * 32 + 24, source + 24, 8), 0);
        }
        // Each strip's 768 bytes are locked on their own, without flags.
        EXPECT_EQ(locks.at(i)->args, (std::array<uint32_t, 6>{768 * i, 768, 0}));
    }
    for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
        EXPECT_EQ(recordedTextureStageState(0, filter), filterLinear);
    expectStates(
        {rsZEnable, 1, rsSpecularEnable, 0, rsAlphaBlendEnable, 0, rsCullMode, cullClockwise});
}

TEST_F(CornerPanelsTest, FlashStartsAtFullLevelAndFallsThreePerSecond) {
    cells[0][4 * channels + 2].instrument = 17;
    EXPECT_EQ(frame(tick), Levels(0, 0));
    hear(0, 4);
    // After k frames of 1/64 s the level is 1 - 3k/64, drawn before it falls again;
    // below 0 it rests at 0 and is never drawn wrapped.
    for (int32_t k = 0; k < 30; k++) {
        uint32_t expected = k > 21 ? 0 : uint32_t(roundToInteger((64 - 3 * k) * 255.0 / 64.0));
        EXPECT_EQ(frame(tick), Levels(expected, 0)) << k;
    }
    // A frame of no time keeps the level; a very long one is followed by 0.
    hear(0, 6);
    frame(0.0f);
    hear(0, 4);
    EXPECT_EQ(frame(0.0f).first, 255u);
    EXPECT_EQ(frame(5.0f).first, 255u);
    EXPECT_EQ(frame(tick).first, 0u);
}

TEST_F(CornerPanelsTest, PanelsFlashIndependentlyOnceANewRowNumberIsHeard) {
    for (auto [pattern, row, channel, instrument] : {std::array{0, 1, 0, 17},
                                                     {0, 1, 3, 1},
                                                     {0, 2, 1, 1},
                                                     {0, 3, 2, 17},
                                                     {0, 8, 0, 17},
                                                     {1, 8, 3, 17},
                                                     {0, 10, 1, 17}})
        cells[pattern][row * channels + channel].instrument = uint8_t(instrument);
    hear(0, 1);
    EXPECT_EQ(frame(tick), Levels(255, 255));
    EXPECT_EQ(frame(tick), Levels(243, 243));
    hear(0, 2);
    EXPECT_EQ(frame(tick), Levels(231, 255));
    hear(0, 3);
    EXPECT_EQ(frame(tick), Levels(255, 243));
    hear(0, 8);
    EXPECT_EQ(frame(tick).first, 255u);
    for (int32_t k = 1; k < 30; k++)
        EXPECT_LT(frame(tick).first, 255u) << k; // once per row
    hear(1, 8); // another pattern at the same row number is no new row
    EXPECT_LT(frame(tick).first, 255u);
    hear(1, 9); // row 10 passes between two frames unseen
    frame(tick);
    hear(1, 11);
    EXPECT_EQ(frame(tick).first, 0u);
    hear(0, 10);
    EXPECT_EQ(frame(tick).first, 255u);

    // Every row names both instruments, but no song is loaded, or none plays.
    for (auto& cell : cells[0])
        cell.instrument = (&cell - cells[0]) % 2 ? 17 : 1;
    setSyncSong(nullptr);
    for (uint8_t r = 10; r < 20; r++) {
        hear(0, r);
        frame(1.0f);
        EXPECT_EQ(frame(tick), Levels(0, 0)) << int(r);
    }
    setSyncSong(&song);
    syncRecords = nullptr;
    EXPECT_EQ(frame(tick), Levels(0, 0));
    syncRecords = &heard;
    hear(0, 30);
    EXPECT_EQ(frame(tick), Levels(255, 255));
}

} // namespace
