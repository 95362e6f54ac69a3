# The music module: byte count and XM file.
    .include "embed.inc"
    .section .rodata.velmora_module, "a"
    embed moduleImage, "module.bin", 0
