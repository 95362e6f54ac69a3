// Fixed lighting and camera data of the twisting tube (assets/data/tube_*.bin, made by
// the generator).
#pragma once
#include <cstdint>
#include "gfx/device.h"

static_assert(sizeof(Material) == 68 && sizeof(Light) == 104);

extern "C" {
// Diffuse (249, 208, 253)/255, ambient (134, 108, 136)/255, specular white, no emission,
// power 50.
extern const Material tubeMaterial;

// Directional (type 3), diffuse (0.7, 0.7, 0.7, 1), specular and ambient white,
// direction (0, 1, 0), everything else 0.
extern const Light tubeLight;

// Row-major, points as row vectors. View: rows (1,0,0,0), (0,0,1,0), (0,1,0,0), (0,0,500,1).
extern const float tubeViewMatrix[16];
// Left-handed perspective, near 1, far 1000: rows (2.4142926,0,0,0), (0,4.2920756,0,0),
// (0,0,1.001001,1), (0,0,-1.001001,0).
extern const float tubeProjectionMatrix[16];
}
