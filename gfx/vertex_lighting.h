// Direct3D 8's fixed-function vertex lighting carried out on the processor, as its
// software vertex processing does, for a device whose shaders take vertices already
// lit: the WebGL device, where a software rasteriser pays far more per vertex for
// lighting in a shader than the page pays for it here. Free of any platform.
//
// What it computes, in eye space as OpenGL's fixed function and Direct3D 8 do:
// light 0 (directional, point or spot, with attenuation and the spot cone) or no
// light at all; the material's or the vertex's diffuse colour; the global ambient
// from the ambient render state and the emissive colour; and, when specular is
// enabled, the specular colour (local viewer or not) as a separate colour. Normals
// are renormalised after their transform only when the state asks for it. The
// results are clamped to 0..1 and rounded to bytes into the vertices' diffuse and
// specular colours; the specular alpha is 0. Main thread only, like the devices that
// call it.
#pragma once
#include "gfx/device_core.h"

#include <cstdint>

// What lighting a draw needs, worked out once from the state before its vertices.
struct VertexLighting {
    float worldView[16];   // row-vector, object to eye space
    float normalMatrix[9]; // row-vector, object normals to eye space
    uint32_t lightType;    // 0 with light 0 off, else lightPoint, lightSpot or lightDirectional
    bool localViewer;
    bool normalizeNormals;
    bool colorMaterial; // the vertex's diffuse colour is the material's diffuse
    bool specular;      // specular enabled
    // Towards a directional light (unit length), or a point or spot light's position.
    float lightVector[3];
    float lightDiffuse[3], lightSpecular[3];
    float lightAmbient[3];  // the light's ambient times the material's ambient
    float sceneAmbient[3];  // emissive plus the global ambient times the material's ambient
    float attenuation[3];   // constant, linear and quadratic
    float spotDirection[3]; // unit length, eye space
    float spotCosCutoff, spotExponent;
    float materialDiffuse[4], materialSpecular[3], power;
};

// `vertexDiffuse`: whether the draw's vertex format carries a diffuse colour.
void prepareVertexLighting(const CoreState& state, bool vertexDiffuse, VertexLighting* out);
// Replaces the diffuse and specular colours of `count` vertices with their lit ones.
void lightVertices(const VertexLighting& lighting, CoreVertex* vertices, uint32_t count);
