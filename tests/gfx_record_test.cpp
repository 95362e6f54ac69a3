// The recording device: defaults, draw resolution, lock rules and object lifetime,
// which the effect tests rely on to see what a plugin really drew.
#include "gfx/device_common.h"
#include "gfx/device_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u, v;
};
static_assert(sizeof(ScreenVertex) == 28);

class RecordTest : public ::testing::Test {
  protected:
    void SetUp() override { recordReset(); }
    void TearDown() override { recordReset(); }
};

VertexBuffer* filledVertexBuffer(uint32_t vertices) {
    VertexBuffer* buffer = nullptr;
    EXPECT_EQ(createVertexBuffer(vertices * 28, usageWriteOnly | usageDynamic, fvfScreenQuad,
                                 poolSystemMem, &buffer),
              0);
    void* data = nullptr;
    EXPECT_EQ(lockVertexBuffer(buffer, 0, 0, &data, 0), 0);
    auto* v = static_cast<ScreenVertex*>(data);
    for (uint32_t i = 0; i < vertices; ++i)
        v[i] = ScreenVertex{float(i), 0, 0.5f, 1, i, 0, 0};
    EXPECT_EQ(unlockVertexBuffer(buffer), 0);
    return buffer;
}

TEST_F(RecordTest, StartsFromDirect3DDefaults) {
    EXPECT_EQ(recordedState(rsZEnable), 1u);
    EXPECT_EQ(recordedState(rsZWriteEnable), 1u);
    EXPECT_EQ(recordedState(rsCullMode), cullCounterClockwise);
    EXPECT_EQ(recordedState(rsLighting), 1u);
    EXPECT_EQ(recordedState(rsAlphaBlendEnable), 0u);
    EXPECT_EQ(recordedState(rsSpecularEnable), 0u);
    EXPECT_EQ(recordedState(rsSrcBlend), blendOne);
    EXPECT_EQ(recordedState(rsDestBlend), blendZero);
    EXPECT_EQ(recordedState(rsAmbient), 0u);
    EXPECT_EQ(recordedState(rsLocalViewer), 1u);
    EXPECT_EQ(recordedState(rsShadeMode), shadeGouraud);
    EXPECT_EQ(recordedTextureStageState(0, tssColorOp), topModulate);
    EXPECT_EQ(recordedTextureStageState(0, tssAlphaOp), topSelectArg1);
    EXPECT_EQ(recordedTextureStageState(0, tssColorArg1), taTexture);
    EXPECT_EQ(recordedTextureStageState(0, tssMinFilter), filterPoint);
    EXPECT_EQ(recordedTextureStageState(0, tssMipFilter), filterNone);
    EXPECT_EQ(recordedTextureStageState(0, tssAddressU), addressWrap);
    EXPECT_EQ(recordedTextureStageState(1, tssColorOp), topDisable);

    // Out-of-range numbers fail and change nothing.
    EXPECT_EQ(setRenderState(renderStateCount, 1), -1);
    EXPECT_EQ(setTextureStageState(textureStageCount, tssColorOp, 1), -1);
    EXPECT_EQ(setVertexShader(fvfXyz | fvfXyzRhw), -1);
    EXPECT_EQ(recordedVertexFormat(), 0u);

    setRenderState(rsCullMode, cullNone);
    recordReset();
    EXPECT_EQ(recordedState(rsCullMode), cullCounterClockwise);
}

