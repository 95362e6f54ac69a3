// The Direct3D half of the OpenGL-family display devices (device_gl.cpp over
// OpenGL 2.1, device_webgl.cpp over WebGL 1), free of any platform: the Direct3D 8
// state (render and stage states, transforms, light, material), textures with their
// level surfaces and vertex and index buffers in CPU memory, the validation of every
// call, and the conversion of the vertices a draw reads into one flat layout. It
// implements gfx/device.h and calls the backend through the hooks below, which each
// backend defines once (the two never link together). Compiled into each backend's
// library. Main thread only.
//
// Conventions the backends share:
// - Pre-transformed vertices are screen pixels with pixel centres on whole
//   coordinates: screenProjectionMatrix covers (-0.5, 639.5) x (479.5, -0.5), depth 0..1,
//   and a vertex with rhw goes in as (x/rhw, y/rhw, z/rhw, 1/rhw).
// - Transformed geometry uses row-vector matrices (handed to OpenGL as they are; it
//   reads them transposed, which turns p x M into M' x p) and a 0..1 clip depth,
//   remapped by clipConversionMatrix with the same sub-pixel shifts.
// - Culling counts windings as seen on the screen, which the projections preserve:
//   Direct3D's clockwise culling removes what OpenGL calls back faces (front CCW).
#pragma once
#include "gfx/device.h"
#include "gfx/device_common.h"

#include <cstdint>

struct Surface {
    Texture* texture;
    uint32_t level;
    uint32_t width, height; // pixels
    uint32_t pitch;         // bytes per row (rows of blocks when compressed)
    uint32_t rows;
    uint32_t size; // bytes of the level's image
    uint8_t* bits; // rows x pitch bytes, kept for the texture's whole life
    bool locked;
};

struct Texture {
    uint32_t name; // the backend's texture object; 0 while it has none
    uint32_t width, height, levels, format;
    bool released;
    uint32_t surfaceRefs;
    Surface* surfaces; // one per level
    // Sampler settings last applied to the backend's object (0: unknown).
    int32_t magFilter, minFilter, wrapS, wrapT;
    Texture* next; // list of all textures, for detach and re-attach
};

struct VertexBuffer {
    uint8_t* bytes;
    uint32_t length;
    uint32_t openLocks;
};

struct IndexBuffer {
    uint8_t* bytes;
    uint32_t length;
    uint32_t format;
    uint32_t openLocks;
};

constexpr uint32_t fmtIndex32 = 102;
constexpr uint32_t coreLightCount = 8;

struct CoreState {
    uint32_t renderStates[renderStateCount];
    uint32_t stages[textureStageCount][stageStateCount];
    Texture* texture0; // only stage 0 draws; other stages keep their states only
    uint32_t fvf;
    VertexBuffer* stream;
    uint32_t streamStride;
    IndexBuffer* indexBuffer;
    uint32_t baseVertexIndex;
    float world[16], view[16], projection[16];
    Light lights[coreLightCount];
    bool lightEnabled[coreLightCount];
    Material material;
    bool inScene;
    bool transformsChanged; // set by setTransform; a backend clears it once applied
};
extern CoreState core;

// One vertex as every draw hands it to the backend, whatever its format.
struct CoreVertex {
    float position[4]; // (x/rhw, y/rhw, z/rhw, 1/rhw) when pre-transformed, else (x, y, z, 1)
    float normal[3];
    uint8_t diffuse[4]; // r, g, b, a; opaque white when the format has none
    uint8_t specular[4];
    float texCoord[2];
};

// ---- Matrices and colours ---------------------------------------------------------------

// Screen pixels (x right, y down, pixel centres on whole numbers) and depth 0..1 to
// OpenGL clip space, for positions given as (x/rhw, y/rhw, z/rhw, 1/rhw); `step` is
// the rasteriser's sub-pixel step in pixels (1/256, or 1/16 where positions snap to
// sixteenths), by which the picture is lifted and shifted left (see device_core.cpp).
void screenProjectionMatrix(float step, float* m);
// Direct3D clip space (depth 0..w, pixel centres on whole screen coordinates) to
// OpenGL clip space (depth -w..w, pixel centres on half coordinates), with the same
// sub-pixel lift and shift.
void clipConversionMatrix(float step, float* m);
void identityMatrix(float* m);
// Row-vector product: r = a x b.
void multiplyMatrices(const float* a, const float* b, float* r);
// ARGB word to r, g, b, a in 0..1.
void colorToFloats(uint32_t argb, float* out);

// ---- Lifecycle, for the backends' attach and detach ---------------------------------------

// Direct3D 8's default states, no texture, buffers or transforms set.
void resetCoreState();
// Calls `each` for every texture; released ones too when `released` is set (those
// still alive because a surface of theirs is held).
void forEachTexture(void (*each)(Texture* texture), bool released);
// Frees the draw scratch memory.
void releaseCoreScratch();

// ---- Hooks each backend defines -------------------------------------------------------------

// Whether a context is attached, so that frames, draws and textures can be made.
bool backendAttached();
// Whether textures of this format can be created at all on the attached context.
bool backendSupportsFormat(uint32_t format);
int32_t backendClear(uint32_t flags, uint32_t color, float z);
void backendPresent();
// Draws `vertexCount` converted vertices in the current state; `indices` (null for
// an unindexed draw) picks `indexCount` of them, each below vertexCount. The vertices
// are the core's scratch, converted afresh for every draw: the backend may change them.
void backendDraw(uint32_t type, CoreVertex* vertices, uint32_t vertexCount, const uint32_t* indices,
                 uint32_t indexCount);
// Creates the backend's object for a texture and uploads every level.
void backendCreateTexture(Texture* texture);
// Uploads one level from its surface memory after an unlock.
void backendUploadLevel(Texture* texture, uint32_t level);
void backendDeleteTexture(Texture* texture);
