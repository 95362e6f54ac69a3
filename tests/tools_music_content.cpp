// The intro's module as composed: the committed asset being exactly the composition, the
// facts the player and the intro rely on, samples whose loops close without a click,
// instruments in tune through the player, and no note left sounding into a part that
// has no use for it.
#include "compose.h"
#include "music_score.h"
#include "music_synth.h"
#include "tools_music_support.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace musictest;

// Every cell of every stored pattern.
template <typename Visit> void forEachCell(const Song* s, Visit visit) {
    for (int p = 0; p < s->patternCount; ++p)
        for (int i = 0; i < s->patterns[p].rowCount * s->channelCount; ++i)
            visit(s->patterns[p].cells[i]);
}

TEST(MusicComposition, ModuleIsTheCommittedAssetWithSmoothSamples) {
    const std::vector<uint8_t> bytes = composeModule();
    EXPECT_EQ(bytes, embeddedModule()) << "assets/data/module.bin is stale: regenerate it";
    EXPECT_LE(bytes.size(), 128u * 1024u);
    const loadertest::SongPtr song = loadertest::load(bytes);
    const Song* s = song.get();
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->channelCount == 20 && s->patternCount == 12 && s->instrumentCount == 64);
    EXPECT_TRUE(s->usedPatternCount == 12 && s->restartPosition < s->songLength);
    EXPECT_TRUE(s->defaultSpeed == 4 && s->defaultTempo == 68 && (s->flags & 1));
    // The panel triggers and every instrument a cell names have a sound.
    std::set<int> named{1, 17};
    forEachCell(s, [&](const PatternCell& c) {
        if (c.instrument) named.insert(c.instrument);
    });
    for (int n : named) {
        const Instrument& ins = s->instruments[n - 1];
        EXPECT_TRUE(ins.sampleCount == 1 && ins.samples[0]->length > 0u) << "instrument " << n;
    }
    bool volumeSustain = false, volumeLoop = false, panningLoop = false, autoVibrato = false;
    for (int n = 0; n < s->instrumentCount; ++n) {
        const Instrument& ins = s->instruments[n];
        if (!ins.sampleCount) continue;
        const Sample& smp = *ins.samples[0];
        const int16_t* d = smp.data;
        const uint32_t end = smp.loopStart + smp.loopLength;
        volumeSustain |= (ins.volumeType & 3) == 3;
        volumeLoop |= (ins.volumeType & 5) == 5;
        panningLoop |= (ins.panningType & 5) == 5;
        autoVibrato |= ins.vibratoDepth > 0 && ins.vibratoRate > 0;
        if (smp.loopType == 2) {
            // The step across the loop seam is no larger than the steps inside the loop,
            // and a looping sound has a way to end: a volume envelope or a fadeout.
            int largest = 0;
            for (uint32_t i = smp.loopStart; i + 1 < end; ++i)
                largest = std::max(largest, std::abs(d[i + 1] - d[i]));
            EXPECT_LE(std::abs(d[smp.loopStart] - d[end - 1]), largest) << "instrument " << n + 1;
            EXPECT_TRUE((ins.volumeType & 1) || ins.fadeout > 0) << "instrument " << n + 1;
        } else { // one-shots start and end near zero: no click when they begin or run out
            EXPECT_LE(std::abs(int(d[0])), 2048) << "instrument " << n + 1;
            EXPECT_LE(std::abs(int(d[smp.length - 1])), 512) << "instrument " << n + 1;
        }
    }
    EXPECT_TRUE(volumeSustain && volumeLoop && panningLoop && autoVibrato);
}

