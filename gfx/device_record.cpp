// The recording display device: carries out every call of gfx/device.h on plain
// memory and logs it (see device_record.h for what tests can read back).
// Main thread only.
#include "gfx/device_record.h"

#include "gfx/device_common.h"

#include <algorithm>
#include <cstring>
#include <deque>

struct Surface {
    Texture* texture;
    uint32_t level;
    bool locked;
    uint32_t pitch;
    std::vector<uint8_t> lockBits; // rows x pitch while locked
};

struct Texture {
    uint32_t id;
    bool released;
    uint32_t surfaceRefs;
    std::vector<Surface> surfaces; // one per level, never resized after creation
};

struct VertexBuffer {
    uint32_t id;
    bool released;
    std::vector<std::pair<uint32_t, uint32_t>> openLocks; // offset, size
};

struct IndexBuffer {
    uint32_t id;
    bool released;
    std::vector<std::pair<uint32_t, uint32_t>> openLocks;
};

namespace {

constexpr uint8_t paddingFill = 0xAB;
constexpr uint8_t discardFill = 0xCD;
constexpr uint32_t lightCount = 8;
constexpr uint32_t faultCount = 8;
constexpr uint32_t fmtIndex32 = 102;

// ---- State ----------------------------------------------------------------------------------

struct DeviceState {
    std::array<uint32_t, renderStateCount> renderStates;
    std::array<std::array<uint32_t, stageStateCount>, textureStageCount> stages;
    std::array<Texture*, textureStageCount> textures;
    uint32_t fvf;
    VertexBuffer* stream;
    uint32_t streamStride;
    IndexBuffer* indexBuffer;
    uint32_t baseVertexIndex;
    float world[16], view[16], projection[16];
    std::array<Light, lightCount> lights;
    std::array<bool, lightCount> lightEnabled;
    Material material;
    bool inScene;
};

DeviceState state;
std::vector<RecordedCall> calls;
bool logging = true;

std::deque<RecordedTexture> textureRecords;
std::deque<RecordedBuffer> vertexBufferRecords;
std::deque<RecordedBuffer> indexBufferRecords;
std::vector<Texture*> liveTextures;
std::vector<VertexBuffer*> liveVertexBuffers;
std::vector<IndexBuffer*> liveIndexBuffers;

std::array<uint32_t, faultCount> faultCountdown{};

void setIdentityMatrix(float* m) {
    for (int i = 0; i < 16; ++i)
        m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

void resetState() {
    for (uint32_t s = 0; s < renderStateCount; ++s)
        state.renderStates[s] = defaultRenderState(s);
    for (uint32_t stage = 0; stage < textureStageCount; ++stage)
        for (uint32_t t = 0; t < stageStateCount; ++t)
            state.stages[stage][t] = defaultTextureStageState(stage, t);
    state.textures.fill(nullptr);
    state.fvf = 0;
    state.stream = nullptr;
    state.streamStride = 0;
    state.indexBuffer = nullptr;
    state.baseVertexIndex = 0;
    setIdentityMatrix(state.world);
    setIdentityMatrix(state.view);
    setIdentityMatrix(state.projection);
    for (Light& light : state.lights)
        light = Light{};
    state.lightEnabled.fill(false);
    state.material = Material{};
    state.inScene = false;
}

struct StateInitialiser {
    StateInitialiser() { resetState(); }
} stateInitialiser;

bool faultHits(RecordFault fault) {
    uint32_t& countdown = faultCountdown[size_t(fault)];
    if (countdown == 0) return false;
    return --countdown == 0;
}

// ---- Logging ----------------------------------------------------------------------------------

RecordedCall* logCall(CallKind kind, int32_t result, std::initializer_list<uint32_t> args,
                      uint32_t object = 0) {
    if (!logging) return nullptr;
    calls.emplace_back();
    RecordedCall& call = calls.back();
    call.kind = kind;
    call.result = result;
    call.args.fill(0);
    std::copy(args.begin(), args.end(), call.args.begin());
    call.object = object;
    call.values.fill(0.0f);
    call.light = Light{};
    call.material = Material{};
    call.stride = 0;
    call.state = DrawState{};
    return &call;
}

uint32_t idOf(const Texture* texture) {
    return texture ? texture->id : 0;
}

DrawState snapshot() {
    DrawState s;
    std::copy(state.renderStates.begin(), state.renderStates.end(), s.renderStates.begin());
    s.stage0 = state.stages[0];
    s.texture = idOf(state.textures[0]);
    s.fvf = state.fvf;
    s.streamBuffer = state.stream ? state.stream->id : 0;
    s.streamStride = state.streamStride;
    s.indexBuffer = state.indexBuffer ? state.indexBuffer->id : 0;
    s.baseVertexIndex = state.baseVertexIndex;
    std::memcpy(s.world, state.world, sizeof s.world);
    std::memcpy(s.view, state.view, sizeof s.view);
    std::memcpy(s.projection, state.projection, sizeof s.projection);
    s.light = state.lights[0];
    s.lightEnabled = state.lightEnabled[0];
    s.material = state.material;
    return s;
}

// ---- Object lifetime ----------------------------------------------------------------------

RecordedTexture& recordOf(const Texture* texture) {
    return textureRecords[texture->id - 1];
}
RecordedBuffer& recordOf(const VertexBuffer* buffer) {
    return vertexBufferRecords[buffer->id - 1];
}
RecordedBuffer& recordOf(const IndexBuffer* buffer) {
    return indexBufferRecords[buffer->id - 1];
}

// A released texture lives on while a surface of it is still referenced.
void destroyTextureIfUnused(Texture* texture) {
    if (!texture->released || texture->surfaceRefs != 0) return;
    liveTextures.erase(std::find(liveTextures.begin(), liveTextures.end(), texture));
    delete texture;
}

// ---- Draw resolution ----------------------------------------------------------------------

bool drawStateUsable() {
    return state.inScene && fvfVertexSize(state.fvf) != 0;
}

} // namespace

// ---- Frame --------------------------------------------------------------------------------------

int32_t deviceClear(uint32_t flags, uint32_t color, float z, uint32_t stencil) {
    int32_t result = (flags & ~uint32_t(clearTarget | clearZBuffer | 4)) ? -1 : 0;
    if (RecordedCall* call = logCall(CallKind::clear, result, {flags, color, stencil}))
        call->values[0] = z;
    return result;
}

int32_t deviceBeginScene() {
    int32_t result = state.inScene ? -1 : 0;
    state.inScene = true;
    logCall(CallKind::beginScene, result, {});
    return result;
}

int32_t deviceEndScene() {
    int32_t result = state.inScene ? 0 : -1;
    state.inScene = false;
    logCall(CallKind::endScene, result, {});
    return result;
}

int32_t devicePresent() {
    int32_t result = state.inScene ? -1 : 0;
    logCall(CallKind::present, result, {});
    return result;
}

// ---- States
// --------------------------------------------------------------------------------------

int32_t setRenderState(uint32_t renderState, uint32_t value) {
    int32_t result = renderState < renderStateCount ? 0 : -1;
    if (result == 0) state.renderStates[renderState] = value;
    logCall(CallKind::renderState, result, {renderState, value});
    return result;
}

int32_t setTextureStageState(uint32_t stage, uint32_t type, uint32_t value) {
    int32_t result = stage < textureStageCount && type < stageStateCount ? 0 : -1;
    if (result == 0) state.stages[stage][type] = value;
    logCall(CallKind::textureStageState, result, {stage, type, value});
    return result;
}

int32_t setTexture(uint32_t stage, Texture* texture) {
    int32_t result = stage < textureStageCount && (!texture || !texture->released) ? 0 : -1;
    if (result == 0) state.textures[stage] = texture;
    logCall(CallKind::setTexture, result, {stage}, idOf(texture));
    return result;
}

int32_t setVertexShader(uint32_t fvf) {
    int32_t result = fvfVertexSize(fvf) != 0 ? 0 : -1;
    if (result == 0) state.fvf = fvf;
    logCall(CallKind::vertexShader, result, {fvf});
    return result;
}

int32_t setStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t stride) {
    int32_t result = stream == 0 && (!buffer || !buffer->released) ? 0 : -1;
    if (result == 0) {
        state.stream = buffer;
        state.streamStride = stride;
    }
    logCall(CallKind::streamSource, result, {stream, stride}, buffer ? buffer->id : 0);
    return result;
}

