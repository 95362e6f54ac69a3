// The WebGL 1 display device: the backend of device_core.cpp over OpenGL ES 2
// (emscripten's WebGL), keeping Direct3D 8's semantics with the conventions
// device_core.h gives. WebGL has no fixed-function pipeline, so small generated
// shaders do its work, one program per combination of what a draw needs:
// - pre-transformed vertices through screenProjectionMatrix, untransformed ones
//   through world x view x projection and clipConversionMatrix, both with the sub-pixel
//   step the context reports (WebGL implementations snap positions as coarsely as
//   to sixteenths of a pixel, where a finer lift would vanish);
// - lighting per vertex as Direct3D 8's fixed function computes it, done on the
//   processor before the draw (vertex_lighting.cpp): SwiftShader, the software
//   WebGL of machines without a graphics processor, pays several times more for it
//   in a vertex shader. Lit vertices then draw as unlit ones with their specular
//   colour added after texturing;
// - texture stage 0's colour and alpha operations (select, modulate, 2x, 4x, add,
//   signed add, subtract; texture, diffuse, current and factor arguments with their
//   complement and alpha-replicate modifiers), or the vertex colour alone without a
//   texture; then the specular colour added when enabled, and the alpha test.
// Textures are converted on upload where WebGL's channel order differs; DXT goes in
// compressed where WEBGL_compressed_texture_s3tc is offered, else decoded. WebGL 1
// samples a texture whose sides are not powers of two only clamped and unmipmapped,
// so such textures ignore wrap addressing and mip filters. Flat shading and the
// point and wireframe fill modes have no WebGL counterpart; triangles are always
// Gouraud-shaded and filled (no effect asks for anything else). Draws are held back
// and sent in batches with one vertex upload each (see PendingDraw).
// Main thread only, with the context made current by the display code.
#include "gfx/device_webgl.h"

#include "app/memory.h"
#include "gfx/device.h"
#include "gfx/device_common.h"
#include "gfx/device_core.h"
#include "gfx/vertex_lighting.h"

#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>
#include <emscripten/html5.h>

// After the OpenGL header, whose enumerants it uses.
#include "gfx/gl_translate.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

bool attached = false;
bool hasS3tc = false;
float screenProjection[16], clipConversion[16];
GLuint vertexBufferName = 0;
uint8_t* conversion = nullptr; // texel conversion scratch
uint32_t conversionCapacity = 0;

void flushDraws();

// ---- WebGL shadow state ------------------------------------------------------------------------

enum Cap { capDepth, capBlend, capCull, capCount };
constexpr GLenum capNames[capCount] = {GL_DEPTH_TEST, GL_BLEND, GL_CULL_FACE};

struct GlShadow {
    int8_t caps[capCount]; // -1 unknown
    GLenum depthFunc, srcBlend, dstBlend, cullFace;
    GLboolean depthMask;
    uint32_t colorMask;
    GLuint boundTexture;
    GLuint program;
};
GlShadow gl;

void forgetGlState() {
    std::memset(&gl, 0, sizeof gl);
    for (int8_t& cap : gl.caps)
        cap = -1;
    gl.colorMask = 0xFFFFFFFFu;
    gl.depthMask = 2; // neither GL_TRUE nor GL_FALSE
    gl.boundTexture = ~GLuint(0);
    gl.program = ~GLuint(0);
}

void setCap(Cap cap, bool on) {
    switchCapability(gl.caps[cap], capNames[cap], on);
}

void bindTexture(GLuint name) {
    bindTexture2D(gl.boundTexture, name);
}

// ---- State translation
// ---------------------------------------------------------------------------

// The fixed-function raster states a draw runs with, in WebGL's terms.
struct RasterState {
    bool depthTest, blend, cull;
    GLboolean depthMask;
    GLenum depthFunc, srcBlend, dstBlend, cullFace;
    uint32_t colorMask;
};

