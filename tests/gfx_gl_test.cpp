// The OpenGL device drawn into a real 640 x 480 window and read back: the pixel
// conventions, blending, texture stage operations, depth, culling and lighting
// must come out as Direct3D 8 draws them. Runs inside the private X server.
#include "gfx/device_gl.h"
#include "gfx/upload.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u, v;
};

struct SpecularVertex {
    float x, y, z, rhw;
    uint32_t diffuse, specular;
    float u, v;
};

struct LitVertex {
    float x, y, z, nx, ny, nz;
};

struct Rgba {
    int r, g, b, a;
};

SDL_Window* window = nullptr;
SDL_GLContext context = nullptr;
std::vector<uint8_t> frame(640 * 480 * 4);

class GlDeviceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        window = SDL_CreateWindow("gfx test", 0, 0, 640, 480, SDL_WINDOW_OPENGL);
        ASSERT_NE(window, nullptr) << SDL_GetError();
        context = SDL_GL_CreateContext(window);
        ASSERT_NE(context, nullptr) << SDL_GetError();
        SDL_GL_MakeCurrent(window, context);
        glDeviceAttach(window, 0, 0, 640, 480);
    }
    // The context and window are left to the process's end: destroying them unloads
    // the OpenGL driver, after which the leak checker can no longer name (and so
    // no longer tell apart) the driver's own allocations.
    static void TearDownTestSuite() { glDeviceDetach(); }
    void SetUp() override {
        ASSERT_NE(context, nullptr);
        // Each case starts from the same states the intro's plugins take for granted.
        setRenderState(rsLighting, 0);
        setRenderState(rsZEnable, 0);
        setRenderState(rsCullMode, cullNone);
        setRenderState(rsAlphaBlendEnable, 0);
        setRenderState(rsSpecularEnable, 0);
        setTextureStageState(0, tssMagFilter, filterPoint);
        setTextureStageState(0, tssMinFilter, filterPoint);
        setTextureStageState(0, tssMipFilter, filterNone);
        setTextureStageState(0, tssAlphaOp, topSelectArg1);
        setTexture(0, nullptr);
        setVertexShader(fvfScreenQuad);
    }
    void TearDown() override { setTexture(0, nullptr); }
};

void beginFrame(uint32_t color) {
    ASSERT_EQ(deviceClear(clearTarget | clearZBuffer, color, 1.0f, 0), 0);
    ASSERT_EQ(deviceBeginScene(), 0);
}

void endFrame() {
    ASSERT_EQ(deviceEndScene(), 0);
    glDeviceReadPixels(frame.data());
    // The device's translation never hands OpenGL an invalid enum or value.
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

Rgba pixel(int x, int y) {
    const uint8_t* p = &frame[(size_t(y) * 640 + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

::testing::AssertionResult near(Rgba got, Rgba want, int tolerance = 0) {
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got (" << got.r << ", " << got.g << ", " << got.b << ") want (" << want.r << ", "
           << want.g << ", " << want.b << ")";
}

// A quad in the intro's order: top-left, top-right, bottom-left, bottom-right.
void drawQuad(float x0, float y0, float x1, float y1, float z, uint32_t color, float u0 = 0,
              float v0 = 0, float u1 = 1, float v1 = 1, float rhw = 1.0f) {
    ScreenVertex quad[4] = {{x0, y0, z, rhw, color, u0, v0},
                            {x1, y0, z, rhw, color, u1, v0},
                            {x0, y1, z, rhw, color, u0, v1},
                            {x1, y1, z, rhw, color, u1, v1}};
    ASSERT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, quad, 28), 0);
}

Texture* makeTexture(const std::vector<uint8_t>& pixels, int width, int height, uint32_t format) {
    Texture* texture = nullptr;
    EXPECT_EQ(uploadTexture(pixels.data(), &texture, width, height, format, 0), 0);
    return texture;
}

std::vector<uint8_t> words16(std::initializer_list<uint16_t> values) {
    std::vector<uint8_t> bytes;
    for (uint16_t v : values) {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(v >> 8));
    }
    return bytes;
}

TEST_F(GlDeviceTest, TexelPerPixelQuadShowsEveryTexelExactlyOnce) {
    // Every texel of a 256 x 256 A8R8G8B8 texture different from its neighbours.
    std::vector<uint8_t> pixels(256 * 256 * 4);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            uint8_t* p = &pixels[(size_t(y) * 256 + x) * 4];
            p[0] = uint8_t(x ^ y); // blue
            p[1] = uint8_t(y);     // green
            p[2] = uint8_t(x);     // red
            p[3] = 255;
        }
    Texture* texture = makeTexture(pixels, 256, 256, fmtA8R8G8B8);
    setTexture(0, texture);
    beginFrame(0xFF000000);
    drawQuad(0, 0, 256, 256, 0.5f, 0xFFFFFFFF);
    drawQuad(300, 200, 556, 456, 0.5f, 0xFFFFFFFF, 0, 0, 1, 1, 0.5f); // rhw other than 1
    endFrame();
    int wrong = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            Rgba want{x, y, x ^ y, 255};
            if (!near(pixel(x, y), want)) ++wrong;
            if (!near(pixel(300 + x, 200 + y), want)) ++wrong;
        }
    EXPECT_EQ(wrong, 0);
    // Nothing spills over the quad's right and bottom edges, and the top row is row 0.
    EXPECT_TRUE(near(pixel(256, 10), {0, 0, 0, 255}));
    EXPECT_TRUE(near(pixel(10, 256), {0, 0, 0, 255}));
    EXPECT_TRUE(near(pixel(299, 200), {0, 0, 0, 255}));
    releaseTexture(texture);
}

