// Rules the display device implementations share, free of any platform: the
// Direct3D 8 default states, vertex sizes of the fixed-function formats, vertex
// counts of primitives, the sizes of texture levels in each pixel format, and the
// texel conversion (DXT decoding included) that OpenGL ES uploads need.
#pragma once
#include <cstdint>

// Render state numbers the devices understand beyond those the effects set.
constexpr uint32_t rsFillMode = 8, rsAlphaTestEnable = 15, rsZFunc = 23, rsAlphaRef = 24,
                   rsAlphaFunc = 25, rsTextureFactor = 60, rsNormalizeNormals = 143,
                   rsDiffuseMaterialSource = 145, rsColorVertex = 141, rsColorWriteEnable = 168;
constexpr uint32_t tssTexCoordIndex = 11;

constexpr uint32_t renderStateCount = 256; // valid render state numbers are below this
constexpr uint32_t stageStateCount = 32;   // valid texture stage state types are below this
constexpr uint32_t textureStageCount = 8;
constexpr uint32_t maxTextureDimension = 4096;
constexpr uint32_t maxBufferLength = 64u << 20;

uint32_t defaultRenderState(uint32_t state);
uint32_t defaultTextureStageState(uint32_t stage, uint32_t type);

// Bytes of one vertex of a fixed-function format; 0 for a format the devices cannot
// draw (no position, or both XYZ and XYZRHW, or unknown bits).
uint32_t fvfVertexSize(uint32_t fvf);
// Byte offsets inside a vertex of the format; -1 where the component is absent.
struct FvfLayout {
    int32_t position; // 3 floats (XYZ) or 4 (XYZRHW)
    int32_t normal;   // 3 floats
    int32_t diffuse;  // ARGB word
    int32_t specular; // ARGB word
    int32_t texCoord; // 2 floats (set 0)
    uint32_t size;
    bool transformed; // XYZRHW: screen pixels, never lit
};
FvfLayout fvfLayout(uint32_t fvf);

// Vertices (or indices) a draw of primitiveCount primitives reads; 0 for an unknown
// type or a count of 0.
uint32_t primitiveVertexCount(uint32_t type, uint32_t primitiveCount);

// Number of levels a texture gets: levels 0 means the whole chain down to 1 x 1.
uint32_t textureLevelsFor(uint32_t width, uint32_t height, uint32_t levels);
inline uint32_t levelDimension(uint32_t size, uint32_t level) {
    uint32_t d = size >> level;
    return d ? d : 1;
}
bool isCompressedFormat(uint32_t format);
// Bytes per pixel of an uncompressed texture format, 0 when unknown or compressed.
uint32_t textureBytesPerPixel(uint32_t format);
// True for every format a texture can be created in (uncompressed 20..26, DXT1..5).
bool isTextureFormat(uint32_t format);
// Bytes of one row as the image stores it (a row of 4 x 4 blocks when compressed).
uint32_t levelRowBytes(uint32_t format, uint32_t width);
// Rows of the level as the image stores it (rows of blocks when compressed).
uint32_t levelRows(uint32_t format, uint32_t height);

// ---- Texel conversion for OpenGL ES, whose channel order differs from Direct3D's ----

// Bytes per pixel of a level converted by convertLevelForEs: 3 for 24- and
// X8R8G8B8 (r, g, b bytes), 4 for A8R8G8B8 and decoded DXT (r, g, b, a bytes), 2 for
// the 16-bit formats (R5G6B5 as it is, 1555 as 5551, 4444 with alpha moved to the
// low bits, each a native-endian word); 0 for an unknown format.
uint32_t esTexelBytes(uint32_t format);
// Converts a width x height level from its Direct3D layout (rows `pitch` bytes apart;
// for DXT, rows of 4 x 4 blocks) into tightly packed rows in the layout above.
void convertLevelForEs(uint32_t format, const uint8_t* source, uint32_t pitch, uint32_t width,
                       uint32_t height, uint8_t* out);
