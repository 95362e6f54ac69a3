// One whole capture in this process (96 s at 50 fps, no files), watched frame by
// frame: the sound it plays is the song rendered straight through; the corner panels
// flash in step with the rows that name their instruments, within one block plus one
// frame; and the pictures show the opening's date line and logo, the white-out's
// full white, and then the background, tube, text and panels.
// Before the capture the embedded song is played once through the output side alone
// (virtual device, no display) to learn where every row starts and what it sounds like.
#include "assets/backdrop_assets.h"
#include "assets/opening_assets.h"
#include "assets/panel_assets.h"
#include "audio/output.h"
#include "audio/waveout_virtual.h"
#include "music/loader.h"
#include "music/module_source.h"
#include "music/song.h"
#include "tools/capture/capture_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr int32_t fps = 50;
constexpr int64_t lengthMs = 96000;
constexpr int64_t frames = lengthMs * fps / 1000;
constexpr int64_t soundPerFrame = 44100 / fps; // 882
constexpr int64_t blockLength = 884;           // one output block at 44100 Hz
constexpr int64_t mainPartSeconds = 60;

// ---- The song played straight through ----

struct RowStart {
    int64_t soundFrame; // where the row's first tick begins
    uint8_t order;
    uint8_t row;
};

std::vector<RowStart> rowStarts;
// For each panel: the sound frames where a note of its instrument starts.
std::vector<int64_t> noteStarts[2];
std::vector<int16_t> referenceSound;
TickHandler engineTick = nullptr;
int64_t nextTickFrame = 0;

void recordingTick(Song* song) {
    const bool rowTick = song->tick == 0;
    engineTick(song);
    if (rowTick)
        rowStarts.push_back({nextTickFrame, static_cast<uint8_t>(song->orderPosition),
                             static_cast<uint8_t>(song->row)});
    nextTickFrame += song->samplesPerTick < 1 ? 1 : song->samplesPerTick;
}

