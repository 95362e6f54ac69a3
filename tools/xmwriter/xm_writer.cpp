// XM writer: serialises an XmModule into the bytes of an XM file. Builds on the host
// only (tests and the content generator); nothing here runs inside the intro.
#include "tools/xmwriter/xm_writer.h"

#include <cstdio>
#include <stdexcept>

namespace {

// ---- Byte output ----

struct Out {
    std::vector<uint8_t> bytes;

    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v) {
        u8(uint8_t(v));
        u8(uint8_t(v >> 8));
    }
    void u32(uint32_t v) {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    }
    // A fixed-length text field, cut or padded with zeros.
    void text(const std::string& s, size_t length) {
        for (size_t i = 0; i < length; ++i)
            u8(i < s.size() ? uint8_t(s[i]) : 0);
    }
    void append(const std::vector<uint8_t>& v) { bytes.insert(bytes.end(), v.begin(), v.end()); }
};

// ---- Patterns ----

bool cellIsEmpty(const XmCell& c) {
    return c.note == 0 && c.instrument == 0 && c.volume == 0 && c.effect == 0 && c.parameter == 0;
}

void writeCell(Out& out, const XmCell& c, XmPacking packing) {
    const uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.parameter};
    uint8_t mask = 0;
    for (int i = 0; i < 5; ++i)
        if (fields[i]) mask |= uint8_t(1 << i);
    bool plain = packing == XmPacking::plain || (packing == XmPacking::compact && mask == 0x1F);
    if (plain) {
        if (c.note & 0x80)
            throw std::invalid_argument("xm writer: a plain cell cannot hold a note >= 0x80");
        for (uint8_t f : fields)
            out.u8(f);
        return;
    }
    out.u8(uint8_t(0x80 | mask));
    for (int i = 0; i < 5; ++i)
        if (mask & (1 << i)) out.u8(fields[i]);
}

std::vector<uint8_t> patternData(const XmPattern& p, int32_t channels) {
    if (p.rawData) return *p.rawData;
    int64_t count = int64_t(p.rows < 0 ? 0 : p.rows) * (channels < 0 ? 0 : channels);
    bool allEmpty = true;
    for (int64_t i = 0; i < count && i < int64_t(p.cells.size()); ++i)
        if (!cellIsEmpty(p.cells[size_t(i)])) allEmpty = false;
    if (allEmpty && p.emptyAsZeroSize) return {};
    Out out;
    const XmCell empty{};
    for (int64_t i = 0; i < count; ++i)
        writeCell(out, i < int64_t(p.cells.size()) ? p.cells[size_t(i)] : empty, p.packing);
    return out.bytes;
}

void writePattern(Out& out, const XmPattern& p, int32_t channels) {
    std::vector<uint8_t> data = patternData(p, channels);
    if (!p.packedSize && data.size() > 0xFFFF)
        throw std::invalid_argument("xm writer: packed pattern data exceeds 65535 bytes");
    out.u32(p.headerLength);
    out.u8(p.packingType);
    out.u16(uint16_t(p.rows));
    out.u16(p.packedSize ? *p.packedSize : uint16_t(data.size()));
    out.append(data);
}

// ---- Instruments and samples ----

void writeEnvelopePoints(Out& out, const XmEnvelope& e) {
    if (e.points.size() > 12)
        throw std::invalid_argument("xm writer: an envelope has at most 12 points");
    for (size_t i = 0; i < 12; ++i) {
        XmEnvelopePoint p = i < e.points.size() ? e.points[i] : XmEnvelopePoint{};
        out.u16(p.x);
        out.u16(p.y);
    }
}

uint8_t pointCount(const XmEnvelope& e) {
    return e.pointCount ? *e.pointCount : uint8_t(e.points.size());
}

std::vector<uint8_t> sampleBytes(const XmSample& s) {
    if (s.rawData) return *s.rawData;
    return xmDeltaCode(s.data, s.sixteenBit);
}

void writeSampleHeader(Out& out, const XmSample& s, uint32_t dataBytes) {
    uint32_t unit = s.sixteenBit ? 2 : 1;
    uint8_t type = uint8_t(s.loop) | (s.sixteenBit ? 0x10 : 0);
    bool looped = s.loop != XmLoop::none;
    out.u32(s.lengthBytes ? *s.lengthBytes : dataBytes);
    out.u32(s.loopStartBytes ? *s.loopStartBytes : looped ? s.loopStart * unit : 0);
    out.u32(s.loopLengthBytes ? *s.loopLengthBytes : looped ? s.loopLength * unit : 0);
    out.u8(s.volume);
    out.u8(uint8_t(s.finetune));
    out.u8(s.typeByte ? *s.typeByte : type);
    out.u8(s.panning);
    out.u8(uint8_t(s.relativeNote));
    out.u8(s.reserved);
    out.text(s.name, 22);
}

