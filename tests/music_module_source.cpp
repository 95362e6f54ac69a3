// The module source: memory-file reads and seeks at and beyond both ends, and callback
// registration. (Forwarding through a stream and the embedded image are exercised by
// the loader tests.)
#include "music/module_source.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Values = std::vector<int32_t>;

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
    EXPECT_EQ(Values({tellModuleFile(f), readModuleFile(buffer, 10, f)}), Values({size, 0}));
    seekModuleFile(f, -8, 2);
    EXPECT_EQ(Values({readModuleFile(buffer, -5, f), readModuleFile(buffer, INT32_MAX, f)}),
              Values({0, 8}));
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
}

int opens = 0;
void* failingOpen(const char*) {
    return ++opens, nullptr;
}

TEST(ModuleStream, Registration) {
    // A failing open gives no stream and leaves nothing allocated (LSan looks); four
    // callbacks clear all five, and an empty table opens nothing.
    registerFileCallbacks(failingOpen, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    EXPECT_TRUE(fileCallbacksComplete());
    EXPECT_EQ(openStream("x"), nullptr);
    registerFileCallbacks(failingOpen, closeModuleFile, readModuleFile, seekModuleFile, nullptr);
    EXPECT_FALSE(fileCallbacksComplete());
    EXPECT_EQ(openStream(nullptr), nullptr);
    EXPECT_EQ(opens, 1);
}

} // namespace
