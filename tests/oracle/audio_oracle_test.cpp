// Checks the conversions against tools that are not ours: the lame command
// line for encoding and ffmpeg for decoding. Skipped where a tool is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio/conversions.h"
#include "audio/wave_writer.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace {

// PCM WAV bytes of the test tone; 8-bit samples are the 16-bit ones' high
// bytes made unsigned.
std::string ToneWav(size_t frames, int channels, uint32_t rate, int bits)
{
    const std::vector<int16_t> tone = TestTone(frames, channels == 2, static_cast<int>(rate));
    std::string data;
    for (int16_t s : tone) {
        if (bits == 8) {
            data += static_cast<char>(static_cast<uint8_t>((s >> 8) + 128));
        } else {
            data += U16(static_cast<uint16_t>(s));
        }
    }
    const auto blockAlign = static_cast<uint16_t>(channels * bits / 8);
    return "RIFF" + U32(static_cast<uint32_t>(36 + data.size())) + "WAVEfmt " + U32(16) + U16(1) +
           U16(static_cast<uint16_t>(channels)) + U32(rate) + U32(rate * blockAlign) + U16(blockAlign) +
           U16(static_cast<uint16_t>(bits)) + "data" + U32(static_cast<uint32_t>(data.size())) + data;
}

// Best normalised correlation of the start of a against b shifted by up to
// maxLag samples. A few seconds' start is plenty and keeps sanitizer builds quick.
double BestCorrelation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int maxLag, int* bestLag)
{
    double best = -1;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double ab = 0, aa = 0, bb = 0;
        for (size_t i = 0; i < std::min<size_t>(a.size(), 16384); ++i) {
            const long j = static_cast<long>(i) + lag;
            if (j < 0 || j >= static_cast<long>(b.size()))
                continue;
            ab += static_cast<double>(a[i]) * b[static_cast<size_t>(j)];
            aa += static_cast<double>(a[i]) * a[i];
            bb += static_cast<double>(b[static_cast<size_t>(j)]) * b[static_cast<size_t>(j)];
        }
        const double c = aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
        if (c > best) {
            best = c;
            *bestLag = lag;
        }
    }
    return best;
}

struct Format {
    int channels;
    uint32_t rate;
    int bits;
};

std::string Name(const Format& f)
{
    return std::to_string(f.rate) + "_" + std::to_string(f.channels) + "ch_" + std::to_string(f.bits) + "bit";
}

const Format kFormats[] = {
    {1, 5512, 8},   {2, 5512, 8},   {1, 5512, 16},  {2, 11025, 16}, {1, 11025, 8},
    {1, 22050, 16}, {2, 22050, 16}, {2, 22050, 8},  {1, 44100, 16}, {2, 44100, 16},
};

}  // namespace

// The library's defaults are what the lame front end uses for a plain
// "lame in.wav out.mp3" (CBR 128 kbit/s at 44.1 kHz, the same lowpass and
// resampling), except that the front end puts a Xing/Info frame first; -t
// leaves it out. Nothing else is needed: the front end writes no ID3 tag
// unless asked, picks mono mode for a mono WAV itself, and widens 8-bit
// samples exactly as (b - 128) * 256. ReplayGain analysis only feeds the
// Info frame, so --noreplaygain changes no byte once -t is given.
TEST(LameOracle, EncodingMatchesTheLameFrontEndByteForByte)
{
    if (!HaveTool("lame"))
        GTEST_SKIP() << "lame is not installed";
    TempDir dir;
    for (const Format& f : kFormats) {
        const std::string name = Name(f);
        const std::string wav = dir / (name + ".wav");
        WriteFileBytes(wav, ToneWav(f.rate * 13 / 10, f.channels, f.rate, f.bits));
        uint32_t frames = 0;
        uint32_t outRate = 0;
        ASSERT_TRUE(ConvertWavToMp3(wav, dir / (name + ".mp3"), &frames, &outRate)) << name;
        EXPECT_EQ(frames, f.rate * 13 / 10) << name;
        ASSERT_EQ(RunQuiet("lame --quiet -t " + ShellQuote(wav) + " " + ShellQuote(dir / (name + ".lame.mp3"))), 0)
            << name;
        const std::string ours = ReadFileBytes(dir / (name + ".mp3"));
        const std::string theirs = ReadFileBytes(dir / (name + ".lame.mp3"));
        ASSERT_FALSE(ours.empty()) << name;
        EXPECT_TRUE(ours == theirs) << name << ": " << ours.size() << " bytes against " << theirs.size();
    }
}

// ffmpeg removes no encoder delay from a file without an Info frame, so both
// decoders see the same frames; they differ only in rounding.
TEST(FfmpegOracle, DecodingMatchesFfmpeg)
{
    if (!HaveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    for (const Format& f : kFormats) {
        if (f.bits == 8)
            continue;  // the encoder's input width is no concern of the decoder
        const std::string name = Name(f);
        const std::string wav = dir / (name + ".wav");
        const std::string mp3 = dir / (name + ".mp3");
        WriteFileBytes(wav, ToneWav(f.rate * 2, f.channels, f.rate, f.bits));
        uint32_t outRate = 0;
        ASSERT_TRUE(ConvertWavToMp3(wav, mp3, nullptr, &outRate)) << name;

        const std::string ours = dir / (name + ".ours.wav");
        const std::string theirs = dir / (name + ".ffmpeg.wav");
        ASSERT_TRUE(ConvertMp3ToWav(mp3, ours)) << name;
        ASSERT_EQ(RunQuiet("ffmpeg -nostdin -v error -i " + ShellQuote(mp3) + " -f wav " + ShellQuote(theirs)), 0)
            << name;
        const WaveContents a = ReadWave(ours);
        const WaveContents b = ReadWave(theirs, false);
        EXPECT_EQ(a.channels, f.channels) << name;
        EXPECT_EQ(b.channels, f.channels) << name;
        EXPECT_EQ(a.rate, outRate) << name;
        EXPECT_EQ(b.rate, outRate) << name;
        EXPECT_LE(std::abs(static_cast<long>(a.left.size()) - static_cast<long>(b.left.size())), 1152) << name;
        int lag = 0;
        const double c = BestCorrelation(a.left, b.left, 1152, &lag);
        EXPECT_GT(c, 0.99) << name << " at lag " << lag;
        RecordProperty(name + "_frames", std::to_string(a.left.size()) + "/" + std::to_string(b.left.size()));
        RecordProperty(name + "_lag", lag);
        RecordProperty(name + "_correlation", std::to_string(c));
    }
}