int32_t setIndices(IndexBuffer* buffer, uint32_t baseVertexIndex) {
    int32_t result = !buffer || !buffer->released ? 0 : -1;
    if (result == 0) {
        state.indexBuffer = buffer;
        state.baseVertexIndex = baseVertexIndex;
    }
    logCall(CallKind::indices, result, {baseVertexIndex}, buffer ? buffer->id : 0);
    return result;
}

int32_t setTransform(uint32_t which, const float matrix[16]) {
    float* target = which == transformWorld        ? state.world
                    : which == transformView       ? state.view
                    : which == transformProjection ? state.projection
                                                   : nullptr;
    int32_t result = target && matrix ? 0 : -1;
    if (result == 0) std::memcpy(target, matrix, 16 * sizeof(float));
    if (RecordedCall* call = logCall(CallKind::transform, result, {which}))
        if (matrix) std::copy(matrix, matrix + 16, call->values.begin());
    return result;
}

int32_t setLight(uint32_t index, const Light* light) {
    int32_t result = index < lightCount && light ? 0 : -1;
    if (result == 0) state.lights[index] = *light;
    if (RecordedCall* call = logCall(CallKind::light, result, {index}))
        if (light) call->light = *light;
    return result;
}

int32_t lightEnable(uint32_t index, int32_t enable) {
    int32_t result = index < lightCount ? 0 : -1;
    if (result == 0) state.lightEnabled[index] = enable != 0;
    logCall(CallKind::lightEnable, result, {index, uint32_t(enable)});
    return result;
}

