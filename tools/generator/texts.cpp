// The intro's words and their stored forms.
#include "texts.h"

#include <cstdio>
#include <cstdlib>

const std::vector<std::string>& openingLineTexts() {
    static const std::vector<std::string> lines = {"13.08.2027", "Varvshallen Norrby", "Sweden"};
    return lines;
}

std::vector<uint8_t> openingLinesData() {
    std::vector<uint8_t> out(96, 0);
    for (size_t i = 0; i < 3; ++i) {
        const std::string& line = openingLineTexts()[i];
        for (size_t c = 0; c < line.size() && c < 31; ++c)
            out[32 * i + c] = uint8_t(line[c]);
    }
    return out;
}

const std::vector<std::string>& invitationLines() {
    static const std::vector<std::string> lines = {
        "VELMORA 2027",
        "the demoparty at the edge of the sea",
        "",
        "Friday 13 to Sunday 15 August 2027",
        "Varvshallen, Norrby, Sweden",
        "",
        "",
        "Greetings to sceners of every kind!",
        "Coders, pixel artists, musicians, makers:",
        "the old shipyard hall at Norrby harbour",
        "opens its doors for three days of demos,",
        "music, art and very little sleep.",
        "",
        "",
        "- THE PROGRAMME -",
        "",
        "Friday: opening, demoshow and live music",
        "Saturday: talks, competitions, beach party",
        "Sunday: prizegiving and a long breakfast",
        "",
        "",
        "- THE COMPETITIONS -",
        "",
        "PC Demo * PC Intro 64k * PC Intro 4k",
        "Oldskool Demo * Wild Demo",
        "Tracked Music * Executable Music",
        "Pixel Graphics * Photo * Animation",
        "Fast Music and Fast Graphics on Saturday",
        "",
        "",
        "- THE RULES -",
        "",
        "Entries must be made for the party",
        "and must not have been shown before.",
        "Demos up to eight minutes long.",
        "Tracked music in XM, IT or MOD format.",
        "Remote entries welcome until Friday.",
        "One entry per person per competition.",
        "",
        "",
        "- THE HALL -",
        "",
        "Seat, table, power and a wired network",
        "Big screen, big sound and a real stage",
        "Hot food, cold drinks and coffee all night",
        "Sleeping room with mats, showers nearby",
        "The beach for a sunrise swim, if you dare",
        "",
        "",
        "- ENTRY -",
        "",
        "Sceners 30 euro, visitors 40 euro",
        "Kids under 14 and organisers enter free",
        "Pay at the door, by cash or by card",
        "Bring cables, a power strip and a smile",
        "",
        "",
        "- GETTING THERE -",
        "",
        "Trains run hourly from the city to Norrby,",
        "the hall is a short walk from the station.",
        "The island ferry lands right outside.",
        "Free parking behind the old crane.",
        "",
        "",
        "- CONTACT -",
        "",
        "Organised by Fennik, Mirelle and Tarn",
        "of Lumen Saga and Norrby Harbour Club.",
        "Find us on the party board,",
        "or just walk up to the info desk.",
        "",
        "",
        "Velmora invitation by Lumen Saga:",
        "code Tarn * music Ondra Kello",
        "graphics Mirelle * words Fennik",
        "",
        "",
        "Greetings to Quasarium, Halcyon Drift,",
        "Nullpage, Borealis Crew, Tinfoil Owls,",
        "Pixelwerk, Sundog and everyone we forgot.",
        "",
        "",
        "See you at the sea, and bring a friend!",
        "",
        "",
        "",
        "",
        "",
        "",
        "",
        "",
        "",
        "",
        "",
        "",
    };
    return lines;
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
