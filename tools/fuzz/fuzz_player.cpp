// The player under arbitrary input: one input is a module file, served through the
// file callbacks to loadSong; what loads is played through the song engine, the
// mixer and the block renderer, synchronously on this thread (the mixing thread is
// never started; the virtual wave output's position is moved block by block), and
// the sync queries are asked about the blocks heard.
//
// The work per input is bounded, so that one core runs well over 500 inputs a
// second under the sanitizers: the engine's cost grows with the ticks and the
// mixer's with the frames, so each song is played from its start three times at
// low rates, for a few hundred ticks in all:
//  - at 4000 Hz up to 250 ticks (the 2 s ring of the prefill, then block by block,
//    a few blocks at a time now and then). Gain ramps are 11 frames long there, so
//    the four-frame ramp loop runs more than once, and the voices still step
//    through their samples a few slots a frame at most at the lower notes;
//  - at 1000 Hz, where each tick is a few frames and the voices leap over their
//    loops, twice from the same song state: the prefill with the widest frame
//    loops, then the prefill with the plain loops, which must give the same ring
//    bit for bit, and one jump of the play position past the whole ring (the
//    catch-up of an output that fell behind).
// The input's length picks the frame loops of the first play (plain, four or
// eight frames at a time), so that every loop gets its share of the search.
// Besides the sanitizers, the checks below end the run on a Song that breaks the
// loader's own promises (loops inside the sample, cells for every row, tables
// within bounds) and on a play position outside the song.
//
// Built by scripts/fuzz with clang's libFuzzer; the same entry point is driven by
// fuzz_replay.cpp in the ordinary build, which replays the committed corpus.
#include "audio/mixer.h"
#include "audio/output.h"
#include "audio/sync.h"
#include "audio/waveout_virtual.h"
#include "music/loader.h"
#include "music/module_source.h"
#include "music/song.h"
#include "music/tick_processing.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// ---- The input behind the file callbacks ----

const uint8_t* inputBytes = nullptr;
int32_t inputSize = 0;

void* openInput(const char*) {
    return openMemoryFile(inputBytes, inputSize);
}

[[noreturn]] void broken(const char* what, int64_t a, int64_t b) {
    std::fprintf(stderr, "fuzz_player: %s (%lld, %lld)\n", what, static_cast<long long>(a),
                 static_cast<long long>(b));
    std::abort();
}

// ---- What every loaded Song must hold ----

void checkSample(const Sample* s, bool empty) {
    if (!s) broken("null sample slot", 0, 0);
    if (empty) return;
    if ((s->length == 0) != (s->data == nullptr)) broken("sample data", s->length, 0);
    if (uint64_t(s->loopStart) + s->loopLength > s->length)
        broken("loop past the sample", s->loopStart, s->loopLength);
    if (s->loopType != 1 && s->loopType != 2 && s->loopType != 4)
        broken("loop type", s->loopType, 0);
    if (s->length > 0 && s->bits != 16) broken("sample width", s->bits, 0);
}

void checkSong(const Song* song) {
    if (song->channelCount < 1 || song->channelCount > 32)
        broken("channel count", song->channelCount, 0);
    if (song->songLength < 1 || song->songLength > 256) broken("song length", song->songLength, 0);
    if (song->restartPosition < 0 || song->restartPosition >= song->songLength)
        broken("restart position", song->restartPosition, song->songLength);
    if (song->patternCount < song->usedPatternCount)
        broken("pattern count", song->patternCount, song->usedPatternCount);
    for (int32_t i = 0; i < song->songLength; ++i)
        if (song->orderTable[i] >= song->patternCount)
            broken("order names a missing pattern", i, song->orderTable[i]);
    for (int32_t p = 0; p < song->patternCount; ++p) {
        const Pattern& pattern = song->patterns[p];
        if (pattern.rowCount < 1 || pattern.rowCount > 256 || !pattern.cells)
            broken("pattern rows", p, pattern.rowCount);
        for (int32_t i = 0; i < pattern.rowCount * song->channelCount; ++i) {
            const PatternCell& cell = pattern.cells[i];
            if (cell.note > 96 && cell.note != 255) broken("cell note", p, cell.note);
            if (cell.instrument > 128) broken("cell instrument", p, cell.instrument);
        }
    }
    if (song->instrumentCount > 0 && !song->instruments)
        broken("instrument table", song->instrumentCount, 0);
    for (int32_t i = 0; i < song->instrumentCount; ++i) {
        const Instrument& ins = song->instruments[i];
        if (ins.sampleCount < 0 || ins.sampleCount > 16) broken("sample count", i, ins.sampleCount);
        for (int32_t k = 0; k < 16; ++k)
            checkSample(ins.samples[k], k >= ins.sampleCount);
        if (ins.volumePointCount > 12 || ins.panningPointCount > 12)
            broken("envelope points", ins.volumePointCount, ins.panningPointCount);
    }
    if (!song->tickHandler) broken("no tick handler", 0, 0);
}

