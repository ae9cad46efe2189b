// Every kind of sound, converted both ways, checked by ffprobe against its record.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>

#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"
#include "swf/swf_movie.h"

namespace {

struct Probe {
    int channels = 0;
    int rate = 0;
    double seconds = 0;
};

Probe ProbeFile(const std::string& path)
{
    const std::string cmd = "ffprobe -v error -select_streams a:0 -count_packets -show_entries "
                            "stream=channels,sample_rate:format=duration -of default=noprint_wrappers=1 " +
                            ShellQuote(path);
    Probe p;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe)
        return p;
    std::array<char, 256> line{};
    while (std::fgets(line.data(), line.size(), pipe)) {
        std::sscanf(line.data(), "channels=%d", &p.channels);
        std::sscanf(line.data(), "sample_rate=%d", &p.rate);
        std::sscanf(line.data(), "duration=%lf", &p.seconds);
    }
    ::pclose(pipe);
    return p;
}


void ExpectProbeMatchesRecord(const CSoundElement& s)
{
    SCOPED_TRACE(s.path);
    const Probe p = ProbeFile(s.path);
    EXPECT_EQ(p.channels, s.channels);
    EXPECT_EQ(static_cast<uint32_t>(p.rate), s.sampleRate);
    const double expected = static_cast<double>(s.sampleCount) / s.sampleRate;
    // An MP3 stream carries up to two frames of encoder delay and padding.
    const double slack = s.isMp3 ? 2.0 * 1152 / s.sampleRate + 0.01 : 0.01;
    EXPECT_NEAR(p.seconds, expected, slack);
}

}  // namespace

TEST(OracleJob, PcmAndAdpcmSoundsBecomeMp3Files)
{
    if (!HaveTool("ffprobe"))
        GTEST_SKIP() << "ffprobe not installed";
    TempDir dir;
    int n = 0;
    for (int format : {3, 1}) {
        for (int rateIndex = 0; rateIndex < 4; ++rateIndex) {
            for (bool is16 : {false, true}) {
                for (bool stereo : {false, true}) {
                    const uint32_t frames = SampleRateOfIndex(rateIndex);  // one second
                    const auto tone = TestTone(frames, stereo, static_cast<int>(frames), 8000);
                    std::string data;
                    if (format == 1) {
                        data = EncodeAdpcm(tone, stereo, 4).bytes;
                    } else if (is16) {
                        data.assign(reinterpret_cast<const char*>(tone.data()), tone.size() * 2);
                    } else {
                        for (int16_t v : tone)
                            data.push_back(static_cast<char>(128 + v / 256));
                    }
                    const std::string path = dir / ("m" + std::to_string(n++) + ".swf");
                    SwfBuilder().Tag(kTagDefineSound, DefineSound(1, format, rateIndex, is16, stereo, frames, data))
                        .End()
                        .WriteTo(path);
                    CSwfMovie movie;
                    ASSERT_TRUE(movie.Run(path, OutputType::Mp3));
                    ASSERT_EQ(movie.Sounds().size(), 1u);
                    const CSoundElement& s = movie.Sounds().front();
                    EXPECT_EQ(s.isMp3, 1u) << path;
                    EXPECT_EQ(s.sampleCount, s.sampleRate);  // one second at the MP3's own rate
                    ExpectProbeMatchesRecord(s);
                }
            }
        }
    }
}

TEST(OracleJob, Mp3SoundsBecomeWavFiles)
{
    if (!HaveTool("ffprobe"))
        GTEST_SKIP() << "ffprobe not installed";
    TempDir dir;
    int n = 0;
    for (int rateIndex = 1; rateIndex < 4; ++rateIndex) {
        for (bool stereo : {false, true}) {
            const uint32_t frames = SampleRateOfIndex(rateIndex);
            const std::string mp3 = Mp3Bytes(TestTone(frames, stereo, static_cast<int>(frames)), stereo, frames);
            const std::string path = dir / ("w" + std::to_string(n++) + ".swf");
            WriteFileBytes(path, Mp3SoundMovie(mp3, rateIndex, stereo, frames));
            CSwfMovie movie;
            ASSERT_TRUE(movie.Run(path, OutputType::Wav));
            ASSERT_EQ(movie.Sounds().size(), 1u);
            const CSoundElement& s = movie.Sounds().front();
            EXPECT_EQ(s.isMp3, 0u);
            EXPECT_EQ(s.bits, 16);
            const Probe p = ProbeFile(s.path);
            EXPECT_EQ(p.channels, s.channels);
            EXPECT_EQ(static_cast<uint32_t>(p.rate), s.sampleRate);
            // The decoded file holds whole frames, the encoder's delay included.
            EXPECT_NEAR(p.seconds, static_cast<double>(frames) / s.sampleRate, 3.0 * 1152 / s.sampleRate);
        }
    }
}
