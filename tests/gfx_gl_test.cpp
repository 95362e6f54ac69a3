// The OpenGL device drawn into a real 640 x 480 window and read back: the pixel
// conventions, texture formats, blending, texture stage operations, depth, culling and
// lighting must come out as Direct3D 8 draws them. Runs inside the private X server.
#include "assets/backdrop_assets.h"
#include "assets/tube_assets.h"
#include "effects/backdrop.h"
#include "gfx/device.h"
#include "gfx/device_core.h"
#include "gfx/device_gl.h"
#include "gfx/vertex_lighting.h"
#include "gfx/upload.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u, v;
};
struct Rgba {
    int r, g, b;
};

std::vector<uint8_t> pixels(640 * 480 * 4); // the last frame read back

// The window and context stay until the process ends: destroying them unloads the
// driver, whose allocations the leak checker then can no longer tell apart.
void openDisplay() {
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_Window* window = SDL_CreateWindow("velmora test", 0, 0, 640, 480, SDL_WINDOW_OPENGL);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    ASSERT_NE(SDL_GL_CreateContext(window), nullptr) << SDL_GetError();
    glDeviceAttach(window, 0, 0, 640, 480);
}

class GlDeviceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        openDisplay();
        ready = !HasFatalFailure();
    }
    static void TearDownTestSuite() { glDeviceDetach(); }
    // Each case starts from the states the intro's plugins take for granted.
    void SetUp() override {
        ASSERT_TRUE(ready);
        for (uint32_t state : {rsLighting, rsZEnable, rsAlphaBlendEnable, rsSpecularEnable})
            setRenderState(state, 0);
        setRenderState(rsCullMode, cullNone);
        for (uint32_t filter : {tssMagFilter, tssMinFilter})
            setTextureStageState(0, filter, filterPoint);
        setTextureStageState(0, tssMipFilter, filterNone);
        setTextureStageState(0, tssAlphaOp, topSelectArg1);
        setTexture(0, nullptr);
        setVertexShader(fvfScreenQuad);
    }
    void TearDown() override { setTexture(0, nullptr); }
    static inline bool ready = false;
};

void beginFrame(uint32_t color, float z = 1.0f) {
    ASSERT_EQ(deviceClear(clearTarget | clearZBuffer, color, z, 0), 0);
    ASSERT_EQ(deviceBeginScene(), 0);
}

void endFrame() {
    ASSERT_EQ(deviceEndScene(), 0);
    glDeviceReadPixels(pixels.data());
    // The device's translation never hands OpenGL an invalid enum or value.
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

Rgba pixel(int x, int y) {
    const uint8_t* p = &pixels[(size_t(y) * 640 + x) * 4];
    return {p[0], p[1], p[2]};
}

bool near(Rgba got, Rgba want, int tolerance = 0) {
    return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
           std::abs(got.b - want.b) <= tolerance;
}

// Probes in fours: x, y, the colour as 0xRRGGBB, the tolerance per channel.
void expectPixels(std::initializer_list<int> probes) {
    for (auto p = probes.begin(); p + 3 < probes.end(); p += 4) {
        const Rgba got = pixel(p[0], p[1]), want{p[2] >> 16, (p[2] >> 8) & 255, p[2] & 255};
        EXPECT_TRUE(near(got, want, p[3]))
            << "at " << p[0] << ", " << p[1] << ": got " << got.r << " " << got.g << " " << got.b
            << ", want " << std::hex << p[2];
    }
}

// A quad in the intro's order: top-left, top-right, bottom-left, bottom-right.
void drawQuad(float x0, float y0, float x1, float y1, float z, uint32_t color, float rhw = 1) {
    ScreenVertex quad[4];
    for (int i = 0; i < 4; ++i)
        quad[i] = {i & 1 ? x1 : x0, i & 2 ? y1 : y0, z, rhw, color, float(i & 1), float(i >> 1)};
    ASSERT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, quad, 28), 0);
}

// A 10 x 10 pre-transformed quad at (x0, 20) with a white diffuse and a specular colour.
void drawSpecularQuad(float x0, uint32_t specular) {
    struct {
        float x, y, z, rhw;
        uint32_t diffuse, specular;
        float u, v;
    } quad[4];
    for (int i = 0; i < 4; ++i)
        quad[i] = {x0 + 10 * (i & 1), 20.0f + 10 * (i >> 1), 0.5f,         1, ~0u,
                   specular,          float(i & 1),          float(i >> 1)};
    ASSERT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, quad, 32), 0);
}

