// The window system over Win32 (library vm_platform_win32): COM, the window class
// and the popup window, the window procedure, which turns messages into neutral
// window events for the shell and carries out what the table answers (validation,
// default processing), the cursor, message boxes (mirrored on stderr) and process
// exit. Main thread only: Windows calls the window procedure on the thread that
// owns the window, from DispatchMessageA or from the calls that send messages
// (ShowWindow, DestroyWindow).
#include "app/platform.h"
#include "app/shell.h"
#include "app/window_events.h"
#include "app/window_win32.h"

#include <objbase.h>

#include <cstdio>
#include <cstdlib>

namespace {
HINSTANCE appInstance = nullptr;
AppWindow theWindow;
bool comStarted = false;
int32_t showCount = 0;
// While a message box of ours is open (the sound failure during start-up), the
// window's loss of activation to the box is not a switch away from the intro.
bool boxOpen = false;

WindowEvent translate(UINT message, WPARAM wParam) {
    switch (message) {
    case WM_ACTIVATE:
        // The whole value: the minimised flag sits in the high word.
        return {WindowEventKind::activate, static_cast<uint32_t>(wParam)};
    case WM_PAINT:
        return {WindowEventKind::paint, 0};
    case WM_KEYDOWN:
        return {WindowEventKind::keyDown, static_cast<uint32_t>(wParam)};
    case WM_DESTROY:
        return {WindowEventKind::destroy, 0};
    case WM_CLOSE:
        return {WindowEventKind::close, 0};
    case WM_QUIT:
        return {WindowEventKind::quit, 0};
    default:
        return {WindowEventKind::other, 0};
    }
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const WindowEvent event = translate(message, wParam);
    // Also when the default processing of WM_CLOSE destroys it.
    if (message == WM_DESTROY && window == theWindow.hwnd) theWindow.destroyed = true;
    if (event.kind == WindowEventKind::other ||
        (boxOpen && event.kind == WindowEventKind::activate))
        return DefWindowProcA(window, message, wParam, lParam);
    // The table is pure: asked here for what Windows needs answered, and once more by
    // the shell, which keeps `running` and destroys the window on a deactivation.
    const WindowResponse response = windowProcedure(event);
    dispatchWindowEvent(event);
    if (response.validate) ValidateRect(window, nullptr);
    if (!response.defaultProcessing) return response.result;
    return DefWindowProcA(window, message, wParam, lParam);
}
} // namespace

void setAppInstance(HINSTANCE instance) {
    appInstance = instance;
}

void startWindowSystem() {
    if (!appInstance) appInstance = GetModuleHandleA(nullptr);
    // COM is started with the window system and ended at the exit; nothing in
    // between depends on when exactly that happens.
    comStarted = SUCCEEDED(CoInitialize(nullptr));
}

AppWindow* createAppWindow(const char* className, const char* title, int32_t width,
                           int32_t height) {
    theWindow = AppWindow{};
    showCount = 0;
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = appInstance;
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    // Created visible, so it is activated at once: WM_ACTIVATE reaches the shell
    // before this call returns.
    theWindow.hwnd = CreateWindowExA(0, className, title, WS_POPUP | WS_VISIBLE, 0, 0, width,
                                     height, nullptr, nullptr, appInstance, nullptr);
    theWindow.destroyed = theWindow.hwnd == nullptr;
    return &theWindow;
}

void showAppWindow(AppWindow* window) {
    if (!window || window->destroyed) return;
    // Shown once while starting up, and again in the default way once the device,
    // the plugins and the sound are ready.
    ShowWindow(window->hwnd, showCount++ == 0 ? SW_SHOW : SW_SHOWDEFAULT);
    UpdateWindow(window->hwnd);
}

bool destroyAppWindow(AppWindow* window) {
    if (!window || window->destroyed) return false;
    // Marked first: destroying an active window sends it a deactivation, whose
    // answer asks for the window to be destroyed again.
    window->destroyed = true;
    DestroyWindow(window->hwnd);
    return true;
}

void showCursor(bool show) {
    ShowCursor(show ? TRUE : FALSE);
}

bool pollWindowEvent(WindowEvent* event) {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return false;
    if (message.message == WM_QUIT) {
        // Posted to the thread, not to a window: no procedure sees it.
        *event = {WindowEventKind::quit, 0};
        return true;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
    // The window procedure has handed the message to the shell already.
    *event = {WindowEventKind::other, 0};
    return true;
}

void showMessageBox(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    boxOpen = true;
    MessageBoxA(nullptr, text, caption, MB_OK);
    boxOpen = false;
    // The intro takes the activation back from the box; the window procedure hears
    // of it as usual.
    if (!theWindow.destroyed && theWindow.hwnd) SetForegroundWindow(theWindow.hwnd);
}

void exitProcess(int32_t code) {
    if (comStarted) CoUninitialize();
    comStarted = false;
    std::fflush(stdout);
    std::fflush(stderr);
    // The C runtime's exit handlers (the run statistics) run before ExitProcess.
    std::exit(code);
}
