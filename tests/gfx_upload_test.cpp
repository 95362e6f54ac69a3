// Texture upload and the recording device's own rules, checked without a display.
#include "gfx/device_record.h"
#include "gfx/upload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

namespace {

std::vector<uint8_t> pattern(size_t bytes, uint8_t seed) {
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i)
        data[i] = uint8_t(i * 7 + seed + (i >> 8));
    return data;
}

uint32_t outstandingSurfaceRefs() {
    // Live objects minus live textures: what is left are surface references.
    uint32_t textures = 0;
    for (uint32_t id = 1; recordedTexture(id); ++id)
        textures += recordedTexture(id)->released ? 0 : 1;
    return recordLiveObjects() - textures;
}

class UploadTest : public ::testing::Test {
  protected:
    void SetUp() override { recordReset(); }
    void TearDown() override { recordReset(); }
};

TEST_F(UploadTest, SingleLevelFillsLevelZeroRowByRowWhateverThePitch) {
    // A 256 x 256 R5G6B5 image of 131072 bytes.
    std::vector<uint8_t> source = pattern(131072, 3);
    Texture* texture = nullptr;
    ASSERT_EQ(uploadTexture(source.data(), &texture, 256, 256, fmtR5G6B5, 0), 0);
    ASSERT_NE(texture, nullptr);

    const RecordedTexture* record = recordedTexture(recordedTextureId(texture));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->levels, 1u);
    EXPECT_EQ(record->pool, poolManaged);
    EXPECT_EQ(record->usage, 0u);
    EXPECT_EQ(record->levelBytes[0], source);
    EXPECT_FALSE(record->paddingWritten);
    EXPECT_EQ(record->unlocks, 1u);

    // The lock really had a pitch longer than the 512-byte row.
    auto locks = recordedCallsOf(CallKind::surfaceLock);
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_EQ(locks[0]->args[2], 512u + recordPitchPadding);
    EXPECT_EQ(locks[0]->args[1], 0u); // lock flags 0

    // Every surface reference was given back; releasing the texture leaves nothing.
    EXPECT_EQ(outstandingSurfaceRefs(), 0u);
    releaseTexture(texture);
    EXPECT_EQ(recordLiveObjects(), 0u);

    // Three-byte and four-byte pixels take the same row-by-row path.
    std::vector<uint8_t> rgb = pattern(5 * 3 * 3, 9);
    ASSERT_EQ(uploadTexture(rgb.data(), &texture, 5, 3, fmtR8G8B8, 0), 0);
    EXPECT_EQ(recordedTexture(recordedTextureId(texture))->levelBytes[0], rgb);
    releaseTexture(texture);
}

TEST_F(UploadTest, RefusedFormatsFailAfterTheTextureWasCreated) {
    std::vector<uint8_t> source = pattern(64 * 64 * 4, 1);
    for (uint32_t format : {fmtX8R8G8B8, fmtX1R5G5B5}) {
        recordReset();
        Texture* texture = nullptr;
        EXPECT_EQ(uploadTexture(source.data(), &texture, 64, 64, format, 0), -1);
        // The texture stays in the out parameter for the caller's shutdown to release.
        ASSERT_NE(texture, nullptr);
        auto creates = recordedCallsOf(CallKind::createTexture);
        ASSERT_EQ(creates.size(), 1u);
        EXPECT_EQ(creates[0]->result, 0);
        EXPECT_TRUE(recordedCallsOf(CallKind::surfaceLock).empty());
        EXPECT_EQ(outstandingSurfaceRefs(), 0u);
        releaseTexture(texture);
        EXPECT_EQ(recordLiveObjects(), 0u);
    }
    // Sizes no texture can have fail before anything is created.
    Texture* texture = nullptr;
    EXPECT_EQ(uploadTexture(source.data(), &texture, 0, 64, fmtR5G6B5, 0), -1);
    EXPECT_EQ(uploadTexture(source.data(), &texture, 64, -1, fmtR5G6B5, 0), -1);
    EXPECT_EQ(recordLiveObjects(), 0u);
}

