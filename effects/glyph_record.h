// One glyph of an embedded bitmap font (both fonts use it): the texture coordinates
// of the glyph's left, top, right and bottom edges and its advance in pixels at
// scale 1; 20 bytes, little-endian.
#pragma once
#include <cstdint>

struct GlyphRecord {
    float uLeft, vTop, uRight, vBottom;
    int32_t width;
};
static_assert(sizeof(GlyphRecord) == 20);