RasterState currentRasterState() {
    const uint32_t* rs = core.renderStates;
    RasterState r;
    r.depthTest = rs[rsZEnable] != 0;
    r.depthFunc = compareFunction(rs[rsZFunc]);
    r.depthMask = rs[rsZWriteEnable] ? GL_TRUE : GL_FALSE;
    r.blend = rs[rsAlphaBlendEnable] != 0;
    r.srcBlend = blendFactor(rs[rsSrcBlend], true);
    r.dstBlend = blendFactor(rs[rsDestBlend], false);
    // Both conventions see windings on the screen; the front face is counter-clockwise.
    const uint32_t cull = rs[rsCullMode];
    r.cull = cull == cullClockwise || cull == cullCounterClockwise;
    r.cullFace = cull == cullCounterClockwise ? GL_FRONT : GL_BACK;
    r.colorMask = rs[rsColorWriteEnable] & 0xF;
    return r;
}

void applyRasterState(const RasterState& r) {
    setCap(capDepth, r.depthTest);
    if (gl.depthFunc != r.depthFunc) glDepthFunc(gl.depthFunc = r.depthFunc);
    if (gl.depthMask != r.depthMask) glDepthMask(gl.depthMask = r.depthMask);
    setCap(capBlend, r.blend);
    if (gl.srcBlend != r.srcBlend || gl.dstBlend != r.dstBlend)
        glBlendFunc(gl.srcBlend = r.srcBlend, gl.dstBlend = r.dstBlend);
    setCap(capCull, r.cull);
    if (gl.cullFace != r.cullFace) glCullFace(gl.cullFace = r.cullFace);
    if (gl.colorMask != r.colorMask) {
        const uint32_t mask = gl.colorMask = r.colorMask;
        glColorMask(mask & 4 ? GL_TRUE : GL_FALSE, mask & 2 ? GL_TRUE : GL_FALSE,
                    mask & 1 ? GL_TRUE : GL_FALSE, mask & 8 ? GL_TRUE : GL_FALSE);
    }
}

// ---- Programs
// ------------------------------------------------------------------------------------

// What selects a program. Stage arguments keep their source and modifier bits.
struct ProgramKey {
    uint8_t textured;  // 0: the vertex colour alone
    uint8_t specular;  // add the specular colour
    uint8_t alphaTest; // Direct3D compare function, 0 when off
    uint8_t colorOp, colorArg1, colorArg2, alphaOp, alphaArg1, alphaArg2;
};

// Every uniform value a draw sets; a program keeps the last ones it was given and is
// sent only what differs, since most draws in a row share them.
struct UniformValues {
    float matrix[16];
    float factor[4], alphaRef;
};

struct Program {
    ProgramKey key;
    GLuint name;
    GLint matrix, factor, alphaRef, sampler;
    UniformValues sent;
    bool sentValid;
};

constexpr int maxPrograms = 64;
Program programs[maxPrograms];
int programCount = 0;

constexpr const char* vertexHeader = R"(
attribute vec4 aPosition;
attribute vec4 aDiffuse;
attribute vec4 aSpecular;
attribute vec2 aTexCoord;
varying vec4 vDiffuse;
varying vec4 vSpecular;
varying vec2 vTexCoord;
)";

constexpr const char* vertexBody = R"(
uniform mat4 uMatrix;
void main() {
    gl_Position = uMatrix * aPosition;
    gl_PointSize = 1.0;
    vDiffuse = aDiffuse;
    vSpecular = aSpecular;
    vTexCoord = aTexCoord;
}
)";

constexpr const char* fragmentHeader = R"(
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
varying vec4 vDiffuse;
varying vec4 vSpecular;
varying vec2 vTexCoord;
uniform sampler2D uTexture;
uniform vec4 uFactor;
uniform float uAlphaRef;
)";

// One stage argument as a GLSL expression: vec3 for colour, float for alpha.
void argumentExpression(uint32_t arg, bool alpha, char* out, size_t size) {
    const char* source;
    switch (arg & 0xF) {
    case taTexture:
        source = "t";
        break;
    case 3:
        source = "uFactor"; // texture factor
        break;
    default:
        source = "vDiffuse"; // diffuse, and "current" at stage 0
        break;
    }
    bool complement = arg & 0x10, replicate = arg & 0x20;
    if (alpha || replicate)
        std::snprintf(out, size, complement ? "(1.0 - %s.a)" : "%s.a", source);
    else
        std::snprintf(out, size, complement ? "(vec3(1.0) - %s.rgb)" : "%s.rgb", source);
    if (!alpha && replicate) {
        char scalar[48];
        std::snprintf(scalar, sizeof scalar, "%s", out);
        std::snprintf(out, size, "vec3(%s)", scalar);
    }
}

