// Direct3D 8 state values in OpenGL terms, for the two devices over the OpenGL family
// (device_gl.cpp on desktop OpenGL, device_webgl.cpp on WebGL 1), and the setters both
// use for the context state they keep a copy of. The enumerants and calls used here
// have the same names and values in both, so the includer brings its own OpenGL
// header before this one.
#pragma once

#include "gfx/device.h"

#include <cstdint>

inline GLenum compareFunction(uint32_t d3dCompare) {
    switch (d3dCompare) {
    case 1:
        return GL_NEVER;
    case 2:
        return GL_LESS;
    case 3:
        return GL_EQUAL;
    case 4:
        return GL_LEQUAL;
    case 5:
        return GL_GREATER;
    case 6:
        return GL_NOTEQUAL;
    case 7:
        return GL_GEQUAL;
    default:
        return GL_ALWAYS;
    }
}

// Alpha saturation is a source factor only in OpenGL 2.1 and WebGL 1 alike; as a
// destination it would make the whole blend call invalid, so it blends as one there.
inline GLenum blendFactor(uint32_t d3dBlend, bool source) {
    switch (d3dBlend) {
    case blendZero:
        return GL_ZERO;
    case 3:
        return GL_SRC_COLOR;
    case 4:
        return GL_ONE_MINUS_SRC_COLOR;
    case blendSrcAlpha:
        return GL_SRC_ALPHA;
    case blendInvSrcAlpha:
        return GL_ONE_MINUS_SRC_ALPHA;
    case 7:
        return GL_DST_ALPHA;
    case 8:
        return GL_ONE_MINUS_DST_ALPHA;
    case 9:
        return GL_DST_COLOR;
    case 10:
        return GL_ONE_MINUS_DST_COLOR;
    case 11:
        return source ? GL_SRC_ALPHA_SATURATE : GL_ONE;
    default:
        return GL_ONE;
    }
}

inline GLenum primitiveMode(uint32_t type) {
    switch (type) {
    case ptPointList:
        return GL_POINTS;
    case ptLineList:
        return GL_LINES;
    case ptLineStrip:
        return GL_LINE_STRIP;
    case ptTriangleList:
        return GL_TRIANGLES;
    case ptTriangleStrip:
        return GL_TRIANGLE_STRIP;
    default:
        return GL_TRIANGLE_FAN;
    }
}

// ---- Context state through a copy of it ---------------------------------------------------
// Each device keeps what it last set, so that a draw sends only what changes.

// Turns `capability` on or off unless `known` (1 on, 0 off, -1 unknown) says it is.
inline void switchCapability(int8_t& known, GLenum capability, bool on) {
    if (known == int8_t(on)) return;
    known = int8_t(on);
    if (on)
        glEnable(capability);
    else
        glDisable(capability);
}

// Binds a 2D texture unless `known` already names it.
inline void bindTexture2D(GLuint& known, GLuint name) {
    if (known == name) return;
    known = name;
    glBindTexture(GL_TEXTURE_2D, name);
}
