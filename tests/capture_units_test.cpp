// The capture tool's parts that need no display: the command line, the timing of
// frames against the sound and the frame clock, the WAV and PNG files, staging
// (nothing half-written is ever left), and the ffmpeg child's failures.
#include "app/counter_virtual.h"
#include "app/frame_clock.h"
#include "tools/capture/capture_options.h"
#include "tools/capture/capture_output.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string parse(std::vector<const char*> args, CaptureOptions* options) {
    return parseCaptureOptions(static_cast<int>(args.size()), args.data(), options);
}

// A fresh folder under the system's temporary folder, removed at the end of a test.
struct TempFolder {
    fs::path path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "velmora-capture-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code error;
        fs::remove_all(path, error);
    }
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

void writeFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
}

} // namespace

TEST(CaptureOptionsTest, AcceptsEveryModeWithItsDefaultsAndValues) {
    CaptureOptions o;
    ASSERT_EQ(parse({"--out", "intro.mp4"}, &o), "");
    EXPECT_EQ(o.mode, CaptureMode::video);
    EXPECT_EQ(o.videoPath, "intro.mp4");
    EXPECT_EQ(o.fps, 60);
    EXPECT_EQ(o.lengthMs, 60000);

    ASSERT_EQ(parse({"--seconds=1.5", "--fps", "30", "--frames", "out/dir"}, &o), "");
    EXPECT_EQ(o.mode, CaptureMode::frames);
    EXPECT_EQ(o.lengthMs, 1500);
    EXPECT_EQ(o.fps, 30);
    EXPECT_EQ(o.folder, "out/dir");

    // Shots go to the current folder unless --frames names one; times are sorted
    // and a repeated time gives one picture.
    ASSERT_EQ(parse({"--at", "40,5,20.25,5"}, &o), "");
    EXPECT_EQ(o.mode, CaptureMode::shots);
    EXPECT_EQ(o.folder, ".");
    EXPECT_EQ(o.shotTimes, (std::vector<int64_t>{5000, 20250, 40000}));
    ASSERT_EQ(parse({"--frames", "shots", "--at=0"}, &o), "");
    EXPECT_EQ(o.mode, CaptureMode::shots);
    EXPECT_EQ(o.folder, "shots");
    EXPECT_EQ(o.shotTimes, (std::vector<int64_t>{0}));

    ASSERT_EQ(parse({"--fps", "240", "--seconds", "3600", "--out", "A.MP4"}, &o), "");
    EXPECT_EQ(o.lengthMs, 3600000);
    ASSERT_EQ(parse({"--help", "--bogus"}, &o), "");
    EXPECT_TRUE(o.help);
}

TEST(CaptureOptionsTest, RefusesBadArgumentsWithOneLine) {
    const std::vector<std::vector<const char*>> bad = {
        {},
        {"--seconds", "10"},
        {"--frames"},
        {"--frames", "--fps", "30"},
        {"--bogus", "--frames", "d"},
        {"stray", "--frames", "d"},
        {"--seconds", "0", "--frames", "d"},
        {"--seconds", "-1", "--frames", "d"},
        {"--seconds", "1.2345", "--frames", "d"},
        {"--seconds", "1.", "--frames", "d"},
        {"--seconds", "3600.001", "--frames", "d"},
        {"--seconds", "ten", "--frames", "d"},
        {"--seconds", "1", "--seconds", "2", "--frames", "d"},
        {"--fps", "0", "--frames", "d"},
        {"--fps", "241", "--frames", "d"},
        {"--fps", "30fps", "--frames", "d"},
        {"--fps", "", "--frames", "d"},
        {"--out", "intro.avi"},
        {"--out", "dir/.mp4"},
        {"--out", "a.mp4", "--frames", "d"},
        {"--out", "a.mp4", "--at", "5"},
        {"--at", "5", "--seconds", "10"},
        {"--at", "5,,6"},
        {"--at", "5,x"},
        {"--at", ""},
        {"--frames="},
    };
    for (const auto& args : bad) {
        CaptureOptions o;
        const std::string problem = parse(args, &o);
        std::string joined;
        for (const char* a : args)
            joined += std::string(a) + " ";
        EXPECT_FALSE(problem.empty()) << "accepted: " << joined;
        EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
    }
}

