// Wave output over Web Audio (library vm_waveout_webaudio). The page creates the
// AudioContext at 44100 Hz (Module.velmoraAudio, null when Web Audio could not be
// had) because only the page knows when a user's gesture lets it start. Here a
// ScriptProcessor node plays the ring: its callback copies the frames from the play
// position onwards, converted to floats, and notes at which context time they will
// sound. The play position is the context's current time, less the reported base
// and output latencies, counted back through those notes: what the listener hears
// now, as waveOutGetPosition reports it.
// Threads: there is one. Opening, starting, resetting, closing and the position
// query run in the frame loop (through the mixing pump); the node's callback runs on
// the same thread between frames, so it never sees a block half rendered.
#include "audio/waveout.h"

#include <emscripten.h>

namespace {

EM_JS(int, webAudioOpen, (int rate), {
    var audio = Module.velmoraAudio;
    if (!audio || !audio.context || audio.context.state == 'closed') return 0;
    if (audio.context.sampleRate != rate) return 0;
    try {
        // 2048 frames (46 ms) a callback: short enough for the sync to feel exact,
        // long enough that a slow frame never starves the node.
        var node = audio.context.createScriptProcessor(2048, 0, 2);
        audio.node = node;
        audio.ring = 0;
        audio.frames = 0;
        audio.handed = 0;
        audio.notes = [];
        node.onaudioprocess = function(event) {
            var left = event.outputBuffer.getChannelData(0);
            var right = event.outputBuffer.getChannelData(1);
            var count = left.length;
            if (!audio.ring || !audio.frames) {
                left.fill(0);
                right.fill(0);
                return;
            }
            var at = audio.handed % audio.frames;
            var base = audio.ring >> 1;
            for (var i = 0; i < count; ++i) {
                left[i] = HEAP16[base + 2 * at] / 32768;
                right[i] = HEAP16[base + 2 * at + 1] / 32768;
                if (++at == audio.frames) at = 0;
            }
            audio.notes.push([ audio.handed, event.playbackTime ]);
            if (audio.notes.length > 32) audio.notes.shift();
            audio.handed += count;
        };
        return 1;
    } catch (e) {
        console.warn('Web Audio: ' + e);
        return 0;
    }
});

EM_JS(void, webAudioStart, (const void* ring, int frames), {
    var audio = Module.velmoraAudio;
    if (!audio || !audio.node) return;
    audio.ring = ring;
    audio.frames = frames;
    audio.handed = 0;
    audio.notes = [];
    audio.node.connect(audio.context.destination);
});

// Frames heard so far: the newest note whose frames have begun to sound, moved on
// by the time since. Never more than has been handed to the node.
EM_JS(double, webAudioHeardFrames, (), {
    var audio = Module.velmoraAudio;
    if (!audio || !audio.ring || !audio.notes.length) return 0;
    var context = audio.context;
    var now = context.currentTime - (context.baseLatency || 0) - (context.outputLatency || 0);
    var note = null;
    for (var i = audio.notes.length - 1; i >= 0; --i)
        if (audio.notes[i][1] <= now) {
            note = audio.notes[i];
            break;
        }
    if (!note) return 0;
    var heard = note[0] + Math.floor((now - note[1]) * context.sampleRate);
    return Math.max(0, Math.min(heard, audio.handed));
});

EM_JS(void, webAudioStop, (), {
    var audio = Module.velmoraAudio;
    if (!audio) return;
    audio.ring = 0;
    audio.frames = 0;
    audio.handed = 0;
    audio.notes = [];
    if (audio.node) {
        try {
            audio.node.disconnect();
        } catch (e) {
        }
    }
});

EM_JS(void, webAudioClose, (), {
    var audio = Module.velmoraAudio;
    if (!audio || !audio.node) return;
    audio.node.onaudioprocess = null;
    audio.node = null;
});

bool deviceOpen = false;
bool ringPlaying = false;

} // namespace

bool openWaveOutput(int32_t rate) {
    closeWaveOutput();
    if (rate <= 0 || !webAudioOpen(rate)) return false;
    deviceOpen = true;
    return true;
}

void startWaveOutput(const int16_t* ring, int32_t frames) {
    if (!deviceOpen) return;
    webAudioStop();
    if (!ring || frames <= 0) return;
    webAudioStart(ring, frames);
    ringPlaying = true;
}

uint64_t waveOutputPosition() {
    if (!ringPlaying) return 0;
    return static_cast<uint64_t>(webAudioHeardFrames()) * 4;
}

void resetWaveOutput() {
    webAudioStop();
    ringPlaying = false;
}

void closeWaveOutput() {
    if (!deviceOpen) return;
    resetWaveOutput();
    webAudioClose();
    deviceOpen = false;
}

// There is no second thread to raise.
bool raiseThreadPriority() {
    return false;
}
