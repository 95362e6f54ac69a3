// Run statistics: the line printed at exit when VELMORA_STATS is set. It is printed
// from an exit handler, after fatalExit has torn everything down; the counters it
// reads outlive the song and the plugins. Main thread only.
#include "app/run_stats.h"

#include "audio/output.h"
#include "effects/text_scroller.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace {
void printRunStats() {
    const OutputHealth health = outputHealth();
    // After fatalExit's teardown no song plays any more: its ring is gone.
    SyncRecord record;
    const int32_t playing = heardSyncRecord(&record) ? 1 : 0;
    // sampleRate keeps the rate of the last opened output.
    const double rate = sampleRate > 0 ? double(sampleRate) : 44100.0;
    const double leadMs =
        health.shortestLeadFrames < 0 ? -1.0 : double(health.shortestLeadFrames) * 1000.0 / rate;
    std::fprintf(stderr,
                 "velmora stats: blocks-rendered=%" PRIu64
                 " longest-catch-up=%d ring-overruns=%d shortest-lead-ms=%.1f song-loops=%d "
                 "scroller-restarts=%d playing-at-exit=%d\n",
                 health.blocksRendered, health.longestCatchUp, health.ringOverruns, leadMs,
                 health.songLoops, textScrollerRestarts(), playing);
    std::fflush(stderr);
}
} // namespace

void enableRunStatsFromEnvironment() {
    const char* value = std::getenv("VELMORA_STATS");
    if (value && *value && *value != '0') std::atexit(printRunStats);
}
