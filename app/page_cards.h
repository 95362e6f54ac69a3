// The cards of the web page, drawn in the intro's own lettering (the opening's
// embedded glyph sheet): the start card shown until sound may play and the end card
// that offers to play again. Platform-free; main thread only.
#pragma once
#include <cstdint>

enum class PageCard : int32_t {
    start = 0, // "VELMORA 2027", the dates, "click or press a key to start"
    again = 1, // the same, ending "click or press a key to play again"
};

// A 640 x 480 straight-alpha RGBA picture (top row first) of `card`: white letters
// on transparent ground. The buffer is the caller's.
void drawPageCard(PageCard card, uint8_t* rgba640x480);
