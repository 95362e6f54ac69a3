// One whole capture in this process (96 s at 50 fps, no files), watched frame by
// frame: its sound is the song rendered straight through; the corner panels flash in
// step with the notes of their instruments, within one block plus one frame; the
// white-out peaks on time. (What each effect draws is the effect and device tests'
// part, that captures show it the capture tool test's.) Before the capture, the song is
// played once through the output side alone to learn where each row starts and sounds.
#include "assets/panel_assets.h"
#include "audio/output.h"
#include "audio/waveout_virtual.h"
#include "music/loader.h"
#include "music/module_source.h"
#include "tools/capture/capture_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int32_t fps = 50;
constexpr int64_t frames = 96 * fps;
constexpr int64_t blockLength = 884; // one output block at 44100 Hz

// ---- The song played straight through ----

std::vector<int64_t> noteStarts[2]; // per panel: sound frames where its instrument starts
std::vector<int16_t> reference;
TickHandler engineTick = nullptr;
int64_t nextTick = 0;
std::vector<std::pair<int64_t, Song>> rowTicks; // where each row begins, and the position

void recordingTick(Song* song) {
    const bool rowTick = song->tick == 0;
    engineTick(song);
    if (rowTick) rowTicks.push_back({nextTick, *song});
    nextTick += std::max(song->samplesPerTick, 1);
}

void playReference() {
    registerFileCallbacks(openModuleFile, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    ASSERT_TRUE(openSoundOutput(44100));
    Song* song = loadSong(nullptr);
    ASSERT_NE(song, nullptr);
    engineTick = song->tickHandler;
    song->tickHandler = recordingTick;
    setMixingThreadEnabled(false);
    ASSERT_TRUE(playSong(song));
    // Block by block as the device plays: take the block, then let it be re-rendered.
    const int64_t length = soundPosition(frames, fps);
    reference.resize(size_t(length) * 2);
    for (int64_t at = 0; at < length; at += blockLength) {
        const int64_t n = std::min(blockLength, length - at);
        std::memcpy(&reference[size_t(at) * 2], virtualRing() + at % virtualRingFrames() * 2,
                    size_t(n) * 4);
        setVirtualPosition(uint64_t(at + blockLength) * 4);
        pollOutputOnce();
    }
    for (const auto& [start, position] : rowTicks) {
        const Pattern& pattern = song->patterns[song->orderTable[position.orderPosition]];
        for (int32_t c = 0; c < song->channelCount; ++c) {
            const PatternCell& cell = pattern.cells[position.row * song->channelCount + c];
            const int64_t delay = cell.effect == 0xE && (cell.parameter >> 4) == 0xD
                                      ? (cell.parameter & 15) * int64_t(position.samplesPerTick)
                                      : 0;
            for (int panel = 0; panel < 2; ++panel)
                if (cell.instrument == panelTriggerInstruments[panel])
                    noteStarts[panel].push_back(start + delay);
        }
    }
    freeSong(song);
    closeSoundOutput();
}

// ---- What the capture showed ----

struct FrameStats {
    bool allWhite;
    double panelLevel[2]; // mean brightness of each panel's translucent body
};
std::vector<FrameStats> stats;
int64_t soundChecked = 0, soundDifferences = 0;
std::vector<int> panelBody[2]; // pixel indices: texels of alpha 8..11, colours at most 9

// A panel's texel under screen pixel (x, y): the strip is folded, its right half
// being the image's lower half.
unsigned panelTexel(int panel, int sx, int sy) {
    const uint8_t* t = &panelImages[panel][((sy + (sx >= 128 ? 64 : 0)) * 128 + sx % 128) * 2];
    return t[0] | t[1] << 8;
}

void watchFrame(int64_t, const uint8_t* rgba, void*) {
    FrameStats s{true, {0, 0}};
    for (size_t i = 0; i < 640 * 480 * 4 && s.allWhite; i += 4)
        s.allWhite = rgba[i] == 255 && rgba[i + 1] == 255 && rgba[i + 2] == 255;
    for (int panel = 0; panel < 2; ++panel) {
        for (int at : panelBody[panel])
            s.panelLevel[panel] += rgba[at * 4] + rgba[at * 4 + 1] + rgba[at * 4 + 2];
        s.panelLevel[panel] /= 3.0 * double(panelBody[panel].size());
    }
    stats.push_back(s);
}

void watchSound(int64_t, int64_t first, const int16_t* stereo, int64_t count, void*) {
    for (int64_t i = 0; i < count * 2; ++i)
        soundDifferences += reference.at(size_t(first * 2 + i)) != stereo[i];
    soundChecked += count;
}

class CaptureScene : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        playReference();
        for (int panel = 0; panel < 2; ++panel)
            for (int sy = 0; sy < 64; ++sy)
                for (int sx = 0; sx < 256; ++sx) {
                    const unsigned v = panelTexel(panel, sx, sy);
                    if ((v >> 12) >= 8 && (v >> 12) <= 11 &&
                        std::max({(v >> 8) & 15, (v >> 4) & 15, v & 15}) <= 9)
                        panelBody[panel].push_back((panel * 416 + sy) * 640 + 384 + sx);
                }
        startCaptureShell(fps);
        CaptureOptions options;
        options.fps = fps;
        options.lengthMs = frames * 1000 / fps;
        CaptureWatch watch;
        watch.frame = watchFrame;
        watch.sound = watchSound;
        failure = runCapture(options, &watch, false);
    }
    void SetUp() override { ASSERT_EQ(failure, ""); }
    // The first frame of the white-out's peak: the whole screen white.
    static int64_t peak() {
        return std::find_if(stats.begin(), stats.end(), [](auto& s) { return s.allWhite; }) -
               stats.begin();
    }
    static std::string failure;
};
std::string CaptureScene::failure;

} // namespace