int32_t setMaterial(const Material* material) {
    int32_t result = material ? 0 : -1;
    if (result == 0) state.material = *material;
    if (RecordedCall* call = logCall(CallKind::material, result, {}))
        if (material) call->material = *material;
    return result;
}

// ---- Drawing ------------------------------------------------------------------------------------

int32_t drawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount) {
    uint32_t count = primitiveVertexCount(type, primitiveCount);
    uint32_t stride = state.streamStride;
    bool usable = drawStateUsable() && count != 0 && state.stream &&
                  state.stream->openLocks.empty() && stride >= fvfVertexSize(state.fvf);
    const RecordedBuffer* buffer = state.stream ? &recordOf(state.stream) : nullptr;
    uint64_t begin = uint64_t(startVertex) * stride;
    uint64_t end = begin + uint64_t(count) * stride;
    if (usable && end > buffer->length) usable = false;
    int32_t result = usable ? 0 : -1;
    if (RecordedCall* call =
            logCall(CallKind::drawPrimitive, result, {type, startVertex, primitiveCount})) {
        call->stride = stride;
        call->state = snapshot();
        if (usable) call->data.assign(buffer->bytes.begin() + begin, buffer->bytes.begin() + end);
    }
    return result;
}

int32_t drawIndexedPrimitive(uint32_t type, uint32_t minIndex, uint32_t vertexCount,
                             uint32_t startIndex, uint32_t primitiveCount) {
    uint32_t count = primitiveVertexCount(type, primitiveCount);
    uint32_t stride = state.streamStride;
    bool usable = drawStateUsable() && count != 0 && state.stream && state.indexBuffer &&
                  state.stream->openLocks.empty() && state.indexBuffer->openLocks.empty() &&
                  stride >= fvfVertexSize(state.fvf);
    std::vector<uint32_t> indexList;
    if (usable) {
        const RecordedBuffer& indexRecord = recordOf(state.indexBuffer);
        uint32_t indexSize = indexRecord.format == fmtIndex32 ? 4 : 2;
        uint64_t end = (uint64_t(startIndex) + count) * indexSize;
        if (end > indexRecord.length) {
            usable = false;
        } else {
            indexList.resize(count);
            const uint8_t* p = indexRecord.bytes.data() + size_t(startIndex) * indexSize;
            for (uint32_t i = 0; i < count; ++i) {
                if (indexSize == 4) {
                    std::memcpy(&indexList[i], p + 4 * i, 4);
                } else {
                    uint16_t v;
                    std::memcpy(&v, p + 2 * i, 2);
                    indexList[i] = v;
                }
            }
        }
    }
    // Every index must lie in the declared vertex range, and the range inside the buffer.
    const RecordedBuffer* vertexRecord = state.stream ? &recordOf(state.stream) : nullptr;
    if (usable) {
        uint64_t rangeEnd = (uint64_t(state.baseVertexIndex) + minIndex + vertexCount) * stride;
        if (vertexCount == 0 || rangeEnd > vertexRecord->length) usable = false;
        for (uint32_t index : indexList)
            if (index < minIndex || uint64_t(index) >= uint64_t(minIndex) + vertexCount)
                usable = false;
    }
    int32_t result = usable ? 0 : -1;
    if (RecordedCall* call = logCall(CallKind::drawIndexedPrimitive, result,
                                     {type, minIndex, vertexCount, startIndex, primitiveCount})) {
        call->stride = stride;
        call->state = snapshot();
        if (usable) {
            call->data.resize(size_t(count) * stride);
            for (uint32_t i = 0; i < count; ++i) {
                size_t from = size_t(state.baseVertexIndex + indexList[i]) * stride;
                std::memcpy(call->data.data() + size_t(i) * stride,
                            vertexRecord->bytes.data() + from, stride);
            }
        }
        call->indexList = std::move(indexList);
    }
    return result;
}

