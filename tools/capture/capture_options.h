// The command line of velmora-capture and the timing of a capture: which frames are
// drawn, where each one stands on the music's 44100 Hz time line, and how the virtual
// performance counter advances. Platform-free; used on the main thread only.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class CaptureMode : uint8_t {
    none,   // nothing is written (in-process users watch the frames themselves)
    video,  // --out FILE.mp4: raw frames through ffmpeg, muxed with the sound
    frames, // --frames DIR: every frame as a PNG file, and the sound as a WAV file
    shots,  // --at T1,T2,...: PNG screenshots at those times only
};

struct CaptureOptions {
    CaptureMode mode = CaptureMode::none;
    int32_t fps = 60;
    int64_t lengthMs = 60000;       // --seconds, in milliseconds
    std::string videoPath;          // --out
    std::string folder;             // --frames, or "." for --at without --frames
    std::vector<int64_t> shotTimes; // --at, in milliseconds, ascending, no repeats
    bool help = false;
    bool version = false; // --version: print the release version and stop
    std::string ffmpeg;   // full path of ffmpeg for --out; found on PATH by the program
};

inline constexpr int32_t captureSampleRate = 44100;
inline constexpr int32_t lowestFps = 1;
inline constexpr int32_t highestFps = 240;
inline constexpr int64_t longestCaptureMs = 3600 * 1000;

// Reads the arguments after the program name. Returns "" on success, otherwise one
// line saying what is wrong (options is then unspecified).
std::string parseCaptureOptions(int argc, const char* const* argv, CaptureOptions* options);

// The usage text printed by --help.
const char* captureUsage();

// Reads a non-negative decimal number of seconds with at most three decimals
// ("12", "0.5", "40.125"), at most an hour, into milliseconds. False for anything
// else.
bool parseSeconds(const char* text, int64_t* milliseconds);

// ---- Timing ----

// Frames of a capture of `milliseconds` at `fps`: the length rounded to whole
// frames (halves up), at least one.
int64_t captureFrameCount(int64_t milliseconds, int32_t fps);

// The frame shown at `milliseconds`: the nearest one, halves up.
int64_t frameAtTime(int64_t milliseconds, int32_t fps);

// The sound frame (at 44100 Hz) the device has reached when video frame `frame` is
// drawn: frame / fps seconds, rounded down. Frame k is on screen while the sound
// frames from soundPosition(k) up to soundPosition(k + 1) play.
int64_t soundPosition(int64_t frame, int32_t fps);

// The virtual counter runs at 65536 ticks per video frame: one frame advances it by
// exactly 65536 ticks, so the frame clock's 16.16 quantisation leaves a remainder
// (at 60 fps, 16 ticks a frame) that it carries into the next frame.
inline constexpr uint64_t counterTicksPerFrame = 65536;
inline uint64_t captureCounterFrequency(int32_t fps) {
    return counterTicksPerFrame * static_cast<uint64_t>(fps);
}
// The counter's value when the intro starts. The random generator is seeded from it,
// so it is fixed: every capture scrambles the opening's letters the same way.
inline constexpr uint64_t captureCounterStart = 0x56454c4d; // "VELM"

// Frames of the stream whose every shot has been taken: the last shot's frame + 1.
int64_t shotsFrameCount(const std::vector<int64_t>& shotTimes, int32_t fps);

// The name of frame `frame` in a frames folder: frame-000042.png.
std::string frameFileName(int64_t frame);
