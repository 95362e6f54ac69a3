// The block ring over the virtual wave output, driven without the mixing thread
// (sizes, tempo, prefill, ticks on exact frames, heardBlock following the play
// position, stop and restart), and the sync queries on top of it.
#include "audio/sync.h"
#include "audio/waveout_virtual.h"
#include "audio_support.h"

#include <gtest/gtest.h>

using namespace audiotest;

namespace {

// The test's song engine: rows advance every `speed` ticks through 64-row patterns.
// Voice 0 counts frames (a silent sample at step 1 from the first tick), so its
// position at a tick tells where in the stream the tick fell; voice 1 plays a
// constant 1000 at full gain. One tick may change the tempo.
std::unique_ptr<OwnedSample> counter, loud;
std::vector<uint32_t> tickFrames;
std::vector<int32_t> tickBlocks;
int32_t tempoTick = -1, tempoThen = 0;

void ticker(Song* song) {
    auto tick = static_cast<int32_t>(tickFrames.size());
    if (tick == 0) {
        startVoice(0, &counter->sample, 0.0, 1.0, 0, 0);
        startVoice(1, &loud->sample, 0.0, 1.0, 255, 255);
    }
    tickFrames.push_back(mixChannels[0].position);
    tickBlocks.push_back(writeBlock);
    song->row = tick / song->speed % 64;
    song->orderPosition = tick / song->speed / 64 % song->songLength;
    if (tick == tempoTick) setTempo(song, tempoThen);
}

struct Ring : ::testing::Test {
    void SetUp() override {
        counter = makeSample(std::vector<int16_t>(1 << 20));
        loud = makeSample(std::vector<int16_t>(64, 1000), 2, 0, 64);
        tickFrames.clear();
        tickBlocks.clear();
        tempoTick = -1;
        ASSERT_TRUE(openOutput(44100));
        song = makeSong(ticker, 125, 1);
    }
    void TearDown() override {
        closeSoundOutput();
        setSyncSong(nullptr);
    }
    void playTo(uint64_t frames) {
        setVirtualPosition(frames * 4);
        pollOutputOnce();
    }
    int32_t ringSamplesOtherThan(int16_t value) {
        int32_t count = 0;
        for (int32_t i = 0; i < 2 * ringFrames; ++i)
            count += virtualRing()[i] != value;
        return count;
    }
    std::unique_ptr<Song> song;
};

int32_t lastTickBefore(int64_t frame) {
    return static_cast<int32_t>((frame + 881) / 882 - 1);
}

} // namespace

TEST(OutputSetup, SizesTempoAndFailures) {
    const int32_t sizes[][5] = {{44100, 884, 88400, 100, 128}, {48000, 960, 96000, 100, 139}};
    for (const auto& s : sizes) {
        mixChannels[7].volume = 99;
        ASSERT_TRUE(openOutput(s[0]));
        EXPECT_EQ(blockFrames, s[1]);
        EXPECT_EQ(ringFrames, s[2]);
        EXPECT_EQ(blockCount, s[3]);
        EXPECT_EQ(rampLength, s[4]);
        EXPECT_EQ(mixChannels[7].volume, 0);
        EXPECT_EQ(mixChannels[7].step, 1);
        EXPECT_EQ(mixChannels[255].number, 255);
    }
    auto song = makeSong(nullptr);
    ASSERT_TRUE(openOutput(44100));
    // Tempo, frames a tick.
    const int32_t tempos[] = {125,  882, 68,  1621, 130,    848,     32,
                              3445, 255, 432, 0,    110250, 1000000, 1};
    for (size_t i = 0; i < std::size(tempos); i += 2) {
        const int32_t tempo = tempos[i], frames = tempos[i + 1];
        setTempo(song.get(), tempo);
        EXPECT_EQ(song->tempo, tempo);
        EXPECT_EQ(song->samplesPerTick, frames) << tempo;
    }

    // No sound device, a missing file callback, a rate nothing plays: no output.
    setVirtualOpenFails(true);
    EXPECT_FALSE(openOutput(44100));
    setVirtualOpenFails(false);
    EXPECT_FALSE(playSong(song.get()));
    registerFileCallbacks(openModuleFile, closeModuleFile, nullptr, seekModuleFile, tellModuleFile);
    EXPECT_FALSE(openSoundOutput(44100));
    EXPECT_FALSE(openOutput(999));
    EXPECT_FALSE(virtualOutputOpen());
}

TEST_F(Ring, PrefillPutsTicksOnExactFrames) {
    ASSERT_TRUE(playSong(song.get()));
    EXPECT_EQ(writeBlock, 0);
    EXPECT_EQ(heardBlock.load(), 0);
    // 882 frames a tick across blocks of 884: block 1 mixes the 880 frames left of
    // tick 1, then tick 2 comes 4 frames before its end.
    ASSERT_EQ(tickFrames.size(), 101u);
    for (uint32_t t = 0; t < 101; ++t)
        EXPECT_EQ(tickFrames[t], 882 * t);
    EXPECT_EQ(tickBlocks[1], 0);
    EXPECT_EQ(tickBlocks[2], 1);
    EXPECT_EQ(song->samplesToNextTick, 101 * 882 - 88400);
    for (int32_t b = 0; b < 100; ++b)
        EXPECT_EQ(syncRecords[b].row, lastTickBefore((b + 1) * 884) % 64);
    EXPECT_EQ(syncRecords[0].elapsedMs, 20);
    EXPECT_EQ(syncRecords[1].elapsedMs, 40);
    EXPECT_EQ(syncRecords[99].elapsedMs, 2005); // each piece rounded to whole milliseconds
    EXPECT_EQ(ringSamplesOtherThan(1000), 0);

    // A tempo change made by a tick shapes the very next piece.
    tickFrames.clear();
    tempoTick = 1;
    tempoThen = 68;
    ASSERT_TRUE(playSong(song.get()));
    EXPECT_EQ(tickFrames[2], 882u + 1621u);
    EXPECT_EQ(tickFrames[3], 882u + 2 * 1621u);
}

