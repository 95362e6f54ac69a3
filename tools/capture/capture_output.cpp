// Output files of velmora-capture: staging, PNG, WAV and the ffmpeg child process
// (see capture_output.h). Main thread only; abandonStaging also runs from an exit
// handler, so a capture that ends through the shell's exit routine (memory
// exhausted, say) leaves nothing behind either.
#include "tools/capture/capture_output.h"

#include <png.h>

#include <bit>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int32_t pictureWidth = 640;
constexpr int32_t pictureHeight = 480;
constexpr size_t pictureBytes = size_t(pictureWidth) * pictureHeight * 4;
// zlib's fastest level with the "sub" filter on every row: for the main scene about
// a quarter larger files than libpng's default settings, written several times
// faster (a capture writes thousands).
constexpr int pngCompressionLevel = 1;

std::string stagingFolder; // "" when nothing is staged
std::string createdFolder; // the --frames / --at folder made by openStaging, if any
bool exitHandlerRegistered = false;

FILE* wavFile = nullptr;
std::string wavPath;
int64_t wavFrames = 0;

pid_t encoderPid = -1;
int encoderPipe = -1;
std::string encoderLog;

std::string describeErrno(int error) {
    return std::strerror(error);
}

std::string inQuotes(const std::string& path) {
    return "'" + path + "'";
}

// The folder a path lies in; "." for a bare name.
std::string folderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// "" when `folder` is an existing folder this process may create files in.
std::string checkWritableFolder(const std::string& folder, const std::string& forWhat) {
    struct stat info;
    if (stat(folder.c_str(), &info) != 0)
        return "cannot write " + inQuotes(forWhat) + ": folder " + inQuotes(folder) + " " +
               (errno == ENOENT ? std::string("does not exist") : describeErrno(errno));
    if (!S_ISDIR(info.st_mode))
        return "cannot write " + inQuotes(forWhat) + ": " + inQuotes(folder) + " is not a folder";
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return "cannot write " + inQuotes(forWhat) + ": folder " + inQuotes(folder) +
               " is not writable (" + describeErrno(errno) + ")";
    return "";
}

void exitHandler() {
    abandonStaging();
}

} // namespace

// ---- Staging ----

std::string checkCaptureTarget(const CaptureOptions& options) {
    if (options.mode == CaptureMode::video) {
        std::error_code error;
        if (fs::is_directory(options.videoPath, error))
            return "cannot write " + inQuotes(options.videoPath) + ": it is a folder";
        return checkWritableFolder(folderOf(options.videoPath), options.videoPath);
    }
    if (options.mode == CaptureMode::frames || options.mode == CaptureMode::shots) {
        struct stat info;
        if (stat(options.folder.c_str(), &info) == 0)
            return checkWritableFolder(options.folder, options.folder);
        if (errno != ENOENT)
            return "cannot write " + inQuotes(options.folder) + ": " + describeErrno(errno);
        // Made by openStaging; its own parent must exist.
        return checkWritableFolder(folderOf(fs::path(options.folder).lexically_normal().string()),
                                   options.folder);
    }
    return "";
}

std::string openStaging(const CaptureOptions& options) {
    if (!exitHandlerRegistered) {
        std::atexit(exitHandler);
        exitHandlerRegistered = true;
    }
    std::string target;
    if (options.mode == CaptureMode::video) {
        target = folderOf(options.videoPath);
    } else {
        target = options.folder;
        if (mkdir(target.c_str(), 0777) == 0)
            createdFolder = target;
        else if (errno != EEXIST)
            return "cannot make folder " + inQuotes(target) + ": " + describeErrno(errno);
    }
    std::string pattern = target + "/.velmora-capture-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        const int error = errno;
        abandonStaging();
        return "cannot write in " + inQuotes(target) + ": " + describeErrno(error);
    }
    stagingFolder = name.data();
    return "";
}

std::string stagedPath(const std::string& name) {
    return stagingFolder + "/" + name;
}

