// Row processing: works the cells of the current row into the channel records on
// the row tick. Runs on the mixing thread (or the playSong caller's thread during
// the prefill), from advanceSong; nothing here allocates.
#include "music/row_processing.h"

#include "audio/mixer.h"
#include "audio/output.h"
#include "music/pitch.h"
#include "music/song.h"
#include "music/song_channel.h"

const Instrument emptyInstrument = {};

namespace {

const PatternCell emptyCell = {};

// Row an E6y of the current row sends the song back to; -1 when none. Kept apart
// from `row` so that the later ticks of the looping row still read that row.
int32_t loopTarget = -1;

int32_t limitVolume(int32_t volume) {
    return volume < 0 ? 0 : (volume > 64 ? 64 : volume);
}

void applyExtended(Song* song, SongChannel* c, Sample* sample, int32_t x, int32_t y,
                   int32_t keptVolume, int32_t keptPeriod, int32_t keptPanning) {
    switch (x) {
    case extendedFinePortaUp:
        if (y) c->finePortaUpMemory = static_cast<uint8_t>(y);
        c->period = limitPeriod(int64_t(c->period) - 4 * c->finePortaUpMemory);
        break;
    case extendedFinePortaDown:
        if (y) c->finePortaDownMemory = static_cast<uint8_t>(y);
        c->period = limitPeriod(int64_t(c->period) + 4 * c->finePortaDownMemory);
        break;
    case extendedVibratoWaveform:
        c->waveControl = static_cast<uint8_t>((c->waveControl & 0xF0) | y);
        break;
    case extendedFinetune:
        // Changes the shared sample for later notes on every channel. The shared
        // empty sample stays all-zero.
        if (sample != &emptySample) sample->finetune = static_cast<int8_t>(y);
        break;
    case extendedPatternLoop:
        if (y == 0) {
            c->loopRow = song->row;
        } else {
            c->loopCount = c->loopCount == 0 ? y : c->loopCount - 1;
            if (c->loopCount != 0) loopTarget = c->loopRow;
        }
        break;
    case extendedTremoloWaveform:
        c->waveControl = static_cast<uint8_t>((c->waveControl & 0x0F) | (y << 4));
        break;
    case extendedSetPanning:
        c->panning = 16 * y;
        c->updateFlags |= updatePanning;
        break;
    case extendedFineVolumeUp:
        if (y) c->fineVolumeSlideMemory = static_cast<uint8_t>(y);
        c->volume =
            c->volume + c->fineVolumeSlideMemory > 64 ? 64 : c->volume + c->fineVolumeSlideMemory;
        c->updateFlags |= updateVolume;
        break;
    case extendedFineVolumeDown:
        if (y) c->fineVolumeSlideMemory = static_cast<uint8_t>(y);
        c->volume =
            c->volume - c->fineVolumeSlideMemory < 0 ? 0 : c->volume - c->fineVolumeSlideMemory;
        c->updateFlags |= updateVolume;
        break;
    case extendedNoteDelay:
        c->volume = keptVolume;
        c->period = keptPeriod;
        c->panning = keptPanning;
        c->updateFlags &= 0xF0;
        break;
    case extendedPatternDelay:
        song->patternDelayTicks = y * song->speed;
        break;
    default: // E0, E3, EF nothing; E9, EC act on later ticks
        break;
    }
}

void applyEffect(Song* song, SongChannel* c, const PatternCell* cell, Sample* sample,
                 const Instrument* instrument, bool& jumpSeen, int32_t keptVolume,
                 int32_t keptPeriod, int32_t keptPanning) {
    int32_t xx = cell->parameter;
    int32_t x = xx >> 4;
    int32_t y = xx & 15;
    switch (cell->effect) {
    case effectPortaUp:
        if (xx) c->portaUpMemory = static_cast<uint8_t>(xx);
        break;
    case effectPortaDown:
        if (xx) c->portaDownMemory = static_cast<uint8_t>(xx);
        break;
    case effectTonePorta:
        if (xx) c->portaSpeed = static_cast<uint8_t>(xx);
        c->portaTarget = c->notePeriod;
        c->updateFlags &= ~(updateTrigger | updateFrequency);
        break;
    case effectVibrato:
        if (x) c->vibratoSpeed = static_cast<uint8_t>(x);
        if (y) c->vibratoDepth = static_cast<uint8_t>(y);
        applyVibrato(c);
        break;
    case effectTonePortaVolumeSlide:
        c->portaTarget = c->notePeriod;
        if (xx) c->volumeSlideMemory = static_cast<uint8_t>(xx);
        c->updateFlags &= ~(updateTrigger | updateFrequency);
        break;
    case effectVibratoVolumeSlide:
        if (xx) c->volumeSlideMemory = static_cast<uint8_t>(xx);
        applyVibrato(c);
        break;
    case effectTremolo:
        if (x) c->tremoloSpeed = static_cast<uint8_t>(x);
        if (y) c->tremoloDepth = static_cast<uint8_t>(y);
        break;
    case effectSetPanning:
        c->panning = xx;
        c->updateFlags |= updatePanning;
        break;
    case effectSampleOffset: {
        if (xx) c->sampleOffsetMemory = xx;
        uint32_t offset = static_cast<uint32_t>(c->sampleOffsetMemory) * 256;
        if (offset >= sample->loopStart + sample->loopLength) {
            c->updateFlags = static_cast<uint8_t>((c->updateFlags & ~updateTrigger) | updateRewind);
        } else if (c->voice) {
            c->voice->startOffset = static_cast<int32_t>(offset);
        }
        break;
    }
    case effectVolumeSlide:
        if (xx) c->volumeSlideMemory = static_cast<uint8_t>(xx);
        break;
    case effectPositionJump:
        song->nextRow = 0;
        song->nextOrder = xx >= song->songLength ? 0 : xx;
        jumpSeen = true;
        break;
    case effectSetVolume:
        c->volume = xx;
        c->updateFlags |= updateVolume;
        break;
    case effectPatternBreak:
        song->nextRow = 10 * x + y > 63 ? 0 : 10 * x + y;
        if (!jumpSeen) song->nextOrder = song->orderPosition + 1;
        if (song->nextOrder >= song->songLength) song->nextOrder = 0;
        break;
    case effectExtended:
        applyExtended(song, c, sample, x, y, keptVolume, keptPeriod, keptPanning);
        break;
    case effectSpeedTempo:
        // F00 changes nothing: FastTracker 2 ignores it, and modules are written for that.
        if (xx == 0) break;
        if (xx < 32)
            song->speed = xx;
        else
            setTempo(song, xx);
        break;
    case effectGlobalVolume:
        song->globalVolume = xx > 64 ? 64 : xx;
        c->updateFlags |= updateVolume;
        break;
    case effectGlobalVolumeSlide:
        if (xx) song->globalVolumeSlideMemory = static_cast<uint8_t>(xx);
        break;
    case effectEnvelopePosition:
        if (instrument->volumeType & 1) setVolumeEnvelopePosition(c, instrument, xx);
        break;
    case effectPanningSlide:
        if (xx) {
            c->panningSlideMemory = static_cast<uint8_t>(xx);
            c->updateFlags |= updatePanning;
        }
        break;
    case effectMultiRetrigger:
        if (xx) {
            c->retrigInterval = static_cast<uint8_t>(y);
            c->retrigVolumeMode = static_cast<uint8_t>(x);
        }
        break;
    case effectTremor:
        if (xx) {
            c->tremorOnTicks = static_cast<uint8_t>(x + 1);
            c->tremorOffTicks = static_cast<uint8_t>(y + 1);
        }
        applyTremor(c);
        break;
    case effectExtraFinePorta:
        if (x == 1) {
            if (y) c->extraFinePortaUpMemory = static_cast<uint8_t>(y);
            c->period = limitPeriod(int64_t(c->period) - c->extraFinePortaUpMemory);
        } else if (x == 2) {
            if (y) c->extraFinePortaDownMemory = static_cast<uint8_t>(y);
            c->period = limitPeriod(int64_t(c->period) + c->extraFinePortaDownMemory);
        }
        break;
    default: // arpeggio acts on later ticks; K was taken with the note; the rest are unused
        break;
    }
}

} // namespace

