// Display selection over plain lists of modes: format mapping, candidate filter and
// ordered insertion, the order of attempts and the fallback viewport. No platform
// calls; display_sdl.cpp carries the choice out. Main thread only.
#include "gfx/display.h"

#include "app/memory.h"
#include "gfx/device.h"

namespace {
// SDL's pixel format numbering: 1 << 28 | type << 24 | order << 20 | layout << 16 |
// bits << 8 | bytes.
constexpr uint32_t sdlFormat(uint32_t type, uint32_t order, uint32_t layout, uint32_t bits,
                             uint32_t bytes) {
    return 1u << 28 | type << 24 | order << 20 | layout << 16 | bits << 8 | bytes;
}
constexpr uint32_t typeIndex8 = 3, typePacked16 = 5, typePacked32 = 6, typeArrayU8 = 7;
constexpr uint32_t orderXrgb = 1, orderArgb = 3;         // packed orders
constexpr uint32_t orderArrayRgb = 1, orderArrayBgr = 4; // array orders
constexpr uint32_t layout4444 = 2, layout1555 = 3, layout565 = 5, layout8888 = 6;

constexpr uint32_t sdlIndex8 = sdlFormat(typeIndex8, 0, 0, 8, 1);
constexpr uint32_t sdlRgb24 = sdlFormat(typeArrayU8, orderArrayRgb, 0, 24, 3);
constexpr uint32_t sdlBgr24 = sdlFormat(typeArrayU8, orderArrayBgr, 0, 24, 3);
constexpr uint32_t sdlArgb8888 = sdlFormat(typePacked32, orderArgb, layout8888, 32, 4);
constexpr uint32_t sdlXrgb8888 = sdlFormat(typePacked32, orderXrgb, layout8888, 24, 4);
constexpr uint32_t sdlRgb565 = sdlFormat(typePacked16, orderXrgb, layout565, 16, 2);
constexpr uint32_t sdlXrgb1555 = sdlFormat(typePacked16, orderXrgb, layout1555, 15, 2);
constexpr uint32_t sdlArgb1555 = sdlFormat(typePacked16, orderArgb, layout1555, 16, 2);
constexpr uint32_t sdlArgb4444 = sdlFormat(typePacked16, orderArgb, layout4444, 16, 2);

constexpr uint32_t fmtP8 = 41;
} // namespace

uint32_t displayFormatCode(uint32_t sdlPixelFormat) {
    switch (sdlPixelFormat) {
    case sdlRgb24:
    case sdlBgr24:
        return fmtR8G8B8;
    case sdlArgb8888:
        return fmtA8R8G8B8;
    case sdlXrgb8888:
        return fmtX8R8G8B8;
    case sdlRgb565:
        return fmtR5G6B5;
    case sdlXrgb1555:
        return fmtX1R5G5B5;
    case sdlArgb1555:
        return fmtA1R5G5B5;
    case sdlArgb4444:
        return fmtA4R4G4B4;
    case sdlIndex8:
        return fmtP8;
    default:
        return 0;
    }
}

DisplayCandidate* collectDisplayCandidates(const DisplayMode* modes, int32_t count,
                                           const DisplayModeFilter* filter) {
    const uint32_t behaviour = filter ? filter->behaviourFlags : hardwareVertexProcessing;
    const uint32_t keyBit = behaviour == softwareVertexProcessing ? 0x80000000u : 0;
    DisplayCandidate* head = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        const DisplayMode& mode = modes[i];
        if (mode.width != 640 || mode.height != 480) continue;
        if (mode.format < fmtR8G8B8 || mode.format > fmtA4R4G4B4) continue;
        // The rate takes one byte of the key.
        if (mode.refreshRate > 255) continue;
        uint32_t depthFormat = fmtD32;
        if (filter && filter->check && filter->check(mode, &depthFormat, filter->context) != 0)
            continue;

        auto* node = static_cast<DisplayCandidate*>(allocBlock(sizeof(DisplayCandidate)));
        node->width = mode.width;
        node->height = mode.height;
        node->refreshRate = mode.refreshRate;
        node->format = mode.format;
        node->behaviourFlags = behaviour;
        node->depthFormat = depthFormat;
        node->sortKey =
            static_cast<int32_t>(keyBit | mode.format << 16 | mode.refreshRate << 8 | depthFormat);
        node->modeIndex = i;

        // Before the first node whose key is greater or equal: ascending keys, and
        // among equal keys the later-enumerated mode first.
        DisplayCandidate** link = &head;
        while (*link && (*link)->sortKey < node->sortKey)
            link = &(*link)->next;
        node->next = *link;
        *link = node;
    }
    return head;
}

void freeDisplayCandidates(DisplayCandidate* list) {
    while (list) {
        DisplayCandidate* next = list->next;
        freeBlock(list);
        list = next;
    }
}

DisplayChoice chooseDisplay(const DisplayCandidate* list, DisplayAttempt attempt, void* context) {
    bool contextMissing = false;
    auto tryDepths = [&](const DisplayCandidate* candidate) -> int32_t {
        for (int32_t bits : depthBitsOrder) {
            const int32_t result = attempt(candidate, bits, context);
            if (result == attemptCreated) return bits;
            if (result == attemptNoContext) contextMissing = true;
        }
        return 0;
    };
    for (const DisplayCandidate* candidate = list; candidate; candidate = candidate->next) {
        if (int32_t bits = tryDepths(candidate)) return {candidate, bits, nullptr};
    }
    // No 640 x 480 mode could be had (many displays offer none): the desktop's own
    // mode, with the picture scaled up.
    if (int32_t bits = tryDepths(nullptr)) return {nullptr, bits, nullptr};
    return {nullptr, 0, contextMissing ? noOpenGlMessage : noVideoModeMessage};
}

DisplayViewport fitPicture(int32_t screenWidth, int32_t screenHeight) {
    if (screenWidth <= 0 || screenHeight <= 0) return {0, 0, 640, 480};
    const int64_t w = screenWidth, h = screenHeight;
    if (w * 3 >= h * 4) {
        // Wider than 4:3: full height, bars left and right.
        const int32_t width = static_cast<int32_t>(h * 4 / 3);
        return {(screenWidth - width) / 2, 0, width, screenHeight};
    }
    const int32_t height = static_cast<int32_t>(w * 3 / 4);
    return {0, (screenHeight - height) / 2, screenWidth, height};
}