void operationExpression(uint32_t op, uint32_t arg1, uint32_t arg2, bool alpha, char* out,
                         size_t size) {
    if (op == topDisable) {
        op = topSelectArg1;
        arg1 = taDiffuse;
    }
    char a[64], b[64];
    argumentExpression(arg1, alpha, a, sizeof a);
    argumentExpression(arg2, alpha, b, sizeof b);
    const char* half = alpha ? "0.5" : "vec3(0.5)";
    switch (op) {
    case topSelectArg1:
        std::snprintf(out, size, "%s", a);
        break;
    case topSelectArg2:
        std::snprintf(out, size, "%s", b);
        break;
    case 5:
        std::snprintf(out, size, "%s * %s * 2.0", a, b);
        break;
    case 6:
        std::snprintf(out, size, "%s * %s * 4.0", a, b);
        break;
    case 7:
        std::snprintf(out, size, "%s + %s", a, b);
        break;
    case 8:
        std::snprintf(out, size, "%s + %s - %s", a, b, half);
        break;
    case 9:
        std::snprintf(out, size, "(%s + %s - %s) * 2.0", a, b, half);
        break;
    case 10:
        std::snprintf(out, size, "%s - %s", a, b);
        break;
    default: // modulate, and what the device does not know
        std::snprintf(out, size, "%s * %s", a, b);
        break;
    }
}

const char* compareOperator(uint32_t d3dCompare) {
    switch (d3dCompare) {
    case 1:
        return nullptr; // never: the fragment is always discarded
    case 2:
        return "<";
    case 3:
        return "==";
    case 4:
        return "<=";
    case 5:
        return ">";
    case 6:
        return "!=";
    case 7:
        return ">=";
    default:
        return "";
    }
}

void buildFragmentSource(const ProgramKey& key, char* out, size_t size) {
    char colour[256], alpha[256];
    if (key.textured) {
        operationExpression(key.colorOp, key.colorArg1, key.colorArg2, false, colour,
                            sizeof colour);
        operationExpression(key.alphaOp, key.alphaArg1, key.alphaArg2, true, alpha, sizeof alpha);
    } else {
        std::snprintf(colour, sizeof colour, "vDiffuse.rgb");
        std::snprintf(alpha, sizeof alpha, "vDiffuse.a");
    }
    char test[128] = "";
    if (key.alphaTest) {
        // The reference is compared as Direct3D does, in whole levels of 255.
        const char* op = compareOperator(key.alphaTest);
        if (!op)
            std::snprintf(test, sizeof test, "    discard;\n");
        else if (*op)
            std::snprintf(test, sizeof test,
                          "    if (!(floor(a * 255.0 + 0.5) %s uAlphaRef)) discard;\n", op);
    }
    std::snprintf(out, size,
                  "%s"
                  "void main() {\n"
                  "%s"
                  "    vec3 c = clamp(%s, 0.0, 1.0);\n"
                  "    float a = clamp(%s, 0.0, 1.0);\n"
                  "%s"
                  "%s"
                  "    gl_FragColor = vec4(c, a);\n"
                  "}\n",
                  fragmentHeader,
                  key.textured ? "    vec4 t = texture2D(uTexture, vTexCoord);\n" : "", colour,
                  alpha, key.specular ? "    c = min(c + vSpecular.rgb, vec3(1.0));\n" : "", test);
}

