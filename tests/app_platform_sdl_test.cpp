// The SDL window layer without a screen (SDL's dummy video driver): translation of
// SDL events, the window record, message boxes falling back to stderr, exit codes.
#include "app/platform.h"
#include "app/window_events.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <string>

namespace {

class SdlWindowLayer : public testing::Test {
protected:
    static void SetUpTestSuite() {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
        startWindowSystem();
    }
    static void TearDownTestSuite() { SDL_Quit(); }
    void SetUp() override {
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
};

void pushWindowEvent(uint8_t which) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = which;
    ASSERT_EQ(SDL_PushEvent(&event), 1);
}

void pushKey(SDL_Keycode key) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = key;
    ASSERT_EQ(SDL_PushEvent(&event), 1);
}

TEST_F(SdlWindowLayer, TranslatesEventsInOrder) {
    pushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED);
    pushWindowEvent(SDL_WINDOWEVENT_EXPOSED);
    pushKey(SDLK_a);
    pushKey(SDLK_ESCAPE);
    pushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
    pushWindowEvent(SDL_WINDOWEVENT_CLOSE);
    pushWindowEvent(SDL_WINDOWEVENT_MOVED);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    SDL_PushEvent(&motion);

    struct Expected {
        WindowEventKind kind;
        uint32_t value;
    };
    const Expected expected[] = {
        {WindowEventKind::activate, 1}, {WindowEventKind::paint, 0},
        {WindowEventKind::keyDown, 'a'}, {WindowEventKind::keyDown, keyEscape},
        {WindowEventKind::activate, 0}, {WindowEventKind::close, 0},
        {WindowEventKind::other, 0},     {WindowEventKind::quit, 0},
        {WindowEventKind::other, 0},
    };
    for (const Expected& e : expected) {
        WindowEvent event{WindowEventKind::other, 12345};
        ASSERT_TRUE(pollWindowEvent(&event));
        EXPECT_EQ(event.kind, e.kind);
        EXPECT_EQ(event.value, e.value);
    }
    WindowEvent event;
    EXPECT_FALSE(pollWindowEvent(&event)); // nothing pending: no wait
}

TEST_F(SdlWindowLayer, WindowRecordAndMessages) {
    EXPECT_FALSE(destroyAppWindow(nullptr));
    AppWindow* window = createAppWindow("Velmora", "Velmora", 640, 480);
    ASSERT_NE(window, nullptr);
    showAppWindow(window); // no screen window yet: harmless
    EXPECT_TRUE(destroyAppWindow(window));
    EXPECT_FALSE(destroyAppWindow(window));
    showAppWindow(window);
    showCursor(false);
    showCursor(true);

    // No screen: the message goes to stderr and the call returns at once.
    testing::internal::CaptureStderr();
    showMessageBox("Velmora", "No valid video mode found");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Velmora: No valid video mode found\n");
}

TEST(SdlWindowLayerDeathTest, ExitCodes) {
    EXPECT_EXIT(exitProcess(0), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(exitProcess(1), testing::ExitedWithCode(1), "");
}

} // namespace
