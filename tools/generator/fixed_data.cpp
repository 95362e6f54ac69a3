// Fixed data of the effects, written little-endian.
#include "fixed_data.h"

#include "raster.h"

std::vector<uint8_t> panelTriggerData() {
    ByteWriter out;
    out.i32(17);
    out.i32(1);
    return out.bytes;
}

// Texel-per-pixel quads lie half a pixel up and left of the pixel grid: pixel centres
// are on whole coordinates, so every pixel centre then meets the centre of its own
// texel. On the grid itself every centre would fall on a texel corner, and which of
// the four texels a point-filtering device picks there is left to its rounding
// (Wine's Direct3D 8 picks the row above in some tiles: the wrapped last row at the top).
constexpr float gridOffset = -0.5f;

std::vector<uint8_t> panelVertexData() {
    ByteWriter out;
    for (int strip = 0; strip < 2; ++strip) {
        float top = (strip == 0 ? 0.0f : 416.0f) + gridOffset, bottom = top + 64.0f;
        for (int quad = 0; quad < 4; ++quad) {
            float left = 384.0f + 64.0f * float(quad) + gridOffset, right = left + 64.0f;
            // The strip is folded into the image: quads 0 and 1 read its upper half,
            // quads 2 and 3 its lower half.
            float u0 = (quad & 1) ? 0.5f : 0.0f, v0 = (quad & 2) ? 0.5f : 0.0f;
            float u1 = u0 + 0.5f, v1 = v0 + 0.5f;
            const float corners[6][4] = {{left, top, u0, v0},     {right, top, u1, v0},
                                         {left, bottom, u0, v1},  {right, top, u1, v0},
                                         {right, bottom, u1, v1}, {left, bottom, u0, v1}};
            for (const auto& c : corners) {
                out.f32(c[0]);
                out.f32(c[1]);
                out.f32(0.5f);
                out.f32(1.0f);
                out.u32(0xFFFFFFFFu);
                out.u32(0);
                out.f32(c[2]);
                out.f32(c[3]);
            }
        }
    }
    return out.bytes;
}

std::vector<uint8_t> backdropVertexData() {
    ByteWriter out;
    for (int tile = 0; tile < 6; ++tile) {
        float left = 256.0f * float(tile % 3) + gridOffset,
              top = 256.0f * float(tile / 3) + gridOffset;
        const float corners[4][4] = {{left, top, 0, 0},
                                     {left + 256.0f, top, 1, 0},
                                     {left, top + 256.0f, 0, 1},
                                     {left + 256.0f, top + 256.0f, 1, 1}};
        for (const auto& c : corners) {
            out.f32(c[0]);
            out.f32(c[1]);
            out.f32(1.0f);
            out.f32(1.0f);
            out.u32(0xFFFFFFFFu);
            out.f32(c[2]);
            out.f32(c[3]);
        }
    }
    return out.bytes;
}

namespace {
void floats(ByteWriter& out, std::initializer_list<float> values) {
    for (float v : values)
        out.f32(v);
}
} // namespace

std::vector<uint8_t> tubeMaterialData() {
    ByteWriter out;
    floats(out, {0.97647059f, 0.81568629f, 0.99215686f, 1.0f}); // diffuse (249, 208, 253)
    floats(out, {0.52549022f, 0.42352942f, 0.53333336f, 1.0f}); // ambient (134, 108, 136)
    floats(out, {1, 1, 1, 1});                                  // specular
    floats(out, {0, 0, 0, 0});                                  // emissive
    floats(out, {50.0f});                                       // power
    return out.bytes;
}

std::vector<uint8_t> tubeLightData() {
    ByteWriter out;
    out.u32(3);                            // directional
    floats(out, {0.7f, 0.7f, 0.7f, 1.0f}); // diffuse
    floats(out, {1, 1, 1, 1});             // specular
    floats(out, {1, 1, 1, 1});             // ambient
    floats(out, {0, 0, 0});                // position
    floats(out, {0, 1, 0});                // direction
    floats(out, {0, 0, 0, 0, 0, 0, 0});    // range, falloff, attenuation 0..2, theta, phi
    return out.bytes;
}

std::vector<uint8_t> tubeViewData() {
    ByteWriter out;
    floats(out, {1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 500, 1});
    return out.bytes;
}

std::vector<uint8_t> tubeProjectionData() {
    ByteWriter out;
    floats(out,
           {2.4142926f, 0, 0, 0, 0, 4.2920756f, 0, 0, 0, 0, 1.001001f, 1, 0, 0, -1.001001f, 0});
    return out.bytes;
}