TEST_F(GlDeviceTest, TextureFormatsKeepTheirValues) {
    setTextureStageState(0, tssAlphaOp, topSelectArg1);
    // R5G6B5: red, green, blue, and a middle grey with every field half way.
    Texture* rgb565 = makeTexture(words16({0xF800, 0x07E0, 0x001F, 0x8410}), 4, 1, fmtR5G6B5);
    // A4R4G4B4: alpha 15, red 8, green 12, blue 4, and white.
    Texture* argb4444 = makeTexture(words16({0xF8C4, 0xFFFF, 0x0000, 0xF000}), 4, 1, fmtA4R4G4B4);
    // A1R5G5B5: opaque red 31, green 16, blue 1.
    Texture* argb1555 = makeTexture(words16({0xFE01, 0x801F, 0x83E0, 0xFFFF}), 4, 1, fmtA1R5G5B5);
    // R8G8B8 stored blue, green, red.
    Texture* rgb888 = makeTexture({10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 2, 3}, 4, 1, fmtR8G8B8);
    // DXT1: one 4 x 4 block, colour 0 pure red, every texel index 0.
    Texture* dxt1 = makeTexture({0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0}, 4, 4, fmtDXT1);
    ASSERT_TRUE(rgb565 && argb4444 && argb1555 && rgb888 && dxt1);

    beginFrame(0xFF000000);
    Texture* textures[] = {rgb565, argb4444, argb1555, rgb888, dxt1};
    for (int i = 0; i < 5; ++i) {
        setTexture(0, textures[i]);
        drawQuad(0, float(10 * i), 4, float(10 * i + 1), 0.5f, 0xFFFFFFFF);
    }
    endFrame();
    EXPECT_TRUE(near(pixel(0, 0), {255, 0, 0, 0}));
    EXPECT_TRUE(near(pixel(1, 0), {0, 255, 0, 0}));
    EXPECT_TRUE(near(pixel(2, 0), {0, 0, 255, 0}));
    EXPECT_TRUE(near(pixel(3, 0), {132, 130, 132, 0}));
    EXPECT_TRUE(near(pixel(0, 10), {136, 204, 68, 0}));
    EXPECT_TRUE(near(pixel(1, 10), {255, 255, 255, 0}));
    EXPECT_TRUE(near(pixel(0, 20), {255, 132, 8, 0}, 1));
    EXPECT_TRUE(near(pixel(1, 20), {0, 0, 255, 0}));
    EXPECT_TRUE(near(pixel(3, 30), {3, 2, 1, 0}));
    EXPECT_TRUE(near(pixel(0, 30), {30, 20, 10, 0}));
    EXPECT_TRUE(near(pixel(2, 40), {255, 0, 0, 0}));
    for (Texture* texture : textures)
        releaseTexture(texture);

    // X8R8G8B8 and X1R5G5B5 can be created but no image is uploaded into them.
    Texture* refused = nullptr;
    std::vector<uint8_t> image(16 * 16 * 4, 0x55);
    EXPECT_EQ(uploadTexture(image.data(), &refused, 16, 16, fmtX8R8G8B8, 0), -1);
    releaseTexture(refused);
}

