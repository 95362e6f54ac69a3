// composeModule: the intro's module as XM bytes, from the synthesised instruments and the
// arrangement of music_score.cpp, with the module facts the player is built around
// (20 channels, 12 patterns, speed 4, tempo 68, linear frequency table).
#include "compose.h"
#include "music_score.h"

std::vector<uint8_t> composeModule() {
    XmModule m;
    m.name = "Velmora invitation";
    m.trackerName = "velmora-assets";
    m.channelCount = musicChannels;
    m.flags = 1;
    m.defaultSpeed = musicSpeed;
    m.defaultTempo = musicTempo;

    MusicScore score = buildScore();
    m.orders = score.orders;
    m.restartPosition = score.restartPosition;
    m.patterns = std::move(score.patterns);
    m.instruments = buildInstruments();
    return writeXm(m);
}
