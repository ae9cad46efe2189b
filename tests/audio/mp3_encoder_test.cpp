#include "audio/mp3_encoder.h"

#include <gtest/gtest.h>

#include <lame/lame.h>

#include <fstream>
#include <vector>

#include "audio/conversions.h"
#include "audio/wave_writer.h"
#include "platform/file.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"

namespace {

struct BudgetGuard {
    ~BudgetGuard() { platform::testing::SetWriteBudget(-1); }
};

// Writes a 16-bit WAV of the test tone.
void WriteTone(const std::string& path, size_t frames, bool stereo, int rate)
{
    const std::vector<int16_t> tone = TestTone(frames, stereo, rate);
    std::vector<int16_t> l, r;
    for (size_t i = 0; i < frames; ++i) {
        l.push_back(tone[stereo ? 2 * i : i]);
        r.push_back(stereo ? tone[2 * i + 1] : 0);
    }
    CWaveWriter writer;
    ASSERT_TRUE(writer.Open(path, stereo, 16, static_cast<uint32_t>(rate)));
    ASSERT_TRUE(writer.Write(l.data(), r.data(), frames));
    ASSERT_TRUE(writer.Close());
}

std::string WaveBytes(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, const std::string& data)
{
    const std::string fmt = U16(tag) + U16(channels) + U32(rate) + U32(rate * channels * bits / 8) +
                            U16(static_cast<uint16_t>(channels * bits / 8)) + U16(bits);
    return "RIFF" + U32(static_cast<uint32_t>(36 + data.size())) + "WAVEfmt " + U32(16) + fmt + "data" +
           U32(static_cast<uint32_t>(data.size())) + data;
}

// One MPEG audio frame header as the walker below saw it.
struct FrameInfo {
    int version;  // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
    int rate;
    int mode;     // 3 = mono
    size_t size;
};

// Walks a file of back-to-back Layer III frames; fails the test on anything else.
std::vector<FrameInfo> WalkFrames(const std::string& bytes)
{
    static const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    static const int kRatesV1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kRatesV2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    std::vector<FrameInfo> frames;
    size_t at = 0;
    while (at + 4 <= bytes.size()) {
        const auto b = [&](size_t i) { return static_cast<uint8_t>(bytes[at + i]); };
        EXPECT_EQ(b(0), 0xFF) << "no frame sync at " << at;
        EXPECT_EQ(b(1) & 0xE0, 0xE0) << "no frame sync at " << at;
        if (b(0) != 0xFF || (b(1) & 0xE0) != 0xE0)
            return frames;
        const int version = (b(1) >> 3) & 3;
        EXPECT_EQ((b(1) >> 1) & 3, 1) << "not Layer III";
        const int bitrateIndex = b(2) >> 4;
        const int rate = kRates[version][(b(2) >> 2) & 3];
        const int padding = (b(2) >> 1) & 1;
        const int kbps = version == 3 ? kRatesV1[bitrateIndex] : kRatesV2[bitrateIndex];
        EXPECT_GT(kbps, 0);
        EXPECT_GT(rate, 0);
        if (kbps == 0 || rate == 0)
            return frames;
        const size_t size = static_cast<size_t>((version == 3 ? 144000 : 72000) * kbps / rate + padding);
        frames.push_back({version, rate, b(3) >> 6, size});
        at += size;
    }
    EXPECT_EQ(at, bytes.size()) << "trailing bytes after the last frame";
    return frames;
}

int LibraryOutRate(int inRate, int channels)
{
    lame_global_flags* gfp = lame_init();
    lame_set_in_samplerate(gfp, inRate);
    lame_set_num_channels(gfp, channels);
    lame_init_params(gfp);
    const int rate = lame_get_out_samplerate(gfp);
    lame_close(gfp);
    return rate;
}

}  // namespace

