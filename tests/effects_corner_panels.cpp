// The flashing corner panels on the recording device. The music position comes
// through the real sync queries: the test builds a song with chosen instrument
// cells and plays the part of the output side by publishing the record of the
// block being heard.
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
#include <memory>
#include <vector>

namespace {

constexpr float tick = 1.0f / 64.0f;
constexpr int32_t channels = 4, rows = 64;

class CornerPanelsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        recordReset();
        song = std::make_unique<Song>();
        std::memset(song.get(), 0, sizeof(Song));
        for (Pattern& pattern : patterns) {
            pattern.rowCount = rows;
            pattern.cells = new PatternCell[rows * channels]();
        }
        song->patterns = patterns;
        song->patternCount = 2;
        song->channelCount = channels;
        song->songLength = 2;
        song->orderTable[0] = 0;
        song->orderTable[1] = 1;
        setSyncSong(song.get());
        heard = SyncRecord{0, 0, 0};
        syncRecords = &heard;
        heardBlock.store(0);
        ASSERT_EQ(initCornerPanels(), 0);
        deviceBeginScene();
    }
    void TearDown() override {
        deviceEndScene();
        shutdownCornerPanels();
        EXPECT_EQ(recordLiveObjects(), 0u);
        syncRecords = nullptr;
        setSyncSong(nullptr);
        for (Pattern& pattern : patterns) delete[] pattern.cells;
        recordReset();
    }

    void put(int32_t pattern, int32_t row, int32_t channel, uint8_t instrument) {
        patterns[pattern].cells[row * channels + channel].instrument = instrument;
    }
    void hear(uint8_t order, uint8_t row) { heard = SyncRecord{order, row, 0}; }

    // One frame; the flash level byte each panel was drawn with (top, bottom).
    std::pair<uint32_t, uint32_t> frame(float delta) {
        frameDelta = delta;
        recordClearLog();
        renderCornerPanels();
        std::vector<const RecordedCall*> draws = recordedDraws();
        EXPECT_EQ(draws.size(), 2u);
        if (draws.size() != 2) return {~0u, ~0u};
        uint32_t level[2];
        for (int32_t i = 0; i < 2; i++) {
            const RecordedCall& draw = *draws[i];
            EXPECT_EQ(drawnVertexCount(draw), 24u);
            uint32_t specular = vertexWord(draw, 0, vxSpecular);
            for (uint32_t v = 1; v < drawnVertexCount(draw); v++)
                EXPECT_EQ(vertexWord(draw, v, vxSpecular), specular) << "vertex " << v;
            EXPECT_EQ(specular & 0xFF000000u, 0xFF000000u);
            EXPECT_EQ(specular, greyOf(specular & 0xFF));
            level[i] = specular & 0xFF;
        }
        return {level[0], level[1]};
    }

    std::unique_ptr<Song> song;
    Pattern patterns[2];
    SyncRecord heard;
};

TEST(CornerPanelsLifecycle, InitCreatesTexturesAndBufferAndShutdownIsSafe) {
    recordReset();
    shutdownCornerPanels(); // never initialised
    EXPECT_TRUE(recordedCalls().empty());

    ASSERT_EQ(initCornerPanels(), 0);
    for (uint32_t id = 1; id <= 2; id++) {
        const RecordedTexture* texture = recordedTexture(id);
        ASSERT_NE(texture, nullptr);
        EXPECT_EQ(texture->width, 128u);
        EXPECT_EQ(texture->height, 128u);
        EXPECT_EQ(texture->format, fmtA4R4G4B4);
        EXPECT_EQ(texture->levels, 1u);
        EXPECT_EQ(std::memcmp(texture->levelBytes[0].data(), panelImages[id - 1], 32768), 0);
    }
    const RecordedBuffer* buffer = recordedVertexBuffer(1);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->length, 1536u);
    EXPECT_EQ(buffer->usage, usageWriteOnly | usageDynamic);
    EXPECT_EQ(buffer->format, fvfScreenSpecular);
    EXPECT_EQ(buffer->pool, poolSystemMem);
    EXPECT_EQ(std::memcmp(buffer->bytes.data(), panelVertices, 1536), 0);
    std::vector<const RecordedCall*> locks = recordedCallsOf(CallKind::lockVertexBuffer);
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_EQ(locks[0]->args[0], 0u);
    EXPECT_EQ(locks[0]->args[1], 1536u);
    EXPECT_EQ(locks[0]->args[2], lockDiscard);
    shutdownCornerPanels();
    shutdownCornerPanels();
    EXPECT_EQ(recordLiveObjects(), 0u);

    struct Failure {
        RecordFault fault;
        uint32_t nth;
        size_t texturesTried;
    };
    const Failure failures[] = {{RecordFault::createTexture, 1, 1},
                                {RecordFault::createTexture, 2, 2},
                                {RecordFault::surfaceLock, 1, 1},
                                {RecordFault::createVertexBuffer, 1, 2},
                                {RecordFault::lockVertexBuffer, 1, 2}};
    for (const Failure& failure : failures) {
        recordReset();
        recordFailNth(failure.fault, failure.nth);
        EXPECT_EQ(initCornerPanels(), -1) << int(failure.fault) << "/" << failure.nth;
        EXPECT_EQ(recordedCallsOf(CallKind::createTexture).size(), failure.texturesTried);
        shutdownCornerPanels();
        EXPECT_EQ(recordLiveObjects(), 0u);
    }
    recordReset();
}

