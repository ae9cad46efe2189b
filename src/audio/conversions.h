// Whole-file conversions between WAV, MP3 and FLAC. None touches its input,
// and none ever replaces an existing output: the output is created new.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"
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

// Encodes a PCM WAV file (8 or 16 bits, mono or stereo) to FLAC holding the
// very same samples at the same width, rate and channels. wavInput is open for
// reading; flacOutput is new and empty, and stays the caller's to move into
// place or discard: on false it holds no usable stream. On success frames
// (may be null) receives the sample frames written.
bool ConvertWavToFlac(platform::File&& wavInput, platform::PendingFile& flacOutput, uint32_t* frames);
// The same between paths; on failure no FLAC file is left behind.
bool ConvertWavToFlac(const std::string& wavPath, const std::string& flacPath, uint32_t* frames);
