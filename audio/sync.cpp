// Sync queries: the order, row and time being heard, from the record of the block
// the device is playing. All run on the main (render) thread, without locks; they
// answer 0 without a song or while no song plays.
#include "audio/sync.h"

#include "audio/output.h"
#include "music/song.h"

namespace {
Song* loadedSong = nullptr;
}

void setSyncSong(Song* song) {
    loadedSong = song;
}
Song* syncSong() {
    return loadedSong;
}

int32_t currentOrder(const Song* song) {
    SyncRecord record;
    if (!song || !heardSyncRecord(&record)) return 0;
    return record.order;
}

int32_t currentRow(const Song* song) {
    SyncRecord record;
    if (!song || !heardSyncRecord(&record)) return 0;
    return record.row;
}

int32_t elapsedTime(const Song* song) {
    SyncRecord record;
    if (!song || !heardSyncRecord(&record)) return 0;
    return record.elapsedMs;
}

int32_t rowUsesInstrument(int32_t k) {
    const Song* song = loadedSong;
    SyncRecord record;
    if (!song || k == 0 || !heardSyncRecord(&record)) return 0;
    // Order and row come from the record of one block, read once.
    int32_t order = record.order;
    int32_t row = record.row;
    int32_t channels = song->channelCount;
    if (!song->patterns || channels <= 0) return 0;
    int32_t patternNumber = song->orderTable[order];
    if (patternNumber >= song->patternCount) return 0;
    const Pattern& pattern = song->patterns[patternNumber];
    if (!pattern.cells || row >= pattern.rowCount) return 0;
    const PatternCell* cells = pattern.cells + static_cast<int64_t>(row) * channels;
    for (int32_t c = 0; c < channels; ++c)
        if (cells[c].instrument != 0 && cells[c].instrument == k) return 1;
    return 0;
}
