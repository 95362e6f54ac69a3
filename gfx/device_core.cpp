// The platform-free half of the OpenGL-family display devices (see device_core.h):
// gfx/device.h's calls checked and carried out on CPU memory, with the backend
// hooks doing what needs a context. Main thread only.
#include "gfx/device_core.h"

#include "app/memory.h"

#include <cstring>

CoreState core;

namespace {

constexpr uint32_t padPixels = 4; // a lock's pitch is this many pixels longer than the row

Texture* textures = nullptr;

} // namespace

// ---- Matrices and colours -------------------------------------------------------------------

// Direct3D fills a pixel whose centre lies exactly on a triangle's top or left edge
// but not on its bottom or right edge. OpenGL here (lower-left origin) takes the
// bottom edge instead of the top one, so everything is lifted by one sub-pixel step
// (the rasteriser's precision): centres on a horizontal edge then fall inside below a
// top edge and outside below a bottom edge, as in Direct3D.
// Horizontally both APIs fill a centre on a left edge, but a texel-per-pixel quad then
// samples exactly on texel edges and the interpolated u can come out a hair short,
// picking the texel to the left. Shifting everything left by the same sub-pixel step
// keeps every centre strictly inside its texel without changing which pixels fill.

void screenProjectionMatrix(float step, float* m) {
    const float lift = step / 240.0f, shift = step / 320.0f; // in normalised device units
    // clang-format off
    const float matrix[16] = {
        1.0f / 320.0f,                 0.0f,                         0.0f,  0.0f,
        0.0f,                          -1.0f / 240.0f,               0.0f,  0.0f,
        0.0f,                          0.0f,                         2.0f,  0.0f,
        0.5f / 320.0f - 1.0f - shift,  1.0f - 0.5f / 240.0f + lift,  -1.0f, 1.0f};
    // clang-format on
    for (int i = 0; i < 16; ++i)
        m[i] = matrix[i];
}

void clipConversionMatrix(float step, float* m) {
    const float lift = step / 240.0f, shift = step / 320.0f;
    // clang-format off
    const float matrix[16] = {
        1.0f,                   0.0f,                   0.0f,  0.0f,
        0.0f,                   1.0f,                   0.0f,  0.0f,
        0.0f,                   0.0f,                   2.0f,  0.0f,
        1.0f / 640.0f - shift,  -1.0f / 480.0f + lift,  -1.0f, 1.0f};
    // clang-format on
    for (int i = 0; i < 16; ++i)
        m[i] = matrix[i];
}

void identityMatrix(float* m) {
    for (int i = 0; i < 16; ++i)
        m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

void multiplyMatrices(const float* a, const float* b, float* r) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a[4 * i + k] * b[4 * k + j];
            r[4 * i + j] = sum;
        }
}

void colorToFloats(uint32_t argb, float* out) {
    out[0] = float((argb >> 16) & 0xFF) / 255.0f;
    out[1] = float((argb >> 8) & 0xFF) / 255.0f;
    out[2] = float(argb & 0xFF) / 255.0f;
    out[3] = float(argb >> 24) / 255.0f;
}

// ---- Lifecycle
// ------------------------------------------------------------------------------------

void resetCoreState() {
    for (uint32_t s = 0; s < renderStateCount; ++s)
        core.renderStates[s] = defaultRenderState(s);
    for (uint32_t stage = 0; stage < textureStageCount; ++stage)
        for (uint32_t t = 0; t < stageStateCount; ++t)
            core.stages[stage][t] = defaultTextureStageState(stage, t);
    core.texture0 = nullptr;
    core.fvf = 0;
    core.stream = nullptr;
    core.streamStride = 0;
    core.indexBuffer = nullptr;
    core.baseVertexIndex = 0;
    identityMatrix(core.world);
    identityMatrix(core.view);
    identityMatrix(core.projection);
    for (Light& light : core.lights)
        light = Light{};
    for (bool& on : core.lightEnabled)
        on = false;
    core.material = Material{};
    core.inScene = false;
    core.transformsChanged = true;
}

void forEachTexture(void (*each)(Texture* texture), bool released) {
    for (Texture* texture = textures; texture; texture = texture->next)
        if (released || !texture->released) each(texture);
}

