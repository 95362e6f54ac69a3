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
#include <memory>
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

// Runs the generator with `arguments`; its exit code, or -1 if it did not exit.
int runGenerator(const std::string& arguments) {
    const std::string command =
        std::string("timeout -k 5 120 '") + VELMORA_GENERATOR + "' " + arguments + " 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(AssetRegeneration, GeneratorReproducesTheCommittedAssets) {
    if (std::string(VELMORA_GENERATOR).empty())
        GTEST_SKIP() << "velmora-assets was not built (FreeType or libpng missing): "
                        "install libfreetype-dev and libpng-dev to check the assets";
    std::string pattern = (fs::temp_directory_path() / "velmora-assets-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path root = pattern;
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> cleanup(
        &root, [](const fs::path* path) { fs::remove_all(*path); });
    const int code = runGenerator("'" + root.string() + "'");
    if (code == 3)
        GTEST_SKIP() << "the generator's fonts are not installed (fonts-jura, "
                        "fonts-league-spartan): the committed assets were not checked";
    ASSERT_EQ(code, 0) << "velmora-assets failed";

    const fs::path committed = fs::path(VELMORA_SOURCE_DIR) / "assets" / "data";
    const fs::path made = root / "assets" / "data";
    ASSERT_EQ(binNames(made), binNames(committed)) << "the generator writes other files";
    for (const std::string& name : binNames(committed)) {
        const std::vector<char> a = readAll(committed / name), b = readAll(made / name);
        const auto mismatch = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
        EXPECT_TRUE(mismatch.first == a.end() && mismatch.second == b.end())
            << name << " (" << a.size() << " bytes, the generator makes " << b.size()
            << ") differs from byte " << (mismatch.first - a.begin())
            << ": regenerate with velmora-assets";
    }
    // A PNG preview of every picture, and nothing half-written left behind.
    for (const char* name : {"opening_glyphs.png", "logo.png", "panel_top.png", "panel_bottom.png",
                             "scroller_font.png", "background.png"}) {
        const std::vector<char> png = readAll(root / "docs" / name);
        EXPECT_TRUE(png.size() > 24 && std::string(png.begin() + 1, png.begin() + 4) == "PNG")
            << name;
    }
    for (const auto& entry : fs::recursive_directory_iterator(root))
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
    // A target that cannot be created is a failure with nothing written, and an unknown
    // option is a usage error.
    std::ofstream(root / "file") << "x";
    EXPECT_EQ(runGenerator("--data-only '" + (root / "file" / "below").string() + "'"), 1);
    EXPECT_EQ(runGenerator("--bogus"), 2);
}
