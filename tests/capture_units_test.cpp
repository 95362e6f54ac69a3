// The capture tool's parts that need no display: the command line, the timing of
// frames against the sound and the frame clock, the WAV and PNG files, staging
// (nothing half-written is ever left, even after an exit midway) and ffmpeg failures.
#include "app/counter_virtual.h"
#include "app/frame_clock.h"
#include "tools/capture/capture_options.h"
#include "tools/capture/capture_output.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct TempFolder {
    fs::path path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "velmora-capture-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& text, fs::perms mode = fs::perms(0644)) {
    std::ofstream(path) << text;
    fs::permissions(path, mode);
}

} // namespace

TEST(CaptureOptionsTest, AcceptsEachModeAndRefusesBadArgumentsInOneLine) {
    CaptureOptions o;
    auto parse = [&](std::vector<const char*> args) {
        return parseCaptureOptions(int(args.size()), args.data(), &o);
    };
    ASSERT_EQ(parse({"--out", "intro.mp4"}), "");
    EXPECT_TRUE(o.mode == CaptureMode::video && o.fps == 60 && o.lengthMs == 60000);
    ASSERT_EQ(parse({"--seconds=1.5", "--fps", "30", "--frames", "d"}), "");
    EXPECT_TRUE(o.mode == CaptureMode::frames && o.lengthMs == 1500 && o.fps == 30);
    // Shots go to the current folder unless --frames names one; sorted, no repeats.
    ASSERT_EQ(parse({"--at", "40,5,20.25,5"}), "");
    EXPECT_TRUE(o.mode == CaptureMode::shots && o.folder == ".");
    EXPECT_EQ(o.shotTimes, (std::vector<int64_t>{5000, 20250, 40000}));
    ASSERT_EQ(parse({"--frames", "shots", "--at=0"}), "");
    EXPECT_TRUE(o.mode == CaptureMode::shots && o.folder == "shots");
    ASSERT_EQ(parse({"--fps", "240", "--seconds", "3600", "--out", "A.MP4"}), "");

    for (const std::string line :
         {"", "--seconds 10", "--frames --fps 30", "--bogus --frames d", "--seconds 0 --frames d",
          "--seconds 1.2345 --frames d", "--seconds 3600.001 --frames d", "--fps 241 --frames d",
          "--fps 30fps --frames d", "--out intro.avi", "--out a.mp4 --frames d",
          "--at 5 --seconds 10", "--at 5,,6"}) {
        std::istringstream in(line);
        const std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
        std::vector<const char*> args;
        for (const std::string& w : words)
            args.push_back(w.c_str());
        const std::string problem = parse(args);
        EXPECT_FALSE(problem.empty()) << "accepted: " << line;
        EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
    }
}

TEST(CaptureTimingTest, FramesSoundAndFrameClockShareOneTimeLine) {
    EXPECT_EQ(captureFrameCount(60000, 60), 3600);
    EXPECT_EQ(captureFrameCount(1, 60), 1); // never zero frames
    EXPECT_EQ(captureFrameCount(1010, 50), 51);
    EXPECT_EQ(frameAtTime(33700, 60), 2022);
    EXPECT_EQ(shotsFrameCount({5000, 40000}, 30), 1201);
    // Each frame's share of 44100 Hz, remainder carried: a second of frames is
    // exactly 44100 sound frames, none lost or doubled.
    for (int32_t fps : {1, 7, 50, 60, 240}) {
        for (int64_t k = 0; k < fps; ++k)
            EXPECT_LE(soundPosition(k + 1, fps) - soundPosition(k, fps), 44100 / fps + 1);
        EXPECT_EQ(soundPosition(fps, fps), 44100);
        EXPECT_EQ(soundPosition(int64_t(fps) * 3600, fps), 44100 * 3600);
    }
    // The frame clock on the capture's counter: deltas in whole 1/65536 s that add up
    // to the frames' time, short by less than one quantum after a minute.
    for (int32_t fps : {50, 60, 144}) {
        setVirtualFrequency(captureCounterFrequency(fps));
        setVirtualCounter(captureCounterStart);
        startFrameClock();
        tickFrameClock();
        EXPECT_EQ(frameDelta, 0.0f); // the first frame is drawn as the clock starts
        double sum = 0;
        for (int k = 1; k < fps * 60; ++k) {
            advanceVirtualCounter(counterTicksPerFrame);
            tickFrameClock();
            const double quanta = double(frameDelta) * 65536.0;
            ASSERT_TRUE(quanta == std::floor(quanta) && quanta >= std::floor(65536.0 / fps) &&
                        quanta <= std::ceil(65536.0 / fps));
            sum += frameDelta;
        }
        EXPECT_LE(sum, 60.0 - 1.0 / fps);
        EXPECT_GT(sum, 60.0 - 1.0 / fps - 1.0 / 65536) << fps;
    }
}

