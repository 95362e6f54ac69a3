// Row processing: the row tick (tick 0) of every channel, taking each cell's note,
// instrument, volume-column byte and effect. Runs on the mixing thread, called by
// advanceSong; also holds the cell and sample look-ups the later ticks share.
#pragma once
#include <cstdint>

struct Song;
struct Sample;
struct Instrument;
struct Pattern;
struct PatternCell;
struct SongChannel;

// Effect numbers of the effect column.
enum : uint8_t {
    effectArpeggio = 0,
    effectPortaUp = 1,
    effectPortaDown = 2,
    effectTonePorta = 3,
    effectVibrato = 4,
    effectTonePortaVolumeSlide = 5,
    effectVibratoVolumeSlide = 6,
    effectTremolo = 7,
    effectSetPanning = 8,
    effectSampleOffset = 9,
    effectVolumeSlide = 10,
    effectPositionJump = 11,
    effectSetVolume = 12,
    effectPatternBreak = 13,
    effectExtended = 14,
    effectSpeedTempo = 15,
    effectGlobalVolume = 16,
    effectGlobalVolumeSlide = 17,
    effectKeyOff = 20,
    effectEnvelopePosition = 21,
    effectPanningSlide = 25,
    effectMultiRetrigger = 27,
    effectTremor = 29,
    effectExtraFinePorta = 33,
};

// Extended effects: the high nibble of an E parameter.
enum : uint8_t {
    extendedFinePortaUp = 0x1,
    extendedFinePortaDown = 0x2,
    extendedVibratoWaveform = 0x4,
    extendedFinetune = 0x5,
    extendedPatternLoop = 0x6,
    extendedTremoloWaveform = 0x7,
    extendedSetPanning = 0x8,
    extendedRetrigger = 0x9,
    extendedFineVolumeUp = 0xA,
    extendedFineVolumeDown = 0xB,
    extendedNoteCut = 0xC,
    extendedNoteDelay = 0xD,
    extendedPatternDelay = 0xE,
};

// Stands in for an instrument number at or beyond instrumentCount; plays emptySample.
extern const Instrument emptyInstrument;

// The pattern the order table names at orderPosition; null when there is none.
const Pattern* currentPattern(const Song* song);
// The cell of row `row`, channel `channel`; an empty cell outside the pattern.
const PatternCell* patternCell(const Song* song, const Pattern* pattern, int32_t row,
                               int32_t channel);
// The channel's instrument and sample for this tick, from its instrument and note.
Sample* chooseSample(const Song* song, const SongChannel* channel, const Instrument** instrument);

// Tick 0 of the current row for every channel. Leaves nextRow / nextOrder at -1
// unless a B or D asked for a jump.
void processRow(Song* song);
// The tick-0 meaning of a volume-column byte (also used by a delayed note).
void applyVolumeColumn(SongChannel* channel, uint8_t volumeByte);
// The row a pattern loop (E6y) of the row just processed goes back to, or -1.
int32_t patternLoopTarget();
