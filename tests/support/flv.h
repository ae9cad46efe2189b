// Reads the audio packets of FLV files that ffmpeg writes for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FlvAudioPacket {
    uint8_t header = 0;  // format, rate, size and type bits
    std::string data;    // the codec's bytes after that header
};

// Every audio tag (type 8) of the file in order; throws on a malformed file.
std::vector<FlvAudioPacket> ReadFlvAudio(const std::string& flv);