GLuint compileShader(GLenum type, const char* source) {
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

// Attribute locations, the same in every program.
enum Attribute { attrPosition, attrDiffuse, attrSpecular, attrTexCoord };

Program* findProgram(const ProgramKey& key) {
    for (int i = 0; i < programCount; ++i)
        if (std::memcmp(&programs[i].key, &key, sizeof key) == 0) return &programs[i];
    if (programCount == maxPrograms) {
        // Far more combinations than any frame uses: start the cache over, once the
        // held-back draws that use its programs are sent.
        flushDraws();
        for (int i = 0; i < programCount; ++i)
            glDeleteProgram(programs[i].name);
        programCount = 0;
        gl.program = ~GLuint(0);
    }

    static char vertexSource[4096], fragmentSource[2048];
    std::snprintf(vertexSource, sizeof vertexSource, "%s%s", vertexHeader, vertexBody);
    buildFragmentSource(key, fragmentSource, sizeof fragmentSource);

    GLuint vertexShader = compileShader(GL_VERTEX_SHADER, vertexSource);
    GLuint fragmentShader = compileShader(GL_FRAGMENT_SHADER, fragmentSource);
    if (!vertexShader || !fragmentShader) {
        if (vertexShader) glDeleteShader(vertexShader);
        if (fragmentShader) glDeleteShader(fragmentShader);
        return nullptr;
    }
    GLuint name = glCreateProgram();
    glAttachShader(name, vertexShader);
    glAttachShader(name, fragmentShader);
    glBindAttribLocation(name, attrPosition, "aPosition");
    glBindAttribLocation(name, attrDiffuse, "aDiffuse");
    glBindAttribLocation(name, attrSpecular, "aSpecular");
    glBindAttribLocation(name, attrTexCoord, "aTexCoord");
    glLinkProgram(name);
    glDeleteShader(vertexShader);
    glDeleteShader(fragmentShader);
    GLint ok = 0;
    glGetProgramiv(name, GL_LINK_STATUS, &ok);
    if (!ok) {
        glDeleteProgram(name);
        return nullptr;
    }
    Program& p = programs[programCount++];
    p.key = key;
    p.sentValid = false;
    p.name = name;
    p.matrix = glGetUniformLocation(name, "uMatrix");
    p.factor = glGetUniformLocation(name, "uFactor");
    p.alphaRef = glGetUniformLocation(name, "uAlphaRef");
    p.sampler = glGetUniformLocation(name, "uTexture");
    glUseProgram(name);
    gl.program = name;
    glUniform1i(p.sampler, 0);
    return &p;
}

// Sends the values to the program's uniforms (those it does not use have location -1
// and are ignored) unless it already holds them all.
void sendUniforms(Program& p, const UniformValues& u) {
    if (p.sentValid && std::memcmp(&p.sent, &u, sizeof u) == 0) return;
    p.sent = u;
    p.sentValid = true;
    glUniformMatrix4fv(p.matrix, 1, GL_FALSE, u.matrix);
    glUniform4fv(p.factor, 1, u.factor);
    glUniform1f(p.alphaRef, u.alphaRef);
}

// ---- Texture stage 0
// ------------------------------------------------------------------------------

bool powerOfTwo(uint32_t n) {
    return (n & (n - 1)) == 0;
}

GLint addressMode(uint32_t d3dAddress) {
    switch (d3dAddress) {
    case addressMirror:
    case 5: // mirror once
        return GL_MIRRORED_REPEAT;
    case addressClamp:
    case 4: // border: WebGL has no border colour
        return GL_CLAMP_TO_EDGE;
    default:
        return GL_REPEAT;
    }
}

// Stage 0's texture and the sampler settings it is drawn with.
struct Stage0 {
    Texture* texture; // null when the draw is untextured
    GLint mag, min, wrapS, wrapT;
};

Stage0 currentStage0() {
    const uint32_t* stage = core.stages[0];
    Texture* texture = core.texture0;
    if (!texture || texture->name == 0 || stage[tssColorOp] == topDisable) return {};

    const bool fullChain = texture->levels == textureLevelsFor(texture->width, texture->height, 0);
    const bool regular = powerOfTwo(texture->width) && powerOfTwo(texture->height);
    Stage0 s{texture, stage[tssMagFilter] == filterPoint ? GL_NEAREST : GL_LINEAR, 0, 0, 0};
    bool linearMin = stage[tssMinFilter] != filterPoint && stage[tssMinFilter] != filterNone;
    // WebGL 1 has no base and maximum level: a texture samples mipmaps only with its
    // whole chain, and a single level stays complete only with a plain filter.
    uint32_t mip = texture->levels > 1 && fullChain && regular ? stage[tssMipFilter] : filterNone;
    switch (mip) {
    case filterPoint:
        s.min = linearMin ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
        break;
    case filterLinear:
        s.min = linearMin ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
        break;
    default:
        s.min = linearMin ? GL_LINEAR : GL_NEAREST;
        break;
    }
    s.wrapS = regular ? addressMode(stage[tssAddressU]) : GL_CLAMP_TO_EDGE;
    s.wrapT = regular ? addressMode(stage[tssAddressV]) : GL_CLAMP_TO_EDGE;
    return s;
}

void applyStage0(const Stage0& s) {
    Texture* texture = s.texture;
    if (!texture) return;
    bindTexture(texture->name);
    if (texture->magFilter != s.mag)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, texture->magFilter = s.mag);
    if (texture->minFilter != s.min)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, texture->minFilter = s.min);
    if (texture->wrapS != s.wrapS)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, texture->wrapS = s.wrapS);
    if (texture->wrapT != s.wrapT)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, texture->wrapT = s.wrapT);
}

