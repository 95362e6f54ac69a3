// Texture upload from embedded images: raw pixel arrays in a Direct3D pixel format
// (rows packed, top row first, no header) become device textures.
// Main thread only.
#pragma once
#include "gfx/device.h"

#include <cstdint>

// Creates a managed texture of width x height in `format` (one level when mipChain
// is 0, the whole chain otherwise) and copies `source` into it row by row,
// honouring the pitch of each locked level. When a chain is asked for, each level's
// data follows the previous level's directly. Returns 0, or -1 on failure; a
// texture created before a later failure stays in *texture for the caller to release.
int32_t uploadTexture(const uint8_t* source, Texture** texture, int32_t width, int32_t height,
                      uint32_t format, uint8_t mipChain);
