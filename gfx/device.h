// The display device: a small fixed-function drawing interface with Direct3D 8
// semantics (numbers, states, vertex formats, lock flags and results as that API
// defines them). The implementations are chosen at link time: Direct3D 8 itself on
// Windows (device_d3d8.cpp), the OpenGL 2.1 and WebGL 1 devices that emulate it
// (device_gl.cpp, device_webgl.cpp), and the recording device (device_record.cpp)
// that tests use to check states, draws and vertex data frame by frame.
// All calls are made on the main thread. Results: 0 success, negative failure.
#pragma once
#include <cstdint>

struct Texture;
struct Surface;
struct VertexBuffer;
struct IndexBuffer;

// ---- Render states (D3DRS_*) -------------------------------------------------
constexpr uint32_t rsZEnable = 7;
constexpr uint32_t rsShadeMode = 9;
constexpr uint32_t rsZWriteEnable = 14;
constexpr uint32_t rsSrcBlend = 19;
constexpr uint32_t rsDestBlend = 20;
constexpr uint32_t rsCullMode = 22;
constexpr uint32_t rsAlphaBlendEnable = 27;
constexpr uint32_t rsSpecularEnable = 29;
constexpr uint32_t rsLighting = 137;
constexpr uint32_t rsAmbient = 139;
constexpr uint32_t rsLocalViewer = 142;

constexpr uint32_t blendZero = 1, blendOne = 2, blendSrcAlpha = 5, blendInvSrcAlpha = 6;
constexpr uint32_t cullNone = 1, cullClockwise = 2, cullCounterClockwise = 3;
constexpr uint32_t shadeFlat = 1, shadeGouraud = 2;

// ---- Texture stage states (D3DTSS_*) -----------------------------------------
constexpr uint32_t tssColorOp = 1;
constexpr uint32_t tssColorArg1 = 2;
constexpr uint32_t tssColorArg2 = 3;
constexpr uint32_t tssAlphaOp = 4;
constexpr uint32_t tssAlphaArg1 = 5;
constexpr uint32_t tssAlphaArg2 = 6;
constexpr uint32_t tssAddressU = 13;
constexpr uint32_t tssAddressV = 14;
constexpr uint32_t tssMagFilter = 16;
constexpr uint32_t tssMinFilter = 17;
constexpr uint32_t tssMipFilter = 18;

constexpr uint32_t topDisable = 1, topSelectArg1 = 2, topSelectArg2 = 3, topModulate = 4;
constexpr uint32_t taDiffuse = 0, taCurrent = 1, taTexture = 2;
constexpr uint32_t addressWrap = 1, addressMirror = 2, addressClamp = 3;
constexpr uint32_t filterNone = 0, filterPoint = 1, filterLinear = 2;

// ---- Primitives, vertex formats, transforms -----------------------------------
constexpr uint32_t ptPointList = 1, ptLineList = 2, ptLineStrip = 3, ptTriangleList = 4,
                   ptTriangleStrip = 5, ptTriangleFan = 6;

constexpr uint32_t fvfXyz = 0x002, fvfXyzRhw = 0x004, fvfNormal = 0x010, fvfDiffuse = 0x040,
                   fvfSpecular = 0x080, fvfTex1 = 0x100;
constexpr uint32_t fvfScreenQuad = 0x144;     // x, y, z, rhw, diffuse, u, v: 28 bytes
constexpr uint32_t fvfScreenSpecular = 0x1C4; // x, y, z, rhw, diffuse, specular, u, v: 32 bytes

constexpr uint32_t transformView = 2, transformProjection = 3, transformWorld = 256;

constexpr uint32_t clearTarget = 1, clearZBuffer = 2;

// ---- Formats, usage, pools, locks ------------------------------------------------
constexpr uint32_t fmtR8G8B8 = 20, fmtA8R8G8B8 = 21, fmtX8R8G8B8 = 22, fmtR5G6B5 = 23,
                   fmtX1R5G5B5 = 24, fmtA1R5G5B5 = 25, fmtA4R4G4B4 = 26;
