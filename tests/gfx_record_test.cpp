// The recording device: defaults, draw resolution, lock rules and object lifetime,
// which the effect tests rely on to see what a plugin really drew.
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

class RecordTest : public ::testing::Test {
  protected:
    void SetUp() override { recordReset(); }
    void TearDown() override { recordReset(); }
};

// A buffer of screen vertices whose diffuse word is their index.
VertexBuffer* filledVertexBuffer(uint32_t vertices) {
    VertexBuffer* buffer = nullptr;
    EXPECT_EQ(createVertexBuffer(vertices * 28, usageWriteOnly | usageDynamic, fvfScreenQuad,
                                 poolSystemMem, &buffer),
              0);
    void* data = nullptr;
    EXPECT_EQ(lockVertexBuffer(buffer, 0, 0, &data, 0), 0);
    for (uint32_t i = 0; i < vertices; ++i)
        static_cast<ScreenVertex*>(data)[i] = ScreenVertex{float(i), 0, 0.5f, 1, i, 0, 0};
    EXPECT_EQ(unlockVertexBuffer(buffer), 0);
    return buffer;
}

TEST_F(RecordTest, StartsFromDirect3DDefaults) {
    const std::pair<uint32_t, uint32_t> states[] = {
        {rsZEnable, 1},         {rsZWriteEnable, 1},        {rsCullMode, cullCounterClockwise},
        {rsLighting, 1},        {rsAlphaBlendEnable, 0},    {rsSpecularEnable, 0},
        {rsSrcBlend, blendOne}, {rsDestBlend, blendZero},   {rsAmbient, 0},
        {rsLocalViewer, 1},     {rsShadeMode, shadeGouraud}};
    for (auto [state, value] : states)
        EXPECT_EQ(recordedState(state), value) << "render state " << state;
    const std::pair<uint32_t, uint32_t> stage0[] = {
        {tssColorOp, topModulate},   {tssAlphaOp, topSelectArg1}, {tssColorArg1, taTexture},
        {tssMinFilter, filterPoint}, {tssMipFilter, filterNone},  {tssAddressU, addressWrap}};
    for (auto [type, value] : stage0)
        EXPECT_EQ(recordedTextureStageState(0, type), value) << "stage state " << type;
    EXPECT_EQ(recordedTextureStageState(1, tssColorOp), topDisable);
    // A reset restores them.
    setRenderState(rsCullMode, cullNone);
    recordReset();
    EXPECT_EQ(recordedState(rsCullMode), cullCounterClockwise);
}

TEST_F(RecordTest, DrawsRecordTheirVerticesAndTheStatesInForce) {
    ScreenVertex quad[4];
    for (int i = 0; i < 4; ++i)
        quad[i] = {10.0f * (i & 1), 10.0f * (i >> 1), 0.5f, 1, 0xFF102030, 0, float(i >> 1)};
    Texture* texture = nullptr;
    ASSERT_EQ(createTexture(4, 4, 1, 0, fmtA4R4G4B4, poolManaged, &texture), 0);
    setVertexShader(fvfScreenQuad);
    EXPECT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, quad, 28), -1); // outside a scene, logged
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
    EXPECT_TRUE(draw.args[0] == ptTriangleStrip && draw.args[1] == 2u);
    ASSERT_EQ(drawnVertexCount(draw), 4u);
    EXPECT_EQ(vertexFloat(draw, 3, 0), 10.0f);
    EXPECT_EQ(vertexFloat(draw, 2, 24), 1.0f);
    EXPECT_EQ(vertexWord(draw, 2, 16), 0xFF102030u);
    EXPECT_EQ(draw.state.renderStates[rsAlphaBlendEnable], 1u);
    EXPECT_EQ(draw.state.texture, recordedTextureId(texture));
    EXPECT_EQ(draw.state.fvf, fvfScreenQuad);

    // A stream draw reads from its start vertex and never past the buffer; drawing
    // from memory unbinds the stream.
    VertexBuffer* buffer = filledVertexBuffer(8);
    setStreamSource(0, buffer, 28);
    EXPECT_EQ(drawPrimitive(ptTriangleList, 2, 2), 0);
    const RecordedCall& streamDraw = *recordedDraws().back();
    ASSERT_EQ(drawnVertexCount(streamDraw), 6u);
    EXPECT_TRUE(vertexWord(streamDraw, 0, 16) == 2u && vertexWord(streamDraw, 5, 16) == 7u);
    EXPECT_EQ(drawPrimitive(ptTriangleList, 6, 1), -1); // vertices 6 to 8 of 8
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

    // Indexed draws resolve through the indices plus the base vertex.
    IndexBuffer* indices = nullptr;
    ASSERT_EQ(createIndexBuffer(12 * 2, usageWriteOnly, fmtIndex16, poolManaged, &indices), 0);
    ASSERT_EQ(lockIndexBuffer(indices, 0, 0, &data, 0), 0);
    const uint16_t list[12] = {0, 1, 2, 2, 1, 3, 0, 1, 2, 2, 1, 3};
    std::memcpy(data, list, sizeof list);
    unlockIndexBuffer(indices);
    setIndices(indices, 4);
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 0, 4, 0, 2), 0);
    const RecordedCall& indexed = *recordedDraws().back();
    EXPECT_EQ(indexed.indexList, (std::vector<uint32_t>{0, 1, 2, 2, 1, 3}));
    ASSERT_EQ(drawnVertexCount(indexed), 6u);
    EXPECT_TRUE(vertexWord(indexed, 0, 16) == 4u && vertexWord(indexed, 5, 16) == 7u);
    // An index outside the declared range, a range past the vertex buffer, indices past
    // the index buffer: all fail.
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 0, 3, 0, 2), -1);
    setIndices(indices, 5);
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 0, 4, 0, 2), -1);
    setIndices(indices, 0);
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 0, 4, 6, 3), -1);
    deviceEndScene();
    EXPECT_EQ(devicePresent(), 0);
    releaseIndexBuffer(indices);
    releaseVertexBuffer(buffer);
    releaseTexture(texture);
    EXPECT_EQ(recordLiveObjects(), 0u);
}

