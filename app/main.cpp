// Process entry of the velmora executable: start-up, then the loop, which ends the
// process through fatalExit.
#include "app/run_stats.h"
#include "app/shell.h"

int main() {
    enableRunStatsFromEnvironment();
    startShell();
    runLoop();
}
