#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "audio/sound_decoder.h"
#include "support/media.h"

namespace {

std::vector<uint8_t> Noise(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out)
        b = static_cast<uint8_t>(gen());
    return out;
}

std::vector<int16_t> DecodeInPieces(CodedFormat format, uint32_t rate, int channels, const std::vector<uint8_t>& data,
                                    size_t piece, uint64_t* lost)
{
    CSoundDecoder d;
    EXPECT_TRUE(d.Open(format, rate, channels));
    std::vector<int16_t> out;
    for (size_t at = 0; at < data.size(); at += piece)
        EXPECT_TRUE(d.Decode(data.data() + at, std::min(piece, data.size() - at), AppendTo(out)));
    const bool flushed = d.Flush(AppendTo(out));
    EXPECT_EQ(flushed, d.LostBytes() == 0);
    *lost = d.LostBytes();
    return out;
}

}  // namespace

TEST(SoundDecoder, OpenChecksTheFormatsLayout)
{
    struct Case {
        CodedFormat format;
        uint32_t rate;
        int channels;
        bool opens;
    } const cases[] = {
        {CodedFormat::Nellymoser, 22050, 1, true}, {CodedFormat::Nellymoser, 22050, 2, false},
        {CodedFormat::Speex, 5512, 1, true},       {CodedFormat::Speex, 16000, 2, false},
        {CodedFormat::ALaw, 8000, 2, true},        {CodedFormat::MuLaw, 8000, 3, false},
        {CodedFormat::ALaw, 0, 1, false},          {CodedFormat::Nellymoser, 8000, 0, false},
    };
    for (const Case& c : cases) {
        CSoundDecoder d;
        if (!CSoundDecoder::Available(c.format)) {
            EXPECT_FALSE(d.Open(c.format, c.rate, c.channels));
            continue;
        }
        EXPECT_EQ(d.Open(c.format, c.rate, c.channels), c.opens) << static_cast<int>(c.format) << " " << c.channels;
        std::vector<int16_t> out;
        const uint8_t byte = 0;
        EXPECT_EQ(d.Decode(&byte, 0, AppendTo(out)), c.opens);  // nothing open: refused
    }
    CSoundDecoder speex;
    if (speex.Open(CodedFormat::Speex, 5512, 1)) {
        EXPECT_EQ(speex.SampleRate(), 16000u);  // wideband whatever the tag says
    }
}

TEST(SoundDecoder, G711CodesBecomeSixteenBitSamples)
{
    if (!CSoundDecoder::Available(CodedFormat::ALaw) || !CSoundDecoder::Available(CodedFormat::MuLaw))
        GTEST_SKIP() << "no G.711 decoders";
    // Stereo, interleaved: each law's smallest and largest codes of both signs.
    const std::vector<uint8_t> alaw = {0xD5, 0x55, 0xAA, 0x2A};
    const std::vector<uint8_t> mulaw = {0xFF, 0x7F, 0x80, 0x00};
    uint64_t lost = 0;
    EXPECT_EQ(DecodeInPieces(CodedFormat::ALaw, 8000, 2, alaw, 3, &lost), (std::vector<int16_t>{8, -8, 32256, -32256}));
    EXPECT_EQ(lost, 0u);
    EXPECT_EQ(DecodeInPieces(CodedFormat::MuLaw, 8000, 2, mulaw, 1, &lost), (std::vector<int16_t>{0, 0, 32124, -32124}));
    EXPECT_EQ(lost, 0u);
    // A stereo sound cut inside a sample: the half sample is lost, not shifted.
    EXPECT_EQ(DecodeInPieces(CodedFormat::ALaw, 8000, 2, {0xD5, 0x55, 0xAA}, 2, &lost), (std::vector<int16_t>{8, -8}));
    EXPECT_EQ(lost, 1u);
}

TEST(SoundDecoder, NellymoserBlocksSurviveAnyCutBetweenStreamBlocks)
{
    if (!CSoundDecoder::Available(CodedFormat::Nellymoser))
        GTEST_SKIP() << "no Nellymoser decoder";
    // Any 64 bytes are a block; 7 blocks and 10 bytes more.
    const auto data = Noise(64 * 7 + 10, 1);
    uint64_t lost = 0;
    const auto whole = DecodeInPieces(CodedFormat::Nellymoser, 8000, 1, data, data.size(), &lost);
    EXPECT_EQ(whole.size(), 7u * 256);
    EXPECT_EQ(lost, 10u);
    for (size_t piece : {1, 63, 64, 100}) {
        EXPECT_EQ(DecodeInPieces(CodedFormat::Nellymoser, 8000, 1, data, piece, &lost), whole) << piece;
        EXPECT_EQ(lost, 10u);
    }
}

TEST(SoundDecoder, DamagedSpeexIsBounded)
{
    if (!CSoundDecoder::Available(CodedFormat::Speex))
        GTEST_SKIP() << "no Speex decoder";
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const auto data = Noise(50 + seed * 37, seed);
        CSoundDecoder d;
        ASSERT_TRUE(d.Open(CodedFormat::Speex, 16000, 1));
        std::vector<int16_t> out;
        const bool ok = d.Decode(data.data(), data.size(), AppendTo(out));
        d.Flush(AppendTo(out));
        EXPECT_EQ(ok, d.LostBytes() == 0);
        EXPECT_LE(d.LostBytes(), data.size());
        EXPECT_LE(out.size(), 512 * data.size());
        EXPECT_EQ(out.size() % 320, 0u);  // whole frames only
    }
}
