// Direct3D 8 defaults and size rules shared by the display devices, and the texel
// conversion for OpenGL ES (WebGL) uploads.
#include "gfx/device_common.h"

#include "gfx/device.h"

#include <cstring>

uint32_t defaultRenderState(uint32_t state) {
    switch (state) {
    case rsZEnable:
        return 1; // the device always has an automatic depth buffer
    case rsFillMode:
        return 3;
    case rsShadeMode:
        return shadeGouraud;
    case rsZWriteEnable:
        return 1;
    case 16:
        return 1; // last pixel
    case rsSrcBlend:
        return blendOne;
    case rsDestBlend:
        return blendZero;
    case rsCullMode:
        return cullCounterClockwise;
    case rsZFunc:
        return 4; // less or equal
    case rsAlphaFunc:
        return 8; // always
    case rsTextureFactor:
        return 0xFFFFFFFFu;
    case 136:
        return 1; // clipping
    case rsLighting:
        return 1;
    case rsColorVertex:
        return 1;
    case rsLocalViewer:
        return 1;
    case rsDiffuseMaterialSource:
        return 1; // vertex diffuse colour
    case 146:
        return 2; // specular material source: vertex specular
    case rsColorWriteEnable:
        return 0xF;
    case 171:
        return 1; // blend operation add
    default:
        return 0;
    }
}

uint32_t defaultTextureStageState(uint32_t stage, uint32_t type) {
    switch (type) {
    case tssColorOp:
        return stage == 0 ? topModulate : topDisable;
    case tssColorArg1:
        return taTexture;
    case tssColorArg2:
        return taCurrent;
    case tssAlphaOp:
        return stage == 0 ? topSelectArg1 : topDisable;
    case tssAlphaArg1:
        return taTexture;
    case tssAlphaArg2:
        return taCurrent;
    case tssTexCoordIndex:
        return stage;
    case tssAddressU:
    case tssAddressV:
    case 25:
        return addressWrap; // address W
    case tssMagFilter:
    case tssMinFilter:
        return filterPoint;
    case tssMipFilter:
        return filterNone;
    case 21:
        return 1; // max anisotropy
    default:
        return 0;
    }
}

FvfLayout fvfLayout(uint32_t fvf) {
    FvfLayout layout{-1, -1, -1, -1, -1, 0, false};
    constexpr uint32_t known = fvfXyz | fvfXyzRhw | fvfNormal | fvfDiffuse | fvfSpecular | fvfTex1;
    if ((fvf & ~known) != 0) return layout;
    uint32_t position = fvf & (fvfXyz | fvfXyzRhw);
    if (position != fvfXyz && position != fvfXyzRhw) return layout;
    int32_t offset = 0;
    layout.position = 0;
    layout.transformed = position == fvfXyzRhw;
    offset += layout.transformed ? 16 : 12;
    if (fvf & fvfNormal) {
        if (layout.transformed) return FvfLayout{-1, -1, -1, -1, -1, 0, false};
        layout.normal = offset;
        offset += 12;
    }
    if (fvf & fvfDiffuse) {
        layout.diffuse = offset;
        offset += 4;
    }
    if (fvf & fvfSpecular) {
        layout.specular = offset;
        offset += 4;
    }
    if (fvf & fvfTex1) {
        layout.texCoord = offset;
        offset += 8;
    }
    layout.size = uint32_t(offset);
    return layout;
}

uint32_t fvfVertexSize(uint32_t fvf) {
    return fvfLayout(fvf).size;
}

uint32_t primitiveVertexCount(uint32_t type, uint32_t primitiveCount) {
    if (primitiveCount == 0 || primitiveCount > (1u << 24)) return 0;
    switch (type) {
    case ptPointList:
        return primitiveCount;
    case ptLineList:
        return primitiveCount * 2;
    case ptLineStrip:
        return primitiveCount + 1;
    case ptTriangleList:
        return primitiveCount * 3;
    case ptTriangleStrip:
    case ptTriangleFan:
        return primitiveCount + 2;
    default:
        return 0;
    }
}

uint32_t textureLevelsFor(uint32_t width, uint32_t height, uint32_t levels) {
    uint32_t largest = width > height ? width : height;
    uint32_t chain = 1;
    while (largest > 1) {
        largest >>= 1;
        ++chain;
    }
    return levels == 0 || levels > chain ? chain : levels;
}

bool isCompressedFormat(uint32_t format) {
    return format == fmtDXT1 || format == fmtDXT2 || format == fmtDXT3 || format == fmtDXT4 ||
           format == fmtDXT5;
}

uint32_t textureBytesPerPixel(uint32_t format) {
    switch (format) {
    case fmtR8G8B8:
        return 3;
    case fmtA8R8G8B8:
    case fmtX8R8G8B8:
        return 4;
    case fmtR5G6B5:
    case fmtX1R5G5B5:
    case fmtA1R5G5B5:
    case fmtA4R4G4B4:
        return 2;
    default:
        return 0;
    }
}

bool isTextureFormat(uint32_t format) {
    return textureBytesPerPixel(format) != 0 || isCompressedFormat(format);
}

uint32_t levelRowBytes(uint32_t format, uint32_t width) {
    if (isCompressedFormat(format)) return ((width + 3) / 4) * (format == fmtDXT1 ? 8 : 16);
    return width * textureBytesPerPixel(format);
}

uint32_t levelRows(uint32_t format, uint32_t height) {
    return isCompressedFormat(format) ? (height + 3) / 4 : height;
}

// ---- Texel conversion for OpenGL ES
// --------------------------------------------------------------

