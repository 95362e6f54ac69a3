// Two corner strips that flash on instruments of the music.
#pragma once
#include <cstdint>

int32_t initCornerPanels();
void renderCornerPanels();
void shutdownCornerPanels();
