// Vertex lighting on the processor (see vertex_lighting.h). Matrices are row-major
// and take row vectors, as everywhere in the devices: p' = p x M.
#include "gfx/vertex_lighting.h"

#include <cmath>
#include <cstring>

namespace {

// Row vector times the upper 3 x 3 of a row-major 4 x 4 matrix.
void transformDirection(const float* v, const float* m, float* out) {
    for (int j = 0; j < 3; ++j)
        out[j] = v[0] * m[j] + v[1] * m[4 + j] + v[2] * m[8 + j];
}

void normalise(float* v) {
    const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length > 0.0f)
        for (int i = 0; i < 3; ++i)
            v[i] /= length;
}

// The inverse transpose of the upper 3 x 3 of `m`, which takes row-vector normals
// into the space `m` takes positions to; zero for a singular matrix.
void inverseTranspose(const float* m, float* out) {
    const float a = m[0], b = m[1], c = m[2], d = m[4], e = m[5], f = m[6], g = m[8], h = m[9],
                i = m[10];
    const float cofactor[9] = {e * i - f * h, f * g - d * i, d * h - e * g,
                               c * h - b * i, a * i - c * g, b * g - a * h,
                               b * f - c * e, c * d - a * f, a * e - b * d};
    const float det = a * cofactor[0] + b * cofactor[1] + c * cofactor[2];
    const float scale = det != 0.0f ? 1.0f / det : 0.0f;
    for (int k = 0; k < 9; ++k)
        out[k] = cofactor[k] * scale;
}

void copy3(float* out, const ColorValue& c) {
    out[0] = c.r, out[1] = c.g, out[2] = c.b;
}

float clamp01(float x) {
    return x < 0.0f ? 0.0f : x > 1.0f ? 1.0f : x;
}

// A 0..1 colour channel to a byte, rounded to nearest as a unorm conversion does.
uint8_t toByte(float x) {
    return uint8_t(clamp01(x) * 255.0f + 0.5f);
}

float dot3(const float* a, const float* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

} // namespace

void prepareVertexLighting(const CoreState& state, bool vertexDiffuse, VertexLighting* out) {
    VertexLighting& l = *out;
    l = VertexLighting{};
    const uint32_t* rs = state.renderStates;
    const Material& m = state.material;
    multiplyMatrices(state.world, state.view, l.worldView);
    inverseTranspose(l.worldView, l.normalMatrix);
    l.localViewer = rs[rsLocalViewer] != 0;
    l.normalizeNormals = rs[rsNormalizeNormals] != 0;
    l.colorMaterial = vertexDiffuse && rs[rsColorVertex] && rs[rsDiffuseMaterialSource] == 1;
    l.specular = rs[rsSpecularEnable] != 0;

    float global[4];
    colorToFloats(rs[rsAmbient], global);
    l.sceneAmbient[0] = m.emissive.r + global[0] * m.ambient.r;
    l.sceneAmbient[1] = m.emissive.g + global[1] * m.ambient.g;
    l.sceneAmbient[2] = m.emissive.b + global[2] * m.ambient.b;
    std::memcpy(l.materialDiffuse, &m.diffuse.r, sizeof l.materialDiffuse);
    copy3(l.materialSpecular, m.specular);
    l.power = m.power < 0.0f ? 0.0f : m.power > 128.0f ? 128.0f : m.power;

    if (!state.lightEnabled[0]) return; // ambient and emissive only
    const Light& light = state.lights[0];
    l.lightType =
        light.type == lightDirectional || light.type == lightSpot ? light.type : lightPoint;
    l.lightAmbient[0] = light.ambient.r * m.ambient.r;
    l.lightAmbient[1] = light.ambient.g * m.ambient.g;
    l.lightAmbient[2] = light.ambient.b * m.ambient.b;
    copy3(l.lightDiffuse, light.diffuse);
    copy3(l.lightSpecular, light.specular);
    if (l.lightType == lightDirectional) {
        const float towards[3] = {-light.direction[0], -light.direction[1], -light.direction[2]};
        transformDirection(towards, state.view, l.lightVector);
        normalise(l.lightVector);
        return;
    }
    const float* v = state.view;
    const float* q = light.position;
    for (int j = 0; j < 3; ++j)
        l.lightVector[j] = q[0] * v[j] + q[1] * v[4 + j] + q[2] * v[8 + j] + v[12 + j];
    l.attenuation[0] = light.attenuation0;
    l.attenuation[1] = light.attenuation1;
    l.attenuation[2] = light.attenuation2;
    l.spotExponent = light.falloff;
    transformDirection(light.direction, state.view, l.spotDirection);
    normalise(l.spotDirection);
    float cutoff = light.phi * 0.5f;
    if (cutoff > 1.5707964f) cutoff = 1.5707964f;
    l.spotCosCutoff = std::cos(cutoff);
}

