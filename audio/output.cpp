// Output device, block ring and mixing thread.
//
// Main thread: openSoundOutput, closeSoundOutput, playSong (which renders the whole
// ring itself before the device starts), stopSong, heardSyncRecord,
// setMixingThreadEnabled. Mixing thread (mixing_thread.cpp, or the main thread's
// frame loop through mixing_pump.cpp): pollOutputOnce, and through it renderBlock
// with the song's tick handler and the mixer. setTempo runs wherever the tick
// handler runs. The two sides meet only through the three byte flags, heardBlock
// and the sync records; there are no locks.
#include "audio/output.h"

#include "app/mathutil.h"
#include "app/memory.h"
#include "audio/mixer.h"
#include "audio/mixing.h"
#include "audio/waveout.h"
#include "music/module_source.h"
#include "music/song.h"
#include "music/song_channel.h"

#include <cstdint>

int32_t sampleRate = 0;
int32_t blockFrames = 0;
int32_t ringFrames = 0;
int32_t blockCount = 0;
int32_t writeBlock = 0;
std::atomic<int32_t> heardBlock{0};
SyncRecord* syncRecords = nullptr;
std::atomic<uint8_t> stopRequested{0};
std::atomic<uint8_t> rendering{0};
std::atomic<uint8_t> threadExited{1};

namespace {

constexpr int32_t bufferMilliseconds = 1000;
constexpr int32_t lowestRate = 1000;
constexpr int32_t highestRate = 384000;

bool outputOpen = false;
float inverseSampleRate = 0.0f;
Song* currentSong = nullptr;

void* mixMemory = nullptr;       // the allocation behind mixFrames
float* mixFrames = nullptr;      // ringFrames stereo float frames, 16-byte aligned
int16_t* outputBuffer = nullptr; // ringFrames stereo 16-bit frames: what the device plays

bool mixingThreadEnabled = true;

// Health counters: written where blocks are rendered, read by anyone.
std::atomic<uint64_t> blocksRendered{0};
std::atomic<int32_t> longestCatchUp{0};
std::atomic<int32_t> ringOverruns{0};
std::atomic<int64_t> shortestLead{-1};
std::atomic<int32_t> songLoops{0};
// Frames of the stream rendered since the device started, as of the last poll: the
// start of the block then playing plus a whole ring.
uint64_t renderedFrontier = 0;

// A record is stored and loaded whole, as one 8-byte atomic access. The compiler's
// atomic built-ins do what std::atomic_ref does, and every standard library the
// platforms come with has them (not all have atomic_ref yet).
static_assert(__atomic_always_lock_free(sizeof(SyncRecord), nullptr));

void storeRecord(int32_t block, SyncRecord record) {
    __atomic_store(&syncRecords[block], &record, __ATOMIC_RELEASE);
}

SyncRecord loadRecord(int32_t block) {
    SyncRecord record;
    __atomic_load(&syncRecords[block], &record, __ATOMIC_ACQUIRE);
    return record;
}

// Every voice silent, at rest and pointing at no sample.
void resetVoices() {
    for (int32_t v = 0; v < mixChannelCount; ++v) {
        mixChannels[v] = MixChannel{};
        mixChannels[v].number = v;
        mixChannels[v].step = 1;
    }
}

// Stops whatever plays: the thread, then the device, then the ring's memory. The
// voices go back to rest, so that nothing refers to the stopped song's samples (which
// freeSong may release next) and no old note rings into the next playSong.
void stopPlayback() {
    stopMixing();
    resetVoices();
    freeBlock(mixMemory);
    mixMemory = nullptr;
    mixFrames = nullptr;
    // The device lets go of the ring before the ring is released, so that a later
    // playSong starts from a fresh ring at position 0.
    if (outputBuffer) resetWaveOutput();
    freeBlock(outputBuffer);
    outputBuffer = nullptr;
    currentSong = nullptr;
    freeBlock(syncRecords);
    syncRecords = nullptr;
}

} // namespace

// ---- Opening and closing ----

