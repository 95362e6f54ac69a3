// Float pictures, blue-noise dither, pixel packing, distance transform and PNG output.
#include "raster.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

// ---- Small math ----

float clamp01(float v) {
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}
float mix(float a, float b, float t) {
    return a + (b - a) * t;
}
Rgba mix(const Rgba& a, const Rgba& b, float t) {
    return {mix(a.r, b.r, t), mix(a.g, b.g, t), mix(a.b, b.b, t), mix(a.a, b.a, t)};
}
float smoothstep(float edge0, float edge1, float v) {
    float t = clamp01((v - edge0) / (edge1 - edge0));
    return t * t * (3 - 2 * t);
}
Rgba rgb(float r, float g, float b, float a) {
    return {r, g, b, a};
}
Rgba hexColour(uint32_t rgb24, float a) {
    return {float((rgb24 >> 16) & 255) / 255.0f, float((rgb24 >> 8) & 255) / 255.0f,
            float(rgb24 & 255) / 255.0f, a};
}

float Plane::clampedAt(int x, int y) const {
    x = std::clamp(x, 0, width - 1);
    y = std::clamp(y, 0, height - 1);
    return at(x, y);
}

float Plane::sample(float x, float y) const {
    x -= 0.5f;
    y -= 0.5f;
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    float fx = x - float(x0), fy = y - float(y0);
    float top = mix(clampedAt(x0, y0), clampedAt(x0 + 1, y0), fx);
    float bottom = mix(clampedAt(x0, y0 + 1), clampedAt(x0 + 1, y0 + 1), fx);
    return mix(top, bottom, fy);
}

uint32_t Random::next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return uint32_t((state * 0x2545F4914F6CDD1Dull) >> 32);
}

float Random::uniform() {
    return float(next() >> 8) / 16777216.0f;
}

namespace {

float latticeValue(int x, int y, uint32_t seed) {
    uint32_t h = uint32_t(x) * 0x8DA6B343u ^ uint32_t(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return float(h & 0xFFFFFF) / 16777215.0f;
}

int wrapIndex(int v, int period) {
    if (period <= 0) return v;
    v %= period;
    return v < 0 ? v + period : v;
}

} // namespace

float valueNoise(float x, float y, uint32_t seed, int period) {
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    float fx = x - float(x0), fy = y - float(y0);
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    int xa = wrapIndex(x0, period), xb = wrapIndex(x0 + 1, period);
    int ya = wrapIndex(y0, period), yb = wrapIndex(y0 + 1, period);
    float top = mix(latticeValue(xa, ya, seed), latticeValue(xb, ya, seed), fx);
    float bottom = mix(latticeValue(xa, yb, seed), latticeValue(xb, yb, seed), fx);
    return mix(top, bottom, fy);
}

float fractalNoise(float x, float y, uint32_t seed, int octaves, int period) {
    float sum = 0, amplitude = 0.5f, total = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * valueNoise(x, y, seed + uint32_t(o) * 101u, period);
        total += amplitude;
        x *= 2;
        y *= 2;
        if (period > 0) period *= 2;
        amplitude *= 0.5f;
    }
    return sum / total;
}

// ---- Dither ----

