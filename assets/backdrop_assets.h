// Data of the background picture (assets/data/backdrop_*.bin, made by the generator).
#pragma once
#include <cstdint>

extern "C" {
// The 768 x 512 picture as six 256 x 256 R5G6B5 tiles (little-endian 16-bit words, top
// row first); tiles 0, 1, 2 are the top row left to right, 3, 4, 5 the bottom row.
// Texel row 230 of tile 0 is the tube's colour band.
extern const uint8_t backdropTileImages[6][131072];

// 24 vertices of 28 bytes (format 0x144): float x, y, z, rhw; uint32 diffuse; float u, v.
// Four per tile, in the order top-left (u 0, v 0), top-right (1, 0), bottom-left (0, 1),
// bottom-right (1, 1); tile t covers x 256 (t % 3) .. +256, y 256 (t / 3) .. +256.
// z 1.0, rhw 1.0, diffuse 0xFFFFFFFF.
extern const uint8_t backdropVertices[672];
}
