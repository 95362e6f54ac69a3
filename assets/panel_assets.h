// Data of the two flashing corner panels (assets/data/panel_*.bin, made by the generator).
#pragma once
#include <cstdint>

extern "C" {
// Image 0 is the top strip, image 1 the bottom strip. Each is 128 x 128 A4R4G4B4
// (little-endian 16-bit words, top row first) holding a 256 x 64 strip folded in two:
// strip columns 0..127 are image rows 0..63, strip columns 128..255 image rows 64..127.
extern const uint8_t panelImages[2][32768];

// Instrument that flashes the top strip (17), then the bottom strip (1).
extern const int32_t panelTriggerInstruments[2];

// 48 vertices of 32 bytes (format 0x1C4): float x, y, z, rhw; uint32 diffuse, specular;
// float u, v. Vertices 0..23 the top strip (y 0..64), 24..47 the bottom one (y 416..480);
// four 64 x 64 quads per strip at x 384, 448, 512, 576, each two triangles ordered
// (left, top), (right, top), (left, bottom), (right, top), (right, bottom), (left, bottom).
// z 0.5, rhw 1.0, diffuse 0xFFFFFFFF, specular 0.
extern const uint8_t panelVertices[1536];
}
