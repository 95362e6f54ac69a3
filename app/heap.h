// The heap under the memory blocks of memory.cpp, chosen at link time: the C
// library's (heap_crt.cpp, library vm_heap_crt) or the Windows process heap
// (heap_win32.cpp, library vm_heap_win32). Any thread.
#pragma once
#include <cstddef>

// `bytes` zero-filled bytes; null when the heap cannot supply them.
void* heapAllocateZeroed(size_t bytes);
// Gives back a pointer that heapAllocateZeroed returned.
void heapRelease(void* base);
