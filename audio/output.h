// Output device, block ring and mixing thread. The main thread opens, plays, stops
// and closes; the mixing thread renders blocks two seconds ahead of the device.
#pragma once
#include <cstdint>

struct Song;

struct SyncRecord {
    uint8_t order;     // low byte of orderPosition at the end of the block
    uint8_t row;       // low byte of row
    int32_t elapsedMs; // milliseconds mixed up to the end of the block
};

extern int32_t sampleRate; // frames per second given to openSoundOutput

bool openSoundOutput(int32_t rate);
void closeSoundOutput();
bool playSong(Song* song);
bool stopSong(Song* song);
void setTempo(Song* song, int32_t tempo);
