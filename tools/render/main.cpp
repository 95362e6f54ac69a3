// velmora-render: plays an XM module through the intro's own player (loader, song
// engine, mixer and block renderer, with the virtual wave output) and writes what
// it would sound like to a 44100 Hz 16-bit stereo WAV file.
//
//   velmora-render [--seconds N] input.xm output.wav|-
//   velmora-render --version
//
// Without --seconds the render stops where the song comes back to an order position
// and row it has already played (a pattern loop's repeats do not count), or after
// 30 minutes; a dry pass of the song engine without mixing finds that length first,
// so that the WAV header is written exact before the first sample and the output
// need not be seekable. A regular file (a symbolic link's target included) is
// replaced through a temporary file in its folder; standard output ("-"), FIFOs and
// devices are written directly. Everything runs on this one thread: the mixing
// thread is not started and the virtual device's position is moved half a ring at
// a time.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/output.h"
#include "audio/waveout_virtual.h"
#include "music/loader.h"
#include "music/module_source.h"
#include "music/song.h"
#include "music/tick_processing.h"

namespace {

constexpr int32_t outputRate = 44100;
constexpr int64_t passLimitFrames = int64_t(30) * 60 * outputRate;
// A WAV file counts its data in 32 bits.
constexpr double longestSeconds = 24000.0;

const char* program = "velmora-render";

[[noreturn]] void usage(const char* problem) {
    if (problem) std::fprintf(stderr, "%s: %s\n", program, problem);
    std::fprintf(stderr,
                 "usage: %s [--seconds N] input.xm output.wav|-\n"
                 "       %s --version\n"
                 "Renders an XM module as the intro plays it into a 44100 Hz 16-bit stereo "
                 "WAV file\n(\"-\": standard output): one pass through the song (at most 30 "
                 "minutes), or N seconds.\n",
                 program, program);
    std::exit(2);
}

// ---- The module's bytes behind the player's file callbacks ----

std::vector<uint8_t> moduleBytes;

void* openModuleBytes(const char*) {
    return openMemoryFile(moduleBytes.data(), static_cast<int32_t>(moduleBytes.size()));
}

// Reads the whole file; an empty string on success, else what went wrong.
std::string readModule(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return std::strerror(errno);
    std::string problem;
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        moduleBytes.insert(moduleBytes.end(), buffer, buffer + got);
        if (moduleBytes.size() > size_t(INT32_MAX)) {
            problem = "file too large for an XM module";
            break;
        }
    }
    if (problem.empty() && std::ferror(file)) problem = std::strerror(errno);
    std::fclose(file);
    return problem;
}

// ---- End of the song ----

// Follows the song row by row through the engine's tick handler during the dry
// pass: the frame at which the song first comes back to a position it has played.
struct PassTracker {
    bool visited[256][256];
    int64_t framesSoFar = 0; // frames before the next tick
    int64_t endFrame = -1;   // -1 until the song comes back
};
PassTracker pass;

void trackingTick(Song* song) {
    bool rowTick = song->tick == 0;
    int64_t tickStart = pass.framesSoFar;
    advanceSong(song);
    pass.framesSoFar += song->samplesPerTick < 1 ? 1 : song->samplesPerTick;
    if (!rowTick || pass.endFrame >= 0) return;

    int32_t order = song->orderPosition;
    int32_t row = song->row;
    if (order < 0 || order > 255 || row < 0 || row > 255) return;
    if (pass.visited[order][row]) {
        pass.endFrame = tickStart;
        return;
    }
    pass.visited[order][row] = true;
    // A pattern loop going back plays its rows again: they are not a return.
    int32_t loopRow = patternLoopJumpRow();
    for (int32_t r = loopRow; r >= 0 && r <= row; ++r)
        pass.visited[order][r] = false;
}

// The frames of one pass (at most `limit`): the song's ticks from its start without
// mixing, once the ring's prefill is done. Leaves the output closed and reopened, so
// that the real render starts from silent voices just as this pass did.
int64_t onePassFrames(Song* song, int64_t limit) {
    song->tickHandler = trackingTick;
    playSong(song);
    while (pass.endFrame < 0 && pass.framesSoFar < limit)
        trackingTick(song);
    song->tickHandler = advanceSong;
    closeSoundOutput();
    if (!openSoundOutput(outputRate)) return -1;
    return pass.endFrame >= 0 ? std::min(pass.endFrame, limit) : limit;
}

// ---- Where the WAV goes ----

// The temporary file beside a regular target, unlinked on failure and when a signal
// ends the render; the signal handlers read the path from this fixed buffer.
char temporaryPath[4096];

void removeTemporary() {
    if (temporaryPath[0]) unlink(temporaryPath);
}

