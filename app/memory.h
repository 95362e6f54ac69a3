// The program's only allocator: zero-filled blocks with a 16-byte margin on each
// side of the caller's area. Exhausted memory never returns a null pointer: it
// ends the program through the handler the shell installs (fatalExit).
#pragma once
#include <cstdint>

void* allocBlock(int32_t size);
void* allocArray(int32_t count, int32_t size);
void freeBlock(void* pointer);

// Called with a message when the heap cannot satisfy a request; must not return.
// Until the shell installs fatalExit, the message goes to stderr and the process exits 1.
void setMemoryExhaustedHandler(void (*handler)(const char* message));
