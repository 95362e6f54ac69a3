// The sync queries: order, row and time of the block being heard, and whether the
// heard row names an instrument; with a stand-in engine and with the real loader
// and engine playing a module written byte by byte.
#include "audio/output.h"
#include "audio/sync.h"
#include "audio/waveout_virtual.h"
#include "audio_support.h"
#include "music/loader.h"
#include "tools/xmwriter/xm_writer.h"

#include <gtest/gtest.h>

#include <vector>

using namespace audiotest;

namespace {

// ---- A song built in memory ----
// Two 64-row patterns of 4 channels, played in the order 1, 0. Pattern 1 names
// instrument 3 on row 5 in channel 2 only; pattern 0 names instrument 4 there.
// The stand-in engine moves on a row every `speed` ticks.
int64_t ticks = 0;

void rowTicker(Song* song) {
    int64_t row = ticks++ / song->speed;
    song->row = static_cast<int32_t>(row % 64);
    song->orderPosition = static_cast<int32_t>(row / 64 % song->songLength);
}

struct BuiltSong {
    std::vector<PatternCell> cells[2];
    Pattern patterns[2];
    std::unique_ptr<Song> song;
};

std::unique_ptr<BuiltSong> buildSong() {
    auto built = std::make_unique<BuiltSong>();
    for (int p = 0; p < 2; ++p) {
        built->cells[p].assign(64 * 4, PatternCell{});
        built->patterns[p] = Pattern{64, built->cells[p].data()};
    }
    built->cells[1][5 * 4 + 2].instrument = 3;
    built->cells[1][5 * 4 + 2].note = 49;
    built->cells[0][5 * 4 + 2].instrument = 4;
    built->cells[1][6 * 4 + 0].note = 49; // a note without an instrument
    built->song = makeSong(rowTicker, 68, 4, 4);
    Song& s = *built->song;
    s.patterns = built->patterns;
    s.patternCount = 2;
    s.usedPatternCount = 2;
    s.songLength = 2;
    s.orderTable[0] = 1;
    s.orderTable[1] = 0;
    return built;
}

void hearBlock(int64_t block) {
    setVirtualPosition(static_cast<uint64_t>(block) * 884 * 4);
    pollOutputOnce();
}

class Sync : public ::testing::Test {
  protected:
    void SetUp() override {
        ticks = 0;
        ASSERT_TRUE(openOutput(44100));
    }
    void TearDown() override {
        setSyncSong(nullptr);
        closeSoundOutput();
    }
};

} // namespace

TEST_F(Sync, AnswersZeroWithoutASongOrPlayback) {
    auto built = buildSong();
    Song* song = built->song.get();
    // Loaded but not playing: no records to answer from.
    setSyncSong(song);
    EXPECT_EQ(syncSong(), song);
    EXPECT_EQ(currentOrder(song), 0);
    EXPECT_EQ(currentRow(song), 0);
    EXPECT_EQ(elapsedTime(song), 0);
    EXPECT_EQ(rowUsesInstrument(3), 0);

    ASSERT_TRUE(playSong(song));
    hearBlock(40); // row 5 of order 0
    ASSERT_EQ(currentRow(song), 5);
    EXPECT_EQ(rowUsesInstrument(3), 1);
    // A null song answers 0, and so does rowUsesInstrument with no song set.
    EXPECT_EQ(currentOrder(nullptr), 0);
    EXPECT_EQ(currentRow(nullptr), 0);
    EXPECT_EQ(elapsedTime(nullptr), 0);
    setSyncSong(nullptr);
    EXPECT_EQ(rowUsesInstrument(3), 0);

    // Stopped output.
    setSyncSong(song);
    stopSong(song);
    EXPECT_EQ(currentRow(song), 0);
    EXPECT_EQ(elapsedTime(song), 0);
    EXPECT_EQ(rowUsesInstrument(3), 0);
}