void playReference(int64_t soundFrames) {
    registerFileCallbacks(openModuleFile, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    ASSERT_TRUE(openSoundOutput(44100));
    Song* song = loadSong(nullptr);
    ASSERT_NE(song, nullptr);
    engineTick = song->tickHandler;
    song->tickHandler = recordingTick;
    setMixingThreadEnabled(false);
    ASSERT_TRUE(playSong(song));
    // Block by block, as the device plays: take the block, then let it be re-rendered.
    referenceSound.resize(static_cast<size_t>(soundFrames) * 2);
    const int16_t* ring = virtualRing();
    const int64_t ringLength = virtualRingFrames();
    for (int64_t at = 0; at < soundFrames; at += blockLength) {
        const int64_t n = std::min(blockLength, soundFrames - at);
        std::memcpy(&referenceSound[size_t(at) * 2], ring + (at % ringLength) * 2, size_t(n) * 4);
        setVirtualPosition(uint64_t(at + blockLength) * 4);
        pollOutputOnce();
    }
    // The notes of the panels' instruments (1 bottom, 17 top), with any note delay.
    for (const RowStart& start : rowStarts) {
        const Pattern& pattern = song->patterns[song->orderTable[start.order]];
        for (int32_t c = 0; c < song->channelCount; ++c) {
            const PatternCell& cell = pattern.cells[start.row * song->channelCount + c];
            for (int panel = 0; panel < 2; ++panel) {
                if (cell.instrument != panelTriggerInstruments[panel]) continue;
                int64_t delay = 0;
                if (cell.effect == 0xE && (cell.parameter >> 4) == 0xD)
                    delay = int64_t(cell.parameter & 15) * song->samplesPerTick;
                noteStarts[panel].push_back(start.soundFrame + delay);
            }
        }
    }
    freeSong(song);
    closeSoundOutput();
    setMixingThreadEnabled(true);
}

// ---- What the capture showed ----

struct FrameStats {
    bool allWhite;
    double panelLevel[2]; // mean brightness of each panel's translucent body
};

std::vector<FrameStats> stats;
std::map<int64_t, std::vector<uint8_t>> keptFrames;
int64_t soundChecked = 0;
int64_t soundDifferences = 0;
// Screen pixels (x, y) of each panel's translucent body: texels with an alpha of
// 8 to 11 of 15 and no colour channel above 9 of 15, so the flash lifts them far.
std::vector<std::pair<int, int>> panelBody[2];

const std::vector<int64_t> framesToKeep = {
    0, 8 * fps, 33700 * fps / 1000, 40 * fps, 40 * fps + fps / 2, 70 * fps, 75 * fps};

void findPanelBodies() {
    for (int panel = 0; panel < 2; ++panel) {
        for (int sy = 0; sy < 64; ++sy) {
            for (int sx = 0; sx < 256; ++sx) {
                // The strip is folded: its right half is the image's lower half.
                const int ix = sx % 128, iy = sy + (sx >= 128 ? 64 : 0);
                const uint8_t* t = &panelImages[panel][(iy * 128 + ix) * 2];
                const unsigned v = t[0] | t[1] << 8;
                const unsigned a = v >> 12, r = (v >> 8) & 15, g = (v >> 4) & 15, b = v & 15;
                if (a >= 8 && a <= 11 && std::max({r, g, b}) <= 9)
                    panelBody[panel].push_back({384 + sx, (panel == 0 ? 0 : 416) + sy});
            }
        }
    }
}

void watchFrame(int64_t frame, const uint8_t* rgba, void*) {
    FrameStats s{};
    s.allWhite = true;
    for (size_t i = 0; i < 640 * 480 * 4 && s.allWhite; i += 4)
        s.allWhite = rgba[i] == 255 && rgba[i + 1] == 255 && rgba[i + 2] == 255;
    for (int panel = 0; panel < 2; ++panel) {
        double sum = 0;
        for (const auto& [x, y] : panelBody[panel]) {
            const uint8_t* p = rgba + (size_t(y) * 640 + x) * 4;
            sum += (p[0] + p[1] + p[2]) / 3.0;
        }
        s.panelLevel[panel] = sum / double(panelBody[panel].size());
    }
    stats.push_back(s);
    if (std::find(framesToKeep.begin(), framesToKeep.end(), frame) != framesToKeep.end())
        keptFrames[frame].assign(rgba, rgba + 640 * 480 * 4);
}

void watchSound(int64_t, int64_t first, const int16_t* stereo, int64_t count, void*) {
    for (int64_t i = 0; i < count * 2; ++i) {
        const size_t at = size_t(first) * 2 + size_t(i);
        if (at >= referenceSound.size() || referenceSound[at] != stereo[i]) ++soundDifferences;
    }
    soundChecked += count;
}

class CaptureScene : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        playReference(soundPosition(frames, fps));
        findPanelBodies();
        startCaptureShell(fps);
        CaptureOptions options;
        options.fps = fps;
        options.lengthMs = lengthMs;
        CaptureWatch watch;
        watch.frame = watchFrame;
        watch.sound = watchSound;
        failure = runCapture(options, &watch, false);
    }
    static std::string failure;

    static const std::vector<uint8_t>& frameAt(int64_t frame) { return keptFrames.at(frame); }
    // The frame in which the white-out is at its peak: the whole screen white.
    static int64_t peakFrame() {
        for (int64_t k = 0; k < int64_t(stats.size()); ++k)
            if (stats[k].allWhite) return k;
        return -1;
    }
};
std::string CaptureScene::failure;

// ---- Pixel helpers ----

const uint8_t* pixel(const std::vector<uint8_t>& rgba, int x, int y) {
    return &rgba[(size_t(y) * 640 + x) * 4];
}

int brightness(const uint8_t* p) {
    return (p[0] + p[1] + p[2]) / 3;
}

// The background picture's colour at a screen pixel, 8 bits per channel.
void backdropColour(int x, int y, int rgb[3]) {
    const uint8_t* tile = backdropTileImages[(y / 256) * 3 + x / 256];
    const size_t at = (size_t(y % 256) * 256 + x % 256) * 2;
    const unsigned v = tile[at] | tile[at + 1] << 8;
    rgb[0] = int((v >> 11) * 255 / 31);
    rgb[1] = int(((v >> 5) & 63) * 255 / 63);
    rgb[2] = int((v & 31) * 255 / 31);
}

bool showsBackdrop(const std::vector<uint8_t>& rgba, int x, int y) {
    int rgb[3];
    backdropColour(x, y, rgb);
    const uint8_t* p = pixel(rgba, x, y);
    for (int c = 0; c < 3; ++c)
        if (std::abs(p[c] - rgb[c]) > 6) return false;
    return true;
}

// Fraction of a rectangle's pixels that show the background picture unchanged.
double backdropShare(const std::vector<uint8_t>& rgba, int x0, int y0, int x1, int y1) {
    int64_t same = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            same += showsBackdrop(rgba, x, y);
    return double(same) / double((x1 - x0) * (y1 - y0));
}

