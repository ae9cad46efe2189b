// Checks the coded-sound decoder against ffmpeg decoding the same packets:
// frames made by ffmpeg's encoders into FLV, taken out of the FLV and fed to
// the decoder as a movie stores them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "audio/sound_decoder.h"
#include "platform/file.h"
#include "support/media.h"
#include "support/flv.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"
#include "swf/swf_movie.h"

namespace {

struct OracleCase {
    const char* name;
    CodedFormat format;
    const char* encoder;
    uint32_t rate;
    int channels;
    int swfFormat;     // as a movie's sound header names it
    int rateIndex;     // G.711 is made at 8 kHz, which no rate index names: its samples don't depend on it
    const char* options = "";
    int speexPad = 0;  // bits of padding at the end of each Speex packet
};

const OracleCase kCases[] = {
    {"Nellymoser 8 kHz", CodedFormat::Nellymoser, "nellymoser", 8000, 1, 5, 0},
    {"Nellymoser 16 kHz", CodedFormat::Nellymoser, "nellymoser", 16000, 1, 4, 0},
    {"Nellymoser 22050 Hz", CodedFormat::Nellymoser, "nellymoser", 22050, 1, 6, 2},
    {"Nellymoser 44100 Hz", CodedFormat::Nellymoser, "nellymoser", 44100, 1, 6, 3},
    // At quality 8 a wideband frame takes 556 bits: one frame a packet leaves
    // 4 bits of padding, two frames (as microphones write them) fill 139 bytes.
    {"Speex", CodedFormat::Speex, "libspeex", 16000, 1, 11, 3, " -cbr_quality 8", 4},
    {"Speex, two frames a packet", CodedFormat::Speex, "libspeex", 16000, 1, 11, 3,
     " -cbr_quality 8 -frames_per_packet 2", 0},
    {"A-law mono", CodedFormat::ALaw, "pcm_alaw", 8000, 1, 7, 1},
    {"A-law stereo", CodedFormat::ALaw, "pcm_alaw", 8000, 2, 7, 1},
    {"mu-law mono", CodedFormat::MuLaw, "pcm_mulaw", 8000, 1, 8, 1},
    {"mu-law stereo", CodedFormat::MuLaw, "pcm_mulaw", 8000, 2, 8, 1},
};

bool HaveEncoder(const std::string& name)
{
    return RunQuiet("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q ' " + name + " '") == 0;
}

std::vector<int16_t> RawSamples(const std::string& bytes)
{
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

// Index of the first differing sample, or -1 when equal.
long FirstDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return static_cast<long>(i);
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

// One Speex bit stream of every packet's frames, as a DefineSound holds a
// whole sound: the writer pads each packet to a byte with a 0 and then 1s;
// that padding comes off, so the frames follow each other bit to bit.
std::string JoinSpeexPackets(const std::vector<FlvAudioPacket>& packets, int pad)
{
    BitWriter w;
    for (const auto& p : packets) {
        const auto last = static_cast<uint8_t>(p.data.back());
        if (pad > 0) {
            EXPECT_EQ(last & ((1u << pad) - 1), (1u << (pad - 1)) - 1) << "not the writer's padding";
        }
        const size_t bits = p.data.size() * 8 - static_cast<size_t>(pad);
        for (size_t i = 0; i < bits; ++i)
            w.Put((static_cast<uint8_t>(p.data[i / 8]) >> (7 - i % 8)) & 1, 1);
    }
    if (w.BitCount() % 8) {
        w.Put(0, 1);
        while (w.BitCount() % 8)
            w.Put(1, 1);
    }
    return w.Bytes();
}

}  // namespace

TEST(CodecOracle, DecodesAsFfmpegDoesSampleForSample)
{
    if (!HaveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    int checked = 0;
    for (const OracleCase& c : kCases) {
        SCOPED_TRACE(c.name);
        if (!HaveEncoder(c.encoder) || !CSoundDecoder::Available(c.format))
            continue;
        // Two tones, loud enough that a wrong rounding or clamp shows; a
        // length that is not a whole number of codec frames.
        const std::string tone = c.channels == 2 ? "0.8*sin(2*PI*440*t)|0.6*sin(2*PI*1250*t)"
                                                 : "0.6*sin(2*PI*440*t)+0.35*sin(2*PI*1250*t)";
        const std::string flv = dir / "coded.flv";
        ASSERT_EQ(RunQuiet("ffmpeg -y -f lavfi -i " + ShellQuote("aevalsrc=" + tone + ":s=" + std::to_string(c.rate) +
                                                                 ":d=1.37") +
                           " -c:a " + c.encoder + c.options + " -ar " + std::to_string(c.rate) + " -ac " +
                           std::to_string(c.channels) + " " + ShellQuote(flv)),
                  0);
        ASSERT_EQ(RunQuiet("ffmpeg -y -c:a " + std::string(CSoundDecoder::DecoderName(c.format)) + " -i " + ShellQuote(flv) + " -f s16le -c:a pcm_s16le " + ShellQuote(dir / "ref.raw")),
                  0);
        const std::vector<int16_t> ref = RawSamples(ReadFileBytes(dir / "ref.raw"));
        const auto packets = ReadFlvAudio(ReadFileBytes(flv));
        ASSERT_FALSE(packets.empty());
        ASSERT_GT(ref.size(), c.rate);

        // As a DefineSound holds it: all the data in one piece.
        std::string all;
        for (const auto& p : packets)
            all += p.data;
        if (c.format == CodedFormat::Speex)
            all = JoinSpeexPackets(packets, c.speexPad);
        CSoundDecoder whole;
        ASSERT_TRUE(whole.Open(c.format, c.rate, c.channels));
        std::vector<int16_t> got;
        EXPECT_TRUE(whole.Decode(reinterpret_cast<const uint8_t*>(all.data()), all.size(), AppendTo(got)));
        EXPECT_TRUE(whole.Flush(AppendTo(got)));
        EXPECT_EQ(FirstDifference(got, ref), -1) << got.size() << " samples, ffmpeg " << ref.size();

        // As stream blocks hold it: one packet per block.
        CSoundDecoder blocks;
        ASSERT_TRUE(blocks.Open(c.format, c.rate, c.channels));
        std::vector<int16_t> streamed;
        for (const auto& p : packets)
            EXPECT_TRUE(blocks.Decode(reinterpret_cast<const uint8_t*>(p.data.data()), p.data.size(), AppendTo(streamed)));
        EXPECT_TRUE(blocks.Flush(AppendTo(streamed)));
        EXPECT_EQ(FirstDifference(streamed, ref), -1) << streamed.size() << " samples, ffmpeg " << ref.size();
        EXPECT_EQ(blocks.LostBytes(), 0u);

        // The same data in a movie, as a DefineSound and as a stream.
        const size_t frames = ref.size() / static_cast<size_t>(c.channels);
        SwfBuilder movie;
        movie.Tag(kTagDefineSound, DefineSound(1, c.swfFormat, c.rateIndex, true, c.channels == 2,
                                               static_cast<uint32_t>(frames), all))
            .Tag(kTagSoundStreamHead, StreamHead(c.swfFormat, c.rateIndex, true, c.channels == 2, 256));
        for (const auto& p : packets)
            movie.Tag(kTagSoundStreamBlock, p.data);
        movie.End();
        CSwfMovie extractor;
        ASSERT_TRUE(extractor.Extract(movie.WriteTo(dir / "coded.swf")));
        ASSERT_EQ(extractor.Sounds().size(), 2u);
        EXPECT_EQ(extractor.ExtractedCount(), 2u);
        const uint32_t rate = c.format == CodedFormat::Speex ? 16000 : c.swfFormat == 4 ? 16000 : c.swfFormat == 5 ? 8000
                                                                                     : SampleRateOfIndex(c.rateIndex);
        for (const CSoundElement& sound : extractor.Sounds()) {
            const WaveContents w = ReadWave(sound.path);
            EXPECT_EQ(w.rate, rate);
            EXPECT_EQ(w.channels, c.channels);
            EXPECT_EQ(sound.sampleCount, frames);
            EXPECT_STREQ(SoundFormatName(sound.format), SoundFormatName(c.swfFormat));
            std::vector<int16_t> interleaved;
            for (size_t i = 0; i < w.left.size(); ++i) {
                interleaved.push_back(w.left[i]);
                if (c.channels == 2)
                    interleaved.push_back(w.right[i]);
            }
            EXPECT_EQ(FirstDifference(interleaved, ref), -1) << sound.path;
            platform::DeleteFile(sound.path);
        }
        ++checked;
    }
    if (checked == 0)
        GTEST_SKIP() << "ffmpeg has none of the encoders";
}
