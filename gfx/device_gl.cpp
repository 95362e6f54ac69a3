// The OpenGL 2.1 display device: gfx/device.h over the fixed-function pipeline,
// keeping Direct3D 8's semantics. Owns the Direct3D-side state (render and stage
// states, transforms, light, material), the textures, surfaces and buffers (CPU
// memory; textures also hold an OpenGL texture object), and a shadow of the
// OpenGL state last applied. The Direct3D state is translated at each draw.
//
// Conventions carried over:
// - Pre-transformed vertices are screen pixels with pixel centres on whole
//   coordinates: the projection covers (-0.5, 639.5) x (479.5, -0.5), depth 0..1,
//   and a vertex with rhw goes in as (x/rhw, y/rhw, z/rhw, 1/rhw).
// - Transformed geometry uses row-vector matrices (loaded as they are, OpenGL reads
//   them transposed) and a 0..1 clip depth, remapped with the same half-pixel shift.
// - Culling counts windings as seen on the screen, which the projection preserves.
// - Stage 0 output plus the specular colour when specular is enabled (colour sum),
//   lighting in eye space with global ambient from the ambient render state.
// Main thread only, with the context made current by the display code.
#include "gfx/device_gl.h"

#include "app/mathutil.h"
#include "app/memory.h"
#include "gfx/device.h"
#include "gfx/device_common.h"

#include <SDL.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstring>

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
    GLuint name;
    uint32_t width, height, levels, format;
    bool released;
    uint32_t surfaceRefs;
    Surface* surfaces; // one per level
    // Sampler settings last applied to the OpenGL object (0: unknown).
    GLint magFilter, minFilter, wrapS, wrapT;
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

namespace {

constexpr uint32_t fmtIndex32 = 102;
constexpr uint32_t lightCount = 8;
constexpr uint32_t padPixels = 4; // a lock's pitch is this many pixels longer than the row

// ---- Direct3D-side state --------------------------------------------------------------------

struct DeviceState {
    uint32_t renderStates[renderStateCount];
    uint32_t stages[textureStageCount][stageStateCount];
    Texture* texture0; // only stage 0 draws; other stages keep their states only
    uint32_t fvf;
    VertexBuffer* stream;
    uint32_t streamStride;
    IndexBuffer* indexBuffer;
    uint32_t baseVertexIndex;
    float world[16], view[16], projection[16];
    Light lights[lightCount];
    bool lightEnabled[lightCount];
    Material material;
    bool inScene;
};

DeviceState d3d;
SDL_Window* window = nullptr;
bool attached = false;
int viewport[4] = {0, 0, 640, 480};
Texture* textures = nullptr;
bool transformsChanged = true;

PFNGLSECONDARYCOLORPOINTERPROC secondaryColorPointer = nullptr;
PFNGLCOMPRESSEDTEXIMAGE2DPROC compressedTexImage2D = nullptr;
PFNGLPROVOKINGVERTEXPROC provokingVertex = nullptr;
bool hasS3tc = false;

// ---- OpenGL shadow state ------------------------------------------------------------------------

enum Cap {
    capDepth,
    capBlend,
    capCull,
    capLighting,
    capColorSum,
    capTexture,
    capAlphaTest,
    capColorMaterial,
    capNormalize,
    capLight0,
    capCount
};
constexpr GLenum capNames[capCount] = {
    GL_DEPTH_TEST, GL_BLEND,      GL_CULL_FACE,      GL_LIGHTING,  GL_COLOR_SUM,
    GL_TEXTURE_2D, GL_ALPHA_TEST, GL_COLOR_MATERIAL, GL_NORMALIZE, GL_LIGHT0};

struct GlShadow {
    int8_t caps[capCount]; // -1 unknown
    GLenum depthFunc, srcBlend, dstBlend, cullFace, shadeModel, alphaFunc, polygonMode;
    GLfloat alphaRef;
    GLboolean depthMask;
    uint32_t colorMask;
    GLuint boundTexture;
    int projectionMode; // 0 unknown, 1 screen pixels, 2 transformed
    uint32_t combineKey[8];
    bool combineValid;
};
GlShadow gl;

void forgetGlState() {
    std::memset(&gl, 0, sizeof gl);
    for (int8_t& cap : gl.caps)
        cap = -1;
    gl.alphaRef = -1.0f;
    gl.colorMask = 0xFFFFFFFFu;
    gl.boundTexture = ~GLuint(0);
}

void setCap(Cap cap, bool on) {
    if (gl.caps[cap] == int8_t(on)) return;
    gl.caps[cap] = int8_t(on);
    if (on)
        glEnable(capNames[cap]);
    else
        glDisable(capNames[cap]);
}

void bindTexture(GLuint name) {
    if (gl.boundTexture == name) return;
    gl.boundTexture = name;
    glBindTexture(GL_TEXTURE_2D, name);
}

// ---- Default state ---------------------------------------------------------------------------

void identity(float* m) {
    for (int i = 0; i < 16; ++i)
        m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

void resetDeviceState() {
    for (uint32_t s = 0; s < renderStateCount; ++s)
        d3d.renderStates[s] = defaultRenderState(s);
    for (uint32_t stage = 0; stage < textureStageCount; ++stage)
        for (uint32_t t = 0; t < stageStateCount; ++t)
            d3d.stages[stage][t] = defaultTextureStageState(stage, t);
    d3d.texture0 = nullptr;
    d3d.fvf = 0;
    d3d.stream = nullptr;
    d3d.streamStride = 0;
    d3d.indexBuffer = nullptr;
    d3d.baseVertexIndex = 0;
    identity(d3d.world);
    identity(d3d.view);
    identity(d3d.projection);
    for (Light& light : d3d.lights)
        light = Light{};
    for (bool& on : d3d.lightEnabled)
        on = false;
    d3d.material = Material{};
    d3d.inScene = false;
    transformsChanged = true;
}

// ---- Matrices ----------------------------------------------------------------------------------

// Row-vector product: r = a x b.
void multiply(const float* a, const float* b, float* r) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a[4 * i + k] * b[4 * k + j];
            r[4 * i + j] = sum;
        }
}

