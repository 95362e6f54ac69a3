// Where a capture's files go and how they are written: a private staging folder
// beside the target whose contents are moved into place only when the capture is
// complete (and removed on any failure, also from an exit handler), PNG pictures
// through libpng, the WAV file, and ffmpeg as a child process that encodes the raw
// frames and then puts picture and sound together into the MP4 file.
// Main thread only. Every function that can fail returns "" on success or one line
// that says what went wrong.
#pragma once
#include "tools/capture/capture_options.h"

#include <cstdint>
#include <string>

// ---- Staging ----

// Checks, before anything is rendered, that the target can be written: the folder
// of --out (and that the file is not a folder), or the --frames / --at folder or,
// when it does not exist yet, the folder it would be made in.
std::string checkCaptureTarget(const CaptureOptions& options);

// Makes the --frames / --at folder when it is missing and a staging folder in the
// target's folder, where every output file is written first.
std::string openStaging(const CaptureOptions& options);
// A file in the staging folder.
std::string stagedPath(const std::string& name);
// The staged file that becomes the --out video.
inline constexpr const char* stagedVideoName = "capture.mp4";
// Moves the finished files into place: the frames and sound into the folder, the
// video to its name. Removes the staging folder.
std::string commitStaging(const CaptureOptions& options);
// Removes the staging folder with everything in it, stops an encoder still running,
// and removes a target folder made by openStaging. Harmless when nothing is staged
// or everything has been committed.
void abandonStaging();

// ---- Files ----

inline constexpr const char* soundFileName = "audio.wav";

// Writes a 640 x 480 RGBA picture as an 8-bit RGB PNG (the alpha is dropped).
std::string writePng(const std::string& path, const uint8_t* rgba640x480);

// The 44-byte header of a 44100 Hz 16-bit stereo WAV file of `frames` frames.
void wavHeader(uint8_t header[44], uint32_t frames);
// A WAV file written as the capture goes; the header is completed by closeWav.
std::string openWav(const std::string& path);
std::string appendWav(const int16_t* frames, int64_t count);
std::string closeWav();
// Closes without completing (after a failure elsewhere).
void discardWav();
// The largest number of sound frames one WAV file can count (its sizes are 32-bit).
inline constexpr int64_t longestWavFrames = (int64_t(0xFFFFFFFF) - 36) / 4;

// ---- ffmpeg ----

// The full path of an executable `program` found on PATH; "" when there is none.
std::string findOnPath(const char* program);

// Starts ffmpeg reading raw 640 x 480 RGBA frames at `fps` from a pipe and encoding
// them into an H.264 MP4 file at `videoPath`. ffmpeg's own messages go to `logPath`.
std::string startVideoEncoder(const std::string& ffmpeg, const std::string& videoPath, int32_t fps,
                              const std::string& logPath);
std::string sendVideoFrame(const uint8_t* rgba640x480);
// Closes the pipe and waits for ffmpeg to finish the file.
std::string finishVideoEncoder();
// Puts the encoded picture and the WAV sound (as AAC) into one MP4 file.
std::string muxVideo(const std::string& ffmpeg, const std::string& videoPath,
                     const std::string& soundPath, const std::string& outPath,
                     const std::string& logPath);
