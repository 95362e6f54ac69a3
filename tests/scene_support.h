// Helpers shared by the main-scene plugin tests on the recording device.
#pragma once
#include "tests/effects_support.h"

#include "gfx/device.h"

#include <gtest/gtest.h>

// The baseline the shell sets before any plugin starts, as the device would then
// hold it, with a scene open for the draws.
inline void startScene() {
    recordReset();
    for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
        setTextureStageState(0, filter, filterLinear);
    setRenderState(rsLighting, 0);
    setRenderState(rsZEnable, 1);
    deviceBeginScene();
}

// The baseline every plugin puts back at its end (culling aside).
inline void expectBaseline() {
    EXPECT_EQ(recordedState(rsZEnable), 1u);
    EXPECT_EQ(recordedState(rsAlphaBlendEnable), 0u);
    EXPECT_EQ(recordedState(rsLighting), 0u);
    EXPECT_EQ(recordedState(rsSpecularEnable), 0u);
    EXPECT_EQ(recordedTextureStageState(0, tssAlphaOp), topSelectArg1);
    for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
        EXPECT_EQ(recordedTextureStageState(0, filter), filterLinear);
}