TEST_F(RecordTest, DrawsRecordTheirVerticesAndTheStatesInForce) {
    ScreenVertex quad[4] = {{0, 0, 0.5f, 1, 0xFF102030, 0, 0},
                            {10, 0, 0.5f, 1, 0xFF102030, 1, 0},
                            {0, 10, 0.5f, 1, 0xFF102030, 0, 1},
                            {10, 10, 0.5f, 1, 0xFF102030, 1, 1}};
    Texture* texture = nullptr;
    ASSERT_EQ(createTexture(4, 4, 1, 0, fmtA4R4G4B4, poolManaged, &texture), 0);

    // Outside a scene a draw fails, but is still logged.
    setVertexShader(fvfScreenQuad);
    EXPECT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, quad, 28), -1);

    deviceBeginScene();
    setTexture(0, texture);
    setRenderState(rsAlphaBlendEnable, 1);
    EXPECT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, quad, 28), 0);
    quad[3].x = 99; // the copy is taken at draw time
    setRenderState(rsAlphaBlendEnable, 0);

    auto draws = recordedDraws();
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0]->result, -1);
    const RecordedCall& draw = *draws[1];
    EXPECT_EQ(draw.args[0], ptTriangleStrip);
    EXPECT_EQ(draw.args[1], 2u);
    ASSERT_EQ(drawnVertexCount(draw), 4u);
    EXPECT_EQ(vertexFloat(draw, 3, 0), 10.0f);
    EXPECT_EQ(vertexFloat(draw, 1, 20), 1.0f);
    EXPECT_EQ(vertexWord(draw, 2, 16), 0xFF102030u);
    EXPECT_EQ(draw.state.renderStates[rsAlphaBlendEnable], 1u);
    EXPECT_EQ(draw.state.texture, recordedTextureId(texture));
    EXPECT_EQ(draw.state.fvf, fvfScreenQuad);

    // A stream draw reads from its start vertex; drawing from memory leaves no stream.
    VertexBuffer* buffer = filledVertexBuffer(8);
    setStreamSource(0, buffer, 28);
    EXPECT_EQ(drawPrimitive(ptTriangleList, 2, 2), 0);
    const RecordedCall& streamDraw = *recordedDraws().back();
    ASSERT_EQ(drawnVertexCount(streamDraw), 6u);
    EXPECT_EQ(vertexWord(streamDraw, 0, 16), 2u);
    EXPECT_EQ(vertexWord(streamDraw, 5, 16), 7u);
    EXPECT_EQ(drawPrimitive(ptTriangleList, 6, 1), -1); // would read vertices 6 to 8 of 8
    drawPrimitiveUP(ptTriangleStrip, 2, quad, 28);
    EXPECT_EQ(drawPrimitive(ptTriangleList, 0, 1), -1);
    EXPECT_EQ(recordedDraws().back()->state.streamBuffer, 0u);

    // A draw from a buffer that is still locked fails.
    setStreamSource(0, buffer, 28);
    void* data = nullptr;
    lockVertexBuffer(buffer, 0, 28, &data, 0);
    EXPECT_EQ(drawPrimitive(ptPointList, 0, 1), -1);
    unlockVertexBuffer(buffer);
    EXPECT_EQ(drawPrimitive(ptPointList, 0, 1), 0);
    deviceEndScene();
    EXPECT_EQ(devicePresent(), 0);

    releaseVertexBuffer(buffer);
    releaseTexture(texture);
    EXPECT_EQ(recordLiveObjects(), 0u);
}

TEST_F(RecordTest, IndexedDrawsAreResolvedThroughTheirIndices) {
    VertexBuffer* buffer = filledVertexBuffer(16);
    IndexBuffer* indices = nullptr;
    ASSERT_EQ(createIndexBuffer(12 * 2, usageWriteOnly, fmtIndex16, poolManaged, &indices), 0);
    void* data = nullptr;
    ASSERT_EQ(lockIndexBuffer(indices, 0, 0, &data, 0), 0);
    const uint16_t list[12] = {0, 1, 2, 2, 1, 3, 4, 5, 6, 6, 5, 7};
    std::memcpy(data, list, sizeof list);
    unlockIndexBuffer(indices);

    deviceBeginScene();
    setVertexShader(fvfScreenQuad);
    setStreamSource(0, buffer, 28);
    setIndices(indices, 8); // base vertex 8
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 4, 4, 6, 2), 0);
    const RecordedCall& draw = *recordedDraws().back();
    EXPECT_EQ(draw.indexList, (std::vector<uint32_t>{4, 5, 6, 6, 5, 7}));
    ASSERT_EQ(drawnVertexCount(draw), 6u);
    EXPECT_EQ(vertexWord(draw, 0, 16), 12u); // base 8 + index 4
    EXPECT_EQ(vertexWord(draw, 5, 16), 15u);
    EXPECT_EQ(draw.state.baseVertexIndex, 8u);

    // An index outside the declared vertex range, a range past the buffer, and
    // indices past the index buffer all fail.
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 4, 3, 6, 2), -1);
    setIndices(indices, 9);
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 4, 4, 6, 2), -1);
    setIndices(indices, 0);
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 0, 8, 6, 3), -1);
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleStrip, 0, 8, 0, 10), 0);
    deviceEndScene();
    releaseIndexBuffer(indices);
    releaseVertexBuffer(buffer);
}