void writeInstrument(Out& out, const XmInstrument& ins, XmLayout* layout) {
    uint16_t count = ins.sampleCount ? *ins.sampleCount : uint16_t(ins.samples.size());
    Out header;
    header.u32(0); // size, patched below
    header.text(ins.name, 22);
    header.u8(ins.type);
    header.u16(count);
    if (!ins.samples.empty()) {
        header.u32(ins.sampleHeaderSize);
        for (uint8_t m : ins.sampleMap)
            header.u8(m);
        writeEnvelopePoints(header, ins.volumeEnvelope);
        writeEnvelopePoints(header, ins.panningEnvelope);
        header.u8(pointCount(ins.volumeEnvelope));
        header.u8(pointCount(ins.panningEnvelope));
        header.u8(ins.volumeEnvelope.sustain);
        header.u8(ins.volumeEnvelope.loopStart);
        header.u8(ins.volumeEnvelope.loopEnd);
        header.u8(ins.panningEnvelope.sustain);
        header.u8(ins.panningEnvelope.loopStart);
        header.u8(ins.panningEnvelope.loopEnd);
        header.u8(ins.volumeEnvelope.type);
        header.u8(ins.panningEnvelope.type);
        header.u8(ins.vibratoType);
        header.u8(ins.vibratoSweep);
        header.u8(ins.vibratoDepth);
        header.u8(ins.vibratoRate);
        header.u16(ins.fadeout);
        header.bytes.resize(263, 0); // reserved
    }
    if (ins.headerSize) header.bytes.resize(*ins.headerSize, 0);
    uint32_t size = ins.headerSizeField ? *ins.headerSizeField : uint32_t(header.bytes.size());
    if (header.bytes.size() >= 4) {
        header.bytes[0] = uint8_t(size);
        header.bytes[1] = uint8_t(size >> 8);
        header.bytes[2] = uint8_t(size >> 16);
        header.bytes[3] = uint8_t(size >> 24);
    }
    out.append(header.bytes);

    std::vector<std::vector<uint8_t>> data;
    std::vector<size_t> headerOffsets, dataOffsets;
    for (const XmSample& s : ins.samples) {
        data.push_back(sampleBytes(s));
        headerOffsets.push_back(out.bytes.size());
        writeSampleHeader(out, s, uint32_t(data.back().size()));
    }
    for (const std::vector<uint8_t>& d : data) {
        dataOffsets.push_back(out.bytes.size());
        out.append(d);
    }
    if (layout) {
        layout->sampleHeaders.push_back(headerOffsets);
        layout->sampleData.push_back(dataOffsets);
    }
}

} // namespace

// ---- Public functions ----

std::vector<uint8_t> xmDeltaCode(const std::vector<int16_t>& values, bool sixteenBit) {
    Out out;
    int16_t previous = 0;
    for (int16_t v : values) {
        if (!sixteenBit && (v < -128 || v > 127))
            throw std::invalid_argument("xm writer: an 8-bit sample value is outside -128..127");
        uint16_t delta = uint16_t(uint16_t(v) - uint16_t(previous));
        if (sixteenBit)
            out.u16(delta);
        else
            out.u8(uint8_t(delta));
        previous = v;
    }
    return out.bytes;
}

std::vector<uint8_t> writeXm(const XmModule& m, XmLayout* layout) {
    if (layout) *layout = XmLayout{};
    Out out;
    out.text("Extended Module: ", 17);
    out.text(m.name, 20);
    out.u8(0x1A);
    out.text(m.trackerName, 20);
    out.u16(m.version);
    out.u32(m.headerSizeField ? *m.headerSizeField : m.headerSize);
    out.u16(m.songLength ? *m.songLength : uint16_t(m.orders.size()));
    out.u16(m.restartPosition);
    out.u16(m.channelCount);
    out.u16(m.patternCount ? *m.patternCount : uint16_t(m.patterns.size()));
    out.u16(m.instrumentCount ? *m.instrumentCount : uint16_t(m.instruments.size()));
    out.u16(m.flags);
    out.u16(m.defaultSpeed);
    out.u16(m.defaultTempo);
    for (size_t i = 0; i < 256; ++i)
        out.u8(i < m.orders.size() ? m.orders[i] : 0);
    while (out.bytes.size() < 60 + size_t(m.headerSize))
        out.u8(0);

    for (const XmPattern& p : m.patterns) {
        if (layout) layout->patterns.push_back(out.bytes.size());
        writePattern(out, p, m.channelCount);
    }
    for (const XmInstrument& ins : m.instruments) {
        if (layout) layout->instruments.push_back(out.bytes.size());
        writeInstrument(out, ins, layout);
    }
    if (layout) layout->size = out.bytes.size();
    return out.bytes;
}

bool saveXm(const XmModule& module, const std::string& path) {
    std::vector<uint8_t> bytes = writeXm(module);
    std::string temporary = path + ".part";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (std::fclose(f) == 0) && ok;
    if (ok) ok = std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(temporary.c_str());
    return ok;
}

uint8_t xmNote(const std::string& name) {
    if (name == "===" || name == "OFF" || name == "off") return 97;
    if (name == "---" || name == "...") return 0;
    static const char letters[] = "C-C#D-D#E-F-F#G-G#A-A#B-";
    if (name.size() == 3 && name[2] >= '0' && name[2] <= '7') {
        std::string key = name.substr(0, 2);
        for (int semitone = 0; semitone < 12; ++semitone)
            if (key[0] == letters[2 * semitone] && key[1] == letters[2 * semitone + 1])
                return uint8_t(1 + (name[2] - '0') * 12 + semitone);
    }
    throw std::invalid_argument("xm writer: not a note name: " + name);
}

XmPattern xmPattern(int32_t rows, int32_t channels) {
    XmPattern p;
    p.rows = rows;
    p.cells.resize(size_t(rows < 0 ? 0 : rows) * size_t(channels < 0 ? 0 : channels));
    return p;
}

XmCell& xmCell(XmPattern& pattern, int32_t channels, int32_t row, int32_t channel) {
    if (row < 0 || channel < 0 || channel >= channels)
        throw std::invalid_argument("xm writer: cell outside the pattern");
    size_t index = size_t(row) * size_t(channels) + size_t(channel);
    if (index >= pattern.cells.size()) pattern.cells.resize(index + 1);
    return pattern.cells[index];
}

void xmPutU16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
    bytes.at(offset) = uint8_t(value);
    bytes.at(offset + 1) = uint8_t(value >> 8);
}

void xmPutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    xmPutU16(bytes, offset, uint16_t(value));
    xmPutU16(bytes, offset + 2, uint16_t(value >> 16));
}
