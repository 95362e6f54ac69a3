// Process start to first presented frame: starts the intro's start-up program
// (app_first_frame_child, linked like velmora) and takes the time from just before
// the spawn to the moment it reports its first present. Run it inside an X server:
//   scripts/with-xvfb build/release/bench/app_first_frame_bench
// Sound goes to SDL's dummy driver, so that no box waits for a click.
// The counter cpu_ms is the CPU time the start-up program had used by its first
// present: on a machine busy with other work the wall time mostly measures the
// waiting for a core, the CPU time stays comparable.
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

struct Start {
    double seconds;    // from spawn to first present; negative when the child failed
    double cpuSeconds; // CPU time of the child up to its first present
};

Start startOnce() {
    int out[2];
    if (pipe(out) != 0) return {-1, 0};
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
        return {-1, 0};
    }
    std::string line;
    char buffer[64];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        line.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long long presented = 0, cpu = 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(line.c_str(), "%lld %lld", &presented, &cpu) != 2)
        return {-1, 0};
    return {double(presented - started) / 1e9, double(cpu) / 1e9};
}

void BM_ProcessStartToFirstFrame(benchmark::State& state) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    for (auto _ : state) {
        const Start start = startOnce();
        if (start.seconds < 0) {
            state.SkipWithError("the start-up program failed (is an X server running?)");
            break;
        }
        state.SetIterationTime(start.seconds);
        state.counters["cpu_ms"] = start.cpuSeconds * 1e3;
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
