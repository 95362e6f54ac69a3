// velmora-render as a process: modules from the XM writer render to the expected
// number of frames, identically every time and as the very stream the player renders
// block after block in this process; bad input fails with one line on stderr and
// leaves no file behind. (Output paths: tools_render_output.sh.)
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/xmwriter/xm_writer.h"
#include "tools_music_support.h"

namespace fs = std::filesystem;
using Values = std::vector<uint32_t>;

namespace {

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

uint32_t le32(const std::string& b, size_t at) {
    return uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 | uint8_t(b[at + 2]) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

class RenderTool : public ::testing::Test {
  protected:
    fs::path dir;
    std::string err; // stderr of the last run

    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "velmora-render-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        dir = name;
    }
    void TearDown() override { fs::remove_all(dir); }

    int render(const std::string& arguments) {
        fs::path errors = dir.parent_path() / (dir.filename().string() + ".err");
        int raw = std::system(
            ("timeout -k 5 60 " RENDER_TOOL " " + arguments + " >/dev/null 2>" + errors.string())
                .c_str());
        err = slurp(errors);
        fs::remove(errors);
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::string path(const std::string& name) { return (dir / name).string(); }
    std::vector<std::string> files() {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Two channels, one looping square-wave instrument, patterns of `rows` rows.
XmModule module(int speed, std::vector<int> rows) {
    XmModule m;
    m.channelCount = 2;
    m.defaultSpeed = static_cast<uint16_t>(speed);
    XmSample& s = m.instruments.emplace_back().samples.emplace_back();
    for (int i = 0; i < 64; ++i)
        s.data.push_back(i < 32 ? 100 : -100);
    s.loop = XmLoop::forward;
    s.loopLength = 64;
    for (int r : rows)
        m.patterns.push_back(xmPattern(r, 2));
    return m;
}

// Four channels at speed 1 (882 frames a row): a note on every fifth row of each
// channel, looping and one-shot 16-bit instruments; one pattern of `rows` rows.
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

TEST_F(RenderTool, RendersOnePass) {
    XmModule m = module(6, {4}); // 4 rows of 6 ticks of 882 frames, then back to the start
    m.orders = {0};
    xmCell(m.patterns[0], 2, 1, 0) = {xmNote("C-4"), 1, 0, 0, 0};
    xmCell(m.patterns[0], 2, 1, 1) = {0, 0, 0, 0x0F, 0x00}; // F00 changes nothing
    ASSERT_TRUE(saveXm(m, path("song.xm")));
    ASSERT_EQ(render(path("song.xm") + " " + path("a.wav")), 0) << err;
    std::string a = slurp(path("a.wav"));
    const uint32_t bytes = 4 * 6 * 882 * 4;
    ASSERT_EQ(a.size(), 44 + bytes);
    EXPECT_EQ(a.substr(0, 16), std::string("RIFF") + a.substr(4, 4) + "WAVEfmt ");
    EXPECT_EQ(Values({le32(a, 4), le32(a, 24), le32(a, 28), le32(a, 40)}),
              Values({36 + bytes, 44100, 44100 * 4, bytes}));
    EXPECT_NE(a.find_first_not_of('\0', 44 + 882 * 6 * 4), std::string::npos); // the note sounds

    // Speed 1: rows 0..5 of pattern 0 with a loop back to row 2 once, then 6 and 7;
    // in pattern 1 row 1 jumps back to order 0, where the pass ends: 14 rows.
    XmModule loop = module(1, {8, 4});
    loop.orders = {0, 1};
    xmCell(loop.patterns[0], 2, 2, 1) = {0, 0, 0, 0x0E, 0x60};
    xmCell(loop.patterns[0], 2, 5, 1) = {0, 0, 0, 0x0E, 0x61};
    xmCell(loop.patterns[1], 2, 1, 0) = {0, 0, 0, 0x0B, 0x00};
    ASSERT_TRUE(saveXm(loop, path("loop.xm")));
    ASSERT_EQ(render(path("loop.xm") + " " + path("loop.wav")), 0) << err;
    EXPECT_EQ(le32(slurp(path("loop.wav")), 40), 14u * 882 * 4);
    EXPECT_EQ(files(), (std::vector<std::string>{"a.wav", "loop.wav", "loop.xm", "song.xm"}));
}

TEST_F(RenderTool, LongRendersAreThePlayersStream) {
    // 150 rows: 132300 frames, past two half-rings and ending inside a block; and 4.1 s,
    // on past the song's end.
    ASSERT_TRUE(saveXm(busySong(150), path("song.xm")));
    ASSERT_EQ(render(path("song.xm") + " " + path("pass.wav")), 0) << err;
    ASSERT_EQ(render("--seconds 4.1 " + path("song.xm") + " " + path("fixed.wav")), 0) << err;
    std::string pass = slurp(path("pass.wav")), fixed = slurp(path("fixed.wav"));
    const size_t passBytes = 150 * 882 * 4, fixedBytes = 180810 * 4;
    ASSERT_EQ(pass.size(), 44 + passBytes);
    ASSERT_EQ(fixed.size(), 44 + fixedBytes);
    const musictest::Render player = musictest::renderModule(writeXm(busySong(150)), 4.1);
    ASSERT_GE(player.samples.size() * 2, fixedBytes);
    std::string stream(reinterpret_cast<const char*>(player.samples.data()), fixedBytes); // LE
    EXPECT_NE(stream.find_first_not_of('\0'), std::string::npos);
    EXPECT_TRUE(pass.compare(44, std::string::npos, stream, 0, passBytes) == 0);
    EXPECT_TRUE(fixed.compare(44, std::string::npos, stream) == 0);
}

TEST_F(RenderTool, BadInputLeavesNoFile) {
    std::ofstream(path("junk.xm")) << "This is not a module, just some text.";
    XmModule empty = module(6, {4}); // no channels: the loader refuses it
    empty.channelCount = 0;
    empty.orders = {0};
    ASSERT_TRUE(saveXm(empty, path("corrupt.xm")));
    std::ofstream(path("out.wav")) << "previous";
    for (std::string input : {"missing.xm", "junk.xm", "corrupt.xm"}) {
        EXPECT_EQ(render(path(input) + " " + path("out.wav")), 1) << input;
        EXPECT_NE(err.find(input), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    EXPECT_EQ(slurp(path("out.wav")), "previous");
    EXPECT_EQ(render(path("corrupt.xm")), 2);
    EXPECT_EQ(render("--seconds -3 " + path("corrupt.xm") + " " + path("y.wav")), 2);
    EXPECT_EQ(files(), (std::vector<std::string>{"corrupt.xm", "junk.xm", "out.wav"}));
}
