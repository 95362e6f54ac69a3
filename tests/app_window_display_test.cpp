// The window procedure's table, and display selection over lists of modes.
#include "app/window_events.h"
#include "gfx/device.h"
#include "gfx/display.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// ---- Window procedure ----

TEST(WindowProcedure, TableRows) {
    WindowResponse r = windowProcedure({WindowEventKind::activate, 1});
    EXPECT_TRUE(r.setsRunning);
    EXPECT_EQ(r.running, 1);
    EXPECT_FALSE(r.destroyWindow);
    EXPECT_TRUE(r.defaultProcessing);

    // Inactive but minimised: a non-zero value keeps the loop running.
    r = windowProcedure({WindowEventKind::activate, 0x00010000});
    EXPECT_TRUE(r.setsRunning);
    EXPECT_EQ(r.running, 0x00010000);
    EXPECT_FALSE(r.destroyWindow);

    // Switched away: running 0 and the window goes.
    r = windowProcedure({WindowEventKind::activate, 0});
    EXPECT_TRUE(r.setsRunning);
    EXPECT_EQ(r.running, 0);
    EXPECT_TRUE(r.destroyWindow);
    EXPECT_TRUE(r.defaultProcessing);

    r = windowProcedure({WindowEventKind::paint, 0});
    EXPECT_FALSE(r.setsRunning);
    EXPECT_TRUE(r.validate);
    EXPECT_FALSE(r.defaultProcessing);
    EXPECT_EQ(r.result, 1);

    r = windowProcedure({WindowEventKind::keyDown, keyEscape});
    EXPECT_TRUE(r.setsRunning);
    EXPECT_EQ(r.running, 0);
    EXPECT_FALSE(r.destroyWindow);
    EXPECT_TRUE(r.defaultProcessing);

    for (uint32_t key : {uint32_t('a'), 13u, 26u, 28u, 0x4000003Au /* F1 */}) {
        r = windowProcedure({WindowEventKind::keyDown, key});
        EXPECT_FALSE(r.setsRunning) << key;
        EXPECT_TRUE(r.defaultProcessing) << key;
    }

    for (WindowEventKind kind :
         {WindowEventKind::destroy, WindowEventKind::close, WindowEventKind::quit}) {
        r = windowProcedure({kind, 0});
        EXPECT_TRUE(r.setsRunning);
        EXPECT_EQ(r.running, 0);
        EXPECT_FALSE(r.destroyWindow);
        EXPECT_TRUE(r.defaultProcessing);
    }

    r = windowProcedure({WindowEventKind::other, 27});
    EXPECT_FALSE(r.setsRunning);
    EXPECT_FALSE(r.destroyWindow);
    EXPECT_FALSE(r.validate);
    EXPECT_TRUE(r.defaultProcessing);
}

// ---- Display selection ----

TEST(DisplaySelection, SdlFormatsMapToDirect3DCodes) {
    // Checked against SDL's own header, so that a mistyped constant shows here.
    EXPECT_EQ(displayFormatCode(SDL_PIXELFORMAT_BGR24), fmtR8G8B8);
    EXPECT_EQ(displayFormatCode(SDL_PIXELFORMAT_RGB24), fmtR8G8B8);
    EXPECT_EQ(displayFormatCode(SDL_PIXELFORMAT_ARGB8888), fmtA8R8G8B8);
    EXPECT_EQ(displayFormatCode(SDL_PIXELFORMAT_RGB888), fmtX8R8G8B8);
    EXPECT_EQ(displayFormatCode(SDL_PIXELFORMAT_XRGB8888), fmtX8R8G8B8);
    EXPECT_EQ(displayFormatCode(SDL_PIXELFORMAT_RGB565), fmtR5G6B5);
    EXPECT_EQ(displayFormatCode(SDL_PIXELFORMAT_RGB555), fmtX1R5G5B5);
    EXPECT_EQ(displayFormatCode(SDL_PIXELFORMAT_ARGB1555), fmtA1R5G5B5);
    EXPECT_EQ(displayFormatCode(SDL_PIXELFORMAT_ARGB4444), fmtA4R4G4B4);
    EXPECT_EQ(displayFormatCode(SDL_PIXELFORMAT_INDEX8), 41u);
    for (uint32_t other : {uint32_t(SDL_PIXELFORMAT_UNKNOWN), uint32_t(SDL_PIXELFORMAT_BGR888),
                           uint32_t(SDL_PIXELFORMAT_ABGR8888), uint32_t(SDL_PIXELFORMAT_RGBA8888),
                           uint32_t(SDL_PIXELFORMAT_BGR565), uint32_t(SDL_PIXELFORMAT_ARGB2101010)})
        EXPECT_EQ(displayFormatCode(other), 0u) << SDL_GetPixelFormatName(other);
}