TEST_F(CaptureScene, SoundIsTheSongAsTheDevicePlaysIt) {
    EXPECT_EQ(soundChecked, soundPosition(frames, fps));
    EXPECT_EQ(soundDifferences, 0);
    EXPECT_GT(std::count_if(reference.begin(), reference.end(), [](int16_t s) { return s > 1000; }),
              int64_t(reference.size() / 40)); // music, not silence
}

TEST_F(CaptureScene, PanelsFlashInStepWithTheNotesOfTheirInstruments) {
    ASSERT_EQ(int64_t(stats.size()), frames);
    // The main part begins after the peak; flashes are looked for once the screen is
    // no longer full white, for a minute.
    int64_t first = peak();
    while (stats[first].allWhite)
        ++first;
    const int64_t from = soundPosition(first + 1, fps), to = from + 60 * 44100;
    const int64_t tolerance = blockLength + 44100 / fps;
    for (int panel = 0; panel < 2; ++panel) {
        SCOPED_TRACE(panel == 0 ? "top panel, instrument 17" : "bottom panel, instrument 1");
        // A flash lifts the panel's body far more than anything else moves it: the
        // fading flash and the falling white-out only darken it.
        std::vector<int64_t> flashes;
        for (int64_t k = first + 1; soundPosition(k, fps) < to; ++k)
            if (stats[k].panelLevel[panel] - stats[k - 1].panelLevel[panel] > 20)
                flashes.push_back(soundPosition(k, fps));
        auto near = [&](const std::vector<int64_t>& list, int64_t at) {
            return std::any_of(list.begin(), list.end(),
                               [&](int64_t s) { return std::abs(s - at) <= tolerance; });
        };
        int64_t notes = 0;
        for (int64_t start : noteStarts[panel]) {
            if (start < from || start >= to) continue;
            ++notes;
            EXPECT_TRUE(near(flashes, start)) << "no flash at note " << start / 44100.0 << " s";
        }
        for (int64_t at : flashes)
            EXPECT_TRUE(near(noteStarts[panel], at)) << "flash without a note at " << at / 44100.0;
        EXPECT_GT(notes, 40);
    }
}

TEST_F(CaptureScene, WhiteOutPeaksInFullWhiteOnce) {
    // The logo holds until 34.5 s, then the white-out rises for a second; at the peak
    // and a frame or two after it (falling from full over a bright scene) the whole
    // screen is white, and never again.
    EXPECT_NEAR(double(peak()) / fps, 35.5, 0.2);
    EXPECT_FALSE(stats[peak() - 1].allWhite);
    for (int64_t k = peak() + 3; k < frames; ++k)
        ASSERT_FALSE(stats[k].allWhite) << k;
}