namespace {

struct CoreInitialiser {
    CoreInitialiser() { resetCoreState(); }
} coreInitialiser;

// ---- Vertex conversion
// ----------------------------------------------------------------------------

CoreVertex* scratchVertices = nullptr;
uint32_t scratchVertexCapacity = 0;
uint32_t* scratchIndices = nullptr;
uint32_t scratchIndexCapacity = 0;

CoreVertex* vertexScratch(uint32_t count) {
    if (count > scratchVertexCapacity) {
        freeBlock(scratchVertices);
        scratchVertexCapacity = count < 4096 ? 4096 : count;
        scratchVertices = static_cast<CoreVertex*>(
            allocArray(int32_t(scratchVertexCapacity), int32_t(sizeof(CoreVertex))));
    }
    return scratchVertices;
}

uint32_t* indexScratch(uint32_t count) {
    if (count > scratchIndexCapacity) {
        freeBlock(scratchIndices);
        scratchIndexCapacity = count < 8192 ? 8192 : count;
        scratchIndices =
            static_cast<uint32_t*>(allocArray(int32_t(scratchIndexCapacity), int32_t(4)));
    }
    return scratchIndices;
}

float readFloat(const uint8_t* p) {
    float value;
    std::memcpy(&value, p, 4);
    return value;
}

void unpackColor(const uint8_t* p, uint8_t* out) {
    uint32_t argb;
    std::memcpy(&argb, p, 4);
    out[0] = uint8_t(argb >> 16);
    out[1] = uint8_t(argb >> 8);
    out[2] = uint8_t(argb);
    out[3] = uint8_t(argb >> 24);
}

void convertVertices(const uint8_t* source, uint32_t stride, uint32_t count,
                     const FvfLayout& layout, CoreVertex* out) {
    for (uint32_t i = 0; i < count; ++i, source += stride) {
        CoreVertex& v = out[i];
        const uint8_t* p = source + layout.position;
        if (layout.transformed) {
            float rhw = readFloat(p + 12);
            float w = rhw != 0.0f ? 1.0f / rhw : 1.0f;
            v.position[0] = readFloat(p) * w;
            v.position[1] = readFloat(p + 4) * w;
            v.position[2] = readFloat(p + 8) * w;
            v.position[3] = w;
        } else {
            v.position[0] = readFloat(p);
            v.position[1] = readFloat(p + 4);
            v.position[2] = readFloat(p + 8);
            v.position[3] = 1.0f;
        }
        if (layout.normal >= 0) {
            v.normal[0] = readFloat(source + layout.normal);
            v.normal[1] = readFloat(source + layout.normal + 4);
            v.normal[2] = readFloat(source + layout.normal + 8);
        } else {
            v.normal[0] = v.normal[1] = v.normal[2] = 0.0f;
        }
        // Missing colours default as in Direct3D: opaque white diffuse, no specular.
        if (layout.diffuse >= 0)
            unpackColor(source + layout.diffuse, v.diffuse);
        else
            std::memset(v.diffuse, 0xFF, 4);
        if (layout.specular >= 0)
            unpackColor(source + layout.specular, v.specular);
        else
            std::memset(v.specular, 0, 4);
        if (layout.texCoord >= 0) {
            v.texCoord[0] = readFloat(source + layout.texCoord);
            v.texCoord[1] = readFloat(source + layout.texCoord + 4);
        } else {
            v.texCoord[0] = v.texCoord[1] = 0.0f;
        }
    }
}

bool drawable() {
    return backendAttached() && core.inScene && fvfVertexSize(core.fvf) != 0;
}

} // namespace

void releaseCoreScratch() {
    freeBlock(scratchVertices);
    scratchVertices = nullptr;
    scratchVertexCapacity = 0;
    freeBlock(scratchIndices);
    scratchIndices = nullptr;
    scratchIndexCapacity = 0;
}

// ---- Frame
// ------------------------------------------------------------------------------------------

int32_t deviceClear(uint32_t flags, uint32_t color, float z, uint32_t /*stencil*/) {
    if (!backendAttached() || (flags & ~uint32_t(clearTarget | clearZBuffer | 4))) return -1;
    return backendClear(flags, color, z < 0.0f ? 0.0f : z > 1.0f ? 1.0f : z);
}

int32_t deviceBeginScene() {
    if (!backendAttached() || core.inScene) return -1;
    core.inScene = true;
    return 0;
}

