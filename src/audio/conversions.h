// Whole-file conversions between WAV, MP3 and FLAC. None touches its input,
// and none ever replaces an existing output: the output is created new.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/mp3_decoder.h"

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
// channels and rate (may be null) receive the WAV file's layout.
bool ConvertMp3ToWav(platform::File in, platform::PendingFile& out, uint64_t* frames, uint16_t* channels = nullptr,
                     uint32_t* rate = nullptr);

// Hands every frame an open decoder yields to sink as two planes, the
// right a copy of the left for a mono frame in a stereo stream (mono
// streams: right is not to be read). False on a decoder error or when sink
// refuses.
using Mp3FrameSink = std::function<bool(const int16_t* left, const int16_t* right, size_t count)>;
bool DecodeMp3Frames(CMp3Decoder& decoder, const Mp3FrameSink& sink);
// One frame of it: count samples in left and right (kMp3MaxFrameSamples
// each), end set after the last. False on a decoder error.
bool NextMp3Frame(CMp3Decoder& decoder, int16_t* left, int16_t* right, size_t& count, bool& end);

// What MP3 data decode to, as ConvertMp3ToWav would write them, without
// writing: false where the conversion would fail.
struct Mp3Decoded {
    uint64_t frames = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
};
bool MeasureMp3(std::vector<Mp3Piece> pieces, Mp3Decoded& decoded);

// The rate the MP3 encoder writes a sound of this rate and channel count at.
uint32_t Mp3EncodedRate(uint32_t rate, int channels);

// Encodes a PCM WAV file (8 or 16 bits, mono or stereo) to FLAC holding the
// very same samples at the same width, rate and channels. wavInput is open for
// reading; flacOutput is new and empty, and stays the caller's to move into
// place or discard: on false it holds no usable stream. On success frames
// (may be null) receives the sample frames written.
bool ConvertWavToFlac(platform::File&& wavInput, platform::PendingFile& flacOutput, uint32_t* frames);
// The same between paths; on failure no FLAC file is left behind.
bool ConvertWavToFlac(const std::string& wavPath, const std::string& flacPath, uint32_t* frames);
