// The performance counter, replaceable at link time: the SDL build reads SDL's
// high-resolution counter; tests and the offline capture drive a virtual one.
#pragma once
#include <cstdint>

uint64_t readCounter();
uint64_t counterFrequency();
