// Audio files for tests, made in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A complete 44-byte-header PCM WAV file.
std::string WaveBytes(const std::vector<int16_t>& interleaved, bool stereo, uint32_t rate);
std::string WaveBytes8(const std::vector<uint8_t>& interleaved, bool stereo, uint32_t rate);
// A WAV file as read back, by walking its chunks (so the list chunk other
// tools write is no obstacle). For a file of the program's own 44-byte
// layout, ownLayout also checks that its length fields tell its real size.
struct WaveContents {
    uint16_t channels = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
    uint32_t rate = 0;
    std::string data;                  // the data chunk
    std::vector<int16_t> left, right;  // 16-bit files: the samples per channel
};
WaveContents ReadWave(const std::string& path, bool ownLayout = true);

// A sink for decoded samples that appends them to v.
inline auto AppendTo(std::vector<int16_t>& v)
{
    return [&v](const int16_t* samples, size_t count) {
        v.insert(v.end(), samples, samples + count);
        return true;
    };
}

// MP3 frames encoded from the samples with the program's own encoder.
std::string Mp3Bytes(const std::vector<int16_t>& interleaved, bool stereo, uint32_t rate);
// A movie holding exactly one DefineSound of MP3 frames (with its seek field).
std::string Mp3SoundMovie(const std::string& mp3, int rateIndex, bool stereo, uint32_t samples);