int32_t drawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices,
                        uint32_t stride) {
    uint32_t count = primitiveVertexCount(type, primitiveCount);
    bool usable = drawStateUsable() && count != 0 && vertices && stride >= fvfVertexSize(state.fvf);
    int32_t result = usable ? 0 : -1;
    if (RecordedCall* call =
            logCall(CallKind::drawPrimitiveUP, result, {type, primitiveCount, stride})) {
        call->stride = stride;
        call->state = snapshot();
        if (usable) {
            const uint8_t* bytes = static_cast<const uint8_t*>(vertices);
            call->data.assign(bytes, bytes + size_t(count) * stride);
        }
    }
    // Like Direct3D, drawing from memory leaves no stream source set.
    state.stream = nullptr;
    state.streamStride = 0;
    return result;
}

// ---- Textures
// -------------------------------------------------------------------------------------

int32_t createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                      uint32_t format, uint32_t pool, Texture** texture) {
    bool valid = texture && width != 0 && height != 0 && width <= maxTextureDimension &&
                 height <= maxTextureDimension && isTextureFormat(format);
    if (valid && faultHits(RecordFault::createTexture)) valid = false;
    if (!valid) {
        if (texture) *texture = nullptr;
        logCall(CallKind::createTexture, -1, {width, height, levels, usage, format, pool});
        return -1;
    }
    uint32_t levelCount = textureLevelsFor(width, height, levels);
    RecordedTexture record{width, height, levelCount, usage, format, pool, false, {}, 0, false};
    for (uint32_t k = 0; k < levelCount; ++k) {
        uint32_t w = levelDimension(width, k), h = levelDimension(height, k);
        record.levelBytes.emplace_back(size_t(levelRowBytes(format, w)) * levelRows(format, h), 0);
    }
    textureRecords.push_back(std::move(record));
    Texture* created = new Texture{uint32_t(textureRecords.size()), false, 0, {}};
    created->surfaces.resize(levelCount);
    for (uint32_t k = 0; k < levelCount; ++k)
        created->surfaces[k] = Surface{created, k, false, 0, {}};
    liveTextures.push_back(created);
    *texture = created;
    logCall(CallKind::createTexture, 0, {width, height, levels, usage, format, pool}, created->id);
    return 0;
}

uint32_t textureLevelCount(Texture* texture) {
    return texture && !texture->released ? uint32_t(texture->surfaces.size()) : 0;
}

int32_t textureSurfaceLevel(Texture* texture, uint32_t level, Surface** surface) {
    bool valid = texture && !texture->released && surface && level < texture->surfaces.size();
    if (valid && faultHits(RecordFault::surfaceLevel)) valid = false;
    if (surface) *surface = valid ? &texture->surfaces[level] : nullptr;
    if (valid) ++texture->surfaceRefs;
    logCall(CallKind::surfaceLevel, valid ? 0 : -1, {level}, idOf(texture));
    return valid ? 0 : -1;
}

int32_t surfaceDesc(Surface* surface, SurfaceDesc* desc) {
    if (!surface || !desc) return -1;
    const RecordedTexture& record = recordOf(surface->texture);
    desc->format = record.format;
    desc->width = levelDimension(record.width, surface->level);
    desc->height = levelDimension(record.height, surface->level);
    desc->size = uint32_t(record.levelBytes[surface->level].size());
    return 0;
}

