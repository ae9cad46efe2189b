// Audio files for tests, made in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A complete 44-byte-header PCM WAV file.
std::string WaveBytes(const std::vector<int16_t>& interleaved, bool stereo, uint32_t rate);
std::string WaveBytes8(const std::vector<uint8_t>& interleaved, bool stereo, uint32_t rate);
// MP3 frames encoded from the samples with the program's own encoder.
std::string Mp3Bytes(const std::vector<int16_t>& interleaved, bool stereo, uint32_t rate);
// A movie holding exactly one DefineSound of MP3 frames (with its seek field).
std::string Mp3SoundMovie(const std::string& mp3, int rateIndex, bool stereo, uint32_t samples);
