// The lit, twisting tube.
#pragma once
#include <cstdint>

int32_t initTube();
void renderTube();
void shutdownTube();

// The six phases p0..p5 (table units, in [0, 65536)) and the band scroll (in [0, 1))
// that the next frame will use.
void readTubePhases(float phases[6], float* scroll);