// ---- Drawing
// ------------------------------------------------------------------------------------------

// Chooses the program for a draw in the current state and the uniform values it
// draws with; null when its shaders cannot be built.
Program* chooseProgram(const Stage0& stage0, UniformValues& u) {
    const uint32_t* rs = core.renderStates;
    const uint32_t* stage = core.stages[0];
    FvfLayout layout = fvfLayout(core.fvf);
    const bool lit = !layout.transformed && rs[rsLighting] != 0;

    ProgramKey key{};
    key.textured = stage0.texture != nullptr;
    if (key.textured) {
        key.colorOp = uint8_t(stage[tssColorOp]);
        key.colorArg1 = uint8_t(stage[tssColorArg1]);
        key.colorArg2 = uint8_t(stage[tssColorArg2]);
        key.alphaOp = uint8_t(stage[tssAlphaOp]);
        key.alphaArg1 = uint8_t(stage[tssAlphaArg1]);
        key.alphaArg2 = uint8_t(stage[tssAlphaArg2]);
    }
    // Lit vertices carry the lighting's specular colour, which is zero with specular
    // off; pre-transformed ones add their own only when specular is on.
    key.specular = lit || (rs[rsSpecularEnable] != 0 && layout.specular >= 0);
    key.alphaTest = rs[rsAlphaTestEnable] ? uint8_t(rs[rsAlphaFunc] & 0xFF) : 0;
    if (key.alphaTest == 8) key.alphaTest = 0; // always passes

    Program* p = findProgram(key);
    if (!p) return nullptr;
    u = UniformValues{};
    if (layout.transformed) {
        std::memcpy(u.matrix, screenProjection, sizeof u.matrix);
    } else {
        float worldView[16], clip[16];
        multiplyMatrices(core.world, core.view, worldView);
        multiplyMatrices(core.projection, clipConversion, clip);
        multiplyMatrices(worldView, clip, u.matrix);
    }
    if (key.textured) colorToFloats(rs[rsTextureFactor], u.factor);
    if (key.alphaTest) u.alphaRef = float(rs[rsAlphaRef] & 0xFF);
    return p;
}

// Draws are held back and sent together: their vertices go into one buffer store
// per batch, then the draws follow with their states. On ANGLE over Vulkan every
// buffer update between two draws of a frame ends the render pass, which a software
// rasteriser pays for by storing and reloading the whole colour and depth buffers;
// one upload per frame avoids that. A batch is sent before anything whose order
// against the draws matters: a clear, a texture's new texels or its deletion, the
// frame's end, a read of the picture, and the device's detach.
struct PendingDraw {
    Program* program;
    Stage0 stage0;
    RasterState raster;
    GLenum mode;
    GLint first;
    GLsizei count;
    UniformValues uniforms;
};

constexpr int32_t maxPendingDraws = 256;
PendingDraw* pendingDraws = nullptr; // maxPendingDraws of them, once attached
int32_t pendingCount = 0;
CoreVertex* batchVertices = nullptr;
uint32_t batchCapacity = 0, batchUsed = 0; // vertices

// Room for `count` more vertices in the batch; returns where they go.
CoreVertex* batchRoom(uint32_t count) {
    if (batchUsed + count > batchCapacity) {
        uint32_t capacity = batchCapacity ? batchCapacity : 16384;
        while (capacity < batchUsed + count)
            capacity *= 2;
        auto* grown =
            static_cast<CoreVertex*>(allocArray(int32_t(capacity), int32_t(sizeof(CoreVertex))));
        if (batchUsed) std::memcpy(grown, batchVertices, batchUsed * sizeof(CoreVertex));
        freeBlock(batchVertices);
        batchVertices = grown;
        batchCapacity = capacity;
    }
    CoreVertex* room = batchVertices + batchUsed;
    batchUsed += count;
    return room;
}

