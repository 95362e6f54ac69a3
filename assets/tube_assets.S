# The tube's material, light, view and projection matrices.
#include "embed.inc"
    embed_section velmora_tube
    .balign 16
    embed tubeMaterial, "tube_material.bin", 68
    embed tubeLight, "tube_light.bin", 104
    embed tubeViewMatrix, "tube_view.bin", 64
    embed tubeProjectionMatrix, "tube_projection.bin", 64
