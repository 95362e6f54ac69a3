// The embedded assets: byte layouts, the exact fixed data, the stored text rules, and a
// few checks on the pictures that keep them usable (black where a layout says black,
// quiet behind the text column, a real colour band for the tube).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "assets/backdrop_assets.h"
#include "assets/module_asset.h"
#include "assets/opening_assets.h"
#include "assets/panel_assets.h"
#include "assets/scroller_assets.h"
#include "assets/tube_assets.h"

namespace {

int32_t i32At(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint32_t u32At(const uint8_t* p) {
    return uint32_t(i32At(p));
}
float f32At(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}
uint16_t u16At(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

struct Glyph {
    float uLeft, vTop, uRight, vBottom;
    int32_t width;
};
Glyph glyphAt(const uint8_t* records, int index) {
    const uint8_t* p = records + 20 * index;
    return {f32At(p), f32At(p + 4), f32At(p + 8), f32At(p + 12), i32At(p + 16)};
}

std::vector<uint8_t> committedFile(const char* name) {
    std::ifstream in(std::string(VELMORA_SOURCE_DIR) + "/assets/data/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Luminance of an R5G6B5 texel, 0..1.
float luminance565(uint16_t v) {
    float r = float(v >> 11) / 31, g = float((v >> 5) & 63) / 63, b = float(v & 31) / 31;
    return 0.2126f * r + 0.7152f * g + 0.0722f * b;
}

uint16_t backdropTexel(int x, int y) { // in the 768 x 512 picture
    int tile = (y / 256) * 3 + x / 256;
    return u16At(&backdropTileImages[tile][((y % 256) * 256 + x % 256) * 2]);
}

} // namespace

TEST(EmbeddedAssets, SymbolsHoldTheCommittedFilesByteForByte) {
    struct Item {
        const char* file;
        const void* symbol;
        size_t size;
    };
    const Item items[] = {
        {"opening_glyph_sheet.bin", glyphSheet, sizeof glyphSheet},
        {"opening_font.bin", openingFont, sizeof openingFont},
        {"opening_lines.bin", openingLines, sizeof openingLines},
        {"opening_logo.bin", logoImage, sizeof logoImage},
        {"panel_images.bin", panelImages, sizeof panelImages},
        {"panel_triggers.bin", panelTriggerInstruments, 8},
        {"panel_vertices.bin", panelVertices, sizeof panelVertices},
        {"scroller_font_header.bin", scrollerFontHeader, 12},
        {"scroller_font_images.bin", scrollerFontImages, sizeof scrollerFontImages},
        {"scroller_glyphs.bin", scrollerGlyphRecords, sizeof scrollerGlyphRecords},
        {"scroller_text.bin", scrollerText, size_t(scrollerTextSize)},
        {"tube_material.bin", &tubeMaterial, sizeof tubeMaterial},
        {"tube_light.bin", &tubeLight, sizeof tubeLight},
        {"tube_view.bin", tubeViewMatrix, 64},
        {"tube_projection.bin", tubeProjectionMatrix, 64},
        {"backdrop_tiles.bin", backdropTileImages, sizeof backdropTileImages},
        {"backdrop_vertices.bin", backdropVertices, sizeof backdropVertices},
    };
    for (const Item& item : items) {
        std::vector<uint8_t> file = committedFile(item.file);
        ASSERT_EQ(file.size(), item.size) << item.file;
        EXPECT_EQ(std::memcmp(file.data(), item.symbol, item.size), 0) << item.file;
    }
    // The module: a little-endian byte count, then exactly that many bytes of XM.
    std::vector<uint8_t> module = committedFile("module.bin");
    ASSERT_GE(module.size(), 4u + 80u);
    uint32_t count = u32At(moduleImage);
    EXPECT_EQ(count + 4, module.size());
    EXPECT_LE(count, 128u * 1024u);
    EXPECT_EQ(std::memcmp(module.data(), moduleImage, module.size()), 0);
    EXPECT_EQ(std::memcmp(moduleImage + 4, "Extended Module: ", 17), 0);
    // The glyph sheet's description follows the sheet directly in memory.
    EXPECT_EQ(static_cast<const void*>(glyphSheet + 131072), static_cast<const void*>(openingFont));
}

TEST(EmbeddedAssets, ModuleHeaderHasThePlayersFacts) {
    const uint8_t* xm = moduleImage + 4;
    EXPECT_EQ(u16At(xm + 68), 20);             // channels
    EXPECT_EQ(u16At(xm + 70), 12);             // stored patterns
    EXPECT_EQ(u16At(xm + 74) & 1, 1);          // linear frequency table
    EXPECT_EQ(u16At(xm + 76), 4);              // ticks per row
    EXPECT_EQ(u16At(xm + 78), 68);             // beats per minute
    EXPECT_GE(u16At(xm + 72), 17);             // instruments 1 and 17 drive the panels
    EXPECT_LT(u16At(xm + 66), u16At(xm + 64)); // restart inside the song
}

TEST(OpeningAssets, FontDescriptionRecordsAndCharacterMap) {
    EXPECT_EQ(i32At(openingFont), 25);
    EXPECT_EQ(i32At(openingFont + 4), 256);
    for (int g = 0; g < 64; ++g) {
        Glyph r = glyphAt(openingFont + 8, g);
        int column = g % 15, row = g / 15;
        EXPECT_EQ(r.uLeft, 17.0f * float(column) / 256.0f) << g;
        EXPECT_EQ(r.vTop, 25.0f * float(row) / 256.0f) << g;
        EXPECT_EQ(r.uRight, r.uLeft + 16.0f / 256.0f) << g;
        EXPECT_EQ(r.vBottom, r.vTop + 24.0f / 256.0f) << g;
        EXPECT_EQ(r.width, 17) << g;
    }
    const uint8_t* map = openingFont + 1288;
    for (int code = 0; code < 256; ++code) {
        int expected = 0xFF;
        if (code == ' ') expected = 0;
        if (code == '.') expected = 1;
        if (code >= '0' && code <= '9') expected = 2 + code - '0';
        if (code >= 'A' && code <= 'Z') expected = 12 + code - 'A';
        if (code >= 'a' && code <= 'z') expected = 38 + code - 'a';
        EXPECT_EQ(map[code], expected) << "code " << code;
    }
}

TEST(OpeningAssets, GlyphSheetInkStaysInsideTheGlyphBoxes) {
    // Colour channels of a texel (alpha does not matter: the text is drawn unblended).
    auto colour = [](int x, int y) { return u16At(&glyphSheet[(y * 256 + x) * 2]) & 0x0FFF; };
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            int column = x / 17, row = y / 25, g = row * 15 + column;
            bool insideBox = column < 15 && g < 64 && x % 17 < 16 && y % 25 < 24;
            if (!insideBox) {
                ASSERT_EQ(colour(x, y), 0) << x << "," << y;
            }
        }
    for (int g = 0; g < 64; ++g) {
        int ink = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 16; ++x) {
                uint16_t c = uint16_t(colour(17 * (g % 15) + x, 25 * (g / 15) + y));
                // White on black: the three channels are equal.
                EXPECT_TRUE((c >> 8) == ((c >> 4) & 15) && (c >> 8) == (c & 15));
                ink += c != 0;
            }
        if (g == 0)
            EXPECT_EQ(ink, 0) << "space";
        else
            EXPECT_GT(ink, 3) << "glyph " << g;
    }
}

TEST(OpeningAssets, TextLinesAreTheDateVenueAndCountry) {
    const uint8_t* map = openingFont + 1288;
    const size_t lengths[3] = {10, 18, 6};
    for (int i = 0; i < 3; ++i) {
        const char* line = openingLines[i];
        size_t n = strnlen(line, 32);
        ASSERT_EQ(n, lengths[i]) << "line " << i;
        for (size_t c = 0; c < n; ++c)
            EXPECT_NE(map[uint8_t(line[c])], 0xFF) << line;
        for (size_t c = n; c < 32; ++c)
            EXPECT_EQ(line[c], 0);
    }
    // dd.mm.yyyy
    const char* date = openingLines[0];
    for (int c = 0; c < 10; ++c)
        EXPECT_TRUE(c == 2 || c == 5 ? date[c] == '.' : (date[c] >= '0' && date[c] <= '9')) << date;
    std::string venue = openingLines[1];
    EXPECT_EQ(std::count(venue.begin(), venue.end(), ' '), 1);
    EXPECT_NE(venue.front(), ' ');
    EXPECT_NE(venue.back(), ' ');
}

TEST(OpeningAssets, LogoFillsThreeBandsAndIsBlackElsewhere) {
    auto texel = [](int x, int y) { return u16At(&logoImage[(y * 256 + x) * 2]); };
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            bool used = y < 142 || (y < 213 && x < 128);
            if (!used) {
                ASSERT_EQ(texel(x, y), 0) << x << "," << y;
            }
        }
    // The word lies in the first two bands (bright chrome), the rules reach into the third;
    // the picture's top row (where only the glow reaches) stays dark.
    for (int band = 0; band < 3; ++band) {
        int bright = 0;
        for (int y = 0; y < 71; ++y)
            for (int x = 0; x < (band == 2 ? 128 : 256); ++x)
                bright += luminance565(texel(x, band * 71 + y)) > 0.3f;
        EXPECT_GT(bright, band == 2 ? 20 : 500) << "band " << band;
    }
    for (int x = 0; x < 256; ++x)
        EXPECT_LT(luminance565(texel(x, 0)), 0.35f) << x;
}

TEST(PanelAssets, TriggersVerticesAndImages) {
    EXPECT_EQ(panelTriggerInstruments[0], 17);
    EXPECT_EQ(panelTriggerInstruments[1], 1);
    for (int v = 0; v < 48; ++v) {
        const uint8_t* p = panelVertices + 32 * v;
        int strip = v / 24, quad = (v % 24) / 6, corner = v % 6;
        // Corner order: (left, top), (right, top), (left, bottom), (right, top),
        // (right, bottom), (left, bottom).
        const bool right[6] = {false, true, false, true, true, false};
        const bool bottom[6] = {false, false, true, false, true, true};
        float x = 384.0f + 64.0f * float(quad) + (right[corner] ? 64.0f : 0.0f);
        float y = (strip ? 416.0f : 0.0f) + (bottom[corner] ? 64.0f : 0.0f);
        float u = (quad & 1 ? 0.5f : 0.0f) + (right[corner] ? 0.5f : 0.0f);
        float tv = (quad & 2 ? 0.5f : 0.0f) + (bottom[corner] ? 0.5f : 0.0f);
        EXPECT_EQ(f32At(p), x) << v;
        EXPECT_EQ(f32At(p + 4), y) << v;
        EXPECT_EQ(f32At(p + 8), 0.5f) << v;
        EXPECT_EQ(f32At(p + 12), 1.0f) << v;
        EXPECT_EQ(u32At(p + 16), 0xFFFFFFFFu) << v;
        EXPECT_EQ(u32At(p + 20), 0u) << v;
        EXPECT_EQ(f32At(p + 24), u) << v;
        EXPECT_EQ(f32At(p + 28), tv) << v;
    }
    // Shapes with the background showing through: both clear and solid texels, and the
    // corner that touches the screen's edges is covered.
    for (int i = 0; i < 2; ++i) {
        int clear = 0, solid = 0;
        for (int t = 0; t < 128 * 128; ++t) {
            int alpha = panelImages[i][t * 2 + 1] >> 4;
            clear += alpha == 0;
            solid += alpha == 15;
        }
        EXPECT_GT(clear, 128 * 128 / 5) << i;
        EXPECT_GT(solid, 500) << i;
        // Strip (255, 0) for the top strip, (255, 63) for the bottom one: image rows
        // 64..127 hold strip columns 128..255.
        int y = i == 0 ? 64 : 127;
        EXPECT_GT(panelImages[i][(y * 128 + 127) * 2 + 1] >> 4, 8) << i;
    }
}

TEST(ScrollerAssets, HeaderFontImageAndGlyphRecords) {
    EXPECT_EQ(scrollerFontHeader[0], 1);
    EXPECT_EQ(scrollerFontHeader[1], 256);
    EXPECT_EQ(scrollerFontHeader[2], 21);
    // White everywhere; the shapes are in the alpha channel only.
    for (int t = 0; t < 256 * 256; ++t)
        ASSERT_EQ(u16At(&scrollerFontImages[t * 2]) & 0x0FFF, 0x0FFF) << t;
    std::vector<int> owner(256 * 256, -1);
    for (int g = 0; g < 256; ++g) {
        Glyph r = glyphAt(scrollerGlyphRecords, g);
        if (g >= 94) {
            for (int b = 0; b < 20; ++b)
                EXPECT_EQ(scrollerGlyphRecords[g * 20 + b], 0) << g;
            continue;
        }
        ASSERT_GE(r.width, 2) << g;
        EXPECT_EQ(r.vBottom - r.vTop, 0.078125f) << g;
        EXPECT_EQ(r.uRight - r.uLeft, float(r.width - 1) / 256.0f) << g;
        int x0 = int(r.uLeft * 256), y0 = int(r.vTop * 256), w = r.width - 1;
        EXPECT_EQ(float(x0), r.uLeft * 256) << "whole texels";
        ASSERT_TRUE(x0 >= 0 && x0 + w <= 256 && y0 >= 0 && y0 + 20 <= 256) << g;
        int ink = 0;
        for (int y = y0; y < y0 + 20; ++y)
            for (int x = x0; x < x0 + w; ++x) {
                EXPECT_EQ(owner[y * 256 + x], -1) << "cells " << g << " and " << owner[y * 256 + x];
                owner[y * 256 + x] = g;
                ink += scrollerFontImages[(y * 256 + x) * 2 + 1] >> 4;
            }
        EXPECT_GT(ink, 20) << "glyph '" << char(33 + g) << "'";
    }
    // No ink outside the cells, so linear filtering never pulls in a neighbour.
    for (int t = 0; t < 256 * 256; ++t)
        if (owner[t] < 0) {
            ASSERT_EQ(scrollerFontImages[t * 2 + 1] >> 4, 0) << t;
        }
    // Proportional: 'i' is narrower than 'W'.
    EXPECT_LT(glyphAt(scrollerGlyphRecords, 'i' - 33).width,
              glyphAt(scrollerGlyphRecords, 'W' - 33).width);
}

TEST(ScrollerAssets, TextBlockFollowsTheStoredRules) {
    ASSERT_EQ(i32At(scrollerText), 96);
    size_t offset = 4, total = size_t(scrollerTextSize);
    int empty = 0;
    std::vector<int> bytesPerLine;
    for (int line = 0; line < 96; ++line) {
        ASSERT_LE(offset + 2, total) << line;
        uint16_t count = u16At(scrollerText + offset);
        offset += 2;
        bytesPerLine.push_back(count);
        if (count == 0) {
            ++empty;
            continue;
        }
        ASSERT_LE(offset + 4 + count, total) << line;
        int32_t halfWidth = i32At(scrollerText + offset);
        const uint8_t* bytes = scrollerText + offset + 4;
        offset += 4 + count;
        EXPECT_LE(count, 51) << line;
        int32_t advance = 0;
        for (int i = 0; i < count; ++i) {
            if (bytes[i] == 0xFF) {
                advance += 10;
                continue;
            }
            ASSERT_LT(bytes[i], 94) << line;
            advance += glyphAt(scrollerGlyphRecords, bytes[i]).width;
        }
        EXPECT_EQ(halfWidth, advance / 2) << line;
        // Every line fits the 500-pixel column at scale 1.
        EXPECT_LE(halfWidth, 250) << line;
        EXPECT_NE(bytes[0], 0xFF) << "leading space in line " << line;
        EXPECT_NE(bytes[count - 1], 0xFF) << "trailing space in line " << line;
    }
    EXPECT_EQ(offset, total) << "the walk consumes the whole block";
    EXPECT_EQ(empty, 42);
    for (int first = 0; first < 96; ++first) {
        int sum = 0;
        for (int k = 0; k < 16; ++k)
            sum += bytesPerLine[(first + k) % 96];
        EXPECT_LT(sum, 4096);
    }
}

TEST(TubeAssets, MaterialLightAndMatricesAreExact) {
    const float material[17] = {
        0.97647059f, 0.81568629f, 0.99215686f, 1.0f, 0.52549022f, 0.42352942f, 0.53333336f, 1.0f, 1,
        1,           1,           1,           0,    0,           0,           0,           50.0f};
    EXPECT_EQ(std::memcmp(&tubeMaterial, material, 68), 0);
    EXPECT_EQ(tubeMaterial.diffuse.r, 249.0f / 255.0f);
    EXPECT_EQ(tubeMaterial.ambient.g, 108.0f / 255.0f);

    EXPECT_EQ(tubeLight.type, 3u);
    const float light[25] = {0.7f, 0.7f, 0.7f, 1.0f, 1, 1, 1, 1, 1, 1, 1, 1, 0,
                             0,    0,    0,    1,    0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(reinterpret_cast<const uint8_t*>(&tubeLight) + 4, light, 100), 0);

    const float view[16] = {1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 500, 1};
    const float projection[16] = {2.4142926f, 0, 0,         0, 0, 4.2920756f, 0,          0,
                                  0,          0, 1.001001f, 1, 0, 0,          -1.001001f, 0};
    EXPECT_EQ(std::memcmp(tubeViewMatrix, view, 64), 0);
    EXPECT_EQ(std::memcmp(tubeProjectionMatrix, projection, 64), 0);
}

TEST(BackdropAssets, TileVertices) {
    for (int v = 0; v < 24; ++v) {
        const uint8_t* p = backdropVertices + 28 * v;
        int tile = v / 4, corner = v % 4;
        float x = 256.0f * float(tile % 3) + (corner & 1 ? 256.0f : 0.0f);
        float y = 256.0f * float(tile / 3) + (corner & 2 ? 256.0f : 0.0f);
        EXPECT_EQ(f32At(p), x) << v;
        EXPECT_EQ(f32At(p + 4), y) << v;
        EXPECT_EQ(f32At(p + 8), 1.0f) << v;
        EXPECT_EQ(f32At(p + 12), 1.0f) << v;
        EXPECT_EQ(u32At(p + 16), 0xFFFFFFFFu) << v;
        EXPECT_EQ(f32At(p + 20), corner & 1 ? 1.0f : 0.0f) << v;
        EXPECT_EQ(f32At(p + 24), corner & 2 ? 1.0f : 0.0f) << v;
    }
}

TEST(BackdropAssets, PictureLeavesRoomForTextAndGivesTheTubeItsBand) {
    // The text column (x 16..517, y 62..397), away from the band: dark on average and
    // without bright patches.
    double sum = 0;
    int count = 0, bright = 0;
    for (int y = 62; y < 398; ++y) {
        if (std::abs(y - 230) <= 8) continue;
        for (int x = 16; x < 518; ++x) {
            float l = luminance565(backdropTexel(x, y));
            sum += l;
            ++count;
            bright += l > 0.5f;
        }
    }
    EXPECT_LT(sum / count, 0.2);
    EXPECT_LT(bright, count / 500);

    // Band: rows 229..231 of tile 0 (the texels the tube samples around v = 0.9) are
    // bright and colourful, and change smoothly, also across the wrap from 255 to 0.
    auto channels = [](uint16_t v) {
        return std::vector<float>{float(v >> 11) / 31, float((v >> 5) & 63) / 63,
                                  float(v & 31) / 31};
    };
    float minHue = 1, maxHue = 0, lumaSum = 0;
    for (int x = 0; x < 256; ++x) {
        uint16_t v = backdropTexel(x, 230);
        auto c = channels(v);
        auto n = channels(backdropTexel((x + 1) % 256, 230));
        float step = 0;
        for (int k = 0; k < 3; ++k)
            step = std::max(step, std::fabs(c[k] - n[k]));
        EXPECT_LT(step, 0.12f) << "jump at column " << x;
        for (int y = 229; y <= 231; ++y)
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(channels(backdropTexel(x, y))[k], c[k], 0.07f) << x << "," << y;
        lumaSum += luminance565(v);
        minHue = std::min(minHue, c[0] - c[2]);
        maxHue = std::max(maxHue, c[0] - c[2]);
    }
    // Clearly brighter than the sky around it.
    float aroundSum = 0;
    for (int x = 0; x < 256; ++x)
        aroundSum += luminance565(backdropTexel(x, 215)) + luminance565(backdropTexel(x, 245));
    EXPECT_GT(lumaSum / 256, 0.2f);
    EXPECT_GT(lumaSum, 2.5f * aroundSum / 2);
    EXPECT_GT(maxHue - minHue, 0.6f) << "the band runs through several colours";
}
