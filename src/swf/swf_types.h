// The records the rest of the program receives from a movie.
#pragma once

#include <cstdint>
#include <string>

// One catalogued sound and the file that holds it.
struct CSoundElement {
    uint16_t channels = 0;     // 1 or 2
    uint16_t bits = 0;         // 8 or 16
    uint32_t sampleRate = 0;   // Hz
    uint32_t sampleCount = 0;  // sample frames
    uint32_t isMp3 = 0;        // 1: the file is MP3, 0: WAV
    std::string path;
    bool cut = false;          // the file holds only the start: WAV files end at 4 GiB
    uint8_t format = 0;        // the movie's sound format (see SoundFormatName)
};

struct SwfHeaderInfo {
    int32_t width = 0;      // pixels
    int32_t height = 0;     // pixels
    int32_t frameRate = 0;  // whole frames per second
    int32_t frameCount = 0;
    uint16_t version = 0;
};

// The sample rate a sound header's two rate bits stand for.
constexpr uint32_t SampleRateOfIndex(int rateIndex)
{
    constexpr uint32_t kRates[4] = {5512, 11025, 22050, 44100};
    return kRates[rateIndex & 3];
}

// The sound formats of SWF sound headers, by name: "PCM" (0 and 3, native and
// little-endian), "ADPCM", "MP3", "Nellymoser" (4 to 6), "A-law", "µ-law",
// "Speex", or "" for a format no movie tool writes.
const char* SoundFormatName(int format);
