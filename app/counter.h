// The performance counter, replaceable at link time: the SDL build reads SDL's
// high-resolution counter, the Windows build QueryPerformanceCounter, the web build
// the page's clock; tests and the offline capture drive a virtual one.
#pragma once
#include <cstdint>

uint64_t readCounter();
uint64_t counterFrequency();