int32_t surfaceLock(Surface* surface, LockedRect* locked, uint32_t flags) {
    bool valid = surface && locked && !surface->locked;
    if (valid && faultHits(RecordFault::surfaceLock)) valid = false;
    uint32_t pitch = 0;
    if (valid) {
        const RecordedTexture& record = recordOf(surface->texture);
        uint32_t w = levelDimension(record.width, surface->level);
        uint32_t h = levelDimension(record.height, surface->level);
        uint32_t rowBytes = levelRowBytes(record.format, w);
        uint32_t rows = levelRows(record.format, h);
        // Compressed levels are handed out as one block of rows of blocks, as Direct3D does.
        pitch = isCompressedFormat(record.format) ? rowBytes : rowBytes + recordPitchPadding;
        surface->lockBits.assign(size_t(pitch) * rows, paddingFill);
        const std::vector<uint8_t>& level = record.levelBytes[surface->level];
        for (uint32_t r = 0; r < rows; ++r)
            std::memcpy(surface->lockBits.data() + size_t(r) * pitch,
                        level.data() + size_t(r) * rowBytes, rowBytes);
        surface->locked = true;
        surface->pitch = pitch;
        locked->pitch = int32_t(pitch);
        locked->bits = surface->lockBits.data();
    } else if (locked) {
        locked->pitch = 0;
        locked->bits = nullptr;
    }
    logCall(CallKind::surfaceLock, valid ? 0 : -1, {surface ? surface->level : 0, flags, pitch},
            surface ? surface->texture->id : 0);
    return valid ? 0 : -1;
}

int32_t surfaceUnlock(Surface* surface) {
    bool valid = surface && surface->locked;
    if (valid && faultHits(RecordFault::surfaceUnlock)) {
        // A failed unlock still ends the lock; the upload is lost.
        surface->locked = false;
        surface->lockBits.clear();
        valid = false;
    }
    uint32_t textureId = surface ? surface->texture->id : 0;
    if (!valid) {
        logCall(CallKind::surfaceUnlock, -1, {surface ? surface->level : 0}, textureId);
        return -1;
    }
    RecordedTexture& record = recordOf(surface->texture);
    uint32_t w = levelDimension(record.width, surface->level);
    uint32_t h = levelDimension(record.height, surface->level);
    uint32_t rowBytes = levelRowBytes(record.format, w);
    uint32_t rows = levelRows(record.format, h);
    std::vector<uint8_t>& level = record.levelBytes[surface->level];
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* row = surface->lockBits.data() + size_t(r) * surface->pitch;
        std::memcpy(level.data() + size_t(r) * rowBytes, row, rowBytes);
        for (uint32_t b = rowBytes; b < surface->pitch; ++b)
            if (row[b] != paddingFill) record.paddingWritten = true;
    }
    ++record.unlocks;
    surface->locked = false;
    surface->lockBits.clear();
    if (RecordedCall* call = logCall(CallKind::surfaceUnlock, 0, {surface->level}, textureId))
        call->data = level;
    return 0;
}

void releaseSurface(Surface* surface) {
    if (!surface) return;
    Texture* texture = surface->texture;
    logCall(CallKind::releaseSurface, 0, {surface->level}, texture->id);
    if (texture->surfaceRefs == 0) return;
    --texture->surfaceRefs;
    destroyTextureIfUnused(texture);
}

void releaseTexture(Texture* texture) {
    if (!texture || texture->released) return;
    logCall(CallKind::releaseTexture, 0, {}, texture->id);
    texture->released = true;
    recordOf(texture).released = true;
    for (Texture*& bound : state.textures)
        if (bound == texture) bound = nullptr;
    destroyTextureIfUnused(texture);
}

// ---- Vertex and index buffers ------------------------------------------------------------------

namespace {

template <typename Buffer>
int32_t lockBuffer(Buffer* buffer, std::deque<RecordedBuffer>& records, CallKind kind,
                   RecordFault fault, uint32_t offset, uint32_t size, void** data, uint32_t flags) {
    bool valid = buffer && !buffer->released && data;
    uint32_t length = valid ? records[buffer->id - 1].length : 0;
    if (valid && size == 0) size = offset <= length ? length - offset : 0;
    if (valid && (offset > length || size > length - offset || size == 0)) valid = false;
    if (valid && faultHits(fault)) valid = false;
    if (data) *data = nullptr;
    if (valid) {
        RecordedBuffer& record = records[buffer->id - 1];
        if (flags & lockDiscard) std::fill(record.bytes.begin(), record.bytes.end(), discardFill);
        ++record.locks;
        buffer->openLocks.emplace_back(offset, size);
        *data = record.bytes.data() + offset;
    }
    logCall(kind, valid ? 0 : -1, {offset, size, flags}, buffer ? buffer->id : 0);
    return valid ? 0 : -1;
}

template <typename Buffer>
int32_t unlockBuffer(Buffer* buffer, std::deque<RecordedBuffer>& records, CallKind kind) {
    if (!buffer || buffer->openLocks.empty()) {
        logCall(kind, -1, {}, buffer ? buffer->id : 0);
        return -1;
    }
    auto [offset, size] = buffer->openLocks.back();
    buffer->openLocks.pop_back();
    if (RecordedCall* call = logCall(kind, 0, {offset, size}, buffer->id)) {
        const std::vector<uint8_t>& bytes = records[buffer->id - 1].bytes;
        call->data.assign(bytes.begin() + offset, bytes.begin() + offset + size);
    }
    return 0;
}

} // namespace

