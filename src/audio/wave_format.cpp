#include "audio/wave_format.h"

#include <cstring>

namespace {

void PutU16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::array<uint8_t, kWaveHeaderSize> MakeWaveHeader(uint16_t channels, uint16_t bits, uint32_t rate)
{
    std::array<uint8_t, kWaveHeaderSize> h{};
    std::memcpy(&h[0], "RIFF", 4);
    PutU32(&h[4], 4);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    PutU32(&h[16], 16);
    PutU16(&h[20], 1);
    PutU16(&h[22], channels);
    PutU32(&h[24], rate);
    PutU32(&h[28], (static_cast<uint32_t>(channels) * bits * rate) >> 3);
    PutU16(&h[32], static_cast<uint16_t>((channels * bits) / 8));
    PutU16(&h[34], bits);
    std::memcpy(&h[36], "data", 4);
    PutU32(&h[40], 4);
    return h;
}

bool PatchWaveLengths(platform::File& file)
{
    const int64_t length = file.Size();
    if (length < static_cast<int64_t>(kWaveHeaderSize))
        return false;
    uint8_t riff[4];
    uint8_t data[4];
    PutU32(riff, static_cast<uint32_t>(length - 8));
    PutU32(data, static_cast<uint32_t>(length - 44));
    return file.Seek(4) && file.Write(riff, 4) && file.Seek(40) && file.Write(data, 4);
}
