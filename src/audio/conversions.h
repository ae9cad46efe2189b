// Whole-file conversions between WAV and MP3. Neither touches its input, and
// neither ever replaces an existing output: the output is created new.
#pragma once

#include <cstdint>
#include <string>

#include "platform/pending_file.h"

// Encodes a PCM WAV file to MP3. On success frames receives the sample frames
// read and outRate the MP3 stream's sample rate (either may be null). On
// failure no MP3 file is left behind.
bool ConvertWavToMp3(const std::string& wavPath, const std::string& mp3Path,
                     uint32_t* frames, uint32_t* outRate);

// Decodes an MP3 file to a 16-bit WAV file. A file without a frame to
// decode, a read error or any failed write fails the conversion and leaves no
// WAV file behind; damaged frames inside a stream are skipped by the library,
// which finds the next frame and decodes on.
bool ConvertMp3ToWav(const std::string& mp3Path, const std::string& wavPath);

// The same between files the caller holds: in is read from where it stands;
// out, created by the caller, holds the result on success, finished and
// still under its temporary name for the caller to move, and is discarded on
// failure. frames receives the sample frames written.
bool ConvertWavToMp3(platform::File in, platform::PendingFile& out, uint32_t* frames, uint32_t* outRate);
bool ConvertMp3ToWav(platform::File in, platform::PendingFile& out, uint64_t* frames);
