// velmora-capture: renders the intro offline, pictures and sound in exact step, into
// an MP4 video (through ffmpeg), numbered PNG frames with a WAV file, or a few PNG
// screenshots. Needs no screen and no sound card.
//
//   velmora-capture [--seconds N] [--fps N] --out FILE.mp4
//   velmora-capture [--seconds N] [--fps N] --frames DIR
//   velmora-capture [--fps N] [--frames DIR] --at T1,T2,...
//   velmora-capture --version
//
// Bad arguments, an output that cannot be written and a missing ffmpeg are reported
// in one line with exit code 1, and no half-written file is left behind.
#include "app/platform.h"
#include "app/shell.h"
#include "gfx/display.h"
#include "tools/capture/capture_output.h"
#include "tools/capture/capture_run.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

const char* program = "velmora-capture";

[[noreturn]] void failEarly(const std::string& problem, bool hint) {
    std::fprintf(stderr, "%s: %s%s\n", program, problem.c_str(),
                 hint ? " (see velmora-capture --help)" : "");
    std::exit(1);
}

void onSignal(int) {
    requestCaptureStop();
}

} // namespace

int main(int argc, char** argv) {
    CaptureOptions options;
    const std::string problem = parseCaptureOptions(argc - 1, argv + 1, &options);
    if (!problem.empty()) failEarly(problem, true);
    if (options.help) {
        std::fputs(captureUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s %s\n", program, VELMORA_VERSION);
        return 0;
    }
    if (options.mode == CaptureMode::video) {
        options.ffmpeg = findOnPath("ffmpeg");
        if (options.ffmpeg.empty())
            failEarly("ffmpeg is needed for --out but was not found on PATH; install it (Debian: "
                      "apt install ffmpeg) or use --frames DIR for PNG frames and a WAV file",
                      false);
    }
    const std::string target = checkCaptureTarget(options);
    if (!target.empty()) failEarly(target, false);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    startCaptureShell(options.fps);
    const std::string failure = runCapture(options, nullptr, true);
    if (failure.empty()) fatalExit(nullptr); // the intro's own end: teardown, code 0

    std::fprintf(stderr, "%s: %s\n", program, failure.c_str());
    shutdownDemoPlugins();
    shutdownSound();
    releaseDisplayDevice();
    exitProcess(1);
}
