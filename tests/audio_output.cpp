// The block ring over the virtual wave output, driven without the mixing thread:
// sizes, tempo, the prefill, ticks on exact frame boundaries, heardBlock following
// the play position, stopping and restarting.
#include "audio/output.h"
#include "audio/sync.h"
#include "audio/waveout_virtual.h"
#include "audio_support.h"

#include <gtest/gtest.h>

#include <vector>

using namespace audiotest;

namespace {

// ---- A tick handler that logs where in the stream each tick falls ----
// Voice 0 plays a silent sample at step 1 from frame 0, so its position at a tick
// is the number of frames mixed before that tick. Voice 1 plays a constant 1000 at
// full gain. The row is the tick's number, the order the tick number / 256.
std::unique_ptr<OwnedSample> counterSample, loudSample;
std::vector<uint32_t> tickFrames;
std::vector<int32_t> tickBlocks;
int32_t tempoChangeAtTick = -1;
int32_t newTempo = 0;

void loggingTicker(Song* song) {
    int32_t tick = static_cast<int32_t>(tickFrames.size());
    if (tick == 0) {
        startVoice(0, &counterSample->sample, 0.0, 1.0, 0, 0);
        startVoice(1, &loudSample->sample, 0.0, 1.0, 255, 255);
    }
    tickFrames.push_back(tick == 0 ? 0 : mixChannels[0].position);
    tickBlocks.push_back(writeBlock);
    song->row = tick;
    song->orderPosition = tick / 256;
    if (tick == tempoChangeAtTick) setTempo(song, newTempo);
}

class Ring : public ::testing::Test {
  protected:
    void SetUp() override {
        counterSample = makeSample(constantValues(1 << 20, 0));
        loudSample = makeSample(constantValues(64, 1000), 2, 0, 64);
        tickFrames.clear();
        tickBlocks.clear();
        tempoChangeAtTick = -1;
        setVirtualOpenFails(false);
        ASSERT_TRUE(openOutput(44100));
        song = makeSong(loggingTicker, 125);
    }
    void TearDown() override {
        stopSong(song.get());
        closeSoundOutput();
        silenceAllVoices();
    }
    std::unique_ptr<Song> song;
};

void playTo(uint64_t frames) {
    setVirtualPosition(frames * 4);
    pollOutputOnce();
}

} // namespace

TEST(OutputSetup, SizesFollowTheRateAndOpeningCanFail) {
    silenceAllVoices();
    mixChannels[7].volume = 99;
    mixChannels[7].step = 5;
    ASSERT_TRUE(openOutput(44100));
    EXPECT_EQ(sampleRate, 44100);
    EXPECT_EQ(blockFrames, 884);
    EXPECT_EQ(ringFrames, 88400);
    EXPECT_EQ(blockCount, 100);
    EXPECT_EQ(rampLength, 128);
    EXPECT_EQ(inverseRampLength, 1.0f / 128);
    EXPECT_EQ(virtualOutputRate(), 44100);
    // The voices start zeroed, numbered, with a step of 1.
    EXPECT_EQ(mixChannels[7].volume, 0);
    EXPECT_EQ(mixChannels[7].step, 1);
    EXPECT_EQ(mixChannels[255].number, 255);

    ASSERT_TRUE(openOutput(48000));
    EXPECT_EQ(blockFrames, 960);
    EXPECT_EQ(ringFrames, 96000);
    EXPECT_EQ(blockCount, 100);
    EXPECT_EQ(rampLength, 139);
    ASSERT_TRUE(openOutput(22050));
    EXPECT_EQ(blockFrames, 444);
    EXPECT_EQ(ringFrames, 44400);

    // No sound device, a missing file callback, or a rate nothing can play.
    setVirtualOpenFails(true);
    EXPECT_FALSE(openOutput(44100));
    setVirtualOpenFails(false);
    auto song = makeSong(nullptr);
    EXPECT_FALSE(playSong(song.get()));
    registerFileCallbacks(openModuleFile, closeModuleFile, nullptr, seekModuleFile,
                          tellModuleFile);
    EXPECT_FALSE(openSoundOutput(44100));
    registerAppCallbacks();
    for (int32_t rate : {0, -44100, 999, 384001}) EXPECT_FALSE(openSoundOutput(rate)) << rate;
    EXPECT_FALSE(virtualOutputOpen());
    EXPECT_TRUE(openSoundOutput(44100));
    closeSoundOutput();
    EXPECT_FALSE(virtualOutputOpen());
}

