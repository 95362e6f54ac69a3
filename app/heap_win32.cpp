// The heap under the memory blocks: the Windows process heap, which zero-fills on
// request (library vm_heap_win32). Any thread: the process heap is serialised.
#include "app/heap.h"

#include <windows.h>

void* heapAllocateZeroed(size_t bytes) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void heapRelease(void* base) {
    HeapFree(GetProcessHeap(), 0, base);
}
