// Checks extraction against ffmpeg, where it is installed.
#include <gtest/gtest.h>

#include <cstring>

#include "support/media.h"
#include "support/swf_builder.h"
#include "platform/file.h"
#include "support/temp_dir.h"
#include "support/tools.h"
#include "swf/swf_movie.h"

namespace {

uint32_t Be(const std::string& s, size_t at, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | static_cast<uint8_t>(s[at + i]);
    return v;
}

// The payloads of an FLV file's audio tags, without their one-byte header.
std::vector<std::string> FlvAudioPackets(const std::string& flv)
{
    std::vector<std::string> packets;
    size_t at = Be(flv, 5, 4) + 4;
    while (at + 11 <= flv.size()) {
        const uint32_t type = static_cast<uint8_t>(flv[at]);
        const uint32_t size = Be(flv, at + 1, 3);
        if (at + 11 + size > flv.size())
            break;
        if (type == 8 && size > 1)
            packets.push_back(flv.substr(at + 12, size - 1));
        at += 11 + size + 4;
    }
    return packets;
}

// An independent walk of the top-level tags: the MP3 frames of every stream block.
std::string StreamFrames(const std::string& swf)
{
    std::string frames;
    size_t at = 8;
    const int nbits = static_cast<uint8_t>(swf[at]) >> 3;
    at += (5 + 4 * nbits + 7) / 8 + 4;
    while (at + 2 <= swf.size()) {
        const uint32_t header = static_cast<uint8_t>(swf[at]) | static_cast<uint8_t>(swf[at + 1]) << 8;
        at += 2;
        uint32_t length = header & 0x3F;
        if (length == 0x3F) {
            std::memcpy(&length, &swf[at], 4);
            at += 4;
        }
        if ((header >> 6) == kTagSoundStreamBlock)
            frames += swf.substr(at + 4, length - 4);
        if ((header >> 6) == kTagEnd)
            break;
        at += length;
    }
    return frames;
}

}  // namespace

TEST(Oracle, AdpcmStreamMatchesFfmpegSampleForSample)
{
    if (!HaveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    for (bool stereo : {false, true}) {
        SCOPED_TRACE(stereo ? "stereo" : "mono");
        constexpr size_t kFrames = 4096 * 6;
        WriteFileBytes(dir / "tone.wav", WaveBytes(TestTone(kFrames, stereo, 22050, 9000), stereo, 22050));
        ASSERT_EQ(RunQuiet("ffmpeg -y -i " + ShellQuote(dir / "tone.wav") + " -c:a adpcm_swf " +
                           ShellQuote(dir / "tone.flv")), 0);
        ASSERT_EQ(RunQuiet("ffmpeg -y -i " + ShellQuote(dir / "tone.flv") + " -f s16le -c:a pcm_s16le " +
                           ShellQuote(dir / "ref.raw")), 0);
        const auto packets = FlvAudioPackets(ReadFileBytes(dir / "tone.flv"));
        ASSERT_FALSE(packets.empty());

        SwfBuilder b;
        b.Tag(kTagSoundStreamHead, StreamHead(1, 2, true, stereo, 4096));
        for (const auto& p : packets)
            b.Tag(kTagSoundStreamBlock, p);
        b.End().WriteTo(dir / "movie.swf");
        CSwfMovie movie;
        ASSERT_TRUE(movie.Extract(dir / "movie.swf"));
        ASSERT_EQ(movie.Sounds().size(), 1u);

        const std::string ours = ReadFileBytes(movie.Sounds().front().path).substr(44);
        const std::string ref = ReadFileBytes(dir / "ref.raw");
        ASSERT_EQ(ours.size(), ref.size());
        EXPECT_TRUE(ours == ref);
        platform::DeleteFile(movie.Sounds().front().path);
    }
}

TEST(Oracle, FfmpegMovieDeclaringHundredMegabytesExtractsItsFrames)
{
    if (!HaveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    WriteFileBytes(dir / "tone.wav", WaveBytes(TestTone(44100 * 3, true, 44100), true, 44100));
    ASSERT_EQ(RunQuiet("ffmpeg -y -i " + ShellQuote(dir / "tone.wav") + " -c:a libmp3lame " +
                       ShellQuote(dir / "out.swf")), 0);
    const std::string swf = ReadFileBytes(dir / "out.swf");
    ASSERT_EQ(swf.substr(0, 3), "FWS");

    CSwfMovie movie;
    ASSERT_TRUE(movie.Load(dir / "out.swf", false));
    EXPECT_LE(movie.BufferSize(), swf.size() + 16);
    ASSERT_TRUE(movie.Extract(dir / "out.swf"));
    ASSERT_EQ(movie.Sounds().size(), 1u);
    const CSoundElement& s = movie.Sounds().front();
    EXPECT_EQ(s.isMp3, 1u);
    EXPECT_EQ(ReadFileBytes(s.path), StreamFrames(swf));
    EXPECT_GT(s.sampleCount, 44100u * 3 - 1152);
}
