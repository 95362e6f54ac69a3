// The background picture: a 768 x 512 image stored as six 256 x 256 R5G6B5 tiles,
// drawn first in every frame of the main scene at one texel per pixel from the
// top-left corner, so the screen shows its upper-left 640 x 480 pixels. The first
// tile doubles as the tube's band texture. Main thread only.
#include "effects/backdrop.h"

#include "assets/backdrop_assets.h"
#include "gfx/upload.h"

namespace {

constexpr int32_t tileCount = 6;
constexpr int32_t tileSize = 256;
constexpr int32_t vertexStride = 28;                  // format 0x144
constexpr int32_t tileVertexBytes = 4 * vertexStride; // one two-triangle strip

Texture* backdropTiles[tileCount] = {};

} // namespace

int32_t initBackdrop() {
    for (Texture*& tile : backdropTiles)
        tile = nullptr;
    for (int32_t t = 0; t < tileCount; t++) {
        if (uploadTexture(backdropTileImages[t], &backdropTiles[t], tileSize, tileSize, fmtR5G6B5,
                          0) != 0)
            return -1;
    }
    return 0;
}

void renderBackdrop() {
    setRenderState(rsAlphaBlendEnable, 0);
    setRenderState(rsShadeMode, shadeGouraud);
    setRenderState(rsLighting, 0);
    setRenderState(rsSpecularEnable, 0);
    setRenderState(rsZEnable, 0);
    setRenderState(rsCullMode, cullNone);
    // Point sampling keeps the picture exact: each pixel shows one texel.
    setTextureStageState(0, tssMagFilter, filterPoint);
    setTextureStageState(0, tssMinFilter, filterPoint);
    setTextureStageState(0, tssMipFilter, filterPoint);
    setVertexShader(fvfScreenQuad);

    for (int32_t t = 0; t < tileCount; t++) {
        setTexture(0, backdropTiles[t]);
        drawPrimitiveUP(ptTriangleStrip, 2, backdropVertices + t * tileVertexBytes, vertexStride);
    }

    // Culling stays off, lighting and specular off and blending off: every later
    // plugin sets its own culling, and the rest is the baseline anyway.
    setTextureStageState(0, tssMagFilter, filterLinear);
    setTextureStageState(0, tssMinFilter, filterLinear);
    setTextureStageState(0, tssMipFilter, filterLinear);
    setRenderState(rsZEnable, 1);
}

void shutdownBackdrop() {
    for (Texture*& tile : backdropTiles) {
        if (tile) {
            releaseTexture(tile);
            tile = nullptr;
        }
    }
}

Texture* backdropTile(int32_t tile) {
    return tile >= 0 && tile < tileCount ? backdropTiles[tile] : nullptr;
}
