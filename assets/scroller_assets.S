# The text column's font header, font image, glyph records and text block.
#include "embed.inc"
    embed_section velmora_scroller
    .balign 16
    embed scrollerFontHeader, "scroller_font_header.bin", 12
    embed scrollerFontImages, "scroller_font_images.bin", 131072
    embed scrollerGlyphRecords, "scroller_glyphs.bin", 5120
    embed scrollerText, "scroller_text.bin", 0
.LscrollerTextEnd:
    .balign 4
    embed_symbol scrollerTextSize
    .long .LscrollerTextEnd - scrollerText
    embed_size scrollerTextSize
