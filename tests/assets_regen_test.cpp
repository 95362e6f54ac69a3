// Regenerates every asset with velmora-assets into a temporary folder and compares the
// result byte for byte with the committed files, so the committed data is always what
// the generator makes. Skipped when the generator could not be built (no FreeType or
// libpng) or when its fonts are not installed.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<char> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> binNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".bin") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the generator into `root`; returns its exit code (-1 if it did not exit).
int runGenerator(const fs::path& root, bool dataOnly) {
    std::string command = std::string("timeout -k 5 120 '") + VELMORA_GENERATOR + "' " +
                          (dataOnly ? "--data-only " : "") + "'" + root.string() + "' 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct TempFolder {
    fs::path path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "velmora-assets-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

} // namespace

TEST(AssetRegeneration, GeneratorReproducesTheCommittedAssets) {
    if (std::string(VELMORA_GENERATOR).empty())
        GTEST_SKIP() << "velmora-assets was not built (FreeType or libpng missing): "
                        "install libfreetype-dev and libpng-dev to check the assets";
    TempFolder temp;
    ASSERT_FALSE(temp.path.empty());
    int code = runGenerator(temp.path, true);
    if (code == 3)
        GTEST_SKIP() << "the generator's fonts are not installed (fonts-jura, "
                        "fonts-league-spartan): the committed assets were not checked";
    ASSERT_EQ(code, 0) << "velmora-assets failed";

    fs::path committed = fs::path(VELMORA_SOURCE_DIR) / "assets" / "data";
    fs::path made = temp.path / "assets" / "data";
    ASSERT_EQ(binNames(made), binNames(committed)) << "the generator writes other files";
    for (const std::string& name : binNames(committed)) {
        std::vector<char> a = readAll(committed / name), b = readAll(made / name);
        if (a.size() != b.size()) {
            ADD_FAILURE() << name << " is " << a.size() << " bytes, the generator makes "
                          << b.size() << ": regenerate with velmora-assets";
            continue;
        }
        auto mismatch = std::mismatch(a.begin(), a.end(), b.begin());
        EXPECT_TRUE(mismatch.first == a.end())
            << name << " differs from byte " << (mismatch.first - a.begin())
            << ": regenerate with velmora-assets";
    }
}

TEST(AssetRegeneration, PreviewsAndBadArguments) {
    if (std::string(VELMORA_GENERATOR).empty()) GTEST_SKIP() << "velmora-assets was not built";
    TempFolder temp;
    int code = runGenerator(temp.path, false);
    if (code == 3) GTEST_SKIP() << "the generator's fonts are not installed";
    ASSERT_EQ(code, 0);
    const char* previews[] = {"opening_glyphs.png", "logo.png",          "panel_top.png",
                              "panel_bottom.png",   "scroller_font.png", "background.png"};
    for (const char* name : previews) {
        std::vector<char> png = readAll(temp.path / "docs" / name);
        ASSERT_GT(png.size(), 24u) << name;
        EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG") << name;
    }
    // Nothing half-written is left behind.
    for (const auto& entry : fs::recursive_directory_iterator(temp.path))
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();

    // A target that cannot be created is a failure with nothing written, and an
    // unknown option is a usage error.
    fs::path blocked = temp.path / "file";
    std::ofstream(blocked) << "x";
    EXPECT_EQ(runGenerator(blocked / "below", true), 1);
    std::string command =
        std::string("timeout -k 5 30 '") + VELMORA_GENERATOR + "' --bogus 2>/dev/null";
    int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
}
