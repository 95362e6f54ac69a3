// The intro's computed pictures: the logo, the two corner panels and the background,
// each as stored bytes and as a decoded preview.
#pragma once
#include <cstdint>
#include <vector>

#include "raster.h"

// "VELMORA", 640 x 71, stored as a 256 x 256 R5G6B5 image in three bands of 256 columns.
struct Logo {
    Picture preview;           // 640 x 71, decoded from the stored texels
    std::vector<uint8_t> data; // 131072 bytes
};
Logo makeLogo();

// Two 256 x 64 strips with alpha, each stored folded as 128 x 128 A4R4G4B4.
struct Panels {
    Picture top, bottom;       // 256 x 64 previews, decoded from the stored texels
    std::vector<uint8_t> data; // 65536 bytes: top image, then bottom image
};
Panels makePanels();

// 768 x 512, stored as six 256 x 256 R5G6B5 tiles.
struct Backdrop {
    Picture preview;           // 768 x 512, decoded from the stored texels
    std::vector<uint8_t> data; // 786432 bytes
};
Backdrop makeBackdrop();

// Texel row of tile 0 that the tube takes its colours from, and the colour of the
// band at a texel column (period 256, so it wraps without a seam).
constexpr int tubeBandRow = 230;
Rgba tubeBandColour(int column);