bool openSoundOutput(int32_t rate) {
    if (!fileCallbacksComplete()) return false;
    closeSoundOutput();
    if (rate < lowestRate || rate > highestRate) return false;
    sampleRate = rate;
    if (!openWaveOutput(rate)) return false;
    outputOpen = true;
    inverseSampleRate = 1.0f / static_cast<float>(rate);
    blockFrames = (rate * 20 / 1000 + 3) / 4 * 4;
    ringFrames = bufferMilliseconds / 20 * blockFrames * 2;
    blockCount = ringFrames / blockFrames;
    setRampLength(rate * 128 / 44100);
    resetVoices();
    return true;
}

void closeSoundOutput() {
    if (currentSong) stopPlayback();
    closeWaveOutput();
    outputOpen = false;
}

// ---- Playing ----

void setTempo(Song* song, int32_t tempo) {
    if (!song) return;
    song->tempo = tempo;
    // Ticks per second, as a single-precision value; a tempo below 1 counts as 1.
    float ticksPerSecond = static_cast<float>(static_cast<double>(tempo < 1 ? 1 : tempo) * 2 / 5.0);
    double msPerTick = 1000.0 / ticksPerSecond;
    int64_t frames = roundToInteger(msPerTick * static_cast<float>(sampleRate) / 1000.0);
    // At least one frame per tick, so that rendering always moves on.
    song->samplesPerTick = frames < 1 ? 1 : static_cast<int32_t>(frames);
}

bool playSong(Song* song) {
    if (!song) return false;
    stopPlayback();
    if (!outputOpen) return false;

    song->globalVolume = song->initialGlobalVolume;
    // A replay starts as the first play did: no global-volume slide carries over.
    song->globalVolumeSlideMemory = 0;
    song->nextOrder = -1;
    song->nextRow = -1;
    song->speed = song->defaultSpeed;
    song->orderPosition = 0;
    song->row = 0;
    song->samplesToNextTick = 0;
    song->tick = 0;
    song->patternDelayTicks = 0;
    song->elapsedMs = 0;
    setTempo(song, song->defaultTempo);
    int32_t channels = song->channelCount;
    resetSongChannels(channels < 0 ? 0 : channels > songChannelCount ? songChannelCount : channels);
    currentSong = song;

    syncRecords = static_cast<SyncRecord*>(allocArray(blockCount, sizeof(SyncRecord)));
    outputBuffer = static_cast<int16_t*>(allocArray(ringFrames, 4));
    mixMemory = allocBlock(ringFrames * 8 + 256);
    auto address = reinterpret_cast<uintptr_t>(mixMemory);
    mixFrames = reinterpret_cast<float*>((address + 15) & ~uintptr_t(15));

    // The whole ring, the first two seconds of music, is rendered before the
    // device starts.
    writeBlock = 0;
    heardBlock.store(0, std::memory_order_release);
    do {
        renderBlock();
    } while (writeBlock != 0);
    startWaveOutput(outputBuffer, ringFrames);
    renderedFrontier = static_cast<uint64_t>(ringFrames);

    if (mixingThreadEnabled) startMixing();
    return true;
}

bool stopSong(Song* song) {
    if (!song) return false;
    if (song == currentSong) stopPlayback();
    return true;
}

void setMixingThreadEnabled(bool enabled) {
    mixingThreadEnabled = enabled;
}

bool mixingThreadRendering() {
    return rendering.load(std::memory_order_acquire) != 0;
}

// ---- Rendering ----