TEST_F(RecordTest, LocksHonourRangesAndFlags) {
    VertexBuffer* buffer = filledVertexBuffer(4);
    void* data = nullptr;
    // Size 0 locks to the end; ranges past the end fail.
    ASSERT_EQ(lockVertexBuffer(buffer, 56, 0, &data, lockNoOverwrite), 0);
    EXPECT_EQ(recordedCalls().back().args[1], 56u);
    // No-overwrite keeps what was there.
    EXPECT_EQ(static_cast<ScreenVertex*>(data)->diffuse, 2u);
    static_cast<ScreenVertex*>(data)->diffuse = 77;
    ASSERT_EQ(unlockVertexBuffer(buffer), 0);
    const RecordedCall& unlock = recordedCalls().back();
    ASSERT_EQ(unlock.data.size(), 56u);
    uint32_t written;
    std::memcpy(&written, unlock.data.data() + 16, 4);
    EXPECT_EQ(written, 77u);
    EXPECT_EQ(lockVertexBuffer(buffer, 100, 20, &data, 0), -1);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(lockVertexBuffer(buffer, 112, 0, &data, 0), -1);
    EXPECT_EQ(unlockVertexBuffer(buffer), -1); // nothing open

    // Discard drops the old contents.
    ASSERT_EQ(lockVertexBuffer(buffer, 0, 28, &data, lockDiscard), 0);
    unlockVertexBuffer(buffer);
    const RecordedBuffer* record = recordedVertexBuffer(recordedVertexBufferId(buffer));
    EXPECT_EQ(record->bytes[100], 0xCD);
    EXPECT_EQ(record->locks, 3u);

    // Fault injection on buffers.
    recordFailNth(RecordFault::lockVertexBuffer, 1);
    EXPECT_EQ(lockVertexBuffer(buffer, 0, 0, &data, 0), -1);
    EXPECT_EQ(lockVertexBuffer(buffer, 0, 0, &data, 0), 0);
    unlockVertexBuffer(buffer);
    recordFailNth(RecordFault::createIndexBuffer, 1);
    IndexBuffer* indices = reinterpret_cast<IndexBuffer*>(1);
    EXPECT_EQ(createIndexBuffer(64, 0, fmtIndex16, poolManaged, &indices), -1);
    EXPECT_EQ(indices, nullptr);
    recordFailNth(RecordFault::createVertexBuffer, 2);
    VertexBuffer* extra = nullptr;
    EXPECT_EQ(createVertexBuffer(64, 0, fvfScreenQuad, poolSystemMem, &extra), 0);
    releaseVertexBuffer(extra);
    EXPECT_EQ(createVertexBuffer(64, 0, fvfScreenQuad, poolSystemMem, &extra), -1);
    releaseVertexBuffer(buffer);
    EXPECT_EQ(recordLiveObjects(), 0u);
}

TEST_F(RecordTest, ObjectLifetimes) {
    Texture* texture = nullptr;
    ASSERT_EQ(createTexture(8, 8, 0, 0, fmtR5G6B5, poolManaged, &texture), 0);
    uint32_t id = recordedTextureId(texture);
    EXPECT_EQ(textureLevelCount(texture), 4u);
    Surface* surface = nullptr;
    ASSERT_EQ(textureSurfaceLevel(texture, 2, &surface), 0);
    SurfaceDesc desc{};
    ASSERT_EQ(surfaceDesc(surface, &desc), 0);
    EXPECT_EQ(desc.width, 2u);
    EXPECT_EQ(desc.height, 2u);
    EXPECT_EQ(desc.size, 8u);
    EXPECT_EQ(textureSurfaceLevel(texture, 4, &surface), -1);
    EXPECT_EQ(surface, nullptr);
    ASSERT_EQ(textureSurfaceLevel(texture, 0, &surface), 0);

    // Bound, then released: unbound at once; kept alive by its surface reference.
    setTexture(0, texture);
    releaseTexture(texture);
    EXPECT_EQ(recordedStageTexture(0), 0u);
    EXPECT_TRUE(recordedTexture(id)->released);
    EXPECT_EQ(recordLiveObjects(), 2u); // the two surface references
    LockedRect locked{};
    EXPECT_EQ(surfaceLock(surface, &locked, 0), 0);
    EXPECT_EQ(surfaceLock(surface, &locked, 0), -1); // already locked
    EXPECT_EQ(surfaceUnlock(surface), 0);
    releaseSurface(surface);
    releaseSurface(surface);
    EXPECT_EQ(recordLiveObjects(), 0u);

    // Unknown formats and sizes are refused.
    EXPECT_EQ(createTexture(8, 8, 1, 0, 99, poolManaged, &texture), -1);
    EXPECT_EQ(createTexture(0, 8, 1, 0, fmtR5G6B5, poolManaged, &texture), -1);
    EXPECT_EQ(createTexture(maxTextureDimension * 2, 8, 1, 0, fmtR5G6B5, poolManaged, &texture),
              -1);
    EXPECT_EQ(texture, nullptr);
}

} // namespace
