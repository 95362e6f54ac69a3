// The window procedure's table, and display selection over lists of modes.
#include "app/window_events.h"
#include "gfx/device.h"
#include "gfx/display.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

TEST(WindowProcedure, TableRows) {
    using K = WindowEventKind;
    struct Row {
        WindowEvent event;
        bool setsRunning;
        int32_t running;
        bool destroy, validate, defaultProcessing;
    };
    const Row rows[] = {
        {{K::activate, 1}, true, 1, false, false, true},
        {{K::activate, 0x00010000}, true, 0x00010000, false, false, true}, // minimised
        {{K::activate, 0}, true, 0, true, false, true},                    // switched away
        {{K::paint, 0}, false, 0, false, true, false},
        {{K::keyDown, keyEscape}, true, 0, false, false, true},
        {{K::keyDown, 'a'}, false, 0, false, false, true},
        {{K::keyDown, 28}, false, 0, false, false, true},
        {{K::destroy, 0}, true, 0, false, false, true},
        {{K::close, 0}, true, 0, false, false, true},
        {{K::quit, 0}, true, 0, false, false, true},
        {{K::other, keyEscape}, false, 0, false, false, true},
    };
    for (const Row& row : rows) {
        const WindowResponse r = windowProcedure(row.event);
        SCOPED_TRACE(testing::Message() << int(row.event.kind) << "/" << row.event.value);
        EXPECT_TRUE(r.setsRunning == row.setsRunning && r.destroyWindow == row.destroy &&
                    r.validate == row.validate && r.defaultProcessing == row.defaultProcessing);
        EXPECT_TRUE(!row.setsRunning || r.running == row.running);
        EXPECT_TRUE(row.defaultProcessing || r.result == 1);
    }
}

TEST(DisplaySelection, SdlFormatsMapToDirect3DCodes) {
    // Against SDL's own header, so that a mistyped constant shows.
    const uint32_t sdl[] = {
        SDL_PIXELFORMAT_BGR24,    SDL_PIXELFORMAT_RGB24,    SDL_PIXELFORMAT_ARGB8888,
        SDL_PIXELFORMAT_XRGB8888, SDL_PIXELFORMAT_RGB565,   SDL_PIXELFORMAT_RGB555,
        SDL_PIXELFORMAT_ARGB1555, SDL_PIXELFORMAT_ARGB4444, SDL_PIXELFORMAT_INDEX8,
        SDL_PIXELFORMAT_ABGR8888, SDL_PIXELFORMAT_BGR565};
    const uint32_t d3d[] = {
        fmtR8G8B8,   fmtR8G8B8,   fmtA8R8G8B8, fmtX8R8G8B8, fmtR5G6B5, fmtX1R5G5B5,
        fmtA1R5G5B5, fmtA4R4G4B4, 41,          0,           0};
    for (size_t i = 0; i < std::size(sdl); ++i)
        EXPECT_EQ(displayFormatCode(sdl[i]), d3d[i]) << SDL_GetPixelFormatName(sdl[i]);
}

std::vector<int32_t> order(DisplayCandidate* list) {
    std::vector<int32_t> indices;
    for (DisplayCandidate* c = list; c; c = c->next)
        indices.push_back(c->modeIndex);
    freeDisplayCandidates(list);
    return indices;
}