TEST_F(GlDeviceTest, NoTextureGivesTheVertexColourAndSingleLevelsStayComplete) {
    beginFrame(0xFF000000);
    drawQuad(0, 0, 20, 20, 0.5f, 0xFF336699);
    // A single-level texture under a linear mip filter is still sampled.
    Texture* white = makeTexture(words16({0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}), 2, 2, fmtR5G6B5);
    setTexture(0, white);
    setTextureStageState(0, tssMagFilter, filterLinear);
    setTextureStageState(0, tssMinFilter, filterLinear);
    setTextureStageState(0, tssMipFilter, filterLinear);
    drawQuad(40, 0, 60, 20, 0.5f, 0xFF808080); // minified and magnified alike
    drawQuad(80, 0, 81, 1, 0.5f, 0xFF808080);
    endFrame();
    EXPECT_TRUE(near(pixel(10, 10), {0x33, 0x66, 0x99, 0}));
    EXPECT_TRUE(near(pixel(50, 10), {128, 128, 128, 0}));
    EXPECT_TRUE(near(pixel(80, 0), {128, 128, 128, 0}));
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
    drawQuad(60, 0, 70, 10, 0.00f, 0x00FFFFFF); // alpha 0 leaves the frame as it was
    setRenderState(rsAlphaBlendEnable, 0);
    drawQuad(80, 0, 90, 10, 0.5f, 0x00102030); // no blending: alpha is ignored
    endFrame();
    EXPECT_TRUE(near(pixel(5, 5), {0x70, 0x70, 0x70, 0}));
    EXPECT_TRUE(near(pixel(25, 5), {255, 255, 255, 0}));
    // 0x40 + (255 - 0x40) * 128 / 255 and so on.
    EXPECT_TRUE(near(pixel(45, 5), {160, 168, 176, 0}, 1));
    EXPECT_TRUE(near(pixel(65, 5), {0x40, 0x50, 0x60, 0}));
    EXPECT_TRUE(near(pixel(85, 5), {0x10, 0x20, 0x30, 0}));
}