int32_t createVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                           VertexBuffer** buffer) {
    bool valid = buffer && length != 0 && length <= maxBufferLength;
    if (valid && faultHits(RecordFault::createVertexBuffer)) valid = false;
    if (buffer) *buffer = nullptr;
    uint32_t id = 0;
    if (valid) {
        vertexBufferRecords.push_back(
            RecordedBuffer{length, usage, fvf, pool, false, std::vector<uint8_t>(length, 0), 0});
        id = uint32_t(vertexBufferRecords.size());
        *buffer = new VertexBuffer{id, false, {}};
        liveVertexBuffers.push_back(*buffer);
    }
    logCall(CallKind::createVertexBuffer, valid ? 0 : -1, {length, usage, fvf, pool}, id);
    return valid ? 0 : -1;
}

int32_t lockVertexBuffer(VertexBuffer* buffer, uint32_t offset, uint32_t size, void** data,
                         uint32_t flags) {
    return lockBuffer(buffer, vertexBufferRecords, CallKind::lockVertexBuffer,
                      RecordFault::lockVertexBuffer, offset, size, data, flags);
}

int32_t unlockVertexBuffer(VertexBuffer* buffer) {
    return unlockBuffer(buffer, vertexBufferRecords, CallKind::unlockVertexBuffer);
}

void releaseVertexBuffer(VertexBuffer* buffer) {
    if (!buffer || buffer->released) return;
    logCall(CallKind::releaseVertexBuffer, 0, {}, buffer->id);
    recordOf(buffer).released = true;
    if (state.stream == buffer) state.stream = nullptr;
    liveVertexBuffers.erase(std::find(liveVertexBuffers.begin(), liveVertexBuffers.end(), buffer));
    delete buffer;
}

int32_t createIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool,
                          IndexBuffer** buffer) {
    bool valid = buffer && length != 0 && length <= maxBufferLength &&
                 (format == fmtIndex16 || format == fmtIndex32);
    if (valid && faultHits(RecordFault::createIndexBuffer)) valid = false;
    if (buffer) *buffer = nullptr;
    uint32_t id = 0;
    if (valid) {
        indexBufferRecords.push_back(
            RecordedBuffer{length, usage, format, pool, false, std::vector<uint8_t>(length, 0), 0});
        id = uint32_t(indexBufferRecords.size());
        *buffer = new IndexBuffer{id, false, {}};
        liveIndexBuffers.push_back(*buffer);
    }
    logCall(CallKind::createIndexBuffer, valid ? 0 : -1, {length, usage, format, pool}, id);
    return valid ? 0 : -1;
}

int32_t lockIndexBuffer(IndexBuffer* buffer, uint32_t offset, uint32_t size, void** data,
                        uint32_t flags) {
    return lockBuffer(buffer, indexBufferRecords, CallKind::lockIndexBuffer,
                      RecordFault::lockIndexBuffer, offset, size, data, flags);
}

int32_t unlockIndexBuffer(IndexBuffer* buffer) {
    return unlockBuffer(buffer, indexBufferRecords, CallKind::unlockIndexBuffer);
}

void releaseIndexBuffer(IndexBuffer* buffer) {
    if (!buffer || buffer->released) return;
    logCall(CallKind::releaseIndexBuffer, 0, {}, buffer->id);
    recordOf(buffer).released = true;
    if (state.indexBuffer == buffer) state.indexBuffer = nullptr;
    liveIndexBuffers.erase(std::find(liveIndexBuffers.begin(), liveIndexBuffers.end(), buffer));
    delete buffer;
}

// ---- Queries
// -------------------------------------------------------------------------------------

