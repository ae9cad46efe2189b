#include "audio/resampler.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CResampler Make(int32_t inRate, int32_t outRate, int32_t inCh = 1, int32_t outCh = 1, int32_t inBits = 16,
                int32_t outBits = 16)
{
    CResampler r;
    r.inRate = inRate;
    r.outRate = outRate;
    r.inChannels = inCh;
    r.outChannels = outCh;
    r.inBits = inBits;
    r.outBits = outBits;
    EXPECT_TRUE(r.Prepare());
    return r;
}

std::vector<int16_t> Run16(CResampler& r, const std::vector<int16_t>& in)
{
    std::vector<int16_t> out(r.MaxOutputFrames(in.size()), 0x7777);
    size_t n = 0;
    EXPECT_TRUE(r.Convert(in.data(), nullptr, in.size(), out.data(), nullptr, n));
    out.resize(n);
    return out;
}

}  // namespace

TEST(Resampler, WidensEightBitAtEqualRates)
{
    CResampler r = Make(5512, 5512, 2, 2, 8, 16);
    const uint8_t left[3] = {0, 128, 255};
    const uint8_t right[3] = {255, 0, 128};
    int16_t l[3] = {};
    int16_t rr[3] = {};
    size_t n = 0;
    ASSERT_TRUE(r.Convert(left, right, 3, l, rr, n));
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(l[0], -32768);
    EXPECT_EQ(l[1], 0);
    EXPECT_EQ(l[2], 32512);
    EXPECT_EQ(rr[0], 32512);
    EXPECT_EQ(rr[1], -32768);
    EXPECT_EQ(rr[2], 0);
}

TEST(Resampler, NarrowsSixteenBitTruncatingTowardZero)
{
    CResampler r = Make(8000, 8000, 1, 1, 16, 8);
    const int16_t in[6] = {-32768, -1, 0, 255, 256, 32767};
    uint8_t out[6] = {};
    size_t n = 0;
    ASSERT_TRUE(r.Convert(in, nullptr, 6, out, nullptr, n));
    ASSERT_EQ(n, 6u);
    const uint8_t expected[6] = {0, 128, 128, 128, 129, 255};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(out[i], expected[i]) << i;
}

TEST(Resampler, EqualFormatsCopy)
{
    CResampler r = Make(44100, 44100, 2, 2);
    const int16_t l[4] = {1, -2, 3, -32768};
    const int16_t rr[4] = {32767, 5, -6, 7};
    int16_t ol[4] = {};
    int16_t orr[4] = {};
    size_t n = 0;
    ASSERT_TRUE(r.Convert(l, rr, 4, ol, orr, n));
    ASSERT_EQ(n, 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(ol[i], l[i]);
        EXPECT_EQ(orr[i], rr[i]);
    }
}

