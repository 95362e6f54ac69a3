// Glyph rendering with FreeType from the fonts of Debian's font packages, and the two
// bitmap fonts of the intro: the opening's monospaced glyph sheet and the text column's
// proportional font.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "raster.h"

// ---- Font files ----
// Paths of the font files the generator uses (Debian packages fonts-jura and
// fonts-league-spartan).
extern const char* const juraBoldPath;
extern const char* const spartanBlackPath;
extern const char* const spartanBoldPath;
// Every font file the generator reads, for the check before any work starts.
std::vector<std::string> requiredFontFiles();

// ---- Glyph rendering ----
struct GlyphBitmap {
    int width = 0, height = 0; // of the coverage bitmap
    int left = 0;              // pen x to the bitmap's left column
    int top = 0;               // baseline to the bitmap's top row (up is positive)
    float advance = 0;         // pen advance in pixels
    std::vector<float> coverage;
    float at(int x, int y) const { return coverage[size_t(y) * width + x]; }
};

// Renders one character at a pixel height (the em size), squeezed horizontally by
// xScale. Hinted rendering snaps stems to pixels for small text. Exits the program
// with a message if the font cannot be loaded.
GlyphBitmap renderGlyph(const char* fontPath, uint32_t code, float pixelSize, float xScale,
                        bool hinted);
// Kerning between two characters in pixels at the given size (0 when the font has none).
float kerningBetween(const char* fontPath, uint32_t left, uint32_t right, float pixelSize);
void closeFonts();

// Glyph record of the shared 20-byte layout.
struct GlyphRecord {
    float uLeft, vTop, uRight, vBottom;
    int32_t width;
};
void writeGlyphRecord(ByteWriter& out, const GlyphRecord& record);

// ---- The opening font ----
// 64 glyphs: space, '.', '0'..'9', 'A'..'Z', 'a'..'z', each in the top-left 16 x 24 of a
// 17 x 25 cell, 15 cells per row.
struct OpeningFont {
    Picture sheet;                    // 256 x 256 as stored (decoded back), for the preview
    std::vector<uint8_t> sheetData;   // 131072 bytes A4R4G4B4
    std::vector<uint8_t> description; // 1544 bytes: cell height, size, 64 records, map
};
OpeningFont makeOpeningFont();
// Glyph index of a character in the opening font, or 0xFF.
uint8_t openingGlyphIndex(char c);

// ---- The text column's font ----
// Records 0..93 hold '!'..'~'; cells 20 texels high, width - 1 texels wide.
struct ScrollerFont {
    Picture image;                  // 256 x 256 as stored (decoded back), for the preview
    std::vector<uint8_t> imageData; // 131072 bytes A4R4G4B4
    std::vector<uint8_t> records;   // 5120 bytes: 256 records, 94..255 zero
    int32_t widths[94] = {};
};
constexpr int32_t scrollerLineHeight = 21;
constexpr int32_t scrollerSpaceAdvance = 10; // half the line height, ties to even
ScrollerFont makeScrollerFont();
std::vector<uint8_t> scrollerFontHeader();
