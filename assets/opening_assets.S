# The opening's glyph sheet, font description (directly after the sheet), text lines, logo.
#include "embed.inc"
    embed_section velmora_opening
    .balign 16
    embed glyphSheet, "opening_glyph_sheet.bin", 131072
    embed openingFont, "opening_font.bin", 1544
    embed openingLines, "opening_lines.bin", 96
    .balign 16
    embed logoImage, "opening_logo.bin", 131072
