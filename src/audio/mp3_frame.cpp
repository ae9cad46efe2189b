#include "audio/mp3_frame.h"

#include <algorithm>

namespace {

// Fields of the four header bytes.
int Version(const uint8_t* p)  // 0: MPEG 2.5, 1: reserved, 2: MPEG 2, 3: MPEG 1
{
    return (p[1] >> 3) & 3;
}

int Layer(const uint8_t* p)  // 1: Layer III, 2: Layer II, 3: Layer I
{
    return (p[1] >> 1) & 3;
}

int BitrateIndex(const uint8_t* p)
{
    return p[2] >> 4;
}

int RateIndex(const uint8_t* p)
{
    return (p[2] >> 2) & 3;
}

uint32_t SampleRate(const uint8_t* p)
{
    static constexpr uint32_t kRates[3] = {44100, 48000, 32000};
    const int version = Version(p);
    return kRates[RateIndex(p)] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
}

// Sync, version, layer and sample rate: what stays the same from frame to
// frame of one stream (channels and bit rate may change).
bool SameStream(const uint8_t* a, const uint8_t* b)
{
    return a[0] == b[0] && (a[1] & 0xFE) == (b[1] & 0xFE) && (a[2] & 0x0C) == (b[2] & 0x0C);
}

}  // namespace

bool IsMp3FrameHeader(const uint8_t* p)
{
    return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && Version(p) != 1 && Layer(p) != 0 && BitrateIndex(p) != 15 &&
           RateIndex(p) != 3;
}

size_t Mp3FrameBytes(const uint8_t* p)
{
    // kbit/s by bit rate index; rows: MPEG 1 Layer I, II, III, then MPEG 2
    // and 2.5 Layer I, then their Layers II and III.
    static constexpr uint16_t kBitrates[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    };
    if (!IsMp3FrameHeader(p))
        return 0;
    const bool mpeg1 = Version(p) == 3;
    const int layer = 4 - Layer(p);  // 1, 2 or 3
    const int row = mpeg1 ? layer - 1 : layer == 1 ? 3 : 4;
    const size_t bitrate = size_t{kBitrates[row][BitrateIndex(p)]} * 1000;
    const size_t rate = SampleRate(p);
    const size_t padding = (p[2] >> 1) & 1;
    if (layer == 1)
        return (12 * bitrate / rate + padding) * 4;
    // MPEG 2 and 2.5 Layer III frames hold half as many samples.
    const size_t factor = layer == 3 && !mpeg1 ? 72 : 144;
    return factor * bitrate / rate + padding;
}

size_t FindMp3StreamStart(const uint8_t* data, size_t size)
{
    for (size_t i = 0; i + 4 <= size; ++i) {
        const size_t length = Mp3FrameBytes(data + i);
        if (length == 0 || length > size - i - 4)
            continue;
        const uint8_t* next = data + i + length;
        if (IsMp3FrameHeader(next) && SameStream(data + i, next))
            return i;
    }
    return size;
}

bool FindMp3FrameHeader(const uint8_t* data, size_t size, Mp3FrameHeader& header, size_t limit)
{
    const size_t end = std::min(size, limit);
    size_t at = FindMp3StreamStart(data, std::min(size, end + kMp3MaxFrameBytes + 4));
    if (at >= end) {
        at = 0;
        while (at + 4 <= end && !IsMp3FrameHeader(data + at))
            ++at;
        if (at + 4 > end)
            return false;
    }
    header.sampleRate = SampleRate(data + at);
    header.channels = (data[at + 3] >> 6) == 3 ? 1 : 2;
    return true;
}

namespace {

// The length in bytes of the frame whose header starts at p, and its samples
// per channel; 0 for no valid header (free-format frames included: their
// length is in no header).
size_t FrameLength(const uint8_t* p, uint32_t& samples)
{
    const size_t length = BitrateIndex(p) == 0 ? 0 : Mp3FrameBytes(p);
    if (length != 0)  // Layer I; Layer III of MPEG 2 and 2.5; the rest
        samples = Layer(p) == 3 ? 384 : Layer(p) == 1 && Version(p) != 3 ? 576 : 1152;
    return length;
}

}  // namespace

void CMp3FrameCounter::Add(const uint8_t* data, size_t size)
{
    // A header cut at the end of the last piece is completed from this one.
    while (m_carried > 0 && size > 0) {
        uint8_t header[4];
        std::copy(m_carry, m_carry + m_carried, header);
        const size_t from = 4 - m_carried;
        if (size < from) {
            std::copy(data, data + size, m_carry + m_carried);
            m_carried += size;
            return;
        }
        std::copy(data, data + from, header + m_carried);
        uint32_t samples = 0;
        if (const size_t length = FrameLength(header, samples)) {
            m_samples += samples;
            m_skip = length - m_carried;
            m_carried = 0;
            break;
        }
        // No header there: the carried bytes are passed over one by one.
        std::copy(m_carry + 1, m_carry + m_carried, m_carry);
        --m_carried;
    }
    size_t at = 0;
    for (;;) {
        if (m_skip > 0) {
            const uint64_t step = std::min<uint64_t>(m_skip, size - at);
            at += static_cast<size_t>(step);
            m_skip -= step;
            if (m_skip > 0)
                return;
        }
        if (size - at < 4) {
            std::copy(data + at, data + size, m_carry);
            m_carried = size - at;
            return;
        }
        uint32_t samples = 0;
        if (const size_t length = FrameLength(data + at, samples)) {
            m_samples += samples;
            m_skip = length;
        } else {
            ++at;
        }
    }
}
