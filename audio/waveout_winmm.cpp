// Wave output over the Windows multimedia wave functions (library vm_waveout_winmm):
// the whole ring is one buffer that the device plays looping for ever (WHDR_BEGINLOOP
// and WHDR_ENDLOOP with the largest loop count), so no buffer is ever returned or
// queued again, and the play position is waveOutGetPosition in bytes. No callback is
// registered. The main thread opens, starts, resets and closes; the mixing thread
// reads the position and raises its own priority.
#include "audio/waveout.h"

#include <windows.h>
#include <mmsystem.h>

namespace {
HWAVEOUT device = nullptr;
WAVEHDR ringHeader;
bool headerPrepared = false;

// waveOutGetPosition counts in 32 bits, which wrap after about 6.8 hours at
// 44100 Hz; a ring of 353600 bytes does not divide 2^32, so the count is widened to
// 64 bits. Only the mixing thread asks for the position while the ring plays.
uint32_t lastCount = 0;
uint64_t countBase = 0;

void stopDevice() {
    if (!device) return;
    waveOutReset(device);
    if (headerPrepared) waveOutUnprepareHeader(device, &ringHeader, sizeof ringHeader);
    headerPrepared = false;
    ringHeader = WAVEHDR{};
    lastCount = 0;
    countBase = 0;
}
} // namespace

bool openWaveOutput(int32_t rate) {
    closeWaveOutput();
    if (rate <= 0) return false;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.nAvgBytesPerSec = static_cast<DWORD>(rate) * 4;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    HWAVEOUT opened = nullptr;
    if (waveOutOpen(&opened, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        return false;
    device = opened;
    return true;
}

void startWaveOutput(const int16_t* ring, int32_t frames) {
    if (!device) return;
    stopDevice();
    if (!ring || frames <= 0) return;
    ringHeader = WAVEHDR{};
    // The device only reads the buffer; the header's field is not const.
    ringHeader.lpData = reinterpret_cast<LPSTR>(const_cast<int16_t*>(ring));
    ringHeader.dwBufferLength = static_cast<DWORD>(frames) * 4;
    ringHeader.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    ringHeader.dwLoops = 0xFFFFFFFF;
    waveOutPrepareHeader(device, &ringHeader, sizeof ringHeader);
    headerPrepared = true;
    waveOutWrite(device, &ringHeader, sizeof ringHeader);
}

uint64_t waveOutputPosition() {
    if (!device || !headerPrepared) return 0;
    MMTIME time{};
    time.wType = TIME_BYTES;
    if (waveOutGetPosition(device, &time, sizeof time) != MMSYSERR_NOERROR) return 0;
    uint32_t count;
    switch (time.wType) {
    case TIME_BYTES:
        count = time.u.cb;
        break;
    case TIME_SAMPLES: // a driver without byte positions answers in frames
        count = time.u.sample * 4;
        break;
    default:
        return 0;
    }
    if (count < lastCount) countBase += uint64_t(1) << 32;
    lastCount = count;
    return countBase + count;
}

void resetWaveOutput() {
    stopDevice();
}

void closeWaveOutput() {
    if (!device) return;
    stopDevice();
    waveOutClose(device);
    device = nullptr;
}

bool raiseThreadPriority() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
}
