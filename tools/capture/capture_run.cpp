// The capture loop (see capture_run.h): per frame, the counter and the play
// position move on, the output side renders the blocks the device has finished,
// the shell composes the frame, the picture is read back before it is presented,
// and the sound that plays during the frame is taken from the ring.
// Main thread only.
#include "tools/capture/capture_run.h"

#include "app/counter_virtual.h"
#include "app/shell.h"
#include "audio/output.h"
#include "audio/waveout_virtual.h"
#include "gfx/device.h"
#include "gfx/device_gl.h"
#include "gfx/display.h"
#include "tools/capture/capture_output.h"
#include "tools/capture/capture_step.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopAsked = 0;

// ---- Progress bar ----

struct Progress {
    bool shown = false;
    bool terminal = false;
    int64_t frames = 0;
    int32_t fps = 60;
    int lastStep = -1; // percent on a terminal, tenths otherwise
    std::chrono::steady_clock::time_point start;
};

void showProgress(Progress& progress, int64_t done) {
    if (!progress.shown) return;
    const int percent = static_cast<int>(done * 100 / progress.frames);
    const int step = progress.terminal ? percent : percent / 10;
    if (step == progress.lastStep && done != progress.frames) return;
    progress.lastStep = step;
    constexpr int width = 30;
    char bar[width + 1];
    const int filled = static_cast<int>(done * width / progress.frames);
    for (int i = 0; i < width; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[width] = '\0';
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.start).count();
    const double rate = elapsed > 0 ? done / elapsed : 0;
    std::fprintf(stderr, "%s[%s] %3d%%  %.1f of %.1f s  %.0f frames/s%s",
                 progress.terminal ? "\r" : "", bar, percent, double(done) / progress.fps,
                 double(progress.frames) / progress.fps, rate, progress.terminal ? "" : "\n");
    std::fflush(stderr);
}

void endProgress(Progress& progress) {
    if (progress.shown && progress.terminal) std::fputc('\n', stderr);
    progress.shown = false;
}

// ---- Sound ----

// The sound frames [first, first + count) as the device plays them from the ring.
// Silence when no song plays (the module could not be loaded).
void takeSound(int64_t first, int64_t count, std::vector<int16_t>& out) {
    out.assign(static_cast<size_t>(count) * 2, 0);
    const int16_t* ring = virtualRing();
    const int64_t frames = virtualRingFrames();
    if (!ring || frames <= 0) return;
    int64_t at = first % frames;
    int64_t done = 0;
    while (done < count) {
        const int64_t piece = std::min(count - done, frames - at);
        std::memcpy(out.data() + done * 2, ring + at * 2, static_cast<size_t>(piece) * 4);
        done += piece;
        at = 0;
    }
}

} // namespace

void requestCaptureStop() {
    stopAsked = 1;
}

void startCaptureShell(int32_t fps) {
    // No screen, no X server: OpenGL through Mesa's EGL on SDL's offscreen driver.
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    // Ctrl+C is this program's to handle (it has files to clean up).
    setenv("SDL_NO_SIGNAL_HANDLERS", "1", 1);
    allowHeadlessDisplay(true);
    startCaptureClock(fps);
    startShell();
}

std::string runCapture(const CaptureOptions& options, const CaptureWatch* watch, bool progressBar) {
    const int32_t fps = options.fps;
    const int64_t frames = options.mode == CaptureMode::shots
                               ? shotsFrameCount(options.shotTimes, fps)
                               : captureFrameCount(options.lengthMs, fps);
    const bool video = options.mode == CaptureMode::video;
    const bool everyPicture = video || options.mode == CaptureMode::frames;
    const bool writeSound = video || options.mode == CaptureMode::frames;
    if (writeSound && soundPosition(frames, fps) > longestWavFrames)
        return "the capture is too long for a WAV file";

    std::string failure;
    if (options.mode != CaptureMode::none) failure = openStaging(options);
    if (failure.empty() && writeSound)
        failure = openWav(stagedPath(video ? "audio.wav" : soundFileName));
    if (failure.empty() && video)
        failure = startVideoEncoder(options.ffmpeg, stagedPath("video.mp4"), fps,
                                    stagedPath("ffmpeg.log"));
    if (!failure.empty()) {
        abandonStaging();
        return failure;
    }

    Progress progress;
    progress.shown = progressBar;
    progress.terminal = isatty(STDERR_FILENO) == 1;
    progress.frames = frames;
    progress.fps = fps;
    progress.start = std::chrono::steady_clock::now();
    showProgress(progress, 0);

    std::vector<uint8_t> picture(640 * 480 * 4);
    std::vector<int16_t> sound;
    size_t nextShot = 0;
    for (int64_t frame = 0; frame < frames && failure.empty(); ++frame) {
        if (stopAsked) {
            failure = "interrupted";
            break;
        }
        const int64_t position = soundPosition(frame, fps);
        composeCaptureFrame(frame, fps);
        bool shot = false;
        if (options.mode == CaptureMode::shots) {
            while (nextShot < options.shotTimes.size() &&
                   frameAtTime(options.shotTimes[nextShot], fps) < frame)
                ++nextShot;
            shot = nextShot < options.shotTimes.size() &&
                   frameAtTime(options.shotTimes[nextShot], fps) == frame;
        }
        const bool needPicture = everyPicture || shot || (watch && watch->frame);
        // Read before presenting: a swap leaves the back buffer undefined.
        if (needPicture) glDeviceReadPixels(picture.data());
        devicePresent();

        if (everyPicture || shot) {
            if (video)
                failure = sendVideoFrame(picture.data());
            else
                failure = writePng(stagedPath(frameFileName(frame)), picture.data());
        }
        if (failure.empty() && watch && watch->frame)
            watch->frame(frame, picture.data(), watch->context);

        const int64_t count = soundPosition(frame + 1, fps) - position;
        if (failure.empty() && (writeSound || (watch && watch->sound))) {
            takeSound(position, count, sound);
            if (writeSound) failure = appendWav(sound.data(), count);
            if (failure.empty() && watch && watch->sound)
                watch->sound(frame, position, sound.data(), count, watch->context);
        }
        showProgress(progress, frame + 1);
    }
    endProgress(progress);

    if (failure.empty() && writeSound) failure = closeWav();
    if (failure.empty() && video) failure = finishVideoEncoder();
    if (failure.empty() && video)
        failure = muxVideo(options.ffmpeg, stagedPath("video.mp4"), stagedPath("audio.wav"),
                           stagedPath(stagedVideoName), stagedPath("ffmpeg.log"));
    // Ctrl+C while ffmpeg was finishing still means: no output.
    if (failure.empty() && stopAsked) failure = "interrupted";
    if (failure.empty() && options.mode != CaptureMode::none) failure = commitStaging(options);
    if (!failure.empty()) abandonStaging();
    return failure;
}
