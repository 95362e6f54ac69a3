// The text column: lines of a bitmap font rise at 10 pixels per second through a
// window of sixteen line slots left of the screen centre, fading in over the bottom
// two slots and out over the top two, the text starting again after its last line.
// A line is laid out as glyph quads (x positions and texture coordinates) once, when
// it enters the window, appended to a 4096-quad buffer that starts again from quad 0
// when it is full; each frame rewrites only the heights and colours of the visible
// quads and draws them all at once. Main thread only (init, render, shutdown).
#include "effects/text_scroller.h"

#include "app/frame_clock.h"
#include "app/mathutil.h"
#include "app/memory.h"
#include "assets/scroller_assets.h"
#include "gfx/device.h"
#include "effects/glyph_record.h"
#include "gfx/screen_vertex.h"
#include "gfx/upload.h"

#include <cmath>
#include <cstring>

namespace {

// ---- Data layouts ----

struct TextLine {
    int32_t byteCount;    // glyph bytes; 0 for an empty line
    int32_t halfWidth;    // half the width in pixels at scale 1
    const uint8_t* bytes; // into the stored text: 0xFF a space, else a glyph record
    int32_t quadCount;    // quads written by the line's last layout
};

constexpr int32_t windowSlots = 16;
constexpr int32_t maxQuads = 4096;
constexpr int32_t quadBytes = 4 * int32_t(sizeof(ScreenVertex)); // 112
constexpr int32_t indexBytes = maxQuads * 6 * 2;                 // 49152
constexpr int32_t vertexBytes = maxQuads * quadBytes;            // 458752
constexpr int32_t maxFontTextures = 16;
constexpr uint8_t spaceByte = 0xFF;

// ---- Plugin state ----

const uint8_t* textSource = nullptr; // null: the embedded text
int32_t textSourceSize = 0;

Texture* fontTextures[maxFontTextures] = {};
int32_t fontTextureCount = 0;
IndexBuffer* quadIndices = nullptr;
VertexBuffer* quadVertices = nullptr;
TextLine* textLines = nullptr;
int32_t lineCount = 0;

float lineHeight = 0.0f;
float windowTop = 0.0f;
float scrollY = 0.0f; // top of window slot 0
float fontPhase = 0.0f;
int32_t firstLine = 0; // the line in slot 0
int32_t firstQuad = 0; // the window's quads are firstQuad .. endQuad - 1, in line order
int32_t endQuad = 0;

// ---- Helpers ----

int32_t readInt32(const uint8_t* at) {
    int32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

GlyphRecord glyphRecord(uint8_t index) {
    GlyphRecord glyph;
    std::memcpy(&glyph, scrollerGlyphRecords + index * int32_t(sizeof glyph), sizeof glyph);
    return glyph;
}

// Fills the line table from the stored records. Fails on a text that is empty, runs
// past its end, or has sixteen consecutive lines too long for the quad buffer (the
// window rebuilt from quad 0 must always fit).
bool readTextLines(const uint8_t* text, int32_t size) {
    if (size < 4) return false;
    const int32_t count = readInt32(text);
    if (count < 1 || count > (size - 4) / 2) return false;
    textLines = static_cast<TextLine*>(allocArray(count, int32_t(sizeof(TextLine))));
    lineCount = count;
    int32_t at = 4;
    for (int32_t i = 0; i < count; i++) {
        if (size - at < 2) return false;
        const int32_t byteCount = text[at] | text[at + 1] << 8;
        at += 2;
        textLines[i].byteCount = byteCount;
        if (byteCount == 0) continue;
        if (size - at < 4 + byteCount) return false;
        textLines[i].halfWidth = readInt32(text + at);
        textLines[i].bytes = text + at + 4;
        at += 4 + byteCount;
    }
    for (int32_t first = 0; first < count; first++) {
        int32_t bytes = 0;
        for (int32_t i = 0; i < windowSlots; i++)
            bytes += textLines[(first + i) % count].byteCount;
        if (bytes >= maxQuads) return false;
    }
    return true;
}

// Writes the x positions and texture coordinates of the line's glyph quads from
// buffer quad q on and returns how many there are; y and colour come with the render.
int32_t layoutTextLine(int32_t line, int32_t q) {
    TextLine& text = textLines[line];
    text.quadCount = 0;
    if (text.byteCount == 0) return 0;

    void* data = nullptr;
    if (lockVertexBuffer(quadVertices, uint32_t(quadBytes * q),
                         uint32_t(quadBytes * text.byteCount), &data, 0) != 0 ||
        data == nullptr)
        return 0;
    ScreenVertex* vertex = static_cast<ScreenVertex*>(data);

    // A line that fits is centred on x = 266.5; a wider one is shrunk to 500 pixels.
    float startX = 250.5f - float(text.halfWidth);
    float scale = 1.0f;
    if (startX < 0.5f) {
        scale = 250.0f / float(text.halfWidth);
        startX = 0.5f;
    }
    float x = startX + 16.0f;

    for (int32_t i = 0; i < text.byteCount; i++) {
        const uint8_t b = text.bytes[i];
        if (b == spaceByte) {
            x += float(roundToInteger(lineHeight * scale * 0.5f));
            continue;
        }
        const GlyphRecord glyph = glyphRecord(b);
        // The glyph spans width - 1 pixels; the pen moves on by the whole width.
        const float right = x + float(glyph.width - 1) * scale;
        vertex[0].x = x;
        vertex[0].u = glyph.uLeft;
        vertex[0].v = glyph.vTop;
        vertex[1].x = right;
        vertex[1].u = glyph.uRight;
        vertex[1].v = glyph.vTop;
        vertex[2].x = x;
        vertex[2].u = glyph.uLeft;
        vertex[2].v = glyph.vBottom;
        vertex[3].x = right;
        vertex[3].u = glyph.uRight;
        vertex[3].v = glyph.vBottom;
        vertex += 4;
        x += float(roundToInteger(float(glyph.width) * scale));
        text.quadCount++;
    }
    unlockVertexBuffer(quadVertices);
    return text.quadCount;
}

// Times the quad buffer was laid out again from its start (run statistics).
int32_t quadBufferRestarts = 0;

// The sixteen window lines laid out again one after another from quad 0.
void restartQuadBuffer() {
    ++quadBufferRestarts;
    endQuad = 0;
    firstQuad = 0;
    for (int32_t i = 0; i < windowSlots; i++)
        endQuad += layoutTextLine((firstLine + i) % lineCount, endQuad);
}

// White with an alpha byte for t pixels of a fade over one line height.
uint32_t fadeColor(float t) {
    const uint32_t alpha = uint32_t(roundToInteger(t * 255.0f / lineHeight)) & 0xFF;
    return alpha << 24 | 0x00FFFFFFu;
}
constexpr uint32_t transparentWhite = 0x00FFFFFFu, opaqueWhite = 0xFFFFFFFFu;

// Writes heights and colours of the window's quads, slot by slot.
void placeWindowQuads(ScreenVertex* vertex) {
    const float h = lineHeight;
    for (int32_t k = 0; k < windowSlots; k++) {
        const float y = scrollY + float(k) * h;
        const float d = y - windowTop;
        uint32_t top = opaqueWhite, bottom = opaqueWhite;
        if (d < h) {
            top = transparentWhite;
            bottom = fadeColor(d);
        } else if (d < 2.0f * h) {
            top = fadeColor(d - h);
        } else if (d < 14.0f * h) {
        } else if (d < 15.0f * h) {
            bottom = fadeColor(15.0f * h - d);
        } else if (d < 16.0f * h) {
            top = fadeColor(16.0f * h - d);
            bottom = transparentWhite;
        } else {
            top = bottom = transparentWhite;
        }
        const float bottomY = y + 0.5f + h;
        const int32_t quads = textLines[(firstLine + k) % lineCount].quadCount;
        for (int32_t q = 0; q < quads; q++, vertex += 4) {
            vertex[0].y = vertex[1].y = y;
            vertex[0].diffuse = vertex[1].diffuse = top;
            vertex[2].y = vertex[3].y = bottomY;
            vertex[2].diffuse = vertex[3].diffuse = bottom;
        }
    }
}

} // namespace

// ---- Plugin interface ----

int32_t textScrollerRestarts() {
    return quadBufferRestarts;
}

void setTextScrollerText(const uint8_t* text, int32_t size) {
    textSource = text;
    textSourceSize = text ? size : 0;
}

int32_t initTextScroller() {
    const int32_t textureCount = scrollerFontHeader[0];
    const int32_t textureSize = scrollerFontHeader[1];
    lineHeight = float(scrollerFontHeader[2]);
    fontPhase = 0.0f;
    firstLine = firstQuad = endQuad = 0;
    fontTextureCount = 0;
    for (Texture*& texture : fontTextures)
        texture = nullptr;

    // A font header the embedded images cannot back, or a line height that would
    // never move the window, is refused rather than read past or looped on.
    if (textureCount < 1 || textureCount > maxFontTextures || textureSize < 1 ||
        textureSize > 4096 ||
        int64_t(textureCount) * textureSize * textureSize * 2 >
            int64_t(sizeof scrollerFontImages) ||
        scrollerFontHeader[2] < 1)
        return -1;

    windowTop = (480.0f - lineHeight * 17.0f) * 0.5f;
    if (windowTop < 0.0f) {
        windowTop = 0.0f;
        lineHeight = 28.235294f; // 480 / 17: seventeen lines fill the screen
    }
    scrollY = lineHeight * 17.0f + windowTop; // one line below the window's bottom

    fontTextureCount = textureCount;
    const int32_t imageBytes = textureSize * textureSize * 2;
    for (int32_t i = 0; i < textureCount; i++) {
        if (uploadTexture(scrollerFontImages + i * imageBytes, &fontTextures[i], textureSize,
                          textureSize, fmtA4R4G4B4, 0) != 0)
            return -1;
    }

    if (createIndexBuffer(indexBytes, usageWriteOnly, fmtIndex16, poolManaged, &quadIndices) != 0)
        return -1;
    void* data = nullptr;
    if (lockIndexBuffer(quadIndices, 0, 0, &data, 0) != 0 || data == nullptr) return -1;
    uint16_t* index = static_cast<uint16_t*>(data);
    for (int32_t q = 0; q < maxQuads; q++) {
        // top-left, top-right, bottom-left; bottom-left, top-right, bottom-right
        const uint16_t v = uint16_t(4 * q);
        const uint16_t quad[6] = {
            v, uint16_t(v + 1), uint16_t(v + 2), uint16_t(v + 2), uint16_t(v + 1), uint16_t(v + 3)};
        std::memcpy(index + 6 * q, quad, sizeof quad);
    }
    unlockIndexBuffer(quadIndices);

    if (createVertexBuffer(vertexBytes, usageWriteOnly | usageDynamic, fvfScreenQuad, poolSystemMem,
                           &quadVertices) != 0)
        return -1;
    if (lockVertexBuffer(quadVertices, 0, 0, &data, lockDiscard) != 0 || data == nullptr) return -1;
    ScreenVertex* vertex = static_cast<ScreenVertex*>(data);
    for (int32_t v = 0; v < 4 * maxQuads; v++) {
        vertex[v].z = 1.0f;
        vertex[v].rhw = 1.0f;
    }
    unlockVertexBuffer(quadVertices);

    if (textLines) {
        freeBlock(textLines);
        textLines = nullptr;
    }
    lineCount = 0;
    const uint8_t* text = textSource ? textSource : scrollerText;
    if (!readTextLines(text, textSource ? textSourceSize : scrollerTextSize)) return -1;

    for (int32_t i = 0; i < windowSlots; i++)
        endQuad += layoutTextLine(i % lineCount, endQuad);
    return 0;
}

void renderTextScroller() {
    if (lineCount == 0) return; // not initialised
    // The font textures animate at ten frames a second.
    fontPhase += frameDelta * 10.0f;
    if (fontPhase >= float(fontTextureCount)) // exact, as subtracting the count repeatedly
        fontPhase = std::fmod(fontPhase, float(fontTextureCount));
    int32_t texture = int32_t(roundToInteger(floorRound(fontPhase)));
    if (texture < 0 || texture >= fontTextureCount) texture = 0;

    setTexture(0, fontTextures[texture]);
    setTextureStageState(0, tssAlphaOp, topModulate); // texture alpha times vertex alpha
    setRenderState(rsCullMode, cullNone);
    setRenderState(rsZEnable, 0);
    setRenderState(rsAlphaBlendEnable, 1);
    setRenderState(rsSrcBlend, blendSrcAlpha);
    setRenderState(rsDestBlend, blendInvSrcAlpha);
    setVertexShader(fvfScreenQuad);
    setStreamSource(0, quadVertices, sizeof(ScreenVertex));
    setIndices(quadIndices, 0);

    // Slot 0 has risen above the window: its line leaves and the next one enters slot 15.
    while (scrollY < windowTop) {
        firstQuad += textLines[firstLine].quadCount;
        firstLine = (firstLine + 1) % lineCount;
        const int32_t newest = (firstLine + windowSlots - 1) % lineCount;
        if (textLines[newest].byteCount + endQuad < maxQuads)
            endQuad += layoutTextLine(newest, endQuad);
        else
            restartQuadBuffer();
        scrollY += lineHeight;
    }

    if (endQuad != firstQuad) {
        const int32_t quads = endQuad - firstQuad;
        void* data = nullptr;
        if (lockVertexBuffer(quadVertices, uint32_t(quadBytes * firstQuad),
                             uint32_t(quadBytes * quads), &data, 0) == 0 &&
            data != nullptr) {
            placeWindowQuads(static_cast<ScreenVertex*>(data));
            unlockVertexBuffer(quadVertices);
            drawIndexedPrimitive(ptTriangleList, uint32_t(4 * firstQuad), uint32_t(4 * quads),
                                 uint32_t(6 * firstQuad), uint32_t(2 * quads));
        }
    }

    scrollY -= frameDelta * 10.0f;

    setRenderState(rsZEnable, 1);
    setRenderState(rsAlphaBlendEnable, 0);
    setRenderState(rsCullMode, cullClockwise);
    setTextureStageState(0, tssAlphaOp, topSelectArg1);
}

void shutdownTextScroller() {
    for (Texture*& texture : fontTextures) {
        if (texture) {
            releaseTexture(texture);
            texture = nullptr;
        }
    }
    if (quadIndices) {
        releaseIndexBuffer(quadIndices);
        quadIndices = nullptr;
    }
    if (quadVertices) {
        releaseVertexBuffer(quadVertices);
        quadVertices = nullptr;
    }
    if (textLines) {
        freeBlock(textLines);
        textLines = nullptr;
    }
    lineCount = 0;
}
