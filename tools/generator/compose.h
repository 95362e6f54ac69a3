// The intro's music: composes the whole module and returns the bytes of its XM file.
#pragma once
#include <cstdint>
#include <vector>

std::vector<uint8_t> composeModule();
