# The background picture's six tiles and their vertices.
#include "embed.inc"
    embed_section velmora_backdrop
    .balign 16
    embed backdropTileImages, "backdrop_tiles.bin", 786432
    embed backdropVertices, "backdrop_vertices.bin", 672
