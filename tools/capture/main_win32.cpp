// velmora-capture.exe: the still mode of velmora-capture on Windows. Draws the intro
// through the Direct3D 8 device on its full-screen display, frame by frame on the
// virtual counter and the virtual wave output exactly as the Linux tool does, and
// writes PNG screenshots at the given times:
//
//   velmora-capture [--fps N] [--frames DIR] --at T1,T2,...
//
// The pictures are read back from a lockable back buffer before each present. They
// are written under temporary names and renamed only when every shot has been
// taken, so a failed run leaves no picture behind. Bad arguments and failures are
// reported in one line with exit code 1. Main thread only.
#include "app/platform.h"
#include "app/shell.h"
#include "app/window_events.h"
#include "gfx/device.h"
#include "gfx/device_d3d8.h"
#include "gfx/display.h"
#include "tools/capture/capture_options.h"
#include "tools/capture/capture_step.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* program = "velmora-capture";

[[noreturn]] void failEarly(const std::string& problem, bool hint) {
    std::fprintf(stderr, "%s: %s%s\n", program, problem.c_str(),
                 hint ? " (see velmora-capture --help)" : "");
    std::exit(1);
}

struct Shot {
    int64_t frame;
    fs::path part;  // written while the capture runs
    fs::path final; // its name once every shot has been taken
};

void removeParts(const std::vector<Shot>& shots) {
    std::error_code error;
    for (const Shot& shot : shots)
        fs::remove(shot.part, error);
}

// Takes every shot; "" on success, else what went wrong.
std::string takeShots(std::vector<Shot>& shots, int32_t fps) {
    int64_t frames = 0;
    for (const Shot& shot : shots)
        frames = std::max(frames, shot.frame + 1);
    std::vector<uint8_t> picture(640 * 480 * 4);
    for (int64_t frame = 0; frame < frames; ++frame) {
        // As the intro's loop does: Wine's window system works through the messages,
        // and without them its presentation stalls now and then.
        WindowEvent event;
        while (pollWindowEvent(&event))
            dispatchWindowEvent(event);
        composeCaptureFrame(frame, fps);
        bool read = false;
        for (const Shot& shot : shots) {
            if (shot.frame != frame) continue;
            if (!read && d3d8DeviceReadPixels(picture.data()) != 0)
                return "cannot read the picture back from the display device";
            read = true;
            const std::string part = shot.part.string();
            if (!stbi_write_png(part.c_str(), 640, 480, 4, picture.data(), 640 * 4))
                return "cannot write '" + part + "'";
        }
        devicePresent();
    }
    for (size_t i = 0; i < shots.size(); ++i) {
        std::error_code error;
        fs::rename(shots[i].part, shots[i].final, error);
        if (!error) continue;
        // All or nothing: the pictures already in place go again.
        for (size_t j = 0; j < i; ++j)
            fs::remove(shots[j].final, error);
        return "cannot write '" + shots[i].final.string() + "': " + error.message();
    }
    return "";
}

} // namespace

int main(int argc, char** argv) {
    CaptureOptions options;
    const std::string problem = parseCaptureOptions(argc - 1, argv + 1, &options);
    if (!problem.empty()) failEarly(problem, true);
    if (options.help) {
        std::fputs(captureUsage(), stdout);
        std::fputs("This build takes screenshots only (--at).\n", stdout);
        return 0;
    }
    if (options.mode != CaptureMode::shots)
        failEarly("this build takes screenshots only: use --at", true);

    const fs::path folder(options.folder);
    std::error_code error;
    if (!fs::is_directory(folder, error) && !fs::create_directory(folder, error))
        failEarly("cannot make folder '" + options.folder + "'" +
                      (error ? ": " + error.message() : std::string()),
                  false);
    std::vector<Shot> shots;
    for (int64_t ms : options.shotTimes) {
        const int64_t frame = frameAtTime(ms, options.fps);
        if (!shots.empty() && shots.back().frame == frame) continue;
        const std::string name = frameFileName(frame);
        shots.push_back({frame, folder / ("." + name + ".part"), folder / name});
    }

    requestLockableBackBuffer(true);
    startCaptureClock(options.fps);
    startShell();
    const std::string failure = takeShots(shots, options.fps);
    if (failure.empty()) fatalExit(nullptr); // the intro's own end: teardown, code 0

    removeParts(shots);
    std::fprintf(stderr, "%s: %s\n", program, failure.c_str());
    shutdownDemoPlugins();
    shutdownSound();
    releaseDisplayDevice();
    exitProcess(1);
}
