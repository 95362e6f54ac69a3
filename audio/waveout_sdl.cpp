// Wave output over SDL2 audio (library vm_waveout_sdl). The main thread opens,
// starts, resets and closes the device; SDL's audio thread runs fillDevice, which
// copies from the ring at the play position and advances a 64-bit byte counter;
// the mixing thread reads the position and raises its own priority.
#include "audio/waveout.h"

#include <SDL.h>

#include <atomic>
#include <cstring>

namespace {
// About 10 ms at 44100 Hz; SDL's dummy driver keeps time best with powers of two.
constexpr int deviceBufferFrames = 512;

SDL_AudioDeviceID device = 0;
bool audioSubsystemUp = false;
uint32_t deviceBufferBytes = 0;

// Written by the main thread while the device is paused; read by fillDevice.
const uint8_t* ringBytes = nullptr;
uint64_t ringLength = 0; // bytes

// Bytes handed to the device since startWaveOutput.
std::atomic<uint64_t> handedBytes{0};

// Every position query from the mixing thread publishes the ring blocks it wrote
// before; fillDevice acquires this before copying so those writes are ordered
// before the device's reads (the ring itself is written without locks).
std::atomic<uint64_t> ringPublished{0};

void SDLCALL fillDevice(void*, Uint8* stream, int length) {
    (void)ringPublished.load(std::memory_order_acquire);
    if (!ringBytes || ringLength == 0 || length <= 0) {
        std::memset(stream, 0, length > 0 ? static_cast<size_t>(length) : 0);
        return;
    }
    uint64_t handed = handedBytes.load(std::memory_order_relaxed);
    uint64_t at = handed % ringLength;
    uint64_t left = static_cast<uint64_t>(length);
    Uint8* out = stream;
    while (left > 0) {
        uint64_t piece = ringLength - at < left ? ringLength - at : left;
        std::memcpy(out, ringBytes + at, piece);
        out += piece;
        left -= piece;
        at = 0;
    }
    handedBytes.store(handed + static_cast<uint64_t>(length), std::memory_order_release);
}

void pauseDevice() {
    // Pausing takes SDL's device lock, so fillDevice has returned and will not run
    // again until the device is unpaused.
    if (device) SDL_PauseAudioDevice(device, 1);
}
} // namespace

bool openWaveOutput(int32_t rate) {
    closeWaveOutput();
    if (rate <= 0) return false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    audioSubsystemUp = true;

    SDL_AudioSpec wanted;
    SDL_zero(wanted);
    wanted.freq = rate;
    wanted.format = AUDIO_S16LSB;
    wanted.channels = 2;
    wanted.samples = deviceBufferFrames;
    wanted.callback = fillDevice;
    SDL_AudioSpec obtained;
    SDL_zero(obtained);
    // No changes allowed: SDL converts to whatever the hardware takes.
    device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audioSubsystemUp = false;
        return false;
    }
    deviceBufferBytes = static_cast<uint32_t>(obtained.samples) * 4;
    return true;
}

void startWaveOutput(const int16_t* ring, int32_t frames) {
    if (!device) return;
    pauseDevice();
    ringBytes = reinterpret_cast<const uint8_t*>(ring);
    ringLength = ring && frames > 0 ? static_cast<uint64_t>(frames) * 4 : 0;
    handedBytes.store(0, std::memory_order_relaxed);
    ringPublished.fetch_add(1, std::memory_order_release);
    SDL_PauseAudioDevice(device, 0);
}

uint64_t waveOutputPosition() {
    ringPublished.fetch_add(1, std::memory_order_release);
    uint64_t handed = handedBytes.load(std::memory_order_acquire);
    // What the last callback produced still waits in SDL's buffer: not heard yet.
    return handed > deviceBufferBytes ? handed - deviceBufferBytes : 0;
}

void resetWaveOutput() {
    pauseDevice();
    ringBytes = nullptr;
    ringLength = 0;
    handedBytes.store(0, std::memory_order_relaxed);
}

void closeWaveOutput() {
    if (device) {
        pauseDevice();
        SDL_CloseAudioDevice(device);
        device = 0;
    }
    ringBytes = nullptr;
    ringLength = 0;
    handedBytes.store(0, std::memory_order_relaxed);
    if (audioSubsystemUp) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audioSubsystemUp = false;
    }
}

bool raiseThreadPriority() {
    return SDL_SetThreadPriority(SDL_THREAD_PRIORITY_TIME_CRITICAL) == 0;
}
