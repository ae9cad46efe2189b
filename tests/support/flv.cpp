#include "support/flv.h"

#include <stdexcept>

namespace {

uint32_t BigEndian(const std::string& s, size_t at, int n)
{
    if (at + static_cast<size_t>(n) > s.size())
        throw std::runtime_error("FLV cut short");
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
    return v;
}

}  // namespace

std::vector<FlvAudioPacket> ReadFlvAudio(const std::string& flv)
{
    if (flv.compare(0, 3, "FLV") != 0)
        throw std::runtime_error("not an FLV file");
    std::vector<FlvAudioPacket> packets;
    // The header's own length, then the first PreviousTagSize.
    size_t at = BigEndian(flv, 5, 4) + 4;
    while (at < flv.size()) {
        const uint32_t type = BigEndian(flv, at, 1) & 0x1F;
        const uint32_t size = BigEndian(flv, at + 1, 3);
        const size_t data = at + 11;
        if (data + size + 4 > flv.size())
            throw std::runtime_error("FLV tag cut short");
        if (type == 8 && size >= 1)
            packets.push_back({static_cast<uint8_t>(flv[data]), flv.substr(data + 1, size - 1)});
        at = data + size + 4;
    }
    return packets;
}
