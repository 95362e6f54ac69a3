// Opening: three text lines, the logo and the white-out.
#pragma once
#include <cstdint>

int32_t initPictureSequence();
// -1: the opening owns the screen; 1: it is ending; 0: it is over.
int32_t renderPictureSequence();
void renderWhiteout();
void shutdownPictureSequence();