void endBySignal(int signal) {
    removeTemporary();
    // A reader that went away (`| head`) is the end of the job, not a crash.
    if (signal == SIGPIPE) _exit(1);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

[[noreturn]] void failOutput(std::FILE* file, const char* path, const char* what) {
    std::fprintf(stderr, "%s: %s: cannot write: %s\n", program, path, what);
    if (file) std::fclose(file);
    removeTemporary();
    std::exit(1);
}

struct Target {
    std::string path; // the file written in the end: symbolic links followed
    bool standardOutput = false;
    bool regular = false; // replaced through a temporary file; else written directly
    bool exists = false;
    mode_t mode = 0;
};

// Where `output` leads, refused (with the exit) when it is a folder or its folder
// is missing, before anything is rendered.
Target resolveTarget(const char* output) {
    Target target;
    if (std::strcmp(output, "-") == 0) {
        if (isatty(STDOUT_FILENO)) failOutput(nullptr, output, "standard output is a terminal");
        target.standardOutput = true;
        return target;
    }
    namespace fs = std::filesystem;
    target.path = output;
    if (target.path.back() == '/') failOutput(nullptr, output, "is a folder");
    struct stat info;
    for (int hops = 0;; ++hops) {
        if (lstat(target.path.c_str(), &info) != 0) {
            if (errno != ENOENT) failOutput(nullptr, output, std::strerror(errno));
            break;
        }
        if (!S_ISLNK(info.st_mode)) {
            target.exists = true;
            break;
        }
        if (hops == 40) failOutput(nullptr, output, std::strerror(ELOOP));
        char link[4096];
        ssize_t length = readlink(target.path.c_str(), link, sizeof link - 1);
        if (length < 0) failOutput(nullptr, output, std::strerror(errno));
        link[length] = '\0';
        target.path = (fs::path(target.path).parent_path() / link).string();
    }
    if (target.exists) {
        if (S_ISDIR(info.st_mode)) failOutput(nullptr, output, "is a folder");
        target.regular = S_ISREG(info.st_mode);
        target.mode = info.st_mode & 07777;
        return target;
    }
    fs::path folder = fs::path(target.path).parent_path();
    if (folder.empty()) folder = ".";
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        failOutput(nullptr, output, ("there is no folder " + folder.string()).c_str());
    target.regular = true;
    return target;
}

std::FILE* openTarget(const Target& target, const char* output) {
    if (target.standardOutput) return stdout;
    int fd;
    if (target.regular) {
        std::string name = target.path + ".partXXXXXX";
        if (name.size() >= sizeof temporaryPath) failOutput(nullptr, output, "path too long");
        // mkstemp fills in the name inside the buffer the signal handlers read.
        std::memcpy(temporaryPath, name.c_str(), name.size() + 1);
        fd = mkstemp(temporaryPath);
        if (fd < 0) {
            int error = errno;
            temporaryPath[0] = '\0';
            failOutput(nullptr, output, std::strerror(error));
        }
        // mkstemp creates the file private to its owner: the replaced file's
        // permissions, or the usual ones for a new file.
        mode_t mode = target.mode;
        if (!target.exists) {
            mode_t mask = umask(0);
            umask(mask);
            mode = 0666 & ~mask;
        }
        fchmod(fd, mode);
    } else {
        // A FIFO blocks here until its reader comes.
        fd = open(target.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) failOutput(nullptr, output, std::strerror(errno));
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        close(fd);
        failOutput(nullptr, output, std::strerror(errno));
    }
    return file;
}

// Everything written is on its way; a regular target is then replaced at once.
void finishTarget(std::FILE* file, const Target& target, const char* output) {
    if (std::fflush(file) != 0 || (target.regular && fsync(fileno(file)) != 0))
        failOutput(file, output, std::strerror(errno));
    if (std::fclose(file) != 0) failOutput(nullptr, output, std::strerror(errno));
    if (target.regular) {
        if (std::rename(temporaryPath, target.path.c_str()) != 0)
            failOutput(nullptr, output, std::strerror(errno));
        temporaryPath[0] = '\0';
    }
}

void putLittleEndian(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void waveHeader(uint8_t header[44], uint32_t dataBytes) {
    std::memcpy(header, "RIFF", 4);
    putLittleEndian(header + 4, 36 + dataBytes, 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    putLittleEndian(header + 16, 16, 4);
    putLittleEndian(header + 20, 1, 2); // PCM
    putLittleEndian(header + 22, 2, 2);
    putLittleEndian(header + 24, outputRate, 4);
    putLittleEndian(header + 28, outputRate * 4, 4);
    putLittleEndian(header + 32, 4, 2);
    putLittleEndian(header + 34, 16, 2);
    std::memcpy(header + 36, "data", 4);
    putLittleEndian(header + 40, dataBytes, 4);
}

// ---- Progress ----

struct Progress {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDrawn{};
    bool shown = false;

    void update(double fraction) {
        auto now = std::chrono::steady_clock::now();
        if (now - start < std::chrono::seconds(1)) return;
        if (shown && now - lastDrawn < std::chrono::milliseconds(100)) return;
        draw(fraction);
        lastDrawn = now;
    }
    void draw(double fraction) {
        fraction = std::clamp(fraction, 0.0, 1.0);
        constexpr int width = 40;
        int filled = static_cast<int>(fraction * width);
        std::string bar(filled, '#');
        bar.append(width - filled, '.');
        std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), static_cast<int>(fraction * 100));
        std::fflush(stderr);
        shown = true;
    }
    void finish() {
        if (!shown) return;
        draw(1.0);
        std::fputc('\n', stderr);
    }
};

} // namespace

