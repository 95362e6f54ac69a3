# The background picture's six tiles and their vertices.
    .include "embed.inc"
    .section .rodata.velmora_backdrop, "a"
    .balign 16
    embed backdropTileImages, "backdrop_tiles.bin", 786432
    embed backdropVertices, "backdrop_vertices.bin", 672
