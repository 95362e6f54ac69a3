// Tick processing and song advance. advanceSong is the song's tick handler; the
// block renderer calls it on the mixing thread (or on the playSong caller's
// thread during the prefill) before mixing each tick's frames.
#include "music/tick_processing.h"

#include "music/pitch.h"
#include "music/row_processing.h"
#include "music/song.h"
#include "music/song_channel.h"

namespace {

int32_t loopJumpRow = -1;

int32_t rowCountOf(const Pattern* pattern) {
    return pattern ? pattern->rowCount : 0;
}

// Volume slide of 5xx, 6xx and Axx, from the shared memory.
void volumeSlide(SongChannel* c) {
    int32_t x = c->volumeSlideMemory >> 4;
    int32_t y = c->volumeSlideMemory & 15;
    if (x != 0)
        c->volume = c->volume + x > 64 ? 64 : c->volume + x;
    else if (y != 0)
        c->volume = c->volume - y < 0 ? 0 : c->volume - y;
    c->updateFlags |= updateVolume;
}

int32_t retriggerVolume(int32_t mode, int32_t v) {
    switch (mode) {
    case 1:
        return v - 1;
    case 2:
        return v - 2;
    case 3:
        return v - 4;
    case 4:
        return v - 8;
    case 5:
        return v - 16;
    case 6:
        return 2 * v / 3;
    case 7:
        return v >> 1;
    case 9:
        return v + 1;
    case 10:
        return v + 2;
    case 11:
        return v + 4;
    case 12:
        return v + 8;
    case 13:
        return v + 16;
    case 14:
        return 3 * v / 2;
    case 15:
        return 2 * v;
    default:
        return v; // 0 and 8
    }
}

void volumeColumnTick(SongChannel* c, uint8_t v) {
    int32_t y = v & 15;
    switch (v >> 4) {
    case 0x6:
        c->volume = c->volume - y < 0 ? 0 : c->volume - y;
        c->updateFlags |= updateVolume;
        break;
    case 0x7:
        c->volume = c->volume + y > 64 ? 64 : c->volume + y;
        c->updateFlags |= updateVolume;
        break;
    case 0xB:
        c->vibratoDepth = static_cast<uint8_t>(y);
        applyVibrato(c);
        advanceVibrato(c);
        break;
    case 0xD:
        c->panning -= y;
        c->updateFlags |= updatePanning;
        break;
    case 0xE:
        c->panning += y;
        c->updateFlags |= updatePanning;
        break;
    case 0xF:
        slideToNote(c);
        break;
    default: // set volume, fine slides, vibrato speed and set panning act on tick 0 only
        break;
    }
}

void extendedTick(Song* song, SongChannel* c, const PatternCell* cell, const Sample* sample) {
    int32_t x = cell->parameter >> 4;
    int32_t y = cell->parameter & 15;
    switch (x) {
    case extendedRetrigger:
        if (y != 0 && song->tick % y == 0)
            c->updateFlags |= updateTrigger | updateVolume | updateFrequency;
        break;
    case extendedNoteCut:
        if (song->tick == y) {
            c->volume = 0;
            c->updateFlags |= updateVolume;
        }
        break;
    case extendedNoteDelay:
        if (song->tick == y) {
            resetFromSample(c, sample);
            c->period = c->notePeriod;
            c->updateFlags |= updateFrequency;
            if (cell->volume != 0) applyVolumeColumn(c, cell->volume);
            c->updateFlags |= updateTrigger;
        } else {
            c->updateFlags &= 0xF0;
        }
        break;
    default:
        break;
    }
}

void effectTick(Song* song, SongChannel* c, const PatternCell* cell, const Sample* sample) {
    int32_t xx = cell->parameter;
    int32_t x = xx >> 4;
    int32_t y = xx & 15;
    switch (cell->effect) {
    case effectArpeggio:
        if (xx != 0) {
            int32_t phase = song->tick % 3;
            int32_t s = phase == 1 ? x : (phase == 2 ? y : 0);
            if (song->flags & 1)
                c->periodDelta = 64 * s;
            else
                c->periodDelta = amigaPeriod(c->realNote + s, sample->finetune) -
                                 amigaPeriod(c->realNote, sample->finetune);
            c->updateFlags |= updateFrequency;
        }
        break;
    case effectPortaUp:
        c->period = limitPeriod(int64_t(c->period) - 4 * c->portaUpMemory);
        c->periodDelta = 0;
        if (c->period < 56) c->period = 56;
        c->updateFlags |= updateFrequency;
        break;
    case effectPortaDown:
        c->period = limitPeriod(int64_t(c->period) + 4 * c->portaDownMemory);
        c->periodDelta = 0;
        c->updateFlags |= updateFrequency;
        break;
    case effectTonePorta:
        c->periodDelta = 0;
        slideToNote(c);
        break;
    case effectVibrato:
        applyVibrato(c);
        advanceVibrato(c);
        break;
    case effectTonePortaVolumeSlide:
        c->periodDelta = 0;
        slideToNote(c);
        volumeSlide(c);
        break;
    case effectVibratoVolumeSlide:
        applyVibrato(c);
        advanceVibrato(c);
        volumeSlide(c);
        break;
    case effectTremolo:
        applyTremolo(c);
        break;
    case effectVolumeSlide:
        volumeSlide(c);
        break;
    case effectExtended:
        extendedTick(song, c, cell, sample);
        break;
    case effectGlobalVolumeSlide: {
        int32_t mx = song->globalVolumeSlideMemory >> 4;
        int32_t my = song->globalVolumeSlideMemory & 15;
        // No update bit: voices take the new level at their next volume update.
        if (mx != 0)
            song->globalVolume = song->globalVolume + mx > 64 ? 64 : song->globalVolume + mx;
        else if (my != 0)
            song->globalVolume = song->globalVolume - my < 0 ? 0 : song->globalVolume - my;
        break;
    }
    case effectPanningSlide: {
        int32_t mx = c->panningSlideMemory >> 4;
        int32_t my = c->panningSlideMemory & 15;
        if (mx != 0)
            c->panning = c->panning + mx > 255 ? 255 : c->panning + mx;
        else if (my != 0)
            c->panning = c->panning - my < 0 ? 0 : c->panning - my;
        c->updateFlags |= updatePanning;
        break;
    }
    case effectMultiRetrigger: {
        int32_t n = c->retrigInterval;
        if (n != 0 && song->tick % n == 0) {
            if (c->retrigVolumeMode == 0) {
                c->updateFlags |= updateTrigger;
            } else {
                int32_t v = retriggerVolume(c->retrigVolumeMode, c->volume);
                c->volume = v < 0 ? 0 : (v > 64 ? 64 : v);
                c->updateFlags |= updateVolume | updateTrigger;
            }
        }
        break;
    }
    case effectTremor:
        applyTremor(c);
        break;
    default:
        break;
    }
}

} // namespace