TEST_F(UploadTest, MipChainTakesEachLevelRightAfterThePrevious) {
    // 16 x 16 R8G8B8: levels 16, 8, 4, 2, 1 with rows of 48, 24, 12, 6, 3 bytes.
    size_t total = 0;
    for (uint32_t k = 0; k < 5; ++k)
        total += size_t(16 >> k) * (48 >> k);
    std::vector<uint8_t> source = pattern(total, 5);
    Texture* texture = nullptr;
    ASSERT_EQ(uploadTexture(source.data(), &texture, 16, 16, fmtR8G8B8, 1), 0);
    const RecordedTexture* record = recordedTexture(recordedTextureId(texture));
    ASSERT_EQ(record->levels, 5u);
    size_t offset = 0;
    for (uint32_t k = 0; k < 5; ++k) {
        size_t bytes = size_t(16 >> k) * (48 >> k);
        std::vector<uint8_t> expected(source.begin() + offset, source.begin() + offset + bytes);
        EXPECT_EQ(record->levelBytes[k], expected) << "level " << k;
        offset += bytes;
    }
    EXPECT_FALSE(record->paddingWritten);
    EXPECT_EQ(outstandingSurfaceRefs(), 0u);
    releaseTexture(texture);

    // A flat chain: level k still gets (H0 >> k) rows, none once that reaches 0.
    std::vector<uint8_t> flat = pattern(8 * 2 * 2 + 4 * 1 * 2, 11);
    ASSERT_EQ(uploadTexture(flat.data(), &texture, 8, 2, fmtA4R4G4B4, 1), 0);
    record = recordedTexture(recordedTextureId(texture));
    ASSERT_EQ(record->levels, 4u);
    EXPECT_EQ(record->levelBytes[0], std::vector<uint8_t>(flat.begin(), flat.begin() + 32));
    EXPECT_EQ(record->levelBytes[1], std::vector<uint8_t>(flat.begin() + 32, flat.end()));
    EXPECT_EQ(record->levelBytes[2], std::vector<uint8_t>(4, 0));
    EXPECT_EQ(record->levelBytes[3], std::vector<uint8_t>(2, 0));
    EXPECT_EQ(record->unlocks, 4u); // every level is locked and unlocked
    releaseTexture(texture);
}

TEST_F(UploadTest, CompressedLevelsAreCopiedWholeEachAtItsOwnSize) {
    // One DXT1 level of 8 x 8: 2 x 2 blocks of 8 bytes.
    std::vector<uint8_t> dxt1 = pattern(32, 2);
    Texture* texture = nullptr;
    ASSERT_EQ(uploadTexture(dxt1.data(), &texture, 8, 8, fmtDXT1, 0), 0);
    EXPECT_EQ(recordedTexture(recordedTextureId(texture))->levelBytes[0], dxt1);
    releaseTexture(texture);

    // A DXT5 chain of 8 x 8: 64, 16, 16 and 16 bytes; the small levels must not be
    // given level 0's 64 bytes.
    std::vector<uint8_t> dxt5 = pattern(64 + 16 * 3, 4);
    ASSERT_EQ(uploadTexture(dxt5.data(), &texture, 8, 8, fmtDXT5, 1), 0);
    const RecordedTexture* record = recordedTexture(recordedTextureId(texture));
    ASSERT_EQ(record->levels, 4u);
    EXPECT_EQ(record->levelBytes[0], std::vector<uint8_t>(dxt5.begin(), dxt5.begin() + 64));
    for (uint32_t k = 1; k < 4; ++k)
        EXPECT_EQ(record->levelBytes[k], std::vector<uint8_t>(dxt5.begin() + 64 + 16 * (k - 1),
                                                              dxt5.begin() + 64 + 16 * k));
    releaseTexture(texture);
}

TEST_F(UploadTest, EveryFailingStepReportsFailureAndKeepsNoSurface) {
    std::vector<uint8_t> source = pattern(32 * 32 * 2, 8);
    struct Case {
        RecordFault fault;
        uint32_t n;
        bool textureKept;
    };
    const Case cases[] = {
        {RecordFault::createTexture, 1, false},
        {RecordFault::surfaceLevel, 1, true}, // level 0 for the description
        {RecordFault::surfaceLevel, 2, true}, // level 0 again, for the copy
        {RecordFault::surfaceLock, 1, true},
        {RecordFault::surfaceUnlock, 1, true},
    };
    for (const Case& c : cases) {
        recordReset();
        recordFailNth(c.fault, c.n);
        Texture* texture = nullptr;
        EXPECT_EQ(uploadTexture(source.data(), &texture, 32, 32, fmtA4R4G4B4, 0), -1)
            << int(c.fault) << "/" << c.n;
        EXPECT_EQ(texture != nullptr, c.textureKept) << int(c.fault) << "/" << c.n;
        EXPECT_EQ(outstandingSurfaceRefs(), 0u) << int(c.fault) << "/" << c.n;
        releaseTexture(texture);
        EXPECT_EQ(recordLiveObjects(), 0u);
    }
    // A failure set for a later call leaves earlier ones alone.
    recordReset();
    recordFailNth(RecordFault::createTexture, 2);
    Texture* first = nullptr;
    Texture* second = nullptr;
    EXPECT_EQ(uploadTexture(source.data(), &first, 32, 32, fmtA4R4G4B4, 0), 0);
    EXPECT_EQ(uploadTexture(source.data(), &second, 32, 32, fmtA4R4G4B4, 0), -1);
    EXPECT_EQ(uploadTexture(source.data(), &second, 32, 32, fmtA4R4G4B4, 0), 0);
    releaseTexture(first);
    releaseTexture(second);
}

} // namespace
