// Helpers shared by the plugin tests that run against the recording device.
#pragma once
#include "gfx/device_record.h"

#include <cstdint>
#include <vector>

// Offsets inside a vertex of format 0x144 (28 bytes) and 0x1C4 (32 bytes).
constexpr uint32_t vxX = 0, vxY = 4, vxZ = 8, vxRhw = 12, vxDiffuse = 16;
constexpr uint32_t vxU = 20, vxV = 24;                          // format 0x144
constexpr uint32_t vxSpecular = 20, vxSpecU = 24, vxSpecV = 28; // format 0x1C4

// The opaque grey the effects draw for a colour byte.
constexpr uint32_t greyOf(uint32_t level) {
    return 0xFF000000u | level * 0x010101u;
}

// Copies of the draws logged since the last recordClearLog, so they outlive the log.
inline std::vector<RecordedCall> copyDraws() {
    std::vector<RecordedCall> draws;
    for (const RecordedCall* call : recordedDraws())
        draws.push_back(*call);
    return draws;
}
