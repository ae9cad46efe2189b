// The header of an MPEG audio frame, read without decoding.
#pragma once

#include <cstddef>
#include <cstdint>

struct Mp3FrameHeader {
    uint32_t sampleRate = 0;
    int channels = 0;
};

// Longest frame there is: MPEG 2.5 Layer II at 160 kbit/s and 8 kHz, padded.
constexpr size_t kMp3MaxFrameBytes = 2881;

// The frame header at data (4 bytes): a sync word with a valid version,
// layer, bit rate and sample rate.
bool IsMp3FrameHeader(const uint8_t* data);

// Length in bytes of the frame whose valid header is at data; 0 for free
// format, whose length only the next header tells.
size_t Mp3FrameBytes(const uint8_t* data);

// Where a stream of frames starts in data: the first valid header followed,
// at its frame's length, by a header of the same version, layer and sample
// rate. Junk before a sound's first frame can hold a lone header-like
// pattern; two in a row at the right distance are a stream. size when there
// is no such pair (a single frame, free format, no stream at all).
size_t FindMp3StreamStart(const uint8_t* data, size_t size);

// The first frame header within the first limit bytes of data, the start of
// a stream (above) preferred over a header standing alone. False when none.
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