int32_t deviceEndScene() {
    if (!core.inScene) return -1;
    core.inScene = false;
    return 0;
}

int32_t devicePresent() {
    if (!backendAttached() || core.inScene) return -1;
    backendPresent();
    return 0;
}

// ---- States
// -----------------------------------------------------------------------------------------

int32_t setRenderState(uint32_t state, uint32_t value) {
    if (state >= renderStateCount) return -1;
    core.renderStates[state] = value;
    return 0;
}

int32_t setTextureStageState(uint32_t stage, uint32_t type, uint32_t value) {
    if (stage >= textureStageCount || type >= stageStateCount) return -1;
    core.stages[stage][type] = value;
    return 0;
}

int32_t setTexture(uint32_t stage, Texture* texture) {
    if (stage >= textureStageCount || (texture && texture->released)) return -1;
    if (stage == 0) core.texture0 = texture;
    return 0;
}

int32_t setVertexShader(uint32_t fvf) {
    if (fvfVertexSize(fvf) == 0) return -1;
    core.fvf = fvf;
    return 0;
}

int32_t setStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t stride) {
    if (stream != 0) return -1;
    core.stream = buffer;
    core.streamStride = stride;
    return 0;
}

int32_t setIndices(IndexBuffer* buffer, uint32_t baseVertexIndex) {
    core.indexBuffer = buffer;
    core.baseVertexIndex = baseVertexIndex;
    return 0;
}

int32_t setTransform(uint32_t which, const float matrix[16]) {
    float* target = which == transformWorld        ? core.world
                    : which == transformView       ? core.view
                    : which == transformProjection ? core.projection
                                                   : nullptr;
    if (!target || !matrix) return -1;
    std::memcpy(target, matrix, 16 * sizeof(float));
    core.transformsChanged = true;
    return 0;
}

int32_t setLight(uint32_t index, const Light* light) {
    if (index >= coreLightCount || !light) return -1;
    core.lights[index] = *light;
    return 0;
}

int32_t lightEnable(uint32_t index, int32_t enable) {
    if (index >= coreLightCount) return -1;
    core.lightEnabled[index] = enable != 0;
    return 0;
}

int32_t setMaterial(const Material* material) {
    if (!material) return -1;
    core.material = *material;
    return 0;
}

// ---- Drawing
// ------------------------------------------------------------------------------------------

int32_t drawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount) {
    uint32_t count = primitiveVertexCount(type, primitiveCount);
    VertexBuffer* buffer = core.stream;
    uint32_t stride = core.streamStride;
    if (!drawable() || count == 0 || !buffer || buffer->openLocks ||
        stride < fvfVertexSize(core.fvf))
        return -1;
    uint64_t begin = uint64_t(startVertex) * stride;
    if (begin + uint64_t(count) * stride > buffer->length) return -1;
    CoreVertex* vertices = vertexScratch(count);
    convertVertices(buffer->bytes + begin, stride, count, fvfLayout(core.fvf), vertices);
    backendDraw(type, vertices, count, nullptr, 0);
    return 0;
}

int32_t drawIndexedPrimitive(uint32_t type, uint32_t minIndex, uint32_t vertexCount,
                             uint32_t startIndex, uint32_t primitiveCount) {
    uint32_t count = primitiveVertexCount(type, primitiveCount);
    VertexBuffer* buffer = core.stream;
    IndexBuffer* indexBuffer = core.indexBuffer;
    uint32_t stride = core.streamStride;
    if (!drawable() || count == 0 || vertexCount == 0 || !buffer || !indexBuffer ||
        buffer->openLocks || indexBuffer->openLocks || stride < fvfVertexSize(core.fvf))
        return -1;
    uint32_t indexSize = indexBuffer->format == fmtIndex32 ? 4 : 2;
    if ((uint64_t(startIndex) + count) * indexSize > indexBuffer->length) return -1;
    uint64_t first = uint64_t(core.baseVertexIndex) + minIndex;
    if ((first + vertexCount) * stride > buffer->length) return -1;

    // Indices are rebased onto the converted range; one outside the range the call
    // declares would read vertices that were never converted, so the draw fails.
    uint32_t* indices = indexScratch(count);
    const uint8_t* source = indexBuffer->bytes + size_t(startIndex) * indexSize;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t index;
        if (indexSize == 4) {
            std::memcpy(&index, source + 4 * i, 4);
        } else {
            uint16_t shortIndex;
            std::memcpy(&shortIndex, source + 2 * i, 2);
            index = shortIndex;
        }
        if (index < minIndex || index - minIndex >= vertexCount) return -1;
        indices[i] = index - minIndex;
    }
    CoreVertex* vertices = vertexScratch(vertexCount);
    convertVertices(buffer->bytes + first * stride, stride, vertexCount, fvfLayout(core.fvf),
                    vertices);
    backendDraw(type, vertices, vertexCount, indices, count);
    return 0;
}