TEST(CaptureTimingTest, FramesAndSoundShareOneTimeLine) {
    EXPECT_EQ(captureFrameCount(60000, 60), 3600);
    EXPECT_EQ(captureFrameCount(1, 60), 1); // never zero frames
    EXPECT_EQ(captureFrameCount(1010, 50), 51);
    EXPECT_EQ(captureFrameCount(1009, 50), 50);
    EXPECT_EQ(frameAtTime(33700, 60), 2022);
    EXPECT_EQ(frameAtTime(0, 60), 0);
    EXPECT_EQ(shotsFrameCount({5000, 40000}, 30), 1201);

    // Each frame's share of 44100 Hz, with the remainder carried: no sound frame is
    // lost or doubled, and a second of frames is exactly 44100 sound frames.
    for (int32_t fps : {1, 7, 24, 50, 60, 240}) {
        int64_t total = 0;
        for (int64_t k = 0; k < fps; ++k) {
            const int64_t share = soundPosition(k + 1, fps) - soundPosition(k, fps);
            EXPECT_GE(share, 44100 / fps);
            EXPECT_LE(share, 44100 / fps + 1);
            total += share;
        }
        EXPECT_EQ(total, 44100) << fps;
        EXPECT_EQ(soundPosition(fps * 3600, fps), 44100 * 3600);
    }
}

TEST(CaptureTimingTest, FrameClockOnTheCaptureCounterCarriesItsRemainder) {
    for (int32_t fps : {50, 60, 144}) {
        setVirtualFrequency(captureCounterFrequency(fps));
        setVirtualCounter(captureCounterStart);
        startFrameClock();
        tickFrameClock(); // the first frame, drawn as the clock starts
        EXPECT_EQ(frameDelta, 0.0f);
        double sum = 0;
        const int frames = fps * 60;
        for (int k = 1; k < frames; ++k) {
            advanceVirtualCounter(counterTicksPerFrame);
            tickFrameClock();
            const double quanta = double(frameDelta) * 65536.0;
            ASSERT_EQ(quanta, std::floor(quanta)) << "frame " << k;
            // 65536 / fps quanta a frame, rounded down or up as the carry decides.
            ASSERT_GE(quanta, std::floor(65536.0 / fps));
            ASSERT_LE(quanta, std::ceil(65536.0 / fps));
            sum += frameDelta;
        }
        // The deltas add up to the time of the frames, short by less than a quantum.
        const double expected = double(frames - 1) / fps;
        EXPECT_LE(sum, expected);
        EXPECT_GT(sum, expected - 1.0 / 65536) << fps;
    }
}

TEST(CaptureFilesTest, WavFileHoldsTheSoundWithItsSizes) {
    uint8_t header[44];
    wavHeader(header, 44100);
    const uint8_t expected[44] = {'R', 'I', 'F',  'F',  0x34, 0xB1, 0x02, 0x00, 'W',  'A',  'V',
                                  'E', 'f', 'm',  't',  ' ',  16,   0,    0,    0,    1,    0,
                                  2,   0,   0x44, 0xAC, 0,    0,    0x10, 0xB1, 0x02, 0,    4,
                                  0,   16,  0,    'd',  'a',  't',  'a',  0x10, 0xB1, 0x02, 0x00};
    EXPECT_EQ(std::vector<uint8_t>(header, header + 44),
              std::vector<uint8_t>(expected, expected + 44));

    TempFolder folder;
    const std::string path = folder / "sound.wav";
    ASSERT_EQ(openWav(path), "");
    const int16_t first[4] = {1, -1, 32767, -32768};
    const int16_t second[2] = {0x1234, -2};
    ASSERT_EQ(appendWav(first, 2), "");
    ASSERT_EQ(appendWav(second, 1), "");
    ASSERT_EQ(closeWav(), "");
    const std::vector<uint8_t> bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 44u + 12u);
    wavHeader(header, 3);
    EXPECT_TRUE(std::equal(header, header + 44, bytes.begin()));
    const std::vector<uint8_t> data(bytes.begin() + 44, bytes.end());
    EXPECT_EQ(data, (std::vector<uint8_t>{1, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x80, 0x34, 0x12,
                                          0xFE, 0xFF}));

    // Nothing open: a failure, not a crash.
    EXPECT_NE(appendWav(first, 1), "");
    EXPECT_NE(closeWav(), "");
    EXPECT_NE(openWav(folder / "missing/sound.wav"), "");
}

