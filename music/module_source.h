// Module source: the five file callbacks the player reads its module through,
// the application's in-memory file over the embedded module, and the stream
// layer the loader uses. Main thread only.
#pragma once
#include <cstdint>

using OpenCallback = void* (*)(const char* name);
using CloseCallback = void (*)(void* handle);
using ReadCallback = int32_t (*)(void* destination, int32_t count, void* handle);
using SeekCallback = void (*)(void* handle, int32_t offset, int32_t mode);
using TellCallback = int32_t (*)(void* handle);

// The callback table: all five set, or (when any argument is null) all five empty.
void registerFileCallbacks(OpenCallback open, CloseCallback close, ReadCallback read,
                           SeekCallback seek, TellCallback tell);
bool fileCallbacksComplete();

// ---- The application's callbacks over the embedded module image ----

// The read cursor over a module held in memory; never owns or copies the bytes.
struct MemoryFile {
    int32_t size;        // byte length of the module
    int32_t position;    // read cursor, 0..size
    const uint8_t* base; // first byte of the module
};

void* openModuleFile(const char* name); // a MemoryFile over the embedded module
void closeModuleFile(void* handle);
// Copies up to count bytes from the cursor; fewer (possibly none) at the end.
int32_t readModuleFile(void* destination, int32_t count, void* handle);
// Mode 0 from the start, 1 from the cursor, 2 from the end; any other mode does nothing.
// The result is kept within 0..size.
void seekModuleFile(void* handle, int32_t offset, int32_t mode);
int32_t tellModuleFile(void* handle);

// A MemoryFile over any bytes, for open callbacks of tools and tests; closeModuleFile
// releases it and the other callbacks above work on it.
void* openMemoryFile(const uint8_t* bytes, int32_t size);

// ---- The loader's stream over the registered callbacks ----

struct ModuleStream {
    void* handle; // what the open callback returned
};

// Null when the open callback fails or the callbacks are not registered.
ModuleStream* openStream(const char* name);
void closeStream(ModuleStream* stream);
// A null stream reads nothing and returns 0; otherwise the read callback's result.
int32_t readStream(void* destination, int32_t count, ModuleStream* stream);
void seekStream(ModuleStream* stream, int32_t offset, int32_t mode);
int32_t tellStream(ModuleStream* stream); // 0 for a null stream
