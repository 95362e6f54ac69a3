// The background picture in six tiles.
#pragma once
#include <cstdint>

int32_t initBackdrop();
void renderBackdrop();
void shutdownBackdrop();