std::vector<int32_t> order(const DisplayCandidate* list) {
    std::vector<int32_t> indices;
    for (; list; list = list->next) indices.push_back(list->modeIndex);
    return indices;
}

TEST(DisplaySelection, FilterAndOrder) {
    const DisplayMode modes[] = {
        {640, 480, 75, fmtX8R8G8B8}, // 0
        {800, 600, 60, fmtX8R8G8B8}, // 1: wrong size
        {640, 480, 60, fmtR5G6B5},   // 2
        {640, 480, 60, fmtX8R8G8B8}, // 3
        {640, 480, 60, fmtR8G8B8},   // 4
        {640, 480, 300, fmtR8G8B8},  // 5: the rate does not fit its byte
        {640, 480, 60, 41},          // 6: palettised
        {640, 480, 60, 0},           // 7: unknown format
        {640, 400, 60, fmtR8G8B8},   // 8: wrong height
        {640, 480, 0, fmtA4R4G4B4},  // 9: default rate
        {640, 480, 255, fmtR8G8B8},  // 10: the highest rate that fits
    };
    DisplayCandidate* list = collectDisplayCandidates(modes, 11);
    // R8G8B8 before X8R8G8B8 before R5G6B5 before A4R4G4B4; 60 Hz before 75 Hz.
    EXPECT_EQ(order(list), (std::vector<int32_t>{4, 10, 3, 0, 2, 9}));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->width, 640u);
    EXPECT_EQ(list->height, 480u);
    EXPECT_EQ(list->format, fmtR8G8B8);
    EXPECT_EQ(list->refreshRate, 60u);
    EXPECT_EQ(list->depthFormat, fmtD32);
    EXPECT_EQ(list->sortKey, int32_t(20 << 16 | 60 << 8 | 71));
    EXPECT_EQ(list->behaviourFlags, 0x40u);
    freeDisplayCandidates(list);

    // Only palettised or unknown formats, or no 640 x 480 at all: no candidate.
    const DisplayMode none[] = {{640, 480, 60, 41}, {640, 480, 60, 0}, {1920, 1080, 60, 22}};
    EXPECT_EQ(collectDisplayCandidates(none, 3), nullptr);
    EXPECT_EQ(collectDisplayCandidates(nullptr, 0), nullptr);
    freeDisplayCandidates(nullptr);
}

TEST(DisplaySelection, EqualKeysPutTheLaterModeFirst) {
    const DisplayMode modes[] = {
        {640, 480, 60, fmtX8R8G8B8}, // 0
        {640, 480, 60, fmtR5G6B5},   // 1
        {640, 480, 60, fmtX8R8G8B8}, // 2: same key as 0
        {640, 480, 60, fmtR5G6B5},   // 3: same key as 1
        {640, 480, 60, fmtX8R8G8B8}, // 4: same key as 0 and 2
    };
    DisplayCandidate* list = collectDisplayCandidates(modes, 5);
    EXPECT_EQ(order(list), (std::vector<int32_t>{4, 2, 0, 3, 1}));
    freeDisplayCandidates(list);
}

// A scripted display: which (mode, depth) attempts succeed or fail how.
struct Script {
    std::vector<std::pair<int32_t, int32_t>> tried; // mode index (-1: desktop), depth bits
    std::vector<std::pair<std::pair<int32_t, int32_t>, int32_t>> results;
    int32_t otherwise = attemptNoWindow;
};

int32_t scriptedAttempt(const DisplayCandidate* candidate, int32_t depthBits, void* context) {
    auto* script = static_cast<Script*>(context);
    const std::pair<int32_t, int32_t> key{candidate ? candidate->modeIndex : -1, depthBits};
    script->tried.push_back(key);
    for (const auto& [which, result] : script->results)
        if (which == key) return result;
    return script->otherwise;
}

using Tries = std::vector<std::pair<int32_t, int32_t>>;