// Direct3D fills a pixel whose centre lies exactly on a triangle's top or left edge
// but not on its bottom or right edge. OpenGL here (lower-left origin) takes the
// bottom edge instead of the top one, so everything is lifted by one sub-pixel step
// (1/256 of a pixel, the rasteriser's precision): centres on a horizontal edge then
// fall inside below a top edge and outside below a bottom edge, as in Direct3D.
constexpr float fillRuleLift = 1.0f / 256.0f / 240.0f; // in normalised device units
// Horizontally both APIs fill a centre on a left edge, but a texel-per-pixel quad then
// samples exactly on texel edges and the interpolated u can come out a hair short,
// picking the texel to the left. Shifting everything left by the same sub-pixel step
// keeps every centre strictly inside its texel without changing which pixels fill.
constexpr float texelEdgeShift = 1.0f / 256.0f / 320.0f; // in normalised device units

// Screen pixels (x right, y down, pixel centres on whole numbers) and depth 0..1 to
// OpenGL clip space, for positions given as (x/rhw, y/rhw, z/rhw, 1/rhw).
// clang-format off
constexpr float screenProjection[16] = {
    1.0f / 320.0f,        0.0f,                                0.0f,  0.0f,
    0.0f,                 -1.0f / 240.0f,                      0.0f,  0.0f,
    0.0f,                 0.0f,                                2.0f,  0.0f,
    0.5f / 320.0f - 1.0f - texelEdgeShift, 1.0f - 0.5f / 240.0f + fillRuleLift, -1.0f, 1.0f};
// clang-format on

// Direct3D clip space (depth 0..w, pixel centres on whole screen coordinates) to
// OpenGL clip space (depth -w..w, pixel centres on half coordinates).
// clang-format off
constexpr float clipConversion[16] = {
    1.0f,          0.0f,                          0.0f,  0.0f,
    0.0f,          1.0f,                          0.0f,  0.0f,
    0.0f,          0.0f,                          2.0f,  0.0f,
    1.0f / 640.0f - texelEdgeShift, -1.0f / 480.0f + fillRuleLift, -1.0f, 1.0f};
// clang-format on

