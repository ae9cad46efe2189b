// FLAC files read back by libFLAC's own decoder, for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A FLAC file as libFLAC's own decoder reads it, the MD5 of the samples checked.
struct Decoded {
    bool ok = false;
    unsigned channels = 0, bits = 0, rate = 0;
    uint64_t streamFrames = 0;    // as the header tells
    std::vector<int32_t> samples;  // interleaved
};

Decoded DecodeFlac(const std::string& path);
