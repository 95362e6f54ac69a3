// velmora-render as a whole process: modules written with the XM writer render to
// the expected number of frames, identically every time; bad input and unwritable
// output fail with one line and leave no file behind.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/xmwriter/xm_writer.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class RenderTool : public ::testing::Test {
  protected:
    fs::path dir;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "velmora-render-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    ToolRun run(const std::string& arguments) {
        std::string command = "timeout -k 5 60 " RENDER_TOOL " " + arguments + " >" +
                              (dir / "stdout").string() + " 2>" + (dir / "stderr").string();
        int raw = std::system(command.c_str());
        ToolRun r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = readFile(dir / "stdout");
        r.err = readFile(dir / "stderr");
        fs::remove(dir / "stdout");
        fs::remove(dir / "stderr");
        return r;
    }

    std::string save(const XmModule& module, const std::string& name) {
        fs::path path = dir / name;
        EXPECT_TRUE(saveXm(module, path.string()));
        return path.string();
    }

    std::vector<std::string> entries() {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// One instrument with a looping square wave, two channels.
XmModule baseModule(int speed, int tempo) {
    XmModule m;
    m.channelCount = 2;
    m.defaultSpeed = static_cast<uint16_t>(speed);
    m.defaultTempo = static_cast<uint16_t>(tempo);
    XmInstrument& in = m.instruments.emplace_back();
    XmSample& s = in.samples.emplace_back();
    s.sixteenBit = true;
    for (int i = 0; i < 64; ++i)
        s.data.push_back(i < 32 ? 8000 : -8000);
    s.loop = XmLoop::forward;
    s.loopStart = 0;
    s.loopLength = 64;
    return m;
}

uint32_t le32(const std::string& bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

} // namespace

TEST_F(RenderTool, OnePassFixedLengthAndRepeatability) {
    // Four rows at speed 6, tempo 125 (882 frames a tick), then back to the start.
    XmModule m = baseModule(6, 125);
    m.orders = {0};
    XmPattern& p = m.patterns.emplace_back(xmPattern(4, 2));
    xmCell(p, 2, 0, 0) = {xmNote("C-4"), 1, 0, 0, 0};
    xmCell(p, 2, 2, 1) = {xmNote("G-4"), 1, 0x30, 0, 0};
    std::string input = save(m, "song.xm");

    ToolRun r = run(input + " " + (dir / "a.wav").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Channels     2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Speed        6"), std::string::npos);
    EXPECT_NE(r.out.find("Tempo        125"), std::string::npos);
    EXPECT_NE(r.out.find("linear"), std::string::npos);
    std::string wav = readFile(dir / "a.wav");
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(wav, 24), 44100u);
    EXPECT_EQ(le32(wav, 28), 44100u * 4);
    EXPECT_EQ(wav.substr(36, 4), "data");
    const uint32_t frames = 4 * 6 * 882;
    EXPECT_EQ(le32(wav, 40), frames * 4);
    EXPECT_EQ(le32(wav, 4), 36 + frames * 4);
    EXPECT_EQ(wav.size(), 44 + frames * 4);
    // The note sounds: not all of the data is silence.
    EXPECT_NE(wav.find_first_not_of('\0', 44), std::string::npos);

    ToolRun again = run(input + " " + (dir / "b.wav").string());
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(readFile(dir / "b.wav"), wav);

    ToolRun fixed = run("--seconds 0.5 " + input + " " + (dir / "c.wav").string());
    ASSERT_EQ(fixed.status, 0) << fixed.err;
    std::string shortWav = readFile(dir / "c.wav");
    EXPECT_EQ(le32(shortWav, 40), 22050u * 4);
    EXPECT_EQ(shortWav.size(), 44 + 22050u * 4);
    // The fixed length goes on past the song's end; its start is the same music.
    EXPECT_EQ(shortWav.substr(44, frames * 4), wav.substr(44, frames * 4));
    EXPECT_EQ(entries(), (std::vector<std::string>{"a.wav", "b.wav", "c.wav", "song.xm"}));
}

TEST_F(RenderTool, SongEndAfterLoopsAndJumps) {
    // Pattern 0 (8 rows, speed 1): rows 0..5, a loop back to row 2 once, then 6 and 7.
    // Pattern 1 (4 rows): rows 0 and 1, where a B goes back to order 0: the end.
    XmModule m = baseModule(1, 125);
    m.orders = {0, 1};
    XmPattern& p0 = m.patterns.emplace_back(xmPattern(8, 2));
    xmCell(p0, 2, 0, 0) = {xmNote("C-4"), 1, 0, 0, 0};
    xmCell(p0, 2, 2, 1) = {0, 0, 0, 0x0E, 0x60};
    xmCell(p0, 2, 5, 1) = {0, 0, 0, 0x0E, 0x61};
    XmPattern& p1 = m.patterns.emplace_back(xmPattern(4, 2));
    xmCell(p1, 2, 1, 0) = {0, 0, 0, 0x0B, 0x00};
    std::string input = save(m, "loop.xm");

    ToolRun r = run(input + " " + (dir / "loop.wav").string());
    ASSERT_EQ(r.status, 0) << r.err;
    std::string wav = readFile(dir / "loop.wav");
    const uint32_t rows = 6 + 4 + 2 + 2;
    EXPECT_EQ(le32(wav, 40), rows * 882 * 4);
    EXPECT_NE(r.out.find("end of the song"), std::string::npos) << r.out;
}

TEST_F(RenderTool, BadInputAndOutputLeaveNoFile) {
    fs::path out = dir / "out.wav";
    ToolRun missing = run((dir / "missing.xm").string() + " " + out.string());
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("missing.xm"), std::string::npos) << missing.err;
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;
    EXPECT_FALSE(fs::exists(out));

    {
        std::ofstream junk(dir / "junk.xm", std::ios::binary);
        junk << "This is not a module at all, just some text.";
    }
    ToolRun junk = run((dir / "junk.xm").string() + " " + out.string());
    EXPECT_EQ(junk.status, 1);
    EXPECT_NE(junk.err.find("junk.xm"), std::string::npos) << junk.err;
    EXPECT_EQ(std::count(junk.err.begin(), junk.err.end(), '\n'), 1) << junk.err;
    EXPECT_FALSE(fs::exists(out));

    // A module the loader refuses (no channels), over an existing output file that
    // must stay as it was.
    XmModule m = baseModule(6, 125);
    m.channelCount = 0;
    m.orders = {0};
    m.patterns.push_back(xmPattern(4, 0));
    std::string bad = save(m, "corrupt.xm");
    {
        std::ofstream keep(out, std::ios::binary);
        keep << "previous";
    }
    ToolRun corrupt = run(bad + " " + out.string());
    EXPECT_EQ(corrupt.status, 1);
    EXPECT_NE(corrupt.err.find("corrupt.xm"), std::string::npos) << corrupt.err;
    EXPECT_EQ(readFile(out), "previous");
    fs::remove(out);

    // An output folder that does not exist.
    XmModule good = baseModule(6, 125);
    good.orders = {0};
    good.patterns.push_back(xmPattern(4, 2));
    std::string input = save(good, "good.xm");
    ToolRun unwritable = run(input + " " + (dir / "nowhere" / "x.wav").string());
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("x.wav"), std::string::npos) << unwritable.err;

    ToolRun usage = run(input);
    EXPECT_EQ(usage.status, 2);
    ToolRun seconds = run("--seconds -3 " + input + " " + out.string());
    EXPECT_EQ(seconds.status, 2);
    EXPECT_EQ(entries(), (std::vector<std::string>{"corrupt.xm", "good.xm", "junk.xm"}));
}
