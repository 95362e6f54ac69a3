// The embedded music module (assets/data/module.bin, made by the generator).
// Layout: a 32-bit little-endian byte count, then that many bytes of an XM file.
#pragma once
#include <cstdint>

extern "C" {
extern const uint8_t moduleImage[];
}
