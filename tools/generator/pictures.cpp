// The computed pictures: logo, corner panels and background. Everything is drawn in
// floating point (the logo and the panel shapes supersampled), then dithered into the
// stored pixel formats; the previews are decoded back from the stored texels.
#include "pictures.h"

#include <algorithm>
#include <cmath>

#include "fonts.h"

namespace {

Rgba over(const Rgba& under, const Rgba& top, float alpha) {
    return {mix(under.r, top.r, alpha), mix(under.g, top.g, alpha), mix(under.b, top.b, alpha),
            under.a};
}

Rgba add(const Rgba& a, const Rgba& b, float amount) {
    return {a.r + b.r * amount, a.g + b.g * amount, a.b + b.b * amount, a.a};
}

// Gradient through a list of (position, colour) stops, positions ascending.
struct Stop {
    float at;
    Rgba colour;
};
Rgba gradient(const std::vector<Stop>& stops, float t) {
    if (t <= stops.front().at) return stops.front().colour;
    for (size_t i = 1; i < stops.size(); ++i)
        if (t <= stops[i].at) {
            float f = (t - stops[i - 1].at) / (stops[i].at - stops[i - 1].at);
            return mix(stops[i - 1].colour, stops[i].colour, f);
        }
    return stops.back().colour;
}

// Text coverage at `factor` times the final resolution: the characters laid out with
// kerning and extra tracking, placed so that the ink's box is centred on (centreX,
// baselineY) horizontally. Returns the cap top and baseline rows through the pointers.
Plane textCoverage(const char* font, const char* text, float pixelSize, float tracking, int width,
                   int height, float centreX, float baselineY, int factor,
                   bool alignRight = false) {
    Plane plane(width * factor, height * factor);
    float size = pixelSize * float(factor);
    std::vector<GlyphBitmap> glyphs;
    std::vector<float> pens;
    float pen = 0;
    for (const char* c = text; *c; ++c) {
        if (c != text) pen += kerningBetween(font, uint8_t(c[-1]), uint8_t(*c), size);
        GlyphBitmap g = renderGlyph(font, uint8_t(*c), size, 1.0f, false);
        pens.push_back(pen);
        pen += g.advance + tracking * size;
        glyphs.push_back(std::move(g));
    }
    float inkLeft = 1e9f, inkRight = -1e9f;
    for (size_t i = 0; i < glyphs.size(); ++i) {
        if (glyphs[i].width == 0) continue;
        inkLeft = std::min(inkLeft, pens[i] + float(glyphs[i].left));
        inkRight = std::max(inkRight, pens[i] + float(glyphs[i].left + glyphs[i].width));
    }
    float originX = alignRight ? centreX * float(factor) - inkRight
                               : centreX * float(factor) - (inkLeft + inkRight) * 0.5f;
    int originY = int(std::lround(baselineY * float(factor)));
    for (size_t i = 0; i < glyphs.size(); ++i) {
        const GlyphBitmap& g = glyphs[i];
        int x0 = int(std::lround(originX + pens[i])) + g.left;
        int y0 = originY - g.top;
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x) {
                int px = x0 + x, py = y0 + y;
                if (px < 0 || py < 0 || px >= plane.width || py >= plane.height) continue;
                plane.at(px, py) = std::max(plane.at(px, py), g.at(x, y));
            }
    }
    return plane;
}

// Average of factor x factor blocks of a supersampled colour picture.
Picture downsample(const Picture& picture, int factor) {
    Picture out(picture.width / factor, picture.height / factor);
    float scale = 1.0f / float(factor * factor);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            Rgba sum{0, 0, 0, 0};
            for (int j = 0; j < factor; ++j)
                for (int i = 0; i < factor; ++i) {
                    // Colours are averaged weighted by alpha so that transparent texels do
                    // not darken the edges of a shape.
                    const Rgba& c = picture.at(x * factor + i, y * factor + j);
                    sum.r += c.r * c.a;
                    sum.g += c.g * c.a;
                    sum.b += c.b * c.a;
                    sum.a += c.a;
                }
            Rgba& o = out.at(x, y);
            o.a = sum.a * scale;
            if (sum.a > 0) {
                o.r = sum.r / sum.a;
                o.g = sum.g / sum.a;
                o.b = sum.b / sum.a;
            }
        }
    return out;
}

} // namespace

