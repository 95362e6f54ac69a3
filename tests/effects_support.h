// Helpers shared by the plugin tests that run against the recording device.
#pragma once
#include "gfx/device_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

// Offsets inside a vertex of format 0x144 (28 bytes) and 0x1C4 (32 bytes).
constexpr uint32_t vxX = 0, vxY = 4, vxZ = 8, vxRhw = 12, vxDiffuse = 16;
constexpr uint32_t vxU = 20, vxV = 24; // format 0x144
constexpr uint32_t vxSpecular = 20;    // format 0x1C4

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

// Render states as state, value pairs.
using StateList = std::initializer_list<uint32_t>;

// Render states in force for a draw, or (without one) on the device now.
inline void expectStates(const DrawState& s, StateList states) {
    for (auto p = states.begin(); p + 1 < states.end(); p += 2)
        EXPECT_EQ(s.renderStates[p[0]], p[1]) << "render state " << p[0];
}
inline void expectStates(StateList states) {
    for (auto p = states.begin(); p + 1 < states.end(); p += 2)
        EXPECT_EQ(recordedState(p[0]), p[1]) << "render state " << p[0];
}

// A scene open on the baseline the shell sets before any plugin starts.
inline void startScene() {
    recordReset();
    for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
        setTextureStageState(0, filter, filterLinear);
    setRenderState(rsLighting, 0);
    deviceBeginScene();
}

// The baseline every main-scene render puts back at its end (culling aside).
inline void expectBaseline() {
    expectStates({rsZEnable, 1, rsAlphaBlendEnable, 0, rsLighting, 0, rsSpecularEnable, 0});
    EXPECT_EQ(recordedTextureStageState(0, tssAlphaOp), topSelectArg1);
    for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
        EXPECT_EQ(recordedTextureStageState(0, filter), filterLinear);
}
