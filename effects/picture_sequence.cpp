// The opening: three text lines that settle out of scrambled glyphs while they
// grow, then the logo, each fading in, holding and fading out; then the additive
// white-out that rises to full white, hands the screen to the main effects and
// falls back to nothing. Main thread only (init, both renders, shutdown).
#include "effects/picture_sequence.h"

#include "app/frame_clock.h"
#include "app/mathutil.h"
#include "app/random.h"
#include "assets/opening_assets.h"
#include "gfx/device.h"
#include "effects/glyph_record.h"
#include "gfx/screen_vertex.h"
#include "gfx/upload.h"

#include <cstring>

namespace {

// ---- Data layouts ----

constexpr int32_t glyphCount = 64;
constexpr int32_t fontCellHeightOffset = 0;
constexpr int32_t fontSheetSizeOffset = 4;
constexpr int32_t fontGlyphsOffset = 8;
constexpr int32_t fontMapOffset = fontGlyphsOffset + glyphCount * 20; // 1288
constexpr int32_t lineBytes = 32;

constexpr int32_t stepCount = 4; // date, venue, country, logo
constexpr int32_t endingStep = 4;

// ---- Plugin state ----

Texture* glyphTexture = nullptr;
Texture* logoTexture = nullptr;

int32_t stepIndex = -1;
int32_t startedStep = 0;
constexpr float stepDurations[stepCount] = {16.0f, 8.0f, 8.0f, 4.0f};
float stepTimer = 0.0f;
int32_t fadeState = 0;
float fadeLevel = 0.0f;
float textZoom = 0.0f;
float scrambleTime[lineBytes];
float changeTimer[lineBytes];
uint8_t shownGlyph[lineBytes];
int32_t whiteoutState = 1;
float whiteoutLevel = 0.0f;

void resetState() {
    stepIndex = -1;
    startedStep = 0;
    stepTimer = 0.0f;
    fadeState = 0;
    fadeLevel = 0.0f;
    textZoom = 0.0f;
    std::memset(scrambleTime, 0, sizeof scrambleTime);
    std::memset(changeTimer, 0, sizeof changeTimer);
    std::memset(shownGlyph, 0, sizeof shownGlyph);
    whiteoutState = 1;
    whiteoutLevel = 0.0f;
}

// ---- Helpers ----

int32_t fontInt(int32_t offset) {
    int32_t value;
    std::memcpy(&value, openingFont + offset, sizeof value);
    return value;
}

GlyphRecord fontGlyph(int32_t index) {
    GlyphRecord glyph;
    std::memcpy(&glyph, openingFont + fontGlyphsOffset + index * 20, sizeof glyph);
    return glyph;
}

// Opaque grey for a level; levels outside 0..1 would wrap around in the colour
// byte (a slightly negative level would show nearly white), so they are clamped.
uint32_t greyColor(float level) {
    if (!(level > 0.0f)) level = 0.0f;
    if (level > 1.0f) level = 1.0f;
    return greyLevelColor(level);
}

void drawQuad(const ScreenVertex quad[4]) {
    drawPrimitiveUP(ptTriangleStrip, 2, quad, 28);
}

// Scales the corner's offset from the screen centre by the current zoom.
void zoomCorner(float& x, float& y) {
    float dx = x - 320.0f;
    float dy = y - 240.0f;
    float d = float(squareRoot(double(dx * dx + dy * dy)));
    x = 320.0f + d * textZoom * dx / d;
    y = 240.0f + d * textZoom * dy / d;
}

// ---- Drawing ----

void drawTextLine(const char* line, bool newStep) {
    ScreenVertex quad[4];
    uint32_t color = greyColor(fadeLevel);
    for (ScreenVertex& vertex : quad) {
        vertex.z = 0.5f;
        vertex.rhw = 0.5f;
        vertex.diffuse = color;
    }

    textZoom += frameDelta * 0.05f;

    int32_t n = int32_t(strnlen(line, lineBytes));
    if (n < 1) return;

    const int32_t cellHeight = fontInt(fontCellHeightOffset);
    const int32_t advance = fontGlyph(0).width;
    const float top = float(240 - (cellHeight >> 1));
    const float bottom = float(240 + (cellHeight - (cellHeight >> 1)));
    const float x0 = 320.0f - float(advance * n) * 0.5f;

    for (int32_t i = 0; i < n; i++) {
        if (newStep) {
            scrambleTime[i] = 4.5f - float(nextRandom()) / 32767.0f;
            changeTimer[i] = 0.0f;
            textZoom = 0.5f;
        }

        float left = x0 + float(advance * i);
        float right = x0 + float(advance * (i + 1));
        float corners[4][2] = {{left, top}, {right, top}, {left, bottom}, {right, bottom}};
        for (int32_t c = 0; c < 4; c++) {
            zoomCorner(corners[c][0], corners[c][1]);
            quad[c].x = corners[c][0];
            quad[c].y = corners[c][1];
        }

        if (scrambleTime[i] <= 0.0f) {
            // A code the map does not cover shows as a space rather than reading
            // past the 64 glyph records.
            uint8_t mapped = openingFont[fontMapOffset + uint8_t(line[i])];
            shownGlyph[i] = mapped < glyphCount ? mapped : 0;
        } else if (changeTimer[i] <= 0.0f) {
            shownGlyph[i] = uint8_t(nextRandom() & 63);
            changeTimer[i] = 0.1f / scrambleTime[i];
        } else {
            scrambleTime[i] -= frameDelta;
            if (scrambleTime[i] < 0.0f) scrambleTime[i] = 0.0f;
            changeTimer[i] -= frameDelta;
        }

        GlyphRecord glyph = fontGlyph(shownGlyph[i]);
        quad[0].u = glyph.uLeft;
        quad[0].v = glyph.vTop;
        quad[1].u = glyph.uRight;
        quad[1].v = glyph.vTop;
        quad[2].u = glyph.uLeft;
        quad[2].v = glyph.vBottom;
        quad[3].u = glyph.uRight;
        quad[3].v = glyph.vBottom;
        drawQuad(quad);
    }
}

// The 640 x 71 logo is stored as three bands of 256 columns stacked in the
// texture; each band is one quad, moved 256 pixels right and 71 texel rows down.
void drawLogo() {
    uint32_t color = greyColor(fadeLevel);
    ScreenVertex quad[4] = {
        {0.0f, 204.0f, 0.5f, 0.5f, color, 0.0f, 0.001953125f},
        {256.0f, 204.0f, 0.5f, 0.5f, color, 1.0f, 0.001953125f},
        {0.0f, 277.0f, 0.5f, 0.5f, color, 0.0f, 0.279296875f},
        {256.0f, 277.0f, 0.5f, 0.5f, color, 1.0f, 0.279296875f},
    };
    drawQuad(quad);
    for (int32_t band = 1; band < 3; band++) {
        for (ScreenVertex& vertex : quad) {
            vertex.x += 256.0f;
            vertex.v += 0.27734375f;
        }
        drawQuad(quad);
    }
}

} // namespace