// The date line as drawn at zoom `zoom`: for every pixel of its box, whether it
// lies on a lit texel of its glyph (nearest texel at the pixel centre).
bool dateLineLit(double zoom, int x, int y, bool* inside) {
    const char* line = openingLines[0];
    const int n = int(std::strlen(line));
    const double cx = 320, cy = 240;
    // Corners before zoom: top 228, bottom 253, x0 = 320 - 17 n / 2; glyphs 17 wide.
    const double top = cy + (228 - cy) * zoom, bottom = cy + (253 - cy) * zoom;
    const double left = cx + (320 - 17.0 * n / 2 - cx) * zoom;
    // Pixel centres lie on whole screen coordinates, as in Direct3D.
    const double px = x, py = y;
    *inside = false;
    if (py < top || py >= bottom || px < left || px >= left + 17.0 * n * zoom) return false;
    *inside = true;
    const int i = int((px - left) / (17.0 * zoom));
    const double fx = (px - left) / (17.0 * zoom) - i, fy = (py - top) / (bottom - top);
    const uint8_t glyph = openingFont[1288 + uint8_t(line[i])];
    float record[4];
    std::memcpy(record, openingFont + 8 + glyph * 20, sizeof record);
    const double u = record[0] + fx * (record[2] - record[0]);
    const double v = record[1] + fy * (record[3] - record[1]);
    const int tx = std::min(255, int(u * 256)), ty = std::min(255, int(v * 256));
    const unsigned texel = glyphSheet[(ty * 256 + tx) * 2] | glyphSheet[(ty * 256 + tx) * 2 + 1]
                                                                 << 8;
    return ((texel >> 8) & 15) >= 8; // the red channel of a white-on-black glyph
}

// The logo's colour at a screen pixel inside its band (y 204..276), sampled as the
// device does, linearly at the pixel centre (whole coordinates): across, u = x / 256
// falls between two texels; down, 71 texel rows stretch over 73 screen rows.
void logoColour(int x, int y, double rgb[3]) {
    const int band = x / 256;
    const double v0 = 0.001953125 + band * 0.27734375;
    const double v = v0 + (y - 204) / 73.0 * (0.279296875 - 0.001953125);
    const double tu = (x % 256) - 0.5, tv = v * 256 - 0.5;
    const int column = int(std::floor(tu)), row = int(std::floor(tv));
    const double wu = tu - column, wv = tv - row;
    for (int c = 0; c < 3; ++c)
        rgb[c] = 0;
    for (int j = 0; j < 2; ++j) {
        for (int i = 0; i < 2; ++i) {
            // Clamped across (the sequence sets clamp addressing), wrapped down.
            const int tx = std::clamp(column + i, 0, 255), ty = (row + j) & 255;
            const uint8_t* t = &logoImage[(ty * 256 + tx) * 2];
            const unsigned p = t[0] | t[1] << 8;
            const double weight = (i ? wu : 1 - wu) * (j ? wv : 1 - wv);
            rgb[0] += weight * ((p >> 11) * 255.0 / 31);
            rgb[1] += weight * (((p >> 5) & 63) * 255.0 / 63);
            rgb[2] += weight * ((p & 31) * 255.0 / 31);
        }
    }
}

} // namespace

TEST_F(CaptureScene, SoundIsTheSongAsTheDevicePlaysIt) {
    ASSERT_EQ(failure, "");
    ASSERT_EQ(int64_t(stats.size()), frames);
    // Every sound frame once, in order, equal to the song rendered straight through.
    EXPECT_EQ(soundChecked, soundPosition(frames, fps));
    EXPECT_EQ(soundDifferences, 0);
    // And it is music, not silence.
    int64_t loud = 0;
    for (int16_t s : referenceSound)
        loud += std::abs(int(s)) > 1000;
    EXPECT_GT(loud, int64_t(referenceSound.size() / 20));
}