TEST(DisplaySelection, AttemptsInOrderThenTheDesktopMode) {
    const DisplayMode modes[] = {{640, 480, 75, fmtR5G6B5}, {640, 480, 60, fmtX8R8G8B8}};
    DisplayCandidate* list = collectDisplayCandidates(modes, 2);

    // The first candidate fails at every depth; the second comes up with 24 bits.
    Script script;
    script.results = {{{0, 24}, attemptCreated}};
    DisplayChoice choice = chooseDisplay(list, scriptedAttempt, &script);
    EXPECT_EQ(script.tried, (Tries{{1, 32}, {1, 24}, {1, 16}, {0, 32}, {0, 24}}));
    ASSERT_NE(choice.candidate, nullptr);
    EXPECT_EQ(choice.candidate->modeIndex, 0);
    EXPECT_EQ(choice.depthBits, 24);
    EXPECT_EQ(choice.failure, nullptr);

    // The first that works wins.
    script = Script{};
    script.otherwise = attemptCreated;
    choice = chooseDisplay(list, scriptedAttempt, &script);
    EXPECT_EQ(script.tried, (Tries{{1, 32}}));
    EXPECT_EQ(choice.depthBits, 32);

    // No mode accepted: the desktop's own mode, 16 bits.
    script = Script{};
    script.results = {{{-1, 16}, attemptCreated}};
    choice = chooseDisplay(list, scriptedAttempt, &script);
    EXPECT_EQ(script.tried, (Tries{{1, 32}, {1, 24}, {1, 16}, {0, 32}, {0, 24}, {0, 16},
                                   {-1, 32}, {-1, 24}, {-1, 16}}));
    EXPECT_EQ(choice.candidate, nullptr);
    EXPECT_EQ(choice.depthBits, 16);
    EXPECT_EQ(choice.failure, nullptr);
    freeDisplayCandidates(list);

    // No 640 x 480 mode at all: straight to the desktop mode.
    script = Script{};
    script.results = {{{-1, 32}, attemptCreated}};
    choice = chooseDisplay(nullptr, scriptedAttempt, &script);
    EXPECT_EQ(script.tried, (Tries{{-1, 32}}));
    EXPECT_EQ(choice.candidate, nullptr);
    EXPECT_EQ(choice.depthBits, 32);
}

TEST(DisplaySelection, FailureMessages) {
    const DisplayMode modes[] = {{640, 480, 60, fmtX8R8G8B8}};
    DisplayCandidate* list = collectDisplayCandidates(modes, 1);

    // Nothing could be had, not even the desktop mode.
    Script script;
    DisplayChoice choice = chooseDisplay(list, scriptedAttempt, &script);
    EXPECT_EQ(script.tried.size(), 6u);
    EXPECT_EQ(choice.depthBits, 0);
    EXPECT_STREQ(choice.failure, "No valid video mode found");

    // Windows came up but OpenGL 2.1 never did.
    script = Script{};
    script.results = {{{0, 16}, attemptNoContext}};
    choice = chooseDisplay(list, scriptedAttempt, &script);
    EXPECT_STREQ(choice.failure, "OpenGL 2.1 needed");
    script = Script{};
    script.otherwise = attemptNoContext;
    choice = chooseDisplay(nullptr, scriptedAttempt, &script);
    EXPECT_EQ(script.tried.size(), 3u);
    EXPECT_STREQ(choice.failure, "OpenGL 2.1 needed");
    freeDisplayCandidates(list);
}

TEST(DisplaySelection, PictureFitsAt4To3WithBars) {
    auto fit = [](int32_t w, int32_t h) {
        const DisplayViewport v = fitPicture(w, h);
        return std::vector<int32_t>{v.x, v.y, v.width, v.height};
    };
    using V = std::vector<int32_t>;
    EXPECT_EQ(fit(640, 480), (V{0, 0, 640, 480}));
    EXPECT_EQ(fit(800, 600), (V{0, 0, 800, 600}));
    EXPECT_EQ(fit(1920, 1080), (V{240, 0, 1440, 1080}));
    EXPECT_EQ(fit(1024, 600), (V{112, 0, 800, 600}));
    EXPECT_EQ(fit(1366, 768), (V{171, 0, 1024, 768}));
    EXPECT_EQ(fit(1280, 1024), (V{0, 32, 1280, 960}));
    EXPECT_EQ(fit(1080, 1920), (V{0, 555, 1080, 810}));
    EXPECT_EQ(fit(0, 0), (V{0, 0, 640, 480}));
}

} // namespace
