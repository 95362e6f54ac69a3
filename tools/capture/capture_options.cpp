// Command line and timing of velmora-capture (see capture_options.h).
#include "tools/capture/capture_options.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A whole number from lowest to highest, digits only.
bool parseWhole(const char* text, int64_t lowest, int64_t highest, int64_t* value) {
    if (!*text) return false;
    int64_t result = 0;
    for (const char* p = text; *p; ++p) {
        if (!isDigit(*p)) return false;
        result = result * 10 + (*p - '0');
        if (result > highest) return false;
    }
    if (result < lowest) return false;
    *value = result;
    return true;
}

bool endsWithMp4(const std::string& path) {
    if (path.size() < 5) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    // "x.mp4" at least; a bare ".mp4" in a folder is a hidden file without a name.
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    return tail == ".mp4" && path.size() - nameStart > 4;
}

} // namespace

bool parseSeconds(const char* text, int64_t* milliseconds) {
    const char* p = text;
    if (!isDigit(*p)) return false;
    int64_t whole = 0;
    while (isDigit(*p)) {
        whole = whole * 10 + (*p++ - '0');
        if (whole > longestCaptureMs / 1000) return false;
    }
    int64_t fraction = 0;
    if (*p == '.') {
        ++p;
        int digits = 0;
        while (isDigit(*p)) {
            if (++digits > 3) return false;
            fraction = fraction * 10 + (*p++ - '0');
        }
        if (digits == 0) return false;
        for (; digits < 3; ++digits)
            fraction *= 10;
    }
    if (*p || whole * 1000 + fraction > longestCaptureMs) return false;
    *milliseconds = whole * 1000 + fraction;
    return true;
}

const char* captureUsage() {
    return "usage: velmora-capture [--seconds N] [--fps N] --out FILE.mp4\n"
           "       velmora-capture [--seconds N] [--fps N] --frames DIR\n"
           "       velmora-capture [--fps N] [--frames DIR] --at T1,T2,...\n"
           "Renders the intro offline, picture and sound in step, without a screen.\n"
           "  --seconds N   length of the capture in seconds (default 60)\n"
           "  --fps N       frames per second, 1 to 240 (default 60)\n"
           "  --out FILE    an MP4 video with sound (needs ffmpeg)\n"
           "  --frames DIR  numbered PNG frames frame-000000.png ... and audio.wav\n"
           "  --at TIMES    only PNG screenshots at these times in seconds, into the\n"
           "                --frames folder or the current folder\n"
           "  --version     print the version\n";
}

std::string parseCaptureOptions(int argc, const char* const* argv, CaptureOptions* options) {
    *options = CaptureOptions{};
    bool secondsGiven = false, fpsGiven = false, atGiven = false;
    bool outGiven = false, framesGiven = false;
    for (int i = 0; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        if (name == "--help" || name == "-h") {
            options->help = true;
            return "";
        }
        if (name == "--version") {
            options->version = true;
            return "";
        }
        if (name.rfind("--", 0) != 0) return "unexpected argument '" + name + "'";
        const size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        const bool known = name == "--seconds" || name == "--fps" || name == "--out" ||
                           name == "--frames" || name == "--at";
        if (!known) return "unknown option '" + name + "'";
        if (!hasValue) {
            // "--frames --fps 30" lacks the folder rather than naming one "--fps".
            if (i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0)
                return name + " needs a value";
            value = argv[++i];
        }
        if (name == "--seconds") {
            if (secondsGiven) return "--seconds is given twice";
            secondsGiven = true;
            if (!parseSeconds(value.c_str(), &options->lengthMs) || options->lengthMs == 0)
                return "--seconds needs a length above 0 and at most 3600 seconds, not '" + value +
                       "'";
        } else if (name == "--fps") {
            if (fpsGiven) return "--fps is given twice";
            fpsGiven = true;
            int64_t fps = 0;
            if (!parseWhole(value.c_str(), lowestFps, highestFps, &fps))
                return "--fps needs a whole number from 1 to 240, not '" + value + "'";
            options->fps = static_cast<int32_t>(fps);
        } else if (name == "--out") {
            if (outGiven) return "--out is given twice";
            outGiven = true;
            if (!endsWithMp4(value)) return "--out needs a file name ending in .mp4";
            options->videoPath = value;
        } else if (name == "--frames") {
            if (framesGiven) return "--frames is given twice";
            framesGiven = true;
            if (value.empty()) return "--frames needs a folder name";
            options->folder = value;
        } else { // --at
            if (atGiven) return "--at is given twice";
            atGiven = true;
            size_t start = 0;
            for (;;) {
                const size_t comma = value.find(',', start);
                const std::string item = value.substr(start, comma - start);
                int64_t ms = 0;
                if (!parseSeconds(item.c_str(), &ms))
                    return "--at needs times in seconds (0 to 3600, at most three "
                           "decimals) separated by commas, not '" +
                           value + "'";
                options->shotTimes.push_back(ms);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
            std::sort(options->shotTimes.begin(), options->shotTimes.end());
            options->shotTimes.erase(
                std::unique(options->shotTimes.begin(), options->shotTimes.end()),
                options->shotTimes.end());
        }
    }

    if (outGiven && (framesGiven || atGiven))
        return "--out writes a video; it cannot be combined with --frames or --at";
    if (atGiven && secondsGiven) return "--at sets the length itself; leave out --seconds";
    if (outGiven) {
        options->mode = CaptureMode::video;
    } else if (atGiven) {
        options->mode = CaptureMode::shots;
        // assign rather than = ".": GCC 12 warns falsely (-Wrestrict) about the latter.
        if (!framesGiven) options->folder.assign(1, '.');
    } else if (framesGiven) {
        options->mode = CaptureMode::frames;
    } else {
        return "nothing to write: give --out FILE.mp4, --frames DIR or --at TIMES";
    }
    return "";
}

// ---- Timing ----

int64_t captureFrameCount(int64_t milliseconds, int32_t fps) {
    const int64_t frames = (milliseconds * fps + 500) / 1000;
    return frames < 1 ? 1 : frames;
}

int64_t frameAtTime(int64_t milliseconds, int32_t fps) {
    return (milliseconds * fps + 500) / 1000;
}

int64_t soundPosition(int64_t frame, int32_t fps) {
    return frame * captureSampleRate / fps;
}

int64_t shotsFrameCount(const std::vector<int64_t>& shotTimes, int32_t fps) {
    int64_t last = 0;
    for (int64_t ms : shotTimes)
        last = std::max(last, frameAtTime(ms, fps));
    return last + 1;
}

std::string frameFileName(int64_t frame) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(frame));
    return name;
}