TEST(DisplaySelection, FilterOrderAndTies) {
    const DisplayMode modes[] = {
        {640, 480, 75, fmtX8R8G8B8}, {800, 600, 60, fmtX8R8G8B8}, {640, 480, 60, fmtR5G6B5},
        {640, 480, 60, fmtX8R8G8B8}, {640, 480, 60, fmtR8G8B8},   {640, 480, 256, fmtR8G8B8},
        {640, 480, 60, 41},          {640, 400, 60, fmtR8G8B8},   {640, 480, 0, fmtA4R4G4B4},
        {640, 480, 255, fmtR8G8B8},
    };
    // 20 before 22 before 23 before 26, 60 Hz before 75 Hz; no wrong sizes, no rate
    // above 255, no palettised mode.
    EXPECT_EQ(order(collectDisplayCandidates(modes, 10)), (std::vector<int32_t>{4, 9, 3, 0, 2, 8}));
    DisplayCandidate* first = collectDisplayCandidates(modes + 4, 1);
    EXPECT_EQ(first->sortKey, int32_t(20 << 16 | 60 << 8 | 71));
    freeDisplayCandidates(first);
    // Among equal keys the later-enumerated mode stands first.
    DisplayMode ties[5];
    for (int i = 0; i < 5; ++i)
        ties[i] = {640, 480, 60, i % 2 ? fmtR5G6B5 : fmtX8R8G8B8};
    EXPECT_EQ(order(collectDisplayCandidates(ties, 5)), (std::vector<int32_t>{4, 2, 0, 3, 1}));
    EXPECT_EQ(collectDisplayCandidates(modes + 6, 2), nullptr);

    // The device's own check (Direct3D 8: device type and depth buffer): refused
    // modes drop out, the depth format it names enters the key, and software vertex
    // processing sets the key's top bit for every candidate alike.
    auto check = [](const DisplayMode& mode, uint32_t* depth, void*) -> int32_t {
        if (mode.refreshRate == 75) return -1;
        *depth = mode.format == fmtR8G8B8 ? fmtD16 : fmtD32;
        return 0;
    };
    const DisplayModeFilter software{softwareVertexProcessing, check, nullptr};
    DisplayCandidate* list = collectDisplayCandidates(modes, 10, &software);
    EXPECT_EQ(order(list), (std::vector<int32_t>{4, 9, 3, 2, 8}));
    list = collectDisplayCandidates(modes + 4, 1, &software);
    EXPECT_EQ(list->sortKey, int32_t(0x80000000u | 20 << 16 | 60 << 8 | 80));
    EXPECT_TRUE(list->depthFormat == fmtD16 && list->behaviourFlags == softwareVertexProcessing);
    freeDisplayCandidates(list);
}

// A scripted display: the attempts made, and which succeed.
using Attempt = std::pair<int32_t, int32_t>; // mode index (-1: desktop), depth bits
struct Script {
    std::vector<Attempt> tried;
    std::vector<Attempt> works;
    int32_t otherwise = attemptNoWindow;
};

int32_t scriptedAttempt(const DisplayCandidate* candidate, int32_t depthBits, void* context) {
    auto* script = static_cast<Script*>(context);
    const Attempt attempt{candidate ? candidate->modeIndex : -1, depthBits};
    script->tried.push_back(attempt);
    for (const Attempt& works : script->works)
        if (works == attempt) return attemptCreated;
    return script->otherwise;
}

TEST(DisplaySelection, AttemptsDepthsAndFallback) {
    const DisplayMode modes[] = {{640, 480, 75, fmtR5G6B5}, {640, 480, 60, fmtX8R8G8B8}};
    DisplayCandidate* list = collectDisplayCandidates(modes, 2);
    Script script{{}, {{0, 24}}};
    DisplayChoice choice = chooseDisplay(list, scriptedAttempt, &script);
    EXPECT_EQ(script.tried, (std::vector<Attempt>{{1, 32}, {1, 24}, {1, 16}, {0, 32}, {0, 24}}));
    EXPECT_EQ(choice.candidate, list->next);
    EXPECT_EQ(choice.depthBits, 24);
    EXPECT_EQ(choice.failure, nullptr);

    // No mode comes up: the desktop's own mode.
    script = Script{{}, {{-1, 16}}};
    choice = chooseDisplay(list, scriptedAttempt, &script);
    EXPECT_EQ(script.tried.size(), 9u);
    EXPECT_EQ(choice.candidate, nullptr);
    EXPECT_EQ(choice.depthBits, 16);
    // Not even that: which message depends on whether OpenGL was the obstacle.
    script = Script{};
    EXPECT_STREQ(chooseDisplay(list, scriptedAttempt, &script).failure,
                 "No valid video mode found");
    script = Script{{}, {}, attemptNoContext};
    EXPECT_STREQ(chooseDisplay(nullptr, scriptedAttempt, &script).failure, "OpenGL 2.1 needed");
    EXPECT_EQ(script.tried, (std::vector<Attempt>{{-1, 32}, {-1, 24}, {-1, 16}}));
    freeDisplayCandidates(list);
}

TEST(DisplaySelection, PictureFitsAt4To3WithBars) {
    const int32_t cases[][6] = {{640, 480, 0, 0, 640, 480},
                                {1920, 1080, 240, 0, 1440, 1080},
                                {1366, 768, 171, 0, 1024, 768},
                                {1280, 1024, 0, 32, 1280, 960}};
    for (const auto& c : cases) {
        const DisplayViewport v = fitPicture(c[0], c[1]);
        EXPECT_TRUE(v.x == c[2] && v.y == c[3] && v.width == c[4] && v.height == c[5]) << c[0];
    }
}

} // namespace
