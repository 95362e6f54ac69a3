// The twisting tube: 33 rings of 64 vertices rebuilt from six running phases every
// frame and drawn lit and textured through the fixed-function transform, with the
// background's first tile as its band texture. Angles are table units, 65536 to a
// turn, looked up with their low 16 bits in a precomputed cosine/sine table.
// Main thread only (init, render, shutdown).
#include "effects/tube.h"

#include "app/frame_clock.h"
#include "app/mathutil.h"
#include "app/memory.h"
#include "app/random.h"
#include "assets/tube_assets.h"
#include "effects/backdrop.h"
#include "effects/matrix.h"
#include "gfx/device.h"

#include <cmath>
#include <cstring>

namespace {

// ---- Layout ----

constexpr int32_t ringCount = 33;
constexpr int32_t ringVertices = 64;
constexpr int32_t stripCount = ringCount - 1;
constexpr int32_t stripIndices = 2 * (ringVertices + 1);   // the last pair closes the strip
constexpr uint32_t fvfTube = fvfXyz | fvfNormal | fvfTex1; // 0x112

// Untransformed lit vertex of format 0x112.
struct TubeVertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};
static_assert(sizeof(TubeVertex) == 32);

constexpr int32_t ringBytes = ringVertices * int32_t(sizeof(TubeVertex)); // 2048
constexpr int32_t vertexBytes = ringCount * ringBytes;                    // 67584
constexpr int32_t indexBytes = stripCount * stripIndices * 2;             // 8320

struct Vec3 {
    float x, y, z;
};

struct SinCos {
    float cos, sin;
};
constexpr int32_t tableSize = 65536;

// ---- Plugin state ----

VertexBuffer* tubeVertices = nullptr;
IndexBuffer* tubeIndices = nullptr;
SinCos* sinCosTable = nullptr;
float tubePhases[6];
float textureScroll = 0.0f;
Matrix4 tubeWorld;
// The previous and the current ring; ringFlag names the array holding the previous
// one. Both survive from frame to frame, so ring 0 takes its normals from the last
// ring of the frame before.
Vec3 ringBuffers[2][ringVertices];
int32_t ringFlag = 0;
// Where a ring goes when its lock fails, so the ring arrays still advance.
TubeVertex scratchRing[ringVertices];

// Per-frame phase speeds in table units per second (positive or negative).
constexpr float phaseSpeed[6] = {32768.0f, 2293.76f, -1409.024f, 5898.24f, 5570.56f, -10813.44f};

// ---- Helpers ----

inline const SinCos& entry(int32_t n) {
    return sinCosTable[n & (tableSize - 1)];
}
inline int32_t nearest(float value) {
    return int32_t(roundToInteger(value));
}

// Normal of the face through a, b and c: the negated cross product of the two edges
// from a, scaled by a reciprocal square root taken straight from the float's bit
// pattern with no refinement step (within a few percent of unit length).
Vec3 faceNormal(const Vec3& a, const Vec3& b, const Vec3& c) {
    const Vec3 e1 = {b.x - a.x, b.y - a.y, b.z - a.z};
    const Vec3 e2 = {c.x - a.x, c.y - a.y, c.z - a.z};
    const float nx = e1.y * e2.z - e1.z * e2.y;
    const float ny = e1.z * e2.x - e1.x * e2.z;
    const float nz = e1.x * e2.y - e1.y * e2.x;
    const float length2 = nz * nz + ny * ny + nx * nx;
    uint32_t bits;
    std::memcpy(&bits, &length2, sizeof bits);
    bits = 0x5F3504F3u - (bits >> 1);
    float g;
    std::memcpy(&g, &bits, sizeof g);
    return {-g * nx, -g * ny, -g * nz};
}

// Brings a phase into [0, period): the same as adding or subtracting the period
// until it fits (each such step is exact for any phase a frame can reach), without
// looping through very long frames one period at a time.
float wrapPhase(float phase, float period) {
    if (phase < 0.0f || phase >= period) {
        phase = std::fmod(phase, period);
        if (phase < 0.0f) phase += period;
        if (phase >= period) phase -= period; // a tiny negative rounded up to the period
    }
    return phase + 0.0f; // no negative zero
}

void writeStrips(uint16_t* indices) {
    for (int32_t a = 0; a < stripCount; a++) {
        for (int32_t i = 0; i <= ringVertices; i++) {
            *indices++ = uint16_t(ringVertices * a + i % ringVertices);
            *indices++ = uint16_t(ringVertices * (a + 1) + i % ringVertices);
        }
    }
}

} // namespace

// ---- Plugin interface ----