int32_t patternLoopJumpRow() {
    return loopJumpRow;
}

void processTickEffects(Song* song) {
    const Pattern* pattern = currentPattern(song);
    if (!pattern || !pattern->cells || song->channelCount <= 0) return;
    int32_t channels =
        song->channelCount < songChannelCount ? song->channelCount : songChannelCount;

    for (int32_t index = 0; index < channels; ++index) {
        SongChannel* c = &songChannels[index];
        const PatternCell* cell = patternCell(song, pattern, song->row, index);
        const Instrument* instrument;
        Sample* sample = chooseSample(song, c, &instrument);

        c->volumeDelta = 0;
        c->periodDelta = 0;
        c->updateFlags = 0;

        if ((instrument->volumeType & 1) && !c->volEnvDone)
            stepEnvelope(c, instrument, EnvelopeKind::volume);
        if ((instrument->panningType & 1) && !c->panEnvDone)
            stepEnvelope(c, instrument, EnvelopeKind::panning);

        if (c->keyOff) {
            c->fadeVolume =
                c->fadeVolume - instrument->fadeout < 0 ? 0 : c->fadeVolume - instrument->fadeout;
            c->updateFlags |= updateVolume;
        }

        volumeColumnTick(c, cell->volume);
        effectTick(song, c, cell, sample);

        applyAutoVibrato(c, instrument);
        updateVoice(c, sample, song);
    }
}

void advanceSong(Song* song) {
    if (song->tick == 0) {
        if (song->nextOrder >= 0) song->orderPosition = song->nextOrder;
        if (song->nextRow >= 0) song->row = song->nextRow;
        // A break into a shorter pattern starts it at its first row, so that no cell
        // beyond the pattern is ever read.
        if (song->row >= rowCountOf(currentPattern(song))) song->row = 0;

        processRow(song);

        loopJumpRow = -1;
        if (song->nextRow == -1) {
            int32_t rowCount = rowCountOf(currentPattern(song));
            int32_t target = patternLoopTarget();
            if (target >= 0) {
                song->nextRow = target;
                if (target < rowCount) loopJumpRow = target;
            } else {
                song->nextRow = song->row + 1;
            }
            if (song->nextRow >= rowCount) {
                int32_t next = song->orderPosition + 1;
                if (next >= song->songLength) {
                    // A restart position outside the song would name order entries
                    // that hold no pattern; such a song starts over from the beginning.
                    next = song->restartPosition >= 0 && song->restartPosition < song->songLength
                               ? song->restartPosition
                               : 0;
                }
                song->nextOrder = next;
                song->nextRow = 0;
            }
        }
    } else {
        processTickEffects(song);
    }

    song->tick += 1;
    if (song->tick >= song->speed + song->patternDelayTicks) {
        song->patternDelayTicks = 0;
        song->tick = 0;
    }
}