uint32_t esTexelBytes(uint32_t format) {
    switch (format) {
    case fmtR8G8B8:
    case fmtX8R8G8B8:
        return 3;
    case fmtR5G6B5:
    case fmtX1R5G5B5:
    case fmtA1R5G5B5:
    case fmtA4R4G4B4:
        return 2;
    default:
        return isTextureFormat(format) ? 4 : 0;
    }
}

namespace {

uint16_t readWord(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

// The four colours of a DXT colour block as r, g, b, a bytes. DXT1 blocks whose first
// colour is not above the second have three colours and transparent black.
void blockPalette(const uint8_t* block, bool threeColourMode, uint8_t palette[4][4]) {
    const uint16_t c0 = readWord(block), c1 = readWord(block + 2);
    uint32_t rgb[2][3];
    for (int i = 0; i < 2; ++i) {
        const uint16_t c = i ? c1 : c0;
        const uint32_t r = c >> 11, g = (c >> 5) & 63, b = c & 31;
        rgb[i][0] = (r << 3) | (r >> 2);
        rgb[i][1] = (g << 2) | (g >> 4);
        rgb[i][2] = (b << 3) | (b >> 2);
    }
    for (int ch = 0; ch < 3; ++ch) {
        palette[0][ch] = uint8_t(rgb[0][ch]);
        palette[1][ch] = uint8_t(rgb[1][ch]);
        if (!threeColourMode || c0 > c1) {
            palette[2][ch] = uint8_t((2 * rgb[0][ch] + rgb[1][ch] + 1) / 3);
            palette[3][ch] = uint8_t((rgb[0][ch] + 2 * rgb[1][ch] + 1) / 3);
        } else {
            palette[2][ch] = uint8_t((rgb[0][ch] + rgb[1][ch]) / 2);
            palette[3][ch] = 0;
        }
    }
    palette[0][3] = palette[1][3] = palette[2][3] = 255;
    palette[3][3] = (!threeColourMode || c0 > c1) ? 255 : 0;
}

void decodeDxtBlock(uint32_t format, const uint8_t* block, uint8_t texels[16][4]) {
    const uint8_t* colour = format == fmtDXT1 ? block : block + 8;
    uint8_t palette[4][4];
    blockPalette(colour, format == fmtDXT1, palette);
    for (int i = 0; i < 16; ++i) {
        const int index = (colour[4 + i / 4] >> (2 * (i % 4))) & 3;
        for (int ch = 0; ch < 4; ++ch)
            texels[i][ch] = palette[index][ch];
    }
    if (format == fmtDXT2 || format == fmtDXT3) {
        for (int i = 0; i < 16; ++i)
            texels[i][3] = uint8_t(((block[i / 2] >> (4 * (i % 2))) & 15) * 17);
    } else if (format == fmtDXT4 || format == fmtDXT5) {
        const uint32_t a0 = block[0], a1 = block[1];
        uint8_t alphas[8] = {uint8_t(a0), uint8_t(a1)};
        for (uint32_t k = 1; k < 7; ++k) {
            if (a0 > a1)
                alphas[k + 1] = uint8_t(((7 - k) * a0 + k * a1 + 3) / 7);
            else if (k < 5)
                alphas[k + 1] = uint8_t(((5 - k) * a0 + k * a1 + 2) / 5);
        }
        if (a0 <= a1) {
            alphas[6] = 0;
            alphas[7] = 255;
        }
        uint64_t bits = 0;
        for (int b = 0; b < 6; ++b)
            bits |= uint64_t(block[2 + b]) << (8 * b);
        for (int i = 0; i < 16; ++i)
            texels[i][3] = alphas[(bits >> (3 * i)) & 7];
    }
}

} // namespace

void convertLevelForEs(uint32_t format, const uint8_t* source, uint32_t pitch, uint32_t width,
                       uint32_t height, uint8_t* out) {
    if (isCompressedFormat(format)) {
        const uint32_t blockBytes = format == fmtDXT1 ? 8 : 16;
        for (uint32_t by = 0; by < (height + 3) / 4; ++by)
            for (uint32_t bx = 0; bx < (width + 3) / 4; ++bx) {
                uint8_t texels[16][4];
                decodeDxtBlock(format, source + size_t(by) * pitch + bx * blockBytes, texels);
                for (uint32_t i = 0; i < 16; ++i) {
                    const uint32_t x = bx * 4 + i % 4, y = by * 4 + i / 4;
                    if (x < width && y < height)
                        for (int ch = 0; ch < 4; ++ch)
                            out[(size_t(y) * width + x) * 4 + ch] = texels[i][ch];
                }
            }
        return;
    }
    const uint32_t outBytes = esTexelBytes(format);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* p = source + size_t(y) * pitch;
        uint8_t* o = out + size_t(y) * width * outBytes;
        for (uint32_t x = 0; x < width; ++x, o += outBytes) {
            switch (format) {
            case fmtR8G8B8: // b, g, r bytes
                o[0] = p[3 * x + 2], o[1] = p[3 * x + 1], o[2] = p[3 * x];
                break;
            case fmtX8R8G8B8: // b, g, r, x bytes
                o[0] = p[4 * x + 2], o[1] = p[4 * x + 1], o[2] = p[4 * x];
                break;
            case fmtA8R8G8B8:
                o[0] = p[4 * x + 2], o[1] = p[4 * x + 1], o[2] = p[4 * x], o[3] = p[4 * x + 3];
                break;
            default: {
                uint16_t v = readWord(p + 2 * x);
                if (format == fmtX1R5G5B5)
                    v = uint16_t(v << 1 | 1);
                else if (format == fmtA1R5G5B5)
                    v = uint16_t(v << 1 | v >> 15);
                else if (format == fmtA4R4G4B4)
                    v = uint16_t(v << 4 | v >> 12);
                std::memcpy(o, &v, 2);
                break;
            }
            }
        }
    }
}
