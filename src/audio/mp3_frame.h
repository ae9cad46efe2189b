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

// Counts the sample frames MPEG audio data decode to by walking their frame
// headers, fed in pieces as they come (a frame may span two). Bytes that are
// no frame are passed over until the next header.
class CMp3FrameCounter {
public:
    void Add(const uint8_t* data, size_t size);
    uint64_t Samples() const { return m_samples; }

private:
    uint64_t m_samples = 0;
    uint64_t m_skip = 0;     // bytes of the current frame still to come
    uint8_t m_carry[3] = {};  // the start of a header cut at the end of a piece
    size_t m_carried = 0;
};