TEST_F(Sync, FollowsTheHeardRowThroughTheOrders) {
    auto built = buildSong();
    Song* song = built->song.get();
    setSyncSong(song);
    ASSERT_TRUE(playSong(song));
    // Right after the start: the end of block 0, still order 0, row 0 (1621 frames a tick).
    EXPECT_EQ(currentOrder(song), 0);
    EXPECT_EQ(currentRow(song), 0);
    EXPECT_EQ(elapsedTime(song), 20);

    // Through the first two orders, a block at a time.
    int heardWithThree = 0, heardWithFour = 0;
    int32_t lastRow = 0, lastOrder = 0, lastElapsed = 20;
    for (int64_t block = 1; block < 900; ++block) {
        hearBlock(block);
        int32_t order = currentOrder(song);
        int32_t row = currentRow(song);
        ASSERT_TRUE(row == lastRow || row == (lastRow + 1) % 64) << "block " << block;
        if (row < lastRow) EXPECT_EQ(order, (lastOrder + 1) % 2);
        lastRow = row;
        lastOrder = order;
        bool rowFive = row == 5;
        EXPECT_EQ(rowUsesInstrument(3), rowFive && order == 0 ? 1 : 0) << block;
        EXPECT_EQ(rowUsesInstrument(4), rowFive && order == 1 ? 1 : 0) << block;
        EXPECT_EQ(rowUsesInstrument(0), 0);
        heardWithThree += rowUsesInstrument(3);
        heardWithFour += rowUsesInstrument(4);
        // The record gives the milliseconds mixed by the end of the heard block.
        int32_t elapsed = elapsedTime(song);
        EXPECT_NEAR(elapsed - lastElapsed, 20, 1) << block;
        lastElapsed = elapsed;
    }
    EXPECT_GT(heardWithThree, 5);
    EXPECT_GT(heardWithFour, 5);
}

TEST_F(Sync, RowUsesInstrumentStaysInsideThePatterns) {
    auto built = buildSong();
    Song* song = built->song.get();
    setSyncSong(song);
    ASSERT_TRUE(playSong(song));
    hearBlock(40);
    ASSERT_EQ(currentRow(song), 5);
    // A pattern shorter than the heard row, an order naming a missing pattern, no cells.
    built->patterns[1].rowCount = 5;
    EXPECT_EQ(rowUsesInstrument(3), 0);
    built->patterns[1].rowCount = 64;
    song->orderTable[0] = 7;
    EXPECT_EQ(rowUsesInstrument(3), 0);
    song->orderTable[0] = 1;
    built->patterns[1].cells = nullptr;
    EXPECT_EQ(rowUsesInstrument(3), 0);
    built->patterns[1].cells = built->cells[1].data();
    EXPECT_EQ(rowUsesInstrument(3), 1);
}

namespace {
std::vector<uint8_t> servedModule;
void* openServedModule(const char*) {
    return openMemoryFile(servedModule.data(), static_cast<int32_t>(servedModule.size()));
}
} // namespace

TEST_F(Sync, FollowsALoadedModuleOnTheSongEngine) {
    XmModule m;
    m.channelCount = 4;
    m.defaultSpeed = 4;
    m.defaultTempo = 68;
    m.orders = {0, 1};
    XmPattern& first = m.patterns.emplace_back(xmPattern(16, 4));
    xmCell(first, 4, 5, 2) = {xmNote("C-4"), 3, 0, 0, 0};
    XmPattern& second = m.patterns.emplace_back(xmPattern(16, 4));
    xmCell(second, 4, 2, 0) = {xmNote("E-4"), 1, 0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        XmInstrument& instrument = m.instruments.emplace_back();
        XmSample& sample = instrument.samples.emplace_back();
        sample.sixteenBit = true;
        sample.data.assign(1000, 0);
        for (int k = 0; k < 1000; ++k) sample.data[k] = static_cast<int16_t>((k % 100) * 300);
        sample.loop = XmLoop::forward;
        sample.loopStart = 0;
        sample.loopLength = 1000;
        sample.volume = 64;
    }
    servedModule = writeXm(m);
    registerFileCallbacks(openServedModule, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    Song* song = loadSong(nullptr);
    ASSERT_NE(song, nullptr);
    setSyncSong(song);
    ASSERT_TRUE(playSong(song));
    EXPECT_EQ(currentOrder(song), 0);
    EXPECT_EQ(currentRow(song), 0);

    // Row 5 of order 0 names instrument 3; row 2 of order 1 instrument 1.
    bool sawThree = false, sawOne = false, sawSound = false;
    for (int64_t block = 1; block < 250; ++block) {
        hearBlock(block);
        int32_t order = currentOrder(song), row = currentRow(song);
        EXPECT_EQ(rowUsesInstrument(3), order == 0 && row == 5 ? 1 : 0) << block;
        EXPECT_EQ(rowUsesInstrument(1), order == 1 && row == 2 ? 1 : 0) << block;
        sawThree |= rowUsesInstrument(3) == 1;
        sawOne |= rowUsesInstrument(1) == 1;
    }
    const int16_t* ring = virtualRing();
    for (int32_t i = 0; i < 2 * ringFrames; ++i) sawSound |= ring[i] != 0;
    EXPECT_TRUE(sawThree);
    EXPECT_TRUE(sawOne);
    EXPECT_TRUE(sawSound);
    setSyncSong(nullptr);
    EXPECT_TRUE(freeSong(song));
    EXPECT_EQ(syncRecords, nullptr);
}
