// Helpers shared by the main-scene plugin tests on the recording device.
#pragma once
#include "tests/effects_support.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

using StateList = std::initializer_list<std::pair<uint32_t, uint32_t>>;

// A scene open on the baseline the shell sets before any plugin starts.
inline void startScene() {
    recordReset();
    for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
        setTextureStageState(0, filter, filterLinear);
    setRenderState(rsLighting, 0);
    deviceBeginScene();
}

inline void expectStates(const DrawState& s, StateList states) {
    for (auto [state, value] : states)
        EXPECT_EQ(s.renderStates[state], value) << "render state " << state;
}

// The baseline every render puts back at its end (culling aside).
inline void expectBaseline() {
    for (auto [state, value] : StateList{{rsZEnable, 1}, {rsAlphaBlendEnable, 0}})
        EXPECT_EQ(recordedState(state), value) << "render state " << state;
    EXPECT_EQ(recordedState(rsLighting) | recordedState(rsSpecularEnable), 0u);
    EXPECT_EQ(recordedTextureStageState(0, tssAlphaOp), topSelectArg1);
    for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
        EXPECT_EQ(recordedTextureStageState(0, filter), filterLinear);
}
