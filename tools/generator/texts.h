// The intro's words: the three opening lines and the invitation of the text column,
// stored in the forms the effects read.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "fonts.h"

// Date, venue and country of the opening, in step order.
const std::vector<std::string>& openingLineTexts();
// Three NUL-padded 32-byte fields.
std::vector<uint8_t> openingLinesData();

// The 96 lines of the invitation ("" for an empty line).
const std::vector<std::string>& invitationLines();
// Advance of a line at scale 1: glyph widths plus 10 pixels per space.
int32_t lineAdvance(const std::string& line, const ScrollerFont& font);
// The text block: line count, then per line uint16 byteCount [, int32 halfWidth, glyph
// bytes]. Exits with a message when a line cannot be stored as the text column needs it.
std::vector<uint8_t> scrollerTextData(const ScrollerFont& font);
