// The performance counter over QueryPerformanceCounter and QueryPerformanceFrequency
// (library vm_counter_win32). Safe on any thread.
#include "app/counter.h"

#include <windows.h>

uint64_t readCounter() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<uint64_t>(count.QuadPart);
}

uint64_t counterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(frequency.QuadPart);
}
