#include "support/media.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

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

WaveContents ReadWave(const std::string& path, bool ownLayout)
{
    WaveContents w;
    const std::string b = ReadFileBytes(path);
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) {
        ADD_FAILURE() << path << " is no WAV file";
        return w;
    }
    if (ownLayout) {
        EXPECT_EQ(b.size() >= 44 ? b.substr(36, 4) : "", "data") << path;
        EXPECT_EQ(U32At(b, 4), b.size() - 8) << path;
        EXPECT_EQ(b.size() >= 44 ? U32At(b, 40) : 0, b.size() - 44) << path;
    }
    for (size_t at = 12; at + 8 <= b.size();) {
        const std::string id = b.substr(at, 4);
        const size_t length = std::min<size_t>(U32At(b, at + 4), b.size() - at - 8);
        if (id == "fmt " && length >= 16) {
            w.channels = U16At(b, at + 10);
            w.rate = U32At(b, at + 12);
            w.blockAlign = U16At(b, at + 20);
            w.bits = U16At(b, at + 22);
        } else if (id == "data") {
            w.data = b.substr(at + 8, length);
            if (w.bits == 16 && (w.channels == 1 || w.channels == 2)) {
                for (size_t i = 0; i + 2 * w.channels <= w.data.size(); i += 2 * w.channels) {
                    w.left.push_back(static_cast<int16_t>(U16At(w.data, i)));
                    if (w.channels == 2)
                        w.right.push_back(static_cast<int16_t>(U16At(w.data, i + 2)));
                }
            }
            return w;
        }
        at += 8 + length + (length & 1);
    }
    ADD_FAILURE() << path << " has no data chunk";
    return w;
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