namespace {

constexpr int maskSize = 64;
constexpr int maskCells = maskSize * maskSize;

// Void-and-cluster: ranks every cell of a toroidal grid so that the cells of any rank
// range are spread evenly, which makes the thresholds a fine-grained, pattern-free
// dither. Ties go to the lowest index, so the mask is the same on every run.
std::vector<float> makeBlueNoiseMask() {
    const double sigma = 1.9;
    std::vector<double> kernel(maskCells);
    for (int y = 0; y < maskSize; ++y)
        for (int x = 0; x < maskSize; ++x) {
            int dx = std::min(x, maskSize - x), dy = std::min(y, maskSize - y);
            kernel[y * maskSize + x] = std::exp(-double(dx * dx + dy * dy) / (2 * sigma * sigma));
        }
    std::vector<double> energy(maskCells, 0.0);
    std::vector<uint8_t> on(maskCells, 0);
    auto splat = [&](int p, double sign) {
        int px = p % maskSize, py = p / maskSize;
        for (int y = 0; y < maskSize; ++y) {
            int row = ((py + y) % maskSize) * maskSize;
            for (int x = 0; x < maskSize; ++x)
                energy[row + (px + x) % maskSize] += sign * kernel[y * maskSize + x];
        }
    };
    auto tightestCluster = [&]() {
        int best = -1;
        for (int p = 0; p < maskCells; ++p)
            if (on[p] && (best < 0 || energy[p] > energy[best])) best = p;
        return best;
    };
    auto largestVoid = [&]() {
        int best = -1;
        for (int p = 0; p < maskCells; ++p)
            if (!on[p] && (best < 0 || energy[p] < energy[best])) best = p;
        return best;
    };

    Random random(20270813);
    int ones = 0;
    while (ones < maskCells / 10) {
        int p = int(random.next() % maskCells);
        if (on[p]) continue;
        on[p] = 1;
        splat(p, 1);
        ++ones;
    }
    for (int guard = 0; guard < maskCells; ++guard) {
        int cluster = tightestCluster();
        on[cluster] = 0;
        splat(cluster, -1);
        int hole = largestVoid();
        on[hole] = 1;
        splat(hole, 1);
        if (hole == cluster) break;
    }

    std::vector<int> rank(maskCells, 0);
    std::vector<uint8_t> prototype = on;
    std::vector<double> prototypeEnergy = energy;
    for (int count = ones; count > 0; --count) {
        int cluster = tightestCluster();
        on[cluster] = 0;
        splat(cluster, -1);
        rank[cluster] = count - 1;
    }
    on = prototype;
    energy = prototypeEnergy;
    for (int count = ones; count < maskCells; ++count) {
        int hole = largestVoid();
        on[hole] = 1;
        splat(hole, 1);
        rank[hole] = count;
    }
    std::vector<float> mask(maskCells);
    for (int p = 0; p < maskCells; ++p)
        mask[p] = (float(rank[p]) + 0.5f) / float(maskCells);
    return mask;
}

const std::vector<float>& blueNoiseMask() {
    static const std::vector<float> mask = makeBlueNoiseMask();
    return mask;
}

} // namespace

float ditherThreshold(int x, int y) {
    return blueNoiseMask()[(y & (maskSize - 1)) * maskSize + (x & (maskSize - 1))];
}

int ditherLevel(float value, int maxLevel, int x, int y) {
    float scaled = clamp01(value) * float(maxLevel);
    int level = int(std::floor(scaled + ditherThreshold(x, y)));
    return std::clamp(level, 0, maxLevel);
}

namespace {
int nearestLevel(float value, int maxLevel) {
    return std::clamp(int(std::floor(clamp01(value) * float(maxLevel) + 0.5f)), 0, maxLevel);
}
int level(float value, int maxLevel, int x, int y, bool dither) {
    return dither ? ditherLevel(value, maxLevel, x, y) : nearestLevel(value, maxLevel);
}
} // namespace

uint16_t packR5G6B5(const Rgba& c, int x, int y, bool dither) {
    // The three channels use shifted positions of the mask so their rounding errors
    // do not line up into coloured speckle.
    int r = level(c.r, 31, x, y, dither);
    int g = level(c.g, 63, x + 17, y + 41, dither);
    int b = level(c.b, 31, x + 37, y + 13, dither);
    return uint16_t(r << 11 | g << 5 | b);
}

uint16_t packA4R4G4B4(const Rgba& c, int x, int y, bool dither) {
    int a = level(c.a, 15, x + 29, y + 7, dither);
    int r = level(c.r, 15, x, y, dither);
    int g = level(c.g, 15, x + 17, y + 41, dither);
    int b = level(c.b, 15, x + 37, y + 13, dither);
    return uint16_t(a << 12 | r << 8 | g << 4 | b);
}

Rgba unpackR5G6B5(uint16_t v) {
    return {float((v >> 11) & 31) / 31.0f, float((v >> 5) & 63) / 63.0f, float(v & 31) / 31.0f, 1};
}

Rgba unpackA4R4G4B4(uint16_t v) {
    return {float((v >> 8) & 15) / 15.0f, float((v >> 4) & 15) / 15.0f, float(v & 15) / 15.0f,
            float((v >> 12) & 15) / 15.0f};
}

// ---- Bytes ----

void ByteWriter::u16(uint16_t v) {
    bytes.push_back(uint8_t(v));
    bytes.push_back(uint8_t(v >> 8));
}
void ByteWriter::u32(uint32_t v) {
    u16(uint16_t(v));
    u16(uint16_t(v >> 16));
}
void ByteWriter::i32(int32_t v) {
    u32(uint32_t(v));
}
void ByteWriter::f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    u32(bits);
}
void ByteWriter::append(const std::vector<uint8_t>& other) {
    bytes.insert(bytes.end(), other.begin(), other.end());
}