Texture* makeTexture(const std::vector<uint8_t>& pixels, int width, int height, uint32_t format) {
    Texture* texture = nullptr;
    EXPECT_EQ(uploadTexture(pixels.data(), &texture, width, height, format, 0), 0);
    return texture;
}

std::vector<uint8_t> words16(std::initializer_list<uint16_t> values) {
    std::vector<uint8_t> bytes(values.size() * 2);
    size_t i = 0;
    for (uint16_t v : values) {
        bytes[i++] = uint8_t(v);
        bytes[i++] = uint8_t(v >> 8);
    }
    return bytes;
}

TEST_F(GlDeviceTest, TexelPerPixelQuadShowsEveryTexelExactlyOnce) {
    // Every texel of a 256 x 256 A8R8G8B8 texture differs from its neighbours.
    std::vector<uint8_t> pixels(256 * 256 * 4);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            uint8_t* p = &pixels[(size_t(y) * 256 + x) * 4];
            p[0] = uint8_t(x ^ y), p[1] = uint8_t(y), p[2] = uint8_t(x), p[3] = 255; // B G R A
        }
    Texture* texture = makeTexture(pixels, 256, 256, fmtA8R8G8B8);
    setTexture(0, texture);
    beginFrame(0xFF000000);
    drawQuad(0, 0, 256, 256, 0.5f, ~0u);
    drawQuad(300, 200, 556, 456, 0.5f, ~0u, 0.5f); // rhw other than 1
    endFrame();
    int wrong = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            wrong +=
                !near(pixel(x, y), {x, y, x ^ y}) + !near(pixel(300 + x, 200 + y), {x, y, x ^ y});
    EXPECT_EQ(wrong, 0);
    // Nothing spills over the quads' right and bottom edges, and the top row is row 0.
    expectPixels({256, 10, 0, 0, 10, 256, 0, 0, 299, 200, 0, 0});
    releaseTexture(texture);
}

TEST_F(GlDeviceTest, BackgroundTilesShowTheirOwnTexelsExactly) {
    // The background's six texel-per-pixel R5G6B5 tiles: every pixel its own texel,
    // widened from 5 and 6 bits; a neighbour's texel or a blend of two is a fault.
    ASSERT_EQ(initBackdrop(), 0);
    beginFrame(0xFF000000);
    renderBackdrop();
    endFrame();
    int wrong = 0;
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) {
            const uint8_t* at =
                backdropTileImages[(y / 256) * 3 + x / 256] + ((y % 256) * 256 + x % 256) * 2;
            const int t = at[0] | at[1] << 8;
            const Rgba texel{((t >> 11) * 255 + 15) / 31, (((t >> 5) & 63) * 255 + 31) / 63,
                             ((t & 31) * 255 + 15) / 31};
            wrong += !near(pixel(x, y), texel, 1);
        }
    EXPECT_EQ(wrong, 0);
    shutdownBackdrop();
}

TEST_F(GlDeviceTest, TextureFormatsKeepTheirValues) {
    struct Format {
        std::vector<uint8_t> bytes;
        int width, height;
        uint32_t format;
    };
    const Format formats[] = {
        // Red, green, blue, and a grey with every field half way.
        {words16({0xF800, 0x07E0, 0x001F, 0x8410}), 4, 1, fmtR5G6B5},
        // Alpha 15 red 8 green 12 blue 4, and white.
        {words16({0xF8C4, 0xFFFF, 0x0000, 0xF000}), 4, 1, fmtA4R4G4B4},
        // Opaque red 31 green 16 blue 1, and blue.
        {words16({0xFE01, 0x801F, 0x83E0, 0xFFFF}), 4, 1, fmtA1R5G5B5},
        {{10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 2, 3}, 4, 1, fmtR8G8B8}, // stored B, G, R
        {{0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0}, 4, 4, fmtDXT1}, // one block, all colour 0: red
    };
    std::vector<Texture*> textures;
    beginFrame(0xFF000000);
    for (const Format& f : formats) {
        textures.push_back(makeTexture(f.bytes, f.width, f.height, f.format));
        ASSERT_NE(textures.back(), nullptr) << f.format;
        setTexture(0, textures.back());
        const float y = float(10 * (textures.size() - 1));
        drawQuad(0, y, 4, y + 1, 0.5f, ~0u);
    }
    endFrame();
    expectPixels({0, 0,  0xFF0000, 0, 1, 0,  0x00FF00, 0, 2, 0,  0x0000FF, 0, 3, 0,  0x848284, 0,
                  0, 10, 0x88CC44, 0, 1, 10, 0xFFFFFF, 0, 0, 20, 0xFF8408, 1, 1, 20, 0x0000FF, 0,
                  0, 30, 0x1E140A, 0, 3, 30, 0x030201, 0, 2, 40, 0xFF0000, 0});
    for (Texture* texture : textures)
        releaseTexture(texture);
}

