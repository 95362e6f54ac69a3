// The performance counter over SDL's high-resolution counter (library
// vm_counter_sdl). Safe on any thread; SDL needs no initialisation for it.
#include "app/counter.h"

#include <SDL.h>

uint64_t readCounter() {
    return SDL_GetPerformanceCounter();
}

uint64_t counterFrequency() {
    return SDL_GetPerformanceFrequency();
}
