// The arrangement of the intro's module: twelve patterns and the order list.
//
// Form (bars of 16 rows): an opening of 241 rows (one silent row, seven bars of ambient
// pads and bells, eight bars that build to a half-beat break), then the main part: verse
// (8 bars), chorus (8), second verse (8), breakdown (10, its first two bars looped once),
// build (4), the chorus twice (16, the second time with a counter-melody), and back to
// the verse.
//
// Channels: 0 kick, 1 snare, 2 closed hat, 3 open hat, 4 bass, 5 sub, 6-8 pad chord,
// 9 pad riser, 10 pluck arpeggio, 11 its echo, 12 lead, 13 its echo, 14 counter-melody,
// 15 its echo (the bells' echo where there is no counter-melody), 16 chip arpeggio, 17 sweep,
// 18 bells, 19 crash and the pattern loop.
#include "music_score.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

enum Channel {
    chKick,
    chSnare,
    chHat,
    chOpenHat,
    chBass,
    chSub,
    chPad1,
    chPad2,
    chPad3,
    chPadRiser,
    chArp,
    chArpEcho,
    chLead,
    chLeadEcho,
    chCounter,
    chCounterEcho,
    chChip,
    chSweep,
    chBell,
    chCrash,
};

// XM effect numbers used here.
enum Effect : uint8_t {
    fxArpeggio = 0x0,
    fxPortaUp = 0x1,
    fxPortaDown = 0x2,
    fxTonePorta = 0x3,
    fxVibrato = 0x4,
    fxPanning = 0x8,
    fxVolumeSlide = 0xA,
    fxSetVolume = 0xC,
    fxExtended = 0xE,
    fxPanningSlide = 0x19,
    fxMultiRetrigger = 0x1B,
};
constexpr uint8_t extPatternLoop = 0x60, extRetrigger = 0x90, extNoteCut = 0xC0,
                  extNoteDelay = 0xD0;
constexpr uint8_t keyOff = 97;

// ---- Cells ----

XmCell& at(XmPattern& p, int row, int channel) {
    if (row < 0 || row >= p.rows) throw std::logic_error("score: row outside its pattern");
    return xmCell(p, musicChannels, row, channel);
}

uint8_t volumeByte(int volume) {
    return uint8_t(0x10 + std::clamp(volume, 0, 64));
}

// "D5", "C#4", "Bb1" -> XM note (C-4 = 49).
uint8_t noteNumber(std::string_view name) {
    static const int steps[7] = {9, 11, 0, 2, 4, 5, 7}; // A..G
    if (name.size() < 2 || name[0] < 'A' || name[0] > 'G')
        throw std::logic_error("score: bad note " + std::string(name));
    int semitone = steps[name[0] - 'A'];
    size_t i = 1;
    if (name[i] == '#')
        ++semitone, ++i;
    else if (name[i] == 'b')
        --semitone, ++i;
    if (i + 1 != name.size() || name[i] < '0' || name[i] > '7')
        throw std::logic_error("score: bad note " + std::string(name));
    int note = 12 * (name[i] - '0') + semitone + 1;
    if (note < 1 || note > 96) throw std::logic_error("score: note out of range");
    return uint8_t(note);
}

uint8_t transpose(uint8_t note, int semitones) {
    return uint8_t(note + semitones);
}

void put(XmPattern& p, int row, int channel, uint8_t note, uint8_t instrument, int volume = -1) {
    XmCell& c = at(p, row, channel);
    c.note = note;
    c.instrument = instrument;
    if (volume >= 0) c.volume = volumeByte(volume);
}

void effect(XmPattern& p, int row, int channel, uint8_t number, uint8_t parameter) {
    XmCell& c = at(p, row, channel);
    c.effect = number;
    c.parameter = parameter;
}

// The same effect on every `every`-th row of [from, to).
void effects(XmPattern& p, int from, int to, int channel, uint8_t number, uint8_t parameter,
             int every = 1) {
    for (int row = from; row < to; row += every)
        effect(p, row, channel, number, parameter);
}

