// The intro's start-up followed by one frame, for the start-up benchmark: prints the
// CLOCK_MONOTONIC time (ns) at which the first frame has been presented and the CPU
// time (ns, all threads) the process had used by then, then ends through fatalExit
// like the intro does. Linked exactly as velmora is.
#include "app/shell.h"

#include <cstdio>
#include <ctime>

int main() {
    startShell();
    renderFrame();
    timespec now, cpu;
    clock_gettime(CLOCK_MONOTONIC, &now);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    std::printf("%lld %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec,
                static_cast<long long>(cpu.tv_sec) * 1000000000LL + cpu.tv_nsec);
    std::fflush(stdout);
    fatalExit(nullptr);
}
