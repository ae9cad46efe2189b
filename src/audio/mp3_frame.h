// The header of an MPEG audio frame, read without decoding.
#pragma once

#include <cstddef>
#include <cstdint>

struct Mp3FrameHeader {
    uint32_t sampleRate = 0;
    int channels = 0;
};

// The first frame header within the first limit bytes of data: a sync word
// with a valid version, layer, bit rate and sample rate. False when none.
bool FindMp3FrameHeader(const uint8_t* data, size_t size, Mp3FrameHeader& header, size_t limit = 4096);