void flushDraws() {
    if (pendingCount == 0) {
        batchUsed = 0;
        return;
    }
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(batchUsed * sizeof(CoreVertex)), batchVertices,
                 GL_STREAM_DRAW);
    for (int32_t i = 0; i < pendingCount; ++i) {
        PendingDraw& d = pendingDraws[i];
        if (gl.program != d.program->name) {
            glUseProgram(d.program->name);
            gl.program = d.program->name;
        }
        sendUniforms(*d.program, d.uniforms);
        applyStage0(d.stage0);
        applyRasterState(d.raster);
        glDrawArrays(d.mode, d.first, d.count);
    }
    pendingCount = 0;
    batchUsed = 0;
}

// Whether `next` can be drawn as part of `last`: the same state throughout, and
// triangle lists or strips, whose primitives a single draw keeps in order.
bool continues(const PendingDraw& last, const PendingDraw& next) {
    const RasterState &a = last.raster, &b = next.raster;
    return last.mode == next.mode &&
           (next.mode == GL_TRIANGLES || next.mode == GL_TRIANGLE_STRIP) &&
           last.program == next.program && last.stage0.texture == next.stage0.texture &&
           last.stage0.mag == next.stage0.mag && last.stage0.min == next.stage0.min &&
           last.stage0.wrapS == next.stage0.wrapS && last.stage0.wrapT == next.stage0.wrapT &&
           a.depthTest == b.depthTest && a.blend == b.blend && a.cull == b.cull &&
           a.depthMask == b.depthMask && a.depthFunc == b.depthFunc && a.srcBlend == b.srcBlend &&
           a.dstBlend == b.dstBlend && a.cullFace == b.cullFace && a.colorMask == b.colorMask &&
           std::memcmp(&last.uniforms, &next.uniforms, sizeof next.uniforms) == 0;
}

void releaseBatch() {
    freeBlock(pendingDraws);
    pendingDraws = nullptr;
    pendingCount = 0;
    freeBlock(batchVertices);
    batchVertices = nullptr;
    batchCapacity = batchUsed = 0;
}

// ---- Textures
// -----------------------------------------------------------------------------------------

struct EsFormat {
    GLenum format, type;
};

// What a converted level is handed to WebGL as (convertLevelForEs's layouts).
EsFormat esFormatOf(uint32_t format) {
    switch (format) {
    case fmtR8G8B8:
    case fmtX8R8G8B8:
        return {GL_RGB, GL_UNSIGNED_BYTE};
    case fmtR5G6B5:
        return {GL_RGB, GL_UNSIGNED_SHORT_5_6_5};
    case fmtX1R5G5B5:
    case fmtA1R5G5B5:
        return {GL_RGBA, GL_UNSIGNED_SHORT_5_5_5_1};
    case fmtA4R4G4B4:
        return {GL_RGBA, GL_UNSIGNED_SHORT_4_4_4_4};
    default: // A8R8G8B8 and decoded DXT
        return {GL_RGBA, GL_UNSIGNED_BYTE};
    }
}

GLenum s3tcFormat(uint32_t format) {
    switch (format) {
    case fmtDXT1:
        return GL_COMPRESSED_RGBA_S3TC_DXT1_EXT;
    case fmtDXT2:
    case fmtDXT3:
        return GL_COMPRESSED_RGBA_S3TC_DXT3_EXT;
    default:
        return GL_COMPRESSED_RGBA_S3TC_DXT5_EXT;
    }
}

// WebGL takes compressed levels whose sides are multiples of 4 (or smaller mipmaps).
bool uploadCompressed(const Texture* texture) {
    return hasS3tc && texture->width % 4 == 0 && texture->height % 4 == 0;
}

uint8_t* conversionScratch(uint32_t bytes) {
    if (bytes > conversionCapacity) {
        freeBlock(conversion);
        conversionCapacity = bytes;
        conversion = static_cast<uint8_t*>(allocBlock(int32_t(bytes)));
    }
    return conversion;
}

