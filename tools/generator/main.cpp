// velmora-assets: makes every embedded asset of the intro from code, fonts and words,
// and PNG previews of the pictures.
//
//   velmora-assets [ROOT]   writes ROOT/assets/data/*.bin and ROOT/docs/*.png (ROOT
//                           defaults to the current folder, normally the repository)
//   velmora-assets --data-only ROOT   the binaries only
//
// Deterministic: fixed seeds, nothing from the clock, so a second run writes the same
// bytes. Everything is made in memory first; each file is written under a temporary
// name and renamed into place, so a failure never leaves a half-written file.
// Exit codes: 0 done, 1 failure, 2 usage, 3 a font is missing.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "compose.h"
#include "fixed_data.h"
#include "fonts.h"
#include "pictures.h"
#include "raster.h"
#include "texts.h"

namespace {

bool fileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool makeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
    std::fprintf(stderr, "velmora-assets: cannot create %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return false;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temporary = path + ".part";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    bool ok = file != nullptr;
    if (ok && !bytes.empty()) ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file && std::fclose(file) != 0) ok = false;
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "velmora-assets: cannot write %s\n", path.c_str());
        std::remove(temporary.c_str());
    }
    return ok;
}

bool writePreview(const std::string& path, const Picture& picture, bool withAlpha) {
    std::string temporary = path + ".part";
    if (!writePng(temporary, picture, withAlpha)) {
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "velmora-assets: cannot write %s\n", path.c_str());
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::vector<uint8_t> withByteCount(const std::vector<uint8_t>& bytes) {
    ByteWriter out;
    out.u32(uint32_t(bytes.size()));
    out.append(bytes);
    return out.bytes;
}

// The opening's glyph sheet shown on a dark grey ground so the cell grid reads.
Picture sheetPreview(const Picture& sheet, bool alphaIsCoverage) {
    Picture out(sheet.width, sheet.height);
    for (size_t i = 0; i < sheet.pixels.size(); ++i) {
        const Rgba& c = sheet.pixels[i];
        float cover = alphaIsCoverage ? c.a : c.r;
        float ground = 0.08f;
        float v = ground + (1 - ground) * cover;
        out.pixels[i] = {v, v, v, 1};
    }
    return out;
}

Picture blendOnto(Picture base, const Picture& top, int left, int topRow) {
    for (int y = 0; y < top.height; ++y)
        for (int x = 0; x < top.width; ++x) {
            const Rgba& c = top.at(x, y);
            Rgba& b = base.at(left + x, topRow + y);
            b = {mix(b.r, c.r, c.a), mix(b.g, c.g, c.a), mix(b.b, c.b, c.a), 1};
        }
    return base;
}

// A still of the main scene without the tube: the visible 640 x 480 of the background,
// a window of the text column and both panels, for review of how the parts sit together.
Picture scenePreview(const Backdrop& backdrop, const Panels& panels, const ScrollerFont& font) {
    Picture scene(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            scene.at(x, y) = backdrop.preview.at(x, y);
    const auto& lines = invitationLines();
    const float windowTop = 61.5f;
    for (int slot = 0; slot < 16; ++slot) {
        const std::string& line = lines[size_t(slot + 2) % lines.size()];
        if (line.empty()) continue;
        int half = lineAdvance(line, font) / 2;
        float x = 250.5f - float(half) + 16.0f;
        int top = int(windowTop + float(slot) * 21.0f + 0.5f);
        float alpha = slot < 2 ? float(slot + 1) / 3 : (slot > 13 ? float(16 - slot) / 3 : 1);
        for (char c : line) {
            if (c == ' ') {
                x += scrollerSpaceAdvance;
                continue;
            }
            int g = uint8_t(c) - 33;
            const uint8_t* record = &font.records[size_t(g) * 20];
            float uLeft;
            float vTop;
            std::memcpy(&uLeft, record, 4);
            std::memcpy(&vTop, record + 4, 4);
            int u0 = int(uLeft * 256 + 0.5f), v0 = int(vTop * 256 + 0.5f);
            int px = int(x);
            for (int j = 0; j < 20; ++j)
                for (int i = 0; i < font.widths[g] - 1; ++i) {
                    float a = font.image.at(u0 + i, v0 + j).a * alpha;
                    Rgba& p = scene.at(px + i, top + j);
                    p = {mix(p.r, 1, a), mix(p.g, 1, a), mix(p.b, 1, a), 1};
                }
            x += float(font.widths[g]);
        }
    }
    scene = blendOnto(scene, panels.top, 384, 0);
    scene = blendOnto(scene, panels.bottom, 384, 416);
    return scene;
}

} // namespace

int main(int argc, char** argv) {
    bool previews = true, haveRoot = false;
    std::string root = ".";
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--data-only") {
            previews = false;
        } else if (argument.empty() || argument[0] == '-' || haveRoot) {
            std::fprintf(stderr, "usage: velmora-assets [--data-only] [ROOT]\n");
            return 2;
        } else {
            root = argument;
            haveRoot = true;
        }
    }
    for (const std::string& path : requiredFontFiles())
        if (!fileExists(path)) {
            std::fprintf(stderr,
                         "velmora-assets: font file %s is missing (Debian packages fonts-jura "
                         "and fonts-league-spartan)\n",
                         path.c_str());
            return 3;
        }

    // ---- Folders first, so a bad target fails before the work ----
    const std::string assets = root + "/assets", data = assets + "/data", docs = root + "/docs";
    if (!makeFolder(root) || !makeFolder(assets) || !makeFolder(data)) return 1;
    if (previews && !makeFolder(docs)) return 1;

    // ---- Make everything in memory ----
    OpeningFont openingFont = makeOpeningFont();
    ScrollerFont scrollerFont = makeScrollerFont();
    Logo logo = makeLogo();
    Panels panels = makePanels();
    Backdrop backdrop = makeBackdrop();
    closeFonts();

    const std::vector<std::pair<const char*, std::vector<uint8_t>>> files = {
        {"module.bin", withByteCount(composeModule())},
        {"opening_glyph_sheet.bin", openingFont.sheetData},
        {"opening_font.bin", openingFont.description},
        {"opening_lines.bin", openingLinesData()},
        {"opening_logo.bin", logo.data},
        {"panel_images.bin", panels.data},
        {"panel_triggers.bin", panelTriggerData()},
        {"panel_vertices.bin", panelVertexData()},
        {"scroller_font_header.bin", scrollerFontHeader()},
        {"scroller_font_images.bin", scrollerFont.imageData},
        {"scroller_glyphs.bin", scrollerFont.records},
        {"scroller_text.bin", scrollerTextData(scrollerFont)},
        {"tube_material.bin", tubeMaterialData()},
        {"tube_light.bin", tubeLightData()},
        {"tube_view.bin", tubeViewData()},
        {"tube_projection.bin", tubeProjectionData()},
        {"backdrop_tiles.bin", backdrop.data},
        {"backdrop_vertices.bin", backdropVertexData()},
    };

    // ---- Write ----
    for (const auto& [name, bytes] : files)
        if (!writeFile(data + "/" + name, bytes)) return 1;
    if (!previews) return 0;
    bool ok =
        writePreview(docs + "/opening_glyphs.png", sheetPreview(openingFont.sheet, false), false) &&
        writePreview(docs + "/logo.png", logo.preview, false) &&
        writePreview(docs + "/panel_top.png", panels.top, true) &&
        writePreview(docs + "/panel_bottom.png", panels.bottom, true) &&
        writePreview(docs + "/scroller_font.png", sheetPreview(scrollerFont.image, true), false) &&
        writePreview(docs + "/background.png", backdrop.preview, false) &&
        writePreview(docs + "/scene_preview.png", scenePreview(backdrop, panels, scrollerFont),
                     false);
    return ok ? 0 : 1;
}
