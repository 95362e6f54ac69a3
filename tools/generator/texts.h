// The stored forms of the intro's words: the three opening lines and the invitation of
// the text column as the effects read them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "fonts.h"
#include "words.h"

// Three NUL-padded 32-byte fields.
std::vector<uint8_t> openingLinesData();

// Advance of a line at scale 1: glyph widths plus 10 pixels per space.
int32_t lineAdvance(const std::string& line, const ScrollerFont& font);
// The text block: line count, then per line uint16 byteCount [, int32 halfWidth, glyph
// bytes]. Exits with a message when a line cannot be stored as the text column needs it.
std::vector<uint8_t> scrollerTextData(const ScrollerFont& font);