void useScreenProjection() {
    if (gl.projectionMode == 1) return;
    gl.projectionMode = 1;
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(screenProjection);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void useTransforms() {
    if (gl.projectionMode == 2 && !transformsChanged) return;
    gl.projectionMode = 2;
    transformsChanged = false;
    float m[16];
    multiply(d3d.projection, clipConversion, m);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(m);
    multiply(d3d.world, d3d.view, m);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(m);
}

// ---- State translation
// ----------------------------------------------------------------------------

GLenum compareFunction(uint32_t d3dCompare) {
    switch (d3dCompare) {
    case 1:
        return GL_NEVER;
    case 2:
        return GL_LESS;
    case 3:
        return GL_EQUAL;
    case 4:
        return GL_LEQUAL;
    case 5:
        return GL_GREATER;
    case 6:
        return GL_NOTEQUAL;
    case 7:
        return GL_GEQUAL;
    default:
        return GL_ALWAYS;
    }
}

GLenum blendFactor(uint32_t d3dBlend) {
    switch (d3dBlend) {
    case blendZero:
        return GL_ZERO;
    case 3:
        return GL_SRC_COLOR;
    case 4:
        return GL_ONE_MINUS_SRC_COLOR;
    case blendSrcAlpha:
        return GL_SRC_ALPHA;
    case blendInvSrcAlpha:
        return GL_ONE_MINUS_SRC_ALPHA;
    case 7:
        return GL_DST_ALPHA;
    case 8:
        return GL_ONE_MINUS_DST_ALPHA;
    case 9:
        return GL_DST_COLOR;
    case 10:
        return GL_ONE_MINUS_DST_COLOR;
    case 11:
        return GL_SRC_ALPHA_SATURATE;
    default:
        return GL_ONE;
    }
}

void colorToFloats(uint32_t argb, float* out) {
    out[0] = float((argb >> 16) & 0xFF) / 255.0f;
    out[1] = float((argb >> 8) & 0xFF) / 255.0f;
    out[2] = float(argb & 0xFF) / 255.0f;
    out[3] = float(argb >> 24) / 255.0f;
}

void applyRasterStates() {
    const uint32_t* rs = d3d.renderStates;
    setCap(capDepth, rs[rsZEnable] != 0);
    GLenum depthFunc = compareFunction(rs[rsZFunc]);
    if (gl.depthFunc != depthFunc) glDepthFunc(gl.depthFunc = depthFunc);
    GLboolean depthMask = rs[rsZWriteEnable] ? GL_TRUE : GL_FALSE;
    if (gl.depthMask != depthMask) glDepthMask(gl.depthMask = depthMask);

    setCap(capBlend, rs[rsAlphaBlendEnable] != 0);
    GLenum src = blendFactor(rs[rsSrcBlend]), dst = blendFactor(rs[rsDestBlend]);
    if (gl.srcBlend != src || gl.dstBlend != dst) glBlendFunc(gl.srcBlend = src, gl.dstBlend = dst);

    setCap(capAlphaTest, rs[rsAlphaTestEnable] != 0);
    GLenum alphaFunc = compareFunction(rs[rsAlphaFunc]);
    GLfloat alphaRef = float(rs[rsAlphaRef] & 0xFF) / 255.0f;
    if (gl.alphaFunc != alphaFunc || gl.alphaRef != alphaRef)
        glAlphaFunc(gl.alphaFunc = alphaFunc, gl.alphaRef = alphaRef);

    // Both conventions see windings on the screen; the front face is counter-clockwise.
    uint32_t cull = rs[rsCullMode];
    setCap(capCull, cull == cullClockwise || cull == cullCounterClockwise);
    GLenum cullFace = cull == cullCounterClockwise ? GL_FRONT : GL_BACK;
    if (gl.cullFace != cullFace) glCullFace(gl.cullFace = cullFace);

    GLenum shade = rs[rsShadeMode] == shadeFlat ? GL_FLAT : GL_SMOOTH;
    if (gl.shadeModel != shade) glShadeModel(gl.shadeModel = shade);
    GLenum fill = rs[rsFillMode] == 1 ? GL_POINT : rs[rsFillMode] == 2 ? GL_LINE : GL_FILL;
    if (gl.polygonMode != fill) glPolygonMode(GL_FRONT_AND_BACK, gl.polygonMode = fill);

    uint32_t mask = rs[rsColorWriteEnable] & 0xF;
    if (gl.colorMask != mask) {
        gl.colorMask = mask;
        glColorMask(mask & 4 ? GL_TRUE : GL_FALSE, mask & 2 ? GL_TRUE : GL_FALSE,
                    mask & 1 ? GL_TRUE : GL_FALSE, mask & 8 ? GL_TRUE : GL_FALSE);
    }
}

// Lighting as Direct3D 8 computes it: in eye space, a directional light along its
// direction, light ambient x material ambient plus the global ambient, specular
// with a local viewer only when specular is enabled, emissive from the material.
void applyLighting(bool lit, bool vertexDiffuse) {
    setCap(capLighting, lit);
    if (!lit) {
        setCap(capColorMaterial, false);
        return;
    }
    const uint32_t* rs = d3d.renderStates;
    bool specular = rs[rsSpecularEnable] != 0;
    float ambient[4];
    colorToFloats(rs[rsAmbient], ambient);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, rs[rsLocalViewer] ? GL_TRUE : GL_FALSE);
    glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SEPARATE_SPECULAR_COLOR);
    setCap(capNormalize, rs[rsNormalizeNormals] != 0);

    const Material& m = d3d.material;
    const float noSpecular[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, &m.ambient.r);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, &m.diffuse.r);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular ? &m.specular.r : noSpecular);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, &m.emissive.r);
    float power = m.power < 0.0f ? 0.0f : m.power > 128.0f ? 128.0f : m.power;
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, power);

    bool colorMaterial = vertexDiffuse && rs[rsColorVertex] && rs[rsDiffuseMaterialSource] == 1;
    setCap(capColorMaterial, colorMaterial);
    if (colorMaterial) glColorMaterial(GL_FRONT_AND_BACK, GL_DIFFUSE);

    // Light 0 only; its position is given with the view matrix alone on the
    // modelview stack, so that a world-space direction ends up in eye space.
    const Light& light = d3d.lights[0];
    setCap(capLight0, d3d.lightEnabled[0]);
    if (!d3d.lightEnabled[0]) return;
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadMatrixf(d3d.view);
    if (light.type == lightDirectional) {
        float x = -light.direction[0], y = -light.direction[1], z = -light.direction[2];
        float length = x * x + y * y + z * z;
        float scale = length > 0.0f ? float(1.0 / squareRoot(length)) : 0.0f;
        const float position[4] = {x * scale, y * scale, z * scale, 0.0f};
        glLightfv(GL_LIGHT0, GL_POSITION, position);
        glLightf(GL_LIGHT0, GL_SPOT_CUTOFF, 180.0f);
        glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, 1.0f);
        glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, 0.0f);
        glLightf(GL_LIGHT0, GL_QUADRATIC_ATTENUATION, 0.0f);
    } else {
        const float position[4] = {light.position[0], light.position[1], light.position[2], 1.0f};
        glLightfv(GL_LIGHT0, GL_POSITION, position);
        glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, light.attenuation0);
        glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, light.attenuation1);
        glLightf(GL_LIGHT0, GL_QUADRATIC_ATTENUATION, light.attenuation2);
        if (light.type == lightSpot) {
            glLightfv(GL_LIGHT0, GL_SPOT_DIRECTION, light.direction);
            float cutoff = light.phi * 0.5f * 57.29578f;
            glLightf(GL_LIGHT0, GL_SPOT_CUTOFF, cutoff > 90.0f ? 90.0f : cutoff);
            glLightf(GL_LIGHT0, GL_SPOT_EXPONENT, light.falloff);
        } else {
            glLightf(GL_LIGHT0, GL_SPOT_CUTOFF, 180.0f);
        }
    }
    glLightfv(GL_LIGHT0, GL_AMBIENT, &light.ambient.r);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, &light.diffuse.r);
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular ? &light.specular.r : noSpecular);
    glPopMatrix();
}

// ---- Texture stage 0
// -------------------------------------------------------------------------------

// One argument of a stage operation: source and operand for the colour or alpha part.
void stageArgument(uint32_t arg, bool alpha, GLenum& source, GLenum& operand) {
    switch (arg & 0xF) {
    case taTexture:
        source = GL_TEXTURE;
        break;
    case 3:
        source = GL_CONSTANT;
        break; // texture factor
    default:
        source = GL_PRIMARY_COLOR;
        break; // diffuse, and "current" at stage 0
    }
    bool complement = arg & 0x10, replicate = arg & 0x20;
    if (alpha || replicate)
        operand = complement ? GL_ONE_MINUS_SRC_ALPHA : GL_SRC_ALPHA;
    else
        operand = complement ? GL_ONE_MINUS_SRC_COLOR : GL_SRC_COLOR;
}

