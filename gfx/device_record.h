// The recording display device (library vm_device_record): a second implementation
// of gfx/device.h, linked instead of the OpenGL device by tests and benchmarks that
// need no display. Every call is carried out on plain memory -- states start at
// Direct3D 8's defaults, textures keep the pixels uploaded into them, buffers keep
// their bytes -- and appended to a log that tests read back: the call, its
// arguments and result, and for each draw the vertices it used (resolved through
// the stream, the user pointer or the index buffer) with the states in force.
//
// Behaviour worth knowing when writing tests against it:
// - Surface locks hand out a pitch larger than the row (recordPitchPadding more
//   bytes); the padding is pre-filled with 0xAB and checked on unlock.
// - Draws fail (result -1, still logged) outside BeginScene/EndScene, while the
//   stream or index buffer is locked, or when they would read past a buffer.
// - A D3DLOCK_DISCARD lock fills the whole buffer with 0xCD first: its old
//   contents are gone, as Direct3D allows.
// - recordFailNth makes the n-th texture/buffer creation, surface fetch or lock
//   fail, for init-failure tests.
// Main thread only, like the device it stands in for.
#pragma once
#include "gfx/device.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// ---- The log ------------------------------------------------------------------------

enum class CallKind : uint8_t {
    clear,
    beginScene,
    endScene,
    present,
    renderState,
    textureStageState,
    setTexture,
    vertexShader,
    streamSource,
    indices,
    transform,
    light,
    lightEnable,
    material,
    drawPrimitive,
    drawIndexedPrimitive,
    drawPrimitiveUP,
    createTexture,
    surfaceLevel,
    surfaceLock,
    surfaceUnlock,
    releaseSurface,
    releaseTexture,
    createVertexBuffer,
    lockVertexBuffer,
    unlockVertexBuffer,
    releaseVertexBuffer,
    createIndexBuffer,
    lockIndexBuffer,
    unlockIndexBuffer,
    releaseIndexBuffer,
};

// The device state in force when a draw was made.
struct DrawState {
    std::array<uint32_t, 256> renderStates; // indexed by rs* number
    std::array<uint32_t, 32> stage0;        // stage 0 states, indexed by tss* number
    uint32_t texture;                       // id of the stage-0 texture, 0 for none
    uint32_t fvf;
    uint32_t streamBuffer; // id of the vertex buffer on stream 0, 0 for none
    uint32_t streamStride;
    uint32_t indexBuffer; // id of the index buffer, 0 for none
    uint32_t baseVertexIndex;
    float world[16], view[16], projection[16];
    Light light; // light 0
    bool lightEnabled;
    Material material;
};

// One device call. `args` holds the call's integer arguments in the order of its
// declaration in gfx/device.h, leaving out pointers and the object handle:
//   clear {flags, color, stencil}            (z in values[0])
//   renderState {state, value}               textureStageState {stage, type, value}
//   setTexture {stage}                       vertexShader {fvf}
//   streamSource {stream, stride}            indices {baseVertexIndex}
//   transform {which}   (matrix in values)   lightEnable {index, enable}   light {index}
//   drawPrimitive {type, startVertex, primitiveCount}
//   drawIndexedPrimitive {type, minIndex, vertexCount, startIndex, primitiveCount}
//   drawPrimitiveUP {type, primitiveCount, stride}
//   createTexture {width, height, levels, usage, format, pool}
//   surfaceLevel {level}     surfaceLock {level, flags, pitch}     surfaceUnlock {level}
//   createVertexBuffer {length, usage, fvf, pool}
//   createIndexBuffer {length, usage, format, pool}
//   lockVertexBuffer / lockIndexBuffer {offset, size, flags}   (size 0 resolved to the end)
//   unlockVertexBuffer / unlockIndexBuffer {offset, size}      (of the lock being closed)
// `object` is the id of the texture (surface calls: of its texture), vertex buffer or
// index buffer the call names or created; ids count from 1 per kind since recordReset.
struct RecordedCall {
    CallKind kind;
    int32_t result;
    std::array<uint32_t, 6> args;
    uint32_t object;
    std::array<float, 16> values;
    Light light;       // light calls
    Material material; // material calls
    // Draws: the vertices in drawing order (indexed draws resolved through their
    // indices), `stride` bytes each. Unlocks: the bytes of the locked range as they
    // were left (surface unlocks: the level's rows packed without the pitch padding).
    std::vector<uint8_t> data;
    std::vector<uint32_t> indexList; // indexed draws: the indices read from the buffer
    uint32_t stride;
    DrawState state; // draws only
};

const std::vector<RecordedCall>& recordedCalls();
// Pointers into recordedCalls() to the draws, in order (valid until the next call).
std::vector<const RecordedCall*> recordedDraws();
// Calls of one kind, in order.
std::vector<const RecordedCall*> recordedCallsOf(CallKind kind);

// Reading the vertices of a recorded draw, n in drawing order.
uint32_t drawnVertexCount(const RecordedCall& call);
float vertexFloat(const RecordedCall& call, uint32_t vertex, uint32_t byteOffset);
uint32_t vertexWord(const RecordedCall& call, uint32_t vertex, uint32_t byteOffset);

// ---- Current state --------------------------------------------------------------------

uint32_t recordedState(uint32_t state);
uint32_t recordedTextureStageState(uint32_t stage, uint32_t type);
uint32_t recordedStageTexture(uint32_t stage); // texture id, 0 for none
uint32_t recordedVertexFormat();
bool recordInScene();

// ---- Objects ------------------------------------------------------------------------------

struct RecordedTexture {
    uint32_t width, height, levels, usage, format, pool;
    bool released;
    // Per level, the pixels last uploaded: rows packed (row bytes x rows), or the
    // whole compressed level; zero-filled until the first unlock.
    std::vector<std::vector<uint8_t>> levelBytes;
    uint32_t unlocks;
    bool paddingWritten; // some unlock found bytes beyond a row written
};

struct RecordedBuffer {
    uint32_t length, usage, format, pool; // format: the FVF or the index format
    bool released;
    std::vector<uint8_t> bytes; // current contents
    uint32_t locks;
};

// Null for an unknown id; records stay after release (with `released` set).
const RecordedTexture* recordedTexture(uint32_t id);
const RecordedBuffer* recordedVertexBuffer(uint32_t id);
const RecordedBuffer* recordedIndexBuffer(uint32_t id);
// The id of a live handle, 0 for null or unknown.
uint32_t recordedTextureId(const Texture* texture);
uint32_t recordedVertexBufferId(const VertexBuffer* buffer);
uint32_t recordedIndexBufferId(const IndexBuffer* buffer);
// Textures, buffers and surface references created and not yet released.
uint32_t recordLiveObjects();

// Bytes added to each row's length to make a surface lock's pitch.
constexpr uint32_t recordPitchPadding = 12;

// ---- Control --------------------------------------------------------------------------------

// Forgets everything: frees all objects still alive (call plugin shutdowns first),
// clears the log and pending faults, restarts ids, puts every state back to its
// default and turns logging on.
void recordReset();
// Drops the logged calls only; objects and states stay.
void recordClearLog();
// With logging off calls are still carried out but not logged (benchmarks).
void recordSetLogging(bool on);

enum class RecordFault : uint8_t {
    createTexture,
    surfaceLevel,
    surfaceLock,
    surfaceUnlock,
    createVertexBuffer,
    lockVertexBuffer,
    createIndexBuffer,
    lockIndexBuffer,
};
// The n-th call of that kind from now on fails (1: the very next); 0 cancels.
void recordFailNth(RecordFault fault, uint32_t n);
