// The intro's module as heard: one pass of the embedded module plus the jump back to its
// restart position, rendered through the real player, and the measures the intro relies
// on: no clipping and headroom, loudness of the opening and the main part, the main
// part's first downbeat under the opening's white flash (35.5 s), a pass of at least
// 150 s that loops without a seam, and kick and snare rhythms for the corner panels.
#include "tools_music_support.h"

#include <gtest/gtest.h>

namespace {

using namespace musictest;

constexpr double whiteFlashSeconds = 35.5;
constexpr int rowsPerBar = 16;

struct Pass {
    Render render;
    size_t mainRow = 0; // index in render.rows of the main part's first row
    size_t loopRow = 0; // index of the row where the song is back at the restart position
    int64_t mainFrame() const { return render.rows[mainRow].frame; }
    int64_t loopFrame() const { return render.rows[loopRow].frame; }
};

// One pass and ten seconds after the loop: rendered once for all tests here.
const Pass& pass() {
    static const Pass p = [] {
        Pass p;
        p.render = renderModule(embeddedModule(), 175.0);
        const std::vector<RowTick>& rows = p.render.rows;
        int seen = 0;
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].order == p.render.restartPosition && rows[i].row == 0) {
                (seen++ == 0 ? p.mainRow : p.loopRow) = i;
                if (seen == 2) break;
            }
        return p;
    }();
    return p;
}

bool names(const Render& r, size_t row, uint8_t instrument) {
    const std::vector<uint8_t>& named = r.rowInstruments[row];
    return std::find(named.begin(), named.end(), instrument) != named.end();
}

TEST(MusicRender, OnePassLoopsBackWithoutASeam) {
    const Pass& p = pass();
    ASSERT_FALSE(p.render.samples.empty()) << "the embedded module does not load";
    ASSERT_GT(p.loopRow, p.mainRow) << "the song never came back to its restart position";
    const std::vector<RowTick>& rows = p.render.rows;

    double passSeconds = double(p.loopFrame()) / rate;
    EXPECT_GE(passSeconds, 150.0);
    EXPECT_LE(passSeconds, 175.0 - 10.0) << "the render must reach past the loop";

    // Every row lasts the same 4 ticks of 1621 frames, the jump included, and the song
    // goes on from row 0 of the restart position row by row.
    for (size_t i = 1; i < rows.size(); ++i)
        ASSERT_EQ(rows[i].frame - rows[i - 1].frame, 4 * 1621) << "row tick " << i;
    for (int k = 1; k < 32; ++k) {
        EXPECT_EQ(rows[p.loopRow + size_t(k)].order, rows[p.mainRow + size_t(k)].order);
        EXPECT_EQ(rows[p.loopRow + size_t(k)].row, rows[p.mainRow + size_t(k)].row);
    }

    // Heard after the jump, the music sounds as it did the first time through: second by
    // second the same loudness, and no gap around the join.
    for (int s = 0; s < 8; ++s) {
        int64_t first = p.mainFrame() + s * rate, again = p.loopFrame() + s * rate;
        EXPECT_NEAR(rmsDbfs(p.render, again, again + rate), rmsDbfs(p.render, first, first + rate),
                    1.5)
            << "second " << s << " after the restart";
    }
    for (int64_t at = p.loopFrame() - rate / 2; at < p.loopFrame() + rate / 2; at += rate / 20)
        EXPECT_GT(rmsDbfs(p.render, at, at + rate / 20), -40.0) << "silence at frame " << at;
}

TEST(MusicRender, LevelsLeaveHeadroomAndTheOpeningIsQuieter) {
    const Pass& p = pass();
    ASSERT_GT(p.loopRow, p.mainRow);
    const Render& r = p.render;
    EXPECT_EQ(clippedValues(r), 0);
    EXPECT_LE(toDbfs(peakMagnitude(r, 0, r.frames())), -0.5);

    double opening = rmsDbfs(r, 0, p.mainFrame());
    double main = rmsDbfs(r, p.mainFrame(), p.loopFrame());
    EXPECT_GE(main, -20.0);
    EXPECT_LE(main, -12.0);
    EXPECT_LT(opening, main - 2.0);
    // Nothing in the pass is silent for a whole bar after the music has begun.
    int64_t bar = rowsPerBar * 4 * 1621;
    for (int64_t at = rate; at + bar < p.loopFrame(); at += bar / 2)
        EXPECT_GT(rmsDbfs(r, at, at + bar), -45.0) << "near-silent bar at " << double(at) / rate;
}

TEST(MusicRender, MainPartDropsUnderTheWhiteFlash) {
    const Pass& p = pass();
    ASSERT_GT(p.loopRow, p.mainRow);
    const Render& r = p.render;
    double downbeat = double(p.mainFrame()) / rate;
    EXPECT_NEAR(downbeat, whiteFlashSeconds, 0.15);
    EXPECT_TRUE(names(r, p.mainRow, 1)) << "the drop starts with the kick";
    // It is heard: a beat of near silence, then the full band.
    int64_t beat = 4 * 4 * 1621;
    double before = rmsDbfs(r, p.mainFrame() - beat / 2, p.mainFrame());
    double after = rmsDbfs(r, p.mainFrame(), p.mainFrame() + beat);
    EXPECT_LT(before, -40.0);
    EXPECT_GT(after, before + 20.0);
}

TEST(MusicRender, KickAndSnareDrivePanelFlashes) {
    const Pass& p = pass();
    ASSERT_GT(p.loopRow, p.mainRow);
    const Render& r = p.render;
    for (uint8_t instrument : {uint8_t(1), uint8_t(17)}) {
        size_t hits = 0, bars = 0, barsWithHit = 0, lastHit = p.mainRow;
        bool hitThisBar = false;
        for (size_t i = p.mainRow; i < p.loopRow; ++i) {
            bool hit = names(r, i, instrument);
            if (hit) {
                ++hits;
                hitThisBar = true;
                EXPECT_LE(i - lastHit, size_t(2 * rowsPerBar)) << "no flash for two bars";
                EXPECT_FALSE(i > p.mainRow && names(r, i - 1, instrument))
                    << "instrument " << int(instrument) << " on two rows in a row";
                lastHit = i;
            }
            if ((i - p.mainRow) % rowsPerBar == rowsPerBar - 1) {
                ++bars;
                barsWithHit += hitThisBar;
                hitThisBar = false;
            }
        }
        EXPECT_LE(p.loopRow - lastHit, size_t(2 * rowsPerBar));
        // Most bars flash; far from every row does.
        EXPECT_GE(barsWithHit * 10, bars * 6) << "instrument " << int(instrument);
        EXPECT_LT(hits * 3, p.loopRow - p.mainRow) << "instrument " << int(instrument);
    }
}

} // namespace
