// Texel conversion for OpenGL ES (the WebGL device's uploads): every format's channel
// order, the source pitch, and the three DXT block layouts decoded in software.
#include "gfx/device.h"
#include "gfx/device_common.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes convert(uint32_t format, const Bytes& source, uint32_t pitch, uint32_t width,
              uint32_t height) {
    Bytes out(size_t(width) * height * esTexelBytes(format), 0xEE);
    convertLevelForEs(format, source.data(), pitch, width, height, out.data());
    return out;
}

Bytes words(std::initializer_list<uint16_t> values) {
    Bytes bytes;
    for (uint16_t v : values) {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(v >> 8));
    }
    return bytes;
}

TEST(TexelConversion, UncompressedFormatsTakeWebGlChannelOrder) {
    struct Case {
        uint32_t format;
        Bytes source; // one pixel
        Bytes expected;
    } cases[] = {
        {fmtR8G8B8, {0x10, 0x20, 0x30}, {0x30, 0x20, 0x10}},
        {fmtX8R8G8B8, {0x10, 0x20, 0x30, 0x00}, {0x30, 0x20, 0x10}},
        {fmtA8R8G8B8, {0x10, 0x20, 0x30, 0x40}, {0x30, 0x20, 0x10, 0x40}},
        {fmtR5G6B5, words({0xF81F}), words({0xF81F})},
        {fmtA4R4G4B4, words({0xA123}), words({0x123A})},
        {fmtA1R5G5B5, words({0xFC01}), words({0xF803})},
        {fmtA1R5G5B5, words({0x7C01}), words({0xF802})},
        {fmtX1R5G5B5, words({0x7C01}), words({0xF803})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(convert(c.format, c.source, uint32_t(c.source.size()), 1, 1), c.expected);
    }
}

TEST(TexelConversion, RowsAreReadThroughThePitch) {
    // 2 x 2 A4R4G4B4 with 4 bytes of padding after each row.
    Bytes source = words({0x1000, 0x2000, 0xDEAD, 0xDEAD, 0x3000, 0x4000});
    EXPECT_EQ(convert(fmtA4R4G4B4, source, 8, 2, 2), words({0x0001, 0x0002, 0x0003, 0x0004}));
}

// One DXT colour block: red and blue end points, texel i takes index i % 4.
Bytes colourBlock(uint16_t c0, uint16_t c1) {
    Bytes block = words({c0, c1});
    for (int row = 0; row < 4; ++row)
        block.push_back(0xE4); // indices 0, 1, 2, 3 from the low bits up
    return block;
}

TEST(TexelConversion, DxtBlocksDecodeToRgba) {
    // Four-colour DXT1: red, blue, two thirds between them; texel 3 is a third red.
    Bytes dxt1 = convert(fmtDXT1, colourBlock(0xF800, 0x001F), 8, 4, 4);
    const uint8_t expected[4][4] = {
        {255, 0, 0, 255}, {0, 0, 255, 255}, {170, 0, 85, 255}, {85, 0, 170, 255}};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(0, std::memcmp(&dxt1[4 * i], expected[i % 4], 4)) << "texel " << i;

    // Three-colour DXT1 (first colour not above the second): the midpoint, then
    // transparent black.
    Bytes threeColour = convert(fmtDXT1, colourBlock(0x001F, 0xF800), 8, 4, 4);
    EXPECT_EQ(Bytes(threeColour.begin() + 8, threeColour.begin() + 16),
              (Bytes{127, 0, 127, 255, 0, 0, 0, 0}));

    // DXT3: explicit 4-bit alpha, texel i has alpha nibble i.
    Bytes dxt3{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
    Bytes colour = colourBlock(0xF800, 0x001F);
    dxt3.insert(dxt3.end(), colour.begin(), colour.end());
    Bytes decoded3 = convert(fmtDXT3, dxt3, 16, 4, 4);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(decoded3[4 * i + 3], i * 17) << "texel " << i;

    // DXT5: alpha 255 and 0 with six steps between; texel i takes alpha index i % 8.
    Bytes dxt5{255, 0};
    uint64_t bits = 0;
    for (int i = 0; i < 16; ++i)
        bits |= uint64_t(i % 8) << (3 * i);
    for (int b = 0; b < 6; ++b)
        dxt5.push_back(uint8_t(bits >> (8 * b)));
    dxt5.insert(dxt5.end(), colour.begin(), colour.end());
    Bytes decoded5 = convert(fmtDXT5, dxt5, 16, 4, 4);
    const uint8_t alphas[8] = {255, 0, 219, 182, 146, 109, 73, 36};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(decoded5[4 * i + 3], alphas[i % 8]) << "texel " << i;
}

TEST(TexelConversion, SmallDxtLevelsKeepToTheirSize) {
    // A 2 x 2 level is one block; only its top-left quarter is written.
    Bytes out = convert(fmtDXT1, colourBlock(0xF800, 0x001F), 8, 2, 2);
    EXPECT_EQ(out, (Bytes{255, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0, 255, 0, 0, 255, 255}));
}

} // namespace
