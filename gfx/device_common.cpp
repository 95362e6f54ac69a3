// Direct3D 8 defaults and size rules shared by the OpenGL and the recording device.
#include "gfx/device_common.h"

#include "gfx/device.h"

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
