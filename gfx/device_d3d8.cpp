// The Direct3D 8 display device: gfx/device.h passed straight to IDirect3DDevice8.
// The interface has Direct3D 8's numbers, records and semantics already, so every
// call is one method call; the device's own objects stand behind the opaque handle
// types (a Texture* is an IDirect3DTexture8*, and so on). Also the read-back of the
// back buffer for the still capture. Main thread only.
#include "gfx/device_d3d8.h"

#include "gfx/device.h"

#include <windows.h>

#include <d3d8.h>

#include <cstring>

// The published records the interface copies must match Direct3D's byte for byte.
static_assert(sizeof(Light) == sizeof(D3DLIGHT8));
static_assert(sizeof(Material) == sizeof(D3DMATERIAL8));
static_assert(sizeof(D3DMATRIX) == 16 * sizeof(float));

namespace {

IDirect3DDevice8* device = nullptr;

int32_t result(HRESULT hr) {
    return SUCCEEDED(hr) ? 0 : (hr < 0 ? int32_t(hr) : -1);
}

IDirect3DTexture8* native(Texture* texture) {
    return reinterpret_cast<IDirect3DTexture8*>(texture);
}
IDirect3DSurface8* native(Surface* surface) {
    return reinterpret_cast<IDirect3DSurface8*>(surface);
}
IDirect3DVertexBuffer8* native(VertexBuffer* buffer) {
    return reinterpret_cast<IDirect3DVertexBuffer8*>(buffer);
}
IDirect3DIndexBuffer8* native(IndexBuffer* buffer) {
    return reinterpret_cast<IDirect3DIndexBuffer8*>(buffer);
}

// 5- and 6-bit channels widened to 8 bits as a display shows them: the top bits
// repeated in the bottom ones, so that full scale is 255.
uint8_t widen5(uint32_t v) {
    return uint8_t(v << 3 | v >> 2);
}
uint8_t widen6(uint32_t v) {
    return uint8_t(v << 2 | v >> 4);
}

} // namespace

void d3d8DeviceAttach(IDirect3DDevice8* attached) {
    device = attached;
}

void d3d8DeviceDetach() {
    device = nullptr;
}

int32_t d3d8DeviceReadPixels(uint8_t* rgba) {
    std::memset(rgba, 0, 640 * 480 * 4);
    if (!device) return -1;
    IDirect3DSurface8* back = nullptr;
    if (FAILED(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back))) return -1;
    D3DSURFACE_DESC desc{};
    D3DLOCKED_RECT locked{};
    int32_t outcome = -1;
    if (SUCCEEDED(back->GetDesc(&desc)) && desc.Width >= 640 && desc.Height >= 480 &&
        SUCCEEDED(back->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
        outcome = 0;
        for (uint32_t y = 0; y < 480 && outcome == 0; ++y) {
            const auto* row = static_cast<const uint8_t*>(locked.pBits) + size_t(y) * locked.Pitch;
            uint8_t* out = rgba + size_t(y) * 640 * 4;
            for (uint32_t x = 0; x < 640; ++x, out += 4) {
                switch (desc.Format) {
                case D3DFMT_A8R8G8B8:
                case D3DFMT_X8R8G8B8:
                    out[0] = row[4 * x + 2];
                    out[1] = row[4 * x + 1];
                    out[2] = row[4 * x];
                    break;
                case D3DFMT_R8G8B8:
                    out[0] = row[3 * x + 2];
                    out[1] = row[3 * x + 1];
                    out[2] = row[3 * x];
                    break;
                case D3DFMT_R5G6B5: {
                    const uint32_t p = row[2 * x] | uint32_t(row[2 * x + 1]) << 8;
                    out[0] = widen5(p >> 11);
                    out[1] = widen6((p >> 5) & 0x3F);
                    out[2] = widen5(p & 0x1F);
                    break;
                }
                case D3DFMT_X1R5G5B5:
                case D3DFMT_A1R5G5B5: {
                    const uint32_t p = row[2 * x] | uint32_t(row[2 * x + 1]) << 8;
                    out[0] = widen5((p >> 10) & 0x1F);
                    out[1] = widen5((p >> 5) & 0x1F);
                    out[2] = widen5(p & 0x1F);
                    break;
                }
                default:
                    outcome = -1;
                    break;
                }
                out[3] = 255;
            }
        }
        back->UnlockRect();
    }
    back->Release();
    return outcome;
}

