// Process start to first presented frame: starts the intro's start-up program
// (app_first_frame_child, linked like velmora) and takes the time from just before
// the spawn to the moment it reports its first present. Run it inside an X server:
//   scripts/with-xvfb build/release/bench/app_first_frame_bench
// Sound goes to SDL's dummy driver, so that no box waits for a click.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

extern char** environ;

namespace {

long long monotonicNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Seconds from spawn to first present; negative when the child failed.
double startOnce() {
    int out[2];
    if (pipe(out) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(VELMORA_FIRST_FRAME_CHILD), nullptr};

    const long long started = monotonicNs();
    pid_t pid;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return -1;
    }
    std::string line;
    char buffer[64];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        line.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || line.empty()) return -1;
    return double(std::atoll(line.c_str()) - started) / 1e9;
}

void BM_ProcessStartToFirstFrame(benchmark::State& state) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    for (auto _ : state) {
        const double seconds = startOnce();
        if (seconds < 0) {
            state.SkipWithError("the start-up program failed (is an X server running?)");
            break;
        }
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_ProcessStartToFirstFrame)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
