// The identity constant and setIdentity. Main thread only (tube init).
#include "effects/matrix.h"

static_assert(sizeof(Matrix4) == 64, "Matrix4 is sixteen packed floats");

const Matrix4 identityMatrix = {{
    {1.0f, 0.0f, 0.0f, 0.0f},
    {0.0f, 1.0f, 0.0f, 0.0f},
    {0.0f, 0.0f, 1.0f, 0.0f},
    {0.0f, 0.0f, 0.0f, 1.0f},
}};

void setIdentity(Matrix4* matrix) {
    *matrix = identityMatrix;
}