// ---- Frame ----

int32_t deviceClear(uint32_t flags, uint32_t color, float z, uint32_t stencil) {
    if (!device) return -1;
    return result(device->Clear(0, nullptr, flags, color, z, stencil));
}

int32_t deviceBeginScene() {
    return device ? result(device->BeginScene()) : -1;
}

int32_t deviceEndScene() {
    return device ? result(device->EndScene()) : -1;
}

int32_t devicePresent() {
    return device ? result(device->Present(nullptr, nullptr, nullptr, nullptr)) : -1;
}

// ---- States ----

int32_t setRenderState(uint32_t state, uint32_t value) {
    if (!device) return -1;
    return result(device->SetRenderState(D3DRENDERSTATETYPE(state), value));
}

int32_t setTextureStageState(uint32_t stage, uint32_t type, uint32_t value) {
    if (!device) return -1;
    return result(device->SetTextureStageState(stage, D3DTEXTURESTAGESTATETYPE(type), value));
}

int32_t setTexture(uint32_t stage, Texture* texture) {
    if (!device) return -1;
    return result(device->SetTexture(stage, native(texture)));
}

int32_t setVertexShader(uint32_t fvf) {
    return device ? result(device->SetVertexShader(fvf)) : -1;
}

int32_t setStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t stride) {
    return device ? result(device->SetStreamSource(stream, native(buffer), stride)) : -1;
}

int32_t setIndices(IndexBuffer* buffer, uint32_t baseVertexIndex) {
    return device ? result(device->SetIndices(native(buffer), baseVertexIndex)) : -1;
}

int32_t setTransform(uint32_t which, const float matrix[16]) {
    if (!device || !matrix) return -1;
    return result(device->SetTransform(D3DTRANSFORMSTATETYPE(which),
                                       reinterpret_cast<const D3DMATRIX*>(matrix)));
}

int32_t setLight(uint32_t index, const Light* light) {
    if (!device || !light) return -1;
    return result(device->SetLight(index, reinterpret_cast<const D3DLIGHT8*>(light)));
}

int32_t lightEnable(uint32_t index, int32_t enable) {
    return device ? result(device->LightEnable(index, enable != 0)) : -1;
}

int32_t setMaterial(const Material* material) {
    if (!device || !material) return -1;
    return result(device->SetMaterial(reinterpret_cast<const D3DMATERIAL8*>(material)));
}

// ---- Drawing ----

int32_t drawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount) {
    if (!device) return -1;
    return result(device->DrawPrimitive(D3DPRIMITIVETYPE(type), startVertex, primitiveCount));
}

int32_t drawIndexedPrimitive(uint32_t type, uint32_t minIndex, uint32_t vertexCount,
                             uint32_t startIndex, uint32_t primitiveCount) {
    if (!device) return -1;
    return result(device->DrawIndexedPrimitive(D3DPRIMITIVETYPE(type), minIndex, vertexCount,
                                               startIndex, primitiveCount));
}

int32_t drawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices,
                        uint32_t stride) {
    if (!device) return -1;
    return result(
        device->DrawPrimitiveUP(D3DPRIMITIVETYPE(type), primitiveCount, vertices, stride));
}

// ---- Textures and their level surfaces ----

int32_t createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                      uint32_t format, uint32_t pool, Texture** texture) {
    if (!texture) return -1;
    *texture = nullptr;
    if (!device) return -1;
    IDirect3DTexture8* created = nullptr;
    const HRESULT hr = device->CreateTexture(width, height, levels, usage, D3DFORMAT(format),
                                             D3DPOOL(pool), &created);
    if (FAILED(hr)) return result(hr);
    *texture = reinterpret_cast<Texture*>(created);
    return 0;
}

uint32_t textureLevelCount(Texture* texture) {
    return texture ? native(texture)->GetLevelCount() : 0;
}

