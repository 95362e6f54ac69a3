// The mixing thread over the virtual wave output: it follows the play position,
// answers the sync queries from another thread without locks, stops and restarts
// cleanly (also straight after starting, and under a concurrent freeSong), and
// never allocates memory while rendering.
#include "app/memory.h"
#include "audio/output.h"
#include "audio/sync.h"
#include "audio/waveout_virtual.h"
#include "audio_support.h"
#include "music/loader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <new>
#include <thread>
#include <vector>

using namespace audiotest;

// ---- Allocation counting ----
// Every allocation made on a thread other than the test's main thread is counted:
// operator new is replaced, and allocBlock / allocArray are wrapped at link time.
namespace {
std::atomic<bool> countingOn{false};
std::atomic<int> foreignAllocations{0};
std::thread::id mainThread;

void noteAllocation() {
    if (countingOn.load(std::memory_order_relaxed) && std::this_thread::get_id() != mainThread)
        foreignAllocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

void* operator new(std::size_t size) {
    noteAllocation();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

extern "C" {
void* __real__Z10allocBlocki(int32_t size);
void* __real__Z10allocArrayii(int32_t count, int32_t size);
void* __wrap__Z10allocBlocki(int32_t size) {
    noteAllocation();
    return __real__Z10allocBlocki(size);
}
void* __wrap__Z10allocArrayii(int32_t count, int32_t size) {
    noteAllocation();
    return __real__Z10allocArrayii(count, size);
}
}

namespace {

// ---- A stand-in for the song engine ----
// Rows advance every `speed` ticks through 64-row patterns; every tick gives voice 0
// a new gain, so ramps run all the time.
std::unique_ptr<OwnedSample> tone;
std::atomic<int64_t> ticksSeen{0};

void rowTicker(Song* song) {
    int64_t tick = ticksSeen.fetch_add(1, std::memory_order_relaxed);
    if (tick == 0) startVoice(0, &tone->sample, 0.0, 1.25, 200, 100);
    mixChannels[0].leftVolume = static_cast<int32_t>(tick % 128);
    int64_t row = tick / song->speed;
    song->row = static_cast<int32_t>(row % 64);
    song->orderPosition = static_cast<int32_t>(row / 64);
}

bool waitFor(const std::function<bool()>& condition, int milliseconds = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

class MixingThread : public ::testing::Test {
  protected:
    void SetUp() override {
        mainThread = std::this_thread::get_id();
        std::vector<int16_t> wave(4000);
        for (size_t i = 0; i < wave.size(); ++i) wave[i] = static_cast<int16_t>((i % 200) * 50);
        tone = makeSample(wave, 2, 0, 4000);
        ticksSeen = 0;
        setVirtualPriorityRefused(false);
        ASSERT_TRUE(openOutput(44100, true));
        song = makeSong(rowTicker, 125, 3);
    }
    void TearDown() override {
        stopSong(song.get());
        closeSoundOutput();
        silenceAllVoices();
        setMixingThreadEnabled(true);
    }
    std::unique_ptr<Song> song;
};

} // namespace

TEST_F(MixingThread, FollowsThePlayPositionWhileQueriesRun) {
    int32_t requests = virtualPriorityRequests();
    ASSERT_TRUE(playSong(song.get()));
    setSyncSong(song.get());
    EXPECT_TRUE(waitFor([] { return threadExited.load() == 0; }));
    EXPECT_TRUE(waitFor([&] { return virtualPriorityRequests() > requests; }));

    // A reader asks the queries all the while, as the render thread does each frame.
    std::atomic<bool> reading{true};
    std::atomic<int> badRows{0};
    std::thread reader([&] {
        while (reading.load()) {
            int32_t row = currentRow(song.get());
            if (row < 0 || row > 63) badRows.fetch_add(1);
            (void)currentOrder(song.get());
            (void)elapsedTime(song.get());
            (void)rowUsesInstrument(1);
        }
    });

    // Play half a ring, a block at a time, then jump ahead.
    for (int32_t b = 1; b <= 50; ++b) {
        advanceVirtualPosition(884 * 4);
        ASSERT_TRUE(waitFor([b] { return heardBlock.load() == b; })) << "block " << b;
    }
    advanceVirtualPosition(60 * 884 * 4); // block 110 = block 10 of the next pass
    EXPECT_TRUE(waitFor([] { return heardBlock.load() == 10; }));
    reading = false;
    reader.join();
    EXPECT_EQ(badRows.load(), 0);

    EXPECT_TRUE(stopSong(song.get()));
    EXPECT_EQ(threadExited.load(), 1);
    EXPECT_EQ(rendering.load(), 0);
    EXPECT_EQ(writeBlock, 10);
    EXPECT_FALSE(mixingThreadRendering());
    EXPECT_EQ(currentRow(song.get()), 0);
    setSyncSong(nullptr);
}

TEST_F(MixingThread, StopsAndRestartsAtAnyMoment) {
    // Stopping straight after starting, before the thread has run at all.
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(playSong(song.get()));
        EXPECT_TRUE(stopSong(song.get()));
        EXPECT_EQ(syncRecords, nullptr);
    }
    // Restarting while the thread renders, with a refused priority this time.
    setVirtualPriorityRefused(true);
    for (int round = 0; round < 3; ++round) {
        ticksSeen = 0;
        ASSERT_TRUE(playSong(song.get()));
        EXPECT_EQ(writeBlock, 0);
        advanceVirtualPosition(20 * 884 * 4);
        EXPECT_TRUE(waitFor([] { return heardBlock.load() == 20; }));
    }
    // playSong stops the running thread itself; closing stops it too.
    closeSoundOutput();
    EXPECT_EQ(threadExited.load(), 1);
    EXPECT_FALSE(virtualOutputOpen());
}

TEST_F(MixingThread, FreeSongWaitsForTheRenderingBlock) {
    // A song the loader's freeSong can release: allocated by allocBlock, no patterns.
    auto* owned = static_cast<Song*>(allocBlock(sizeof(Song)));
    *owned = *song;
    ASSERT_TRUE(playSong(owned));
    std::atomic<bool> moving{true};
    std::thread player([&] {
        while (moving.load()) {
            advanceVirtualPosition(884 * 4);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_TRUE(waitFor([] { return ticksSeen.load() > 150; }));
    EXPECT_TRUE(freeSong(owned));
    EXPECT_EQ(threadExited.load(), 1);
    EXPECT_EQ(syncRecords, nullptr);
    moving = false;
    player.join();
}

TEST_F(MixingThread, RendersWithoutAllocating) {
    // The counter sees allocations made on other threads.
    countingOn = true;
    std::thread([] { delete new int(1); }).join();
    EXPECT_EQ(foreignAllocations.exchange(0), 1);

    ASSERT_TRUE(playSong(song.get()));
    EXPECT_TRUE(waitFor([] { return threadExited.load() == 0; }));
    int64_t ticksBefore = ticksSeen.load();
    for (int32_t b = 1; b <= 150; ++b) {
        advanceVirtualPosition(884 * 4);
        int32_t expected = b % 100;
        ASSERT_TRUE(waitFor([expected] { return heardBlock.load() == expected; }));
    }
    EXPECT_GT(ticksSeen.load(), ticksBefore + 100);
    EXPECT_TRUE(stopSong(song.get()));
    countingOn = false;
    EXPECT_EQ(foreignAllocations.load(), 0);
}