// ---- The tube's colour band ----

Rgba tubeBandColour(int column) {
    // Four colours, each held for 20 texels with 44-texel blends between them: the tube
    // shows soft rings of violet, rose, amber and teal. The colours are deep because the
    // tube's light multiplies them by up to about 1.2 and white text passes over it.
    static const Rgba keys[4] = {hexColour(0x7A3CE6), hexColour(0xF0508F), hexColour(0xFFA838),
                                 hexColour(0x2EC4C0)};
    int c = ((column % 256) + 256) % 256;
    int key = c / 64, within = c % 64;
    const Rgba& from = keys[key];
    const Rgba& to = keys[(key + 1) % 4];
    float t = within < 20 ? 0.0f : smoothstep(0.0f, 1.0f, float(within - 20) / 44.0f);
    Rgba colour = mix(from, to, t);
    return {colour.r * 0.66f, colour.g * 0.66f, colour.b * 0.66f, 1};
}

// ---- Logo ----

Logo makeLogo() {
    constexpr int width = 640, height = 71, factor = 4;
    const char* font = spartanBlackPath;
    const float pixelSize = 64, tracking = 0.1f, baseline = 58.5f;
    Plane coverage =
        textCoverage(font, "VELMORA", pixelSize, tracking, width, height, 320.0f, baseline, factor);
    Plane distance = signedDistance(coverage); // in supersampled pixels
    const int W = width * factor, H = height * factor;

    // Rows of the cap height, for the chrome gradient.
    int capTop = H, capBottom = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (coverage.at(x, y) > 0.5f) {
                capTop = std::min(capTop, y);
                capBottom = std::max(capBottom, y);
            }
    const float capHeight = float(std::max(capBottom - capTop, 1));
    int inkLeft = W, inkRight = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (coverage.at(x, y) > 0.5f) {
                inkLeft = std::min(inkLeft, x);
                inkRight = std::max(inkRight, x);
            }
    // Two neon rules run from the word out to the picture's edges at the height of the
    // chrome's horizon, each starting with a small diamond.
    const float ruleY = (float(capTop) + 0.5f * capHeight) / float(factor);
    const float ruleInner[2] = {float(inkLeft) / float(factor) - 10.0f,
                                float(inkRight) / float(factor) + 10.0f};

    const std::vector<Stop> chrome = {{0.00f, hexColour(0xFBF6FF)}, {0.30f, hexColour(0xC9D8FF)},
                                      {0.49f, hexColour(0x6F8CE8)}, {0.50f, hexColour(0x2A1250)},
                                      {0.56f, hexColour(0x4A1A70)}, {0.80f, hexColour(0xE04C9A)},
                                      {1.00f, hexColour(0xFFC27A)}};
    const std::vector<Stop> glowHue = {
        {0.0f, hexColour(0x6A3CFF)}, {0.5f, hexColour(0xE0409A)}, {1.0f, hexColour(0xFF8A3C)}};
    // Glints: bright four-pointed stars on the top corners of the first and last letter.
    float glints[2][2] = {{0, 0}, {0, 0}};
    {
        int row = capTop + factor, first = W, last = 0;
        for (int x = 0; x < W; ++x)
            if (coverage.at(x, row) > 0.5f) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        glints[0][0] = float(first) / float(factor) + 1.5f;
        glints[1][0] = float(last) / float(factor) - 1.5f;
        glints[0][1] = glints[1][1] = float(capTop) / float(factor) + 1.5f;
    }

    Picture hi(W, H, {0, 0, 0, 1});
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float sd = distance.at(x, y) / float(factor); // final pixels
            float fx = (float(x) + 0.5f) / float(factor), fy = (float(y) + 0.5f) / float(factor);
            Rgba c{0, 0, 0, 1};
            // Outer glow, its hue running along the word.
            Rgba glow = gradient(glowHue, fx / float(width));
            if (sd > 0) c = add(c, glow, 0.75f * std::exp(-sd / 4.0f));
            // Light outline and a dark inner line that separates it from the fill.
            float outline = smoothstep(-0.4f, 0.2f, sd) * (1 - smoothstep(2.0f, 2.6f, sd));
            c = over(c, mix(hexColour(0xFFE8FA), glow, 0.25f), outline);
            float inner = smoothstep(-2.2f, -1.6f, sd) * (1 - smoothstep(-0.4f, 0.2f, sd));
            c = over(c, hexColour(0x120A26), inner);
            float fillMask = 1 - smoothstep(-2.2f, -1.6f, sd);
            if (fillMask > 0) {
                float ty = (float(y) - float(capTop)) / capHeight;
                Rgba fill = gradient(chrome, ty);
                // Bevel: the distance field's slope near the edge, lit from the upper left.
                float dx = distance.clampedAt(x + 1, y) - distance.clampedAt(x - 1, y);
                float dy = distance.clampedAt(x, y + 1) - distance.clampedAt(x, y - 1);
                float len = std::sqrt(dx * dx + dy * dy);
                float bevel = 1 - smoothstep(2.0f, 6.0f, -sd);
                if (len > 0 && bevel > 0) {
                    // Inside, the distance grows away from the edge, so the gradient
                    // points inward; the light hits edges whose inward normal faces down.
                    float light = (-dx * -0.6f + -dy * -0.8f) / len;
                    fill = add(fill, {1, 1, 1, 0}, 0.35f * bevel * light);
                }
                // Fine dark lines across the lower half, an old chrome-print touch.
                if (ty > 0.5f) {
                    float line = std::fmod(fy, 4.0f);
                    float dark = smoothstep(0.0f, 0.6f, line) * (1 - smoothstep(1.0f, 1.6f, line));
                    fill = over(fill, hexColour(0x2A0E40), 0.35f * dark);
                }
                c = over(c, fill, fillMask);
            }
            for (int side = 0; side < 2; ++side) {
                // Distance along the rule from its diamond, outwards.
                float along = side == 0 ? ruleInner[0] - fx : fx - ruleInner[1];
                float across = std::fabs(fy - ruleY);
                float diamond = std::fabs(along - 4.0f) + across - 4.0f;
                float rule = along > 10.0f ? across - 0.8f : 1e3f;
                float shape = std::min(diamond, rule);
                float reach = 1 - smoothstep(40.0f, float(width) * 0.42f, along);
                if (along < -1.0f) continue;
                Rgba glow = gradient(glowHue, fx / float(width));
                float core = 1 - smoothstep(-0.3f, 0.3f, shape);
                float halo = shape > 0 ? 0.6f * std::exp(-shape / 3.0f) : 0.0f;
                c = add(c, glow, halo * reach);
                c = over(c, mix(hexColour(0xFFE8FA), glow, 0.3f), core * reach);
            }
            for (const auto& g : glints) {
                float gx = std::fabs(fx - g[0]), gy = std::fabs(fy - g[1]);
                float star = std::exp(-gx / 0.9f) * std::exp(-gy / 9.0f) +
                             std::exp(-gy / 0.9f) * std::exp(-gx / 14.0f) +
                             0.8f * std::exp(-(gx * gx + gy * gy) / 6.0f);
                c = add(c, {1, 1, 1, 0}, std::min(star, 1.0f));
            }
            c.r = clamp01(c.r);
            c.g = clamp01(c.g);
            c.b = clamp01(c.b);
            hi.at(x, y) = c;
        }
    Picture picture = downsample(hi, factor);

    Logo logo;
    logo.preview = Picture(width, height);
    std::vector<uint16_t> texels(256 * 256, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int band = x / 256, tx = x % 256, ty = band * height + y;
            uint16_t v = packR5G6B5(picture.at(x, y), tx, ty, true);
            texels[ty * 256 + tx] = v;
            logo.preview.at(x, y) = unpackR5G6B5(v);
        }
    ByteWriter out;
    for (uint16_t v : texels)
        out.u16(v);
    logo.data = out.bytes;
    return logo;
}