int32_t initTube() {
    if (createVertexBuffer(vertexBytes, usageWriteOnly | usageDynamic, fvfTube, poolSystemMem,
                           &tubeVertices) != 0)
        return -1;
    if (createIndexBuffer(indexBytes, usageWriteOnly, fmtIndex16, poolManaged, &tubeIndices) != 0)
        return -1;
    void* data = nullptr;
    if (lockIndexBuffer(tubeIndices, 0, 0, &data, 0) != 0 || data == nullptr) return -1;
    writeStrips(static_cast<uint16_t*>(data));
    unlockIndexBuffer(tubeIndices);

    if (!sinCosTable)
        sinCosTable = static_cast<SinCos*>(allocBlock(tableSize * int32_t(sizeof(SinCos))));
    for (int32_t i = 0; i < tableSize; i++) {
        const double angle = double(i) * 6.283184 / 65536.0;
        sinCosTable[i] = {float(cosine(angle)), float(sine(angle))};
    }

    for (float& phase : tubePhases)
        phase = float(nextRandom());
    textureScroll = 0.0f;
    std::memset(ringBuffers, 0, sizeof ringBuffers);
    ringFlag = 0;

    setIdentity(&tubeWorld);
    tubeWorld.m[3][0] = 100.0f;
    return 0;
}

void renderTube() {
    setTransform(transformWorld, matrixFloats(tubeWorld));
    setTransform(transformView, tubeViewMatrix);
    setTransform(transformProjection, tubeProjectionMatrix);
    setTexture(0, backdropTile(0));
    setRenderState(rsAlphaBlendEnable, 0);
    setRenderState(rsCullMode, cullClockwise);
    setLight(0, &tubeLight);
    lightEnable(0, 1);
    setRenderState(rsLighting, 1);
    setRenderState(rsShadeMode, shadeGouraud);
    setRenderState(rsSpecularEnable, 1);
    setMaterial(&tubeMaterial);
    setVertexShader(fvfTube);
    setStreamSource(0, tubeVertices, sizeof(TubeVertex));
    setIndices(tubeIndices, 0);

    // This frame's shape, all angles in table units.
    const float amplitude = 30.0f * entry(nearest(tubePhases[1])).sin;
    int32_t radiusIndex = nearest(tubePhases[0]);
    int32_t twist = nearest(entry(nearest(tubePhases[2])).cos * 65536.0f);
    const int32_t twistStep = nearest(entry(nearest(tubePhases[3])).sin * 17776.0f / 32.0f);
    int32_t swayIndex4 = nearest(tubePhases[4]);
    int32_t swayIndex5 = nearest(tubePhases[5]);

    for (int32_t k = 0; k < ringCount; k++) {
        ringFlag ^= 1;
        const Vec3* previous = ringBuffers[ringFlag];
        Vec3* current = ringBuffers[ringFlag ^ 1];

        void* data = nullptr;
        TubeVertex* out = scratchRing;
        if (lockVertexBuffer(tubeVertices, uint32_t(ringBytes * k), ringBytes, &data,
                             lockNoOverwrite) == 0 &&
            data != nullptr)
            out = static_cast<TubeVertex*>(data);

        const float radius = amplitude * entry(radiusIndex).cos + 60.0f;
        radiusIndex += 2350;
        const float sway = entry(swayIndex5).cos * entry(swayIndex4).sin * 40.0f;
        swayIndex4 += 606;
        swayIndex5 += 65094; // -442 in table units
        const float z = (0.5f - float(k) / 32.0f) * 256.0f;
        const float bandU = float(k) * 0.1f;

        int32_t ripple = 0; // five ripples around the ring
        int32_t around = twist;
        for (int32_t j = 0; j < ringVertices; j++) {
            const float r = entry(ripple).cos * 10.0f + radius;
            const Vec3 p = {r * entry(around).cos + sway, r * entry(around).sin, z};
            current[j] = p;
            const Vec3 n = faceNormal(previous[j], previous[(j + 1) % ringVertices], p);
            out[j] = {p.x, p.y, p.z, n.x, n.y, n.z, bandU + textureScroll, 0.9f};
            around += 1024;
            ripple += 5120;
        }
        twist += twistStep;

        if (out != scratchRing) unlockVertexBuffer(tubeVertices);
        // Strip k - 1 joins the ring before to the one just written.
        if (k >= 1)
            drawIndexedPrimitive(ptTriangleStrip, uint32_t(ringVertices * (k - 1)),
                                 2 * ringVertices, uint32_t(stripIndices * (k - 1)),
                                 2 * ringVertices);
    }

    setRenderState(rsSpecularEnable, 0);
    setRenderState(rsLighting, 0);

    for (int32_t i = 0; i < 6; i++)
        tubePhases[i] = wrapPhase(tubePhases[i] + frameDelta * phaseSpeed[i], 65536.0f);
    textureScroll = wrapPhase(textureScroll - frameDelta * 0.1f, 1.0f);
}

void readTubePhases(float phases[6], float* scroll) {
    std::memcpy(phases, tubePhases, sizeof tubePhases);
    *scroll = textureScroll;
}

void shutdownTube() {
    if (tubeVertices) {
        releaseVertexBuffer(tubeVertices);
        tubeVertices = nullptr;
    }
    if (tubeIndices) {
        releaseIndexBuffer(tubeIndices);
        tubeIndices = nullptr;
    }
    if (sinCosTable) {
        freeBlock(sinCosTable);
        sinCosTable = nullptr;
    }
}
