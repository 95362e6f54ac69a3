// The two corner strips (top right and bottom right) drawn with their own alpha
// over the main scene, each flashing to white through the specular colour when
// the row being heard names its instrument, fading out over a third of a second.
// Main thread only; the music position comes from the sync queries, which read
// what the mixing thread publishes without locks.
#include "effects/corner_panels.h"

#include "app/frame_clock.h"
#include "app/mathutil.h"
#include "assets/panel_assets.h"
#include "audio/sync.h"
#include "gfx/device.h"
#include "gfx/screen_vertex.h"
#include "gfx/upload.h"

#include <cstring>

namespace {

constexpr int32_t panelCount = 2;
constexpr int32_t verticesPerPanel = 24; // four quads of two triangles
constexpr int32_t vertexStride = 32;     // format 0x1C4
constexpr int32_t specularOffset = 20;   // x, y, z, rhw, diffuse, then specular
constexpr int32_t panelBytes = verticesPerPanel * vertexStride; // 768
constexpr int32_t vertexBytes = panelCount * panelBytes;        // 1536

int32_t triggerInstrument[panelCount];
Texture* panelTexture[panelCount] = {nullptr, nullptr};
VertexBuffer* panelBuffer = nullptr;
float flashLevel[panelCount] = {0.0f, 0.0f};
int32_t lastSeenRow = -1;

} // namespace

int32_t initCornerPanels() {
    std::memcpy(triggerInstrument, panelTriggerInstruments, sizeof triggerInstrument);
    flashLevel[0] = flashLevel[1] = 0.0f;
    lastSeenRow = -1;

    for (int32_t i = 0; i < panelCount; i++) {
        if (uploadTexture(panelImages[i], &panelTexture[i], 128, 128, fmtA4R4G4B4, 0) != 0)
            return -1;
    }
    if (createVertexBuffer(vertexBytes, usageWriteOnly | usageDynamic, fvfScreenSpecular,
                           poolSystemMem, &panelBuffer) != 0)
        return -1;

    void* data = nullptr;
    if (lockVertexBuffer(panelBuffer, 0, 0, &data, lockDiscard) != 0 || data == nullptr) return -1;
    std::memcpy(data, panelVertices, vertexBytes);
    unlockVertexBuffer(panelBuffer);
    return 0;
}

void renderCornerPanels() {
    setRenderState(rsCullMode, cullNone);
    setRenderState(rsZEnable, 0);
    setRenderState(rsAlphaBlendEnable, 1);
    setRenderState(rsSrcBlend, blendSrcAlpha);
    setRenderState(rsDestBlend, blendInvSrcAlpha);
    setRenderState(rsSpecularEnable, 1);
    setVertexShader(fvfScreenSpecular);
    setStreamSource(0, panelBuffer, vertexStride);
    setTextureStageState(0, tssMagFilter, filterPoint);
    setTextureStageState(0, tssMinFilter, filterPoint);
    setTextureStageState(0, tssMipFilter, filterPoint);

    const int32_t row = currentRow(syncSong());

    for (int32_t i = 0; i < panelCount; i++) {
        // The instrument is asked about only when the row has changed, so a row
        // held over many frames flashes once.
        if (row != lastSeenRow && rowUsesInstrument(triggerInstrument[i]) == 1)
            flashLevel[i] = 1.0f;
        else if (flashLevel[i] < 0.0f)
            flashLevel[i] = 0.0f;

        const uint32_t color = greyLevelColor(flashLevel[i]);

        void* data = nullptr;
        if (lockVertexBuffer(panelBuffer, uint32_t(panelBytes * i), panelBytes, &data, 0) == 0 &&
            data != nullptr) {
            uint8_t* bytes = static_cast<uint8_t*>(data);
            for (int32_t v = 0; v < verticesPerPanel; v++)
                std::memcpy(bytes + v * vertexStride + specularOffset, &color, sizeof color);
            unlockVertexBuffer(panelBuffer);
        }

        setTexture(0, panelTexture[i]);
        drawPrimitive(ptTriangleList, uint32_t(verticesPerPanel * i), 8);

        flashLevel[i] -= frameDelta * 3.0f;
    }
    lastSeenRow = row;

    setTextureStageState(0, tssMagFilter, filterLinear);
    setTextureStageState(0, tssMinFilter, filterLinear);
    setTextureStageState(0, tssMipFilter, filterLinear);
    setRenderState(rsZEnable, 1);
    setRenderState(rsSpecularEnable, 0);
    setRenderState(rsAlphaBlendEnable, 0);
    setRenderState(rsCullMode, cullClockwise);
}

void shutdownCornerPanels() {
    for (Texture*& texture : panelTexture) {
        if (texture) {
            releaseTexture(texture);
            texture = nullptr;
        }
    }
    if (panelBuffer) {
        releaseVertexBuffer(panelBuffer);
        panelBuffer = nullptr;
    }
}
