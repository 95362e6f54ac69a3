// XM writer: builds FastTracker 2 extended modules (XM) byte by byte from plain structs.
// Used by the loader and engine tests (small modules in a few lines, malformed ones by
// overriding a field) and by the content generator that writes the intro's module.
//
// Usage:
//   XmModule m;
//   m.channelCount = 4;
//   m.defaultSpeed = 6; m.defaultTempo = 125;
//   m.orders = {0, 1, 0};
//   XmPattern& p = m.patterns.emplace_back(xmPattern(64, m.channelCount));
//   xmCell(p, m.channelCount, 0, 2) = {xmNote("C-4"), 1, 0x40, 0x0F, 0x06};
//   m.patterns.push_back(xmPattern(32, m.channelCount)); // stays empty: packed size 0
//   XmInstrument& ins = m.instruments.emplace_back();
//   ins.volumeEnvelope.points = {{0, 64}, {10, 32}, {40, 0}};
//   ins.volumeEnvelope.type = xmEnvelopeOn | xmEnvelopeSustain;
//   ins.fadeout = 256;
//   XmSample& s = ins.samples.emplace_back();
//   s.sixteenBit = true;
//   s.data = {...};                       // the sample values themselves, not deltas
//   s.loop = XmLoop::forward; s.loopStart = 100; s.loopLength = 400; // in samples
//   std::vector<uint8_t> bytes = writeXm(m);  // or saveXm(m, "song.xm")
//
// Every count and size field is derived from the structs unless its override is set, so a
// malformed file is one assignment away (m.songLength = 300, s.lengthBytes = 1 << 30 ...).
// writeXm can also report where each part landed (XmLayout) for patching or truncating.
// Misuse that cannot be expressed in the format (an 8-bit value outside -128..127, a plain
// cell whose note has bit 7 set, more than 12 envelope points) throws std::invalid_argument.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One pattern cell as stored in the file: note 0 none, 1..96 (1 = C-0, 49 = C-4),
// 97 key off; instrument 0 none, 1..128; volume-column byte; effect and parameter.
struct XmCell {
    uint8_t note = 0;
    uint8_t instrument = 0;
    uint8_t volume = 0;
    uint8_t effect = 0;
    uint8_t parameter = 0;
};

enum class XmPacking : uint8_t {
    compact, // a flag byte (0x80 | present fields) then the present fields; a cell with all
             // five fields set is written as five plain bytes, which is shorter
    plain,   // every cell as five plain bytes
    flagged, // every cell with a flag byte, even when all five fields are present (0x9F + 5)
};

struct XmPattern {
    int32_t rows = 64;         // written as the 16-bit row count (0 or above 256 are allowed)
    std::vector<XmCell> cells; // rows x channelCount, row after row; missing cells are empty
    XmPacking packing = XmPacking::compact;
    // A pattern whose cells are all empty (or absent) is stored with packed size 0 and no
    // data bytes. Clear this to write the empty cells out (0x80 bytes in compact packing).
    bool emptyAsZeroSize = true;
    uint32_t headerLength = 9; // only the field: the data always follows the nine header bytes
    uint8_t packingType = 0;
    std::optional<std::vector<uint8_t>> rawData; // written verbatim instead of the cells
    std::optional<uint16_t> packedSize;          // written instead of the real data size
};

struct XmEnvelopePoint {
    uint16_t x = 0; // tick
    uint16_t y = 0; // value (0..64)
};

enum : uint8_t { xmEnvelopeOn = 1, xmEnvelopeSustain = 2, xmEnvelopeLoop = 4 };

struct XmEnvelope {
    std::vector<XmEnvelopePoint> points; // at most 12
    uint8_t sustain = 0;                 // point indices
    uint8_t loopStart = 0;
    uint8_t loopEnd = 0;
    uint8_t type = 0;                  // xmEnvelopeOn | xmEnvelopeSustain | xmEnvelopeLoop
    std::optional<uint8_t> pointCount; // written instead of points.size()
};

enum class XmLoop : uint8_t { none = 0, forward = 1, pingPong = 2 };