// A melodic line, one whitespace-separated token per row from `row` on: a note ("D5",
// "C#5", "Bb4"), "." for nothing, "^" for a key-off. Notes get the instrument and, when
// given, the volume.
int line(XmPattern& p, int channel, int row, std::string_view text, uint8_t instrument,
         int volume = -1) {
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        if (i >= text.size()) break;
        size_t end = text.find(' ', i);
        if (end == std::string_view::npos) end = text.size();
        std::string_view token = text.substr(i, end - i);
        if (token == "^") {
            at(p, row, channel).note = keyOff;
        } else if (token != ".") {
            put(p, row, channel, noteNumber(token), instrument, volume);
        }
        ++row;
        i = end;
    }
    return row;
}

// Copies the notes of one channel to another `delay` rows later at `scale` of their volume
// and at panning `panning`: a tempo-synced echo. Notes that would fall past the pattern
// end are dropped; a key-off that would is moved to the last row, so that no echo is left
// holding into the next pattern. Notes without an instrument (tone portamento) keep their
// effect.
void echo(XmPattern& p, int from, int to, int delay, double scale, int panning, int first = 0) {
    for (int row = p.rows - delay; row < p.rows; ++row)
        if (row >= first && at(p, row, from).note == keyOff) {
            XmCell& last = at(p, p.rows - 1, to);
            last = XmCell{};
            last.note = keyOff;
        }
    for (int row = p.rows - 1 - delay; row >= first; --row) {
        const XmCell src = at(p, row, from);
        XmCell& dst = at(p, row + delay, to);
        if (src.note == keyOff) {
            dst = XmCell{};
            dst.note = keyOff;
            continue;
        }
        if (src.note == 0) {
            // A glide or vibrato carried on rows without a note travels with the echo.
            bool carried = src.effect == fxTonePorta || src.effect == fxVibrato;
            if (carried && dst.note == 0 && dst.effect == 0) {
                dst.effect = src.effect;
                dst.parameter = src.parameter;
            }
            continue;
        }
        int volume = src.volume >= 0x10 && src.volume <= 0x50 ? src.volume - 0x10
                     : src.instrument                         ? instrumentVolume(src.instrument)
                                                              : -1;
        dst = XmCell{};
        dst.note = src.note;
        dst.instrument = src.instrument;
        if (volume >= 0) dst.volume = volumeByte(int(std::lround(volume * scale)));
        if (src.instrument) {
            dst.effect = fxPanning;
            dst.parameter = uint8_t(panning);
        } else {
            dst.effect = src.effect;
            dst.parameter = src.parameter;
        }
    }
}

// Drum hits, one character per row: 'x' a hit at `volume`, 'X' an accent (+25 %), 'o' a
// ghost (half), 'r' a hit that re-triggers without naming the instrument (rolls that do
// not flash the panels), '.' nothing.
void hits(XmPattern& p, int channel, int row, std::string_view text, uint8_t instrument, int volume,
          uint8_t note = 49) {
    for (char c : text) {
        if (c == ' ') continue;
        if (c == 'x')
            put(p, row, channel, note, instrument, volume);
        else if (c == 'X')
            put(p, row, channel, note, instrument, std::min(64, volume * 5 / 4));
        else if (c == 'o')
            put(p, row, channel, note, instrument, volume / 2);
        else if (c == 'r')
            put(p, row, channel, note, 0, volume);
        ++row;
    }
}

// ---- Harmony ----

struct Chord {
    const char* name;
    const char* pad[3]; // close voicing around middle C
    const char* bass;   // root in the bass register
    const char* arp[3]; // chord tones for the arpeggios
    const char* chipRoot;
    uint8_t chipArpeggio; // the arpeggio effect's two intervals above the root
};

const Chord chords[] = {
    {"Dm", {"A3", "D4", "F4"}, "D2", {"D5", "F5", "A5"}, "D5", 0x37},
    {"Bb", {"Bb3", "D4", "F4"}, "Bb1", {"D5", "F5", "Bb5"}, "Bb4", 0x47},
    {"F", {"A3", "C4", "F4"}, "F2", {"C5", "F5", "A5"}, "F4", 0x47},
    {"C", {"G3", "C4", "E4"}, "C2", {"C5", "E5", "G5"}, "C5", 0x47},
    {"Gm", {"G3", "Bb3", "D4"}, "G1", {"D5", "G5", "Bb5"}, "G4", 0x37},
    {"A", {"A3", "C#4", "E4"}, "A1", {"C#5", "E5", "A5"}, "A4", 0x47},
};