TEST_F(Ring, HeardBlockFollowsThePlayPosition) {
    ASSERT_TRUE(playSong(song.get()));
    const int16_t* ring = virtualRing();
    playTo(883);
    EXPECT_EQ(writeBlock, 0);
    playTo(3 * 884 + 10); // blocks 0..2 played: rendered again, two seconds on
    EXPECT_EQ(heardBlock.load(), 3);
    EXPECT_EQ(writeBlock, 3);
    EXPECT_EQ(syncRecords[2].row, lastTickBefore(103 * 884) % 64);
    EXPECT_EQ(currentRow(song.get()), syncRecords[3].row);
    playTo(88400 + 884); // the position counts on across the end of the ring
    EXPECT_EQ(heardBlock.load(), 1);
    EXPECT_EQ(tickFrames.back(), 882u * (tickFrames.size() - 1));
    size_t ticks = tickFrames.size();
    playTo(3 * 88400 + 5 * 884); // more than a ring behind: the skipped music is lost
    EXPECT_EQ(heardBlock.load(), 5);
    EXPECT_LT(tickFrames.size() - ticks, 6u);
    EXPECT_EQ(ringSamplesOtherThan(1000), 0);

    // Null songs and a song not playing leave the playback alone.
    auto other = makeSong(ticker);
    EXPECT_FALSE(playSong(nullptr));
    EXPECT_FALSE(stopSong(nullptr));
    EXPECT_TRUE(stopSong(other.get()));
    EXPECT_EQ(virtualRing(), ring);
    // Stopping releases the ring; a second play starts again on a fresh one.
    EXPECT_TRUE(stopSong(song.get()));
    EXPECT_EQ(syncRecords, nullptr);
    EXPECT_FALSE(virtualOutputPlaying());
    pollOutputOnce();
    tickFrames.clear();
    song->globalVolumeSlideMemory = 0x21; // left by the first play's H effects
    ASSERT_TRUE(playSong(song.get()));
    EXPECT_EQ(song->globalVolumeSlideMemory, 0);
    EXPECT_EQ(tickFrames.size(), 101u);
    EXPECT_EQ(syncRecords[0].elapsedMs, 20);
    closeSoundOutput(); // stops the playing song first
    EXPECT_EQ(syncRecords, nullptr);
}

TEST_F(Ring, SyncQueriesAnswerFromTheHeardBlock) {
    // Order 1, 0; pattern 1 names instrument 3 on row 5 in channel 2 only, pattern 0
    // names instrument 4 there.
    std::vector<PatternCell> cells[2] = {std::vector<PatternCell>(256),
                                         std::vector<PatternCell>(256)};
    Pattern patterns[2] = {{64, cells[0].data()}, {64, cells[1].data()}};
    cells[1][5 * 4 + 2].instrument = 3;
    cells[0][5 * 4 + 2].instrument = 4;
    song = makeSong(ticker, 68, 4); // 1621 frames a tick: a row every 7.3 blocks
    song->patterns = patterns;
    song->patternCount = 2;
    song->songLength = 2;
    song->orderTable[0] = 1;
    setSyncSong(song.get());
    EXPECT_EQ(rowUsesInstrument(3), 0); // nothing plays yet
    ASSERT_TRUE(playSong(song.get()));
    EXPECT_EQ(currentOrder(song.get()), 0);
    EXPECT_EQ(currentRow(song.get()), 0);
    EXPECT_EQ(elapsedTime(song.get()), 20);

    int heardThree = 0, heardFour = 0;
    for (int64_t block = 1; block < 900; ++block) {
        playTo(block * 884);
        int32_t order = currentOrder(song.get()), row = currentRow(song.get());
        heardThree += rowUsesInstrument(3);
        heardFour += rowUsesInstrument(4);
        EXPECT_EQ(rowUsesInstrument(3), int(row == 5 && order == 0)) << block;
        EXPECT_EQ(rowUsesInstrument(4), int(row == 5 && order == 1)) << block;
        EXPECT_EQ(rowUsesInstrument(0), 0);
    }
    EXPECT_GE(heardThree, 7);
    EXPECT_GE(heardFour, 7);
    EXPECT_EQ(currentRow(nullptr), 0);
    EXPECT_EQ(elapsedTime(nullptr), 0);
    stopSong(song.get());
    EXPECT_EQ(currentOrder(song.get()), 0);
    EXPECT_EQ(rowUsesInstrument(4), 0);
}