void uploadLevel(Texture* texture, uint32_t level) {
    flushDraws(); // held-back draws sample the old texels
    const Surface& s = texture->surfaces[level];
    bindTexture(texture->name);
    if (isCompressedFormat(texture->format) && uploadCompressed(texture)) {
        glCompressedTexImage2D(GL_TEXTURE_2D, GLint(level), s3tcFormat(texture->format),
                               GLsizei(s.width), GLsizei(s.height), 0, GLsizei(s.size), s.bits);
        return;
    }
    const EsFormat f = esFormatOf(texture->format);
    uint8_t* texels = conversionScratch(s.width * s.height * esTexelBytes(texture->format));
    convertLevelForEs(texture->format, s.bits, s.pitch, s.width, s.height, texels);
    glTexImage2D(GL_TEXTURE_2D, GLint(level), GLint(f.format), GLsizei(s.width), GLsizei(s.height),
                 0, f.format, f.type, texels);
}

void createGlTexture(Texture* texture) {
    GLuint name = 0;
    glGenTextures(1, &name);
    texture->name = name;
    bindTexture(name);
    texture->magFilter = texture->minFilter = texture->wrapS = texture->wrapT = 0;
    for (uint32_t k = 0; k < texture->levels; ++k)
        uploadLevel(texture, k);
}

void deleteGlTexture(Texture* texture) {
    if (texture->name == 0) return;
    flushDraws();
    if (gl.boundTexture == texture->name) gl.boundTexture = ~GLuint(0);
    GLuint name = texture->name;
    glDeleteTextures(1, &name);
    texture->name = 0;
}

} // namespace

// ---- Glue
// ----------------------------------------------------------------------------------------------

bool webglDeviceAttach() {
    if (attached) webglDeviceDetach();
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = emscripten_webgl_get_current_context();
    if (context <= 0) return false;
    hasS3tc = emscripten_webgl_enable_extension(context, "WEBGL_compressed_texture_s3tc");
    attached = true;
    resetCoreState();
    forgetGlState();
    GLint subpixelBits = 0;
    glGetIntegerv(GL_SUBPIXEL_BITS, &subpixelBits);
    subpixelBits = subpixelBits < 4 ? 4 : subpixelBits > 8 ? 8 : subpixelBits;
    const float step = 1.0f / float(1 << subpixelBits);
    screenProjectionMatrix(step, screenProjection);
    clipConversionMatrix(step, clipConversion);

    glViewport(0, 0, 640, 480);
    glDepthRangef(0.0f, 1.0f);
    glDisable(GL_DITHER);
    glFrontFace(GL_CCW);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glActiveTexture(GL_TEXTURE0);
    glGenBuffers(1, &vertexBufferName);
    pendingDraws =
        static_cast<PendingDraw*>(allocArray(maxPendingDraws, int32_t(sizeof(PendingDraw))));
    pendingCount = 0;
    batchUsed = 0;
    glBindBuffer(GL_ARRAY_BUFFER, vertexBufferName);
    constexpr GLsizei stride = sizeof(CoreVertex);
    glEnableVertexAttribArray(attrPosition);
    glEnableVertexAttribArray(attrDiffuse);
    glEnableVertexAttribArray(attrSpecular);
    glEnableVertexAttribArray(attrTexCoord);
    glVertexAttribPointer(attrPosition, 4, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<void*>(offsetof(CoreVertex, position)));
    glVertexAttribPointer(attrDiffuse, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                          reinterpret_cast<void*>(offsetof(CoreVertex, diffuse)));
    glVertexAttribPointer(attrSpecular, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                          reinterpret_cast<void*>(offsetof(CoreVertex, specular)));
    glVertexAttribPointer(attrTexCoord, 2, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<void*>(offsetof(CoreVertex, texCoord)));

    // The program of the commonest draw, built now: a context whose shaders do not
    // compile cannot show anything.
    ProgramKey probe{};
    if (!findProgram(probe)) {
        webglDeviceDetach();
        return false;
    }
    forEachTexture(createGlTexture, false);
    return true;
}

void webglDeviceDetach() {
    if (!attached) return;
    flushDraws();
    forEachTexture(deleteGlTexture, true);
    for (int i = 0; i < programCount; ++i)
        glDeleteProgram(programs[i].name);
    programCount = 0;
    glDeleteBuffers(1, &vertexBufferName);
    vertexBufferName = 0;
    attached = false;
    releaseCoreScratch();
    freeBlock(conversion);
    conversion = nullptr;
    conversionCapacity = 0;
    releaseBatch();
}