int32_t textureSurfaceLevel(Texture* texture, uint32_t level, Surface** surface) {
    if (!surface) return -1;
    *surface = nullptr;
    if (!texture) return -1;
    IDirect3DSurface8* got = nullptr;
    const HRESULT hr = native(texture)->GetSurfaceLevel(level, &got);
    if (FAILED(hr)) return result(hr);
    *surface = reinterpret_cast<Surface*>(got);
    return 0;
}

int32_t surfaceDesc(Surface* surface, SurfaceDesc* desc) {
    if (!surface || !desc) return -1;
    D3DSURFACE_DESC d{};
    const HRESULT hr = native(surface)->GetDesc(&d);
    if (FAILED(hr)) return result(hr);
    desc->format = uint32_t(d.Format);
    desc->width = d.Width;
    desc->height = d.Height;
    desc->size = d.Size;
    return 0;
}

int32_t surfaceLock(Surface* surface, LockedRect* locked, uint32_t flags) {
    if (!locked) return -1;
    locked->pitch = 0;
    locked->bits = nullptr;
    if (!surface) return -1;
    D3DLOCKED_RECT rect{};
    const HRESULT hr = native(surface)->LockRect(&rect, nullptr, flags);
    if (FAILED(hr)) return result(hr);
    locked->pitch = rect.Pitch;
    locked->bits = rect.pBits;
    return 0;
}

int32_t surfaceUnlock(Surface* surface) {
    return surface ? result(native(surface)->UnlockRect()) : -1;
}

void releaseSurface(Surface* surface) {
    if (surface) native(surface)->Release();
}

void releaseTexture(Texture* texture) {
    if (texture) native(texture)->Release();
}

// ---- Vertex and index buffers ----

int32_t createVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                           VertexBuffer** buffer) {
    if (!buffer) return -1;
    *buffer = nullptr;
    if (!device) return -1;
    IDirect3DVertexBuffer8* created = nullptr;
    const HRESULT hr = device->CreateVertexBuffer(length, usage, fvf, D3DPOOL(pool), &created);
    if (FAILED(hr)) return result(hr);
    *buffer = reinterpret_cast<VertexBuffer*>(created);
    return 0;
}

int32_t lockVertexBuffer(VertexBuffer* buffer, uint32_t offset, uint32_t size, void** data,
                         uint32_t flags) {
    if (!data) return -1;
    *data = nullptr;
    if (!buffer) return -1;
    BYTE* bytes = nullptr;
    const HRESULT hr = native(buffer)->Lock(offset, size, &bytes, flags);
    if (FAILED(hr)) return result(hr);
    *data = bytes;
    return 0;
}

int32_t unlockVertexBuffer(VertexBuffer* buffer) {
    return buffer ? result(native(buffer)->Unlock()) : -1;
}

void releaseVertexBuffer(VertexBuffer* buffer) {
    if (buffer) native(buffer)->Release();
}

int32_t createIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool,
                          IndexBuffer** buffer) {
    if (!buffer) return -1;
    *buffer = nullptr;
    if (!device) return -1;
    IDirect3DIndexBuffer8* created = nullptr;
    const HRESULT hr =
        device->CreateIndexBuffer(length, usage, D3DFORMAT(format), D3DPOOL(pool), &created);
    if (FAILED(hr)) return result(hr);
    *buffer = reinterpret_cast<IndexBuffer*>(created);
    return 0;
}

int32_t lockIndexBuffer(IndexBuffer* buffer, uint32_t offset, uint32_t size, void** data,
                        uint32_t flags) {
    if (!data) return -1;
    *data = nullptr;
    if (!buffer) return -1;
    BYTE* bytes = nullptr;
    const HRESULT hr = native(buffer)->Lock(offset, size, &bytes, flags);
    if (FAILED(hr)) return result(hr);
    *data = bytes;
    return 0;
}

int32_t unlockIndexBuffer(IndexBuffer* buffer) {
    return buffer ? result(native(buffer)->Unlock()) : -1;
}

void releaseIndexBuffer(IndexBuffer* buffer) {
    if (buffer) native(buffer)->Release();
}
