// Offline capture speed.
// - PngWriteBackdrop: one 640 x 480 PNG of the background picture (what most of a
//   main-scene frame is), as the capture writes thousands of them.
// - CaptureSixtySecondsToPng: the whole tool, 60 s of the intro at 60 fps into PNG
//   frames and a WAV file, wall time from start to exit (target: under 3 minutes).
//   Runs only with VELMORA_BENCH_FULL_CAPTURE=1, as it takes about a minute.
#include "assets/backdrop_assets.h"
#include "tools/capture/capture_output.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

// The upper-left 640 x 480 pixels of the 768 x 512 background, as RGBA.
std::vector<uint8_t> backdropPicture() {
    std::vector<uint8_t> rgba(640 * 480 * 4);
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const uint8_t* tile = backdropTileImages[(y / 256) * 3 + x / 256];
            const size_t at = (size_t(y % 256) * 256 + x % 256) * 2;
            const unsigned v = tile[at] | tile[at + 1] << 8;
            uint8_t* p = &rgba[(size_t(y) * 640 + x) * 4];
            p[0] = static_cast<uint8_t>((v >> 11) * 255 / 31);
            p[1] = static_cast<uint8_t>(((v >> 5) & 63) * 255 / 63);
            p[2] = static_cast<uint8_t>((v & 31) * 255 / 31);
            p[3] = 255;
        }
    }
    return rgba;
}

void PngWriteBackdrop(benchmark::State& state) {
    const std::vector<uint8_t> picture = backdropPicture();
    const std::string path = std::filesystem::temp_directory_path() / "velmora-bench-frame.png";
    for (auto _ : state) {
        const std::string failure = writePng(path, picture.data());
        if (!failure.empty()) state.SkipWithError(failure.c_str());
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(PngWriteBackdrop)->Unit(benchmark::kMillisecond);

void CaptureSixtySecondsToPng(benchmark::State& state) {
    const char* enabled = std::getenv("VELMORA_BENCH_FULL_CAPTURE");
    if (!enabled || std::string(enabled) != "1") {
        state.SkipWithError("set VELMORA_BENCH_FULL_CAPTURE=1 to run (about a minute)");
        for (auto _ : state) {
        }
        return;
    }
    const std::string folder = std::filesystem::temp_directory_path() /
                               ("velmora-bench-capture-" + std::to_string(getpid()));
    for (auto _ : state) {
        std::filesystem::remove_all(folder);
        const std::string seconds = "60", fps = "60";
        char* argv[] = {const_cast<char*>(VELMORA_CAPTURE_TOOL), const_cast<char*>("--seconds"),
                        const_cast<char*>(seconds.c_str()),      const_cast<char*>("--fps"),
                        const_cast<char*>(fps.c_str()),          const_cast<char*>("--frames"),
                        const_cast<char*>(folder.c_str()),       nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        if (spawned == 0) waitpid(pid, &status, 0);
        const double seconds_taken =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (spawned != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("velmora-capture failed");
        state.SetIterationTime(seconds_taken);
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(CaptureSixtySecondsToPng)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
