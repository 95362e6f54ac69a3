// The recording device's own rules, which the effect tests rely on to see what a plugin
// really drew: draws copied with the states in force, resolved through streams and
// indices, refused where Direct3D would refuse them; lock flags; object lifetimes.
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

TEST_F(RecordTest, DrawsAreCopiedResolvedAndRefusedAsDirect3DWould) {
    // Direct3D's defaults where the plugins rely on them.
    EXPECT_EQ(recordedState(rsCullMode), cullCounterClockwise);
    EXPECT_EQ(recordedState(rsLighting), 1u);
    EXPECT_EQ(recordedTextureStageState(0, tssColorOp), topModulate);
    EXPECT_EQ(recordedTextureStageState(1, tssColorOp), topDisable);

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
    ASSERT_EQ(drawnVertexCount(draw), 4u);
    EXPECT_TRUE(vertexFloat(draw, 3, 0) == 10.0f && vertexFloat(draw, 2, 24) == 1.0f);
    EXPECT_EQ(vertexWord(draw, 2, 16), 0xFF102030u);
    EXPECT_EQ(draw.state.renderStates[rsAlphaBlendEnable], 1u);
    EXPECT_EQ(draw.state.texture, recordedTextureId(texture));

    // A stream draw reads from its start vertex, never past the buffer, never from a
    // locked buffer.
    VertexBuffer* buffer = filledVertexBuffer(8);
    setStreamSource(0, buffer, 28);
    EXPECT_EQ(drawPrimitive(ptTriangleList, 2, 2), 0);
    const RecordedCall& streamDraw = *recordedDraws().back();
    ASSERT_EQ(drawnVertexCount(streamDraw), 6u);
    EXPECT_TRUE(vertexWord(streamDraw, 0, 16) == 2u && vertexWord(streamDraw, 5, 16) == 7u);
    EXPECT_EQ(drawPrimitive(ptTriangleList, 6, 1), -1); // vertices 6 to 8 of 8
    void* data = nullptr;
    lockVertexBuffer(buffer, 0, 28, &data, 0);
    EXPECT_EQ(drawPrimitive(ptPointList, 0, 1), -1);
    unlockVertexBuffer(buffer);

    // Indexed draws resolve through the indices plus the base vertex, and fail for an
    // index outside the declared range, a range past the vertex buffer, or indices past
    // the index buffer.
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
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 0, 3, 0, 2), -1);
    setIndices(indices, 5);
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 0, 4, 0, 2), -1);
    setIndices(indices, 0);
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 0, 4, 6, 3), -1);
    deviceEndScene();
    releaseIndexBuffer(indices);
    releaseVertexBuffer(buffer);
    releaseTexture(texture);
    EXPECT_EQ(recordLiveObjects(), 0u);
}

TEST_F(RecordTest, LocksAndObjectLifetimes) {
    VertexBuffer* buffer = filledVertexBuffer(4);
    void* data = nullptr;
    // Size 0 locks to the end; no-overwrite keeps what was there; the unlock logs the
    // range; a discard drops the old contents.
    ASSERT_EQ(lockVertexBuffer(buffer, 56, 0, &data, lockNoOverwrite), 0);
    EXPECT_EQ(static_cast<ScreenVertex*>(data)->diffuse, 2u);
    static_cast<ScreenVertex*>(data)->diffuse = 77;
    ASSERT_EQ(unlockVertexBuffer(buffer), 0);
    const RecordedCall& unlock = recordedCalls().back();
    EXPECT_TRUE(unlock.data.size() == 56u && unlock.data[16] == 77);
    EXPECT_EQ(lockVertexBuffer(buffer, 100, 20, &data, 0), -1); // past the end
    ASSERT_EQ(lockVertexBuffer(buffer, 0, 28, &data, lockDiscard), 0);
    unlockVertexBuffer(buffer);
    EXPECT_EQ(recordedVertexBuffer(recordedVertexBufferId(buffer))->bytes[100], 0xCD);
    releaseVertexBuffer(buffer);

    // A texture bound and then released is unbound at once, but its surface
    // references keep it alive until they are released too.
    Texture* texture = nullptr;
    ASSERT_EQ(createTexture(8, 8, 0, 0, fmtR5G6B5, poolManaged, &texture), 0);
    EXPECT_EQ(textureLevelCount(texture), 4u);
    const uint32_t id = recordedTextureId(texture);
    Surface* surface = nullptr;
    ASSERT_EQ(textureSurfaceLevel(texture, 0, &surface), 0);
    setTexture(0, texture);
    releaseTexture(texture);
    EXPECT_EQ(recordedStageTexture(0), 0u);
    EXPECT_TRUE(recordedTexture(id)->released);
    EXPECT_EQ(recordLiveObjects(), 1u);
    LockedRect locked{};
    EXPECT_EQ(surfaceLock(surface, &locked, 0), 0);
    EXPECT_EQ(surfaceLock(surface, &locked, 0), -1); // already locked
    EXPECT_EQ(surfaceUnlock(surface), 0);
    releaseSurface(surface);
    EXPECT_EQ(recordLiveObjects(), 0u);
}

} // namespace
