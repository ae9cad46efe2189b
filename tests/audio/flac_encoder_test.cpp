#include "audio/flac_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <vector>

#include "audio/conversions.h"
#include "platform/file.h"
#include "support/flac_decode.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"

namespace {

struct BudgetGuard {
    ~BudgetGuard() { platform::testing::SetWriteBudget(-1); }
};

bool Exists(const std::string& path)
{
    return std::ifstream(path).good();
}

}  // namespace

TEST(WavToFlac, HoldsTheWavsVerySamples)
{
    TempDir dir;
    for (const int bits : {8, 16}) {
        for (const bool stereo : {false, true}) {
            for (const uint32_t rate : {5512u, 11025u, 22050u, 44100u, 8000u, 16000u}) {
                const std::string name = std::to_string(bits) + (stereo ? "s" : "m") + std::to_string(rate);
                // Not a whole number of the library's blocks, and reaching both
                // ends of the sample range.
                const size_t frames = rate / 3 + 7;
                std::vector<int16_t> tone = TestTone(frames, stereo, static_cast<int>(rate), 30000.0);
                tone[0] = -32768;
                tone[1] = 32767;
                std::vector<int32_t> expected;
                std::string wav;
                if (bits == 16) {
                    expected.assign(tone.begin(), tone.end());
                    wav = WaveBytes(tone, stereo, rate);
                } else {
                    std::vector<uint8_t> narrow;
                    for (int16_t v : tone) {
                        narrow.push_back(static_cast<uint8_t>((v >> 8) + 128));
                        expected.push_back(v >> 8);
                    }
                    wav = WaveBytes8(narrow, stereo, rate);
                }
                WriteFileBytes(dir / (name + ".wav"), wav);

                uint32_t written = 0;
                ASSERT_TRUE(ConvertWavToFlac(dir / (name + ".wav"), dir / (name + ".flac"), &written)) << name;
                EXPECT_EQ(written, frames) << name;
                const Decoded d = DecodeFlac(dir / (name + ".flac"));
                ASSERT_TRUE(d.ok) << name;
                EXPECT_EQ(d.channels, stereo ? 2u : 1u) << name;
                EXPECT_EQ(d.bits, static_cast<unsigned>(bits)) << name;
                EXPECT_EQ(d.rate, rate) << name;
                EXPECT_EQ(d.streamFrames, frames) << name << ": the header is completed at the end";
                EXPECT_TRUE(d.samples == expected) << name;
                EXPECT_EQ(ReadFileBytes(dir / (name + ".wav")), wav) << "input untouched";
            }
        }
    }
}

TEST(WavToFlac, CallerOwnsTheOutputAndAHeaderOnlyWavGivesAnEmptyStream)
{
    BudgetGuard guard;
    TempDir dir;
    // The last write, where the finished header goes back, must fail the
    // conversion itself, not only the caller's move.
    WriteFileBytes(dir / "tone.wav", WaveBytes(TestTone(20000, true, 44100), true, 44100));
    ASSERT_TRUE(ConvertWavToFlac(dir / "tone.wav", dir / "tone.flac", nullptr));
    const auto whole = static_cast<int64_t>(ReadFileBytes(dir / "tone.flac").size());
    {
        platform::File in;
        ASSERT_TRUE(in.Open(dir / "tone.wav", platform::OpenMode::Read));
        platform::PendingFile out;
        ASSERT_TRUE(out.Create(dir / "cut.flac"));
        platform::testing::SetWriteBudget(whole - 10);
        EXPECT_FALSE(ConvertWavToFlac(std::move(in), out, nullptr));
        platform::testing::SetWriteBudget(-1);
        EXPECT_TRUE(out.IsPending()) << "left to the caller";
    }

    WriteFileBytes(dir / "in.wav", WaveBytes({}, true, 22050));
    platform::File in;
    ASSERT_TRUE(in.Open(dir / "in.wav", platform::OpenMode::Read));
    platform::PendingFile out;
    ASSERT_TRUE(out.Create(dir / "out.flac"));
    uint32_t frames = 99;
    ASSERT_TRUE(ConvertWavToFlac(std::move(in), out, &frames));
    EXPECT_EQ(frames, 0u);
    EXPECT_FALSE(Exists(dir / "out.flac")) << "moving it is the caller's step";
    ASSERT_EQ(out.MoveInto(), platform::MoveOutcome::Moved);
    const Decoded d = DecodeFlac(dir / "out.flac");
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.channels, 2u);
    EXPECT_TRUE(d.samples.empty());
}

TEST(WavToFlac, RefusedOrFailedConversionsLeaveNoFlac)
{
    BudgetGuard guard;
    TempDir dir;
    const std::string tone = WaveBytes(TestTone(44100, true, 44100), true, 44100);
    WriteFileBytes(dir / "in.wav", tone);
    ASSERT_TRUE(ConvertWavToFlac(dir / "in.wav", dir / "full.flac", nullptr));
    const auto whole = static_cast<int64_t>(ReadFileBytes(dir / "full.flac").size());
    std::string threeChannels = WaveBytes(TestTone(100, false, 8000), false, 8000);
    threeChannels[22] = 3;
    std::string twentyFourBits = tone;
    twentyFourBits[34] = 24;
    const struct {
        const char* name;
        std::string bytes;
        int64_t budget;
    } cases[] = {
        {"three_channels", threeChannels, -1},
        {"24_bits", twentyFourBits, -1},
        {"not_wav", "hello", -1},
        // Fails while encoding; then only where the finished header is written back.
        {"disk_full", tone, 1000},
        {"full_at_header", tone, whole - 10},
    };
    for (const auto& c : cases) {
        WriteFileBytes(dir / "case.wav", c.bytes);
        platform::testing::SetWriteBudget(c.budget);
        uint32_t frames = 7;
        EXPECT_FALSE(ConvertWavToFlac(dir / "case.wav", dir / "out.flac", &frames)) << c.name;
        platform::testing::SetWriteBudget(-1);
        EXPECT_EQ(frames, 7u) << c.name;
        EXPECT_EQ(dir.List(), (std::vector<std::string>{"case.wav", "full.flac", "in.wav"})) << c.name;
    }
    WriteFileBytes(dir / "mine.flac", "mine");
    EXPECT_FALSE(ConvertWavToFlac(dir / "in.wav", dir / "mine.flac", nullptr));
    EXPECT_EQ(ReadFileBytes(dir / "mine.flac"), "mine");
}

TEST(FlacEncoder, RefusesWhatAStreamCannotHold)
{
    TempDir dir;
    platform::PendingFile out;
    ASSERT_TRUE(out.Create(dir / "a.flac"));
    CFlacEncoder encoder;
    EXPECT_FALSE(encoder.Open(out, 3, 16, 44100));
    EXPECT_FALSE(encoder.Open(out, 1, 24, 44100));
    EXPECT_FALSE(encoder.Open(out, 1, 16, 0));
    ASSERT_TRUE(encoder.Open(out, 1, 8, 8000));
    const int16_t fits[3] = {-128, 0, 127};
    const int16_t tooWide[3] = {0, 128, 0};
    EXPECT_TRUE(encoder.Encode(fits, nullptr, 3));
    EXPECT_FALSE(encoder.Encode(tooWide, nullptr, 3)) << "would decode to another sample";
    EXPECT_FALSE(encoder.Finish());
}
