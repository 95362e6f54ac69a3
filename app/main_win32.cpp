// Process entry of velmora.exe: keeps the instance handle, then start-up and the
// loop, which ends the process through fatalExit.
#include "app/run_stats.h"
#include "app/shell.h"
#include "app/window_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    setAppInstance(instance);
    enableRunStatsFromEnvironment();
    startShell();
    runLoop();
}