const Chord& chord(std::string_view name) {
    for (const Chord& c : chords)
        if (name == c.name) return c;
    throw std::logic_error("score: unknown chord " + std::string(name));
}

// Pad chord on channels 6-8, spread across the stereo field.
void padChord(XmPattern& p, int row, const Chord& c, int volume) {
    static const uint8_t pans[3] = {171, 127, 83};
    for (int v = 0; v < 3; ++v) {
        put(p, row, chPad1 + v, noteNumber(c.pad[v]), insPad, volume);
        effect(p, row, chPad1 + v, fxPanning, pans[v]);
    }
}

// Bass figures over one bar: octave offsets per row (-1 = rest).
const int bassVerse[16] = {0, -1, 0, -1, 12, -1, 0, -1, 0, -1, 0, -1, 12, -1, 0, -1};
const int bassChorus[16] = {0, -1, 12, -1, 0, -1, 12, -1, 0, -1, 12, -1, 0, -1, 12, -1};
const int bassDrive[16] = {0, 0, 12, 0, 0, 0, 12, 0, 0, 0, 12, 0, 0, 0, 12, 0};

void bassBar(XmPattern& p, int row, const Chord& c, const int* figure, int volume) {
    uint8_t root = noteNumber(c.bass);
    for (int i = 0; i < 16; ++i) {
        if (figure[i] < 0) continue;
        int v = (i % 4 == 0) ? volume : volume * 5 / 6;
        put(p, row + i, chBass, transpose(root, figure[i]), insBass, v);
    }
}

// Sixteenth-note arpeggio over one bar; `step` 2 plays eighths.
void arpBar(XmPattern& p, int row, const Chord& c, int volume, int step = 1) {
    static const int order[16] = {0, 2, 1, 2, 3, 2, 1, 2, 0, 2, 1, 2, 4, 2, 1, 2};
    uint8_t tones[5];
    for (int i = 0; i < 3; ++i)
        tones[i] = noteNumber(c.arp[i]);
    tones[3] = transpose(tones[0], 12);
    tones[4] = transpose(tones[1], 12);
    for (int i = 0; i < 16; i += step) {
        int v = (i % 4 == 0) ? volume : volume * 4 / 5;
        put(p, row + i, chArp, tones[order[i]], insPluck, v);
    }
}

// Chip chord: the chord's root with an arpeggio effect held through the bar, struck on
// every beat.
void chipBar(XmPattern& p, int row, const Chord& c, int volume) {
    uint8_t root = noteNumber(c.chipRoot);
    for (int i = 0; i < 16; ++i) {
        if (i % 4 == 0) put(p, row + i, chChip, root, insChip, i == 0 ? volume : volume * 3 / 4);
        effect(p, row + i, chChip, fxArpeggio, c.chipArpeggio);
    }
}

// Closed hats over one bar: eighths, with swung sixteenths between them when `sixteenths`
// (the off-sixteenths come one tick late).
void hatBar(XmPattern& p, int row, int volume, bool sixteenths, bool skipOffbeats = false) {
    for (int i = 0; i < 16; ++i) {
        bool eighth = i % 2 == 0;
        if (skipOffbeats && i % 4 == 2) continue;
        if (eighth) {
            put(p, row + i, chHat, 49, insHat, i % 4 == 0 ? volume : volume * 3 / 4);
        } else if (sixteenths) {
            put(p, row + i, chHat, 49, insHat, volume / 2);
            effect(p, row + i, chHat, fxExtended, extNoteDelay | 1);
        }
    }
}

// A silence before a drop: from `row` to the pattern end the listed channels play
// nothing, and whatever still sounds on them is set to volume 0.
void breakRows(XmPattern& p, int row, std::initializer_list<int> channels) {
    for (int ch : channels) {
        for (int r = row; r < p.rows; ++r)
            at(p, r, ch) = XmCell{};
        effect(p, row, ch, fxSetVolume, 0);
    }
}

void crash(XmPattern& p, int row, int volume = 32) {
    put(p, row, chCrash, 49, insCrash, volume);
}