int32_t drawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices,
                        uint32_t stride) {
    uint32_t count = primitiveVertexCount(type, primitiveCount);
    // Like Direct3D, drawing from memory leaves no stream source set.
    core.stream = nullptr;
    core.streamStride = 0;
    if (!drawable() || count == 0 || !vertices || stride < fvfVertexSize(core.fvf)) return -1;
    CoreVertex* converted = vertexScratch(count);
    convertVertices(static_cast<const uint8_t*>(vertices), stride, count, fvfLayout(core.fvf),
                    converted);
    backendDraw(type, converted, count, nullptr, 0);
    return 0;
}

// ---- Textures and their level surfaces
// ------------------------------------------------------------

namespace {

void destroyTextureIfUnused(Texture* texture) {
    if (!texture->released || texture->surfaceRefs != 0) return;
    if (backendAttached()) backendDeleteTexture(texture);
    for (Texture** link = &textures; *link; link = &(*link)->next)
        if (*link == texture) {
            *link = texture->next;
            break;
        }
    for (uint32_t k = 0; k < texture->levels; ++k)
        freeBlock(texture->surfaces[k].bits);
    freeBlock(texture->surfaces);
    freeBlock(texture);
}

} // namespace

int32_t createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t /*usage*/,
                      uint32_t format, uint32_t /*pool*/, Texture** texture) {
    if (!texture) return -1;
    *texture = nullptr;
    if (!backendAttached() || width == 0 || height == 0 || width > maxTextureDimension ||
        height > maxTextureDimension || !isTextureFormat(format) || !backendSupportsFormat(format))
        return -1;
    Texture* created = static_cast<Texture*>(allocBlock(int32_t(sizeof(Texture))));
    created->width = width;
    created->height = height;
    created->levels = textureLevelsFor(width, height, levels);
    created->format = format;
    created->surfaces =
        static_cast<Surface*>(allocArray(int32_t(created->levels), int32_t(sizeof(Surface))));
    for (uint32_t k = 0; k < created->levels; ++k) {
        Surface& s = created->surfaces[k];
        s.texture = created;
        s.level = k;
        s.width = levelDimension(width, k);
        s.height = levelDimension(height, k);
        s.rows = levelRows(format, s.height);
        uint32_t rowBytes = levelRowBytes(format, s.width);
        // Uncompressed rows get a pitch longer than the row, so writers must honour it;
        // compressed levels are one packed block of rows, as Direct3D hands them out.
        s.pitch = isCompressedFormat(format) ? rowBytes
                                             : rowBytes + padPixels * textureBytesPerPixel(format);
        s.size = rowBytes * s.rows;
        s.bits = static_cast<uint8_t*>(allocBlock(int32_t(s.pitch * s.rows)));
    }
    created->next = textures;
    textures = created;
    backendCreateTexture(created);
    *texture = created;
    return 0;
}

uint32_t textureLevelCount(Texture* texture) {
    return texture && !texture->released ? texture->levels : 0;
}

int32_t textureSurfaceLevel(Texture* texture, uint32_t level, Surface** surface) {
    if (!surface) return -1;
    *surface = nullptr;
    if (!texture || texture->released || level >= texture->levels) return -1;
    ++texture->surfaceRefs;
    *surface = &texture->surfaces[level];
    return 0;
}

int32_t surfaceDesc(Surface* surface, SurfaceDesc* desc) {
    if (!surface || !desc) return -1;
    desc->format = surface->texture->format;
    desc->width = surface->width;
    desc->height = surface->height;
    desc->size = surface->size;
    return 0;
}

