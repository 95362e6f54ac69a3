// The rising column of invitation text.
#pragma once
#include <cstdint>

int32_t initTextScroller();
void renderTextScroller();
void shutdownTextScroller();