// ---- Corner panels ----

namespace {

// One strip, drawn for the top-right corner; the bottom strip is the same design
// mirrored vertically with its own words.
Picture panelStrip(const char* words, bool mirrored) {
    constexpr int width = 256, height = 64, factor = 4;
    const int W = width * factor, H = height * factor;
    // The words sit on the glass, right-aligned and upright in both strips.
    const float baseline = mirrored ? 49.0f : 29.0f, capHeight = 13.0f;
    Plane text = textCoverage(spartanBoldPath, words, 19.0f, 0.08f, width, height, 244.0f, baseline,
                              factor, true);
    Picture hi(W, H, {0, 0, 0, 0});
    const float slant = 1.0f; // the inner edge runs at 45 degrees
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float fx = (float(x) + 0.5f) / float(factor);
            float fy = (float(y) + 0.5f) / float(factor);
            float ly = mirrored ? float(height) - fy : fy; // distance from the screen edge
            Rgba c{0, 0, 0, 0};
            // Glass: from the slanted inner edge to the screen's right edge, 44 px deep.
            const float depth = 44.0f, edgeX = 28.0f + ly * slant;
            bool inGlass = ly < depth && fx > edgeX;
            if (inGlass) {
                float t = (fx - edgeX) / (float(width) - edgeX);
                Rgba glass = mix(hexColour(0x1C1240), hexColour(0x3A1A62), t);
                glass = add(glass, hexColour(0x6A4AA0), 0.35f * (1 - ly / depth));
                glass.a = 0.72f;
                c = glass;
            }
            // Bright rim, 2 px, along the glass's slanted edge and its edge facing the
            // screen's centre.
            bool rimAlong = std::fabs(ly - depth) < 1.0f && fx > edgeX - 1.0f;
            float across = (fx - edgeX) / std::sqrt(1 + slant * slant);
            bool rimSlant = std::fabs(across) < 1.0f && ly < depth + 1.0f;
            if (rimAlong || rimSlant) {
                float t = fx / float(width);
                c = mix(hexColour(0x52E0FF), hexColour(0xFF5AB4), t);
                c.a = 1.0f;
            }
            // Three slivers in front of the glass, the same slant, fading outwards.
            const float sliverX[3] = {14.0f, 4.0f, -4.0f}, sliverW[3] = {6.0f, 4.0f, 3.0f};
            const float sliverA[3] = {0.85f, 0.6f, 0.35f};
            for (int s = 0; s < 3; ++s) {
                float left = sliverX[s] + ly * slant;
                if (ly < depth && fx >= left && fx < left + sliverW[s]) {
                    c = mix(hexColour(0x9B6BFF), hexColour(0xFF5AB4), ly / depth);
                    c.a = sliverA[s];
                }
            }
            // A thin scale line with ticks every 12 px beyond the glass.
            bool scaleLine = ly >= 53.0f && ly < 54.0f;
            bool tick = ly >= 50.0f && ly < 54.0f && std::fmod(fx - 100.0f, 12.0f) < 1.0f;
            if (fx > 100.0f && (scaleLine || tick)) c = hexColour(0xC9B8FF, 0.55f);
            // The words, opaque and warm white.
            float cover = text.at(x, y);
            if (cover > 0) {
                float t = clamp01((fy - (baseline - capHeight)) / capHeight);
                Rgba ink = mix(hexColour(0xFFF4FC), hexColour(0xFFB6DC), t);
                ink.a = 1;
                c = c.a > 0 ? mix(c, ink, cover) : Rgba{ink.r, ink.g, ink.b, cover};
            }
            hi.at(x, y) = c;
        }
    return downsample(hi, factor);
}

} // namespace

