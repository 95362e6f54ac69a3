// The performance counter in a web page (library vm_counter_web): the page's
// monotonic clock (performance.now through emscripten_get_now) in microseconds.
// Browsers coarsen that clock to between 5 and 100 microseconds; the frame clock's
// 16.16 quantisation is coarser still. Main thread only.
#include "app/counter.h"

#include <emscripten.h>

uint64_t readCounter() {
    return static_cast<uint64_t>(emscripten_get_now() * 1000.0);
}

uint64_t counterFrequency() {
    return 1000000;
}
