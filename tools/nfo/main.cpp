// velmora-nfo: prints the release's velmora.nfo (80 columns) or file_id.diz (45 columns,
// at most 10 lines), plain ASCII, from the words the intro shows (the party's facts and
// the invitation come from words.cpp, as the opening and the text column do) and the
// project version.
//
//   velmora-nfo [--diz]
//
// A line that would break the format's limits is an error (exit code 1, nothing
// printed), so that a change of the intro's words cannot slip a broken .nfo into a
// release.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "words.h"

namespace {

const char* program = "velmora-nfo";
const std::string version = VELMORA_VERSION;

std::vector<std::string> out;

void line(const std::string& text = "") {
    out.push_back(text);
}

void centred(const std::string& text, size_t width) {
    const size_t pad = text.size() < width ? (width - text.size()) / 2 : 0;
    line(std::string(pad, ' ') + text);
}

void heading(const std::string& text) {
    line();
    line("  " + text);
    line("  " + std::string(text.size(), '-'));
}

// The invitation as the text column shows it, up to its own credits (the release's
// credits follow separately); runs of empty lines fold into one.
void invitation() {
    const auto& lines = invitationLines();
    bool lastEmpty = true;
    for (const std::string& text : lines) {
        if (text.rfind("Velmora invitation by", 0) == 0) break;
        if (text.empty() && lastEmpty) continue;
        lastEmpty = text.empty();
        if (text.empty())
            line();
        else
            centred(text, 80);
    }
    while (!out.empty() && out.back().empty())
        out.pop_back();
}

void nfo() {
    const auto& words = invitationLines();
    const auto& opening = openingLineTexts();
    const std::string rule(80, '=');
    line(rule);
    line();
    centred("V E L M O R A   2 0 2 7", 80);
    centred(words[1], 80);
    line();
    centred("an invitation intro  *  release " + version, 80);
    centred(opening[0] + "  *  " + opening[1] + "  *  " + opening[2], 80);
    line();
    line(rule);
    line();
    invitation();
    line();
    line(rule);
    heading("CREDITS");
    line("    code ............ the Velmora team");
    line("    music ........... the Velmora team");
    line("    graphics ........ the Velmora team");
    line("    The music is played by the intro's own XM module player.");

    heading("PLATFORMS AND HOW TO START");
    line("    Windows 10/11, 64-bit: velmora-" + version + "-windows-x64.zip");
    line("      Unpack and double-click velmora.exe. Uses Direct3D 8 and the");
    line("      Windows sound device; it needs no installation and no DLLs.");
    line("    Linux x86-64: velmora-" + version + "-linux-x86_64.tar.gz");
    line("      Unpack and run ./velmora. Needs SDL2 and OpenGL 2.1 (Debian:");
    line("      apt install libsdl2-2.0-0 libopengl0 libgl1-mesa-dri). See README.txt.");
    line("    Web browsers: velmora-" + version + "-web.zip");
    line("      Put the files on any static web host (or a local web server) and");
    line("      open index.html. Click or press a key to start the sound.");
    line("    Video: velmora-" + version + ".mp4, the opening and a minute of the");
    line("      main scene, for those who cannot run it.");
    line("    The intro runs full-screen at 640 x 480. Escape ends it.");

    heading("FONTS");
    line("    The lettering is rendered from these fonts and embedded as pictures:");
    line("    Jura Bold (Daniel Johnson, Alexei Vanyashin)");
    line("      SIL Open Font License 1.1            LICENSE.fonts-jura.txt");
    line("    League Spartan Black and Bold (The League of Moveable Type)");
    line("      SIL Open Font License 1.1            LICENSE.fonts-league-spartan.txt");

    heading("LICENCE");
    line("    Code, music and graphics: MIT licence, see LICENSE.txt.");
    line();
    line(rule);
}

void diz() {
    const auto& words = invitationLines();
    line(words[0] + " invitation intro");
    line(words[1]);
    line();
    line(words[3]);
    line(words[4]);
    line();
    line("Windows * Linux * web * video");
    line("release " + version + " by the Velmora team");
}

} // namespace

int main(int argc, char** argv) {
    const bool isDiz = argc == 2 && std::strcmp(argv[1], "--diz") == 0;
    if (argc > 2 || (argc == 2 && !isDiz)) {
        std::fprintf(stderr, "usage: %s [--diz]\nPrints velmora.nfo, or file_id.diz with --diz.\n",
                     program);
        return 2;
    }
    const size_t columns = isDiz ? 45 : 80;
    if (isDiz)
        diz();
    else
        nfo();
    if (isDiz && out.size() > 10) {
        std::fprintf(stderr, "%s: file_id.diz would have %zu lines (at most 10)\n", program,
                     out.size());
        return 1;
    }
    for (const std::string& text : out) {
        bool ascii = true;
        for (char c : text)
            if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
                ascii = false;
        if (text.size() > columns || !ascii) {
            std::fprintf(stderr, "%s: line over %zu columns or not plain ASCII: \"%s\"\n", program,
                         columns, text.c_str());
            return 1;
        }
    }
    // DOS line ends: the form .nfo viewers and BBS-era tools expect.
    for (std::string text : out) {
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        std::fputs((text + "\r\n").c_str(), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
