#include "audio/mp3_frame.h"

#include <algorithm>

bool FindMp3FrameHeader(const uint8_t* data, size_t size, Mp3FrameHeader& header, size_t limit)
{
    static constexpr uint32_t kRates[3] = {44100, 48000, 32000};
    const size_t end = std::min(size, limit);
    for (size_t i = 0; i + 4 <= end; ++i) {
        const uint8_t* p = data + i;
        if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
            continue;
        const int version = (p[1] >> 3) & 3;  // 0: MPEG 2.5, 2: MPEG 2, 3: MPEG 1
        const int layer = (p[1] >> 1) & 3;
        const int bitrate = p[2] >> 4;
        const int rate = (p[2] >> 2) & 3;
        if (version == 1 || layer == 0 || bitrate == 15 || rate == 3)
            continue;
        header.sampleRate = kRates[rate] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
        header.channels = (p[3] >> 6) == 3 ? 1 : 2;
        return true;
    }
    return false;
}