void lightVertices(const VertexLighting& l, CoreVertex* vertices, uint32_t count) {
    const float* w = l.worldView;
    const float* nm = l.normalMatrix;
    for (uint32_t k = 0; k < count; ++k) {
        CoreVertex& vertex = vertices[k];
        const float* p = vertex.position;
        float eye[4];
        for (int j = 0; j < 4; ++j)
            eye[j] = p[0] * w[j] + p[1] * w[4 + j] + p[2] * w[8 + j] + p[3] * w[12 + j];
        const float* v = vertex.normal;
        float n[3];
        for (int j = 0; j < 3; ++j)
            n[j] = v[0] * nm[j] + v[1] * nm[3 + j] + v[2] * nm[6 + j];
        if (l.normalizeNormals) normalise(n);

        float diffuse[4];
        if (l.colorMaterial)
            for (int c = 0; c < 4; ++c)
                diffuse[c] = float(vertex.diffuse[c]) / 255.0f;
        else
            std::memcpy(diffuse, l.materialDiffuse, sizeof diffuse);
        float primary[3] = {l.sceneAmbient[0], l.sceneAmbient[1], l.sceneAmbient[2]};
        float secondary[3] = {0.0f, 0.0f, 0.0f};

        if (l.lightType != 0) {
            float toLight[3];
            float factor = 1.0f;
            if (l.lightType == lightDirectional) {
                std::memcpy(toLight, l.lightVector, sizeof toLight);
            } else {
                for (int j = 0; j < 3; ++j)
                    toLight[j] = l.lightVector[j] - eye[j] / eye[3];
                const float distance = std::sqrt(dot3(toLight, toLight));
                for (float& t : toLight)
                    t /= distance;
                factor = 1.0f / (l.attenuation[0] + l.attenuation[1] * distance +
                                 l.attenuation[2] * distance * distance);
                if (l.lightType == lightSpot) {
                    const float spotDot = -dot3(toLight, l.spotDirection);
                    factor *= spotDot < l.spotCosCutoff
                                  ? 0.0f
                                  : std::pow(spotDot > 0.0f ? spotDot : 0.0f, l.spotExponent);
                }
            }
            const float nDotL = dot3(n, toLight);
            const float lambert = nDotL > 0.0f ? nDotL : 0.0f;
            for (int c = 0; c < 3; ++c)
                primary[c] +=
                    factor * (l.lightAmbient[c] + lambert * l.lightDiffuse[c] * diffuse[c]);
            if (l.specular && nDotL > 0.0f) {
                float h[3];
                if (l.localViewer) {
                    float toEye[3] = {-eye[0], -eye[1], -eye[2]};
                    normalise(toEye);
                    for (int j = 0; j < 3; ++j)
                        h[j] = toLight[j] + toEye[j];
                } else {
                    h[0] = toLight[0], h[1] = toLight[1], h[2] = toLight[2] + 1.0f;
                }
                normalise(h);
                const float nDotH = dot3(n, h);
                const float clamped = nDotH > 0.0f ? nDotH : 0.0f;
                const float shine = l.power > 0.0f ? std::pow(clamped, l.power) : 1.0f;
                for (int c = 0; c < 3; ++c)
                    secondary[c] = factor * shine * l.lightSpecular[c] * l.materialSpecular[c];
            }
        }
        for (int c = 0; c < 3; ++c) {
            vertex.diffuse[c] = toByte(primary[c]);
            vertex.specular[c] = toByte(secondary[c]);
        }
        vertex.diffuse[3] = toByte(diffuse[3]);
        vertex.specular[3] = 0;
    }
}