struct XmSample {
    std::string name;
    // The sample values (the writer delta-codes them). 8-bit samples hold -128..127.
    std::vector<int16_t> data;
    bool sixteenBit = false;
    XmLoop loop = XmLoop::none;
    uint32_t loopStart = 0;  // in samples (the file stores bytes)
    uint32_t loopLength = 0; // in samples
    uint8_t volume = 64;
    int8_t finetune = 0;
    uint8_t panning = 128;
    int8_t relativeNote = 0;
    uint8_t reserved = 0;
    // Raw overrides, in the file's units (bytes) or bits:
    std::optional<uint32_t> lengthBytes;
    std::optional<uint32_t> loopStartBytes;
    std::optional<uint32_t> loopLengthBytes;
    std::optional<uint8_t> typeByte; // bit 0 forward, bit 1 ping-pong, bit 4 16-bit
    // Written verbatim instead of the coded data; the length field then defaults to its size.
    std::optional<std::vector<uint8_t>> rawData;
};

struct XmInstrument {
    std::string name;
    uint8_t type = 0;
    std::vector<XmSample> samples;
    std::array<uint8_t, 96> sampleMap{}; // sample number for every note 1..96
    XmEnvelope volumeEnvelope;
    XmEnvelope panningEnvelope;
    uint8_t vibratoType = 0;
    uint8_t vibratoSweep = 0;
    uint8_t vibratoDepth = 0;
    uint8_t vibratoRate = 0;
    uint16_t fadeout = 0; // as stored in the file
    uint32_t sampleHeaderSize = 40;
    // The header is 263 bytes with samples and 29 without. When set, the header bytes are
    // padded with zeros or cut to this length, and it is written as the header size.
    std::optional<uint32_t> headerSize;
    std::optional<uint32_t> headerSizeField; // written as the size, the bytes left as they are
    std::optional<uint16_t> sampleCount;     // written instead of samples.size()
};

struct XmModule {
    std::string name;
    std::string trackerName = "Velmora";
    uint16_t version = 0x0104;
    uint32_t headerSize = 276; // counted from offset 60; bytes beyond the order table are zero
    std::optional<uint32_t> headerSizeField; // written instead of headerSize, without padding
    uint16_t channelCount = 4;
    uint16_t flags = 1; // bit 0: linear frequency table
    uint16_t defaultSpeed = 6;
    uint16_t defaultTempo = 125;
    uint16_t restartPosition = 0;
    std::vector<uint8_t> orders; // the first 256 go into the order table
    std::vector<XmPattern> patterns;
    std::vector<XmInstrument> instruments;
    std::optional<uint16_t> songLength;      // written instead of orders.size()
    std::optional<uint16_t> patternCount;    // written instead of patterns.size()
    std::optional<uint16_t> instrumentCount; // written instead of instruments.size()
};

// Byte offsets of the parts of a written module.
struct XmLayout {
    std::vector<size_t> patterns;                   // pattern headers
    std::vector<size_t> instruments;                // instrument headers
    std::vector<std::vector<size_t>> sampleHeaders; // per instrument, per sample
    std::vector<std::vector<size_t>> sampleData;    // per instrument, per sample
    size_t size = 0;
};

std::vector<uint8_t> writeXm(const XmModule& module, XmLayout* layout = nullptr);

// Writes the module to path through a temporary file that is renamed into place, so a
// failure leaves no half-written file. False when the file cannot be written.
bool saveXm(const XmModule& module, const std::string& path);

// "C-4" -> 49, "C#4" -> 50, "B-7" -> 96, "C-0" -> 1; "===" or "OFF" -> 97 (key off);
// "---" or "..." -> 0. Throws std::invalid_argument on anything else.
uint8_t xmNote(const std::string& name);

// A pattern of rows x channels empty cells.
XmPattern xmPattern(int32_t rows, int32_t channels);

// The cell of row, channel, growing the cell vector when needed.
XmCell& xmCell(XmPattern& pattern, int32_t channels, int32_t row, int32_t channel);

// The delta coding of the sample data as written: 8-bit bytes or 16-bit little-endian pairs.
std::vector<uint8_t> xmDeltaCode(const std::vector<int16_t>& values, bool sixteenBit);

// Little-endian patches of an already written module.
void xmPutU16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value);
void xmPutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);