std::string commitStaging(const CaptureOptions& options) {
    if (stagingFolder.empty()) return "";
    std::vector<std::string> moved;
    std::string failure;
    if (options.mode == CaptureMode::video) {
        if (std::rename(stagedPath(stagedVideoName).c_str(), options.videoPath.c_str()) != 0)
            failure = "cannot write " + inQuotes(options.videoPath) + ": " + describeErrno(errno);
    } else {
        std::error_code error;
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(stagingFolder, error))
            names.push_back(entry.path().filename().string());
        if (error) failure = "cannot read " + inQuotes(stagingFolder) + ": " + error.message();
        for (const std::string& name : names) {
            if (!failure.empty()) break;
            const std::string destination = options.folder + "/" + name;
            if (std::rename(stagedPath(name).c_str(), destination.c_str()) != 0)
                failure = "cannot write " + inQuotes(destination) + ": " + describeErrno(errno);
            else
                moved.push_back(destination);
        }
    }
    if (!failure.empty()) {
        // All or nothing: what had been moved goes again.
        for (const std::string& path : moved)
            std::remove(path.c_str());
        abandonStaging();
        return failure;
    }
    std::error_code error;
    fs::remove_all(stagingFolder, error);
    stagingFolder.clear();
    createdFolder.clear();
    return "";
}

void abandonStaging() {
    if (encoderPid > 0) {
        if (encoderPipe >= 0) close(encoderPipe);
        encoderPipe = -1;
        kill(encoderPid, SIGKILL);
        int status = 0;
        while (waitpid(encoderPid, &status, 0) < 0 && errno == EINTR) {
        }
        encoderPid = -1;
    }
    discardWav();
    std::error_code error;
    if (!stagingFolder.empty()) fs::remove_all(stagingFolder, error);
    stagingFolder.clear();
    // Only when empty: it was made for this capture, but someone may have put
    // something into it meanwhile.
    if (!createdFolder.empty()) fs::remove(createdFolder, error);
    createdFolder.clear();
}

// ---- PNG ----

namespace {

struct PngFailure {
    char message[200];
};

void pngError(png_structp png, png_const_charp message) {
    auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
    std::snprintf(failure->message, sizeof failure->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Plain data only between setjmp and a longjmp out of libpng.
bool encodePng(FILE* file, const uint8_t* rgba, PngFailure* failure) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, failure, pngError, pngWarning);
    if (!png) {
        std::snprintf(failure->message, sizeof failure->message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    png_bytep rows[pictureHeight];
    if (!info || setjmp(png_jmpbuf(png))) {
        if (!info) std::snprintf(failure->message, sizeof failure->message, "out of memory");
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, pictureWidth, pictureHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, pngCompressionLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_write_info(png, info);
    // The picture comes as RGBA: libpng drops the fourth byte of every pixel.
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int32_t y = 0; y < pictureHeight; ++y)
        rows[y] = const_cast<png_bytep>(rgba + size_t(y) * pictureWidth * 4);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

std::string writePng(const std::string& path, const uint8_t* rgba640x480) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return "cannot write " + inQuotes(path) + ": " + describeErrno(errno);
    PngFailure failure{};
    errno = 0;
    const bool encoded = encodePng(file, rgba640x480, &failure);
    int error = errno;
    if (std::fflush(file) != 0 && error == 0) error = errno;
    if (std::fclose(file) != 0 && error == 0) error = errno;
    if (!encoded || (error != 0 && error != EINTR)) {
        std::remove(path.c_str());
        // A full disk shows as libpng's "Write Error"; errno says more.
        if (!encoded && error == 0)
            return "cannot write " + inQuotes(path) + ": " + failure.message;
        return "cannot write " + inQuotes(path) + ": " + describeErrno(error);
    }
    return "";
}

// ---- WAV ----

namespace {
void put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}
void put32(uint8_t* at, uint32_t value) {
    put16(at, value & 0xFFFF);
    put16(at + 2, value >> 16);
}
} // namespace

void wavHeader(uint8_t header[44], uint32_t frames) {
    const uint32_t dataBytes = frames * 4;
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, 36 + dataBytes);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);                    // size of the format chunk
    put16(header + 20, 1);                     // PCM
    put16(header + 22, 2);                     // stereo
    put32(header + 24, captureSampleRate);     // frames per second
    put32(header + 28, captureSampleRate * 4); // bytes per second
    put16(header + 32, 4);                     // bytes per frame
    put16(header + 34, 16);                    // bits per sample
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, dataBytes);
}

