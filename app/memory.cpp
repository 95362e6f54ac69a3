// Memory blocks over the platform's zero-filling heap (app/heap.h). The margins
// are never written or read; they keep the layout the rest of the program was
// written against (pointer - 16 is the start of the heap allocation).
#include "app/memory.h"

#include "app/heap.h"

#include <cstdio>
#include <cstdlib>

namespace {
constexpr int64_t margin = 16;

[[noreturn]] void defaultExhausted(const char* message) {
    std::fprintf(stderr, "velmora: %s\n", message);
    std::exit(1);
}

void (*exhaustedHandler)(const char*) = nullptr;

[[noreturn]] void exhausted() {
    const char* message = "Out of memory";
    if (exhaustedHandler) exhaustedHandler(message);
    defaultExhausted(message);
}
} // namespace

void setMemoryExhaustedHandler(void (*handler)(const char* message)) {
    exhaustedHandler = handler;
}

void* allocBlock(int32_t size) {
    // A negative size can only come from an overflowed count; treat it as exhaustion.
    if (size < 0) exhausted();
    auto* base =
        static_cast<unsigned char*>(heapAllocateZeroed(static_cast<size_t>(size + 2 * margin)));
    if (!base) exhausted();
    return base + margin;
}

void* allocArray(int32_t count, int32_t size) {
    int64_t total = int64_t(count) * int64_t(size);
    if (count < 0 || size < 0 || total > INT32_MAX) exhausted();
    // The heap already zero-fills the whole block.
    return allocBlock(static_cast<int32_t>(total));
}

void freeBlock(void* pointer) {
    if (!pointer) return;
    heapRelease(static_cast<unsigned char*>(pointer) - margin);
}
