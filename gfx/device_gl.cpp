// The OpenGL 2.1 display device: the backend of device_core.cpp over the
// fixed-function pipeline, keeping Direct3D 8's semantics. Owns the context glue and
// a shadow of the OpenGL state last applied; the Direct3D state (device_core.h) is
// translated at each draw, with the conventions device_core.h gives. Beyond those:
// - Stage 0 output plus the specular colour when specular is enabled (colour sum),
//   lighting in eye space with global ambient from the ambient render state.
// Main thread only, with the context made current by the display code.
#include "gfx/device_gl.h"

#include "app/mathutil.h"
#include "app/memory.h"
#include "gfx/device.h"
#include "gfx/device_common.h"
#include "gfx/device_core.h"

#include <SDL.h>
#include <GL/gl.h>
#include <GL/glext.h>

// After the OpenGL header, whose enumerants it uses.
#include "gfx/gl_translate.h"

#include <cstring>

namespace {

SDL_Window* window = nullptr;
bool attached = false;
int viewport[4] = {0, 0, 640, 480};

PFNGLSECONDARYCOLORPOINTERPROC secondaryColorPointer = nullptr;
PFNGLCOMPRESSEDTEXIMAGE2DPROC compressedTexImage2D = nullptr;
PFNGLPROVOKINGVERTEXPROC provokingVertex = nullptr;
bool hasS3tc = false;
// The projections, with the sub-pixel step the driver reports (1/256 pixel on
// llvmpipe; some drivers snap positions to sixteenths, where a finer lift vanishes).
float screenProjection[16], clipConversion[16];

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
    switchCapability(gl.caps[cap], capNames[cap], on);
}

void bindTexture(GLuint name) {
    bindTexture2D(gl.boundTexture, name);
}

void useScreenProjection() {
    if (gl.projectionMode == 1) return;
    gl.projectionMode = 1;
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(screenProjection);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void useTransforms() {
    if (gl.projectionMode == 2 && !core.transformsChanged) return;
    gl.projectionMode = 2;
    core.transformsChanged = false;
    float m[16];
    multiplyMatrices(core.projection, clipConversion, m);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(m);
    multiplyMatrices(core.world, core.view, m);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(m);
}

// ---- State translation
// ----------------------------------------------------------------------------

void applyRasterStates() {
    const uint32_t* rs = core.renderStates;
    setCap(capDepth, rs[rsZEnable] != 0);
    GLenum depthFunc = compareFunction(rs[rsZFunc]);
    if (gl.depthFunc != depthFunc) glDepthFunc(gl.depthFunc = depthFunc);
    GLboolean depthMask = rs[rsZWriteEnable] ? GL_TRUE : GL_FALSE;
    if (gl.depthMask != depthMask) glDepthMask(gl.depthMask = depthMask);

    setCap(capBlend, rs[rsAlphaBlendEnable] != 0);
    GLenum src = blendFactor(rs[rsSrcBlend], true), dst = blendFactor(rs[rsDestBlend], false);
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
    const uint32_t* rs = core.renderStates;
    bool specular = rs[rsSpecularEnable] != 0;
    float ambient[4];
    colorToFloats(rs[rsAmbient], ambient);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, rs[rsLocalViewer] ? GL_TRUE : GL_FALSE);
    glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SEPARATE_SPECULAR_COLOR);
    setCap(capNormalize, rs[rsNormalizeNormals] != 0);

    // Colour material goes off before the material is set: while it is on, OpenGL
    // keeps writing the vertex colour into the diffuse and ignores a new one.
    bool colorMaterial = vertexDiffuse && rs[rsColorVertex] && rs[rsDiffuseMaterialSource] == 1;
    if (colorMaterial) glColorMaterial(GL_FRONT_AND_BACK, GL_DIFFUSE);
    setCap(capColorMaterial, colorMaterial);

    const Material& m = core.material;
    const float noSpecular[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, &m.ambient.r);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, &m.diffuse.r);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular ? &m.specular.r : noSpecular);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, &m.emissive.r);
    float power = m.power < 0.0f ? 0.0f : m.power > 128.0f ? 128.0f : m.power;
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, power);

    // Light 0 only; its position is given with the view matrix alone on the
    // modelview stack, so that a world-space direction ends up in eye space.
    const Light& light = core.lights[0];
    setCap(capLight0, core.lightEnabled[0]);
    if (!core.lightEnabled[0]) return;
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadMatrixf(core.view);
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
    const uint32_t* stage = core.stages[0];
    Texture* texture = core.texture0;
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
                       core.renderStates[rsTextureFactor],
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

// Sets every OpenGL state for a draw in the current format and points the arrays at
// `vertices`.
void prepareDraw(const CoreVertex* vertices) {
    FvfLayout layout = fvfLayout(core.fvf);
    bool lit = !layout.transformed && core.renderStates[rsLighting] != 0;
    if (layout.transformed)
        useScreenProjection();
    else
        useTransforms();
    applyRasterStates();
    applyLighting(lit, layout.diffuse >= 0);
    applyStage0();
    bool specularSum = !lit && core.renderStates[rsSpecularEnable] != 0 && layout.specular >= 0 &&
                       secondaryColorPointer;
    setCap(capColorSum, specularSum);

    constexpr GLsizei stride = sizeof(CoreVertex);
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

bool extensionPresent(const char* name) {
    const char* list = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (!list) return false;
    size_t length = std::strlen(name);
    for (const char* p = std::strstr(list, name); p; p = std::strstr(p + 1, name))
        if ((p == list || p[-1] == ' ') && (p[length] == ' ' || p[length] == '\0')) return true;
    return false;
}

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
    resetCoreState();
    forgetGlState();
    GLint subpixelBits = 0;
    glGetIntegerv(GL_SUBPIXEL_BITS, &subpixelBits);
    subpixelBits = subpixelBits < 4 ? 4 : subpixelBits > 8 ? 8 : subpixelBits;
    const float step = 1.0f / float(1 << subpixelBits);
    screenProjectionMatrix(step, screenProjection);
    clipConversionMatrix(step, clipConversion);

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
    forEachTexture(createGlTexture, false);
}

void glDeviceDetach() {
    if (!attached) return;
    forEachTexture(deleteGlTexture, true);
    attached = false;
    window = nullptr;
    releaseCoreScratch();
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

// ---- Hooks of the platform-free half ------------------------------------------------------------

bool backendAttached() {
    return attached;
}

bool backendSupportsFormat(uint32_t format) {
    GlFormat glFormat{};
    return glFormatOf(format, glFormat) && (!isCompressedFormat(format) || hasS3tc);
}

int32_t backendClear(uint32_t flags, uint32_t color, float z) {
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
        glClearDepth(double(z));
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (mask) glClear(mask);
    return 0;
}

void backendPresent() {
    SDL_GL_SwapWindow(window);
}

void backendDraw(uint32_t type, CoreVertex* vertices, uint32_t vertexCount, const uint32_t* indices,
                 uint32_t indexCount) {
    prepareDraw(vertices);
    if (indices)
        glDrawElements(primitiveMode(type), GLsizei(indexCount), GL_UNSIGNED_INT, indices);
    else
        glDrawArrays(primitiveMode(type), 0, GLsizei(vertexCount));
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
