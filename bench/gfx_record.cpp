// Texture upload and draw recording on the recording device: what a plugin's init
// and frame cost before any driver is involved.
#include "gfx/device_record.h"
#include "gfx/upload.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u, v;
};

// One 256 x 256 R5G6B5 tile, row by row through a padded pitch.
void BM_UploadTile(benchmark::State& state) {
    recordReset();
    recordSetLogging(false);
    std::vector<uint8_t> tile(131072, 0x5A);
    for (auto _ : state) {
        Texture* texture = nullptr;
        benchmark::DoNotOptimize(uploadTexture(tile.data(), &texture, 256, 256, fmtR5G6B5, 0));
        releaseTexture(texture);
    }
    recordReset();
}
BENCHMARK(BM_UploadTile);

// An indexed draw of `quads` quads from a dynamic buffer, as the text column makes
// once per frame; with the log on (tests) and off (benchmarks of the effects).
void BM_IndexedQuads(benchmark::State& state) {
    recordReset();
    recordSetLogging(state.range(1) != 0);
    uint32_t quads = uint32_t(state.range(0));
    VertexBuffer* vertices = nullptr;
    IndexBuffer* indices = nullptr;
    createVertexBuffer(quads * 4 * 28, usageWriteOnly | usageDynamic, fvfScreenQuad, poolSystemMem,
                       &vertices);
    createIndexBuffer(quads * 6 * 2, usageWriteOnly, fmtIndex16, poolManaged, &indices);
    void* data = nullptr;
    lockIndexBuffer(indices, 0, 0, &data, 0);
    auto* index = static_cast<uint16_t*>(data);
    for (uint32_t q = 0; q < quads; ++q) {
        const uint16_t quad[6] = {uint16_t(4 * q),     uint16_t(4 * q + 1), uint16_t(4 * q + 2),
                                  uint16_t(4 * q + 2), uint16_t(4 * q + 1), uint16_t(4 * q + 3)};
        std::memcpy(index + 6 * q, quad, sizeof quad);
    }
    unlockIndexBuffer(indices);
    deviceBeginScene();
    setVertexShader(fvfScreenQuad);
    setStreamSource(0, vertices, 28);
    setIndices(indices, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(drawIndexedPrimitive(ptTriangleList, 0, quads * 4, 0, quads * 2));
        recordClearLog();
    }
    deviceEndScene();
    releaseIndexBuffer(indices);
    releaseVertexBuffer(vertices);
    recordReset();
}
BENCHMARK(BM_IndexedQuads)->Args({500, 0})->Args({500, 1});

} // namespace

BENCHMARK_MAIN();