// ---- Look-ups shared with the later ticks ----

const Pattern* currentPattern(const Song* song) {
    int32_t order = song->orderPosition;
    if (order < 0 || order >= song->songLength || order >= 256 || !song->patterns) return nullptr;
    int32_t number = song->orderTable[order];
    return number < song->patternCount ? &song->patterns[number] : nullptr;
}

const PatternCell* patternCell(const Song* song, const Pattern* pattern, int32_t row,
                               int32_t channel) {
    if (!pattern || !pattern->cells || row < 0 || row >= pattern->rowCount) return &emptyCell;
    return &pattern->cells[row * song->channelCount + channel];
}

Sample* chooseSample(const Song* song, const SongChannel* c, const Instrument** instrument) {
    if (c->instrument >= song->instrumentCount || !song->instruments) {
        *instrument = &emptyInstrument;
        return &emptySample;
    }
    const Instrument* in = &song->instruments[c->instrument];
    *instrument = in;
    // Notes outside the map (none in a loaded song) play nothing.
    if (c->note >= 96) return &emptySample;
    int32_t k = in->sampleMap[c->note];
    if (k >= 16 || !in->samples[k]) return &emptySample;
    return in->samples[k];
}

int32_t patternLoopTarget() {
    return loopTarget;
}

// ---- The row tick ----

