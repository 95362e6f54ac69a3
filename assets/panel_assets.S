# The corner panels' images, trigger instruments and vertices.
#include "embed.inc"
    embed_section velmora_panels
    .balign 16
    embed panelImages, "panel_images.bin", 65536
    embed panelTriggerInstruments, "panel_triggers.bin", 8
    embed panelVertices, "panel_vertices.bin", 1536