TEST_F(GlDeviceTest, StageOperationsAndTheSpecularAdd) {
    // A4R4G4B4 texel: alpha 8 (136), colour grey 4 (68).
    Texture* texture = makeTexture(words16({0x8444, 0x8444, 0x8444, 0x8444}), 2, 2, fmtA4R4G4B4);
    setTexture(0, texture);
    setRenderState(rsAlphaBlendEnable, 1);
    setRenderState(rsSrcBlend, blendSrcAlpha);
    setRenderState(rsDestBlend, blendInvSrcAlpha);
    beginFrame(0xFF000000);
    // Colour: texture x diffuse. Alpha select-first-argument: the texture's 136.
    drawQuad(0, 0, 10, 10, 0.5f, 0x80FFFFFF);
    // Alpha modulate: 136 x 128 / 255 = 68.
    setTextureStageState(0, tssAlphaOp, topModulate);
    drawQuad(20, 0, 30, 10, 0.5f, 0x80FFFFFF);
    setTextureStageState(0, tssAlphaOp, topSelectArg1);
    setRenderState(rsAlphaBlendEnable, 0);
    // Texture x diffuse with a half-grey diffuse: 68 x 128 / 255 = 34.
    drawQuad(40, 0, 50, 10, 0.5f, 0xFF808080);

    // Pre-transformed vertices with a specular colour: added after texturing, and
    // only while specular is enabled.
    setVertexShader(fvfScreenSpecular);
    auto specularQuad = [](float x0, uint32_t specular) {
        SpecularVertex quad[4] = {{x0, 20, 0.5f, 1, 0xFFFFFFFF, specular, 0, 0},
                                  {x0 + 10, 20, 0.5f, 1, 0xFFFFFFFF, specular, 1, 0},
                                  {x0, 30, 0.5f, 1, 0xFFFFFFFF, specular, 0, 1},
                                  {x0 + 10, 30, 0.5f, 1, 0xFFFFFFFF, specular, 1, 1}};
        ASSERT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, quad, 32), 0);
    };
    specularQuad(0, 0xFF102030);
    setRenderState(rsSpecularEnable, 1);
    specularQuad(20, 0xFF102030);
    specularQuad(40, 0xFFFFFFFF); // a full flash turns the texel white
    setTexture(0, nullptr);
    specularQuad(60, 0xFF102030); // no texture: diffuse plus specular
    setRenderState(rsSpecularEnable, 0);
    endFrame();

    // Over black: 68 x 136 / 255 = 36 for the select-first-argument alpha.
    EXPECT_TRUE(near(pixel(5, 5), {36, 36, 36, 0}, 1));
    EXPECT_TRUE(near(pixel(25, 5), {18, 18, 18, 0}, 1));
    EXPECT_TRUE(near(pixel(45, 5), {34, 34, 34, 0}, 1));
    EXPECT_TRUE(near(pixel(5, 25), {68, 68, 68, 0}));
    EXPECT_TRUE(near(pixel(25, 25), {68 + 0x10, 68 + 0x20, 68 + 0x30, 0}));
    EXPECT_TRUE(near(pixel(45, 25), {255, 255, 255, 0}));
    EXPECT_TRUE(near(pixel(65, 25), {255, 255, 255, 0}));
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
    drawQuad(70, 0, 90, 20, 0.2f, 0xFFFFFFFF); // drawn but leaves no depth behind
    setRenderState(rsZWriteEnable, 1);
    drawQuad(70, 0, 90, 20, 0.4f, 0xFFFF00FF);
    setRenderState(rsZEnable, 0);
    drawQuad(100, 0, 120, 20, 0.9f, 0xFFFF0000);
    drawQuad(100, 0, 120, 20, 0.95f, 0xFF00FF00); // no depth test: the last one wins

    // The intro's quads are clockwise on the screen.
    setRenderState(rsCullMode, cullClockwise);
    drawQuad(0, 40, 20, 60, 0.5f, 0xFFFFFFFF);
    setRenderState(rsCullMode, cullCounterClockwise);
    drawQuad(30, 40, 50, 60, 0.5f, 0xFFFFFFFF);
    // A counter-clockwise triangle: culled by the counter-clockwise mode only.
    ScreenVertex triangle[3] = {{60, 40, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                                {60, 60, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                                {80, 40, 0.5f, 1, 0xFFFFFFFF, 0, 0}};
    drawPrimitiveUP(ptTriangleList, 1, triangle, 28);
    setRenderState(rsCullMode, cullClockwise);
    for (ScreenVertex& v : triangle)
        v.y += 30;
    drawPrimitiveUP(ptTriangleList, 1, triangle, 28);
    setRenderState(rsCullMode, cullNone);
    endFrame();

    EXPECT_TRUE(near(pixel(15, 10), {255, 0, 0, 0}));
    EXPECT_TRUE(near(pixel(25, 10), {0, 255, 0, 0}));
    EXPECT_TRUE(near(pixel(50, 10), {0, 0, 255, 0}));
    EXPECT_TRUE(near(pixel(80, 10), {255, 0, 255, 0}));
    EXPECT_TRUE(near(pixel(110, 10), {0, 255, 0, 0}));
    EXPECT_TRUE(near(pixel(10, 50), {0, 0, 0, 0}));
    EXPECT_TRUE(near(pixel(40, 50), {255, 255, 255, 0}));
    EXPECT_TRUE(near(pixel(63, 45), {0, 0, 0, 0}));
    EXPECT_TRUE(near(pixel(63, 75), {255, 255, 255, 0}));
}

// The twisting tube's camera: view depth = world y + 500, world z up the screen, and
// a left-handed perspective with near plane 1 and far plane 1000.
constexpr float tubeView[16] = {1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 500, 1};
constexpr float tubeProjection[16] = {2.4142926f, 0, 0,         0, 0, 4.2920756f, 0,          0,
                                      0,          0, 1.001001f, 1, 0, 0,          -1.001001f, 0};

// A square in the plane y = 0 facing the camera (as the screen sees it, clockwise),
// every vertex with the same normal.
void drawLitSquare(float centreX, float normalY) {
    LitVertex square[4] = {{centreX - 40, 0, 40, 0, normalY, 0},
                           {centreX + 40, 0, 40, 0, normalY, 0},
                           {centreX - 40, 0, -40, 0, normalY, 0},
                           {centreX + 40, 0, -40, 0, normalY, 0}};
    ASSERT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, square, sizeof(LitVertex)), 0);
}

int screenX(float worldX) {
    return int(320.0f + worldX * 2.4142926f / 500.0f * 320.0f);
}