TEST(CaptureFilesTest, WavAndPngFilesHoldWhatWasGiven) {
    TempFolder folder;
    ASSERT_EQ(openWav(folder / "sound.wav"), "");
    const int16_t sound[6] = {1, -1, 32767, -32768, 0x1234, -2};
    ASSERT_EQ(appendWav(sound, 2), "");
    ASSERT_EQ(appendWav(sound + 4, 1), "");
    ASSERT_EQ(closeWav(), "");
    const std::vector<uint8_t> wav = readFile(folder / "sound.wav");
    const uint8_t expected[56] = {
        'R',  'I',  'F',  'F', 48,   0,    0,    0,    'W',  'A',  'V',  'E',  'f',  'm',
        't',  ' ',  16,   0,   0,    0,    1,    0,    2,    0,    0x44, 0xAC, 0,    0,
        0x10, 0xB1, 0x02, 0,   4,    0,    16,   0,    'd',  'a',  't',  'a',  12,   0,
        0,    0,    1,    0,   0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x80, 0x34, 0x12, 0xFE, 0xFF};
    EXPECT_EQ(wav, std::vector<uint8_t>(expected, expected + 56));
    EXPECT_NE(appendWav(sound, 1), ""); // closed: a failure, not a crash
    EXPECT_NE(openWav(folder / "missing/sound.wav"), "");

    std::vector<uint8_t> rgba(640 * 480 * 4);
    for (size_t i = 0; i < rgba.size(); ++i) // opaque: the PNG holds no alpha
        rgba[i] = i % 4 == 3 ? 255 : static_cast<uint8_t>(i * 7 + i / 2560);
    ASSERT_EQ(writePng(folder / "frame.png", rgba.data()), "");
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, (folder / "frame.png").c_str()));
    EXPECT_EQ(image.width * 1000 + image.height, 640480u);
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> back(640 * 480 * 4);
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, back.data(), 0, nullptr));
    EXPECT_TRUE(back == rgba);
    EXPECT_NE(writePng(folder / "missing/frame.png", rgba.data()), "");
    EXPECT_EQ(frameFileName(42), "frame-000042.png");
}

TEST(CaptureStagingTest, FilesAppearOnlyWhenTheCaptureIsComplete) {
    TempFolder root;
    CaptureOptions frames;
    frames.mode = CaptureMode::frames;
    frames.folder = root / "new";
    // A folder made for the capture: gone again after a failure.
    ASSERT_EQ(checkCaptureTarget(frames), "");
    ASSERT_EQ(openStaging(frames), "");
    writeFile(stagedPath("frame-000000.png"), "picture");
    abandonStaging();
    EXPECT_FALSE(fs::exists(root / "new"));
    // Committed: the files move in; a later failed capture leaves them as they were.
    ASSERT_EQ(openStaging(frames), "");
    writeFile(stagedPath("frame-000000.png"), "picture");
    writeFile(stagedPath("audio.wav"), "sound");
    ASSERT_EQ(commitStaging(frames), "");
    ASSERT_EQ(openStaging(frames), "");
    writeFile(stagedPath("frame-000000.png"), "newer picture");
    abandonStaging();
    EXPECT_EQ(listing(root / "new"), (std::vector<std::string>{"audio.wav", "frame-000000.png"}));
    EXPECT_EQ(readFile(root / "new/frame-000000.png").size(), 7u);
    // An exit in the middle (the shell's exit routine, say) cleans up as well.
    EXPECT_EXIT(
        {
            if (openStaging(frames) != "" || openWav(stagedPath("audio.wav")) != "") std::exit(2);
            std::exit(3);
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(listing(root / "new").size(), 2u);

    CaptureOptions video;
    video.mode = CaptureMode::video;
    video.videoPath = root / "new";
    EXPECT_NE(checkCaptureTarget(video), ""); // a folder
    video.videoPath = root / "missing/intro.mp4";
    EXPECT_NE(checkCaptureTarget(video), "");
    video.videoPath = root / "intro.mp4";
    ASSERT_EQ(openStaging(video), "");
    writeFile(stagedPath(stagedVideoName), "video");
    ASSERT_EQ(commitStaging(video), "");
    EXPECT_EQ(listing(root.path), (std::vector<std::string>{"intro.mp4", "new"}));
}

TEST(CaptureEncoderTest, FindsFfmpegOnPathAndReportsItsFailures) {
    TempFolder root;
    fs::create_directory(root / "bin");
    writeFile(root / "bin/notes", "not a program");
    // An ffmpeg without the encoder: it reads a little and gives up.
    writeFile(root / "bin/ffmpeg",
              "#!/bin/sh\nhead -c 100 >/dev/null\necho \"Unknown encoder 'libx264'\" >&2\nexit 1\n",
              fs::perms(0755));
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", ("/nonexistent:" + (root / "bin")).c_str(), 1);
    const std::string ffmpeg = findOnPath("ffmpeg");
    EXPECT_EQ(ffmpeg, root / "bin/ffmpeg");
    EXPECT_EQ(findOnPath("notes"), "");
    setenv("PATH", oldPath.c_str(), 1);

    const std::vector<uint8_t> frame(640 * 480 * 4, 0x40);
    ASSERT_EQ(startVideoEncoder(ffmpeg, root / "video.mp4", 60, root / "log"), "");
    std::string failure;
    for (int i = 0; i < 20 && failure.empty(); ++i)
        failure = sendVideoFrame(frame.data());
    EXPECT_NE(failure.find("Unknown encoder 'libx264'"), std::string::npos) << failure;
    // Ending is not enough: the exit code decides.
    writeFile(root / "bin/ffmpeg", "#!/bin/sh\nexit 4\n", fs::perms(0755));
    const std::string mux =
        muxVideo(ffmpeg, root / "v.mp4", root / "a.wav", root / "o.mp4", root / "log2");
    EXPECT_NE(mux.find("exit code 4"), std::string::npos) << mux;
}