// ---- Playing ----

int64_t ticks = 0;

void countingTick(Song* song) {
    ++ticks;
    advanceSong(song);
}

// What the visuals ask each frame, and where the song must stand.
void checkPosition(const Song* song) {
    if (writeBlock < 0 || writeBlock >= blockCount) broken("write block", writeBlock, 0);
    if (song->orderPosition < 0 || song->orderPosition >= song->songLength)
        broken("order position", song->orderPosition, song->songLength);
    int32_t pattern = song->orderTable[song->orderPosition];
    if (song->row < 0 || song->row >= song->patterns[pattern].rowCount)
        broken("row", song->row, song->patterns[pattern].rowCount);
    (void)currentOrder(song);
    (void)currentRow(song);
    (void)elapsedTime(song);
}

// The ring as the prefill of the last play left it.
std::vector<int16_t> prefilled;

// What one play leaves in the Song for the next: E5x writes its finetune into the
// shared sample, and the global volume slide keeps its memory. The two prefills that
// are compared start from the same values.
std::vector<int8_t> savedFinetunes;
uint8_t savedSlideMemory = 0;

void saveCarriedState(const Song* song) {
    savedFinetunes.clear();
    for (int32_t i = 0; i < song->instrumentCount; ++i)
        for (int32_t k = 0; k < song->instruments[i].sampleCount; ++k)
            savedFinetunes.push_back(song->instruments[i].samples[k]->finetune);
    savedSlideMemory = song->globalVolumeSlideMemory;
}

void restoreCarriedState(Song* song) {
    size_t n = 0;
    for (int32_t i = 0; i < song->instrumentCount; ++i)
        for (int32_t k = 0; k < song->instruments[i].sampleCount; ++k)
            song->instruments[i].samples[k]->finetune = savedFinetunes[n++];
    song->globalVolumeSlideMemory = savedSlideMemory;
}

// Starts the song at `rate` (the prefill renders the whole ring), then moves the
// device on block by block until `tickLimit` ticks have passed or `polls` polls were
// made; with `overrun`, each poll moves it past the whole ring instead.
void play(Song* song, int32_t rate, int64_t tickLimit, int32_t polls, bool overrun) {
    closeSoundOutput();
    if (!openSoundOutput(rate)) broken("no virtual output", rate, 0);
    ticks = 0;
    song->tickHandler = countingTick;
    if (!playSong(song)) broken("playSong refused a loaded song", 0, 0);
    checkPosition(song);
    const int16_t* ring = virtualRing();
    if (!ring) broken("no ring handed to the device", 0, 0);
    prefilled.assign(ring, ring + 2 * int64_t(virtualRingFrames()));
    for (int32_t b = 0; b < polls && ticks < tickLimit; ++b) {
        // Now and then the device gets three blocks ahead between two polls.
        int32_t moved = overrun ? blockCount + 1 : b % 8 == 7 ? 3 : 1;
        advanceVirtualPosition(uint64_t(blockFrames) * 4 * uint64_t(moved));
        pollOutputOnce();
        checkPosition(song);
        (void)rowUsesInstrument(1 + b % 16);
    }
    for (int32_t v = 0; v < mixChannelCount; ++v)
        if (mixChannels[v].number != v) broken("voice number overwritten", v, 0);
    stopSong(song);
    song->tickHandler = advanceSong;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setMixingThreadEnabled(false);
    registerFileCallbacks(openInput, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Larger inputs only slow the search down: sample data is the bulk of any module.
    if (size > (1u << 20)) return 0;
    inputBytes = data;
    inputSize = static_cast<int32_t>(size);
    Song* song = loadSong(nullptr);
    if (!song) return 0;
    checkSong(song);
    setSyncSong(song);
    setMixingLoops(static_cast<int32_t>(size % 3));
    play(song, 4000, 250, 1 << 20, false);
    saveCarriedState(song);
    setMixingLoops(2);
    play(song, 1000, 0, 0, false);
    std::vector<int16_t> widest = prefilled;
    restoreCarriedState(song);
    setMixingLoops(0);
    play(song, 1000, 1 << 30, 1, true);
    if (widest != prefilled) {
        size_t at = 0;
        while (at + 1 < widest.size() && at + 1 < prefilled.size() && widest[at] == prefilled[at])
            ++at;
        broken("frame loops disagree at value (index, widest - plain)", int64_t(at),
               int64_t(widest[at]) - prefilled[at]);
    }
    setSyncSong(nullptr);
    freeSong(song);
    closeSoundOutput();
    return 0;
}