TEST_F(GlDeviceTest, LightingFollowsTheFixedFunctionModel) {
    float world[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    setTransform(transformWorld, world);
    setTransform(transformView, tubeView);
    setTransform(transformProjection, tubeProjection);
    // The light travels along +y, away from the camera, so faces whose normal points
    // back at the camera (-y) are lit.
    Light light{};
    light.type = lightDirectional;
    light.diffuse = {0.5f, 0.5f, 0.5f, 1};
    light.specular = {1, 1, 1, 1};
    light.ambient = {1, 1, 1, 1};
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
    setVertexShader(fvfXyz | fvfNormal);

    beginFrame(0xFF000000);
    drawLitSquare(-200, -1); // turned toward the light
    drawLitSquare(0, 1);     // turned away: ambient only
    endFrame();

    // Lit: ambient 1 x (0.2, 0.1, 0.3) plus diffuse 0.5 x (0.8, 0.4, 0.2).
    EXPECT_TRUE(near(pixel(screenX(-200), 240), {153, 77, 102, 0}, 2));
    // Turned away: the light's ambient times the material's ambient, nothing else.
    EXPECT_TRUE(near(pixel(screenX(0), 240), {51, 26, 77, 0}, 1));
    // Nothing lights the background: the global ambient is 0.
    EXPECT_TRUE(near(pixel(screenX(-100), 240), {0, 0, 0, 0}));

    // Transformed triangles are culled by their winding on the screen as well: the
    // square is clockwise there, so the clockwise mode removes it.
    setRenderState(rsCullMode, cullClockwise);
    beginFrame(0xFF000000);
    drawLitSquare(-200, -1);
    endFrame();
    EXPECT_TRUE(near(pixel(screenX(-200), 240), {0, 0, 0, 0}));
    setRenderState(rsCullMode, cullCounterClockwise);

    // Specular with a local viewer, added after texturing: a black texture wipes the
    // lit colour but not the highlight of a square facing the camera and the light.
    Texture* black = makeTexture(words16({0, 0, 0, 0}), 2, 2, fmtR5G6B5);
    setTexture(0, black);
    setVertexShader(fvfXyz | fvfNormal | fvfTex1);
    setRenderState(rsSpecularEnable, 1);
    beginFrame(0xFF000000);
    struct TexturedLit {
        float x, y, z, nx, ny, nz, u, v;
    } square[4] = {{-40, 0, 40, 0, -1, 0, 0, 0},
                   {40, 0, 40, 0, -1, 0, 1, 0},
                   {-40, 0, -40, 0, -1, 0, 0, 1},
                   {40, 0, -40, 0, -1, 0, 1, 1}};
    ASSERT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, square, sizeof square[0]), 0);
    setRenderState(rsSpecularEnable, 0);
    for (auto& v : square)
        v.x += 200;
    ASSERT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, square, sizeof square[0]), 0);
    endFrame();
    Rgba centre = pixel(320, 240);
    EXPECT_GT(centre.r, 200);
    EXPECT_EQ(centre.r, centre.g);
    EXPECT_EQ(centre.g, centre.b);
    EXPECT_TRUE(near(pixel(screenX(200), 240), {0, 0, 0, 0}));

    setTexture(0, nullptr);
    releaseTexture(black);
    setRenderState(rsLighting, 0);
    setVertexShader(fvfScreenQuad);
}

TEST_F(GlDeviceTest, TransformedGeometryKeepsThePixelCentres) {
    // With identity matrices clip space is the screen: x -1..1 over 640 pixels, y 1..-1
    // over 480, depth 0..1. Pixel centres sit on whole screen coordinates, so a square
    // over 0.25..10.25 fills pixels 1 to 10 (centred on half coordinates it would be
    // 0 to 9).
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    setTransform(transformWorld, identity);
    setTransform(transformView, identity);
    setTransform(transformProjection, identity);
    setVertexShader(fvfXyz | fvfDiffuse);
    struct ColouredVertex {
        float x, y, z;
        uint32_t diffuse;
    };
    auto sx = [](float pixels) { return pixels / 320.0f - 1.0f; };
    auto sy = [](float pixels) { return 1.0f - pixels / 240.0f; };
    ColouredVertex square[4] = {{sx(0.25f), sy(0.25f), 0.5f, 0xFF00FF00},
                                {sx(10.25f), sy(0.25f), 0.5f, 0xFF00FF00},
                                {sx(0.25f), sy(10.25f), 0.5f, 0xFF00FF00},
                                {sx(10.25f), sy(10.25f), 0.5f, 0xFF00FF00}};
    // Depth 0.5 against a cleared 0.4 fails the test; the projection's depth is 0..1.
    setRenderState(rsZEnable, 1);
    ASSERT_EQ(deviceClear(clearTarget | clearZBuffer, 0xFF000000, 0.4f, 0), 0);
    ASSERT_EQ(deviceBeginScene(), 0);
    ASSERT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, square, sizeof square[0]), 0);
    endFrame();
    EXPECT_TRUE(near(pixel(5, 5), {0, 0, 0, 0}));

    beginFrame(0xFF000000);
    ASSERT_EQ(drawPrimitiveUP(ptTriangleStrip, 2, square, sizeof square[0]), 0);
    endFrame();
    EXPECT_TRUE(near(pixel(0, 5), {0, 0, 0, 0}));
    EXPECT_TRUE(near(pixel(5, 0), {0, 0, 0, 0}));
    EXPECT_TRUE(near(pixel(1, 1), {0, 255, 0, 0}));
    EXPECT_TRUE(near(pixel(10, 10), {0, 255, 0, 0}));
    EXPECT_TRUE(near(pixel(11, 5), {0, 0, 0, 0}));
    EXPECT_TRUE(near(pixel(5, 11), {0, 0, 0, 0}));
    setVertexShader(fvfScreenQuad);
}