TEST(CaptureFilesTest, PngFileReadsBackAsThePicture) {
    std::vector<uint8_t> rgba(640 * 480 * 4);
    for (size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = static_cast<uint8_t>(i * 7 + i / 2560);
    TempFolder folder;
    const std::string path = folder / "frame.png";
    ASSERT_EQ(writePng(path, rgba.data()), "");

    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_read_info(png, info);
    EXPECT_EQ(png_get_image_width(png, info), 640u);
    EXPECT_EQ(png_get_image_height(png, info), 480u);
    EXPECT_EQ(png_get_color_type(png, info), PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(png_get_bit_depth(png, info), 8);
    std::vector<uint8_t> rgb(640 * 480 * 3);
    std::vector<png_bytep> rows(480);
    for (int y = 0; y < 480; ++y)
        rows[y] = &rgb[size_t(y) * 640 * 3];
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    size_t wrong = 0;
    for (size_t p = 0; p < 640 * 480; ++p)
        for (int c = 0; c < 3; ++c)
            wrong += rgb[p * 3 + c] != rgba[p * 4 + c];
    EXPECT_EQ(wrong, 0u);

    // A folder that is not there: the failure is reported and no file appears.
    EXPECT_NE(writePng(folder / "missing/frame.png", rgba.data()), "");
    EXPECT_EQ(frameFileName(42), "frame-000042.png");
    EXPECT_EQ(frameFileName(1234567), "frame-1234567.png");
}

TEST(CaptureStagingTest, FilesAppearOnlyWhenTheCaptureIsComplete) {
    TempFolder root;
    CaptureOptions frames;
    frames.mode = CaptureMode::frames;
    frames.folder = root / "new";

    // A folder made for the capture: empty until the commit, gone after a failure.
    ASSERT_EQ(checkCaptureTarget(frames), "");
    ASSERT_EQ(openStaging(frames), "");
    writeFile(stagedPath("frame-000000.png"), "picture");
    ASSERT_EQ(listing(root / "new").size(), 1u); // only the hidden staging folder
    abandonStaging();
    EXPECT_FALSE(fs::exists(root / "new"));

    ASSERT_EQ(openStaging(frames), "");
    writeFile(stagedPath("frame-000000.png"), "picture");
    writeFile(stagedPath("audio.wav"), "sound");
    ASSERT_EQ(commitStaging(frames), "");
    EXPECT_EQ(listing(root / "new"), (std::vector<std::string>{"audio.wav", "frame-000000.png"}));
    abandonStaging(); // after a commit: nothing to do
    EXPECT_EQ(listing(root / "new").size(), 2u);

    // An existing folder keeps what it had when the capture fails.
    ASSERT_EQ(openStaging(frames), "");
    writeFile(stagedPath("frame-000000.png"), "newer picture");
    abandonStaging();
    EXPECT_EQ(listing(root / "new"), (std::vector<std::string>{"audio.wav", "frame-000000.png"}));
    EXPECT_EQ(readFile(root / "new/frame-000000.png").size(), 7u);

    // The video is moved to its name in one step.
    CaptureOptions video;
    video.mode = CaptureMode::video;
    video.videoPath = root / "intro.mp4";
    ASSERT_EQ(openStaging(video), "");
    writeFile(stagedPath(stagedVideoName), "video");
    writeFile(stagedPath("audio.wav"), "sound");
    ASSERT_EQ(commitStaging(video), "");
    EXPECT_EQ(listing(root.path), (std::vector<std::string>{"intro.mp4", "new"}));
}

TEST(CaptureStagingTest, RefusesTargetsThatCannotBeWritten) {
    TempFolder root;
    writeFile(root / "file", "x");
    fs::create_directory(root / "folder.mp4");
    CaptureOptions o;
    o.mode = CaptureMode::frames;
    o.folder = root / "missing/frames";
    EXPECT_NE(checkCaptureTarget(o), "");
    o.folder = root / "file";
    EXPECT_NE(checkCaptureTarget(o), "");
    o.folder = root / "file/frames";
    EXPECT_NE(checkCaptureTarget(o), "");
    o.folder = root.path.string();
    EXPECT_EQ(checkCaptureTarget(o), "");
    o.mode = CaptureMode::video;
    o.videoPath = root / "missing/intro.mp4";
    EXPECT_NE(checkCaptureTarget(o), "");
    o.videoPath = root / "folder.mp4";
    EXPECT_NE(checkCaptureTarget(o), "");
    o.videoPath = root / "intro.mp4";
    EXPECT_EQ(checkCaptureTarget(o), "");
}

TEST(CaptureStagingDeathTest, AnExitMidwayLeavesNothingBehind) {
    TempFolder root;
    CaptureOptions frames;
    frames.mode = CaptureMode::frames;
    frames.folder = root / "frames";
    // As when the shell's exit routine ends the program in the middle of a capture.
    EXPECT_EXIT(
        {
            if (openStaging(frames) != "") std::exit(2);
            writeFile(stagedPath("frame-000000.png"), "picture");
            (void)openWav(stagedPath("audio.wav"));
            std::exit(3);
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_TRUE(listing(root.path).empty());
}

TEST(CaptureEncoderTest, FindsFfmpegOnPathAndReportsItsFailures) {
    TempFolder root;
    fs::create_directory(root / "bin");
    writeFile(root / "bin/notes", "not a program", 0644);
    // A stand-in for an ffmpeg without the encoder: it reads a little and gives up.
    writeFile(root / "bin/ffmpeg",
              "#!/bin/sh\nhead -c 100 >/dev/null\necho \"Unknown encoder 'libx264'\" >&2\nexit 1\n",
              0755);
    const char* saved = std::getenv("PATH");
    const std::string oldPath = saved ? saved : "";
    setenv("PATH", ("/nonexistent:" + (root / "bin")).c_str(), 1);
    const std::string ffmpeg = findOnPath("ffmpeg");
    EXPECT_EQ(ffmpeg, root / "bin/ffmpeg");
    EXPECT_EQ(findOnPath("notes"), "");
    EXPECT_EQ(findOnPath("velmora-no-such-program"), "");
    setenv("PATH", oldPath.c_str(), 1);

    const std::vector<uint8_t> frame(640 * 480 * 4, 0x40);
    ASSERT_EQ(startVideoEncoder(ffmpeg, root / "video.mp4", 60, root / "log"), "");
    std::string failure;
    for (int i = 0; i < 20 && failure.empty(); ++i)
        failure = sendVideoFrame(frame.data());
    EXPECT_NE(failure.find("Unknown encoder 'libx264'"), std::string::npos) << failure;

    // Ending well is not enough: the exit code decides.
    writeFile(root / "bin/ffmpeg", "#!/bin/sh\ncat >/dev/null\nexit 0\n", 0755);
    ASSERT_EQ(startVideoEncoder(ffmpeg, root / "video.mp4", 60, root / "log2"), "");
    EXPECT_EQ(sendVideoFrame(frame.data()), "");
    EXPECT_EQ(finishVideoEncoder(), "");
    writeFile(root / "bin/ffmpeg", "#!/bin/sh\nexit 4\n", 0755);
    const std::string mux =
        muxVideo(ffmpeg, root / "v.mp4", root / "a.wav", root / "o.mp4", root / "log3");
    EXPECT_NE(mux.find("exit code 4"), std::string::npos) << mux;
    EXPECT_NE(startVideoEncoder(root / "bin/missing", root / "v.mp4", 60, root / "log4"), "");
}
