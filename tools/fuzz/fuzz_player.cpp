// The player under arbitrary input: one input is a module file, served through the
// file callbacks to loadSong; what loads is played through the song engine, the
// mixer and the block renderer, synchronously on this thread (the mixing thread is
// never started; the virtual wave output's position is moved block by block), and
// the sync queries are asked about every block heard.
//
// Each loaded song is played twice from its start: two rings at 11025 Hz, where the
// voices step through their samples a few slots a frame at most, then a few thousand
// ticks at 2000 Hz, where every tick is short and the voices leap over their loops.
// (Low rates keep an input cheap: the mixer's work grows with the frames, not the
// ticks.) Besides the
// sanitizers, the checks below end the run on a Song that breaks the loader's own
// promises (loops inside the sample, cells for every row, tables within bounds).
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

// Renders the blocks the virtual device has moved past, one block at a time, and
// asks what the visuals would ask each frame.
void playFor(Song* song, int64_t tickLimit, int32_t blockLimit) {
    ticks = 0;
    song->tickHandler = countingTick;
    if (!playSong(song)) broken("playSong refused a loaded song", 0, 0);
    for (int32_t b = 0; b < blockLimit && ticks < tickLimit; ++b) {
        advanceVirtualPosition(uint64_t(blockFrames) * 4);
        pollOutputOnce();
        if (writeBlock < 0 || writeBlock >= blockCount) broken("write block", writeBlock, 0);
        if (song->orderPosition < 0 || song->orderPosition >= song->songLength)
            broken("order position", song->orderPosition, song->songLength);
        int32_t pattern = song->orderTable[song->orderPosition];
        if (song->row < 0 || song->row >= song->patterns[pattern].rowCount)
            broken("row", song->row, song->patterns[pattern].rowCount);
        (void)currentOrder(song);
        (void)currentRow(song);
        (void)elapsedTime(song);
        for (int32_t k = 1; k <= 128; k += 9)
            (void)rowUsesInstrument(k);
    }
    for (int32_t v = 0; v < mixChannelCount; ++v)
        if (mixChannels[v].number != v) broken("voice number overwritten", v, 0);
    stopSong(song);
    song->tickHandler = advanceSong;
}

bool openAt(int32_t rate) {
    closeSoundOutput();
    return openSoundOutput(rate);
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
    if (!openAt(11025)) broken("no virtual output", 0, 0);
    Song* song = loadSong(nullptr);
    if (!song) return 0;
    checkSong(song);
    setSyncSong(song);
    playFor(song, 1 << 30, 100); // the prefill ring and one ring more
    if (!openAt(2000)) broken("no virtual output", 0, 0);
    playFor(song, 3000, 3000);
    setSyncSong(nullptr);
    freeSong(song);
    closeSoundOutput();
    return 0;
}