void stageOperation(uint32_t op, uint32_t arg1, uint32_t arg2, bool alpha) {
    GLenum combine = GL_MODULATE;
    GLfloat scale = 1.0f;
    uint32_t first = arg1, second = arg2;
    switch (op) {
    case topSelectArg1:
        combine = GL_REPLACE;
        break;
    case topSelectArg2:
        combine = GL_REPLACE;
        first = arg2;
        break;
    case topModulate:
        break;
    case 5:
        scale = 2.0f;
        break; // modulate 2x
    case 6:
        scale = 4.0f;
        break; // modulate 4x
    case 7:
        combine = GL_ADD;
        break;
    case 8:
        combine = GL_ADD_SIGNED;
        break;
    case 9:
        combine = GL_ADD_SIGNED;
        scale = 2.0f;
        break;
    case 10:
        combine = GL_SUBTRACT;
        break;
    case topDisable:
        combine = GL_REPLACE;
        first = taDiffuse;
        break;
    default:
        break;
    }
    GLenum source0, operand0, source1, operand1;
    stageArgument(first, alpha, source0, operand0);
    stageArgument(second, alpha, source1, operand1);
    glTexEnvi(GL_TEXTURE_ENV, alpha ? GL_COMBINE_ALPHA : GL_COMBINE_RGB, GLint(combine));
    glTexEnvi(GL_TEXTURE_ENV, alpha ? GL_SRC0_ALPHA : GL_SRC0_RGB, GLint(source0));
    glTexEnvi(GL_TEXTURE_ENV, alpha ? GL_OPERAND0_ALPHA : GL_OPERAND0_RGB, GLint(operand0));
    glTexEnvi(GL_TEXTURE_ENV, alpha ? GL_SRC1_ALPHA : GL_SRC1_RGB, GLint(source1));
    glTexEnvi(GL_TEXTURE_ENV, alpha ? GL_OPERAND1_ALPHA : GL_OPERAND1_RGB, GLint(operand1));
    glTexEnvf(GL_TEXTURE_ENV, alpha ? GL_ALPHA_SCALE : GL_RGB_SCALE, scale);
}

GLint addressMode(uint32_t d3dAddress) {
    switch (d3dAddress) {
    case addressMirror:
        return GL_MIRRORED_REPEAT;
    case addressClamp:
        return GL_CLAMP_TO_EDGE;
    case 4:
        return GL_CLAMP_TO_BORDER;
    case 5:
        return GL_MIRRORED_REPEAT; // mirror once
    default:
        return GL_REPEAT;
    }
}

void applyStage0() {
    const uint32_t* stage = d3d.stages[0];
    Texture* texture = d3d.texture0;
    bool textured = texture && texture->name != 0 && stage[tssColorOp] != topDisable;
    setCap(capTexture, textured);
    if (!textured) return; // the vertex colour alone
    bindTexture(texture->name);

    GLint mag = stage[tssMagFilter] == filterPoint ? GL_NEAREST : GL_LINEAR;
    bool linearMin = stage[tssMinFilter] != filterPoint && stage[tssMinFilter] != filterNone;
    GLint min;
    switch (stage[tssMipFilter]) {
    case filterPoint:
        min = linearMin ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
        break;
    case filterLinear:
        min = linearMin ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
        break;
    default:
        min = linearMin ? GL_LINEAR : GL_NEAREST;
        break;
    }
    GLint wrapS = addressMode(stage[tssAddressU]), wrapT = addressMode(stage[tssAddressV]);
    if (texture->magFilter != mag)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, texture->magFilter = mag);
    if (texture->minFilter != min)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, texture->minFilter = min);
    if (texture->wrapS != wrapS)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, texture->wrapS = wrapS);
    if (texture->wrapT != wrapT)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, texture->wrapT = wrapT);

    uint32_t alphaOp = stage[tssAlphaOp] == topDisable ? topSelectArg1 : stage[tssAlphaOp];
    uint32_t alphaArg1 = stage[tssAlphaOp] == topDisable ? taDiffuse : stage[tssAlphaArg1];
    uint32_t key[8] = {stage[tssColorOp],
                       stage[tssColorArg1],
                       stage[tssColorArg2],
                       alphaOp,
                       alphaArg1,
                       stage[tssAlphaArg2],
                       d3d.renderStates[rsTextureFactor],
                       0};
    if (gl.combineValid && std::memcmp(key, gl.combineKey, sizeof key) == 0) return;
    std::memcpy(gl.combineKey, key, sizeof key);
    gl.combineValid = true;
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
    stageOperation(key[0], key[1], key[2], false);
    stageOperation(key[3], key[4], key[5], true);
    float factor[4];
    colorToFloats(key[6], factor);
    glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, factor);
}

// ---- Vertex conversion
// ------------------------------------------------------------------------------

struct GlVertex {
    float position[4];
    float normal[3];
    uint8_t diffuse[4]; // r, g, b, a
    uint8_t specular[4];
    float texCoord[2];
};

GlVertex* scratchVertices = nullptr;
uint32_t scratchVertexCapacity = 0;
uint32_t* scratchIndices = nullptr;
uint32_t scratchIndexCapacity = 0;

GlVertex* vertexScratch(uint32_t count) {
    if (count > scratchVertexCapacity) {
        freeBlock(scratchVertices);
        scratchVertexCapacity = count < 4096 ? 4096 : count;
        scratchVertices = static_cast<GlVertex*>(
            allocArray(int32_t(scratchVertexCapacity), int32_t(sizeof(GlVertex))));
    }
    return scratchVertices;
}

uint32_t* indexScratch(uint32_t count) {
    if (count > scratchIndexCapacity) {
        freeBlock(scratchIndices);
        scratchIndexCapacity = count < 8192 ? 8192 : count;
        scratchIndices =
            static_cast<uint32_t*>(allocArray(int32_t(scratchIndexCapacity), int32_t(4)));
    }
    return scratchIndices;
}

float readFloat(const uint8_t* p) {
    float value;
    std::memcpy(&value, p, 4);
    return value;
}

void unpackColor(const uint8_t* p, uint8_t* out) {
    uint32_t argb;
    std::memcpy(&argb, p, 4);
    out[0] = uint8_t(argb >> 16);
    out[1] = uint8_t(argb >> 8);
    out[2] = uint8_t(argb);
    out[3] = uint8_t(argb >> 24);
}

