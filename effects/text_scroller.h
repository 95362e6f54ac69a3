// The rising column of invitation text.
#pragma once
#include <cstdint>

int32_t initTextScroller();
void renderTextScroller();
void shutdownTextScroller();

// The text the next init lays out: a line count followed by the line records, in the
// stored form of the embedded text (assets/scroller_assets.h), `size` bytes in all.
// Null goes back to the embedded text, which is what the program always shows; tests
// name texts of their own. The bytes must stay alive until shutdown.
void setTextScrollerText(const uint8_t* text, int32_t size);

// How often the quad buffer has been laid out again from its start since the program
// started, for the run statistics (VELMORA_STATS) of long test runs.
int32_t textScrollerRestarts();