TEST(OutputSetup, TempoGivesFramesPerTick) {
    ASSERT_TRUE(openOutput(44100));
    auto song = makeSong(nullptr);
    const int32_t cases[][2] = {{125, 882}, {68, 1621}, {130, 848}, {32, 3445}, {255, 432}};
    for (const auto& c : cases) {
        setTempo(song.get(), c[0]);
        EXPECT_EQ(song->tempo, c[0]);
        EXPECT_EQ(song->samplesPerTick, c[1]) << "tempo " << c[0];
    }
    // Tempos no module should hold still give a tick of at least one frame.
    setTempo(song.get(), 0);
    EXPECT_EQ(song->tempo, 0);
    EXPECT_EQ(song->samplesPerTick, 110250);
    setTempo(song.get(), 1000000);
    EXPECT_EQ(song->samplesPerTick, 1);
    setTempo(nullptr, 125);

    ASSERT_TRUE(openOutput(48000));
    setTempo(song.get(), 125);
    EXPECT_EQ(song->samplesPerTick, 960);
    closeSoundOutput();
}

TEST_F(Ring, PrefillRendersTheWholeRingWithTicksOnExactFrames) {
    ASSERT_TRUE(playSong(song.get()));
    EXPECT_EQ(writeBlock, 0);
    EXPECT_EQ(heardBlock.load(), 0);
    EXPECT_EQ(virtualRingFrames(), 88400);
    ASSERT_NE(virtualRing(), nullptr);

    // 882 frames per tick: ticks at 0, 882, 1764, ... up to the end of the ring.
    ASSERT_EQ(tickFrames.size(), 101u); // 100 * 884 / 882 rounded up
    for (size_t t = 0; t < tickFrames.size(); ++t) EXPECT_EQ(tickFrames[t], 882 * t) << t;
    // The straddle: block 0 holds tick 0 and 2 frames of tick 1; block 1 mixes the
    // 880 frames left of tick 1, then tick 2 falls 4 frames before its end.
    EXPECT_EQ(tickBlocks[1], 0);
    EXPECT_EQ(tickBlocks[2], 1);
    EXPECT_EQ(tickBlocks[3], 2);
    EXPECT_EQ(song->samplesToNextTick, 101 * 882 - 88400);

    // One record per block: the row and order reached at its end, the milliseconds mixed.
    for (int32_t b = 0; b < 100; ++b) {
        int32_t lastTick = ((b + 1) * 884 + 881) / 882 - 1;
        EXPECT_EQ(syncRecords[b].row, lastTick & 0xFF) << b;
        EXPECT_EQ(syncRecords[b].order, lastTick / 256) << b;
    }
    EXPECT_EQ(syncRecords[0].elapsedMs, 20);
    EXPECT_EQ(syncRecords[1].elapsedMs, 40);
    for (int32_t b = 1; b < 100; ++b)
        EXPECT_NEAR(syncRecords[b].elapsedMs - syncRecords[b - 1].elapsedMs, 20, 1) << b;

    // The constant voice reaches the ring converted, every frame of every block.
    const int16_t* ring = virtualRing();
    int wrong = 0;
    for (int32_t i = 0; i < 2 * 88400; ++i) wrong += ring[i] != 1000;
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(currentRow(song.get()), syncRecords[0].row);
}

TEST_F(Ring, TempoChangeAppliesToTheVeryNextPiece) {
    tempoChangeAtTick = 1;
    newTempo = 68;
    ASSERT_TRUE(playSong(song.get()));
    ASSERT_GE(tickFrames.size(), 4u);
    EXPECT_EQ(tickFrames[1], 882u);
    EXPECT_EQ(tickFrames[2], 882u + 1621u);
    EXPECT_EQ(tickFrames[3], 882u + 2 * 1621u);
    stopSong(song.get());

    // A change on the very first tick already shapes the first piece.
    tickFrames.clear();
    tickBlocks.clear();
    tempoChangeAtTick = 0;
    newTempo = 255;
    ASSERT_TRUE(playSong(song.get()));
    EXPECT_EQ(song->tempo, 255);
    EXPECT_EQ(tickFrames[1], 432u);
    EXPECT_EQ(tickFrames[2], 864u);
}