void convertVertices(const uint8_t* source, uint32_t stride, uint32_t count,
                     const FvfLayout& layout, GlVertex* out) {
    for (uint32_t i = 0; i < count; ++i, source += stride) {
        GlVertex& v = out[i];
        const uint8_t* p = source + layout.position;
        if (layout.transformed) {
            float rhw = readFloat(p + 12);
            float w = rhw != 0.0f ? 1.0f / rhw : 1.0f;
            v.position[0] = readFloat(p) * w;
            v.position[1] = readFloat(p + 4) * w;
            v.position[2] = readFloat(p + 8) * w;
            v.position[3] = w;
        } else {
            v.position[0] = readFloat(p);
            v.position[1] = readFloat(p + 4);
            v.position[2] = readFloat(p + 8);
            v.position[3] = 1.0f;
        }
        if (layout.normal >= 0) {
            v.normal[0] = readFloat(source + layout.normal);
            v.normal[1] = readFloat(source + layout.normal + 4);
            v.normal[2] = readFloat(source + layout.normal + 8);
        } else {
            v.normal[0] = v.normal[1] = v.normal[2] = 0.0f;
        }
        // Missing colours default as in Direct3D: opaque white diffuse, no specular.
        if (layout.diffuse >= 0)
            unpackColor(source + layout.diffuse, v.diffuse);
        else
            std::memset(v.diffuse, 0xFF, 4);
        if (layout.specular >= 0)
            unpackColor(source + layout.specular, v.specular);
        else
            std::memset(v.specular, 0, 4);
        if (layout.texCoord >= 0) {
            v.texCoord[0] = readFloat(source + layout.texCoord);
            v.texCoord[1] = readFloat(source + layout.texCoord + 4);
        } else {
            v.texCoord[0] = v.texCoord[1] = 0.0f;
        }
    }
}

GLenum primitiveMode(uint32_t type) {
    switch (type) {
    case ptPointList:
        return GL_POINTS;
    case ptLineList:
        return GL_LINES;
    case ptLineStrip:
        return GL_LINE_STRIP;
    case ptTriangleList:
        return GL_TRIANGLES;
    case ptTriangleStrip:
        return GL_TRIANGLE_STRIP;
    default:
        return GL_TRIANGLE_FAN;
    }
}

// Sets every OpenGL state for a draw in the current format and points the arrays at
// `vertices`.
void prepareDraw(const GlVertex* vertices) {
    FvfLayout layout = fvfLayout(d3d.fvf);
    bool lit = !layout.transformed && d3d.renderStates[rsLighting] != 0;
    if (layout.transformed)
        useScreenProjection();
    else
        useTransforms();
    applyRasterStates();
    applyLighting(lit, layout.diffuse >= 0);
    applyStage0();
    bool specularSum = !lit && d3d.renderStates[rsSpecularEnable] != 0 && layout.specular >= 0 &&
                       secondaryColorPointer;
    setCap(capColorSum, specularSum);

    constexpr GLsizei stride = sizeof(GlVertex);
    glVertexPointer(4, GL_FLOAT, stride, vertices->position);
    glColorPointer(4, GL_UNSIGNED_BYTE, stride, vertices->diffuse);
    glTexCoordPointer(2, GL_FLOAT, stride, vertices->texCoord);
    glNormalPointer(GL_FLOAT, stride, vertices->normal);
    if (specularSum) {
        glEnableClientState(GL_SECONDARY_COLOR_ARRAY);
        secondaryColorPointer(3, GL_UNSIGNED_BYTE, stride, vertices->specular);
    } else {
        glDisableClientState(GL_SECONDARY_COLOR_ARRAY);
    }
}

bool drawable() {
    return attached && d3d.inScene && fvfVertexSize(d3d.fvf) != 0;
}

// ---- Textures
// ------------------------------------------------------------------------------------

struct GlFormat {
    GLint internal;
    GLenum format, type;
};

bool glFormatOf(uint32_t format, GlFormat& out) {
    switch (format) {
    case fmtR8G8B8:
        out = {GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE};
        return true;
    case fmtA8R8G8B8:
        out = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE};
        return true;
    case fmtX8R8G8B8:
        out = {GL_RGB8, GL_BGRA, GL_UNSIGNED_BYTE};
        return true;
    // GL_RGB rather than GL_RGB5, which may be stored with a 5-bit green.
    case fmtR5G6B5:
        out = {GL_RGB, GL_RGB, GL_UNSIGNED_SHORT_5_6_5};
        return true;
    case fmtX1R5G5B5:
        out = {GL_RGB, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV};
        return true;
    case fmtA1R5G5B5:
        out = {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV};
        return true;
    case fmtA4R4G4B4:
        out = {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV};
        return true;
    case fmtDXT1:
        out = {GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, 0, 0};
        return true;
    case fmtDXT2:
    case fmtDXT3:
        out = {GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 0, 0};
        return true;
    case fmtDXT4:
    case fmtDXT5:
        out = {GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 0, 0};
        return true;
    default:
        return false;
    }
}

void uploadLevel(Texture* texture, uint32_t level) {
    const Surface& s = texture->surfaces[level];
    GlFormat f{};
    glFormatOf(texture->format, f);
    bindTexture(texture->name);
    if (isCompressedFormat(texture->format)) {
        compressedTexImage2D(GL_TEXTURE_2D, GLint(level), GLenum(f.internal), GLsizei(s.width),
                             GLsizei(s.height), 0, GLsizei(s.size), s.bits);
        return;
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(s.pitch / textureBytesPerPixel(texture->format)));
    glTexImage2D(GL_TEXTURE_2D, GLint(level), f.internal, GLsizei(s.width), GLsizei(s.height), 0,
                 f.format, f.type, s.bits);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

// Creates the OpenGL object of a texture and uploads every level from its memory.
void createGlTexture(Texture* texture) {
    glGenTextures(1, &texture->name);
    bindTexture(texture->name);
    // Only the levels the texture has: a single-level texture stays complete whatever
    // mip filter the stage asks for.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, GLint(texture->levels - 1));
    texture->magFilter = texture->minFilter = texture->wrapS = texture->wrapT = 0;
    for (uint32_t k = 0; k < texture->levels; ++k)
        uploadLevel(texture, k);
}

void deleteGlTexture(Texture* texture) {
    if (texture->name == 0) return;
    if (gl.boundTexture == texture->name) gl.boundTexture = ~GLuint(0);
    glDeleteTextures(1, &texture->name);
    texture->name = 0;
}

void destroyTextureIfUnused(Texture* texture) {
    if (!texture->released || texture->surfaceRefs != 0) return;
    if (attached) deleteGlTexture(texture);
    for (Texture** link = &textures; *link; link = &(*link)->next)
        if (*link == texture) {
            *link = texture->next;
            break;
        }
    for (uint32_t k = 0; k < texture->levels; ++k)
        freeBlock(texture->surfaces[k].bits);
    freeBlock(texture->surfaces);
    freeBlock(texture);
}

bool extensionPresent(const char* name) {
    const char* list = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (!list) return false;
    size_t length = std::strlen(name);
    for (const char* p = std::strstr(list, name); p; p = std::strstr(p + 1, name))
        if ((p == list || p[-1] == ' ') && (p[length] == ' ' || p[length] == '\0')) return true;
    return false;
}

struct DeviceInitialiser {
    DeviceInitialiser() {
        resetDeviceState();
        forgetGlState();
    }
} deviceInitialiser;

} // namespace

