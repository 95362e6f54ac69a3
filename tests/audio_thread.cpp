// The mixing thread over the virtual wave output: it follows the play position while
// another thread asks the sync queries, stops and restarts at any moment (also under
// the loader's freeSong), and never allocates memory while rendering.
#include "app/memory.h"
#include "audio/sync.h"
#include "audio/waveout_virtual.h"
#include "audio_support.h"
#include "music/loader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

using namespace audiotest;

// Allocations on any thread but the test's own are counted: operator new is replaced,
// allocBlock and allocArray are wrapped at link time (--wrap).
namespace {
std::atomic<bool> counting{false};
std::atomic<int> foreignAllocations{0};
std::thread::id testThread = std::this_thread::get_id();
void noteAllocation() {
    if (counting && std::this_thread::get_id() != testThread) ++foreignAllocations;
}
} // namespace

// Out of line, so that the compiler does not pair the malloc and free across them.
[[gnu::noinline]] void* operator new(std::size_t size) {
    noteAllocation();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

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

// The test's song engine: a row every 3 ticks, and a new gain for voice 0 at every
// tick so that ramps run all the time.
std::unique_ptr<OwnedSample> tone = makeSample(line(4000, -8000, 4), 2, 0, 4000);
std::atomic<int64_t> ticks{0};
void ticker(Song* song) {
    int64_t tick = ticks++;
    if (tick == 0) startVoice(0, &tone->sample, 0.0, 1.25, 200, 100);
    mixChannels[0].leftVolume = static_cast<int32_t>(tick % 128);
    song->row = static_cast<int32_t>(tick / 3 % 64);
}

// Plays `blocks` blocks one after the other, waiting each time for the thread.
bool playBlocks(int32_t blocks) {
    for (int32_t b = 0; b < blocks; ++b) {
        int32_t next = (heardBlock.load() + 1) % blockCount;
        advanceVirtualPosition(uint64_t(blockFrames) * 4);
        if (!waitFor([next] { return heardBlock.load() == next; })) return false;
    }
    return true;
}

struct MixingThread : ::testing::Test {
    void SetUp() override {
        ticks = 0;
        ASSERT_TRUE(openOutput(44100, true));
    }
    void TearDown() override { closeSoundOutput(); }
    std::unique_ptr<Song> song = makeSong(ticker, 125, 3);
};

} // namespace

TEST_F(MixingThread, FollowsThePositionWhileQueriesRun) {
    int32_t requests = virtualPriorityRequests();
    ASSERT_TRUE(playSong(song.get()));
    setSyncSong(song.get());
    std::atomic<bool> reading{true};
    std::atomic<int> badRows{0};
    std::thread reader([&] { // as the render thread does every frame
        while (reading) {
            int32_t row = currentRow(song.get());
            badRows += row < 0 || row > 63;
            (void)currentOrder(song.get());
            (void)rowUsesInstrument(1);
        }
    });
    EXPECT_TRUE(playBlocks(120));
    advanceVirtualPosition(30 * 884 * 4); // jump ahead: the thread catches up
    EXPECT_TRUE(waitFor([] { return heardBlock.load() == 50; }));
    reading = false;
    reader.join();
    setSyncSong(nullptr);
    EXPECT_EQ(badRows.load(), 0);
    EXPECT_GT(virtualPriorityRequests(), requests);
    EXPECT_TRUE(stopSong(song.get()));
    EXPECT_EQ(threadExited.load(), 1);
    EXPECT_EQ(writeBlock, 50);
}

TEST_F(MixingThread, StopsAndRestartsAtAnyMoment) {
    for (int round = 0; round < 4; ++round) { // before the thread has even begun
        ASSERT_TRUE(playSong(song.get()));
        EXPECT_TRUE(stopSong(song.get()));
    }
    setVirtualPriorityRefused(true); // the thread goes on without a higher priority
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(playSong(song.get())); // stops the running thread first
        EXPECT_TRUE(playBlocks(10));
    }
    setVirtualPriorityRefused(false);

    // freeSong stops a thread that is rendering and only then releases the song.
    EXPECT_TRUE(stopSong(song.get()));
    auto* owned = static_cast<Song*>(allocBlock(sizeof(Song)));
    *owned = *song;
    ASSERT_TRUE(playSong(owned));
    std::atomic<bool> moving{true};
    std::thread player([&] {
        while (moving)
            advanceVirtualPosition(884 * 4 * 3);
    });
    EXPECT_TRUE(waitFor([] { return ticks > 2000; }));
    EXPECT_TRUE(freeSong(owned));
    EXPECT_EQ(threadExited.load(), 1);
    EXPECT_EQ(syncRecords, nullptr);
    moving = false;
    player.join();
}

TEST(MixingThreadExit, ExitingWhilePlayingEndsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ASSERT_TRUE(openOutput(44100, true));
            static auto song = makeSong(ticker);
            ASSERT_TRUE(playSong(song.get()));
            std::exit(3); // as when the X server goes away, without stopping the song
        },
        ::testing::ExitedWithCode(3), "");
}

TEST_F(MixingThread, RendersWithoutAllocating) {
    counting = true;
    std::thread([] { // the counter does see other threads
        freeBlock(allocBlock(16));
        int* volatile kept = new int(1);
        delete kept;
    })
        .join();
    EXPECT_EQ(foreignAllocations.exchange(0), 2);
    ASSERT_TRUE(playSong(song.get()));
    int64_t before = ticks;
    EXPECT_TRUE(playBlocks(150));
    EXPECT_GT(ticks, before + 100);
    EXPECT_TRUE(stopSong(song.get()));
    counting = false;
    EXPECT_EQ(foreignAllocations.load(), 0);
}