// ---- Plugin interface ----

int32_t initPictureSequence() {
    resetState();
    int32_t sheetSize = fontInt(fontSheetSizeOffset);
    if (uploadTexture(glyphSheet, &glyphTexture, sheetSize, sheetSize, fmtA4R4G4B4, 0) != 0)
        return -1;
    return uploadTexture(logoImage, &logoTexture, 256, 256, fmtR5G6B5, 0) == 0 ? 0 : -1;
}

void shutdownPictureSequence() {
    if (glyphTexture) {
        releaseTexture(glyphTexture);
        glyphTexture = nullptr;
    }
    if (logoTexture) {
        releaseTexture(logoTexture);
        logoTexture = nullptr;
    }
}

int32_t renderPictureSequence() {
    // A new step starts when startedStep was moved away from stepIndex. The ending
    // (step 4) never starts a further step, so no duration is read past the table.
    bool newStep = false;
    if (stepIndex != startedStep && stepIndex + 1 < stepCount) {
        int32_t s = stepIndex + 1;
        stepTimer = stepDurations[s];
        stepIndex = s;
        startedStep = s;
        fadeState = 1;
        fadeLevel = 0.0f;
        newStep = true;
    }

    if (whiteoutState <= 0) return 0;

    setTextureStageState(0, tssAddressU, addressClamp);
    setRenderState(rsCullMode, cullNone);
    setRenderState(rsZEnable, 0);
    setVertexShader(fvfScreenQuad);

    if (stepIndex < 3) {
        setTexture(0, glyphTexture);
        drawTextLine(openingLines[stepIndex], newStep);
    } else {
        setTexture(0, logoTexture);
        drawLogo();
    }

    if (stepIndex == 0 && fadeState == 1)
        fadeLevel += frameDelta / 4.0f;
    else
        fadeLevel += float(fadeState) * frameDelta;
    stepTimer -= frameDelta;

    if (fadeState == 1) {
        if (fadeLevel > 1.0f) {
            fadeLevel = 1.0f;
            fadeState = 0;
        }
    } else if (fadeState == 0) {
        if (!(stepTimer > 1.5f)) {
            fadeLevel = stepTimer - 0.5f;
            fadeState = -1;
            if (stepIndex == 3) {
                stepIndex = endingStep;
                startedStep = endingStep;
            }
        }
    } else if (stepIndex != endingStep) {
        if (fadeLevel < 0.0f) fadeLevel = 0.0f;
        if (stepTimer < 0.0f) startedStep = startedStep - 1;
    }
    // In the ending the white-out decides when the opening is over; the logo's
    // level may run below 0 meanwhile and is drawn clamped.

    setRenderState(rsZEnable, 1);
    setRenderState(rsCullMode, cullClockwise);
    setTextureStageState(0, tssAddressU, addressWrap);

    return stepIndex == endingStep ? 1 : -1;
}

void renderWhiteout() {
    if (whiteoutState == 0) return;
    if (whiteoutState == 1) {
        whiteoutLevel += frameDelta;
        if (whiteoutLevel > 1.0f) {
            whiteoutLevel = 1.0f;
            whiteoutState = -1;
        }
    } else {
        whiteoutLevel -= frameDelta;
        if (whiteoutLevel < 0.0f) {
            whiteoutLevel = 0.0f;
            whiteoutState = 0;
        }
    }

    setRenderState(rsCullMode, cullNone);
    setRenderState(rsZEnable, 0);
    setRenderState(rsAlphaBlendEnable, 1);
    setRenderState(rsSrcBlend, blendOne);
    setRenderState(rsDestBlend, blendOne);
    setVertexShader(fvfScreenQuad);
    setTexture(0, nullptr);

    uint32_t color = greyColor(whiteoutLevel);
    const ScreenVertex quad[4] = {
        {0.0f, 0.0f, 0.5f, 0.5f, color, 0.0f, 0.0f},
        {640.0f, 0.0f, 0.5f, 0.5f, color, 0.0f, 0.0f},
        {0.0f, 480.0f, 0.5f, 0.5f, color, 0.0f, 0.0f},
        {640.0f, 480.0f, 0.5f, 0.5f, color, 0.0f, 0.0f},
    };
    drawQuad(quad);

    setRenderState(rsAlphaBlendEnable, 0);
    setRenderState(rsZEnable, 1);
    setRenderState(rsCullMode, cullClockwise);
}
