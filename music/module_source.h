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

void registerFileCallbacks(OpenCallback open, CloseCallback close, ReadCallback read,
                           SeekCallback seek, TellCallback tell);
bool fileCallbacksComplete();

// The application's callbacks over the embedded module image.
void* openModuleFile(const char* name);
void closeModuleFile(void* handle);
int32_t readModuleFile(void* destination, int32_t count, void* handle);
void seekModuleFile(void* handle, int32_t offset, int32_t mode);
int32_t tellModuleFile(void* handle);