TEST(Resampler, ChannelStage)
{
    // Stereo to mono averages, truncating toward zero for signed samples.
    CResampler down = Make(8000, 8000, 2, 1);
    const int16_t l[3] = {-3, 3, 32767};
    const int16_t r[3] = {0, 0, 32767};
    int16_t out[3] = {};
    size_t n = 0;
    ASSERT_TRUE(down.Convert(l, r, 3, out, nullptr, n));
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(out[0], -1);
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(out[2], 32767);

    // 8-bit stereo to mono floors the unsigned mean, then widens.
    CResampler down8 = Make(8000, 8000, 2, 1, 8, 16);
    const uint8_t l8[2] = {0, 255};
    const uint8_t r8[2] = {1, 254};
    ASSERT_TRUE(down8.Convert(l8, r8, 2, out, nullptr, n));
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(out[0], -32768);
    EXPECT_EQ(out[1], (254 - 128) * 256);

    // Mono to stereo copies left to right.
    CResampler up = Make(8000, 8000, 1, 2);
    int16_t ol[3] = {};
    int16_t orr[3] = {};
    ASSERT_TRUE(up.Convert(l, nullptr, 3, ol, orr, n));
    ASSERT_EQ(n, 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(orr[i], l[i]);
}

TEST(Resampler, DecimationCarriesPartialGroupAcrossBlocks)
{
    CResampler r = Make(44100, 22050);
    EXPECT_EQ(r.UpFactor(), 1);
    EXPECT_EQ(r.DownFactor(), 2);
    EXPECT_EQ(r.WholeRatio(), 0);
    EXPECT_EQ(Run16(r, {10, 21, -5, -6, 100}), (std::vector<int16_t>{15, -5}));
    // 100 waited in the carry and pairs with the first sample here.
    EXPECT_EQ(Run16(r, {-1, 7, 8}), (std::vector<int16_t>{49, 7}));
    EXPECT_TRUE(Run16(r, {3}).empty());
    EXPECT_EQ(Run16(r, {7}), (std::vector<int16_t>{5}));
}

TEST(Resampler, DecimationCarryIsPerChannel)
{
    CResampler r = Make(44100, 22050, 2, 2);
    const int16_t l1[3] = {2, 4, 6};
    const int16_t r1[3] = {-2, -4, -6};
    const int16_t l2[1] = {10};
    const int16_t r2[1] = {-10};
    int16_t ol[4] = {};
    int16_t orr[4] = {};
    size_t n = 0;
    ASSERT_TRUE(r.Convert(l1, r1, 3, ol, orr, n));
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(ol[0], 3);
    EXPECT_EQ(orr[0], -3);
    ASSERT_TRUE(r.Convert(l2, r2, 1, ol, orr, n));
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(ol[0], 8);
    EXPECT_EQ(orr[0], -8);
}

TEST(Resampler, WholeNumberInterpolation)
{
    CResampler r = Make(11025, 22050);
    EXPECT_EQ(r.UpFactor(), 2);
    EXPECT_EQ(r.DownFactor(), 1);
    EXPECT_EQ(r.WholeRatio(), 2);
    // n samples give 2(n - 1): the odd ones midway, truncated.
    EXPECT_EQ(Run16(r, {0, 10, 5, -4}), (std::vector<int16_t>{0, 5, 10, 8, 5, 1}));
    EXPECT_TRUE(Run16(r, {42}).empty()) << "one sample opens no segment";

    CResampler by4 = Make(5512, 22048);
    EXPECT_EQ(Run16(by4, {0, 8}), (std::vector<int16_t>{0, 2, 4, 6}));

    // 8-bit samples interpolate on their unsigned values.
    CResampler narrow = Make(11025, 22050, 1, 1, 8, 8);
    const uint8_t in[3] = {0, 255, 1};
    uint8_t out[9] = {};
    size_t n = 0;
    ASSERT_TRUE(narrow.Convert(in, nullptr, 3, out, nullptr, n));
    ASSERT_EQ(n, 4u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 127);
    EXPECT_EQ(out[2], 255);
    EXPECT_EQ(out[3], 128);
}

TEST(Resampler, GeneralRatio)
{
    CResampler r = Make(22050, 16000);
    EXPECT_EQ(r.UpFactor(), 320);
    EXPECT_EQ(r.DownFactor(), 441);
    EXPECT_EQ(r.WholeRatio(), 0);
    EXPECT_EQ(r.MaxOutputFrames(1000), 1000u);

    // A constant signal stays constant, and 441 inputs give 320 outputs
    // however the stream is cut into blocks.
    std::vector<int16_t> block(147, -1234);
    size_t total = 0;
    for (int i = 0; i < 3; ++i) {
        const auto out = Run16(r, block);
        for (int16_t v : out)
            ASSERT_EQ(v, -1234);
        total += out.size();
    }
    EXPECT_EQ(total, 320u);

    // Across a step the output is the mean of the repetitions that fed it.
    CResampler step = Make(3, 2);  // L = 2, M = 3
    EXPECT_EQ(Run16(step, {0, 0, 300, 300, 300, 300}), (std::vector<int16_t>{0, 200, 300, 300}));
}

TEST(Resampler, RefusesFormatsItCannotConvert)
{
    CResampler r;
    EXPECT_FALSE(r.Prepare()) << "nothing set";
    r.inRate = r.outRate = 8000;
    r.inChannels = r.outChannels = 1;
    r.inBits = 12;
    r.outBits = 16;
    EXPECT_FALSE(r.Prepare());
    r.inBits = 8;
    r.outRate = 0;
    EXPECT_FALSE(r.Prepare());
    const uint8_t in[1] = {0};
    int16_t out[1] = {};
    size_t n = 7;
    EXPECT_FALSE(r.Convert(in, nullptr, 1, out, nullptr, n));
    EXPECT_EQ(n, 0u);
}
