// The effects drawn by the OpenGL device into a real 640 x 480 window and read back:
// the white-out's peak, a flashing corner panel, the background, the tube and the
// text column. Runs inside the private X server.
#include "app/random.h"
#include "assets/backdrop_assets.h"
#include "assets/panel_assets.h"
#include "audio/output.h"
#include "audio/sync.h"
#include "effects/backdrop.h"
#include "effects/corner_panels.h"
#include "effects/picture_sequence.h"
#include "effects/text_scroller.h"
#include "effects/tube.h"
#include "music/song.h"
#include "tests/display_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

class EffectsDisplay : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        openDisplay();
        ready = !HasFatalFailure();
    }
    static void TearDownTestSuite() { glDeviceDetach(); }
    void SetUp() override { ASSERT_TRUE(ready); }
    static inline bool ready = false;
};

int32_t brightness(int32_t x, int32_t y) {
    return pixelAt(x, y)[0] + pixelAt(x, y)[1] + pixelAt(x, y)[2];
}

TEST_F(EffectsDisplay, WhiteoutPeakAndFlashingPanel) {
    // Through the opening to the ending's first frame, then one second more: the
    // white-out's peak leaves every pixel white.
    ASSERT_EQ(initPictureSequence(), 0);
    int32_t result = -1;
    for (int32_t k = 0; k < 1000 && result == -1; k++)
        drawFrame(0, 0.125f, [&] {
            if ((result = renderPictureSequence()) != -1) renderWhiteout();
        });
    ASSERT_EQ(result, 1);
    drawFrame(0, 1.0f, [] {
        renderPictureSequence();
        renderWhiteout();
    });
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](uint8_t v) { return v == 255; }));
    shutdownPictureSequence();

    // The heard row (a one-block ring whose record is the one being heard) names the
    // top strip's instrument only.
    Song song;
    std::memset(&song, 0, sizeof song);
    PatternCell cells[4] = {};
    cells[1].instrument = uint8_t(panelTriggerInstruments[0]);
    Pattern pattern{1, cells};
    song.patterns = &pattern;
    song.patternCount = 1;
    song.channelCount = 4;
    SyncRecord heard{0, 0, 0};
    setSyncSong(&song);
    const int32_t savedBlockCount = blockCount;
    blockCount = 1;
    syncRecords = &heard;
    heardBlock.store(0);
    ASSERT_EQ(initCornerPanels(), 0);
    const float background[3] = {0x20, 0x40, 0x60};
    drawFrame(0x00204060, 1.0f / 60.0f, [] { renderCornerPanels(); });
    // The flashing strip shows white blended by the texel's alpha, the other its
    // stored colour. Each pixel centre lies on a texel edge, so point sampling may
    // take the texel to the left or above (wrapping) as well.
    auto expected = [&](int32_t panel, int32_t row, int32_t column, int32_t channel) {
        const uint8_t* at = panelImages[panel] + ((row & 127) * 128 + (column & 127)) * 2;
        const uint16_t t = uint16_t(at[0] | at[1] << 8);
        const float alpha = float(t >> 12) / 15.0f;
        const float colour = panel == 0 ? 255.0f : float((t >> (8 - 4 * channel)) & 15) * 17.0f;
        return alpha * colour + (1.0f - alpha) * background[channel];
    };
    int32_t wrong = 0;
    for (int32_t panel = 0; panel < 2; panel++)
        for (int32_t r = 0; r < 64; r++)
            for (int32_t c = 0; c < 256; c++) {
                // The strip is folded: its right half is the image's lower half.
                const int32_t row = c < 128 ? r : 64 + r, column = c & 127;
                const uint8_t* p = pixelAt(384 + c, panel * 416 + r);
                bool matches = false;
                for (int32_t d = 0; d < 4 && !matches; d++) {
                    matches = true;
                    for (int32_t ch = 0; ch < 3; ch++)
                        matches &= std::fabs(p[ch] - expected(panel, row - d / 2, column - d % 2,
                                                              ch)) <= 3.0f;
                }
                wrong += !matches;
            }
    EXPECT_EQ(wrong, 0);
    for (int32_t y : {0, 240, 479})
        EXPECT_EQ(pixelAt(383, y)[2], 0x60); // nothing beside the strips
    shutdownCornerPanels();
    syncRecords = nullptr;
    blockCount = savedBlockCount;
    setSyncSong(nullptr);
}

