// The embedded assets: byte layouts, the exact fixed data, the stored text rules, and a
// few checks on the pictures that keep them usable (black where a layout says black,
// quiet behind the text column, a real colour band for the tube).
#include <gtest/gtest.h>

#include <algorithm>
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

template <typename T> T at(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

struct Glyph {
    float uLeft, vTop, uRight, vBottom;
    int32_t width;
};
Glyph glyphAt(const uint8_t* records, int index) {
    return at<Glyph>(records + 20 * index);
}

std::vector<uint8_t> committedFile(const char* name) {
    std::ifstream in(std::string(VELMORA_SOURCE_DIR) + "/assets/data/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// An R5G6B5 texel as red, green, blue in 0..1, and its luminance.
std::vector<float> channels565(uint16_t v) {
    return {float(v >> 11) / 31, float((v >> 5) & 63) / 63, float(v & 31) / 31};
}
float luminance565(uint16_t v) {
    const std::vector<float> c = channels565(v);
    return 0.2126f * c[0] + 0.7152f * c[1] + 0.0722f * c[2];
}
uint16_t backdropTexel(int x, int y) { // in the 768 x 512 picture
    return at<uint16_t>(
        &backdropTileImages[(y / 256) * 3 + x / 256][((y % 256) * 256 + x % 256) * 2]);
}

} // namespace

TEST(EmbeddedAssets, SymbolsHoldTheCommittedFilesByteForByte) {
    const struct {
        const char* file;
        const void* symbol;
        size_t size;
    } items[] = {
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
    for (const auto& item : items) {
        std::vector<uint8_t> file = committedFile(item.file);
        ASSERT_EQ(file.size(), item.size) << item.file;
        EXPECT_EQ(std::memcmp(file.data(), item.symbol, item.size), 0) << item.file;
    }
    // The module: a little-endian byte count, then exactly that many bytes of XM.
    std::vector<uint8_t> module = committedFile("module.bin");
    ASSERT_GE(module.size(), 4u + 80u);
    const uint32_t count = at<uint32_t>(moduleImage);
    EXPECT_TRUE(count + 4 == module.size() && count <= 128u * 1024u) << count;
    EXPECT_EQ(std::memcmp(module.data(), moduleImage, module.size()), 0);
    EXPECT_EQ(std::memcmp(moduleImage + 4, "Extended Module: ", 17), 0);
    // The glyph sheet's description follows the sheet directly in memory.
    EXPECT_EQ(static_cast<const void*>(glyphSheet + 131072), static_cast<const void*>(openingFont));
}

TEST(OpeningAssets, FontRecordsCharacterMapAndGlyphInk) {
    EXPECT_TRUE(at<int32_t>(openingFont) == 25 && at<int32_t>(openingFont + 4) == 256);
    for (int g = 0; g < 64; ++g) {
        const Glyph r = glyphAt(openingFont + 8, g);
        EXPECT_EQ(r.uLeft, 17.0f * float(g % 15) / 256.0f) << g;
        EXPECT_EQ(r.vTop, 25.0f * float(g / 15) / 256.0f) << g;
        EXPECT_EQ(r.uRight, r.uLeft + 16.0f / 256.0f) << g;
        EXPECT_EQ(r.vBottom, r.vTop + 24.0f / 256.0f) << g;
        EXPECT_EQ(r.width, 17) << g;
    }
    const uint8_t* map = openingFont + 1288;
    for (int code = 0; code < 256; ++code) {
        int expected = code == ' ' ? 0 : code == '.' ? 1 : 0xFF;
        if (code >= '0' && code <= '9') expected = 2 + code - '0';
        if (code >= 'A' && code <= 'Z') expected = 12 + code - 'A';
        if (code >= 'a' && code <= 'z') expected = 38 + code - 'a';
        EXPECT_EQ(map[code], expected) << "code " << code;
    }
    // White ink on black inside the 16 x 24 glyph boxes only (alpha does not matter: the
    // text is drawn unblended); every glyph but the space has some.
    int ink[64] = {};
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const uint16_t c = at<uint16_t>(&glyphSheet[(y * 256 + x) * 2]) & 0x0FFF;
            const int g = (y / 25) * 15 + x / 17;
            if (x / 17 < 15 && g < 64 && x % 17 < 16 && y % 25 < 24) {
                ASSERT_TRUE((c >> 8) == ((c >> 4) & 15) && (c >> 8) == (c & 15)) << x << "," << y;
                ink[g] += c != 0;
            } else {
                ASSERT_EQ(c, 0) << x << "," << y;
            }
        }
    EXPECT_EQ(ink[0], 0) << "space";
    for (int g = 1; g < 64; ++g)
        EXPECT_GT(ink[g], 3) << "glyph " << g;
}

TEST(OpeningAssets, TextLinesAreDrawable) {
    EXPECT_TRUE(std::strlen(openingLines[0]) == 10 && std::strlen(openingLines[1]) == 18 &&
                std::strlen(openingLines[2]) == 6);
    for (int i = 0; i < 3; ++i) // every character drawable, NUL after the line
        for (size_t c = 0; c < 32; ++c)
            EXPECT_TRUE(c < std::strlen(openingLines[i])
                            ? openingFont[1288 + uint8_t(openingLines[i][c])] != 0xFF
                            : !openingLines[i][c])
                << i;
}

TEST(OpeningAssets, LogoFillsThreeBandsAndIsBlackElsewhere) {
    int bright[3] = {};
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const uint16_t texel = at<uint16_t>(&logoImage[(y * 256 + x) * 2]);
            if (y >= 142 && (y >= 213 || x >= 128))
                ASSERT_EQ(texel, 0) << x << "," << y;
            else
                bright[y / 71] += luminance565(texel) > 0.3f;
        }
    EXPECT_TRUE(bright[0] > 500 && bright[1] > 500 && bright[2] > 20); // the word, the rules
}

TEST(PanelAssets, TriggersVerticesAndImages) {
    EXPECT_TRUE(panelTriggerInstruments[0] == 17 && panelTriggerInstruments[1] == 1);
    // Corner order: (left, top), (right, top), (left, bottom), (right, top),
    // (right, bottom), (left, bottom).
    const bool right[6] = {false, true, false, true, true, false};
    const bool bottom[6] = {false, false, true, false, true, true};
    for (int v = 0; v < 48; ++v) {
        const int strip = v / 24, quad = (v % 24) / 6, corner = v % 6;
        // Half a pixel up and left: pixel centres meet texel centres.
        const float x = 383.5f + 64.0f * float(quad) + (right[corner] ? 64.0f : 0.0f);
        const float y = (strip ? 415.5f : -0.5f) + (bottom[corner] ? 64.0f : 0.0f);
        const float u = (quad & 1 ? 0.5f : 0.0f) + (right[corner] ? 0.5f : 0.0f);
        const float tv = (quad & 2 ? 0.5f : 0.0f) + (bottom[corner] ? 0.5f : 0.0f);
        const float expected[8] = {x, y, 0.5f, 1, 0, 0, u, tv};
        const uint8_t* p = panelVertices + 32 * v;
        EXPECT_EQ(std::memcmp(p, expected, 16), 0) << v;
        EXPECT_EQ(std::memcmp(p + 24, expected + 6, 8), 0) << v;
        EXPECT_TRUE(at<uint32_t>(p + 16) == 0xFFFFFFFFu && at<uint32_t>(p + 20) == 0u) << v;
    }
    // Shapes with the background showing through: both clear and solid texels, and the
    // corner that touches the screen's edges is covered.
    for (int i = 0; i < 2; ++i) {
        int clear = 0, solid = 0;
        for (int t = 0; t < 128 * 128; ++t) {
            clear += panelImages[i][t * 2 + 1] >> 4 == 0;
            solid += panelImages[i][t * 2 + 1] >> 4 == 15;
        }
        EXPECT_TRUE(clear > 128 * 128 / 5 && solid > 500) << i;
        // Strip (255, 0) for the top strip, (255, 63) for the bottom one: image rows
        // 64..127 hold strip columns 128..255.
        EXPECT_GT(panelImages[i][((i == 0 ? 64 : 127) * 128 + 127) * 2 + 1] >> 4, 8) << i;
    }
}

TEST(ScrollerAssets, HeaderFontImageAndGlyphRecords) {
    EXPECT_TRUE(scrollerFontHeader[0] == 1 && scrollerFontHeader[1] == 256 &&
                scrollerFontHeader[2] == 21);
    // White everywhere; the shapes are in the alpha channel only.
    for (int t = 0; t < 256 * 256; ++t)
        ASSERT_EQ(at<uint16_t>(&scrollerFontImages[t * 2]) & 0x0FFF, 0x0FFF) << t;
    std::vector<int> owner(256 * 256, -1);
    for (int g = 0; g < 256; ++g) {
        const Glyph r = glyphAt(scrollerGlyphRecords, g);
        if (g >= 94) {
            const uint8_t* record = scrollerGlyphRecords + g * 20;
            EXPECT_TRUE(std::all_of(record, record + 20, [](uint8_t b) { return b == 0; })) << g;
            continue;
        }
        ASSERT_GE(r.width, 2) << g;
        EXPECT_EQ(r.vBottom - r.vTop, 0.078125f) << g;
        EXPECT_EQ(r.uRight - r.uLeft, float(r.width - 1) / 256.0f) << g;
        const int x0 = int(r.uLeft * 256), y0 = int(r.vTop * 256), w = r.width - 1;
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
        ASSERT_TRUE(owner[t] >= 0 || scrollerFontImages[t * 2 + 1] >> 4 == 0) << t;
}

TEST(ScrollerAssets, TextBlockFollowsTheStoredRules) {
    ASSERT_EQ(at<int32_t>(scrollerText), 96);
    const size_t total = size_t(scrollerTextSize);
    size_t offset = 4;
    int empty = 0;
    std::vector<int> bytesPerLine;
    for (int line = 0; line < 96; ++line) {
        ASSERT_LE(offset + 2, total) << line;
        const uint16_t count = at<uint16_t>(scrollerText + offset);
        offset += 2;
        bytesPerLine.push_back(count);
        if (count == 0) {
            ++empty;
            continue;
        }
        ASSERT_LE(offset + 4 + count, total) << line;
        const int32_t halfWidth = at<int32_t>(scrollerText + offset);
        const uint8_t* bytes = scrollerText + offset + 4;
        offset += 4 + count;
        EXPECT_LE(count, 51) << line;
        int32_t advance = 0; // a space (0xFF) is 10 pixels
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(bytes[i] < 94 || bytes[i] == 0xFF) << line;
            advance += bytes[i] == 0xFF ? 10 : glyphAt(scrollerGlyphRecords, bytes[i]).width;
        }
        EXPECT_EQ(halfWidth, advance / 2) << line;
        EXPECT_LE(halfWidth, 250) << line; // fits the 500-pixel column at scale 1
        EXPECT_TRUE(bytes[0] != 0xFF && bytes[count - 1] != 0xFF) << "spaces at the ends " << line;
    }
    EXPECT_EQ(offset, total) << "the walk consumes the whole block";
    EXPECT_EQ(empty, 42);
    for (int first = 0; first < 96; ++first) { // any sixteen lines fit the quad buffer
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

// The tile vertices are pinned by the OpenGL test drawing every texel on its own pixel.
TEST(BackdropAssets, ThePicture) {
    // The text column (x 16..517, y 62..397) is dark on average; the band the tube
    // samples (row 230 of tile 0, around v = 0.9) is bright against the sky around it
    // and runs through several colours without a seam, also where u wraps.
    double column = 0, band = 0, around = 0;
    for (int y = 62; y < 398; ++y)
        for (int x = 16; x < 518; ++x)
            column += std::abs(y - 230) > 8 ? luminance565(backdropTexel(x, y)) : 0;
    float minHue = 1, maxHue = 0;
    for (int x = 0; x < 256; ++x) {
        const std::vector<float> c = channels565(backdropTexel(x, 230));
        const std::vector<float> n = channels565(backdropTexel((x + 1) % 256, 230));
        for (int k = 0; k < 3; ++k)
            EXPECT_LT(std::fabs(c[k] - n[k]), 0.12f) << "jump at column " << x;
        band += luminance565(backdropTexel(x, 230));
        around += luminance565(backdropTexel(x, 215)) + luminance565(backdropTexel(x, 245));
        minHue = std::min(minHue, c[0] - c[2]);
        maxHue = std::max(maxHue, c[0] - c[2]);
    }
    EXPECT_LT(column / (319 * 502), 0.2);
    EXPECT_TRUE(band / 256 > 0.2 && band > 1.25 * around);
    EXPECT_GT(maxHue - minHue, 0.6f);
}