constexpr uint32_t fmtD32 = 71, fmtD24X8 = 77, fmtD16 = 80;
constexpr uint32_t fmtIndex16 = 101;
constexpr uint32_t makeFourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t fmtDXT1 = makeFourCC('D', 'X', 'T', '1'),
                   fmtDXT2 = makeFourCC('D', 'X', 'T', '2'),
                   fmtDXT3 = makeFourCC('D', 'X', 'T', '3'),
                   fmtDXT4 = makeFourCC('D', 'X', 'T', '4'),
                   fmtDXT5 = makeFourCC('D', 'X', 'T', '5');

constexpr uint32_t usageWriteOnly = 0x8, usageDynamic = 0x200;
constexpr uint32_t poolDefault = 0, poolManaged = 1, poolSystemMem = 2;
constexpr uint32_t lockNoOverwrite = 0x1000, lockDiscard = 0x2000;

constexpr uint32_t lightPoint = 1, lightSpot = 2, lightDirectional = 3;

struct ColorValue {
    float r, g, b, a;
};

// The published D3DLIGHT8 layout.
struct Light {
    uint32_t type;
    ColorValue diffuse, specular, ambient;
    float position[3];
    float direction[3];
    float range, falloff, attenuation0, attenuation1, attenuation2, theta, phi;
};

// The published D3DMATERIAL8 layout.
struct Material {
    ColorValue diffuse, ambient, specular, emissive;
    float power;
};

struct SurfaceDesc {
    uint32_t format;
    uint32_t width;
    uint32_t height;
    uint32_t size; // bytes of the level
};

struct LockedRect {
    int32_t pitch; // bytes from one row to the next
    void* bits;
};

// ---- Frame ------------------------------------------------------------------------
int32_t deviceClear(uint32_t flags, uint32_t color, float z, uint32_t stencil);
int32_t deviceBeginScene();
int32_t deviceEndScene();
int32_t devicePresent();

// ---- States -------------------------------------------------------------------------
int32_t setRenderState(uint32_t state, uint32_t value);
int32_t setTextureStageState(uint32_t stage, uint32_t type, uint32_t value);
int32_t setTexture(uint32_t stage, Texture* texture); // null: the vertex colour alone
int32_t setVertexShader(uint32_t fvf);                // a fixed-function vertex format
int32_t setStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t stride);
int32_t setIndices(IndexBuffer* buffer, uint32_t baseVertexIndex);
int32_t setTransform(uint32_t which, const float matrix[16]); // row-major, row vectors
int32_t setLight(uint32_t index, const Light* light);
int32_t lightEnable(uint32_t index, int32_t enable);
int32_t setMaterial(const Material* material);

// ---- Drawing ------------------------------------------------------------------------------
int32_t drawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount);
int32_t drawIndexedPrimitive(uint32_t type, uint32_t minIndex, uint32_t vertexCount,
                             uint32_t startIndex, uint32_t primitiveCount);
int32_t drawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices,
                        uint32_t stride);

// ---- Textures and their level surfaces ---------------------------------------------------
// levels 0 asks for the whole mip chain.
int32_t createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                      uint32_t format, uint32_t pool, Texture** texture);
uint32_t textureLevelCount(Texture* texture);
int32_t textureSurfaceLevel(Texture* texture, uint32_t level, Surface** surface);
int32_t surfaceDesc(Surface* surface, SurfaceDesc* desc);
int32_t surfaceLock(Surface* surface, LockedRect* locked, uint32_t flags);
int32_t surfaceUnlock(Surface* surface); // uploads what was written while locked
void releaseSurface(Surface* surface);
void releaseTexture(Texture* texture);

// ---- Vertex and index buffers ----------------------------------------------------------------
int32_t createVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                           VertexBuffer** buffer);
// size 0 locks from offset to the end.
int32_t lockVertexBuffer(VertexBuffer* buffer, uint32_t offset, uint32_t size, void** data,
                         uint32_t flags);
int32_t unlockVertexBuffer(VertexBuffer* buffer);
void releaseVertexBuffer(VertexBuffer* buffer);

int32_t createIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool,
                          IndexBuffer** buffer);
int32_t lockIndexBuffer(IndexBuffer* buffer, uint32_t offset, uint32_t size, void** data,
                        uint32_t flags);
int32_t unlockIndexBuffer(IndexBuffer* buffer);
void releaseIndexBuffer(IndexBuffer* buffer);