std::string openWav(const std::string& path) {
    discardWav();
    wavFile = std::fopen(path.c_str(), "wb");
    if (!wavFile) return "cannot write " + inQuotes(path) + ": " + describeErrno(errno);
    wavPath = path;
    wavFrames = 0;
    uint8_t header[44];
    wavHeader(header, 0);
    if (std::fwrite(header, 1, sizeof header, wavFile) != sizeof header) {
        const int error = errno;
        discardWav();
        return "cannot write " + inQuotes(path) + ": " + describeErrno(error);
    }
    return "";
}

std::string appendWav(const int16_t* frames, int64_t count) {
    if (!wavFile) return "the sound file is not open";
    if (wavFrames + count > longestWavFrames)
        return "cannot write " + inQuotes(wavPath) + ": longer than a WAV file can hold";
    size_t values = static_cast<size_t>(count) * 2;
    size_t written = 0;
    if constexpr (std::endian::native == std::endian::little) {
        written = std::fwrite(frames, 2, values, wavFile);
    } else {
        uint8_t bytes[4096];
        while (written < values) {
            size_t n = std::min(values - written, sizeof bytes / 2);
            for (size_t i = 0; i < n; ++i)
                put16(bytes + 2 * i, static_cast<uint16_t>(frames[written + i]));
            if (std::fwrite(bytes, 2, n, wavFile) != n) break;
            written += n;
        }
    }
    if (written != values) return "cannot write " + inQuotes(wavPath) + ": " + describeErrno(errno);
    wavFrames += count;
    return "";
}

std::string closeWav() {
    if (!wavFile) return "the sound file is not open";
    uint8_t header[44];
    wavHeader(header, static_cast<uint32_t>(wavFrames));
    bool ok = std::fseek(wavFile, 0, SEEK_SET) == 0 &&
              std::fwrite(header, 1, sizeof header, wavFile) == sizeof header &&
              std::fflush(wavFile) == 0;
    int error = errno;
    if (std::fclose(wavFile) != 0 && ok) {
        ok = false;
        error = errno;
    }
    wavFile = nullptr;
    if (!ok) return "cannot write " + inQuotes(wavPath) + ": " + describeErrno(error);
    return "";
}

void discardWav() {
    if (wavFile) std::fclose(wavFile);
    wavFile = nullptr;
}

// ---- ffmpeg ----

std::string findOnPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string list = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t colon = list.find(':', start);
        std::string folder = list.substr(start, colon - start);
        // assign rather than = ".": GCC 12 warns falsely (-Wrestrict) about the latter at -O3.
        if (folder.empty()) folder.assign(1, '.');
        const std::string candidate = folder + "/" + program;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string::npos) return "";
        start = colon + 1;
    }
}

namespace {

// The last line ffmpeg wrote to its log, for the one-line failure message.
std::string lastLogLine(const std::string& logPath) {
    std::ifstream log(logPath);
    std::string line, last;
    while (std::getline(log, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (!line.empty()) last = line;
    }
    if (last.size() > 200) last = last.substr(0, 200) + "...";
    return last;
}

// Starts `arguments` (the program's full path first) with stdin from `input`
// (-1: /dev/null) and stdout and stderr into `logPath`, in a process group of its
// own so that a Ctrl+C at the terminal reaches only this program, which then ends
// the child itself. Returns the child's id, or -1 with errno set.
pid_t spawnProcess(const std::vector<std::string>& arguments, int input,
                   const std::string& logPath) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    // This program ignores SIGPIPE; the child gets the usual behaviour back.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int result = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        errno = result;
        return -1;
    }
    return pid;
}

