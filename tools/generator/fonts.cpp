// FreeType glyph rendering and the two bitmap fonts: the opening's 64-glyph sheet and
// the text column's proportional font.
#include "fonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

const char* const juraBoldPath = "/usr/share/fonts/opentype/jura/Jura-Bold.otf";
const char* const spartanBlackPath =
    "/usr/share/fonts/opentype/league-spartan/LeagueSpartan-Black.otf";
const char* const spartanBoldPath =
    "/usr/share/fonts/opentype/league-spartan/LeagueSpartan-Bold.otf";

std::vector<std::string> requiredFontFiles() {
    return {juraBoldPath, spartanBlackPath, spartanBoldPath};
}

// ---- FreeType ----

namespace {

FT_Library library = nullptr;
std::map<std::string, FT_Face> faces;

// Exit code 3 means the fonts are not usable here (see main.cpp), 1 any other failure.
[[noreturn]] void fontFailure(const char* what, const char* path, int code) {
    std::fprintf(stderr, "velmora-assets: %s: %s\n", what, path);
    std::exit(code);
}

FT_Face faceFor(const char* path) {
    if (!library && FT_Init_FreeType(&library) != 0) fontFailure("FreeType did not start", path, 1);
    auto found = faces.find(path);
    if (found != faces.end()) return found->second;
    FT_Face face = nullptr;
    if (FT_New_Face(library, path, 0, &face) != 0) fontFailure("cannot load font", path, 3);
    faces[path] = face;
    return face;
}

void setSize(FT_Face face, float pixelSize, float xScale) {
    // 72 dpi makes one point one pixel; sizes are 26.6 fixed point.
    FT_Set_Char_Size(face, 0, FT_F26Dot6(std::lround(pixelSize * 64)), 72, 72);
    FT_Matrix matrix = {FT_Fixed(std::lround(xScale * 65536)), 0, 0, 0x10000};
    FT_Set_Transform(face, &matrix, nullptr);
}

} // namespace

GlyphBitmap renderGlyph(const char* fontPath, uint32_t code, float pixelSize, float xScale,
                        bool hinted) {
    FT_Face face = faceFor(fontPath);
    setSize(face, pixelSize, xScale);
    FT_Int32 flags = FT_LOAD_RENDER | (hinted ? FT_LOAD_TARGET_LIGHT : FT_LOAD_NO_HINTING);
    if (FT_Load_Char(face, code, flags) != 0) fontFailure("cannot render a glyph of", fontPath, 1);
    FT_GlyphSlot slot = face->glyph;
    GlyphBitmap glyph;
    glyph.width = int(slot->bitmap.width);
    glyph.height = int(slot->bitmap.rows);
    glyph.left = slot->bitmap_left;
    glyph.top = slot->bitmap_top;
    glyph.advance = float(slot->advance.x) / 64.0f;
    glyph.coverage.resize(size_t(glyph.width) * glyph.height);
    for (int y = 0; y < glyph.height; ++y)
        for (int x = 0; x < glyph.width; ++x)
            glyph.coverage[size_t(y) * glyph.width + x] =
                float(slot->bitmap.buffer[y * slot->bitmap.pitch + x]) / 255.0f;
    return glyph;
}

float kerningBetween(const char* fontPath, uint32_t left, uint32_t right, float pixelSize) {
    FT_Face face = faceFor(fontPath);
    if (!FT_HAS_KERNING(face)) return 0;
    setSize(face, pixelSize, 1.0f);
    FT_Vector delta{};
    FT_Get_Kerning(face, FT_Get_Char_Index(face, left), FT_Get_Char_Index(face, right),
                   FT_KERNING_UNFITTED, &delta);
    return float(delta.x) / 64.0f;
}

void closeFonts() {
    for (auto& [path, face] : faces)
        FT_Done_Face(face);
    faces.clear();
    if (library) FT_Done_FreeType(library);
    library = nullptr;
}

void writeGlyphRecord(ByteWriter& out, const GlyphRecord& record) {
    out.f32(record.uLeft);
    out.f32(record.vTop);
    out.f32(record.uRight);
    out.f32(record.vBottom);
    out.i32(record.width);
}

namespace {

std::vector<uint8_t> packSheet(const Picture& picture, Picture& decoded) {
    ByteWriter out;
    decoded = Picture(picture.width, picture.height);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            uint16_t v = packA4R4G4B4(picture.at(x, y), x, y, false);
            out.u16(v);
            decoded.at(x, y) = unpackA4R4G4B4(v);
        }
    return out.bytes;
}

// Extent of a set of glyphs around the baseline.
struct Extent {
    int ascent = 0, descent = 0, widest = 0;
};

Extent measure(const char* path, const std::string& characters, float size, bool hinted) {
    Extent e;
    for (char c : characters) {
        GlyphBitmap g = renderGlyph(path, uint8_t(c), size, 1.0f, hinted);
        if (g.width == 0) continue;
        e.ascent = std::max(e.ascent, g.top);
        e.descent = std::max(e.descent, g.height - g.top);
        e.widest = std::max(e.widest, g.width);
    }
    return e;
}

} // namespace

// ---- The opening font ----

namespace {

const char* const openingCharacters =
    " .0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

constexpr int openingCellWidth = 17, openingCellHeight = 25;
constexpr int openingGlyphWidth = 16, openingGlyphHeight = 24;
constexpr int openingColumns = 15;

} // namespace