void applyVolumeColumn(SongChannel* c, uint8_t v) {
    int32_t y = v & 15;
    if (v >= 0x10 && v <= 0x50) {
        c->volume = v - 0x10;
        c->updateFlags |= updateVolume;
    } else if ((v >= 0x60 && v <= 0x6F) || (v >= 0x80 && v <= 0x8F)) {
        c->volume = limitVolume(c->volume - y);
        c->updateFlags |= updateVolume;
    } else if ((v >= 0x70 && v <= 0x7F) || (v >= 0x90 && v <= 0x9F)) {
        c->volume = c->volume + y > 64 ? 64 : c->volume + y;
        c->updateFlags |= updateVolume;
    } else if (v >= 0xA0 && v <= 0xAF) {
        c->vibratoSpeed = static_cast<uint8_t>(y);
    } else if (v >= 0xB0 && v <= 0xBF) {
        c->vibratoDepth = static_cast<uint8_t>(y);
    } else if (v >= 0xC0 && v <= 0xCF) {
        c->panning = 16 * y;
        c->updateFlags |= updatePanning;
    } else if (v >= 0xD0 && v <= 0xDF) {
        c->panning -= y;
        c->updateFlags |= updatePanning;
    } else if (v >= 0xE0 && v <= 0xEF) {
        c->panning += y;
        c->updateFlags |= updatePanning;
    } else if (v >= 0xF0) {
        if (y) c->portaSpeed = static_cast<uint8_t>(16 * y);
        c->portaTarget = c->notePeriod;
        c->updateFlags &= ~updateTrigger;
    }
}

void processRow(Song* song) {
    song->nextRow = -1;
    song->nextOrder = -1;
    loopTarget = -1;
    bool jumpSeen = false;
    if (song->channelCount <= 0) return;
    const Pattern* pattern = currentPattern(song);
    int32_t channels =
        song->channelCount < songChannelCount ? song->channelCount : songChannelCount;
    bool linear = song->flags & 1;

    for (int32_t index = 0; index < channels; ++index) {
        SongChannel* c = &songChannels[index];
        const PatternCell* cell = patternCell(song, pattern, song->row, index);
        bool porta = cell->effect == effectTonePorta || cell->effect == effectTonePortaVolumeSlide;
        bool hasNote = cell->note != 0 && cell->note != 255;

        if (cell->instrument != 0 && !porta)
            c->instrument = static_cast<uint8_t>(cell->instrument - 1);
        if (hasNote && !porta) c->note = static_cast<uint8_t>(cell->note - 1);

        const Instrument* instrument;
        Sample* sample = chooseSample(song, c, &instrument);

        int32_t keptVolume = c->volume;
        int32_t keptPeriod = c->period;
        int32_t keptPanning = c->panning;

        // A tremolo that ends leaves its last offset in the volume.
        if (c->lastEffect == effectTremolo && cell->effect != effectTremolo)
            c->volume = keptVolume + c->volumeDelta;
        c->lastEffect = cell->effect;
        c->volumeDelta = 0;
        c->updateFlags = 0;

        if (hasNote) {
            c->realNote = static_cast<uint8_t>(cell->note + sample->relativeNote - 1);
            c->notePeriod = linear ? 7680 - 64 * c->realNote - sample->finetune / 2
                                   : amigaPeriod(c->realNote, sample->finetune);
            if (!porta) c->period = c->notePeriod;
            c->updateFlags = updateTrigger;
        }

        c->periodDelta = 0;
        c->updateFlags |= updateFrequency | updateVolume;

        if (cell->instrument != 0) resetFromSample(c, sample);
        if (cell->volume != 0) applyVolumeColumn(c, cell->volume);
        if (cell->note == 255 || cell->effect == effectKeyOff) c->keyOff = 1;

        if (instrument->volumeType & 1) {
            if (!c->volEnvDone) stepEnvelope(c, instrument, EnvelopeKind::volume);
        } else if (c->keyOff) {
            c->volEnvVolume = 0; // without an envelope a key-off silences at once
        }
        if ((instrument->panningType & 1) && !c->panEnvDone)
            stepEnvelope(c, instrument, EnvelopeKind::panning);

        if (c->keyOff) {
            c->fadeVolume =
                c->fadeVolume - instrument->fadeout < 0 ? 0 : c->fadeVolume - instrument->fadeout;
            c->updateFlags |= updateVolume;
        }

        applyEffect(song, c, cell, sample, instrument, jumpSeen, keptVolume, keptPeriod,
                    keptPanning);

        applyAutoVibrato(c, instrument);
        updateVoice(c, sample, song);
    }
}
