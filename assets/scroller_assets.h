// Data of the scrolling text column (assets/data/scroller_*.bin, made by the generator).
#pragma once
#include <cstdint>

extern "C" {
// Font texture count (1), texture size in pixels (256), line height in pixels (21).
extern const int32_t scrollerFontHeader[3];

// The font textures one after another: count x 256 x 256 A4R4G4B4 (little-endian 16-bit
// words, top row first); white, alpha from glyph coverage.
extern const uint8_t scrollerFontImages[131072];

// 256 glyph records of 20 bytes: float uLeft, vTop, uRight, vBottom; int32 width.
// Records 0..93 are the printable ASCII characters '!'..'~' (record = code - 33);
// records 94..255 are zero. Cells are 20 texels high, width - 1 texels wide.
extern const uint8_t scrollerGlyphRecords[5120];

// int32 line count (96), then the line records back to back:
//   uint16 byteCount; if byteCount != 0: int32 halfWidth, then byteCount glyph bytes
//   (0xFF = space, else a glyph record index). halfWidth = (sum of glyph widths +
//   10 per space) / 2, rounded down. Unaligned, little-endian.
extern const uint8_t scrollerText[];
extern const int32_t scrollerTextSize; // bytes of scrollerText, count included
}