// Bars of chords in a pattern, from a list like "Dm Bb F C".
std::vector<const Chord*> progression(std::string_view names) {
    std::vector<const Chord*> list;
    size_t i = 0;
    while (i < names.size()) {
        size_t end = names.find(' ', i);
        if (end == std::string_view::npos) end = names.size();
        if (end > i) list.push_back(&chord(names.substr(i, end - i)));
        i = end + 1;
    }
    return list;
}

// ---- Echo settings ----

constexpr int echoDelay = 3; // a dotted eighth
constexpr double arpEchoLevel = 0.5, leadEchoLevel = 0.42, bellEchoLevel = 0.5;
constexpr int arpEchoPan = 79, leadEchoPan = 71, bellEchoPan = 167, counterEchoPan = 167;

// ---- The opening ----

// Row 0 is silent; rows 1..112 are seven bars of pads, a sub drone, bells and wind, with
// chords of irregular length so that no meter is felt yet.
XmPattern openingAmbient() {
    XmPattern p = xmPattern(113, musicChannels);
    struct Span {
        const char* chord;
        int row, rows;
    };
    const Span spans[] = {{"Dm", 1, 32}, {"Bb", 33, 32}, {"Gm", 65, 24}, {"A", 89, 24}};
    for (const Span& s : spans) {
        const Chord& c = chord(s.chord);
        bool first = s.row == 1;
        padChord(p, s.row, c, first ? 3 : 17);
        // Swell: +3 per slide row.
        int slides = first ? 8 : 3;
        for (int v = 0; v < 3; ++v)
            effects(p, s.row + 2, s.row + 2 + 3 * slides, chPad1 + v, fxVolumeSlide, 0x10, 3);
        put(p, s.row, chSub, noteNumber(c.bass), insSub, first ? 10 : 20);
    }
    effects(p, 3, 3 + 4 * 3, chSub, fxVolumeSlide, 0x10, 4);

    // Wind: soft noise wandering across the stereo field.
    put(p, 1, chSweep, noteNumber("C4"), insSweep, 10);
    effects(p, 8, 56, chSweep, fxPanningSlide, 0x01, 2);
    effects(p, 60, 110, chSweep, fxPanningSlide, 0x10, 2);

    // Bells: a slow motif answered by its echo.
    int row = 1;
    row = line(p, chBell, row, "A5 . . . . . . . D6 . . . E6 . . .", insBell, 18);
    row = line(p, chBell, row, "F6 . . . . . . . . . . . E6 . D6 .", insBell, 18);
    row = line(p, chBell, row, "D6 . . . . . . . F6 . . . . . . .", insBell, 18);
    row = line(p, chBell, row, "Bb5 . . . . . . . A5 . . . . . . .", insBell, 18);
    row = line(p, chBell, row, "G5 . . . . . . . Bb5 . . . D6 . . . . . . . . . . .", insBell, 20);
    line(p, chBell, row, "C#6 . . . . . . . E6 . . . . . . . A5 . . . . . . .", insBell, 20);
    echo(p, chBell, chCounterEcho, echoDelay, bellEchoLevel, bellEchoPan);
    return p;
}

