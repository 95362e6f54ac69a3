// The web page's cards in the opening's lettering. Main thread only.
#include "app/page_cards.h"

#include "assets/opening_assets.h"

#include <cstring>

namespace {

constexpr int32_t width = 640;
constexpr int32_t height = 480;
// The glyph sheet's grid: glyph g in column g % 15, row g / 15 of 17 x 25 cells,
// filling the top-left 16 x 24 pixels of its cell.
constexpr int32_t cellWidth = 17;
constexpr int32_t cellHeight = 25;
constexpr int32_t glyphWidth = 16;
constexpr int32_t glyphHeight = 24;
constexpr int32_t cellsPerRow = 15;
constexpr int32_t sheetSize = 256;
constexpr int32_t fontMapOffset = 1288;

constexpr const char* title = "VELMORA 2027";
constexpr const char* dates = "Friday 13 to Sunday 15 August 2027";

// Coverage 0..15 of one sheet texel: the alpha nibble of the A4R4G4B4 word.
int32_t coverage(int32_t x, int32_t y) {
    const uint8_t high = glyphSheet[(y * sheetSize + x) * 2 + 1];
    return high >> 4;
}

// One line centred on the card, each glyph scaled up by `scale`, at `level` 0..255.
void drawLine(uint8_t* rgba, const char* text, int32_t top, int32_t scale, int32_t level) {
    const int32_t count = static_cast<int32_t>(std::strlen(text));
    int32_t left = (width - count * cellWidth * scale) / 2;
    for (int32_t i = 0; i < count; ++i, left += cellWidth * scale) {
        const uint8_t glyph = openingFont[fontMapOffset + static_cast<uint8_t>(text[i])];
        if (glyph == 0xFF) continue;
        const int32_t u = glyph % cellsPerRow * cellWidth;
        const int32_t v = glyph / cellsPerRow * cellHeight;
        for (int32_t y = 0; y < glyphHeight * scale; ++y)
            for (int32_t x = 0; x < glyphWidth * scale; ++x) {
                const int32_t px = left + x, py = top + y;
                if (px < 0 || px >= width || py < 0 || py >= height) continue;
                const int32_t alpha = coverage(u + x / scale, v + y / scale) * 17;
                uint8_t* pixel = rgba + (py * width + px) * 4;
                if (alpha <= pixel[3]) continue;
                pixel[0] = pixel[1] = pixel[2] = static_cast<uint8_t>(level);
                pixel[3] = static_cast<uint8_t>(alpha);
            }
    }
}

} // namespace

void drawPageCard(PageCard card, uint8_t* rgba640x480) {
    std::memset(rgba640x480, 0, static_cast<size_t>(width) * height * 4);
    drawLine(rgba640x480, title, 132, 3, 255);
    drawLine(rgba640x480, dates, 236, 1, 200);
    drawLine(rgba640x480,
             card == PageCard::start ? "click or press a key to start"
                                     : "click or press a key to play again",
             324, 1, 255);
}