Panels makePanels() {
    Panels panels;
    const Picture strips[2] = {panelStrip("VELMORA 2027", false), panelStrip("13-15 AUGUST", true)};
    ByteWriter out;
    for (int i = 0; i < 2; ++i) {
        Picture& preview = i == 0 ? panels.top : panels.bottom;
        preview = Picture(256, 64);
        // Folded: strip columns 0..127 are image rows 0..63, columns 128..255 rows 64..127.
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                int sx = y < 64 ? x : x + 128, sy = y % 64;
                uint16_t v = packA4R4G4B4(strips[i].at(sx, sy), sx, sy + 64 * i, true);
                out.u16(v);
                preview.at(sx, sy) = unpackA4R4G4B4(v);
            }
    }
    panels.data = out.bytes;
    return panels;
}

// ---- Background ----

Backdrop makeBackdrop() {
    constexpr int width = 768, height = 512;
    const float horizon = 404.0f, tubeX = 475.0f;
    Picture picture(width, height);

    // Stars, scattered once.
    struct Star {
        float x, y, brightness, size;
        Rgba colour;
    };
    std::vector<Star> stars;
    Random random(0x5EA51DE);
    for (int i = 0; i < 420; ++i) {
        Star s;
        s.x = random.uniform() * width;
        s.y = random.uniform() * (horizon - 6);
        float r = random.uniform();
        s.brightness = 0.15f + 0.85f * r * r * r;
        s.size = 0.45f + 0.6f * random.uniform() * s.brightness;
        float hue = random.uniform();
        s.colour = hue < 0.33f ? hexColour(0xCFE0FF)
                               : (hue < 0.66f ? hexColour(0xFFE6F4) : hexColour(0xFFFFFF));
        stars.push_back(s);
    }

    const std::vector<Stop> sky = {{0.00f, hexColour(0x06051A)},
                                   {0.45f, hexColour(0x0E0A28)},
                                   {0.80f, hexColour(0x1E0F3C)},
                                   {1.00f, hexColour(0x3A1650)}};

    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            float fx = float(x) + 0.5f, fy = float(y) + 0.5f;
            // How much the text column wants quiet: 1 inside x 16..517, y 55..400.
            float column = smoothstep(-10.0f, 40.0f, fx) * (1 - smoothstep(500.0f, 560.0f, fx)) *
                           smoothstep(30.0f, 80.0f, fy) * (1 - smoothstep(390.0f, 420.0f, fy));
            float busy = 1 - 0.75f * column;
            Rgba c;
            if (fy < horizon) {
                c = gradient(sky, fy / horizon);
                // Nebula: soft clouds, violet and teal, mostly outside the text column.
                float n1 = fractalNoise(fx / 150.0f, fy / 110.0f, 11, 5);
                float n2 = fractalNoise(fx / 90.0f + 7.3f, fy / 140.0f, 23, 5);
                float cloud = smoothstep(0.45f, 0.8f, n1) * busy;
                float teal = smoothstep(0.5f, 0.85f, n2) * busy;
                c = add(c, hexColour(0x3A1A6A), 0.55f * cloud);
                c = add(c, hexColour(0x0E4A5A), 0.45f * teal * (fy / horizon));
                // Haze rising from the horizon, warmest under the tube.
                float haze = std::exp(-(horizon - fy) / 55.0f);
                float underTube = std::exp(-std::pow((fx - tubeX) / 260.0f, 2.0f));
                c = add(c, hexColour(0x8A2A78), 0.55f * haze * (0.35f + 0.65f * underTube));
            } else {
                // Floor: dark, with a glowing perspective grid running to a point under
                // the tube.
                float depth = (fy - horizon) / float(height - horizon); // 0 at the horizon
                c = mix(hexColour(0x140826), hexColour(0x080414), depth);
                // Lines across the floor sit where 64 / (dy + 2) is whole (evenly spaced
                // in depth); lines along it where (x - tubeX) / (dy + 2) is whole. Each is
                // antialiased by its distance in pixels, and where lines crowd closer than
                // a few pixels they blend into their average brightness.
                float inv = 1.0f / (fy - horizon + 2.0f);
                float halfWidth = 0.45f + 0.6f * depth;
                auto lineCover = [&](float value, float slope) {
                    float spacing = 1.0f / slope;
                    float distancePx = std::fabs(value - std::round(value)) * spacing;
                    float sharp = 1 - smoothstep(halfWidth - 0.5f, halfWidth + 0.5f, distancePx);
                    float average = std::min(1.0f, 2 * halfWidth / spacing);
                    return mix(average, sharp, smoothstep(2.0f, 6.0f, spacing));
                };
                float across = lineCover(64.0f * inv, 64.0f * inv * inv);
                float lean = (fx - tubeX) * inv * inv;
                float along = lineCover((fx - tubeX) * inv, std::sqrt(inv * inv + lean * lean));
                float fade = 0.3f + 0.7f * smoothstep(0.0f, 0.5f, depth);
                float grid = std::max(across, along) * fade;
                c = add(c, hexColour(0xD03C9C), 0.6f * grid);
                // The horizon line itself glows.
                c = add(c, hexColour(0xFF7AB8), 0.9f * std::exp(-(fy - horizon) / 2.0f));
            }
            // A tall soft glow behind the tube so it stands out of the dark.
            float halo = std::exp(-std::pow((fx - tubeX) / 120.0f, 2.0f)) *
                         (0.55f + 0.45f * smoothstep(0.0f, horizon, fy));
            c = add(c, hexColour(0x2A1450), 0.8f * halo);
            picture.at(x, y) = c;
        }

    for (const Star& s : stars) {
        float dim = 1.0f;
        float sx = s.x, sy = s.y;
        bool inColumn = sx > 0 && sx < 540 && sy > 40 && sy < 410;
        if (inColumn) dim = 0.3f;
        int r = 4;
        for (int y = int(sy) - r; y <= int(sy) + r; ++y)
            for (int x = int(sx) - r; x <= int(sx) + r; ++x) {
                if (x < 0 || y < 0 || x >= width || y >= height) continue;
                float dx = float(x) + 0.5f - sx, dy = float(y) + 0.5f - sy;
                float v = std::exp(-(dx * dx + dy * dy) / (2 * s.size * s.size));
                picture.at(x, y) = add(picture.at(x, y), s.colour, v * s.brightness * dim);
            }
        // The brightest few outside the column get a small cross of light.
        if (!inColumn && s.brightness > 0.8f) {
            for (int d = -7; d <= 7; ++d) {
                float v = std::exp(-float(std::abs(d)) / 2.2f) * 0.6f * s.brightness;
                int x = int(sx) + d, y = int(sy);
                if (x >= 0 && x < width) picture.at(x, y) = add(picture.at(x, y), s.colour, v);
                x = int(sx);
                y = int(sy) + d;
                if (y >= 0 && y < height) picture.at(x, y) = add(picture.at(x, y), s.colour, v);
            }
        }
    }

    // The tube's colour band: a thin line of light across the left of the picture,
    // exact in rows 229..231 of tile 0 (the texels the tube samples), fading out to the
    // right where it meets the glow behind the tube.
    for (int x = 0; x < width; ++x) {
        Rgba band = tubeBandColour(x);
        float reach = x < 256 ? 1.0f : 1 - smoothstep(256.0f, 420.0f, float(x));
        for (int y = tubeBandRow - 6; y <= tubeBandRow + 6; ++y) {
            int d = std::abs(y - tubeBandRow);
            Rgba& p = picture.at(x, y);
            if (d <= 1 && x < 256)
                p = band;
            else if (d <= 1)
                p = over(p, band, reach);
            else if (d == 2)
                p = over(p, band, 0.4f * reach);
            else
                p = add(p, band, 0.10f * reach * std::exp(-float(d - 2) / 1.5f));
        }
    }

    Backdrop backdrop;
    backdrop.preview = Picture(width, height);
    std::vector<uint16_t> texels(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Rgba c = picture.at(x, y);
            c.r = clamp01(c.r);
            c.g = clamp01(c.g);
            c.b = clamp01(c.b);
            uint16_t v = packR5G6B5(c, x, y, true);
            texels[size_t(y) * width + x] = v;
            backdrop.preview.at(x, y) = unpackR5G6B5(v);
        }
    ByteWriter out;
    for (int tile = 0; tile < 6; ++tile) {
        int left = 256 * (tile % 3), top = 256 * (tile / 3);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                out.u16(texels[size_t(top + y) * width + left + x]);
    }
    backdrop.data = out.bytes;
    return backdrop;
}
