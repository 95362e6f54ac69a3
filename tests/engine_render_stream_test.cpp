// velmora-render writes the ring in large pieces; what it writes must be the very
// stream the player renders block after block (here in this process, over the same
// loader, engine, mixer and virtual wave output), for renders of several seconds
// that end in the middle of a block, by length or at the song's end.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "audio/output.h"
#include "audio/waveout_virtual.h"
#include "music/loader.h"
#include "music/module_source.h"
#include "music/song.h"
#include "tools/xmwriter/xm_writer.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> moduleBytes;

void* openBytes(const char*) {
    return openMemoryFile(moduleBytes.data(), static_cast<int32_t>(moduleBytes.size()));
}

// The first `frames` frames of the module as the player renders them, one block at
// a time, as little-endian 16-bit stereo.
std::string playerStream(int64_t frames) {
    registerFileCallbacks(openBytes, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    setMixingThreadEnabled(false);
    if (!openSoundOutput(44100)) return {};
    Song* song = loadSong(nullptr);
    if (!song) return {};
    playSong(song);
    std::string stream;
    int32_t block = 0;
    while (static_cast<int64_t>(stream.size()) < frames * 4) {
        const int16_t* samples = virtualRing() + size_t(block) * blockFrames * 2;
        for (int32_t i = 0; i < 2 * blockFrames; ++i) {
            auto value = static_cast<uint16_t>(samples[i]);
            stream.push_back(static_cast<char>(value & 0xFF));
            stream.push_back(static_cast<char>(value >> 8));
        }
        advanceVirtualPosition(uint64_t(blockFrames) * 4);
        pollOutputOnce();
        block = (block + 1) % blockCount;
    }
    freeSong(song);
    closeSoundOutput();
    stream.resize(size_t(frames) * 4);
    return stream;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Four channels at speed 1 (882 frames a row): a note on every fifth row of each
// channel, looping and one-shot instruments; one pattern of `rows` rows.
XmModule busySong(int rows) {
    XmModule m;
    m.channelCount = 4;
    m.defaultSpeed = 1;
    for (int i = 0; i < 2; ++i) {
        XmSample& s = m.instruments.emplace_back().samples.emplace_back();
        s.sixteenBit = true;
        for (int k = 0; k < 3000; ++k)
            s.data.push_back(static_cast<int16_t>((k * 7919 % 20000) - 10000));
        s.loop = i == 0 ? XmLoop::forward : XmLoop::none;
        s.loopStart = 500;
        s.loopLength = 2000;
    }
    XmPattern& p = m.patterns.emplace_back(xmPattern(rows, 4));
    for (int row = 0; row < rows; ++row)
        for (int c = 0; c < 4; ++c)
            if ((row + c) % 5 == 0)
                xmCell(p, 4, row, c) = {static_cast<uint8_t>(30 + (row * 3 + c * 7) % 50),
                                        static_cast<uint8_t>(1 + c % 2), 0, 0, 0};
    m.orders = {0};
    return m;
}

} // namespace

TEST(RenderToolStream, LongRendersAreThePlayersStream) {
    std::string name = (fs::temp_directory_path() / "velmora-stream-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    fs::path dir = name;
    // 150 rows: 132300 frames, past two half-rings and ending inside a block.
    XmModule m = busySong(150);
    moduleBytes = writeXm(m);
    {
        std::ofstream(dir / "song.xm", std::ios::binary)
            .write(reinterpret_cast<const char*>(moduleBytes.data()),
                   static_cast<std::streamsize>(moduleBytes.size()));
    }
    auto render = [&](const std::string& arguments) {
        int raw = std::system(
            ("timeout -k 5 60 " RENDER_TOOL " " + arguments + " >/dev/null 2>&1").c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    std::string song = (dir / "song.xm").string();
    ASSERT_EQ(render(song + " " + (dir / "pass.wav").string()), 0);
    ASSERT_EQ(render("--seconds 4.1 " + song + " " + (dir / "fixed.wav").string()), 0);
    std::string pass = slurp(dir / "pass.wav"), fixed = slurp(dir / "fixed.wav");
    fs::remove_all(dir);

    const int64_t passFrames = 150 * 882, fixedFrames = 180810; // 4.1 s
    ASSERT_EQ(pass.size(), 44 + size_t(passFrames) * 4);
    ASSERT_EQ(fixed.size(), 44 + size_t(fixedFrames) * 4);
    std::string stream = playerStream(fixedFrames);
    ASSERT_EQ(stream.size(), size_t(fixedFrames) * 4);
    EXPECT_NE(stream.find_first_not_of('\0'), std::string::npos);
    EXPECT_TRUE(pass.compare(44, std::string::npos, stream, 0, size_t(passFrames) * 4) == 0);
    EXPECT_TRUE(fixed.compare(44, std::string::npos, stream) == 0);
}
