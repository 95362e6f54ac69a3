// The drawing conventions the plugins share: the pre-transformed vertex formats
// (screen pixels, Direct3D's pixel-centre convention) and the grey-level colour rule.
#pragma once
#include <cstdint>

#include "app/mathutil.h"

// Vertex format 0x144: x, y, z, rhw, diffuse ARGB, u, v (28 bytes).
struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u, v;
};
static_assert(sizeof(ScreenVertex) == 28);

// Vertex format 0x1C4: the same with a specular ARGB colour after the diffuse one (32 bytes).
struct SpecularScreenVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    uint32_t specular;
    float u, v;
};
static_assert(sizeof(SpecularScreenVertex) == 32);

// Opaque grey of a level nominally 0..1: red, green and blue all take the level byte;
// subtracting 0x01000000 turns the empty top byte into full alpha. The level is not
// clamped: a level outside 0..1 wraps around in the byte.
inline uint32_t greyLevelColor(float level) {
    return ((uint32_t(roundToInteger(level * 255.0f)) & 0xFF) * 0x010101u) - 0x01000000u;
}
