// The SDL wave output: SDL's disk driver writes exactly the bytes the device was
// given; its dummy driver plays on a timer; an unknown driver means no output.
#include "audio/waveout.h"
#include "audio_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

using namespace audiotest;

TEST(SdlWaveOutput, DeviceGetsTheRingInOrderOverAndOver) {
    auto file = std::filesystem::temp_directory_path() /
                ("velmora-audio-" + std::to_string(getpid()) + ".raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1); // faster than real time
    ASSERT_TRUE(openWaveOutput(44100));
    const int32_t frames = 3000; // every frame distinct and never silent
    std::vector<int16_t> ring(2 * frames);
    for (int32_t i = 0; i < 2 * frames; ++i)
        ring[i] = static_cast<int16_t>(i % 2 ? -i : i + 1);
    startWaveOutput(ring.data(), frames);
    EXPECT_TRUE(waitFor([] { return waveOutputPosition() >= 4 * 3000 * 4; }));
    resetWaveOutput();
    EXPECT_EQ(waveOutputPosition(), 0u);
    closeWaveOutput();

    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::filesystem::remove(file);
    std::vector<int16_t> written(bytes.size() / 2);
    std::memcpy(written.data(), bytes.data(), written.size() * 2);
    // Silence while paused, then the ring from its start, looping, then silence.
    size_t at = 0, matched = 0;
    while (at < written.size() && written[at] == 0)
        ++at;
    for (; at < written.size() && written[at] != 0; ++at, ++matched)
        ASSERT_EQ(written[at], ring[matched % ring.size()]) << matched;
    EXPECT_GE(matched, 4u * ring.size());
}

TEST(SdlWaveOutput, PlaysThroughTheMixingThreadOrFailsWithoutAnOutput) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_FALSE(openOutput(44100, true));
    auto song = makeSong(nullptr);
    EXPECT_FALSE(playSong(song.get()));

    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(openOutput(44100, true));
    ASSERT_TRUE(playSong(song.get()));
    EXPECT_TRUE(waitFor([] { return heardBlock.load() >= 5; })); // about 100 ms
    EXPECT_TRUE(stopSong(song.get()));
    EXPECT_EQ(waveOutputPosition(), 0u);
    closeSoundOutput();
    closeSoundOutput(); // harmless when closed
}