uint16_t readU16(const std::vector<uint8_t>& bytes, size_t offset) {
    return uint16_t(bytes[offset] | bytes[offset + 1] << 8);
}

// ---- Distance ----

namespace {

// One-dimensional squared distance transform of a sampled function (lower envelope of
// parabolas). "Far" samples hold a large finite value so the arithmetic stays finite.
void distance1d(const std::vector<double>& f, std::vector<double>& d, int n, std::vector<int>& v,
                std::vector<double>& z) {
    const double inf = std::numeric_limits<double>::infinity();
    auto intersection = [&](int q, int p) {
        return ((f[q] + double(q) * q) - (f[p] + double(p) * p)) / (2.0 * q - 2.0 * p);
    };
    int k = 0;
    v[0] = 0;
    z[0] = -inf;
    z[1] = inf;
    for (int q = 1; q < n; ++q) {
        double s = intersection(q, v[k]);
        while (s <= z[k]) {
            --k;
            s = intersection(q, v[k]);
        }
        ++k;
        v[k] = q;
        z[k] = s;
        z[k + 1] = inf;
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (z[k + 1] < q)
            ++k;
        double dq = double(q) - v[k];
        d[q] = dq * dq + f[v[k]];
    }
}

} // namespace

Plane distanceTo(const std::vector<bool>& inside, int width, int height) {
    const double far = 1e20;
    int n = std::max(width, height);
    std::vector<double> grid(size_t(width) * height), f(n), d(n), z(n + 1);
    std::vector<int> v(n);
    for (size_t i = 0; i < grid.size(); ++i)
        grid[i] = inside[i] ? 0.0 : far;
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y)
            f[y] = grid[size_t(y) * width + x];
        distance1d(f, d, height, v, z);
        for (int y = 0; y < height; ++y)
            grid[size_t(y) * width + x] = d[y];
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            f[x] = grid[size_t(y) * width + x];
        distance1d(f, d, width, v, z);
        for (int x = 0; x < width; ++x)
            grid[size_t(y) * width + x] = d[x];
    }
    Plane out(width, height);
    for (size_t i = 0; i < grid.size(); ++i)
        out.values[i] = grid[i] >= far ? 1e6f : float(std::sqrt(grid[i]));
    return out;
}

Plane signedDistance(const Plane& coverage) {
    size_t n = coverage.values.size();
    std::vector<bool> in(n), out(n);
    for (size_t i = 0; i < n; ++i) {
        in[i] = coverage.values[i] > 0.5f;
        out[i] = !in[i];
    }
    Plane toInside = distanceTo(in, coverage.width, coverage.height);
    Plane toOutside = distanceTo(out, coverage.width, coverage.height);
    Plane result(coverage.width, coverage.height);
    // Half a pixel moves the zero level onto the boundary between the two sets.
    for (size_t i = 0; i < n; ++i)
        result.values[i] = in[i] ? -(toOutside.values[i] - 0.5f) : toInside.values[i] - 0.5f;
    return result;
}

Plane downsample(const Plane& plane, int factor) {
    Plane out(plane.width / factor, plane.height / factor);
    float scale = 1.0f / float(factor * factor);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            float sum = 0;
            for (int j = 0; j < factor; ++j)
                for (int i = 0; i < factor; ++i)
                    sum += plane.at(x * factor + i, y * factor + j);
            out.at(x, y) = sum * scale;
        }
    return out;
}

// ---- Previews ----

bool writePng(const std::string& path, const Picture& picture, bool withAlpha) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "velmora-assets: cannot write %s\n", path.c_str());
        return false;
    }
    int channels = withAlpha ? 4 : 3;
    std::vector<uint8_t> row(size_t(picture.width) * channels);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        std::fprintf(stderr, "velmora-assets: PNG encoding of %s failed\n", path.c_str());
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, 6);
    png_set_IHDR(png, info, uint32_t(picture.width), uint32_t(picture.height), 8,
                 withAlpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const Rgba& c = picture.at(x, y);
            uint8_t* p = &row[size_t(x) * channels];
            p[0] = uint8_t(std::lround(clamp01(c.r) * 255));
            p[1] = uint8_t(std::lround(clamp01(c.g) * 255));
            p[2] = uint8_t(std::lround(clamp01(c.b) * 255));
            if (withAlpha) p[3] = uint8_t(std::lround(clamp01(c.a) * 255));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    bool ok = std::fclose(file) == 0;
    if (!ok) std::fprintf(stderr, "velmora-assets: cannot finish %s\n", path.c_str());
    return ok;
}
