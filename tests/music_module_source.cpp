// The module source: memory-file reads and seeks at and beyond the ends, callback
// registration, the stream layer's forwarding and its null cases, and the embedded image.
#include "assets/module_asset.h"
#include "music/module_source.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct OpenFile {
    std::vector<uint8_t> bytes;
    void* handle;
    MemoryFile* file() { return static_cast<MemoryFile*>(handle); }
};

OpenFile openBytes(size_t size) {
    OpenFile f;
    f.bytes.resize(size);
    for (size_t i = 0; i < size; ++i)
        f.bytes[i] = uint8_t(i * 7 + 1);
    f.handle = openMemoryFile(f.bytes.data(), int32_t(size));
    return f;
}

TEST(MemoryFile, ReadsStopAtTheEnd) {
    OpenFile f = openBytes(100);
    uint8_t buffer[16];

    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(readModuleFile(buffer, 10, f.handle), 10);
    EXPECT_EQ(std::memcmp(buffer, f.bytes.data(), 10), 0);
    EXPECT_EQ(tellModuleFile(f.handle), 10);

    // 10 bytes at size - 4: four are copied, the rest of the destination is untouched.
    seekModuleFile(f.handle, 96, 0);
    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(readModuleFile(buffer, 10, f.handle), 4);
    EXPECT_EQ(std::memcmp(buffer, f.bytes.data() + 96, 4), 0);
    EXPECT_EQ(buffer[4], 0xAA);
    EXPECT_EQ(tellModuleFile(f.handle), 100);

    // At the end nothing is copied.
    EXPECT_EQ(readModuleFile(buffer, 10, f.handle), 0);
    EXPECT_EQ(buffer[0], f.bytes[96]);
    EXPECT_EQ(tellModuleFile(f.handle), 100);

    // A negative count and a count near the 32-bit limit neither copy wildly nor wrap.
    seekModuleFile(f.handle, 50, 0);
    EXPECT_EQ(readModuleFile(buffer, -5, f.handle), 0);
    EXPECT_EQ(tellModuleFile(f.handle), 50);
    std::vector<uint8_t> big(100, 0);
    EXPECT_EQ(readModuleFile(big.data(), INT32_MAX, f.handle), 50);
    EXPECT_EQ(std::memcmp(big.data(), f.bytes.data() + 50, 50), 0);
    EXPECT_EQ(tellModuleFile(f.handle), 100);
    closeModuleFile(f.handle);
}

TEST(MemoryFile, SeeksStayInsideTheFile) {
    OpenFile f = openBytes(70497);
    seekModuleFile(f.handle, 1000000, 0);
    EXPECT_EQ(tellModuleFile(f.handle), 70497);
    seekModuleFile(f.handle, 10, 0);
    seekModuleFile(f.handle, 0, 2);
    EXPECT_EQ(tellModuleFile(f.handle), 70497);
    seekModuleFile(f.handle, -97, 2);
    EXPECT_EQ(tellModuleFile(f.handle), 70400);
    seekModuleFile(f.handle, 5, 0);
    seekModuleFile(f.handle, 100000, 1);
    EXPECT_EQ(tellModuleFile(f.handle), 70497);
    seekModuleFile(f.handle, 300, 0);
    seekModuleFile(f.handle, 20, 1);
    EXPECT_EQ(tellModuleFile(f.handle), 320);
    seekModuleFile(f.handle, 5, 3); // unknown mode: nothing changes
    seekModuleFile(f.handle, 5, -1);
    EXPECT_EQ(tellModuleFile(f.handle), 320);

    // Targets before the start clamp to 0, from every mode and without wrapping.
    seekModuleFile(f.handle, -1, 0);
    EXPECT_EQ(tellModuleFile(f.handle), 0);
    seekModuleFile(f.handle, 300, 0);
    seekModuleFile(f.handle, -301, 1);
    EXPECT_EQ(tellModuleFile(f.handle), 0);
    seekModuleFile(f.handle, -70498, 2);
    EXPECT_EQ(tellModuleFile(f.handle), 0);
    seekModuleFile(f.handle, INT32_MIN, 2);
    EXPECT_EQ(tellModuleFile(f.handle), 0);
    seekModuleFile(f.handle, 70000, 0);
    seekModuleFile(f.handle, INT32_MAX, 1);
    EXPECT_EQ(tellModuleFile(f.handle), 70497);
    uint8_t b = 0x55;
    EXPECT_EQ(readModuleFile(&b, 1, f.handle), 0);
    closeModuleFile(f.handle);
}