// Waits for the child; "" when it ended with exit code 0.
std::string waitForProcess(pid_t pid, const std::string& what, const std::string& logPath) {
    int status = 0;
    pid_t result;
    while ((result = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (result == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    std::string detail = lastLogLine(logPath);
    if (detail.empty()) {
        if (result == pid && WIFEXITED(status))
            detail = "exit code " + std::to_string(WEXITSTATUS(status));
        else if (result == pid && WIFSIGNALED(status))
            detail = "ended by signal " + std::to_string(WTERMSIG(status));
        else
            detail = describeErrno(errno);
    }
    return "ffmpeg could not " + what + ": " + detail;
}

} // namespace

std::string startVideoEncoder(const std::string& ffmpeg, const std::string& videoPath, int32_t fps,
                              const std::string& logPath) {
    // A dead ffmpeg shows as a failed write, not as the end of this program.
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "cannot start ffmpeg: " + describeErrno(errno);
    const std::vector<std::string> arguments = {
        ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
        // The input: raw frames, top row first, as read back.
        "-f", "rawvideo", "-pix_fmt", "rgba", "-video_size", "640x480", "-framerate",
        std::to_string(fps), "-i", "pipe:0",
        // H.264 in the 4:2:0 form that every player takes. x264's output depends on its
        // thread count, which it would otherwise take from the machine: fixed, and no
        // version or time stamps in the container, so that the same capture gives the
        // same bytes everywhere.
        "-c:v", "libx264", "-preset", "veryfast", "-crf", "16", "-pix_fmt", "yuv420p", "-threads",
        "2", "-fflags", "+bitexact", "-flags:v", "+bitexact", "-map_metadata", "-1", "-f", "mp4",
        videoPath};
    const pid_t pid = spawnProcess(arguments, fds[0], logPath);
    const int error = errno;
    close(fds[0]);
    if (pid < 0) {
        close(fds[1]);
        return "cannot start " + inQuotes(ffmpeg) + ": " + describeErrno(error);
    }
    encoderPid = pid;
    encoderPipe = fds[1];
    encoderLog = logPath;
    return "";
}

std::string sendVideoFrame(const uint8_t* rgba640x480) {
    if (encoderPipe < 0) return "the video encoder is not running";
    size_t done = 0;
    while (done < pictureBytes) {
        const ssize_t n = write(encoderPipe, rgba640x480 + done, pictureBytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // ffmpeg has gone: its own message says why.
            const int error = errno;
            close(encoderPipe);
            encoderPipe = -1;
            std::string failure = waitForProcess(encoderPid, "encode the video", encoderLog);
            encoderPid = -1;
            return failure.empty() ? "cannot send frames to ffmpeg: " + describeErrno(error)
                                   : failure;
        }
        done += static_cast<size_t>(n);
    }
    return "";
}

std::string finishVideoEncoder() {
    if (encoderPid < 0) return "the video encoder is not running";
    close(encoderPipe);
    encoderPipe = -1;
    const std::string failure = waitForProcess(encoderPid, "encode the video", encoderLog);
    encoderPid = -1;
    return failure;
}

std::string muxVideo(const std::string& ffmpeg, const std::string& videoPath,
                     const std::string& soundPath, const std::string& outPath,
                     const std::string& logPath) {
    const std::vector<std::string> arguments = {
        ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-i", videoPath, "-i",
        soundPath, "-map", "0:v", "-map", "1:a", "-c:v", "copy", "-c:a", "aac", "-b:a", "192k",
        "-threads", "1",
        // No encoder names, versions or time stamps: the same streams, the same file.
        "-fflags", "+bitexact", "-flags:v", "+bitexact", "-flags:a", "+bitexact", "-map_metadata",
        "-1", "-movflags", "+faststart", "-f", "mp4", outPath};
    const pid_t pid = spawnProcess(arguments, -1, logPath);
    if (pid < 0) return "cannot start " + inQuotes(ffmpeg) + ": " + describeErrno(errno);
    encoderPid = pid; // so that abandonStaging can end it
    const std::string failure = waitForProcess(pid, "put picture and sound together", logPath);
    encoderPid = -1;
    return failure;
}