void renderBlock() {
    Song* song = currentSong;
    if (!song || !mixFrames) return;
    int32_t block = writeBlock;
    float* frames = mixFrames + 2 * static_cast<int64_t>(block) * blockFrames;
    for (int32_t i = 0; i < 2 * blockFrames; ++i)
        frames[i] = 0.0f;

    const int32_t startOrder = song->orderPosition;
    int32_t done = 0;
    int32_t left = song->samplesToNextTick < 0 ? 0 : song->samplesToNextTick;
    while (done < blockFrames) {
        if (left == 0) {
            if (song->tickHandler) song->tickHandler(song);
            // Read after the tick, so that a tempo change applies to this very piece.
            left = song->samplesPerTick < 1 ? 1 : song->samplesPerTick;
        }
        int32_t piece = left > blockFrames - done ? blockFrames - done : left;
        mixVoices(frames + 2 * static_cast<int64_t>(done), piece);
        done += piece;
        left -= piece;
        int64_t ms = roundToInteger(static_cast<float>(piece) * inverseSampleRate * 1000.0);
        // Wraps after 24 days instead of overflowing.
        song->elapsedMs = static_cast<int32_t>(static_cast<uint32_t>(song->elapsedMs) +
                                               static_cast<uint32_t>(ms));
    }
    storeRecord(block, SyncRecord{static_cast<uint8_t>(song->orderPosition),
                                  static_cast<uint8_t>(song->row), song->elapsedMs});
    song->samplesToNextTick = left;
    if (song->orderPosition < startOrder) songLoops.fetch_add(1, std::memory_order_relaxed);
    blocksRendered.fetch_add(1, std::memory_order_relaxed);
    convertToPcm16(outputBuffer + 2 * static_cast<int64_t>(block) * blockFrames, frames,
                   blockFrames);
    writeBlock = block + 1 == blockCount ? 0 : block + 1;
}

void pollOutputOnce() {
    if (!currentSong || !outputBuffer) return;
    uint64_t bytes = waveOutputPosition();
    auto playing =
        static_cast<int32_t>((bytes / 4) % static_cast<uint64_t>(ringFrames)) / blockFrames;
    // Frames still rendered ahead of the device; below 0 it has looped past the
    // rendered part into a ring-old block (the catch-up below skips that audio).
    const int64_t lead = static_cast<int64_t>(renderedFrontier) - static_cast<int64_t>(bytes / 4);
    const int64_t shortest = shortestLead.load(std::memory_order_relaxed);
    if (shortest < 0 || lead < shortest)
        shortestLead.store(lead < 0 ? 0 : lead, std::memory_order_relaxed);
    if (lead < 0) ringOverruns.fetch_add(1, std::memory_order_relaxed);
    renderedFrontier =
        bytes / 4 / static_cast<uint64_t>(blockFrames) * static_cast<uint64_t>(blockFrames) +
        static_cast<uint64_t>(ringFrames);
    int32_t caughtUp = 0;
    while (writeBlock != playing) {
        rendering.store(1, std::memory_order_release);
        // heardBlock moves on before the finished block's record is rewritten, so a
        // reader that sees the new record also sees the new heardBlock.
        int32_t next = heardBlock.load(std::memory_order_relaxed) + 1;
        heardBlock.store(next == blockCount ? 0 : next, std::memory_order_release);
        renderBlock();
        rendering.store(0, std::memory_order_release);
        ++caughtUp;
    }
    if (caughtUp > longestCatchUp.load(std::memory_order_relaxed))
        longestCatchUp.store(caughtUp, std::memory_order_relaxed);
}

OutputHealth outputHealth() {
    return OutputHealth{blocksRendered.load(std::memory_order_relaxed),
                        longestCatchUp.load(std::memory_order_relaxed),
                        ringOverruns.load(std::memory_order_relaxed),
                        shortestLead.load(std::memory_order_relaxed),
                        songLoops.load(std::memory_order_relaxed)};
}

// ---- Sync records ----

bool heardSyncRecord(SyncRecord* record) {
    if (!syncRecords || !record) return false;
    for (;;) {
        int32_t block = heardBlock.load(std::memory_order_acquire);
        if (block < 0 || block >= blockCount) return false;
        SyncRecord read = loadRecord(block);
        // A record rewritten meanwhile belongs to a block two seconds ahead; the
        // block being heard has moved on by then, so read again.
        if (heardBlock.load(std::memory_order_acquire) == block) {
            *record = read;
            return true;
        }
    }
}
