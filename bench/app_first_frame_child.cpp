// The intro's start-up followed by one frame, for the start-up benchmark: prints the
// CLOCK_MONOTONIC time (ns) at which the first frame has been presented, then ends
// through fatalExit like the intro does. Linked exactly as velmora is.
#include "app/shell.h"

#include <cstdio>
#include <ctime>

int main() {
    startShell();
    renderFrame();
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::printf("%lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    std::fflush(stdout);
    fatalExit(nullptr);
}