// Eight bars with a pulse: the arpeggio fades in, then bass, hats and kick; the last two
// bars roll the snare up under a riser and stop for half a beat before the drop.
XmPattern openingBuild() {
    XmPattern p = xmPattern(128, musicChannels);
    auto bars = progression("Dm Bb F C Dm Bb Gm A");
    for (int b = 0; b < 8; ++b) {
        const Chord& c = *bars[size_t(b)];
        int row = 16 * b;
        padChord(p, row, c, b < 4 ? 20 : 23);
        if (b < 2)
            arpBar(p, row, c, 8 + 4 * b, 2);
        else
            arpBar(p, row, c, std::min(24, 12 + 2 * b));
        if (b < 4)
            put(p, row, chSub, noteNumber(c.bass), insSub, 24);
        else
            bassBar(p, row, c, bassVerse, 28 + 2 * b);
        if (b >= 2) hatBar(p, row, b < 4 ? 16 : 22 + 2 * b, b >= 4);
        if (b >= 4)
            hits(p, chKick, row, b == 7 ? "x...x...x......." : "x...x...x...x...", insKick,
                 34 + 4 * (b - 4));
    }
    at(p, 64, chSub).note = keyOff;
    echo(p, chArp, chArpEcho, echoDelay, arpEchoLevel, arpEchoPan, 32);

    // A first glimpse of the chorus tune on the bells.
    line(p, chBell, 64, "F5 . . . . . D5 . F5 . G5 . A5 . . .", insBell, 20);
    line(p, chBell, 80, "Bb5 . . . . . A5 . F5 . . . D5 . . .", insBell, 20);
    line(p, chBell, 96, "G5 . . . . . . . D5 . . . . . . . C#5 . . . . . . . E5 . . . . . . .",
         insBell, 18);
    echo(p, chBell, chCounterEcho, echoDelay, bellEchoLevel, bellEchoPan, 64);

    // Snare: backbeat in bar 7, then a roll that speeds up and grows louder.
    hits(p, chSnare, 96, "....x.......x...", insSnare, 22);
    for (int i = 0; i < 14; ++i) {
        int row = 112 + i;
        put(p, row, chSnare, 49, i % 4 == 0 ? insSnare : 0, 18 + 3 * i);
    }
    effect(p, 122, chSnare, fxMultiRetrigger, 0x02);
    effects(p, 123, 126, chSnare, fxMultiRetrigger, 0x00);

    // Riser: the sweep noise climbs in pitch and level through the last two bars.
    put(p, 96, chSweep, noteNumber("C3"), insSweep, 6);
    for (int row = 97; row < 126; ++row)
        effect(p, row, chSweep, row % 3 == 0 ? fxVolumeSlide : fxPortaUp,
               row % 3 == 0 ? 0x10 : 0x03);

    breakRows(p, 126,
              {chKick, chSnare, chHat, chOpenHat, chBass, chPad1, chPad2, chPad3, chArp, chArpEcho,
               chSweep, chBell, chCounterEcho});
    return p;
}

// ---- Verses ----

// Four bars of groove. `ending`: 0 plain (the first half of a verse), 1 a fill into the
// chorus, 2 chip chords and a tom-like fill into the breakdown.
XmPattern verse(std::string_view harmony, int ending, bool withCrash) {
    XmPattern p = xmPattern(64, musicChannels);
    auto bars = progression(harmony);
    for (int b = 0; b < 4; ++b) {
        const Chord& c = *bars[size_t(b)];
        int row = 16 * b;
        bool last = b == 3;
        padChord(p, row, c, 25);
        bassBar(p, row, c, bassVerse, 40);
        arpBar(p, row, c, 24);
        if (ending == 2) chipBar(p, row, c, 16);

        hits(p, chKick, row, last && ending ? "x.......x......." : "x.......x.x.....", insKick, 60);
        if (last && ending) {
            hits(p, chSnare, row, "....x...", insSnare, 46);
        } else {
            hits(p, chSnare, row, "....x.......x..o", insSnare, 46);
        }
        hatBar(p, row, 38, true, b % 2 == 1);
        if (b % 2 == 1) {
            hits(p, chOpenHat, row, "..x...x...x...x.", insOpenHat, 26);
        }
    }
    if (withCrash) crash(p, 0);
    echo(p, chArp, chArpEcho, echoDelay, arpEchoLevel, arpEchoPan);

    // A falling call on the bells closes every second bar.
    bool toDominant = harmony.back() == 'A';
    line(p, chBell, 24, toDominant ? "F6 . D6 . Bb5 . C6 ." : "D6 . C6 . Bb5 . A5 .", insBell, 16);
    line(p, chBell, 56, toDominant ? "E6 . C#6 . A5 . E5 ." : "E6 . D6 . C6 . G5 .", insBell, 16);
    echo(p, chBell, chCounterEcho, echoDelay, bellEchoLevel, bellEchoPan);

    if (ending == 1) {
        // Snare fill, the last four naming the instrument only on the beat.
        hits(p, chSnare, 56, "x.xrxrrr", insSnare, 34);
        for (int i = 0; i < 8; ++i)
            if (at(p, 56 + i, chSnare).note) at(p, 56 + i, chSnare).volume = volumeByte(30 + 3 * i);
        effect(p, 62, chHat, fxExtended, extRetrigger | 2);
    } else if (ending == 2) {
        // The snare played lower and lower sounds like a run down the toms.
        const char* notes[8] = {"C4", "C4", "A3", "A3", "F3", "F3", "D3", "D3"};
        for (int i = 0; i < 8; ++i)
            put(p, 56 + i, chSnare, noteNumber(notes[i]), i % 4 == 0 ? insSnare : 0, 36 + 2 * i);
        put(p, 63, chCrash, 49, insCrash, 16);
        at(p, 63, chChip).note = keyOff;
    }
    return p;
}

