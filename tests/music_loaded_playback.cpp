// A loaded module played by the mixing thread over the virtual wave output, then
// released with freeSong while the thread runs: the thread is stopped before any of
// the song's memory goes (ASan and TSan see a late release), and a failed load
// meanwhile leaves the playing song alone.
#include "audio/output.h"
#include "audio/waveout_virtual.h"
#include "music_loader_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

TEST(LoadedPlayback, FreeSongStopsTheThreadBeforeReleasing) {
    loadertest::serve(writeXm(loadertest::richModule()));
    ASSERT_TRUE(openSoundOutput(44100));
    Song* song = loadSong(nullptr);
    ASSERT_NE(song, nullptr);
    ASSERT_TRUE(playSong(song));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (threadExited.load() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(threadExited.load(), 0);

    // A module that fails to load while the song plays does not disturb it.
    std::vector<uint8_t> bad = writeXm(loadertest::richModule());
    bad[0] = 'X';
    EXPECT_EQ(loadertest::loadBytes(bad), nullptr);
    EXPECT_EQ(threadExited.load(), 0);

    // Keep the thread rendering blocks while the song is freed.
    for (int i = 0; i < 40; ++i) {
        advanceVirtualPosition(884 * 4 * 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(freeSong(song));
    EXPECT_EQ(threadExited.load(), 1);
    EXPECT_EQ(rendering.load(), 0);
    closeSoundOutput();
}

} // namespace
