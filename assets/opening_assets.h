// Data of the opening: the glyph sheet with its font description, the three text
// lines and the logo (assets/data/opening_*.bin, made by the generator).
#pragma once
#include <cstdint>

extern "C" {
// 256 x 256 A4R4G4B4 (little-endian 16-bit words, top row first). White glyphs on black.
// Glyph g sits in column g % 15, row g / 15 of a grid of 17 x 25 pixel cells and fills
// the top-left 16 x 24 pixels of its cell.
extern const uint8_t glyphSheet[131072];

// Immediately follows glyphSheet in memory (glyphSheet + 131072 == openingFont):
//   0     int32 cell height (25)
//   4     int32 sheet size (256)
//   8     64 glyph records of 20 bytes: float uLeft, vTop, uRight, vBottom; int32 width (17)
//   1288  256-byte character map: code -> glyph 0..63, or 0xFF
// Map: ' ' -> 0, '.' -> 1, '0'..'9' -> 2..11, 'A'..'Z' -> 12..37, 'a'..'z' -> 38..63.
extern const uint8_t openingFont[1544];

// Three NUL-terminated lines of 32 bytes each, in step order: the date (10 characters),
// the venue (18 characters, one space) and the country (6 characters).
extern const char openingLines[3][32];

// 256 x 256 R5G6B5 holding the 640 x 71 logo in three bands of 256 columns stacked
// downwards: texel rows 0..70 = picture columns 0..255, rows 71..141 = columns
// 256..511, rows 142..212 = columns 512..639 in the left 128 texels; the rest black.
extern const uint8_t logoImage[131072];
}