// ---- Glue
// ----------------------------------------------------------------------------------------

void glDeviceAttach(SDL_Window* sdlWindow, int viewportX, int viewportY, int viewportWidth,
                    int viewportHeight) {
    if (attached) glDeviceDetach();
    window = sdlWindow;
    viewport[0] = viewportX;
    viewport[1] = viewportY;
    viewport[2] = viewportWidth;
    viewport[3] = viewportHeight;
    secondaryColorPointer = reinterpret_cast<PFNGLSECONDARYCOLORPOINTERPROC>(
        SDL_GL_GetProcAddress("glSecondaryColorPointer"));
    compressedTexImage2D = reinterpret_cast<PFNGLCOMPRESSEDTEXIMAGE2DPROC>(
        SDL_GL_GetProcAddress("glCompressedTexImage2D"));
    hasS3tc = compressedTexImage2D && extensionPresent("GL_EXT_texture_compression_s3tc");
    provokingVertex = nullptr;
    if (extensionPresent("GL_ARB_provoking_vertex") || extensionPresent("GL_EXT_provoking_vertex"))
        provokingVertex =
            reinterpret_cast<PFNGLPROVOKINGVERTEXPROC>(SDL_GL_GetProcAddress("glProvokingVertex"));
    attached = true;
    resetDeviceState();
    forgetGlState();

    glViewport(viewportX, viewportY, viewportWidth, viewportHeight);
    glScissor(viewportX, viewportY, viewportWidth, viewportHeight);
    glEnable(GL_SCISSOR_TEST);
    glDepthRange(0.0, 1.0);
    glDisable(GL_DITHER);
    glDisable(GL_FOG);
    glFrontFace(GL_CCW);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    // Flat shading takes the colour of a triangle's first vertex, as Direct3D does.
    if (provokingVertex) provokingVertex(GL_FIRST_VERTEX_CONVENTION);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    for (Texture* texture = textures; texture; texture = texture->next)
        if (!texture->released) createGlTexture(texture);
}

void glDeviceDetach() {
    if (!attached) return;
    for (Texture* texture = textures; texture; texture = texture->next)
        deleteGlTexture(texture);
    attached = false;
    window = nullptr;
    freeBlock(scratchVertices);
    scratchVertices = nullptr;
    scratchVertexCapacity = 0;
    freeBlock(scratchIndices);
    scratchIndices = nullptr;
    scratchIndexCapacity = 0;
}

void glDeviceReadPixels(uint8_t* rgba640x480) {
    if (!attached) {
        std::memset(rgba640x480, 0, 640 * 480 * 4);
        return;
    }
    int width = viewport[2], height = viewport[3];
    uint8_t* picture = static_cast<uint8_t*>(allocBlock(int32_t(width) * height * 4));
    glReadBuffer(GL_BACK);
    glReadPixels(viewport[0], viewport[1], width, height, GL_RGBA, GL_UNSIGNED_BYTE, picture);
    // OpenGL reads bottom row first; a scaled viewport is sampled back to 640 x 480.
    for (int y = 0; y < 480; ++y) {
        int sourceRow = height - 1 - y * height / 480;
        for (int x = 0; x < 640; ++x) {
            int sourceColumn = x * width / 640;
            std::memcpy(rgba640x480 + (size_t(y) * 640 + x) * 4,
                        picture + (size_t(sourceRow) * width + sourceColumn) * 4, 4);
        }
    }
    freeBlock(picture);
}

// ---- Frame
// ------------------------------------------------------------------------------------------

int32_t deviceClear(uint32_t flags, uint32_t color, float z, uint32_t /*stencil*/) {
    if (!attached || (flags & ~uint32_t(clearTarget | clearZBuffer | 4))) return -1;
    // Clearing ignores the render states: every channel and the depth are written.
    if (gl.colorMask != 0xF) {
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        gl.colorMask = 0xF;
    }
    if (!gl.depthMask) {
        glDepthMask(GL_TRUE);
        gl.depthMask = GL_TRUE;
    }
    bool fullWindow =
        viewport[0] == 0 && viewport[1] == 0 && viewport[2] == 640 && viewport[3] == 480;
    if (!fullWindow && (flags & clearTarget)) {
        // The bars beside a scaled picture stay black.
        glDisable(GL_SCISSOR_TEST);
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glEnable(GL_SCISSOR_TEST);
    }
    GLbitfield mask = 0;
    if (flags & clearTarget) {
        float c[4];
        colorToFloats(color, c);
        glClearColor(c[0], c[1], c[2], c[3]);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & clearZBuffer) {
        glClearDepth(z < 0.0f ? 0.0 : z > 1.0f ? 1.0 : double(z));
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (mask) glClear(mask);
    return 0;
}

int32_t deviceBeginScene() {
    if (!attached || d3d.inScene) return -1;
    d3d.inScene = true;
    return 0;
}

int32_t deviceEndScene() {
    if (!d3d.inScene) return -1;
    d3d.inScene = false;
    return 0;
}

int32_t devicePresent() {
    if (!attached || d3d.inScene) return -1;
    SDL_GL_SwapWindow(window);
    return 0;
}

// ---- States
// ---------------------------------------------------------------------------------------------

int32_t setRenderState(uint32_t state, uint32_t value) {
    if (state >= renderStateCount) return -1;
    d3d.renderStates[state] = value;
    return 0;
}

int32_t setTextureStageState(uint32_t stage, uint32_t type, uint32_t value) {
    if (stage >= textureStageCount || type >= stageStateCount) return -1;
    d3d.stages[stage][type] = value;
    return 0;
}

int32_t setTexture(uint32_t stage, Texture* texture) {
    if (stage >= textureStageCount || (texture && texture->released)) return -1;
    if (stage == 0) d3d.texture0 = texture;
    return 0;
}

int32_t setVertexShader(uint32_t fvf) {
    if (fvfVertexSize(fvf) == 0) return -1;
    d3d.fvf = fvf;
    return 0;
}

int32_t setStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t stride) {
    if (stream != 0) return -1;
    d3d.stream = buffer;
    d3d.streamStride = stride;
    return 0;
}

