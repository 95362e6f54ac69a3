// The program's one matrix type. Row-major 4x4 floats with points as row vectors
// (p' = [x y z 1] * M), so the translation sits in row 3: exactly the layout the
// display device takes for its world, view and projection transforms.
#pragma once

struct Matrix4 {
    float m[4][4]; // m[r][c] is float number 4 * r + c
};

// Read-only: 1 on the diagonal, 0 elsewhere.
extern const Matrix4 identityMatrix;

// Copies the sixteen floats of identityMatrix into the matrix.
void setIdentity(Matrix4* matrix);

// The sixteen floats in the order setTransform expects.
inline const float* matrixFloats(const Matrix4& matrix) {
    return &matrix.m[0][0];
}
