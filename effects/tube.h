// The lit, twisting tube.
#pragma once
#include <cstdint>

int32_t initTube();
void renderTube();
void shutdownTube();