// The period of a rendered tone, from the best autocorrelation lag near `expected`
// frames, refined by a parabola through the peak.
double measuredPeriod(const std::vector<int16_t>& stereo, size_t from, size_t count,
                      double expected) {
    auto correlation = [&](int lag) {
        double sum = 0;
        for (size_t i = from; i < from + count; ++i)
            sum += double(stereo[2 * i]) * stereo[2 * (i + size_t(lag))];
        return sum;
    };
    int low = int(expected * 0.94), high = int(expected * 1.06) + 1, best = low;
    double bestValue = correlation(low);
    for (int lag = low + 1; lag <= high; ++lag)
        if (double v = correlation(lag); v > bestValue) bestValue = v, best = lag;
    double a = correlation(best - 1), c = correlation(best + 1);
    double denominator = a - 2 * bestValue + c;
    return best + (denominator != 0 ? 0.5 * (a - c) / denominator : 0.0);
}

TEST(MusicComposition, TonalInstrumentsPlayInTune) {
    // Instrument, note, and fundamental cycles per waveform period (the bell's 7:2 FM
    // repeats every second carrier cycle).
    const int cases[][3] = {{insBass, 34, 1},  {insSub, 34, 1},  {insPad, 46, 1}, {insLead, 58, 1},
                            {insPluck, 58, 1}, {insBell, 58, 2}, {insChip, 58, 1}};
    std::vector<XmInstrument> instruments = buildInstruments();
    for (const auto& [instrument, note, cycles] : cases) {
        XmModule m;
        m.channelCount = 1;
        m.defaultSpeed = musicSpeed;
        m.defaultTempo = musicTempo;
        m.orders = {0};
        xmCell(m.patterns.emplace_back(xmPattern(16, 1)), 1, 0, 0) = {uint8_t(note), 1, 0x50, 0, 0};
        m.instruments = {instruments[size_t(instrument - 1)]};
        m.instruments[0].vibratoDepth = 0; // the pitch itself, without the singer's vibrato
        Render r = renderModule(writeXm(m), 1.0);
        ASSERT_FALSE(r.samples.empty());
        double expected = cycles * rate / concertPitch(note);
        double period =
            measuredPeriod(r.samples, size_t(0.5 * rate), size_t(0.25 * rate), expected);
        EXPECT_NEAR(1200.0 * std::log2(expected / period), 0.0, 6.0) << "instrument " << instrument;
    }
}

TEST(MusicComposition, NoNoteHangsIntoTheNextPart) {
    // Instruments that sound for as long as their key is held.
    std::vector<XmInstrument> instruments = buildInstruments();
    auto holds = [&](int n) {
        const XmInstrument& ins = instruments[size_t(n - 1)];
        if (ins.samples.empty() || ins.samples[0].loop == XmLoop::none) return false;
        const XmEnvelope& e = ins.volumeEnvelope;
        return !(e.type & xmEnvelopeOn) || (e.type & (xmEnvelopeSustain | xmEnvelopeLoop)) ||
               e.points.back().y > 0;
    };
    MusicScore score = buildScore();
    for (size_t o = 0; o < score.orders.size(); ++o) {
        size_t next = o + 1 < score.orders.size() ? o + 1 : score.restartPosition;
        XmPattern& from = score.patterns[score.orders[o]];
        XmPattern& to = score.patterns[score.orders[next]];
        for (int ch = 0; ch < musicChannels; ++ch) {
            int instrument = 0;
            bool sounding = false;
            for (int row = 0; row < from.rows; ++row) {
                const XmCell& c = xmCell(from, musicChannels, row, ch);
                if (c.note == 97 || (c.effect == 0xC && c.parameter == 0))
                    sounding = false;
                else if (c.note)
                    sounding = true, instrument = c.instrument ? c.instrument : instrument;
            }
            if (!sounding || !holds(instrument)) continue;
            // Held on: the next pattern must take the channel over on its first row (or
            // the held sound is the wind, which drifts on under the opening and breakdown).
            EXPECT_TRUE(xmCell(to, musicChannels, 0, ch).note != 0 || instrument == insSweep)
                << "order " << o << " channel " << ch << " holds instrument " << instrument;
        }
    }
}

} // namespace