int32_t setIndices(IndexBuffer* buffer, uint32_t baseVertexIndex) {
    d3d.indexBuffer = buffer;
    d3d.baseVertexIndex = baseVertexIndex;
    return 0;
}

int32_t setTransform(uint32_t which, const float matrix[16]) {
    float* target = which == transformWorld        ? d3d.world
                    : which == transformView       ? d3d.view
                    : which == transformProjection ? d3d.projection
                                                   : nullptr;
    if (!target || !matrix) return -1;
    std::memcpy(target, matrix, 16 * sizeof(float));
    transformsChanged = true;
    return 0;
}

int32_t setLight(uint32_t index, const Light* light) {
    if (index >= lightCount || !light) return -1;
    d3d.lights[index] = *light;
    return 0;
}

int32_t lightEnable(uint32_t index, int32_t enable) {
    if (index >= lightCount) return -1;
    d3d.lightEnabled[index] = enable != 0;
    return 0;
}

int32_t setMaterial(const Material* material) {
    if (!material) return -1;
    d3d.material = *material;
    return 0;
}

// ---- Drawing
// --------------------------------------------------------------------------------------------

int32_t drawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount) {
    uint32_t count = primitiveVertexCount(type, primitiveCount);
    VertexBuffer* buffer = d3d.stream;
    uint32_t stride = d3d.streamStride;
    if (!drawable() || count == 0 || !buffer || buffer->openLocks ||
        stride < fvfVertexSize(d3d.fvf))
        return -1;
    uint64_t begin = uint64_t(startVertex) * stride;
    if (begin + uint64_t(count) * stride > buffer->length) return -1;
    GlVertex* vertices = vertexScratch(count);
    convertVertices(buffer->bytes + begin, stride, count, fvfLayout(d3d.fvf), vertices);
    prepareDraw(vertices);
    glDrawArrays(primitiveMode(type), 0, GLsizei(count));
    return 0;
}

int32_t drawIndexedPrimitive(uint32_t type, uint32_t minIndex, uint32_t vertexCount,
                             uint32_t startIndex, uint32_t primitiveCount) {
    uint32_t count = primitiveVertexCount(type, primitiveCount);
    VertexBuffer* buffer = d3d.stream;
    IndexBuffer* indexBuffer = d3d.indexBuffer;
    uint32_t stride = d3d.streamStride;
    if (!drawable() || count == 0 || vertexCount == 0 || !buffer || !indexBuffer ||
        buffer->openLocks || indexBuffer->openLocks || stride < fvfVertexSize(d3d.fvf))
        return -1;
    uint32_t indexSize = indexBuffer->format == fmtIndex32 ? 4 : 2;
    if ((uint64_t(startIndex) + count) * indexSize > indexBuffer->length) return -1;
    uint64_t first = uint64_t(d3d.baseVertexIndex) + minIndex;
    if ((first + vertexCount) * stride > buffer->length) return -1;

    // Indices are rebased onto the converted range; one outside the range the call
    // declares would read vertices that were never converted, so the draw fails.
    uint32_t* indices = indexScratch(count);
    const uint8_t* source = indexBuffer->bytes + size_t(startIndex) * indexSize;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t index;
        if (indexSize == 4) {
            std::memcpy(&index, source + 4 * i, 4);
        } else {
            uint16_t shortIndex;
            std::memcpy(&shortIndex, source + 2 * i, 2);
            index = shortIndex;
        }
        if (index < minIndex || index - minIndex >= vertexCount) return -1;
        indices[i] = index - minIndex;
    }
    GlVertex* vertices = vertexScratch(vertexCount);
    convertVertices(buffer->bytes + first * stride, stride, vertexCount, fvfLayout(d3d.fvf),
                    vertices);
    prepareDraw(vertices);
    glDrawElements(primitiveMode(type), GLsizei(count), GL_UNSIGNED_INT, indices);
    return 0;
}

int32_t drawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices,
                        uint32_t stride) {
    uint32_t count = primitiveVertexCount(type, primitiveCount);
    // Like Direct3D, drawing from memory leaves no stream source set.
    d3d.stream = nullptr;
    d3d.streamStride = 0;
    if (!drawable() || count == 0 || !vertices || stride < fvfVertexSize(d3d.fvf)) return -1;
    GlVertex* converted = vertexScratch(count);
    convertVertices(static_cast<const uint8_t*>(vertices), stride, count, fvfLayout(d3d.fvf),
                    converted);
    prepareDraw(converted);
    glDrawArrays(primitiveMode(type), 0, GLsizei(count));
    return 0;
}

// ---- Textures and their level surfaces
// ----------------------------------------------------------------

