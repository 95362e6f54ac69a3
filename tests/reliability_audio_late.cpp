// The device more than a ring ahead of the mixing thread: its position leaping forward
// (a starved or suspended process), or the thread held up inside a render. The thread
// must catch up to the block being played, heardBlock and the sync records must stay
// inside their tables for the reads going on all along, and the health counters must
// tell of the overrun. The embedded module over the virtual wave output; also run
// under ThreadSanitizer.
#include "audio/output.h"
#include "audio/waveout_virtual.h"
#include "music/loader.h"
#include "music/module_source.h"
#include "music/song.h"
#include "music/tick_processing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Polls `done` for up to ten seconds, reading the heard position as the visuals do.
template <class Done> bool waitWhileReading(Done done, int32_t* badReads) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        const int32_t heard = heardBlock.load(std::memory_order_acquire);
        if (heard < 0 || heard >= blockCount) ++*badReads;
        SyncRecord record{};
        if (!heardSyncRecord(&record)) ++*badReads;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

int32_t playingBlock(uint64_t bytes) {
    return int32_t((bytes / 4) % uint64_t(ringFrames)) / blockFrames;
}

// heardBlock moves on before its block is rendered: followed once no render runs.
bool followed(int32_t block) {
    return heardBlock.load() == block && !mixingThreadRendering();
}

// Armed, the next tick holds the mixing thread until released.
std::atomic<bool> holdArmed{false}, holding{false}, released{false};

void holdingTick(Song* song) {
    if (holdArmed.exchange(false)) {
        holding.store(true);
        while (!released.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        holding.store(false);
    }
    advanceSong(song);
}

struct Playing {
    Song* song = nullptr;
    uint64_t position = 0;

    Playing() {
        registerFileCallbacks(openModuleFile, closeModuleFile, readModuleFile, seekModuleFile,
                              tellModuleFile);
        EXPECT_TRUE(openSoundOutput(44100));
        song = loadSong(nullptr);
        EXPECT_NE(song, nullptr);
        if (!song) return;
        song->tickHandler = holdingTick;
        setMixingThreadEnabled(true);
        EXPECT_TRUE(playSong(song));
    }
    ~Playing() {
        holdArmed.store(false);
        released.store(true);
        freeSong(song);
        closeSoundOutput();
    }
    // Moves the device and waits (reading) until the thread has followed it.
    bool moveTo(uint64_t bytes, int32_t* badReads) {
        setVirtualPosition(position = bytes);
        const int32_t target = playingBlock(bytes);
        return waitWhileReading([&] { return followed(target); }, badReads);
    }
    bool playBlocks(int32_t blocks, int32_t* badReads) {
        for (int32_t i = 0; i < blocks; ++i)
            if (!moveTo(position + uint64_t(blockFrames) * 4, badReads)) return false;
        return true;
    }
};

int32_t heardElapsedMs() {
    SyncRecord record{};
    return heardSyncRecord(&record) ? record.elapsedMs : -1;
}

TEST(OutputFallsBehind, DeviceLeapingMoreThanARingAhead) {
    Playing play;
    ASSERT_NE(play.song, nullptr);
    int32_t badReads = 0;
    ASSERT_TRUE(play.playBlocks(5, &badReads));
    const OutputHealth before = outputHealth();
    const int32_t elapsedBefore = heardElapsedMs();
    const int32_t heardBefore = heardBlock.load();

    // Two and a half rings at once, to a position inside a frame (an odd byte count):
    // the thread renders up to the block being played and no further.
    const uint64_t leap = uint64_t(ringFrames) * 10 + uint64_t(blockFrames) * 12 + 7;
    ASSERT_TRUE(play.moveTo(play.position + leap, &badReads));
    const int32_t target = playingBlock(play.position);
    const OutputHealth after = outputHealth();
    EXPECT_EQ(after.ringOverruns, before.ringOverruns + 1);
    EXPECT_LE(after.longestCatchUp, blockCount - 1);
    EXPECT_GT(after.longestCatchUp, 0);
    EXPECT_EQ(after.shortestLeadFrames, 0); // an overrun leaves nothing ahead
    // Exactly the blocks from the last one rendered up to the one being played.
    EXPECT_EQ(after.blocksRendered - before.blocksRendered,
              uint64_t((target - heardBefore + blockCount) % blockCount));
    // The records go on from where the song was: the skipped audio is simply lost.
    EXPECT_GT(heardElapsedMs(), elapsedBefore);

    // Then the device plays on normally and the thread keeps a ring ahead again.
    ASSERT_TRUE(play.playBlocks(3, &badReads));
    EXPECT_EQ(outputHealth().ringOverruns, after.ringOverruns);

    // A position far beyond 32 bits, and one going back (a device restarted under the
    // player): the block index stays inside the ring either way.
    for (uint64_t bytes : {(uint64_t(1) << 40) + 5, uint64_t(blockFrames) * 4 * 2})
        ASSERT_TRUE(play.moveTo(bytes, &badReads));
    EXPECT_EQ(badReads, 0);
}

TEST(OutputFallsBehind, MixingThreadHeldUpInsideARender) {
    Playing play;
    ASSERT_NE(play.song, nullptr);
    int32_t badReads = 0;
    ASSERT_TRUE(play.playBlocks(2, &badReads));
    const OutputHealth before = outputHealth();

    // The next tick holds the thread inside a render (with `rendering` set) while the
    // device plays more than three rings.
    released.store(false);
    holdArmed.store(true);
    setVirtualPosition(play.position += uint64_t(blockFrames) * 4 * 20);
    ASSERT_TRUE(waitWhileReading([] { return holding.load(); }, &badReads));
    EXPECT_TRUE(mixingThreadRendering());
    for (int32_t ring = 0; ring < 3; ++ring) {
        setVirtualPosition(play.position += uint64_t(ringFrames) * 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Released, it finishes the interrupted catch-up, then finds the device a ring
    // ahead at its next poll and renders up to the block being played.
    setVirtualPosition(play.position += uint64_t(blockFrames) * 4 * 7);
    released.store(true);
    ASSERT_TRUE(play.moveTo(play.position, &badReads));
    const OutputHealth after = outputHealth();
    EXPECT_GE(after.ringOverruns, before.ringOverruns + 1);
    EXPECT_LE(after.longestCatchUp, blockCount - 1);
    ASSERT_TRUE(play.playBlocks(4, &badReads));
    EXPECT_EQ(badReads, 0);
}

} // namespace