TEST_F(CornerPanelsTest, DrawsBothStripsWithTheirStatesAndPutsTheBaselineBack) {
    frame(tick);
    std::vector<RecordedCall> draws = copyDraws();
    ASSERT_EQ(draws.size(), 2u);
    for (uint32_t i = 0; i < 2; i++) {
        const RecordedCall& d = draws[i];
        EXPECT_EQ(d.kind, CallKind::drawPrimitive);
        EXPECT_EQ(d.args[0], ptTriangleList);
        EXPECT_EQ(d.args[1], 24u * i);
        EXPECT_EQ(d.args[2], 8u);
        EXPECT_EQ(d.state.texture, i + 1);
        EXPECT_EQ(d.state.fvf, fvfScreenSpecular);
        EXPECT_EQ(d.state.streamBuffer, 1u);
        EXPECT_EQ(d.state.streamStride, 32u);
        EXPECT_EQ(d.state.renderStates[rsCullMode], cullNone);
        EXPECT_EQ(d.state.renderStates[rsZEnable], 0u);
        EXPECT_EQ(d.state.renderStates[rsAlphaBlendEnable], 1u);
        EXPECT_EQ(d.state.renderStates[rsSrcBlend], blendSrcAlpha);
        EXPECT_EQ(d.state.renderStates[rsDestBlend], blendInvSrcAlpha);
        EXPECT_EQ(d.state.renderStates[rsSpecularEnable], 1u);
        EXPECT_EQ(d.state.stage0[tssMagFilter], filterPoint);
        EXPECT_EQ(d.state.stage0[tssMinFilter], filterPoint);
        EXPECT_EQ(d.state.stage0[tssMipFilter], filterPoint);
        // Positions, diffuse and texture coordinates are the embedded ones.
        for (uint32_t v = 0; v < 24; v++) {
            const uint8_t* source = panelVertices + (24 * i + v) * 32;
            EXPECT_EQ(std::memcmp(d.data.data() + v * 32, source, 20), 0) << i << "/" << v;
            EXPECT_EQ(std::memcmp(d.data.data() + v * 32 + 24, source + 24, 8), 0) << i << "/" << v;
        }
    }
    // Each panel's 24 vertices are locked on their own for the specular colour.
    std::vector<const RecordedCall*> locks = recordedCallsOf(CallKind::lockVertexBuffer);
    ASSERT_EQ(locks.size(), 2u);
    for (uint32_t i = 0; i < 2; i++) {
        EXPECT_EQ(locks[i]->args[0], 768u * i);
        EXPECT_EQ(locks[i]->args[1], 768u);
        EXPECT_EQ(locks[i]->args[2], 0u);
    }
    EXPECT_EQ(recordedTextureStageState(0, tssMagFilter), filterLinear);
    EXPECT_EQ(recordedTextureStageState(0, tssMinFilter), filterLinear);
    EXPECT_EQ(recordedTextureStageState(0, tssMipFilter), filterLinear);
    EXPECT_EQ(recordedState(rsZEnable), 1u);
    EXPECT_EQ(recordedState(rsSpecularEnable), 0u);
    EXPECT_EQ(recordedState(rsAlphaBlendEnable), 0u);
    EXPECT_EQ(recordedState(rsCullMode), cullClockwise);
}