// ---- Choruses ----

const char* const leadFirstHalf[4] = {
    "F5 . . . . . D5 . F5 . G5 . A5 . . .",
    "G5 . . . . . E5 . C5 . . . D5 . E5 .",
    "F5 . . . . . E5 . D5 . . . A4 . . .",
    "C5 . . . . . . . A4 . . . ^ . A4 C5",
};
const char* const leadSecondHalf[4] = {
    "D5 . . . . . Bb4 . D5 . G5 . A5 . . .",
    "Bb5 . . . . . . . F5 . . . D5 . F5 .",
    "G5 . . . . . . . E5 . . . C5 . D5 .",
    "E5 . . . . . . . C#5 . . . . . ^ .",
};
// The counter-melody moves while the lead holds and holds while it moves, mostly in
// contrary motion below it.
const char* const counterFirstHalf[4] = {
    ". . Bb4 . A4 . F4 . . . . . . . . .",
    ". . E4 . G4 . C5 . . . . . . . . .",
    ". . D4 . F4 . A4 . . . . . . . . .",
    ". . F4 . A4 . C5 . . . . . F5 . . .",
};
const char* const counterSecondHalf[4] = {
    ". . Bb4 . A4 . G4 . . . . . . . . .",
    ". . D5 . C5 . Bb4 . . . . . . . . .",
    ". . E4 . G4 . C5 . . . . . . . . .",
    ". . C#5 . B4 . A4 . . . . . . ^ . .",
};

// Four bars of the chorus. `second` picks the second half of the tune (it ends on the
// dominant with a fill); `full` adds the counter-melody and the chip chords.
XmPattern chorus(bool second, bool full) {
    XmPattern p = xmPattern(64, musicChannels);
    auto bars = progression(second ? "Gm Bb C A" : "Bb C Dm F");
    for (int b = 0; b < 4; ++b) {
        const Chord& c = *bars[size_t(b)];
        int row = 16 * b;
        bool fill = second && b == 3;
        padChord(p, row, c, 24);
        bassBar(p, row, c, bassChorus, 42);
        arpBar(p, row, c, 18);
        if (full) chipBar(p, row, c, 15);
        hits(p, chKick, row, fill ? "x...x...x......." : "x...x...x...x...", insKick, 58);
        hits(p, chSnare, row, fill ? "....x..." : "....x.......x...", insSnare, 48);
        hatBar(p, row, 34, true, true);
        hits(p, chOpenHat, row, "..x...x...x...x.", insOpenHat, 26);

        line(p, chLead, row, (second ? leadSecondHalf : leadFirstHalf)[b], insLead);
        if (full)
            line(p, chCounter, row, (second ? counterSecondHalf : counterFirstHalf)[b], insBell,
                 20);
    }
    if (!second) crash(p, 0, full ? 36 : 32);

    // Expression in the lead: vibrato on held notes, a glide down from the top note, a
    // fall at the end of the tune.
    if (!second) {
        effects(p, 50, 56, chLead, fxVibrato, 0x62);
    } else {
        put(p, 22, chLead, noteNumber("A5"), 0); // glides down from Bb5
        effect(p, 22, chLead, fxTonePorta, 0x05);
        effects(p, 23, 24, chLead, fxTonePorta, 0x00);
        effects(p, 34, 40, chLead, fxVibrato, 0x52);
        effects(p, 50, 56, chLead, fxVibrato, 0x62);
        effects(p, 58, 61, chLead, fxVibrato, 0x83);
        effect(p, 61, chLead, fxPortaDown, 0x06);
        // Fill into the next section.
        hits(p, chSnare, 56, "x.xrxrrr", insSnare, 34);
        for (int i = 0; i < 8; ++i)
            if (at(p, 56 + i, chSnare).note) at(p, 56 + i, chSnare).volume = volumeByte(30 + 3 * i);
        if (full) at(p, 63, chChip).note = keyOff;
    }
    echo(p, chLead, chLeadEcho, echoDelay, leadEchoLevel, leadEchoPan);
    echo(p, chArp, chArpEcho, echoDelay, arpEchoLevel, arpEchoPan);
    if (full) echo(p, chCounter, chCounterEcho, echoDelay, 0.45, counterEchoPan);
    return p;
}

