// Placeholder plugins: each is replaced by its own source file as it is written.
#include "effects/backdrop.h"
#include "effects/text_scroller.h"
#include "effects/tube.h"

int32_t initTextScroller() { return 0; }
void renderTextScroller() {}
void shutdownTextScroller() {}
int32_t initTube() { return 0; }
void renderTube() {}
void shutdownTube() {}
int32_t initBackdrop() { return 0; }
void renderBackdrop() {}
void shutdownBackdrop() {}
