// The stored forms of the intro's words (the words themselves are in words.cpp).
#include "texts.h"

#include <cstdio>
#include <cstdlib>

std::vector<uint8_t> openingLinesData() {
    std::vector<uint8_t> out(96, 0);
    for (size_t i = 0; i < 3; ++i) {
        const std::string& line = openingLineTexts()[i];
        for (size_t c = 0; c < line.size() && c < 31; ++c)
            out[32 * i + c] = uint8_t(line[c]);
    }
    return out;
}

int32_t lineAdvance(const std::string& line, const ScrollerFont& font) {
    int32_t advance = 0;
    for (char c : line) {
        if (c == ' ')
            advance += scrollerSpaceAdvance;
        else
            advance += font.widths[uint8_t(c) - 33];
    }
    return advance;
}

std::vector<uint8_t> scrollerTextData(const ScrollerFont& font) {
    const auto& lines = invitationLines();
    ByteWriter out;
    out.i32(int32_t(lines.size()));
    for (const std::string& line : lines) {
        for (char c : line)
            if (c != ' ' && (uint8_t(c) < 33 || uint8_t(c) > 126)) {
                std::fprintf(stderr, "velmora-assets: unprintable character in \"%s\"\n",
                             line.c_str());
                std::exit(1);
            }
        // Lines wider than 500 pixels would be drawn shrunk; the text is written to fit.
        int32_t advance = lineAdvance(line, font);
        if (line.size() > 51 || advance > 500) {
            std::fprintf(stderr, "velmora-assets: line too long (%d px): \"%s\"\n", advance,
                         line.c_str());
            std::exit(1);
        }
        out.u16(uint16_t(line.size()));
        if (line.empty()) continue;
        out.i32(advance / 2);
        for (char c : line)
            out.u8(c == ' ' ? uint8_t(0xFF) : uint8_t(uint8_t(c) - 33));
    }
    return out.bytes;
}
