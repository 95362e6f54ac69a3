// The heap under the memory blocks: the C library's calloc and free
// (library vm_heap_crt). Any thread.
#include "app/heap.h"

#include <cstdlib>

void* heapAllocateZeroed(size_t bytes) {
    return std::calloc(1, bytes);
}

void heapRelease(void* base) {
    std::free(base);
}