TEST_F(GlDeviceTest, SingleLevelTexturesStayComplete) {
    // Under a linear mip filter a single level is still sampled, minified and magnified.
    beginFrame(0xFF000000);
    Texture* white = makeTexture(words16({0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}), 2, 2, fmtR5G6B5);
    setTexture(0, white);
    for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
        setTextureStageState(0, filter, filterLinear);
    drawQuad(40, 0, 60, 20, 0.5f, 0xFF808080);
    drawQuad(80, 0, 81, 1, 0.5f, 0xFF808080);
    endFrame();
    expectPixels({50, 10, 0x808080, 0, 80, 0, 0x808080, 0});
    releaseTexture(white);
}

TEST_F(GlDeviceTest, BlendingAddsAndMixes) {
    beginFrame(0xFF405060);
    setRenderState(rsAlphaBlendEnable, 1);
    setRenderState(rsSrcBlend, blendOne);
    setRenderState(rsDestBlend, blendOne);
    drawQuad(0, 0, 10, 10, 0.5f, 0xFF302010);
    drawQuad(20, 0, 30, 10, 0.5f, 0xFFC0C0C0); // saturates at full intensity
    setRenderState(rsSrcBlend, blendSrcAlpha);
    setRenderState(rsDestBlend, blendInvSrcAlpha);
    drawQuad(40, 0, 50, 10, 0.5f, 0x80FFFFFF);
    drawQuad(60, 0, 70, 10, 0.0f, 0x00FFFFFF); // alpha 0 leaves the frame as it was
    setRenderState(rsAlphaBlendEnable, 0);
    drawQuad(80, 0, 90, 10, 0.5f, 0x00102030); // no blending: alpha is ignored
    endFrame();
    expectPixels({5,        5, 0x707070, 0, 25,       5, 0xFFFFFF, 0, 45,       5,
                  0xA0A8B0, 1, 65,       5, 0x405060, 0, 85,       5, 0x102030, 0});
}

TEST_F(GlDeviceTest, StageOperationsAndTheSpecularAdd) {
    // A4R4G4B4 texel: alpha 8 (136), colour grey 4 (68).
    Texture* texture = makeTexture(words16({0x8444, 0x8444, 0x8444, 0x8444}), 2, 2, fmtA4R4G4B4);
    setTexture(0, texture);
    setRenderState(rsAlphaBlendEnable, 1);
    setRenderState(rsSrcBlend, blendSrcAlpha);
    setRenderState(rsDestBlend, blendInvSrcAlpha);
    beginFrame(0xFF000000);
    drawQuad(0, 0, 10, 10, 0.5f, 0x80FFFFFF); // alpha select-first-argument: the texel's 136
    setTextureStageState(0, tssAlphaOp, topModulate);
    drawQuad(20, 0, 30, 10, 0.5f, 0x80FFFFFF); // alpha modulate: 136 x 128 / 255 = 68
    setTextureStageState(0, tssAlphaOp, topSelectArg1);
    setRenderState(rsAlphaBlendEnable, 0);
    drawQuad(40, 0, 50, 10, 0.5f, 0xFF808080); // texture x diffuse: 68 x 128 / 255 = 34
    // Pre-transformed vertices with a specular colour: added after texturing, and only
    // while specular is enabled.
    setVertexShader(fvfScreenSpecular);
    drawSpecularQuad(0, 0xFF102030);
    setRenderState(rsSpecularEnable, 1);
    drawSpecularQuad(20, 0xFF102030);
    drawSpecularQuad(40, 0xFFFFFFFF); // a full flash turns the texel white
    setTexture(0, nullptr);
    drawSpecularQuad(60, 0xFF102030); // no texture: diffuse plus specular
    endFrame();
    expectPixels({5,  5,  0x242424, 1, 25, 5,  0x121212, 1, 45, 5,  0x222222, 1, 5, 25, 0x444444, 0,
                  25, 25, 0x546474, 0, 45, 25, 0xFFFFFF, 0, 65, 25, 0xFFFFFF, 0});
    releaseTexture(texture);
}