void webglDeviceReadPixels(uint8_t* rgba640x480) {
    if (!attached) {
        std::memset(rgba640x480, 0, 640 * 480 * 4);
        return;
    }
    flushDraws();
    uint8_t* picture = static_cast<uint8_t*>(allocBlock(640 * 480 * 4));
    glReadPixels(0, 0, 640, 480, GL_RGBA, GL_UNSIGNED_BYTE, picture);
    for (int y = 0; y < 480; ++y)
        std::memcpy(rgba640x480 + size_t(y) * 640 * 4, picture + size_t(479 - y) * 640 * 4,
                    640 * 4);
    freeBlock(picture);
}

// ---- Hooks of the platform-free half ------------------------------------------------------------

bool backendAttached() {
    return attached;
}

bool backendSupportsFormat(uint32_t format) {
    return esTexelBytes(format) != 0;
}

int32_t backendClear(uint32_t flags, uint32_t color, float z) {
    flushDraws();
    // Clearing ignores the render states: every channel and the depth are written.
    if (gl.colorMask != 0xF) {
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        gl.colorMask = 0xF;
    }
    if (gl.depthMask != GL_TRUE) {
        glDepthMask(GL_TRUE);
        gl.depthMask = GL_TRUE;
    }
    GLbitfield mask = 0;
    if (flags & clearTarget) {
        float c[4];
        colorToFloats(color, c);
        glClearColor(c[0], c[1], c[2], c[3]);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & clearZBuffer) {
        glClearDepthf(z);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (mask) glClear(mask);
    return 0;
}

void backendPresent() {
    // The browser shows the drawing buffer when the frame's callback returns.
    flushDraws();
}

void backendDraw(uint32_t type, CoreVertex* vertices, uint32_t vertexCount, const uint32_t* indices,
                 uint32_t indexCount) {
    // Built aside: choosing a program may send the batch (when its cache starts over).
    PendingDraw d;
    d.stage0 = currentStage0();
    d.program = chooseProgram(d.stage0, d.uniforms);
    if (!d.program) return;
    d.raster = currentRasterState();
    d.mode = primitiveMode(type);
    const uint32_t count = indices ? indexCount : vertexCount;
    if (count == 0) return;
    const FvfLayout layout = fvfLayout(core.fvf);
    if (!layout.transformed && core.renderStates[rsLighting] != 0) {
        VertexLighting lighting;
        prepareVertexLighting(core, layout.diffuse >= 0, &lighting);
        lightVertices(lighting, vertices, vertexCount);
    }
    const CoreVertex& firstVertex = indices ? vertices[indices[0]] : vertices[0];

    PendingDraw* last = pendingCount ? &pendingDraws[pendingCount - 1] : nullptr;
    if (last && continues(*last, d)) {
        if (d.mode == GL_TRIANGLE_STRIP) {
            // Strips join through degenerate triangles, which draw nothing: the last
            // vertex repeated (twice after an odd count, so that the next strip keeps
            // its winding) and the next strip's first.
            const CoreVertex lastVertex = batchVertices[batchUsed - 1];
            const uint32_t bridge = last->count % 2 ? 3 : 2;
            CoreVertex* out = batchRoom(bridge);
            for (uint32_t k = 0; k + 1 < bridge; ++k)
                out[k] = lastVertex;
            out[bridge - 1] = firstVertex;
            last->count += GLsizei(bridge);
        }
    } else {
        if (pendingCount == maxPendingDraws) flushDraws();
        d.first = GLint(batchUsed);
        d.count = 0;
        pendingDraws[pendingCount++] = d;
        last = &pendingDraws[pendingCount - 1];
    }
    // Indexed draws go in as the plain list of vertices their indices pick: no index
    // buffer to fill and validate for every draw, for a few repeated vertices.
    CoreVertex* out = batchRoom(count);
    if (indices)
        for (uint32_t i = 0; i < count; ++i)
            out[i] = vertices[indices[i]];
    else
        std::memcpy(out, vertices, count * sizeof(CoreVertex));
    last->count += GLsizei(count);
}

void backendCreateTexture(Texture* texture) {
    createGlTexture(texture);
}

void backendUploadLevel(Texture* texture, uint32_t level) {
    uploadLevel(texture, level);
}

void backendDeleteTexture(Texture* texture) {
    deleteGlTexture(texture);
}