TEST_F(RecordTest, LocksAndObjectLifetimes) {
    VertexBuffer* buffer = filledVertexBuffer(4);
    void* data = nullptr;
    // Size 0 locks to the end; no-overwrite keeps what was there; the unlock logs the range.
    ASSERT_EQ(lockVertexBuffer(buffer, 56, 0, &data, lockNoOverwrite), 0);
    EXPECT_EQ(recordedCalls().back().args[1], 56u);
    EXPECT_EQ(static_cast<ScreenVertex*>(data)->diffuse, 2u);
    static_cast<ScreenVertex*>(data)->diffuse = 77;
    ASSERT_EQ(unlockVertexBuffer(buffer), 0);
    const RecordedCall& unlock = recordedCalls().back();
    ASSERT_EQ(unlock.data.size(), 56u);
    EXPECT_EQ(unlock.data[16], 77);
    // Ranges past the end fail and hand out nothing; an unlock with nothing open fails.
    EXPECT_EQ(lockVertexBuffer(buffer, 100, 20, &data, 0), -1);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(lockVertexBuffer(buffer, 112, 0, &data, 0), -1);
    EXPECT_EQ(unlockVertexBuffer(buffer), -1);
    // Discard drops the old contents.
    ASSERT_EQ(lockVertexBuffer(buffer, 0, 28, &data, lockDiscard), 0);
    unlockVertexBuffer(buffer);
    EXPECT_EQ(recordedVertexBuffer(recordedVertexBufferId(buffer))->bytes[100], 0xCD);
    // Injected faults hit exactly the n-th call.
    recordFailNth(RecordFault::lockVertexBuffer, 1);
    EXPECT_EQ(lockVertexBuffer(buffer, 0, 0, &data, 0), -1);
    EXPECT_EQ(lockVertexBuffer(buffer, 0, 0, &data, 0), 0);
    unlockVertexBuffer(buffer);
    releaseVertexBuffer(buffer);
    EXPECT_EQ(recordLiveObjects(), 0u);

    // Textures: levels down to 1 x 1, surfaces that keep their texture alive.
    Texture* texture = nullptr;
    ASSERT_EQ(createTexture(8, 8, 0, 0, fmtR5G6B5, poolManaged, &texture), 0);
    const uint32_t id = recordedTextureId(texture);
    EXPECT_EQ(textureLevelCount(texture), 4u);
    Surface* surface = nullptr;
    ASSERT_EQ(textureSurfaceLevel(texture, 2, &surface), 0);
    SurfaceDesc desc{};
    ASSERT_EQ(surfaceDesc(surface, &desc), 0);
    EXPECT_TRUE(desc.width == 2u && desc.height == 2u && desc.size == 8u);
    EXPECT_EQ(textureSurfaceLevel(texture, 4, &surface), -1);
    EXPECT_EQ(surface, nullptr);
    ASSERT_EQ(textureSurfaceLevel(texture, 0, &surface), 0);
    // Bound, then released: unbound at once; kept alive by its surface references.
    setTexture(0, texture);
    releaseTexture(texture);
    EXPECT_EQ(recordedStageTexture(0), 0u);
    EXPECT_TRUE(recordedTexture(id)->released);
    EXPECT_EQ(recordLiveObjects(), 2u);
    LockedRect locked{};
    EXPECT_EQ(surfaceLock(surface, &locked, 0), 0);
    EXPECT_EQ(surfaceLock(surface, &locked, 0), -1); // already locked
    EXPECT_EQ(surfaceUnlock(surface), 0);
    releaseSurface(surface);
    releaseSurface(surface);
    EXPECT_EQ(recordLiveObjects(), 0u);
    EXPECT_EQ(createTexture(8, 8, 1, 0, 99, poolManaged, &texture), -1); // unknown format
    EXPECT_EQ(texture, nullptr);
}

} // namespace