// ---- Breakdown and build ----

// Gm Dm (played twice through a pattern loop) Bb F: pads, sub, bells and a distant lead;
// the kick marks every bar, the snare every second one.
XmPattern breakdownFirst() {
    XmPattern p = xmPattern(64, musicChannels);
    auto bars = progression("Gm Dm Bb F");
    const char* bells[4] = {
        "G5 . . . Bb5 . . . D6 . . . A5 . . .",
        "F5 . . . A5 . . . D6 . . . E6 . . .",
        "D6 . . . F5 . . . Bb5 . . . C6 . . .",
        "A5 . . . C6 . . . F6 . . . E6 . . .",
    };
    for (int b = 0; b < 4; ++b) {
        const Chord& c = *bars[size_t(b)];
        int row = 16 * b;
        padChord(p, row, c, 24);
        put(p, row, chSub, noteNumber(c.bass), insSub, 26);
        line(p, chBell, row, bells[b], insBell, 22);
        hits(p, chKick, row, "x...............", insKick, 34);
        if (b % 2 == 1) hits(p, chSnare, row, "............x...", insSnare, 22);
        if (b >= 2) hatBar(p, row, 16, false);
    }
    at(p, 0, chBass).note = keyOff;
    put(p, 0, chSweep, noteNumber("G3"), insSweep, 9);
    effects(p, 4, 60, chSweep, fxPanningSlide, 0x10, 4);
    line(p, chLead, 32, "F5 . . . . . . . D5 . . . . . . .", insLead, 24);
    line(p, chLead, 48, "C5 . . . . . . . . . . . ^ . . .", insLead, 24);
    effects(p, 52, 60, chLead, fxVibrato, 0x52);
    echo(p, chLead, chLeadEcho, echoDelay, leadEchoLevel, leadEchoPan);
    echo(p, chBell, chCounterEcho, echoDelay, bellEchoLevel, bellEchoPan);
    effect(p, 0, chCrash, fxExtended, extPatternLoop | 0);
    effect(p, 31, chCrash, fxExtended, extPatternLoop | 1);
    return p;
}

// Gm Dm C A: the lead sings the tune's outline, the arpeggio and hats come back.
XmPattern breakdownSecond() {
    XmPattern p = xmPattern(64, musicChannels);
    auto bars = progression("Gm Dm C A");
    const char* bells[4] = {
        "Bb5 . . . D6 . . . G6 . . . F6 . . .",
        "A5 . . . D6 . . . F6 . . . E6 . . .",
        "G5 . . . C6 . . . E6 . . . D6 . . .",
        "C#6 . . . E6 . . . A6 . . . . . . .",
    };
    const char* lead[4] = {
        "D5 . . . . . . . G5 . . . F5 . . .",
        "F5 . . . . . . . E5 . . . D5 . . .",
        "E5 . . . . . . . G5 . . . . . . .",
        "E5 . . . . . . . . . . . C#5 . . .",
    };
    for (int b = 0; b < 4; ++b) {
        const Chord& c = *bars[size_t(b)];
        int row = 16 * b;
        padChord(p, row, c, 24);
        put(p, row, chSub, noteNumber(c.bass), insSub, 26);
        line(p, chBell, row, bells[b], insBell, 20);
        line(p, chLead, row, lead[b], insLead, 26);
        hits(p, chKick, row, b < 2 ? "x..............." : "x.......x.......", insKick, 38);
        if (b % 2 == 1) hits(p, chSnare, row, "....x.......x...", insSnare, 24);
        if (b >= 2) {
            arpBar(p, row, c, 12 + 2 * b, 2);
            hatBar(p, row, 22, false);
        }
    }
    effects(p, 42, 48, chLead, fxVibrato, 0x52);
    effects(p, 58, 64, chLead, fxVibrato, 0x63);
    echo(p, chLead, chLeadEcho, echoDelay, leadEchoLevel, leadEchoPan);
    echo(p, chBell, chCounterEcho, echoDelay, bellEchoLevel, bellEchoPan);
    echo(p, chArp, chArpEcho, echoDelay, arpEchoLevel, arpEchoPan, 32);
    // Let the sub and bells ring out into the build.
    at(p, 63, chSub).note = keyOff;
    return p;
}

