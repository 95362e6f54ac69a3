// Helpers shared by the main-scene plugin tests on the recording device.
#pragma once
#include "tests/effects_support.h"

// A scene open on the baseline the shell sets before any plugin starts.
inline void startScene() {
    recordReset();
    for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
        setTextureStageState(0, filter, filterLinear);
    setRenderState(rsLighting, 0);
    deviceBeginScene();
}

// The baseline every render puts back at its end (culling aside).
inline void expectBaseline() {
    expectStates({{rsZEnable, 1}, {rsAlphaBlendEnable, 0}, {rsLighting, 0}, {rsSpecularEnable, 0}});
    EXPECT_EQ(recordedTextureStageState(0, tssAlphaOp), topSelectArg1);
    for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
        EXPECT_EQ(recordedTextureStageState(0, filter), filterLinear);
}
