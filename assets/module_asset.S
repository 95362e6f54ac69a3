# The music module: byte count and XM file.
#include "embed.inc"
    embed_section velmora_module
    embed moduleImage, "module.bin", 0
