// The module source: memory-file reads and seeks at and beyond both ends, the embedded
// image, callback registration and the stream layer's null cases. (Forwarding through a
// stream is exercised by every loader test.)
#include "assets/module_asset.h"
#include "music/module_source.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(MemoryFile, ReadsAndSeeksStayInsideTheFile) {
    const int32_t size = 70497;
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + 1);
    void* f = openMemoryFile(bytes.data(), size);
    // 10 bytes at size - 4: four are copied, the rest of the destination is untouched;
    // at the end nothing is copied. Negative counts, and counts passing 2^31, are safe.
    uint8_t buffer[16];
    std::memset(buffer, 0xAA, sizeof buffer);
    seekModuleFile(f, size - 4, 0);
    EXPECT_EQ(readModuleFile(buffer, 10, f), 4);
    EXPECT_TRUE(std::memcmp(buffer, &bytes[size - 4], 4) == 0 && buffer[4] == 0xAA);
    EXPECT_EQ(tellModuleFile(f), size);
    EXPECT_EQ(readModuleFile(buffer, 10, f), 0);
    seekModuleFile(f, -8, 2);
    EXPECT_EQ(readModuleFile(buffer, -5, f), 0);
    EXPECT_EQ(readModuleFile(buffer, INT32_MAX, f), 8);
    // Each seek from where the one before left off: targets past the end stop at the end,
    // unknown modes change nothing, targets before the start clamp to 0 without wrapping.
    const struct {
        int32_t offset, mode, position;
    } seeks[] = {{1000000, 0, size},  {0, 2, size},
                 {100000, 1, size},   {300, 0, 300},
                 {20, 1, 320},        {5, 3, 320},
                 {-321, 1, 0},        {-1, 0, 0},
                 {INT32_MIN, 2, 0},   {size - 1, 0, size - 1},
                 {INT32_MAX, 1, size}};
    for (const auto& s : seeks) {
        seekModuleFile(f, s.offset, s.mode);
        EXPECT_EQ(tellModuleFile(f), s.position) << s.offset << " from " << s.mode;
    }
    closeModuleFile(f);

    // The application's file over the embedded image: count first, then the XM bytes.
    auto* file = static_cast<MemoryFile*>(openModuleFile("ignored"));
    uint32_t count;
    std::memcpy(&count, moduleImage, 4);
    EXPECT_EQ(uint32_t(file->size), count);
    EXPECT_EQ(readModuleFile(buffer, 16, file), 16);
    EXPECT_EQ(std::memcmp(buffer, "Extended Module:", 16), 0);
    closeModuleFile(file);
}

int opens = 0;
void* failingOpen(const char*) {
    return ++opens, nullptr;
}

TEST(ModuleStream, RegistrationAndNullCases) {
    registerFileCallbacks(failingOpen, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    EXPECT_TRUE(fileCallbacksComplete());
    // A failing open gives no stream and leaves nothing allocated (LSan looks).
    EXPECT_EQ(openStream("x"), nullptr);
    EXPECT_EQ(opens, 1);
    // Four callbacks clear all five, and an empty table opens nothing.
    registerFileCallbacks(failingOpen, closeModuleFile, readModuleFile, seekModuleFile, nullptr);
    EXPECT_FALSE(fileCallbacksComplete());
    EXPECT_EQ(openStream(nullptr), nullptr);
    EXPECT_EQ(opens, 1);
    // The null stream reads nothing into the destination and reaches no callback.
    uint8_t buffer[4] = {0x11, 0x11, 0x11, 0x11};
    EXPECT_EQ(readStream(buffer, 4, nullptr), 0);
    EXPECT_EQ(buffer[0], 0x11);
    seekStream(nullptr, 5, 0);
    closeStream(nullptr);
    EXPECT_EQ(tellStream(nullptr), 0);
}

} // namespace
