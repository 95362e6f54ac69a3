// Texture upload on the recording device: row-by-row copies through a padded pitch,
// mip chains (plain, flat and compressed), refused formats and every failing step.
#include "gfx/device_record.h"
#include "gfx/upload.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t bytes, uint8_t seed) {
    Bytes data(bytes);
    for (size_t i = 0; i < bytes; ++i)
        data[i] = uint8_t(i * 7 + seed + (i >> 8));
    return data;
}

// Consecutive slices of `source`, one per level size.
std::vector<Bytes> slices(const Bytes& source, std::initializer_list<size_t> sizes) {
    std::vector<Bytes> levels;
    size_t offset = 0;
    for (size_t size : sizes) {
        levels.emplace_back(source.begin() + offset, source.begin() + offset + size);
        offset += size;
    }
    return levels;
}

// Live objects minus live textures: what is left are surface references not given back.
uint32_t outstandingSurfaceRefs() {
    uint32_t textures = 0;
    for (uint32_t id = 1; recordedTexture(id); ++id)
        textures += recordedTexture(id)->released ? 0 : 1;
    return recordLiveObjects() - textures;
}

// Uploads into a fresh device; every level must hold exactly `levels`, each level locked
// and unlocked once, no pitch padding written and no surface reference kept.
void expectUpload(const Bytes& source, int w, int h, uint32_t format, int mips,
                  const std::vector<Bytes>& levels) {
    recordReset();
    Texture* texture = nullptr;
    ASSERT_EQ(uploadTexture(source.data(), &texture, w, h, format, mips), 0);
    const RecordedTexture* record = recordedTexture(recordedTextureId(texture));
    ASSERT_EQ(record->levels, levels.size());
    for (size_t k = 0; k < levels.size(); ++k)
        EXPECT_EQ(record->levelBytes[k], levels[k]) << "format " << format << " level " << k;
    EXPECT_FALSE(record->paddingWritten);
    EXPECT_EQ(record->unlocks, levels.size());
    EXPECT_EQ(outstandingSurfaceRefs(), 0u);
    releaseTexture(texture);
    EXPECT_EQ(recordLiveObjects(), 0u);
}

TEST(Upload, LevelsAreCopiedRowByRowThroughAPaddedPitch) {
    const Bytes image = pattern(131072, 3); // 256 x 256 R5G6B5
    expectUpload(image, 256, 256, fmtR5G6B5, 0, {image});
    auto locks = recordedCallsOf(CallKind::surfaceLock);
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_EQ(locks[0]->args[1], 0u); // no lock flags
    EXPECT_EQ(locks[0]->args[2], 512u + recordPitchPadding);
    const Bytes rgb = pattern(5 * 3 * 3, 9); // three-byte pixels, odd row length
    expectUpload(rgb, 5, 3, fmtR8G8B8, 0, {rgb});

    // 16 x 16 R8G8B8 chain: rows of 48, 24, 12, 6, 3 bytes, each level right after the last.
    const Bytes chain = pattern(768 + 192 + 48 + 12 + 3, 5);
    expectUpload(chain, 16, 16, fmtR8G8B8, 1, slices(chain, {768, 192, 48, 12, 3}));
    // A flat chain: level k still gets (H0 >> k) rows, none once that reaches 0.
    const Bytes flat = pattern(8 * 2 * 2 + 4 * 1 * 2, 11);
    std::vector<Bytes> flatLevels = slices(flat, {32, 8});
    flatLevels.insert(flatLevels.end(), {Bytes(4, 0), Bytes(2, 0)});
    expectUpload(flat, 8, 2, fmtA4R4G4B4, 1, flatLevels);
    // Compressed levels are copied whole at their own size: DXT5's small levels are one
    // 16-byte block each, not level 0's 64 bytes.
    const Bytes dxt1 = pattern(32, 2);
    expectUpload(dxt1, 8, 8, fmtDXT1, 0, {dxt1});
    const Bytes dxt5 = pattern(64 + 16 * 3, 4);
    expectUpload(dxt5, 8, 8, fmtDXT5, 1, slices(dxt5, {64, 16, 16, 16}));
}

TEST(Upload, FailuresAreReportedAndLeaveNoSurfaceBehind) {
    const Bytes source = pattern(64 * 64 * 4, 1);
    struct Case {
        uint32_t format;
        RecordFault fault;
        uint32_t n; // 0: no injected fault
        bool textureKept;
    };
    const Case cases[] = {
        // Refused formats: created (for the caller's shutdown to release), nothing copied.
        {fmtX8R8G8B8, RecordFault::createTexture, 0, true},
        {fmtX1R5G5B5, RecordFault::createTexture, 0, true},
        {fmtA4R4G4B4, RecordFault::createTexture, 1, false},
        {fmtA4R4G4B4, RecordFault::surfaceLevel, 1, true}, // level 0 for the description
        {fmtA4R4G4B4, RecordFault::surfaceLevel, 2, true}, // level 0 again, for the copy
        {fmtA4R4G4B4, RecordFault::surfaceLock, 1, true},
        {fmtA4R4G4B4, RecordFault::surfaceUnlock, 1, true},
    };
    for (const Case& c : cases) {
        recordReset();
        recordFailNth(c.fault, c.n);
        Texture* texture = nullptr;
        const std::string name = std::to_string(c.format) + "/" + std::to_string(int(c.fault)) +
                                 "/" + std::to_string(c.n);
        EXPECT_EQ(uploadTexture(source.data(), &texture, 64, 64, c.format, 0), -1) << name;
        EXPECT_EQ(texture != nullptr, c.textureKept) << name;
        EXPECT_TRUE(c.n > 0 || recordedCallsOf(CallKind::surfaceLock).empty()) << name;
        EXPECT_EQ(outstandingSurfaceRefs(), 0u) << name;
        releaseTexture(texture);
        EXPECT_EQ(recordLiveObjects(), 0u) << name;
    }
    // Sizes no texture can have fail before anything is created.
    Texture* texture = nullptr;
    EXPECT_EQ(uploadTexture(source.data(), &texture, 0, 64, fmtR5G6B5, 0), -1);
    EXPECT_EQ(uploadTexture(source.data(), &texture, 64, -1, fmtR5G6B5, 0), -1);
    EXPECT_EQ(recordLiveObjects(), 0u);
}

} // namespace
