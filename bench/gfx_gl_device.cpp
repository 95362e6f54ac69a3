// The OpenGL device on the machine's OpenGL (Mesa's software renderer under
// scripts/with-xvfb): a backdrop-sized frame of six texel-per-pixel tiles, and the
// CPU side of one indexed draw of text-column size.
#include "gfx/device_gl.h"
#include "gfx/upload.h"

#include <SDL.h>
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u, v;
};

SDL_Window* window = nullptr;

bool openWindow() {
    if (window) return true;
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    window = SDL_CreateWindow("gfx bench", 0, 0, 640, 480, SDL_WINDOW_OPENGL);
    if (!window || !SDL_GL_CreateContext(window)) return false;
    SDL_GL_SetSwapInterval(0);
    glDeviceAttach(window, 0, 0, 640, 480);
    return true;
}

void BM_GlBackdropFrame(benchmark::State& state) {
    if (!openWindow()) {
        state.SkipWithError("no OpenGL window");
        return;
    }
    std::vector<uint8_t> tile(131072);
    for (size_t i = 0; i < tile.size(); ++i)
        tile[i] = uint8_t(i * 13);
    Texture* tiles[6] = {};
    for (Texture*& t : tiles)
        uploadTexture(tile.data(), &t, 256, 256, fmtR5G6B5, 0);
    setRenderState(rsLighting, 0);
    setRenderState(rsZEnable, 0);
    setRenderState(rsCullMode, cullNone);
    setTextureStageState(0, tssMagFilter, filterPoint);
    setTextureStageState(0, tssMinFilter, filterPoint);
    setVertexShader(fvfScreenQuad);
    for (auto _ : state) {
        deviceClear(clearTarget | clearZBuffer, 0, 1.0f, 0);
        deviceBeginScene();
        for (int t = 0; t < 6; ++t) {
            float x = 256.0f * (t % 3), y = 256.0f * (t / 3);
            ScreenVertex quad[4] = {{x, y, 1, 1, 0xFFFFFFFF, 0, 0},
                                    {x + 256, y, 1, 1, 0xFFFFFFFF, 1, 0},
                                    {x, y + 256, 1, 1, 0xFFFFFFFF, 0, 1},
                                    {x + 256, y + 256, 1, 1, 0xFFFFFFFF, 1, 1}};
            setTexture(0, tiles[t]);
            drawPrimitiveUP(ptTriangleStrip, 2, quad, 28);
        }
        deviceEndScene();
        devicePresent();
        glFinish();
    }
    setTexture(0, nullptr);
    for (Texture* t : tiles)
        releaseTexture(t);
}
BENCHMARK(BM_GlBackdropFrame)->Unit(benchmark::kMicrosecond);

// Converting and handing over 2000 vertices and 3000 indices; the rasteriser's work
// is left to run in the background (no finish), so this is mostly the device's CPU.
void BM_GlIndexedDrawCpu(benchmark::State& state) {
    if (!openWindow()) {
        state.SkipWithError("no OpenGL window");
        return;
    }
    constexpr uint32_t quads = 500;
    VertexBuffer* vertices = nullptr;
    IndexBuffer* indices = nullptr;
    createVertexBuffer(quads * 4 * 28, usageWriteOnly | usageDynamic, fvfScreenQuad, poolSystemMem,
                       &vertices);
    createIndexBuffer(quads * 6 * 2, usageWriteOnly, fmtIndex16, poolManaged, &indices);
    void* data = nullptr;
    lockVertexBuffer(vertices, 0, 0, &data, lockDiscard);
    auto* v = static_cast<ScreenVertex*>(data);
    for (uint32_t q = 0; q < quads; ++q) {
        float x = float(q % 50) * 10.0f, y = float(q / 50) * 20.0f;
        v[4 * q + 0] = {x, y, 1, 1, 0x80FFFFFF, 0, 0};
        v[4 * q + 1] = {x + 8, y, 1, 1, 0x80FFFFFF, 0.03f, 0};
        v[4 * q + 2] = {x, y + 20, 1, 1, 0x80FFFFFF, 0, 0.08f};
        v[4 * q + 3] = {x + 8, y + 20, 1, 1, 0x80FFFFFF, 0.03f, 0.08f};
    }
    unlockVertexBuffer(vertices);
    lockIndexBuffer(indices, 0, 0, &data, 0);
    auto* index = static_cast<uint16_t*>(data);
    for (uint32_t q = 0; q < quads; ++q) {
        const uint16_t quad[6] = {uint16_t(4 * q),     uint16_t(4 * q + 1), uint16_t(4 * q + 2),
                                  uint16_t(4 * q + 2), uint16_t(4 * q + 1), uint16_t(4 * q + 3)};
        std::memcpy(index + 6 * q, quad, sizeof quad);
    }
    unlockIndexBuffer(indices);
    setTexture(0, nullptr);
    setRenderState(rsAlphaBlendEnable, 1);
    setRenderState(rsSrcBlend, blendSrcAlpha);
    setRenderState(rsDestBlend, blendInvSrcAlpha);
    setVertexShader(fvfScreenQuad);
    deviceBeginScene();
    uint32_t draws = 0;
    for (auto _ : state) {
        setStreamSource(0, vertices, 28);
        setIndices(indices, 0);
        benchmark::DoNotOptimize(drawIndexedPrimitive(ptTriangleList, 0, quads * 4, 0, quads * 2));
        if (++draws % 64 == 0) {
            state.PauseTiming();
            glFinish();
            state.ResumeTiming();
        }
    }
    deviceEndScene();
    setRenderState(rsAlphaBlendEnable, 0);
    releaseIndexBuffer(indices);
    releaseVertexBuffer(vertices);
}
BENCHMARK(BM_GlIndexedDrawCpu)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
