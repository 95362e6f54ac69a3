// Output device, block ring and mixing thread. The main thread opens, plays, stops
// and closes; the mixing thread renders blocks two seconds ahead of the device.
#pragma once
#include <atomic>
#include <cstdint>

struct Song;

// Position reached at the end of rendering one block. Aligned to 8 bytes so that a
// whole record is written and read in one atomic access.
struct alignas(8) SyncRecord {
    uint8_t order;     // low byte of orderPosition at the end of the block
    uint8_t row;       // low byte of row
    int32_t elapsedMs; // milliseconds mixed up to the end of the block
};

// ---- Sizes, fixed by openSoundOutput ----
extern int32_t sampleRate;  // frames per second given to openSoundOutput
extern int32_t blockFrames; // 20 ms rounded up to a multiple of 4 frames: 884 at 44100 Hz
extern int32_t ringFrames;  // 100 blocks: 88400 frames at 44100 Hz
extern int32_t blockCount;  // ringFrames / blockFrames

// ---- Ring state ----
// The next block to render. Mixing thread while playing; main thread otherwise.
extern int32_t writeBlock;
// The block the device is playing, as counted by the mixing thread; read by the
// main thread through the sync queries.
extern std::atomic<int32_t> heardBlock;
// One record per block; null while no song plays. Written by the mixing thread,
// read through heardSyncRecord.
extern SyncRecord* syncRecords;

// ---- Flags between the main thread and the mixing thread ----
extern std::atomic<uint8_t> stopRequested; // main -> mixing thread: leave the loop
extern std::atomic<uint8_t> rendering;     // mixing thread: a block render is under way
extern std::atomic<uint8_t> threadExited;  // mixing thread: 1 while no mixing thread runs

// False while a file callback is missing or the wave output cannot be opened at
// this rate (1000..384000 frames per second).
bool openSoundOutput(int32_t rate);
// Stops any playing song, then stops and releases the wave output.
void closeSoundOutput();
// Renders the whole ring, starts the device and (unless disabled) the mixing
// thread. False for a null song or while the output is closed.
bool playSong(Song* song);
// Stops the mixing thread and the device and releases the ring. False for a null
// song; a song that is not the one playing leaves the playback alone.
bool stopSong(Song* song);
// Sets the song's tempo (beats per minute) and its frames per tick.
void setTempo(Song* song, int32_t tempo);

// Mixes, records and converts block writeBlock, then advances writeBlock. Called by
// playSong and pollOutputOnce; never alongside a running mixing thread.
void renderBlock();
// True while the mixing thread is rendering a block.
bool mixingThreadRendering();
// One pass of the mixing thread's loop, without its sleep: renders every block
// the device has finished and moves heardBlock along. For callers that drive the
// output themselves (tests, offline rendering) with the mixing thread disabled;
// never call it while the mixing thread runs.
void pollOutputOnce();
// Whether playSong starts the mixing thread (the default). Main thread, while
// nothing plays.
void setMixingThreadEnabled(bool enabled);
// The record of the block being heard; false while no song plays.
bool heardSyncRecord(SyncRecord* record);

// ---- Health counters ----
// How well the mixing thread has kept ahead of the device since the program started,
// for the run statistics (VELMORA_STATS) of long test runs. Any thread may read them.
struct OutputHealth {
    uint64_t blocksRendered;    // by playSong's prefill and by the polls
    int32_t longestCatchUp;     // most blocks one poll had to render
    int32_t ringOverruns;       // polls that found the device past everything rendered
    int64_t shortestLeadFrames; // least frames left ahead of the device at a poll; -1: none yet
    int32_t songLoops;          // times the song went back to an earlier order position
};
OutputHealth outputHealth();