TEST_F(EffectsDisplay, BackgroundTubeAndTextColumn) {
    seedRandom(7);
    ASSERT_EQ(initBackdrop(), 0);
    ASSERT_EQ(initTube(), 0);
    // The picture unscaled and exact: every pixel shows its own texel of the tile,
    // converted from 5 and 6 bits; a neighbour's texel or a blend of two is a fault.
    drawFrame(0, 0.0f, [] { renderBackdrop(); });
    const std::vector<uint8_t> backdropOnly = pixels;
    int32_t wrong = 0;
    for (int32_t y = 0; y < 480; y++)
        for (int32_t x = 0; x < 640; x++) {
            const uint8_t* at =
                backdropTileImages[(y / 256) * 3 + x / 256] + ((y % 256) * 256 + x % 256) * 2;
            const int32_t t = at[0] | at[1] << 8;
            const int32_t rgb[3] = {(((t >> 11) & 31) * 255 + 15) / 31,
                                    (((t >> 5) & 63) * 255 + 31) / 63, ((t & 31) * 255 + 15) / 31};
            for (int32_t c = 0; c < 3; c++)
                wrong += std::abs(pixelAt(x, y)[c] - rgb[c]) > 1;
        }
    EXPECT_EQ(wrong, 0);

    // The tube over it, then a red quad just behind the tube's depth: the quad hides
    // the background but not the tube.
    struct {
        float x, y, z, rhw;
        uint32_t diffuse;
        float u, v;
    } quad[4];
    for (int32_t i = 0; i < 4; i++)
        quad[i] = {i & 1 ? 640.0f : 320.0f, i & 2 ? 480.0f : 0.0f, 0.9995f, 1, 0xFFFF0000u, 0, 0};
    std::vector<uint8_t> tubeOnly;
    for (int32_t pass = 0; pass < 2; pass++) {
        drawFrame(0, 0.0f, [&] {
            renderBackdrop();
            renderTube();
            if (pass == 1) {
                setTexture(0, nullptr);
                setRenderState(rsCullMode, cullNone);
                setVertexShader(fvfScreenQuad);
                drawPrimitiveUP(ptTriangleStrip, 2, quad, 28);
                setRenderState(rsCullMode, cullClockwise);
            }
        });
        if (pass == 0) tubeOnly = pixels;
    }
    auto onTube = [&](int32_t x, int32_t y) {
        return std::memcmp(&tubeOnly[(y * 640 + x) * 4], &backdropOnly[(y * 640 + x) * 4], 3) != 0;
    };
    int32_t leftChanged = 0, tubePixels = 0, hidden = 0, redShown = 0;
    for (int32_t y = 0; y < 480; y++) {
        int32_t rowTube = 0;
        for (int32_t x = 0; x < 640; x++) {
            if (x < 250) leftChanged += onTube(x, y);
            if (x < 320 || !onTube(x, y)) {
                redShown += x >= 322 && pixelAt(x, y)[0] == 255 && pixelAt(x, y)[1] == 0;
                continue;
            }
            rowTube++;
            hidden += std::memcmp(&tubeOnly[(y * 640 + x) * 4], pixelAt(x, y), 3) != 0;
        }
        tubePixels += rowTube;
        EXPECT_GT(rowTube, 20) << "row " << y; // the tube runs off the top and bottom
    }
    EXPECT_EQ(leftChanged, 0); // the tube stays in the right half
    EXPECT_LT(hidden, tubePixels / 100);
    EXPECT_GT(redShown, 320 * 480 / 10);

    // Lighting: across the middle row the band colour is constant, so the shading
    // alone makes the tube's middle brighter than its silhouette, which the light
    // from behind the camera grazes (ambient only).
    pixels = tubeOnly;
    int32_t first = -1, last = -1, brightest = 0;
    for (int32_t x = 320; x < 640; x++) {
        if (!onTube(x, 240)) continue;
        if (first < 0) first = x;
        last = x;
        brightest = std::max(brightest, brightness(x, 240));
    }
    ASSERT_GE(first, 0);
    EXPECT_GT(brightest, brightness(first + 1, 240) + 60);
    EXPECT_TRUE(last == 639 || brightest > brightness(last - 1, 240) + 60);
    shutdownTube();

    // The text column: sixteen lines of ten 'H's, risen until slot k's top is at
    // 71.625 + 21k. Its vertex alpha fades from 0 to 123 over slot 0, is full in
    // the middle slots and falls from 132 to 0 over slot 15; nothing shows outside.
    std::vector<uint8_t> text{16, 0, 0, 0};
    for (int32_t i = 0; i < 16; i++)
        text.insert(text.end(), {10, 0, 75, 0, 0, 0, 39, 39, 39, 39, 39, 39, 39, 39, 39, 39});
    setTextScrollerText(text.data(), int32_t(text.size()));
    ASSERT_EQ(initTextScroller(), 0);
    drawFrame(0, 34.6875f, [] { renderTextScroller(); });
    drawFrame(0, 0.0f, [] { renderTextScroller(); });
    int32_t slotMax[16] = {}, outside = 0;
    for (int32_t y = 0; y < 480; y++)
        for (int32_t x = 0; x < 640; x++) {
            const int32_t level = pixelAt(x, y)[1];
            if (y < 72 || y >= 72 + 16 * 21 || x < 16 || x > 517) {
                outside += level != 0;
                continue;
            }
            int32_t& slot = slotMax[int32_t((float(y) - 71.625f) / 21.0f)];
            slot = std::max(slot, level);
        }
    EXPECT_EQ(outside, 0);
    EXPECT_TRUE(slotMax[0] > 20 && slotMax[0] <= 124) << slotMax[0];
    for (int32_t k = 2; k < 14; k++)
        EXPECT_GE(slotMax[k], 250) << k;
    EXPECT_TRUE(slotMax[15] > 20 && slotMax[15] <= 133) << slotMax[15];
    shutdownTextScroller();
    setTextScrollerText(nullptr, 0);
    shutdownBackdrop();
}

} // namespace
