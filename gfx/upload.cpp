// Texture upload from embedded images, written only against gfx/device.h.
// Main thread only.
#include "gfx/upload.h"

#include <cstring>

namespace {

// Bytes per pixel of the uncompressed formats an image may be stored in; 0 for the
// block-compressed formats, whose levels are copied whole; -1 for a refused format
// (including X8R8G8B8 and X1R5G5B5, whose unused bits an image cannot be trusted with).
int32_t sourceBytesPerPixel(uint32_t format) {
    switch (format) {
    case fmtR8G8B8:
        return 3;
    case fmtA8R8G8B8:
        return 4;
    case fmtR5G6B5:
    case fmtA1R5G5B5:
    case fmtA4R4G4B4:
        return 2;
    default:
        break;
    }
    if (format == fmtDXT1 || format == fmtDXT2 || format == fmtDXT3 || format == fmtDXT4 ||
        format == fmtDXT5)
        return 0;
    return -1;
}

} // namespace

int32_t uploadTexture(const uint8_t* source, Texture** texture, int32_t width, int32_t height,
                      uint32_t format, uint8_t mipChain) {
    if (width <= 0 || height <= 0) return -1;
    uint32_t levels = mipChain ? 0 : 1;
    if (createTexture(uint32_t(width), uint32_t(height), levels, 0, format, poolManaged, texture) <
        0)
        return -1;

    Surface* top = nullptr;
    if (textureSurfaceLevel(*texture, 0, &top) < 0) return -1;
    SurfaceDesc topDesc{};
    if (surfaceDesc(top, &topDesc) < 0) {
        releaseSurface(top);
        return -1;
    }
    int32_t bytesPerPixel = sourceBytesPerPixel(topDesc.format);
    if (bytesPerPixel < 0) {
        releaseSurface(top);
        return -1;
    }
    uint32_t rowBytes = topDesc.width * uint32_t(bytesPerPixel);

    uint32_t levelCount = textureLevelCount(*texture);
    for (uint32_t k = 0; k < levelCount; ++k) {
        Surface* level = nullptr;
        if (textureSurfaceLevel(*texture, k, &level) < 0) {
            releaseSurface(top);
            return -1;
        }
        LockedRect locked{};
        if (surfaceLock(level, &locked, 0) < 0) {
            releaseSurface(level);
            releaseSurface(top);
            return -1;
        }
        if (bytesPerPixel > 0) {
            uint8_t* bits = static_cast<uint8_t*>(locked.bits);
            uint32_t rows = topDesc.height >> k;
            for (uint32_t r = 0; r < rows; ++r) {
                std::memcpy(bits + size_t(r) * size_t(locked.pitch), source, rowBytes);
                source += rowBytes;
            }
        } else {
            // A compressed level is copied whole. Each level takes its own size: the
            // smaller levels of a chain hold fewer bytes than level 0, and copying
            // level 0's size into them would run past their memory.
            SurfaceDesc desc{};
            if (surfaceDesc(level, &desc) < 0) {
                releaseSurface(level);
                releaseSurface(top);
                return -1;
            }
            std::memcpy(locked.bits, source, desc.size);
            source += desc.size;
        }
        rowBytes >>= 1;
        if (surfaceUnlock(level) < 0) {
            releaseSurface(level);
            releaseSurface(top);
            return -1;
        }
        releaseSurface(level);
    }
    releaseSurface(top);
    return 0;
}