TEST_F(CornerPanelsTest, TriggerFlashesAtFullLevelAndFallsThreePerSecond) {
    put(0, 4, 2, 17);
    hear(0, 3);
    EXPECT_EQ(frame(tick), std::make_pair(0u, 0u));
    hear(0, 4);
    // Level 1 - 3k/64 after k frames of 1/64 s, each drawn before it falls further.
    for (int32_t k = 0; k <= 21; k++) {
        uint32_t expected = uint32_t(roundToInteger(double(64 - 3 * k) * 255.0 / 64.0));
        EXPECT_EQ(frame(tick), std::make_pair(expected, 0u)) << "frame " << k;
    }
    // Below 0 the level rests at 0; it is never drawn wrapped.
    for (int32_t k = 22; k < 40; k++) EXPECT_EQ(frame(tick), std::make_pair(0u, 0u)) << k;

    // At 60 frames per second the flash is gone after 20 frames, 12.75 a frame.
    const float sixtieth = 1092.0f / 65536.0f;
    hear(0, 5);
    frame(sixtieth);
    hear(0, 4);
    uint32_t previous = frame(sixtieth).first;
    EXPECT_EQ(previous, 255u);
    for (int32_t k = 1; k < 20; k++) {
        uint32_t level = frame(sixtieth).first;
        EXPECT_GE(previous - level, 12u) << k;
        EXPECT_LE(previous - level, 13u) << k;
        EXPECT_GT(level, 0u) << k;
        previous = level;
    }
    EXPECT_EQ(frame(sixtieth).first, 0u);
}

TEST_F(CornerPanelsTest, OnlyANewlyHeardRowNumberCanTrigger) {
    put(0, 8, 0, 17);
    put(1, 8, 3, 17); // the same row number in the next pattern
    put(0, 10, 1, 17);
    hear(0, 8);
    EXPECT_EQ(frame(tick).first, 255u);
    // The row stays for many frames: one flash only.
    for (int32_t k = 1; k < 30; k++) EXPECT_LT(frame(tick).first, 255u) << k;
    // Another pattern at the same row number is not a new row.
    hear(1, 8);
    EXPECT_LT(frame(tick).first, 255u);
    // The music passed row 10 between two frames: rows not heard at a frame never trigger.
    hear(1, 9);
    frame(tick);
    hear(1, 11);
    EXPECT_EQ(frame(tick).first, 0u);
    // Back to a row with the instrument, heard as a change of row number.
    hear(0, 10);
    EXPECT_EQ(frame(tick).first, 255u);
    // A cell without an instrument never matches, and instrument 0 is not asked for.
    EXPECT_EQ(rowUsesInstrument(0), 0);
}

TEST_F(CornerPanelsTest, PanelsFlashAndFadeIndependently) {
    put(0, 1, 0, 17);
    put(0, 1, 3, 1);
    put(0, 2, 1, 1);
    put(0, 3, 2, 17);
    hear(0, 1);
    EXPECT_EQ(frame(tick), std::make_pair(255u, 255u));
    EXPECT_EQ(frame(tick), std::make_pair(243u, 243u));
    hear(0, 2); // the bottom strip's instrument only
    EXPECT_EQ(frame(tick), std::make_pair(231u, 255u));
    EXPECT_EQ(frame(tick), std::make_pair(219u, 243u));
    hear(0, 3); // the top strip's instrument only
    EXPECT_EQ(frame(tick), std::make_pair(255u, 231u));
}

TEST_F(CornerPanelsTest, NoSongOrNoOutputNeverFlashes) {
    for (int32_t r = 0; r < rows; r++) {
        put(0, r, 0, 17);
        put(0, r, 1, 1);
    }
    // No loaded song: the row is 0 and no instrument is found.
    setSyncSong(nullptr);
    for (uint8_t r = 0; r < 10; r++) {
        hear(0, r);
        EXPECT_EQ(frame(tick), std::make_pair(0u, 0u)) << int(r);
    }
    // A song but no output playing (no records yet).
    setSyncSong(song.get());
    syncRecords = nullptr;
    for (uint8_t r = 0; r < 10; r++) EXPECT_EQ(frame(tick), std::make_pair(0u, 0u)) << int(r);
    // Once it plays, the first new row flashes.
    syncRecords = &heard;
    hear(0, 20);
    EXPECT_EQ(frame(tick), std::make_pair(255u, 255u));
}

TEST_F(CornerPanelsTest, ZeroAndVeryLongFrames) {
    put(0, 6, 0, 17);
    hear(0, 6);
    EXPECT_EQ(frame(0.0f).first, 255u);
    EXPECT_EQ(frame(0.0f).first, 255u); // no time passed: still full
    EXPECT_EQ(frame(5.0f).first, 255u); // drawn before it falls, to -14
    EXPECT_EQ(frame(tick).first, 0u);   // reset, not wrapped
    EXPECT_EQ(frame(tick).first, 0u);
}

} // namespace