TEST_F(Ring, HeardBlockFollowsThePlayPosition) {
    ASSERT_TRUE(playSong(song.get()));
    size_t ticks = tickFrames.size();

    // Within block 0 nothing is due.
    playTo(883);
    EXPECT_EQ(writeBlock, 0);
    EXPECT_EQ(tickFrames.size(), ticks);

    // Three blocks played: each is rendered again, two seconds ahead.
    playTo(3 * 884 + 10);
    EXPECT_EQ(heardBlock.load(), 3);
    EXPECT_EQ(writeBlock, 3);
    EXPECT_GT(tickFrames.size(), ticks);
    int32_t lastTick = (103 * 884 + 881) / 882 - 1;
    EXPECT_EQ(syncRecords[2].row, lastTick & 0xFF);
    EXPECT_EQ(currentRow(song.get()), syncRecords[3].row);
    EXPECT_EQ(currentOrder(song.get()), syncRecords[3].order);
    EXPECT_EQ(elapsedTime(song.get()), syncRecords[3].elapsedMs);

    // Across the end of the ring, the position keeps counting.
    playTo(88400 + 884 + 1);
    EXPECT_EQ(heardBlock.load(), 1);
    EXPECT_EQ(writeBlock, 1);
    EXPECT_EQ(tickFrames.back(), 882u * (tickFrames.size() - 1));

    // Falling behind by more than a ring: rendering goes on only up to the block
    // being played; the skipped music is lost.
    size_t before = tickFrames.size();
    playTo(3 * 88400 + 5 * 884);
    EXPECT_EQ(heardBlock.load(), 5);
    EXPECT_EQ(writeBlock, 5);
    EXPECT_LT(tickFrames.size() - before, 6u);

    // Only what a voice produced ever reaches the ring.
    const int16_t* ring = virtualRing();
    int wrong = 0;
    for (int32_t i = 0; i < 2 * 88400; ++i) wrong += ring[i] != 1000;
    EXPECT_EQ(wrong, 0);
}

TEST_F(Ring, StopAndRestartReleaseAndRebuildTheRing) {
    auto other = makeSong(loggingTicker);
    EXPECT_FALSE(playSong(nullptr));
    EXPECT_FALSE(stopSong(nullptr));
    EXPECT_TRUE(stopSong(song.get())); // nothing playing: returns at once

    ASSERT_TRUE(playSong(song.get()));
    const int16_t* firstRing = virtualRing();
    ASSERT_NE(firstRing, nullptr);
    playTo(10 * 884);
    // Null arguments and a song that is not playing leave the playback alone.
    EXPECT_FALSE(playSong(nullptr));
    EXPECT_FALSE(stopSong(nullptr));
    EXPECT_TRUE(stopSong(other.get()));
    EXPECT_TRUE(virtualOutputPlaying());
    EXPECT_NE(syncRecords, nullptr);
    EXPECT_EQ(heardBlock.load(), 10);

    EXPECT_TRUE(stopSong(song.get()));
    EXPECT_EQ(syncRecords, nullptr);
    EXPECT_FALSE(virtualOutputPlaying());
    EXPECT_EQ(currentRow(song.get()), 0);
    pollOutputOnce(); // nothing to do while stopped
    EXPECT_TRUE(virtualOutputOpen());

    // A second play starts from the beginning on a fresh ring at position 0.
    tickFrames.clear();
    ASSERT_TRUE(playSong(song.get()));
    EXPECT_EQ(tickFrames.size(), 101u);
    EXPECT_EQ(heardBlock.load(), 0);
    EXPECT_EQ(syncRecords[0].elapsedMs, 20);
    EXPECT_TRUE(virtualOutputPlaying());

    // Playing again without a stop in between, and closing while playing.
    ASSERT_TRUE(playSong(other.get()));
    EXPECT_TRUE(stopSong(song.get()));
    EXPECT_NE(syncRecords, nullptr);
    closeSoundOutput();
    EXPECT_EQ(syncRecords, nullptr);
    EXPECT_FALSE(virtualOutputOpen());
    EXPECT_FALSE(playSong(song.get()));
}

namespace {
int32_t oddTicks = 0;
void zeroLengthTicks(Song* song) {
    ++oddTicks;
    song->samplesPerTick = oddTicks % 2 ? 0 : -7;
}
} // namespace

TEST_F(Ring, OddTickHandlersCannotStallRendering) {
    // Ticks of no length count as one frame each.
    auto strange = makeSong(zeroLengthTicks);
    ASSERT_TRUE(playSong(strange.get()));
    EXPECT_EQ(oddTicks, 88400);
    stopSong(strange.get());

    // No tick handler: the ring renders silence at the song's tempo.
    auto silent = makeSong(nullptr);
    silent->defaultTempo = -3;
    ASSERT_TRUE(playSong(silent.get()));
    const int16_t* ring = virtualRing();
    int loud = 0;
    for (int32_t i = 0; i < 2 * 88400; ++i) loud += ring[i] != 0;
    EXPECT_EQ(loud, 0);
    stopSong(silent.get());
}