TEST(MemoryFile, EmbeddedImageIsServedWithItsCount) {
    void* handle = openModuleFile("ignored");
    auto* file = static_cast<MemoryFile*>(handle);
    uint32_t count = uint32_t(moduleImage[0]) | uint32_t(moduleImage[1]) << 8 |
                     uint32_t(moduleImage[2]) << 16 | uint32_t(moduleImage[3]) << 24;
    EXPECT_EQ(file->size, int32_t(count));
    EXPECT_EQ(file->position, 0);
    EXPECT_EQ(file->base, moduleImage + 4);
    char head[17];
    EXPECT_EQ(readModuleFile(head, 17, handle), 17);
    EXPECT_EQ(std::memcmp(head, "Extended Module: ", 17), 0);
    seekModuleFile(handle, 0, 2);
    EXPECT_EQ(tellModuleFile(handle), int32_t(count));
    closeModuleFile(handle);
}

// ---- Registration and the stream layer ----

struct Calls {
    int opens = 0, closes = 0;
    void* closedHandle = nullptr;
    void* readHandle = nullptr;
    int32_t readCount = 0;
    void* seekHandle = nullptr;
    int32_t seekOffset = 0, seekMode = 0;
    bool failOpen = false;
};
Calls calls;
int token;

void* recOpen(const char*) {
    ++calls.opens;
    return calls.failOpen ? nullptr : &token;
}
void recClose(void* h) {
    ++calls.closes;
    calls.closedHandle = h;
}
int32_t recRead(void* destination, int32_t count, void* h) {
    calls.readHandle = h;
    calls.readCount = count;
    std::memset(destination, 0x42, size_t(count));
    return count - 1;
}
void recSeek(void* h, int32_t offset, int32_t mode) {
    calls.seekHandle = h;
    calls.seekOffset = offset;
    calls.seekMode = mode;
}
int32_t recTell(void*) {
    return 1234;
}

TEST(FileCallbacks, AllFiveOrNone) {
    registerFileCallbacks(recOpen, recClose, recRead, recSeek, recTell);
    EXPECT_TRUE(fileCallbacksComplete());
    registerFileCallbacks(recOpen, recClose, recRead, recSeek, nullptr);
    EXPECT_FALSE(fileCallbacksComplete());
    // With the table cleared nothing can be opened, and no callback is reached.
    calls = {};
    EXPECT_EQ(openStream(nullptr), nullptr);
    EXPECT_EQ(calls.opens, 0);
    registerFileCallbacks(recOpen, recClose, recRead, recSeek, recTell);
    EXPECT_TRUE(fileCallbacksComplete());
    registerFileCallbacks(nullptr, recClose, recRead, recSeek, recTell);
    EXPECT_FALSE(fileCallbacksComplete());
}

TEST(ModuleStream, ForwardsToTheCallbacksWithItsHandle) {
    registerFileCallbacks(recOpen, recClose, recRead, recSeek, recTell);
    calls = {};
    ModuleStream* stream = openStream(nullptr);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->handle, &token);
    uint8_t buffer[8] = {};
    EXPECT_EQ(readStream(buffer, 8, stream), 7); // the callback's result, unexamined
    EXPECT_EQ(calls.readHandle, &token);
    EXPECT_EQ(calls.readCount, 8);
    EXPECT_EQ(buffer[7], 0x42);
    seekStream(stream, -12, 1);
    EXPECT_EQ(calls.seekHandle, &token);
    EXPECT_EQ(calls.seekOffset, -12);
    EXPECT_EQ(calls.seekMode, 1);
    EXPECT_EQ(tellStream(stream), 1234);
    closeStream(stream);
    EXPECT_EQ(calls.closes, 1);
    EXPECT_EQ(calls.closedHandle, &token);

    // A failing open gives no stream and nothing to close (LSan sees any leak).
    calls = {};
    calls.failOpen = true;
    EXPECT_EQ(openStream("x"), nullptr);
    EXPECT_EQ(calls.opens, 1);
    EXPECT_EQ(calls.closes, 0);

    // The null stream: no callback is reached and the destination stays as it was.
    calls = {};
    std::memset(buffer, 0x11, sizeof buffer);
    EXPECT_EQ(readStream(buffer, 8, nullptr), 0);
    EXPECT_EQ(buffer[0], 0x11);
    seekStream(nullptr, 5, 0);
    EXPECT_EQ(tellStream(nullptr), 0);
    closeStream(nullptr);
    EXPECT_EQ(calls.readCount, 0);
    EXPECT_EQ(calls.seekHandle, nullptr);
    EXPECT_EQ(calls.closes, 0);
}

} // namespace
