// Fixed data of the effects: vertex arrays, the panels' trigger instruments, and the
// tube's material, light and matrices.
#pragma once
#include <cstdint>
#include <vector>

std::vector<uint8_t> panelTriggerData();   // 17 (top strip), 1 (bottom strip)
std::vector<uint8_t> panelVertexData();    // 48 vertices of 32 bytes
std::vector<uint8_t> backdropVertexData(); // 24 vertices of 28 bytes
std::vector<uint8_t> tubeMaterialData();   // 68 bytes
std::vector<uint8_t> tubeLightData();      // 104 bytes
std::vector<uint8_t> tubeViewData();       // 16 floats
std::vector<uint8_t> tubeProjectionData(); // 16 floats