TEST_F(CaptureScene, PanelsFlashInStepWithTheirInstruments) {
    ASSERT_EQ(failure, "");
    const int64_t peak = peakFrame();
    ASSERT_GT(peak, 0);
    // The main part starts after the peak; the frames right after it are still
    // white or nearly so, so flashes are looked for from the frame after those.
    int64_t whiteEnd = peak;
    while (stats[whiteEnd].allWhite)
        ++whiteEnd;
    const int64_t firstFrame = whiteEnd + 1;
    const int64_t mainStart = soundPosition(peak + 1, fps);
    const int64_t mainEnd = mainStart + mainPartSeconds * 44100;
    ASSERT_LE(mainEnd + 2 * blockLength, soundPosition(frames, fps));
    const int64_t tolerance = blockLength + soundPerFrame;

    for (int panel = 0; panel < 2; ++panel) {
        SCOPED_TRACE(panel == 0 ? "top panel" : "bottom panel");
        // A flash lifts the panel's body by far more than anything else in the scene
        // moves it: the white-out and the fade only ever darken it.
        std::vector<int64_t> flashes;
        double quietest = 1e9, busiest = 0;
        for (int64_t k = firstFrame; k < frames; ++k) {
            const double rise = stats[k].panelLevel[panel] - stats[k - 1].panelLevel[panel];
            if (rise > 20)
                flashes.push_back(k);
            else
                busiest = std::max(busiest, rise);
            if (rise > 20) quietest = std::min(quietest, rise);
        }
        int64_t checked = 0;
        for (int64_t start : noteStarts[panel]) {
            if (start < soundPosition(firstFrame, fps) || start >= mainEnd) continue;
            ++checked;
            const bool matched = std::any_of(flashes.begin(), flashes.end(), [&](int64_t k) {
                return std::abs(soundPosition(k, fps) - start) <= tolerance;
            });
            EXPECT_TRUE(matched) << "no flash near the note at sound frame " << start << " ("
                                 << start / 44100.0 << " s)";
        }
        int64_t flashesInMain = 0;
        for (int64_t k : flashes) {
            if (soundPosition(k, fps) >= mainEnd) continue;
            ++flashesInMain;
            const bool matched =
                std::any_of(noteStarts[panel].begin(), noteStarts[panel].end(), [&](int64_t s) {
                    return std::abs(soundPosition(k, fps) - s) <= tolerance;
                });
            EXPECT_TRUE(matched) << "flash without a note in frame " << k << " (" << double(k) / fps
                                 << " s)";
        }
        // Notes on the same row count once; rows are far longer than a block.
        EXPECT_GT(checked, panel == 0 ? 20 : 60);
        EXPECT_LE(flashesInMain, checked);
        RecordProperty(panel == 0 ? "topFlashes" : "bottomFlashes", int(flashesInMain));
        std::printf("%s: %lld notes, %lld flashes, smallest flash rise %.1f, largest other %.1f\n",
                    panel == 0 ? "top" : "bottom", (long long)checked, (long long)flashesInMain,
                    quietest, busiest);
    }
}

TEST_F(CaptureScene, OpeningShowsTheDateLineAndTheLogo) {
    ASSERT_EQ(failure, "");
    // The first frame starts the date line at brightness 0: all black.
    const std::vector<uint8_t>& first = frameAt(0);
    EXPECT_EQ(
        std::count_if(first.begin(), first.end(), [](uint8_t v) { return v != 0 && v != 255; }), 0);

    // 8 s in: the date line's real glyphs, fully faded in, zoomed to 0.5 + 0.05 t.
    const std::vector<uint8_t>& date = frameAt(8 * fps);
    const double zoom = 0.5 + 0.05 * 8;
    int64_t agree = 0, inBox = 0, litOutside = 0, litExpected = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            bool inside = false;
            const bool expected = dateLineLit(zoom, x, y, &inside);
            const bool lit = brightness(pixel(date, x, y)) >= 128;
            if (!inside) {
                litOutside += brightness(pixel(date, x, y)) > 0;
                continue;
            }
            ++inBox;
            litExpected += expected;
            agree += expected == lit;
        }
    }
    EXPECT_GT(litExpected, 400);
    EXPECT_GT(double(agree) / double(inBox), 0.95);
    EXPECT_EQ(litOutside, 0); // black around the line

    // 33.7 s: the logo held at full brightness across the middle, black above and below.
    const std::vector<uint8_t>& logo = frameAt(33700 * fps / 1000);
    double error = 0;
    int64_t bright = 0;
    for (int y = 206; y < 275; ++y) {
        for (int x = 0; x < 640; ++x) {
            double rgb[3];
            logoColour(x, y, rgb);
            const uint8_t* p = pixel(logo, x, y);
            for (int c = 0; c < 3; ++c)
                error += std::abs(p[c] - rgb[c]);
            bright += brightness(p) > 128;
        }
    }
    EXPECT_LT(error / (69.0 * 640 * 3), 2.0);
    EXPECT_GT(bright, 2000);
    int64_t litElsewhere = 0;
    for (int y = 0; y < 480; ++y)
        if (y < 200 || y > 281)
            for (int x = 0; x < 640; ++x)
                litElsewhere += brightness(pixel(logo, x, y)) > 0;
    EXPECT_EQ(litElsewhere, 0);
}

