// The white-out and a flashing corner panel drawn by the OpenGL device into a real
// 640 x 480 window and read back. Runs inside the private X server.
#include "assets/panel_assets.h"
#include "audio/output.h"
#include "audio/sync.h"
#include "effects/corner_panels.h"
#include "effects/picture_sequence.h"
#include "music/song.h"
#include "tests/display_support.h"

#include <cmath>
#include <cstring>

namespace {

TEST(EffectsDisplay, WhiteoutPeakAndFlashingPanelOnTheRealDevice) {
    openDisplay();
    ASSERT_FALSE(HasFatalFailure());

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
    int32_t notWhite = 0;
    for (size_t i = 0; i < pixels.size(); i += 4)
        notWhite += pixels[i] + pixels[i + 1] + pixels[i + 2] != 765;
    EXPECT_EQ(notWhite, 0);
    shutdownPictureSequence();

    // The heard row names the top strip's instrument only.
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
    blockCount = 1; // a one-block ring whose record is the one being heard
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
    for (int32_t panel = 0; panel < 2; panel++) {
        for (int32_t r = 0; r < 64; r++) {
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
        }
    }
    EXPECT_EQ(wrong, 0);
    for (int32_t y : {0, 240, 479})
        EXPECT_EQ(pixelAt(383, y)[2], 0x60); // nothing beside the strips
    shutdownCornerPanels();
    syncRecords = nullptr;
    blockCount = savedBlockCount;
    setSyncSong(nullptr);
    glDeviceDetach();
}

} // namespace