const std::vector<RecordedCall>& recordedCalls() {
    return calls;
}

std::vector<const RecordedCall*> recordedDraws() {
    std::vector<const RecordedCall*> draws;
    for (const RecordedCall& call : calls)
        if (call.kind == CallKind::drawPrimitive || call.kind == CallKind::drawIndexedPrimitive ||
            call.kind == CallKind::drawPrimitiveUP)
            draws.push_back(&call);
    return draws;
}

std::vector<const RecordedCall*> recordedCallsOf(CallKind kind) {
    std::vector<const RecordedCall*> found;
    for (const RecordedCall& call : calls)
        if (call.kind == kind) found.push_back(&call);
    return found;
}

uint32_t drawnVertexCount(const RecordedCall& call) {
    return call.stride ? uint32_t(call.data.size() / call.stride) : 0;
}

float vertexFloat(const RecordedCall& call, uint32_t vertex, uint32_t byteOffset) {
    float value = 0.0f;
    size_t at = size_t(vertex) * call.stride + byteOffset;
    if (vertex < drawnVertexCount(call) && byteOffset + 4 <= call.stride)
        std::memcpy(&value, call.data.data() + at, 4);
    return value;
}

uint32_t vertexWord(const RecordedCall& call, uint32_t vertex, uint32_t byteOffset) {
    uint32_t value = 0;
    size_t at = size_t(vertex) * call.stride + byteOffset;
    if (vertex < drawnVertexCount(call) && byteOffset + 4 <= call.stride)
        std::memcpy(&value, call.data.data() + at, 4);
    return value;
}

uint32_t recordedState(uint32_t renderState) {
    return renderState < renderStateCount ? state.renderStates[renderState] : 0;
}

uint32_t recordedTextureStageState(uint32_t stage, uint32_t type) {
    return stage < textureStageCount && type < stageStateCount ? state.stages[stage][type] : 0;
}

uint32_t recordedStageTexture(uint32_t stage) {
    return stage < textureStageCount ? idOf(state.textures[stage]) : 0;
}

uint32_t recordedVertexFormat() {
    return state.fvf;
}
bool recordInScene() {
    return state.inScene;
}

const RecordedTexture* recordedTexture(uint32_t id) {
    return id >= 1 && id <= textureRecords.size() ? &textureRecords[id - 1] : nullptr;
}

const RecordedBuffer* recordedVertexBuffer(uint32_t id) {
    return id >= 1 && id <= vertexBufferRecords.size() ? &vertexBufferRecords[id - 1] : nullptr;
}

const RecordedBuffer* recordedIndexBuffer(uint32_t id) {
    return id >= 1 && id <= indexBufferRecords.size() ? &indexBufferRecords[id - 1] : nullptr;
}

uint32_t recordedTextureId(const Texture* texture) {
    for (const Texture* live : liveTextures)
        if (live == texture && !live->released) return live->id;
    return 0;
}

uint32_t recordedVertexBufferId(const VertexBuffer* buffer) {
    for (const VertexBuffer* live : liveVertexBuffers)
        if (live == buffer) return live->id;
    return 0;
}

uint32_t recordedIndexBufferId(const IndexBuffer* buffer) {
    for (const IndexBuffer* live : liveIndexBuffers)
        if (live == buffer) return live->id;
    return 0;
}

uint32_t recordLiveObjects() {
    uint32_t live = uint32_t(liveVertexBuffers.size() + liveIndexBuffers.size());
    for (const Texture* texture : liveTextures)
        live += (texture->released ? 0 : 1) + texture->surfaceRefs;
    return live;
}

// ---- Control
// -------------------------------------------------------------------------------------

void recordReset() {
    for (Texture* texture : liveTextures)
        delete texture;
    for (VertexBuffer* buffer : liveVertexBuffers)
        delete buffer;
    for (IndexBuffer* buffer : liveIndexBuffers)
        delete buffer;
    liveTextures.clear();
    liveVertexBuffers.clear();
    liveIndexBuffers.clear();
    textureRecords.clear();
    vertexBufferRecords.clear();
    indexBufferRecords.clear();
    calls.clear();
    faultCountdown.fill(0);
    logging = true;
    resetState();
}

void recordClearLog() {
    calls.clear();
}

void recordSetLogging(bool on) {
    logging = on;
}

void recordFailNth(RecordFault fault, uint32_t n) {
    faultCountdown[size_t(fault)] = n;
}