TEST(WavToMp3, EightBitMonoAtLowRateReportsTheLibrarysRate)
{
    TempDir dir;
    std::string data;
    for (int i = 0; i < 5000; ++i)
        data += static_cast<char>(128 + ((i / 10) % 2 ? 60 : -60));
    WriteFileBytes(dir / "in.wav", WaveBytes(1, 1, 5512, 8, data));
    uint32_t frames = 0;
    uint32_t rate = 0;
    ASSERT_TRUE(ConvertWavToMp3(dir / "in.wav", dir / "out.mp3", &frames, &rate));
    EXPECT_EQ(frames, 5000u);
    EXPECT_NE(rate, 5512u);
    EXPECT_EQ(rate, static_cast<uint32_t>(LibraryOutRate(5512, 1)));
    const auto mp3 = WalkFrames(ReadFileBytes(dir / "out.mp3"));
    ASSERT_FALSE(mp3.empty());
    for (const auto& f : mp3) {
        EXPECT_EQ(static_cast<uint32_t>(f.rate), rate);
        EXPECT_EQ(f.mode, 3) << "mono input is encoded in mono mode";
    }
    EXPECT_EQ(ReadFileBytes(dir / "in.wav"), WaveBytes(1, 1, 5512, 8, data)) << "input untouched";
}

TEST(WavToMp3, StereoReportsEveryFrameAndWritesFramesOnly)
{
    TempDir dir;
    WriteTone(dir / "in.wav", 3000, true, 44100);
    uint32_t frames = 0;
    uint32_t rate = 0;
    ASSERT_TRUE(ConvertWavToMp3(dir / "in.wav", dir / "out.mp3", &frames, &rate));
    EXPECT_EQ(frames, 3000u);
    EXPECT_EQ(rate, 44100u);
    const std::string bytes = ReadFileBytes(dir / "out.mp3");
    ASSERT_GT(bytes.size(), 128u);
    EXPECT_NE(bytes.substr(0, 3), "ID3");
    EXPECT_NE(bytes.substr(bytes.size() - 128, 3), "TAG");
    EXPECT_EQ(bytes.find("Xing"), std::string::npos);
    EXPECT_EQ(bytes.find("Info"), std::string::npos);
    const auto mp3 = WalkFrames(bytes);
    // 3000 frames plus the encoder's delay and padding fill a few more.
    EXPECT_GE(mp3.size() * 1152, 3000u);
    EXPECT_LE(mp3.size(), 6u);
    for (const auto& f : mp3)
        EXPECT_NE(f.mode, 3);

    // Null out-pointers are allowed.
    EXPECT_TRUE(ConvertWavToMp3(dir / "in.wav", dir / "again.mp3", nullptr, nullptr));
    EXPECT_EQ(ReadFileBytes(dir / "again.mp3"), bytes) << "encoding is deterministic";
}

TEST(WavToMp3, HeaderOnlyWavSucceedsWithNoFrames)
{
    TempDir dir;
    WriteFileBytes(dir / "in.wav", WaveBytes(1, 2, 22050, 16, ""));
    uint32_t frames = 99;
    uint32_t rate = 0;
    ASSERT_TRUE(ConvertWavToMp3(dir / "in.wav", dir / "out.mp3", &frames, &rate));
    EXPECT_EQ(frames, 0u);
    EXPECT_EQ(rate, 22050u);
    WalkFrames(ReadFileBytes(dir / "out.mp3"));
}

TEST(WavToMp3, RefusedInputCreatesNoMp3)
{
    TempDir dir;
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"float", WaveBytes(3, 1, 8000, 32, std::string(64, '\0'))},
        {"three_channels", WaveBytes(1, 3, 8000, 16, std::string(60, '\0'))},
        {"twelve_bits", WaveBytes(1, 1, 8000, 12, std::string(60, '\0'))},
        {"rate_zero", WaveBytes(1, 1, 0, 16, std::string(60, '\0'))},
        {"not_wav", "hello"},
    };
    for (const auto& c : cases) {
        const std::string in = dir / (std::string(c.name) + ".wav");
        const std::string out = dir / (std::string(c.name) + ".mp3");
        WriteFileBytes(in, c.bytes);
        uint32_t frames = 7;
        EXPECT_FALSE(ConvertWavToMp3(in, out, &frames, nullptr)) << c.name;
        EXPECT_EQ(frames, 7u) << c.name;
        EXPECT_TRUE(ReadFileBytes(out).empty() && !std::ifstream(out)) << c.name;
    }
    EXPECT_FALSE(ConvertWavToMp3(dir / "missing.wav", dir / "missing.mp3", nullptr, nullptr));
    EXPECT_FALSE(std::ifstream(dir / "missing.mp3"));
}

