// The background picture in six tiles.
#pragma once
#include "gfx/device.h"

#include <cstdint>

int32_t initBackdrop();
void renderBackdrop();
void shutdownBackdrop();

// Texture of one of the six tiles (0..5), null when absent. The tube borrows tile 0.
Texture* backdropTile(int32_t tile);