int32_t surfaceLock(Surface* surface, LockedRect* locked, uint32_t /*flags*/) {
    if (!locked) return -1;
    locked->pitch = 0;
    locked->bits = nullptr;
    if (!surface || surface->locked) return -1;
    surface->locked = true;
    locked->pitch = int32_t(surface->pitch);
    locked->bits = surface->bits;
    return 0;
}

int32_t surfaceUnlock(Surface* surface) {
    if (!surface || !surface->locked) return -1;
    surface->locked = false;
    Texture* texture = surface->texture;
    if (backendAttached() && texture->name != 0) backendUploadLevel(texture, surface->level);
    return 0;
}

void releaseSurface(Surface* surface) {
    if (!surface || surface->texture->surfaceRefs == 0) return;
    --surface->texture->surfaceRefs;
    destroyTextureIfUnused(surface->texture);
}

void releaseTexture(Texture* texture) {
    if (!texture || texture->released) return;
    texture->released = true;
    if (core.texture0 == texture) core.texture0 = nullptr;
    destroyTextureIfUnused(texture);
}

// ---- Vertex and index buffers
// ------------------------------------------------------------------------ Buffers are CPU memory;
// every draw converts what it reads at the draw call itself. A discarding lock can therefore keep
// the same memory, and a no-overwrite lock never touches data a pending draw still needs.

namespace {

bool lockRange(uint32_t length, uint32_t& offset, uint32_t& size) {
    if (offset > length) return false;
    if (size == 0) size = length - offset;
    return size != 0 && size <= length - offset;
}

} // namespace

int32_t createVertexBuffer(uint32_t length, uint32_t /*usage*/, uint32_t /*fvf*/, uint32_t /*pool*/,
                           VertexBuffer** buffer) {
    if (!buffer) return -1;
    *buffer = nullptr;
    if (length == 0 || length > maxBufferLength) return -1;
    VertexBuffer* created = static_cast<VertexBuffer*>(allocBlock(int32_t(sizeof(VertexBuffer))));
    created->bytes = static_cast<uint8_t*>(allocBlock(int32_t(length)));
    created->length = length;
    *buffer = created;
    return 0;
}

int32_t lockVertexBuffer(VertexBuffer* buffer, uint32_t offset, uint32_t size, void** data,
                         uint32_t /*flags*/) {
    if (!data) return -1;
    *data = nullptr;
    if (!buffer || !lockRange(buffer->length, offset, size)) return -1;
    ++buffer->openLocks;
    *data = buffer->bytes + offset;
    return 0;
}

int32_t unlockVertexBuffer(VertexBuffer* buffer) {
    if (!buffer || buffer->openLocks == 0) return -1;
    --buffer->openLocks;
    return 0;
}

void releaseVertexBuffer(VertexBuffer* buffer) {
    if (!buffer) return;
    if (core.stream == buffer) core.stream = nullptr;
    freeBlock(buffer->bytes);
    freeBlock(buffer);
}

int32_t createIndexBuffer(uint32_t length, uint32_t /*usage*/, uint32_t format, uint32_t /*pool*/,
                          IndexBuffer** buffer) {
    if (!buffer) return -1;
    *buffer = nullptr;
    if (length == 0 || length > maxBufferLength || (format != fmtIndex16 && format != fmtIndex32))
        return -1;
    IndexBuffer* created = static_cast<IndexBuffer*>(allocBlock(int32_t(sizeof(IndexBuffer))));
    created->bytes = static_cast<uint8_t*>(allocBlock(int32_t(length)));
    created->length = length;
    created->format = format;
    *buffer = created;
    return 0;
}

int32_t lockIndexBuffer(IndexBuffer* buffer, uint32_t offset, uint32_t size, void** data,
                        uint32_t /*flags*/) {
    if (!data) return -1;
    *data = nullptr;
    if (!buffer || !lockRange(buffer->length, offset, size)) return -1;
    ++buffer->openLocks;
    *data = buffer->bytes + offset;
    return 0;
}

int32_t unlockIndexBuffer(IndexBuffer* buffer) {
    if (!buffer || buffer->openLocks == 0) return -1;
    --buffer->openLocks;
    return 0;
}

void releaseIndexBuffer(IndexBuffer* buffer) {
    if (!buffer) return;
    if (core.indexBuffer == buffer) core.indexBuffer = nullptr;
    freeBlock(buffer->bytes);
    freeBlock(buffer);
}
