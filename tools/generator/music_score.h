// The intro's music as tracker data: instruments (music_instruments.cpp) and the
// arrangement of patterns and orders (music_score.cpp). compose.cpp puts them into an XM.
//
// The piece: "Velmora", D minor, 16 rows to the bar (a row is 4 ticks of 1621 frames, so
// the feel is 102 beats a minute with sixteenth-note rows). A 241-row opening (ambient
// pads and bells, then a build) puts the first downbeat of the main part under the
// opening's white flash at 35.4 s; the main part (verse, chorus, second verse, breakdown,
// build, double chorus) loops back to the first verse.
#pragma once
#include "tools/xmwriter/xm_writer.h"

#include <cstdint>
#include <vector>

constexpr int musicChannels = 20;
constexpr int musicSpeed = 4;
constexpr int musicTempo = 68;
constexpr int musicInstrumentSlots = 64;

// Instrument numbers as written in the cells. The corner panels of the intro flash on
// the kick (1, bottom panel) and the snare (17, top panel).
enum MusicInstrument : uint8_t {
    insKick = 1,
    insBass = 2,
    insPad = 3,
    insLead = 4,
    insPluck = 5,
    insBell = 6,
    insChip = 7,
    insSub = 8,
    insHat = 9,
    insOpenHat = 10,
    insCrash = 11,
    insSweep = 12,
    insSnare = 17,
};

// The volume (0..64) an instrument's sample starts notes at, and its default panning.
int instrumentVolume(int instrument);
int instrumentPanning(int instrument);

// All 64 instrument slots; the ones without a sound carry the credits in their names.
std::vector<XmInstrument> buildInstruments();

struct MusicScore {
    std::vector<XmPattern> patterns; // 12, each musicChannels wide
    std::vector<uint8_t> orders;
    uint16_t restartPosition = 0;
};

MusicScore buildScore();

// Where the main part starts: its first order position (row 0 of it).
constexpr int mainPartOrder = 2;