int32_t createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t /*usage*/,
                      uint32_t format, uint32_t /*pool*/, Texture** texture) {
    if (!texture) return -1;
    *texture = nullptr;
    GlFormat glFormat{};
    if (!attached || width == 0 || height == 0 || width > maxTextureDimension ||
        height > maxTextureDimension || !glFormatOf(format, glFormat) ||
        (isCompressedFormat(format) && !hasS3tc))
        return -1;
    Texture* created = static_cast<Texture*>(allocBlock(int32_t(sizeof(Texture))));
    created->width = width;
    created->height = height;
    created->levels = textureLevelsFor(width, height, levels);
    created->format = format;
    created->surfaces =
        static_cast<Surface*>(allocArray(int32_t(created->levels), int32_t(sizeof(Surface))));
    for (uint32_t k = 0; k < created->levels; ++k) {
        Surface& s = created->surfaces[k];
        s.texture = created;
        s.level = k;
        s.width = levelDimension(width, k);
        s.height = levelDimension(height, k);
        s.rows = levelRows(format, s.height);
        uint32_t rowBytes = levelRowBytes(format, s.width);
        // Uncompressed rows get a pitch longer than the row, so writers must honour it;
        // compressed levels are one packed block of rows, as Direct3D hands them out.
        s.pitch = isCompressedFormat(format) ? rowBytes
                                             : rowBytes + padPixels * textureBytesPerPixel(format);
        s.size = rowBytes * s.rows;
        s.bits = static_cast<uint8_t*>(allocBlock(int32_t(s.pitch * s.rows)));
    }
    created->next = textures;
    textures = created;
    createGlTexture(created);
    *texture = created;
    return 0;
}

uint32_t textureLevelCount(Texture* texture) {
    return texture && !texture->released ? texture->levels : 0;
}

int32_t textureSurfaceLevel(Texture* texture, uint32_t level, Surface** surface) {
    if (!surface) return -1;
    *surface = nullptr;
    if (!texture || texture->released || level >= texture->levels) return -1;
    ++texture->surfaceRefs;
    *surface = &texture->surfaces[level];
    return 0;
}

int32_t surfaceDesc(Surface* surface, SurfaceDesc* desc) {
    if (!surface || !desc) return -1;
    desc->format = surface->texture->format;
    desc->width = surface->width;
    desc->height = surface->height;
    desc->size = surface->size;
    return 0;
}

int32_t surfaceLock(Surface* surface, LockedRect* locked, uint32_t /*flags*/) {
    if (!locked) return -1;
    locked->pitch = 0;
    locked->bits = nullptr;
    if (!surface || surface->locked) return -1;
    surface->locked = true;
    locked->pitch = int32_t(surface->pitch);
    locked->bits = surface->bits;
    return 0;
}

int32_t surfaceUnlock(Surface* surface) {
    if (!surface || !surface->locked) return -1;
    surface->locked = false;
    Texture* texture = surface->texture;
    if (attached && texture->name != 0) uploadLevel(texture, surface->level);
    return 0;
}

void releaseSurface(Surface* surface) {
    if (!surface || surface->texture->surfaceRefs == 0) return;
    --surface->texture->surfaceRefs;
    destroyTextureIfUnused(surface->texture);
}

void releaseTexture(Texture* texture) {
    if (!texture || texture->released) return;
    texture->released = true;
    if (d3d.texture0 == texture) d3d.texture0 = nullptr;
    destroyTextureIfUnused(texture);
}

// ---- Vertex and index buffers
// ---------------------------------------------------------------------------- Buffers are CPU
// memory, drawn from through client arrays that OpenGL reads during the draw call itself. A
// discarding lock can therefore keep the same memory, and a no-overwrite lock never touches data a
// pending draw still needs.

namespace {

bool lockRange(uint32_t length, uint32_t& offset, uint32_t& size) {
    if (offset > length) return false;
    if (size == 0) size = length - offset;
    return size != 0 && size <= length - offset;
}

} // namespace

int32_t createVertexBuffer(uint32_t length, uint32_t /*usage*/, uint32_t /*fvf*/, uint32_t /*pool*/,
                           VertexBuffer** buffer) {
    if (!buffer) return -1;
    *buffer = nullptr;
    if (length == 0 || length > maxBufferLength) return -1;
    VertexBuffer* created = static_cast<VertexBuffer*>(allocBlock(int32_t(sizeof(VertexBuffer))));
    created->bytes = static_cast<uint8_t*>(allocBlock(int32_t(length)));
    created->length = length;
    *buffer = created;
    return 0;
}

int32_t lockVertexBuffer(VertexBuffer* buffer, uint32_t offset, uint32_t size, void** data,
                         uint32_t /*flags*/) {
    if (!data) return -1;
    *data = nullptr;
    if (!buffer || !lockRange(buffer->length, offset, size)) return -1;
    ++buffer->openLocks;
    *data = buffer->bytes + offset;
    return 0;
}

int32_t unlockVertexBuffer(VertexBuffer* buffer) {
    if (!buffer || buffer->openLocks == 0) return -1;
    --buffer->openLocks;
    return 0;
}

void releaseVertexBuffer(VertexBuffer* buffer) {
    if (!buffer) return;
    if (d3d.stream == buffer) d3d.stream = nullptr;
    freeBlock(buffer->bytes);
    freeBlock(buffer);
}

int32_t createIndexBuffer(uint32_t length, uint32_t /*usage*/, uint32_t format, uint32_t /*pool*/,
                          IndexBuffer** buffer) {
    if (!buffer) return -1;
    *buffer = nullptr;
    if (length == 0 || length > maxBufferLength || (format != fmtIndex16 && format != fmtIndex32))
        return -1;
    IndexBuffer* created = static_cast<IndexBuffer*>(allocBlock(int32_t(sizeof(IndexBuffer))));
    created->bytes = static_cast<uint8_t*>(allocBlock(int32_t(length)));
    created->length = length;
    created->format = format;
    *buffer = created;
    return 0;
}

int32_t lockIndexBuffer(IndexBuffer* buffer, uint32_t offset, uint32_t size, void** data,
                        uint32_t /*flags*/) {
    if (!data) return -1;
    *data = nullptr;
    if (!buffer || !lockRange(buffer->length, offset, size)) return -1;
    ++buffer->openLocks;
    *data = buffer->bytes + offset;
    return 0;
}

int32_t unlockIndexBuffer(IndexBuffer* buffer) {
    if (!buffer || buffer->openLocks == 0) return -1;
    --buffer->openLocks;
    return 0;
}

void releaseIndexBuffer(IndexBuffer* buffer) {
    if (!buffer) return;
    if (d3d.indexBuffer == buffer) d3d.indexBuffer = nullptr;
    freeBlock(buffer->bytes);
    freeBlock(buffer);
}