TEST_F(GlDeviceTest, DepthTestAndCulling) {
    setRenderState(rsZEnable, 1);
    beginFrame(0xFF000000);
    drawQuad(0, 0, 20, 20, 0.3f, 0xFFFF0000);
    drawQuad(10, 0, 30, 20, 0.6f, 0xFF00FF00); // behind: hidden where they overlap
    drawQuad(40, 0, 60, 20, 0.6f, 0xFF00FF00);
    drawQuad(40, 0, 60, 20, 0.6f, 0xFF0000FF); // equal depth passes (less or equal)
    setRenderState(rsZWriteEnable, 0);
    drawQuad(70, 0, 90, 20, 0.2f, ~0u); // drawn but leaves no depth behind
    setRenderState(rsZWriteEnable, 1);
    drawQuad(70, 0, 90, 20, 0.4f, 0xFFFF00FF);
    setRenderState(rsZEnable, 0);
    drawQuad(100, 0, 120, 20, 0.9f, 0xFFFF0000);
    drawQuad(100, 0, 120, 20, 0.95f, 0xFF00FF00); // no depth test: the last one wins
    // The intro's quads are clockwise on the screen; a counter-clockwise triangle is
    // culled by the counter-clockwise mode only.
    setRenderState(rsCullMode, cullClockwise);
    drawQuad(0, 40, 20, 60, 0.5f, ~0u);
    setRenderState(rsCullMode, cullCounterClockwise);
    drawQuad(30, 40, 50, 60, 0.5f, ~0u);
    ScreenVertex triangle[3] = {
        {60, 40, 0.5f, 1, ~0u, 0, 0}, {60, 60, 0.5f, 1, ~0u, 0, 0}, {80, 40, 0.5f, 1, ~0u, 0, 0}};
    drawPrimitiveUP(ptTriangleList, 1, triangle, 28);
    setRenderState(rsCullMode, cullClockwise);
    for (ScreenVertex& v : triangle)
        v.y += 30;
    drawPrimitiveUP(ptTriangleList, 1, triangle, 28);
    endFrame();
    expectPixels({15, 10, 0xFF0000, 0, 25,  10, 0x00FF00, 0, 50, 10, 0x0000FF, 0,
                  80, 10, 0xFF00FF, 0, 110, 10, 0x00FF00, 0, 10, 50, 0,        0,
                  40, 50, 0xFFFFFF, 0, 63,  45, 0,        0, 63, 75, 0xFFFFFF, 0});
}

// An 80 x 80 square in the plane y = 0 (clockwise as the camera sees it), one normal for
// every vertex, the texture spread over it once.
void drawLitSquare(float centreX, float normalY) {
    struct {
        float x, y, z, nx, ny, nz, u, v;
    } square[4];
    for (int i = 0; i < 4; ++i) {
        const float dx = i & 1 ? 40 : -40, z = i & 2 ? -40 : 40;
        square[i] = {centreX + dx, 0, z, 0, normalY, 0, float(i & 1), float(i >> 1)};
    }
    ASSERT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, square, sizeof square[0]), 0);
}

// The screen column of world x at depth 0 through the tube's camera.
int screenX(float worldX) {
    return int(320.0f + worldX * 2.4142926f / 500.0f * 320.0f);
}

