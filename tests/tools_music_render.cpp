// The intro's module as heard: one pass of the embedded module plus the jump back to its
// restart position, rendered through the real player, and the measures the intro relies
// on: headroom, loudness of the opening and the main part, the main part's first downbeat
// under the opening's white flash (35.5 s), a pass of at least 150 s that loops without a
// seam, and kick and snare rhythms for the corner panels.
#include "tools_music_support.h"

#include <gtest/gtest.h>

namespace {

using namespace musictest;

constexpr int rowsPerBar = 16;
constexpr int64_t rowFrames = 4 * 1621; // speed 4 at tempo 68

struct Pass {
    Render r;
    size_t mainRow = 0, loopRow = 0; // rows of the restart position's first and second start
    int64_t mainFrame() const { return r.rows[mainRow].frame; }
    int64_t loopFrame() const { return r.rows[loopRow].frame; }
    bool names(size_t row, uint8_t instrument) const {
        const std::vector<uint8_t>& named = r.rows[row].instruments;
        return std::find(named.begin(), named.end(), instrument) != named.end();
    }
};

// One pass and ten seconds after the loop: rendered once for all tests here.
const Pass& pass() {
    static const Pass p = [] {
        Pass p{renderModule(embeddedModule(), 175.0)};
        for (size_t i = 0, seen = 0; i < p.r.rows.size() && seen < 2; ++i)
            if (p.r.rows[i].order == p.r.restartPosition && p.r.rows[i].row == 0)
                (seen++ == 0 ? p.mainRow : p.loopRow) = i;
        return p;
    }();
    return p;
}

TEST(MusicRender, OnePassLoopsBackWithoutASeam) {
    const Pass& p = pass();
    ASSERT_GT(p.loopRow, p.mainRow) << "no render, or no return to the restart position";
    const std::vector<RowTick>& rows = p.r.rows;
    double passSeconds = double(p.loopFrame()) / rate;
    EXPECT_GE(passSeconds, 150.0);
    EXPECT_LE(passSeconds, 175.0 - 10.0) << "the render must reach past the loop";

    // Every row lasts the same 4 ticks, the jump included.
    for (size_t i = 1; i < rows.size(); ++i)
        ASSERT_EQ(rows[i].frame - rows[i - 1].frame, rowFrames) << "row tick " << i;

    // Heard after the jump, the music sounds as it did the first time through: second by
    // second the same loudness, and no gap around the join.
    for (int64_t s = 0; s < 8 * rate; s += rate)
        EXPECT_NEAR(rmsDbfs(p.r, p.loopFrame() + s, p.loopFrame() + s + rate),
                    rmsDbfs(p.r, p.mainFrame() + s, p.mainFrame() + s + rate), 1.5)
            << "second " << s / rate << " after the restart";
    for (int64_t at = p.loopFrame() - rate / 2; at < p.loopFrame() + rate / 2; at += rate / 20)
        EXPECT_GT(rmsDbfs(p.r, at, at + rate / 20), -40.0) << "silence at frame " << at;
}

TEST(MusicRender, LevelsLeaveHeadroomAndTheMainPartDropsUnderTheWhiteFlash) {
    const Pass& p = pass();
    ASSERT_GT(p.loopRow, p.mainRow);
    int peak = 0; // below -0.5 dBFS: nothing clips
    for (int16_t v : p.r.samples)
        peak = std::max(peak, std::abs(int(v)));
    EXPECT_LE(toDbfs(peak), -0.5);
    double opening = rmsDbfs(p.r, 0, p.mainFrame());
    double main = rmsDbfs(p.r, p.mainFrame(), p.loopFrame());
    EXPECT_TRUE(main >= -20.0 && main <= -12.0) << main;
    EXPECT_LT(opening, main - 2.0);
    // Nothing in the pass is silent for a whole bar after the music has begun.
    const int64_t bar = rowsPerBar * rowFrames;
    for (int64_t at = rate; at + bar < p.loopFrame(); at += bar / 2)
        EXPECT_GT(rmsDbfs(p.r, at, at + bar), -45.0) << "near-silent bar at " << double(at) / rate;

    // The drop starts with the kick, under the white flash, and is heard: a beat of near
    // silence, then the full band.
    EXPECT_NEAR(double(p.mainFrame()) / rate, 35.5, 0.15);
    EXPECT_TRUE(p.names(p.mainRow, 1));
    double before = rmsDbfs(p.r, p.mainFrame() - 2 * rowFrames, p.mainFrame());
    EXPECT_LT(before, -40.0);
    EXPECT_GT(rmsDbfs(p.r, p.mainFrame(), p.mainFrame() + 4 * rowFrames), before + 20.0);
}

TEST(MusicRender, KickAndSnareDrivePanelFlashes) {
    const Pass& p = pass();
    ASSERT_GT(p.loopRow, p.mainRow);
    for (uint8_t instrument : {uint8_t(1), uint8_t(17)}) {
        // Most bars flash, never two rows in a row, never two bars without; far from
        // every row flashes.
        size_t hits = 0, barsWithHit = 0, lastHit = p.mainRow, lastBar = SIZE_MAX;
        for (size_t i = p.mainRow; i < p.loopRow; ++i) {
            if (!p.names(i, instrument)) continue;
            EXPECT_FALSE(i > p.mainRow && p.names(i - 1, instrument)) << int(instrument);
            EXPECT_LE(i - lastHit, size_t(2 * rowsPerBar)) << "no flash for two bars";
            size_t bar = (i - p.mainRow) / rowsPerBar;
            barsWithHit += bar != lastBar;
            hits += 1;
            lastHit = i, lastBar = bar;
        }
        EXPECT_LE(p.loopRow - lastHit, size_t(2 * rowsPerBar));
        size_t bars = (p.loopRow - p.mainRow) / rowsPerBar;
        EXPECT_GE(barsWithHit * 10, bars * 6) << "instrument " << int(instrument);
        EXPECT_LT(hits * 3, p.loopRow - p.mainRow) << "instrument " << int(instrument);
    }
}

} // namespace