// Bb C Dm A: four-on-the-floor kick, a snare roll that doubles its rate every bar and
// ends in retriggers, a noise riser, a pad voice gliding up an octave, then half a beat of
// silence before the chorus.
XmPattern build() {
    XmPattern p = xmPattern(64, musicChannels);
    auto bars = progression("Bb C Dm A");
    for (int b = 0; b < 4; ++b) {
        const Chord& c = *bars[size_t(b)];
        int row = 16 * b;
        padChord(p, row, c, 20 + 3 * b);
        bassBar(p, row, c, b < 2 ? bassVerse : bassDrive, 36 + 2 * b);
        arpBar(p, row, c, 14 + 4 * b);
        hits(p, chKick, row, "x...x...x...x...", insKick, 44 + 4 * b);
    }
    echo(p, chArp, chArpEcho, echoDelay, arpEchoLevel, arpEchoPan);
    for (int ch : {chLead, chLeadEcho})
        at(p, 0, ch).note = keyOff;

    // The roll: quarters, eighths, sixteenths, then retriggers inside the rows.
    for (int row = 0; row < 62; ++row) {
        int bar = row / 16;
        int spacing = bar == 0 ? 4 : bar == 1 ? 2 : 1;
        if (row % spacing) continue;
        put(p, row, chSnare, 49, row % 4 == 0 ? insSnare : 0, 16 + row * 2 / 3);
    }
    effects(p, 52, 58, chSnare, fxMultiRetrigger, 0x02);
    effects(p, 58, 62, chSnare, fxMultiRetrigger, 0x01);

    put(p, 0, chSweep, noteNumber("C3"), insSweep, 3);
    for (int row = 1; row < 62; ++row)
        effect(p, row, chSweep, row % 8 == 0 ? fxVolumeSlide : fxPortaUp,
               row % 8 == 0 ? 0x10 : 0x02);

    put(p, 32, chPadRiser, noteNumber("A3"), insPad, 14);
    put(p, 48, chPadRiser, noteNumber("A4"), 0);
    effect(p, 48, chPadRiser, fxTonePorta, 0x04);
    effects(p, 49, 62, chPadRiser, fxTonePorta, 0x00);

    // The bass dives into the break.
    at(p, 61, chBass) = XmCell{};
    effects(p, 60, 62, chBass, fxPortaDown, 0x10);
    breakRows(p, 62,
              {chSnare, chBass, chPad1, chPad2, chPad3, chPadRiser, chArp, chArpEcho, chSweep});
    return p;
}

} // namespace

MusicScore buildScore() {
    MusicScore s;
    s.patterns.push_back(openingAmbient());              // 0
    s.patterns.push_back(openingBuild());                // 1
    s.patterns.push_back(verse("Dm Bb F C", 0, true));   // 2
    s.patterns.push_back(verse("Dm Bb Gm A", 1, false)); // 3
    s.patterns.push_back(chorus(false, false));          // 4
    s.patterns.push_back(chorus(true, false));           // 5
    s.patterns.push_back(chorus(false, true));           // 6
    s.patterns.push_back(chorus(true, true));            // 7
    s.patterns.push_back(breakdownFirst());              // 8
    s.patterns.push_back(breakdownSecond());             // 9
    s.patterns.push_back(build());                       // 10
    s.patterns.push_back(verse("Dm Bb Gm A", 2, false)); // 11
    s.orders = {0, 1, 2, 3, 4, 5, 2, 11, 8, 9, 10, 4, 5, 6, 7};
    s.restartPosition = mainPartOrder;
    return s;
}
