// Module source: the callback table, the memory file over the embedded module and the
// stream layer the loader reads through. Everything here runs on the main thread
// (registration at start-up, reads during loadSong).
#include "music/module_source.h"

#include "app/memory.h"
#include "assets/module_asset.h"

#include <cstring>

namespace {

struct FileCallbacks {
    OpenCallback open;
    CloseCallback close;
    ReadCallback read;
    SeekCallback seek;
    TellCallback tell;
};

FileCallbacks callbacks{};

} // namespace

// ---- Registration ----

void registerFileCallbacks(OpenCallback open, CloseCallback close, ReadCallback read,
                           SeekCallback seek, TellCallback tell) {
    if (open && close && read && seek && tell)
        callbacks = FileCallbacks{open, close, read, seek, tell};
    else
        callbacks = FileCallbacks{};
}

bool fileCallbacksComplete() {
    return callbacks.open && callbacks.close && callbacks.read && callbacks.seek && callbacks.tell;
}

// ---- Memory file ----

void* openMemoryFile(const uint8_t* bytes, int32_t size) {
    auto* file = static_cast<MemoryFile*>(allocBlock(sizeof(MemoryFile)));
    file->size = size < 0 ? 0 : size;
    file->position = 0;
    file->base = bytes;
    return file;
}

void* openModuleFile(const char*) {
    // The image starts with the module's byte count, 32-bit little-endian.
    uint32_t count = uint32_t(moduleImage[0]) | uint32_t(moduleImage[1]) << 8 |
                     uint32_t(moduleImage[2]) << 16 | uint32_t(moduleImage[3]) << 24;
    return openMemoryFile(moduleImage + 4, int32_t(count));
}

void closeModuleFile(void* handle) {
    freeBlock(handle);
}

int32_t readModuleFile(void* destination, int32_t count, void* handle) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (!file || count <= 0) return 0;
    // 64-bit sum: a count near the 32-bit limit must not wrap past the end test.
    if (int64_t(file->position) + count >= file->size) count = file->size - file->position;
    if (count > 0) std::memcpy(destination, file->base + file->position, size_t(count));
    file->position += count;
    return count;
}

void seekModuleFile(void* handle, int32_t offset, int32_t mode) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (!file) return;
    int64_t position;
    switch (mode) {
    case 0:
        position = offset;
        break;
    case 1:
        position = int64_t(file->position) + offset;
        break;
    case 2:
        position = int64_t(file->size) + offset;
        break;
    default:
        return;
    }
    // A target before the start clamps to 0, so no read can begin before the module.
    if (position < 0) position = 0;
    if (position > file->size) position = file->size;
    file->position = int32_t(position);
}

int32_t tellModuleFile(void* handle) {
    auto* file = static_cast<MemoryFile*>(handle);
    return file ? file->position : 0;
}

// ---- Stream layer ----

ModuleStream* openStream(const char* name) {
    // Without callbacks there is nothing to read from (a tool that never registered them).
    if (!fileCallbacksComplete()) return nullptr;
    auto* stream = static_cast<ModuleStream*>(allocBlock(sizeof(ModuleStream)));
    stream->handle = callbacks.open(name);
    if (!stream->handle) {
        freeBlock(stream);
        return nullptr;
    }
    return stream;
}

void closeStream(ModuleStream* stream) {
    if (!stream) return;
    callbacks.close(stream->handle);
    freeBlock(stream);
}

int32_t readStream(void* destination, int32_t count, ModuleStream* stream) {
    if (!stream) return 0;
    return callbacks.read(destination, count, stream->handle);
}

void seekStream(ModuleStream* stream, int32_t offset, int32_t mode) {
    if (!stream) return;
    callbacks.seek(stream->handle, offset, mode);
}

int32_t tellStream(ModuleStream* stream) {
    if (!stream) return 0;
    return callbacks.tell(stream->handle);
}