TEST_F(CaptureScene, WhiteOutPeaksInFullWhiteThenUncoversTheMainScene) {
    ASSERT_EQ(failure, "");
    const int64_t peak = peakFrame();
    // The logo holds until 34.5 s, then the white-out rises for a second.
    EXPECT_GE(double(peak) / fps, 35.3);
    EXPECT_LE(double(peak) / fps, 35.7);
    // Rising before the peak; at the peak and just after it (the level falls from
    // full by a fiftieth a frame over a bright scene) the screen is full white;
    // then never again.
    EXPECT_FALSE(stats[peak - 1].allWhite);
    int64_t white = 0;
    for (int64_t k = peak; k < frames; ++k) {
        if (!stats[k].allWhite) continue;
        ++white;
        EXPECT_LE(k, peak + 2) << "white again in frame " << k;
    }
    EXPECT_GE(white, 1);
    // Half a second later the white-out has fallen to about a half: nothing is black.
    int64_t dark = 0;
    for (int64_t k = peak + fps / 2; k == peak + fps / 2; ++k)
        dark += stats[k].panelLevel[1] < 100;
    EXPECT_EQ(dark, 0);
}

TEST_F(CaptureScene, MainSceneShowsBackgroundTubeTextAndPanels) {
    ASSERT_EQ(failure, "");
    const std::vector<uint8_t>& scene = frameAt(40 * fps);
    const std::vector<uint8_t>& later = frameAt(40 * fps + fps / 2);
    const std::vector<uint8_t>& much = frameAt(70 * fps);

    // Background: the left edge (clear of text, tube and panels) shows the picture
    // unchanged, and so does much of the whole screen.
    EXPECT_GT(backdropShare(scene, 0, 0, 24, 480), 0.97);
    EXPECT_GT(backdropShare(scene, 0, 0, 640, 480), 0.4);

    // Tube: in the right half between the panels, much is not the background, and
    // it moves from one frame to the next.
    for (const auto* frame : {&scene, &much})
        EXPECT_LT(backdropShare(*frame, 320, 64, 640, 416), 0.6);
    int64_t moved = 0;
    for (int y = 64; y < 416; ++y)
        for (int x = 320; x < 640; ++x)
            moved += std::abs(brightness(pixel(scene, x, y)) - brightness(pixel(later, x, y))) > 24;
    EXPECT_GT(moved, 10000);

    // Text: light letters left of the column's centre that the background does not
    // have, in other places five seconds later as the column scrolls.
    auto letters = [](const std::vector<uint8_t>& rgba) {
        std::vector<bool> mask(640 * 480);
        for (int y = 64; y < 416; ++y)
            for (int x = 24; x < 260; ++x) {
                const uint8_t* p = pixel(rgba, x, y);
                mask[y * 640 + x] =
                    std::min({p[0], p[1], p[2]}) >= 150 && !showsBackdrop(rgba, x, y);
            }
        return mask;
    };
    const std::vector<bool> now = letters(much), then = letters(frameAt(75 * fps));
    const int64_t lettersNow = std::count(now.begin(), now.end(), true);
    int64_t changed = 0;
    for (size_t i = 0; i < now.size(); ++i)
        changed += now[i] != then[i];
    EXPECT_GT(lettersNow, 2000);
    EXPECT_GT(changed, lettersNow / 2);

    // Panels: the inner texels of their opaque, light lettering show light on the
    // screen in both corners, and their translucent body tints what lies beneath.
    auto lightTexel = [](int panel, int sx, int sy) {
        if (sx < 0 || sx > 255 || sy < 0 || sy > 63) return false;
        const int ix = sx % 128, iy = sy + (sx >= 128 ? 64 : 0);
        const uint8_t* t = &panelImages[panel][(iy * 128 + ix) * 2];
        const unsigned v = t[0] | t[1] << 8;
        return (v >> 12) == 15 && std::min({(v >> 8) & 15, (v >> 4) & 15, v & 15}) >= 13;
    };
    for (int panel = 0; panel < 2; ++panel) {
        int64_t inner = 0, light = 0;
        for (int sy = 0; sy < 64; ++sy) {
            for (int sx = 0; sx < 256; ++sx) {
                // With its left and upper neighbours, so that a texel edge lying on a
                // pixel centre cannot decide the test.
                const bool all = lightTexel(panel, sx, sy) && lightTexel(panel, sx - 1, sy) &&
                                 lightTexel(panel, sx, sy - 1) && lightTexel(panel, sx - 1, sy - 1);
                if (!all) continue;
                ++inner;
                light += brightness(pixel(scene, 384 + sx, (panel == 0 ? 0 : 416) + sy)) >= 200;
            }
        }
        EXPECT_GT(inner, 30);
        EXPECT_EQ(light, inner) << "panel " << panel;
        EXPECT_LT(backdropShare(scene, 384, panel == 0 ? 0 : 416, 640, panel == 0 ? 64 : 480), 0.3);
    }
}