TEST(WavToMp3, NeverReplacesAnExistingMp3)
{
    TempDir dir;
    WriteTone(dir / "in.wav", 2000, false, 22050);
    WriteFileBytes(dir / "out.mp3", "mine");
    EXPECT_FALSE(ConvertWavToMp3(dir / "in.wav", dir / "out.mp3", nullptr, nullptr));
    EXPECT_EQ(ReadFileBytes(dir / "out.mp3"), "mine");
}

TEST(WavToMp3, FailedWriteLeavesNoMp3)
{
    BudgetGuard guard;
    TempDir dir;
    WriteTone(dir / "in.wav", 20000, true, 44100);
    uint32_t frames = 0;
    ASSERT_TRUE(ConvertWavToMp3(dir / "in.wav", dir / "full.mp3", &frames, nullptr));
    const auto whole = static_cast<int64_t>(ReadFileBytes(dir / "full.mp3").size());
    // Fails in the middle of encoding, then only at the final flush.
    for (const int64_t budget : {int64_t{1000}, whole - 10}) {
        platform::testing::SetWriteBudget(budget);
        EXPECT_FALSE(ConvertWavToMp3(dir / "in.wav", dir / "out.mp3", &frames, nullptr)) << budget;
        platform::testing::SetWriteBudget(-1);
        EXPECT_FALSE(std::ifstream(dir / "out.mp3")) << budget;
    }
}

TEST(Mp3Encoder, UsageErrorsFailCleanly)
{
    TempDir dir;
    const int16_t samples[4] = {};
    CMp3Encoder encoder;
    EXPECT_FALSE(encoder.Encode(samples, samples, 4)) << "nothing open";
    EXPECT_TRUE(encoder.Close());

    ASSERT_TRUE(encoder.Open(dir / "a.mp3"));
    EXPECT_EQ(encoder.OutSampleRate(), 0);
    EXPECT_FALSE(encoder.Encode(samples, samples, 4)) << "before InitParams";
    EXPECT_FALSE(encoder.Close()) << "never initialised, so nothing was encoded";
    EXPECT_TRUE(encoder.Close());

    // Reopening gives up the earlier file, which never got a frame; Discard
    // removes its own. Neither leaves a file behind, temporary or not.
    WriteFileBytes(dir / "mine.mp3", "mine");
    ASSERT_TRUE(encoder.Open(dir / "b.mp3"));
    ASSERT_TRUE(encoder.Open(dir / "c.mp3"));
    EXPECT_FALSE(encoder.Open(dir / "mine.mp3")) << "an existing file is never the output";
    ASSERT_TRUE(encoder.Open(dir / "d.mp3"));
    encoder.Discard();
    EXPECT_EQ(dir.List(), std::vector<std::string>{"mine.mp3"});
    EXPECT_EQ(ReadFileBytes(dir / "mine.mp3"), "mine");
}

TEST(Mp3Encoder, ModesAndLongBlocks)
{
    TempDir dir;
    const std::vector<int16_t> tone = TestTone(5000, false, 32000);
    const struct {
        int mode;
        int expectHeaderMode;
    } cases[] = {{CMp3Encoder::kStereo, 0}, {CMp3Encoder::kJointStereo, 1}, {42, 0}};
    for (const auto& c : cases) {
        const std::string path = dir / ("m" + std::to_string(c.mode) + ".mp3");
        CMp3Encoder encoder;
        ASSERT_TRUE(encoder.Open(path));
        encoder.SetChannels(7);  // clamped to 2
        encoder.SetSampleRate(32000);
        encoder.SetWriteVbrTag(false);
        encoder.SetMode(c.mode);
        ASSERT_TRUE(encoder.InitParams());
        EXPECT_FALSE(encoder.InitParams()) << "only once";
        EXPECT_EQ(encoder.OutSampleRate(), 32000);
        // More than one block in one call.
        ASSERT_TRUE(encoder.Encode(tone.data(), tone.data(), tone.size()));
        ASSERT_TRUE(encoder.Close());
        const auto frames = WalkFrames(ReadFileBytes(path));
        ASSERT_GE(frames.size(), 5u);
        for (const auto& f : frames)
            EXPECT_EQ(f.mode, c.expectHeaderMode) << c.mode;
    }
}