int main(int argc, char** argv) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        std::signal(signal, endBySignal);
    double seconds = 0;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") usage(nullptr);
        if (arg == "--version") {
            std::printf("%s %s\n", program, VELMORA_VERSION);
            return 0;
        }
        if (arg == "--seconds") {
            if (++i >= argc) usage("--seconds needs a number of seconds");
            char* end = nullptr;
            errno = 0;
            seconds = std::strtod(argv[i], &end);
            if (errno || end == argv[i] || *end || !(seconds > 0) || seconds > longestSeconds)
                usage("--seconds needs a number above 0 and at most 24000");
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage(("unknown option " + arg).c_str());
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.size() != 2) usage("an input module and an output file are needed");
    const char* input = paths[0];
    const char* output = paths[1];
    const Target target = resolveTarget(output);
    // With the WAV on standard output, the report goes to standard error.
    std::FILE* report = target.standardOutput ? stderr : stdout;

    std::string problem = readModule(input);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s: %s: cannot read: %s\n", program, input, problem.c_str());
        return 1;
    }
    registerFileCallbacks(openModuleBytes, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    setMixingThreadEnabled(false);
    if (!openSoundOutput(outputRate)) {
        std::fprintf(stderr, "%s: the player's output could not be opened\n", program);
        return 1;
    }
    Song* song = loadSong(nullptr);
    if (!song) {
        bool signature = moduleBytes.size() >= 17 &&
                         std::memcmp(moduleBytes.data(), "Extended Module: ", 17) == 0;
        std::fprintf(stderr, "%s: %s: %s\n", program, input,
                     signature ? "damaged or unsupported XM module"
                               : "not an XM module (no \"Extended Module: \" signature)");
        closeSoundOutput();
        return 1;
    }

    std::fprintf(report, "Module       %s\n", input);
    std::fprintf(report, "Channels     %d\n", song->channelCount);
    std::fprintf(report, "Patterns     %d\n", song->patternCount);
    std::fprintf(report, "Instruments  %d\n", song->instrumentCount);
    std::fprintf(report, "Orders       %d (restart at %d)\n", song->songLength,
                 song->restartPosition);
    std::fprintf(report, "Speed        %d\n", song->defaultSpeed);
    std::fprintf(report, "Tempo        %d\n", song->defaultTempo);
    std::fprintf(report, "Frequencies  %s\n", (song->flags & 1) ? "linear" : "Amiga");
    std::fflush(report);

    bool fixedLength = seconds > 0;
    int64_t total = fixedLength ? static_cast<int64_t>(seconds * outputRate + 0.5)
                                : onePassFrames(song, passLimitFrames);
    if (total < 0) {
        std::fprintf(stderr, "%s: the player's output could not be opened\n", program);
        return 1;
    }

    std::FILE* file = openTarget(target, output);
    uint8_t header[44];
    waveHeader(header, static_cast<uint32_t>(total * 4));
    if (std::fwrite(header, 1, sizeof header, file) != sizeof header)
        failOutput(file, output, std::strerror(errno));

    playSong(song); // renders the first two seconds into the ring
    int64_t written = 0;
    int32_t block = 0;
    // Half the ring at a time: few large writes (the kernel's cost goes with the
    // number of writes more than with their size), and the other half is still
    // rendered ahead when the device position moves on by this much.
    const int32_t chunkBlocks = std::max(1, blockCount / 2);
    std::vector<uint8_t> bytes;
    Progress progress;
    while (written < total) {
        int32_t blocks = std::min(chunkBlocks, blockCount - block);
        int64_t frames = std::min<int64_t>(int64_t(blocks) * blockFrames, total - written);
        const int16_t* samples = virtualRing() + size_t(block) * blockFrames * 2;
        const void* data = samples;
        size_t size = size_t(frames) * 4;
        if constexpr (std::endian::native != std::endian::little) {
            bytes.resize(size);
            for (int64_t i = 0; i < frames * 2; ++i)
                putLittleEndian(&bytes[size_t(i) * 2], static_cast<uint16_t>(samples[i]), 2);
            data = bytes.data();
        }
        if (std::fwrite(data, 1, size, file) != size)
            failOutput(file, output, std::strerror(errno));
        written += frames;
        advanceVirtualPosition(uint64_t(blocks) * blockFrames * 4);
        pollOutputOnce(); // renders the blocks just written out again, further ahead
        block = (block + blocks) % blockCount;
        progress.update(static_cast<double>(written) / static_cast<double>(total));
    }
    progress.finish();
    finishTarget(file, target, output);

    freeSong(song);
    closeSoundOutput();
    const char* why = fixedLength              ? "fixed length"
                      : pass.endFrame == total ? "end of the song"
                                               : "30-minute limit";
    std::fprintf(report, "Rendered     %.3f s (%lld frames, %s) to %s\n",
                 static_cast<double>(written) / outputRate, static_cast<long long>(written), why,
                 target.standardOutput ? "standard output" : output);
    return std::fflush(report) == 0 ? 0 : 1;
}
