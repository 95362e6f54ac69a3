// Sync queries: which order and row are being heard. Render (main) thread.
#pragma once
#include <cstdint>

struct Song;

int32_t currentOrder(const Song* song);
int32_t currentRow(const Song* song);
int32_t elapsedTime(const Song* song);
// 1 when a cell of the heard row names instrument k; uses the application's loaded song.
int32_t rowUsesInstrument(int32_t k);
// The song the application loaded (null when none); rowUsesInstrument reads it.
void setSyncSong(Song* song);
// The song given to setSyncSong (null when none); the panels pass it to currentRow.
Song* syncSong();
