#include "support/media.h"

#include <cstring>
#include <stdexcept>

#include "audio/conversions.h"
#include "audio/wave_format.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"

namespace {

std::string Wave(const void* samples, size_t bytes, uint16_t bits, bool stereo, uint32_t rate)
{
    const auto header = MakeWaveHeader(stereo ? 2 : 1, bits, rate);
    std::string out(header.begin(), header.end());
    out.append(static_cast<const char*>(samples), bytes);
    const uint32_t riff = static_cast<uint32_t>(out.size() - 8);
    const uint32_t data = static_cast<uint32_t>(out.size() - 44);
    std::memcpy(&out[4], &riff, 4);
    std::memcpy(&out[40], &data, 4);
    return out;
}

}  // namespace

std::string WaveBytes(const std::vector<int16_t>& interleaved, bool stereo, uint32_t rate)
{
    return Wave(interleaved.data(), interleaved.size() * 2, 16, stereo, rate);
}

std::string WaveBytes8(const std::vector<uint8_t>& interleaved, bool stereo, uint32_t rate)
{
    return Wave(interleaved.data(), interleaved.size(), 8, stereo, rate);
}

std::string Mp3Bytes(const std::vector<int16_t>& interleaved, bool stereo, uint32_t rate)
{
    TempDir dir;
    WriteFileBytes(dir / "in.wav", WaveBytes(interleaved, stereo, rate));
    if (!ConvertWavToMp3(dir / "in.wav", dir / "out.mp3", nullptr, nullptr))
        throw std::runtime_error("test MP3 could not be encoded");
    return ReadFileBytes(dir / "out.mp3");
}

std::string Mp3SoundMovie(const std::string& mp3, int rateIndex, bool stereo, uint32_t samples)
{
    return SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 2, rateIndex, true, stereo, samples, U16(0) + mp3)).End().Build();
}
