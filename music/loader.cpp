// XM loader and song lifetime. loadSong reads a module through the stream layer into a
// Song (patterns unpacked to 5-byte cells, samples converted to 16 bits with a guard
// slot); freeSong releases it after playback has stopped. Main thread only; the mixing
// thread never sees a Song before loadSong returns or after freeSong has stopped it.
//
// Any file may arrive here, so every count is checked before it sizes an allocation or
// indexes a table, every header read goes into a zeroed buffer (a file that ends early
// reads as zeros), and sample data is limited to the bytes the file still holds.
#include "music/loader.h"

#include "app/memory.h"
#include "audio/output.h"
#include "music/module_source.h"
#include "music/tick_processing.h"

#include <cstring>
#include <thread>

Sample emptySample{};

namespace {

constexpr char signature[17] = {'E', 'x', 't', 'e', 'n', 'd', 'e', 'd', ' ',
                                'M', 'o', 'd', 'u', 'l', 'e', ':', ' '};

// Table sizes of the player: the engine has 32 channel records, the order table 256
// entries; the sync records keep only the low byte of row and order position.
constexpr uint32_t maxChannels = 32;
constexpr uint32_t maxSongLength = 256;
constexpr uint32_t maxPatterns = 256;
constexpr uint32_t maxRows = 256;
constexpr uint32_t maxInstruments = 128;
constexpr uint32_t maxSamples = 16;
constexpr uint32_t maxTempo = 255;
constexpr int32_t storedEnvelopePoints = 12;
constexpr int32_t envelopeTableSize = 20;
constexpr int32_t unstoredPatternRows = 64;
constexpr int32_t guardSlots = 8;

// ---- Reading ----

// The stream and the module's byte length, which bounds seeks and sample data.
struct Source {
    ModuleStream* stream;
    int64_t size;
};

// Reads count bytes into a zeroed buffer, so whatever a short read leaves is 0.
void readBytes(Source& source, void* destination, int32_t count) {
    std::memset(destination, 0, size_t(count));
    readStream(destination, count, source.stream);
}

uint8_t readU8(Source& source) {
    uint8_t b[1];
    readBytes(source, b, 1);
    return b[0];
}

uint16_t readU16(Source& source) {
    uint8_t b[2];
    readBytes(source, b, 2);
    return uint16_t(b[0] | b[1] << 8);
}

uint32_t readU32(Source& source) {
    uint8_t b[4];
    readBytes(source, b, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint16_t u16At(const uint8_t* b) {
    return uint16_t(b[0] | b[1] << 8);
}

// Absolute seek; a target beyond the end (header sizes are 32-bit) lands at the end.
void seekTo(Source& source, int64_t offset) {
    if (offset > source.size) offset = source.size;
    seekStream(source.stream, int32_t(offset), 0);
}

void skip(Source& source, int32_t count) {
    seekStream(source.stream, count, 1);
}

// ---- Patterns ----

void readCell(Source& source, PatternCell& cell) {
    uint8_t b = readU8(source);
    if (b & 0x80) {
        if (b & 0x01) cell.note = readU8(source);
        if (b & 0x02) cell.instrument = readU8(source);
        if (b & 0x04) cell.volume = readU8(source);
        if (b & 0x08) cell.effect = readU8(source);
        if (b & 0x10) cell.parameter = readU8(source);
    } else {
        uint8_t rest[4];
        readBytes(source, rest, 4);
        cell.note = b;
        cell.instrument = rest[0];
        cell.volume = rest[1];
        cell.effect = rest[2];
        cell.parameter = rest[3];
    }
    // 97 is key off; the engine keeps it as 255. A packed cell can carry any byte: notes
    // above 97 would index past the 96-entry sample map, so they are read as no note.
    if (cell.note == 97)
        cell.note = 255;
    else if (cell.note > 97)
        cell.note = 0;
    if (cell.instrument > 128) cell.instrument = 0;
}

PatternCell* emptyCells(int32_t rows, int32_t channels) {
    return static_cast<PatternCell*>(allocArray(rows * channels, sizeof(PatternCell)));
}

bool readPatterns(Source& source, Song* song, uint32_t storedCount) {
    const int32_t channels = song->channelCount;
    for (uint32_t p = 0; p < storedCount; ++p) {
        Pattern& pattern = song->patterns[p];
        readU32(source); // header length: always taken as 9 bytes
        readU8(source);  // packing type
        uint32_t rows = readU16(source);
        uint16_t packedSize = readU16(source);
        if (rows > maxRows) return false;
        // A pattern without rows plays as one empty row, so a row index always has cells.
        pattern.rowCount = rows == 0 ? 1 : int32_t(rows);
        pattern.cells = emptyCells(pattern.rowCount, channels);
        // The packed size only tells an empty pattern from a stored one: the cells consume
        // exactly the bytes they need.
        if (packedSize != 0)
            for (int32_t i = 0; i < int32_t(rows) * channels; ++i)
                readCell(source, pattern.cells[i]);
    }
    for (int32_t p = int32_t(storedCount); p < song->usedPatternCount; ++p) {
        song->patterns[p].rowCount = unstoredPatternRows;
        song->patterns[p].cells = emptyCells(unstoredPatternRows, channels);
    }
    return true;
}

// ---- Instruments ----

void readEnvelope(const uint8_t* bytes, EnvelopePoint* points) {
    for (int32_t i = 0; i < storedEnvelopePoints; ++i) {
        points[i].x = u16At(bytes + 4 * i);
        points[i].y = u16At(bytes + 4 * i + 2);
    }
}

// The file stores 12 points; the engine's envelope walk indexes the 20-entry table with
// the point count and the sustain and loop indices, so these are kept inside it.
// Indices at or beyond the point count never match a point, which stays true after this.
void limitEnvelope(uint8_t& count, uint8_t& sustain, uint8_t& loopStart, uint8_t& loopEnd) {
    if (count > storedEnvelopePoints) count = storedEnvelopePoints;
    const uint8_t last = envelopeTableSize - 1;
    if (sustain > last) sustain = last;
    if (loopStart > last) loopStart = last;
    if (loopEnd > last) loopEnd = last;
}

void readInstrumentHeader(Source& source, Instrument& ins) {
    readU32(source); // sample header size: always taken as 40 bytes
    readBytes(source, ins.sampleMap, 96);
    uint8_t envelopes[96];
    readBytes(source, envelopes, 96);
    readEnvelope(envelopes, ins.volumeEnvelope);
    readEnvelope(envelopes + 48, ins.panningEnvelope);
    uint8_t b[16];
    readBytes(source, b, 16);
    ins.volumePointCount = b[0];
    ins.panningPointCount = b[1];
    ins.volumeSustain = b[2];
    ins.volumeLoopStart = b[3];
    ins.volumeLoopEnd = b[4];
    ins.panningSustain = b[5];
    ins.panningLoopStart = b[6];
    ins.panningLoopEnd = b[7];
    ins.volumeType = b[8];
    ins.panningType = b[9];
    ins.vibratoType = b[10];
    ins.vibratoSweep = b[11];
    ins.vibratoDepth = b[12];
    ins.vibratoRate = b[13];
    ins.fadeout = uint16_t(u16At(b + 14) * 2);
    limitEnvelope(ins.volumePointCount, ins.volumeSustain, ins.volumeLoopStart, ins.volumeLoopEnd);
    limitEnvelope(ins.panningPointCount, ins.panningSustain, ins.panningLoopStart,
                  ins.panningLoopEnd);
    if (ins.volumePointCount < 2) ins.volumeType = 0;
    if (ins.panningPointCount < 2) ins.panningType = 0;
}

// Returns the sample's length field: the bytes of data the file stores for it.
uint32_t readSampleHeader(Source& source, Sample& s) {
    uint8_t b[14];
    readBytes(source, b, 14);
    s.length = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    s.loopStart =
        uint32_t(b[4]) | uint32_t(b[5]) << 8 | uint32_t(b[6]) << 16 | uint32_t(b[7]) << 24;
    s.loopLength =
        uint32_t(b[8]) | uint32_t(b[9]) << 8 | uint32_t(b[10]) << 16 | uint32_t(b[11]) << 24;
    s.volume = b[12];
    s.finetune = int8_t(b[13]);
    const uint32_t storedBytes = s.length;

    uint8_t type = readU8(source);
    s.loopType = 1;
    s.bits = 8;
    if (type & 0x01) s.loopType = 2;
    if (type & 0x02) s.loopType = 4; // both loop bits: ping-pong
    if (type & 0x10) s.bits = 16;
    if (s.loopType == 1) {
        s.loopStart = 0;
        s.loopLength = s.length;
    }
    if (s.bits == 16) { // bytes to samples
        s.length /= 2;
        s.loopStart /= 2;
        s.loopLength /= 2;
    }
    if (s.loopLength == 0) {
        s.loopStart = 0;
        s.loopLength = s.length;
        s.loopType = 1;
    }
    s.panning = readU8(source);
    s.relativeNote = int8_t(readU8(source));
    skip(source, 23); // reserved byte and name
    return storedBytes;
}

// Keeps the sample within the data the file still holds and its loop within the sample,
// so the guard write and the mixer stay inside `length` + 8 slots. Returns the bytes of
// the file the sample's data takes: its stored byte count, or what is left of the file.
// A 16-bit sample with an odd byte count takes its last byte too, though no frame uses it.
int64_t limitSample(Sample& s, int64_t storedBytes, int64_t bytesLeft) {
    const int64_t taken = storedBytes < bytesLeft ? storedBytes : bytesLeft;
    const int64_t width = s.bits / 8;
    if (int64_t(s.length) * width > taken) s.length = uint32_t(taken / width);
    if (s.loopType != 1 && s.loopStart >= s.length) s.loopType = 1; // loop lies past the data
    if (s.loopType == 1) {
        s.loopStart = 0;
        s.loopLength = s.length;
    } else if (int64_t(s.loopStart) + s.loopLength > s.length) {
        s.loopLength = s.length - s.loopStart;
    }
    return taken;
}

void readSampleData(Source& source, Sample& s) {
    int16_t* data = s.data;
    const int32_t length = int32_t(s.length);
    if (s.bits == 8) {
        // Read the bytes into the front of the buffer and widen from the back, so no
        // byte is overwritten before it is taken: each byte becomes the high byte.
        auto* bytes = reinterpret_cast<uint8_t*>(data);
        readStream(bytes, length, source.stream);
        for (int32_t i = length - 1; i >= 0; --i)
            data[i] = int16_t(uint16_t(bytes[i]) << 8);
        s.bits = 16;
    } else {
        auto* bytes = reinterpret_cast<uint8_t*>(data);
        readStream(bytes, length * 2, source.stream);
        for (int32_t i = 0; i < length; ++i)
            data[i] = int16_t(u16At(bytes + 2 * i));
    }
    // Delta decoding; sums modulo 2^16 give the same values for 8-bit data widened first.
    uint16_t accumulator = 0;
    for (int32_t i = 0; i < length; ++i) {
        accumulator = uint16_t(accumulator + uint16_t(data[i]));
        data[i] = int16_t(accumulator);
    }
    // The guard slot at the loop end lets the interpolation read one sample past it.
    const uint32_t loopEnd = s.loopStart + s.loopLength;
    if (s.loopType == 4)
        data[loopEnd] = data[loopEnd - 1];
    else if (s.loopType == 2)
        data[loopEnd] = data[s.loopStart];
}

bool readInstrument(Source& source, Instrument& ins) {
    const int64_t start = tellStream(source.stream);
    const uint32_t headerSize = readU32(source);
    skip(source, 23); // name and type
    const uint32_t count = readU16(source);
    if (count > maxSamples) return false;
    ins.sampleCount = int32_t(count);
    if (count == 0) {
        for (Sample*& slot : ins.samples)
            slot = &emptySample;
        seekTo(source, start + headerSize);
        return true;
    }
    readInstrumentHeader(source, ins);
    seekTo(source, start + headerSize);

    int64_t taken[maxSamples];
    for (uint32_t i = 0; i < count; ++i) {
        ins.samples[i] = static_cast<Sample*>(allocBlock(sizeof(Sample)));
        taken[i] = readSampleHeader(source, *ins.samples[i]);
    }
    for (uint32_t i = count; i < maxSamples; ++i)
        ins.samples[i] = &emptySample;

    int64_t bytesLeft = source.size - tellStream(source.stream);
    if (bytesLeft < 0) bytesLeft = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Sample& s = *ins.samples[i];
        taken[i] = limitSample(s, taken[i], bytesLeft);
        bytesLeft -= taken[i];
        if (s.length == 0) continue;
        // Over a gigabyte of 8-bit data would not fit one allocation; refuse it.
        if (int64_t(s.length) + guardSlots > INT32_MAX / 2) return false;
        s.data = static_cast<int16_t*>(allocArray(int32_t(s.length) + guardSlots, 2));
    }
    for (uint32_t i = 0; i < count; ++i) {
        Sample& s = *ins.samples[i];
        const int64_t read = int64_t(s.length) * s.bits / 8;
        if (s.length > 0) readSampleData(source, s);
        if (taken[i] > read) skip(source, int32_t(taken[i] - read));
    }
    return true;
}

// Releases everything a Song owns and the Song itself; safe on a partly loaded one.
void releaseSong(Song* song) {
    if (song->instruments) {
        for (int32_t i = 0; i < song->instrumentCount; ++i) {
            Instrument& ins = song->instruments[i];
            for (int32_t k = 0; k < ins.sampleCount; ++k) {
                Sample* s = ins.samples[k];
                if (!s || s == &emptySample) continue;
                freeBlock(s->data);
                freeBlock(s);
            }
        }
        freeBlock(song->instruments);
    }
    if (song->patterns) {
        for (int32_t p = 0; p < song->patternCount; ++p)
            freeBlock(song->patterns[p].cells);
        freeBlock(song->patterns);
    }
    freeBlock(song);
}

} // namespace

// ---- Loading ----

bool parseModule(Song* song, ModuleStream* stream) {
    if (!song || !stream) return false;
    // The module's length, from a seek to its end, bounds header seeks and sample data.
    Source source{stream, 0};
    seekStream(stream, 0, 2);
    source.size = tellStream(stream);
    if (source.size < 0) source.size = 0;

    seekStream(stream, 0, 0);
    char head[17];
    readBytes(source, head, 17);
    if (std::memcmp(head, signature, sizeof signature) != 0) return false;

    song->tickHandler = advanceSong;
    song->initialGlobalVolume = 64;

    seekTo(source, 60);
    const uint32_t headerSize = readU32(source);
    const uint32_t songLength = readU16(source);
    const uint32_t restart = readU16(source);
    const uint32_t channels = readU16(source);
    const uint32_t storedPatterns = readU16(source);
    const uint32_t instruments = readU16(source);
    const uint16_t flags = readU16(source);
    const uint32_t speed = readU16(source);
    const uint32_t tempo = readU16(source);
    readBytes(source, song->orderTable, 256);

    // Refuse what the player's tables cannot hold. A module without orders has nothing to
    // play, and a tempo of 0 gives no tick length.
    if (songLength == 0 || songLength > maxSongLength) return false;
    if (channels == 0 || channels > maxChannels) return false;
    if (storedPatterns > maxPatterns || instruments > maxInstruments) return false;
    if (tempo == 0 || tempo > maxTempo) return false;
    song->songLength = int16_t(songLength);
    song->restartPosition = int16_t(restart < songLength ? restart : 0);
    song->channelCount = int16_t(channels);
    song->instrumentCount = int16_t(instruments);
    song->flags = flags;
    song->defaultSpeed = int16_t(speed);
    song->defaultTempo = int16_t(tempo);
    seekTo(source, 60 + int64_t(headerSize));

    song->usedPatternCount = 0;
    for (uint32_t i = 0; i < songLength; ++i)
        if (song->orderTable[i] >= song->usedPatternCount)
            song->usedPatternCount = song->orderTable[i] + 1;
    song->patternCount = int32_t(storedPatterns) > song->usedPatternCount ? int32_t(storedPatterns)
                                                                          : song->usedPatternCount;
    song->patterns = static_cast<Pattern*>(allocArray(song->patternCount, sizeof(Pattern)));
    if (!readPatterns(source, song, storedPatterns)) return false;

    song->instruments =
        static_cast<Instrument*>(allocArray(song->instrumentCount, sizeof(Instrument)));
    for (int32_t i = 0; i < song->instrumentCount; ++i)
        if (!readInstrument(source, song->instruments[i])) return false;
    return true;
}

Song* loadSong(const char* name) {
    ModuleStream* stream = openStream(name);
    if (!stream) return nullptr;
    auto* song = static_cast<Song*>(allocBlock(sizeof(Song)));
    bool ok = parseModule(song, stream);
    closeStream(stream);
    if (ok) return song;
    // A song that failed to load was never played: nothing to stop, only memory to release.
    releaseSong(song);
    return nullptr;
}

bool freeSong(Song* song) {
    if (!song) return false;
    // Nothing may be released while the mixing thread is inside a block; stopSong then
    // ends the thread and the playback.
    while (mixingThreadRendering())
        std::this_thread::yield();
    stopSong(song);
    releaseSong(song);
    return true;
}
