// Pictures in floating point and their conversion to the device pixel formats the intro
// embeds (R5G6B5, A4R4G4B4), with an ordered blue-noise dither so gradients show no bands;
// also PNG previews, little-endian byte output and a Euclidean distance transform.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Rgba {
    float r = 0, g = 0, b = 0, a = 1;
};

// Straight (not premultiplied) colour, 0..1 per channel, row-major, top row first.
struct Picture {
    int width = 0, height = 0;
    std::vector<Rgba> pixels;

    Picture() = default;
    Picture(int w, int h, Rgba fill = {0, 0, 0, 1})
        : width(w), height(h), pixels(size_t(w) * h, fill) {}
    Rgba& at(int x, int y) { return pixels[size_t(y) * width + x]; }
    const Rgba& at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// A single-channel plane (coverage, distance, height).
struct Plane {
    int width = 0, height = 0;
    std::vector<float> values;

    Plane() = default;
    Plane(int w, int h, float fill = 0) : width(w), height(h), values(size_t(w) * h, fill) {}
    float& at(int x, int y) { return values[size_t(y) * width + x]; }
    float at(int x, int y) const { return values[size_t(y) * width + x]; }
    // Clamped to the edge outside the plane.
    float clampedAt(int x, int y) const;
    // Bilinear sample at a position in pixel units (pixel centres at +0.5), clamped.
    float sample(float x, float y) const;
};

// ---- Small math ----
float clamp01(float v);
float mix(float a, float b, float t);
Rgba mix(const Rgba& a, const Rgba& b, float t);
float smoothstep(float edge0, float edge1, float v);
Rgba rgb(float r, float g, float b, float a = 1);
Rgba hexColour(uint32_t rgb24, float a = 1);

// Deterministic generator (xorshift64*) for everything the pictures scatter.
struct Random {
    uint64_t state;
    explicit Random(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t next();
    float uniform(); // [0, 1)
};

// Smooth value noise on a lattice of cell size 1, wrapping every `period` cells
// (0 = no wrap), and its fractal sum.
float valueNoise(float x, float y, uint32_t seed, int period = 0);
float fractalNoise(float x, float y, uint32_t seed, int octaves, int period = 0);

// ---- Dither and pixel formats ----
// Threshold in (0, 1) of a 64 x 64 tileable blue-noise mask (void-and-cluster).
float ditherThreshold(int x, int y);
// value 0..1 to 0..maxLevel, rounding by the mask instead of at 0.5.
int ditherLevel(float value, int maxLevel, int x, int y);

uint16_t packR5G6B5(const Rgba& c, int x, int y, bool dither);
uint16_t packA4R4G4B4(const Rgba& c, int x, int y, bool dither);
Rgba unpackR5G6B5(uint16_t v);
Rgba unpackA4R4G4B4(uint16_t v);

// ---- Bytes ----
struct ByteWriter {
    std::vector<uint8_t> bytes;
    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v);
    void i32(int32_t v);
    void u32(uint32_t v);
    void f32(float v);
    void append(const std::vector<uint8_t>& other);
};
uint16_t readU16(const std::vector<uint8_t>& bytes, size_t offset);

// ---- Distance ----
// Euclidean distance in pixels from every pixel to the nearest pixel where `inside`
// is true (0 on such pixels).
Plane distanceTo(const std::vector<bool>& inside, int width, int height);
// Signed distance to the boundary of coverage > 0.5: negative inside, positive outside.
Plane signedDistance(const Plane& coverage);
// Box-filter down by an integer factor.
Plane downsample(const Plane& plane, int factor);

// ---- Previews ----
// Writes 8-bit RGB or RGBA; returns false (with a message on stderr) on failure.
bool writePng(const std::string& path, const Picture& picture, bool withAlpha);