TEST_F(GlDeviceTest, LightingFollowsTheFixedFunctionModel) {
    // The tube's camera: view depth = world y + 500, world z up the screen, and a
    // left-handed perspective with near plane 1 and far plane 1000.
    const float world[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    setTransform(transformWorld, world);
    setTransform(transformView, tubeViewMatrix);
    setTransform(transformProjection, tubeProjectionMatrix);
    // The light travels along +y, away from the camera: faces whose normal points back
    // at the camera (-y) are lit.
    Light light{};
    light.type = lightDirectional;
    light.diffuse = {0.5f, 0.5f, 0.5f, 1};
    light.specular = light.ambient = {1, 1, 1, 1};
    light.direction[1] = 1;
    Material material{};
    material.diffuse = {0.8f, 0.4f, 0.2f, 1};
    material.ambient = {0.2f, 0.1f, 0.3f, 1};
    material.specular = {1, 1, 1, 1};
    material.power = 50;
    setLight(0, &light);
    lightEnable(0, 1);
    setMaterial(&material);
    setRenderState(rsLighting, 1);
    setRenderState(rsZEnable, 1);
    setRenderState(rsCullMode, cullCounterClockwise);
    setVertexShader(fvfXyz | fvfNormal | fvfTex1);
    beginFrame(0xFF000000);
    drawLitSquare(-200, -1); // turned toward the light
    drawLitSquare(0, 1);     // turned away: ambient only
    endFrame();
    // Lit: ambient 1 x (0.2, 0.1, 0.3) plus diffuse 0.5 x (0.8, 0.4, 0.2). Turned away:
    // the light's ambient times the material's. The background: global ambient 0.
    expectPixels(
        {screenX(-200), 240, 0x994D66, 2, screenX(0), 240, 0x331A4D, 1, screenX(-100), 240, 0, 0});

    // Transformed triangles are culled by their winding on the screen as well.
    setRenderState(rsCullMode, cullClockwise);
    beginFrame(0xFF000000);
    drawLitSquare(-200, -1);
    endFrame();
    expectPixels({screenX(-200), 240, 0, 0});
    setRenderState(rsCullMode, cullCounterClockwise);

    // Specular with a local viewer, added after texturing: a black texture wipes the lit
    // colour but not the highlight of a square facing the camera and the light.
    Texture* black = makeTexture(words16({0, 0, 0, 0}), 2, 2, fmtR5G6B5);
    setTexture(0, black);
    setRenderState(rsSpecularEnable, 1);
    beginFrame(0xFF000000);
    drawLitSquare(0, -1);
    setRenderState(rsSpecularEnable, 0);
    drawLitSquare(200, -1);
    endFrame();
    const Rgba centre = pixel(320, 240);
    EXPECT_GT(centre.r, 200);
    EXPECT_TRUE(centre.r == centre.g && centre.g == centre.b);
    expectPixels({screenX(200), 240, 0, 0});
    setTexture(0, nullptr);
    releaseTexture(black);
}

// The lighting the WebGL device does on the processor, against OpenGL's fixed function
// on the same state: a small lit triangle per case, whose pixel at the centroid must
// show the mean of the three vertices' processor-lit colours (Gouraud shading gives
// the centroid exactly that mean).
TEST_F(GlDeviceTest, ProcessorLightingMatchesTheFixedFunction) {
    // A world turned about z and lifted, so that the normal and eye-space matrices
    // are not the identity; the tube's camera and projection.
    const float c = 0.8f, s = 0.6f;
    const float world[16] = {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 10, 0, 5, 1};
    setTransform(transformWorld, world);
    setTransform(transformView, tubeViewMatrix);
    setTransform(transformProjection, tubeProjectionMatrix);
    setRenderState(rsLighting, 1);
    setVertexShader(fvfXyz | fvfNormal | fvfDiffuse);
    Material material{};
    material.diffuse = {0.7f, 0.5f, 0.3f, 0.8f};
    material.ambient = {0.3f, 0.2f, 0.4f, 1};
    material.specular = {0.5f, 0.4f, 0.6f, 1};
    material.emissive = {0.05f, 0.1f, 0, 0};
    material.power = 30;
    setMaterial(&material);

    struct Case {
        const char* name;
        uint32_t type; // 0: light 0 off
        bool specular, localViewer, colorVertex, normalize;
    };
    const Case cases[] = {
        {"directional, local viewer", lightDirectional, true, true, false, false},
        {"directional, distant viewer", lightDirectional, true, false, false, false},
        {"point, vertex colour", lightPoint, true, true, true, false},
        {"spot, renormalised normals", lightSpot, true, true, false, true},
        {"no light, ambient only", 0, false, false, false, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Light light{};
        light.type = k.type ? k.type : lightDirectional;
        light.diffuse = {0.4f, 0.5f, 0.3f, 1};
        light.specular = {0.6f, 0.5f, 0.7f, 1};
        light.ambient = {0.2f, 0.2f, 0.3f, 1};
        const float direction[3] = {0.3f, 1, -0.2f}; // away from the camera
        const float position[3] = {-20, -150, 40};   // between the camera and the triangle
        for (int j = 0; j < 3; ++j) {
            light.direction[j] = direction[j];
            light.position[j] = position[j];
        }
        light.attenuation0 = 1.2f;
        light.attenuation1 = 0.002f;
        light.falloff = 2;
        light.phi = 2.0f;
        setLight(0, &light);
        lightEnable(0, k.type != 0);
        setRenderState(rsAmbient, 0xFF202830);
        setRenderState(rsSpecularEnable, k.specular);
        setRenderState(rsLocalViewer, k.localViewer);
        setRenderState(rsColorVertex, k.colorVertex);
        setRenderState(rsDiffuseMaterialSource, k.colorVertex ? 1 : 0);
        setRenderState(rsNormalizeNormals, k.normalize);

        // Given in world space, facing the camera across y = 0, and taken back through
        // the world's turn into object space.
        struct {
            float x, y, z, nx, ny, nz;
            uint32_t diffuse;
        } triangle[3] = {{-12, 0, -8, -0.2f, -1, 0.3f, 0xFFC08040},
                         {12, 0, -8, 0.1f, -1, 0.2f, 0xFF40C080},
                         {0, 0, 14, 0, -1, 0.4f, 0xFF8040C0}};
        for (auto& v : triangle) {
            // Unit normals, or longer ones where the state renormalises them.
            const float length = std::sqrt(v.nx * v.nx + v.ny * v.ny + v.nz * v.nz);
            const float scale = (k.normalize ? 1.4f : 1.0f) / length;
            v.nx *= scale, v.ny *= scale, v.nz *= scale;
            const float x = v.x, nx = v.nx, ny = v.ny;
            v.x = c * x, v.y = -s * x;
            v.nx = c * nx + s * ny, v.ny = c * ny - s * nx;
        }
        beginFrame(0xFF000000);
        ASSERT_EQ(drawPrimitiveUP(ptTriangleList, 1, triangle, sizeof triangle[0]), 0);
        endFrame();

        CoreVertex vertices[3]{};
        for (int i = 0; i < 3; ++i) {
            const auto& v = triangle[i];
            vertices[i] = {{v.x, v.y, v.z, 1}, {v.nx, v.ny, v.nz}, {}, {}, {}};
            const uint32_t d = v.diffuse;
            vertices[i].diffuse[0] = uint8_t(d >> 16), vertices[i].diffuse[1] = uint8_t(d >> 8);
            vertices[i].diffuse[2] = uint8_t(d), vertices[i].diffuse[3] = uint8_t(d >> 24);
        }
        VertexLighting lighting;
        prepareVertexLighting(core, true, &lighting);
        lightVertices(lighting, vertices, 3);
        int want[3];
        for (int ch = 0; ch < 3; ++ch) {
            int sum = 0;
            for (const CoreVertex& v : vertices)
                sum += v.diffuse[ch] + v.specular[ch];
            want[ch] = std::min(255, (sum + 1) / 3);
        }
        // World x = 10 and z = 5 - 2 / 3 at the centroid, through the tube's camera.
        const int x = screenX(10), y = int(240.0f - 4.3333f * 4.2920756f / 500.0f * 240.0f);
        expectPixels({x, y, want[0] << 16 | want[1] << 8 | want[2], 3});
        // Lighting that leaves the colours unchanged would pass trivially: it must not.
        EXPECT_NE(vertices[0].diffuse[0], 0xC0);
    }
    for (uint32_t state : {rsSpecularEnable, rsColorVertex, rsNormalizeNormals})
        setRenderState(state, 0);
    setRenderState(rsLocalViewer, 1);
    setRenderState(rsAmbient, 0);
    setRenderState(rsDiffuseMaterialSource, 1);
}

} // namespace