TEST_F(GlDeviceTest, BuffersLocksAndScenes) {
    VertexBuffer* buffer = nullptr;
    ASSERT_EQ(createVertexBuffer(8 * 28, usageWriteOnly | usageDynamic, fvfScreenQuad,
                                 poolSystemMem, &buffer),
              0);
    IndexBuffer* indices = nullptr;
    ASSERT_EQ(createIndexBuffer(12 * 2, usageWriteOnly, fmtIndex16, poolManaged, &indices), 0);
    void* data = nullptr;
    ASSERT_EQ(lockIndexBuffer(indices, 0, 0, &data, 0), 0);
    const uint16_t list[12] = {0, 1, 2, 2, 1, 3, 4, 5, 6, 6, 5, 7};
    std::memcpy(data, list, sizeof list);
    ASSERT_EQ(unlockIndexBuffer(indices), 0);
    ASSERT_EQ(lockVertexBuffer(buffer, 0, 0, &data, lockDiscard), 0);
    auto* v = static_cast<ScreenVertex*>(data);
    for (int q = 0; q < 2; ++q) {
        float x = 10.0f + 30.0f * q;
        uint32_t color = q ? 0xFF00FF00 : 0xFFFF0000;
        v[4 * q + 0] = {x, 10, 0.5f, 1, color, 0, 0};
        v[4 * q + 1] = {x + 20, 10, 0.5f, 1, color, 0, 0};
        v[4 * q + 2] = {x, 30, 0.5f, 1, color, 0, 0};
        v[4 * q + 3] = {x + 20, 30, 0.5f, 1, color, 0, 0};
    }
    setStreamSource(0, buffer, 28);
    setIndices(indices, 0);
    // Drawing outside a scene, or from a buffer still locked, fails.
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 0, 8, 0, 4), -1);
    beginFrame(0xFF000000);
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 0, 8, 0, 4), -1);
    ASSERT_EQ(unlockVertexBuffer(buffer), 0);
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 0, 4, 0, 2), 0);
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 0, 4, 6, 2), -1); // indices 4..7 outside
    // A no-overwrite lock of the second quad, written and drawn after the first.
    ASSERT_EQ(lockVertexBuffer(buffer, 112, 112, &data, lockNoOverwrite), 0);
    static_cast<ScreenVertex*>(data)[0].diffuse = 0xFF0000FF;
    static_cast<ScreenVertex*>(data)[1].diffuse = 0xFF0000FF;
    static_cast<ScreenVertex*>(data)[2].diffuse = 0xFF0000FF;
    static_cast<ScreenVertex*>(data)[3].diffuse = 0xFF0000FF;
    ASSERT_EQ(unlockVertexBuffer(buffer), 0);
    EXPECT_EQ(drawIndexedPrimitive(ptTriangleList, 4, 4, 6, 2), 0);
    EXPECT_EQ(drawPrimitive(ptTriangleStrip, 4, 2), 0);
    EXPECT_EQ(drawPrimitive(ptTriangleStrip, 5, 2), -1); // past the end
    EXPECT_EQ(devicePresent(), -1);                      // inside the scene
    endFrame();
    EXPECT_TRUE(near(pixel(20, 20), {255, 0, 0, 0}));
    EXPECT_TRUE(near(pixel(50, 20), {0, 0, 255, 0}));
    EXPECT_EQ(deviceEndScene(), -1);
    EXPECT_EQ(devicePresent(), 0);
    releaseIndexBuffer(indices);
    releaseVertexBuffer(buffer);
}

} // namespace