uint8_t openingGlyphIndex(char c) {
    if (c == ' ') return 0;
    if (c == '.') return 1;
    if (c >= '0' && c <= '9') return uint8_t(2 + (c - '0'));
    if (c >= 'A' && c <= 'Z') return uint8_t(12 + (c - 'A'));
    if (c >= 'a' && c <= 'z') return uint8_t(38 + (c - 'a'));
    return 0xFF;
}

OpeningFont makeOpeningFont() {
    const char* path = juraBoldPath;
    const std::string characters = std::string(openingCharacters).substr(1);
    // The largest size whose ink fits rows 1..22 of the 24-row glyph box.
    float size = 30;
    Extent extent;
    for (;; size -= 0.25f) {
        extent = measure(path, characters, size, true);
        if (extent.ascent + extent.descent <= openingGlyphHeight - 2) break;
    }
    const int baseline = 1 + extent.ascent;
    const int maxInk = openingGlyphWidth - 3; // keeps at least 4 dark columns between letters

    Picture sheet(256, 256, {0, 0, 0, 0});
    for (int g = 0; g < 64; ++g) {
        char c = openingCharacters[g];
        if (c == ' ') continue;
        GlyphBitmap glyph = renderGlyph(path, uint8_t(c), size, 1.0f, true);
        if (glyph.width > maxInk)
            glyph = renderGlyph(path, uint8_t(c), size, float(maxInk) / float(glyph.width), true);
        int cellX = openingCellWidth * (g % openingColumns);
        int cellY = openingCellHeight * (g / openingColumns);
        // Each letter is centred in its box: the line is shown monospaced.
        int x0 = cellX + (openingGlyphWidth - glyph.width) / 2;
        int y0 = cellY + baseline - glyph.top;
        for (int y = 0; y < glyph.height; ++y)
            for (int x = 0; x < glyph.width; ++x) {
                int px = x0 + x, py = y0 + y;
                if (px < cellX || px >= cellX + openingGlyphWidth || py < cellY ||
                    py >= cellY + openingGlyphHeight)
                    continue;
                float v = glyph.at(x, y);
                sheet.at(px, py) = {v, v, v, v};
            }
    }

    OpeningFont font;
    font.sheetData = packSheet(sheet, font.sheet);
    ByteWriter d;
    d.i32(openingCellHeight);
    d.i32(256);
    for (int g = 0; g < 64; ++g) {
        int column = g % openingColumns, row = g / openingColumns;
        GlyphRecord r;
        r.uLeft = float(openingCellWidth * column) / 256.0f;
        r.vTop = float(openingCellHeight * row) / 256.0f;
        r.uRight = r.uLeft + float(openingGlyphWidth) / 256.0f;
        r.vBottom = r.vTop + float(openingGlyphHeight) / 256.0f;
        r.width = openingCellWidth;
        writeGlyphRecord(d, r);
    }
    for (int code = 0; code < 256; ++code)
        d.u8(openingGlyphIndex(char(code)));
    font.description = d.bytes;
    return font;
}

// ---- The text column's font ----

ScrollerFont makeScrollerFont() {
    const char* path = juraBoldPath;
    std::string characters;
    for (int c = 33; c <= 126; ++c)
        characters += char(c);
    constexpr int cellHeight = 20, rowPitch = 21, gap = 2, tracking = 1;

    float size = 19;
    Extent extent;
    for (;; size -= 0.25f) {
        extent = measure(path, characters, size, true);
        if (extent.ascent + extent.descent <= cellHeight) break;
    }
    const int baseline = extent.ascent;

    ScrollerFont font;
    Picture image(256, 256, {1, 1, 1, 0});
    ByteWriter records;
    int cursorX = 1, cursorY = 1;
    for (int i = 0; i < 94; ++i) {
        GlyphBitmap glyph = renderGlyph(path, uint32_t(33 + i), size, 1.0f, true);
        // The ink starts at its bearing from the pen; ink left of the pen is moved right
        // so that it stays inside the cell.
        int inkLeft = std::max(glyph.left, 0);
        int width = int(std::lround(glyph.advance)) + tracking;
        width = std::max(width, inkLeft + glyph.width + 1);
        int columns = width - 1;
        if (cursorX + columns + gap > 256) {
            cursorX = 1;
            cursorY += rowPitch;
        }
        for (int y = 0; y < glyph.height; ++y)
            for (int x = 0; x < glyph.width; ++x) {
                int py = cursorY + baseline - glyph.top + y;
                int px = cursorX + inkLeft + x;
                if (py < cursorY || py >= cursorY + cellHeight) continue;
                image.at(px, py).a = glyph.at(x, y);
            }
        GlyphRecord r;
        r.uLeft = float(cursorX) / 256.0f;
        r.uRight = float(cursorX + columns) / 256.0f;
        r.vTop = float(cursorY) / 256.0f;
        r.vBottom = r.vTop + float(cellHeight) / 256.0f;
        r.width = width;
        writeGlyphRecord(records, r);
        font.widths[i] = width;
        cursorX += columns + gap;
    }
    records.bytes.resize(5120, 0);
    font.records = records.bytes;
    font.imageData = packSheet(image, font.image);
    return font;
}

std::vector<uint8_t> scrollerFontHeader() {
    ByteWriter out;
    out.i32(1);
    out.i32(256);
    out.i32(scrollerLineHeight);
    return out.bytes;
}
