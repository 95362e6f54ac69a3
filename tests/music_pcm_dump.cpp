// music_pcm_dump SECONDS FILE: the embedded module as the intro plays it (loader,
// engine, mixer and block ring over the virtual wave output, driven block by block
// without the mixing thread), written as raw 16-bit stereo PCM, little-endian, left
// first. Built for every platform, so that the renders of two builds can be compared
// byte for byte. Exit code 1 with a message when anything fails.
#include "audio/output.h"
#include "audio/waveout_virtual.h"
#include "music/loader.h"
#include "music/module_source.h"
#include "music/song.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const double seconds = argc == 3 ? std::atof(argv[1]) : 0.0;
    if (seconds <= 0.0) {
        std::fprintf(stderr, "usage: music_pcm_dump SECONDS FILE\n");
        return 1;
    }
    registerFileCallbacks(openModuleFile, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    setMixingThreadEnabled(false);
    Song* song = openSoundOutput(44100) ? loadSong(nullptr) : nullptr;
    if (!song || !playSong(song)) {
        std::fprintf(stderr, "music_pcm_dump: the embedded module does not play\n");
        return 1;
    }
    std::FILE* file = std::fopen(argv[2], "wb");
    if (!file) {
        std::fprintf(stderr, "music_pcm_dump: cannot write %s\n", argv[2]);
        return 1;
    }
    const auto total = static_cast<int64_t>(seconds * 44100.0);
    int64_t written = 0;
    int32_t block = 0;
    bool ok = true;
    while (ok && written < total) {
        const int64_t left = total - written;
        const int64_t frames = left < blockFrames ? left : blockFrames;
        const int16_t* samples = virtualRing() + int64_t(block) * blockFrames * 2;
        ok = std::fwrite(samples, 4, static_cast<size_t>(frames), file) == size_t(frames);
        written += frames;
        // The device moves past the block just written; it is rendered again, a ring ahead.
        advanceVirtualPosition(uint64_t(blockFrames) * 4);
        pollOutputOnce();
        block = (block + 1) % blockCount;
    }
    ok = std::fclose(file) == 0 && ok;
    freeSong(song);
    closeSoundOutput();
    if (!ok) {
        std::fprintf(stderr, "music_pcm_dump: writing %s failed\n", argv[2]);
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
