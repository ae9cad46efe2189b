#include "audio/wave_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/file.h"
#include "support/temp_dir.h"

namespace {

struct BudgetGuard {
    ~BudgetGuard() { platform::testing::SetWriteBudget(-1); }
};

}  // namespace

TEST(WaveWriter, EmptyFileIsHeaderWithZeroData)
{
    TempDir dir;
    const std::string path = dir / "empty.wav";
    CWaveWriter writer;
    ASSERT_TRUE(writer.Open(path, true, 16, 22050));
    EXPECT_TRUE(writer.Write(nullptr, nullptr, 0));
    ASSERT_TRUE(writer.Close());
    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(U32At(bytes, 4), 36u);
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(U32At(bytes, 16), 16u);
    EXPECT_EQ(U16At(bytes, 20), 1u);
    EXPECT_EQ(U16At(bytes, 22), 2u);
    EXPECT_EQ(U32At(bytes, 24), 22050u);
    EXPECT_EQ(U32At(bytes, 28), 22050u * 4);
    EXPECT_EQ(U16At(bytes, 32), 4u);
    EXPECT_EQ(U16At(bytes, 34), 16u);
    EXPECT_EQ(bytes.substr(36, 4), "data");
    EXPECT_EQ(U32At(bytes, 40), 0u);
}

TEST(WaveWriter, StereoInterleavesAndMonoWritesLeftOnly)
{
    TempDir dir;
    const std::vector<int16_t> left = {1, -2, 0x1234, -32768, 32767};
    const std::vector<int16_t> right = {-1, 2, 0x5678, 32767, -32768};

    CWaveWriter stereo;
    ASSERT_TRUE(stereo.Open(dir / "s.wav", true, 16, 44100));
    ASSERT_TRUE(stereo.Write(left.data(), right.data(), 2));
    ASSERT_TRUE(stereo.Write(left.data() + 2, right.data() + 2, 3));
    ASSERT_TRUE(stereo.Close());
    const std::string s = ReadFileBytes(dir / "s.wav");
    ASSERT_EQ(s.size(), 44u + 4 * 5);
    EXPECT_EQ(U32At(s, 4), s.size() - 8);
    EXPECT_EQ(U32At(s, 40), 20u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(static_cast<int16_t>(U16At(s, 44 + 4 * i)), left[i]) << i;
        EXPECT_EQ(static_cast<int16_t>(U16At(s, 46 + 4 * i)), right[i]) << i;
    }

    CWaveWriter mono;
    ASSERT_TRUE(mono.Open(dir / "m.wav", false, 16, 8000));
    // right is never read for mono.
    ASSERT_TRUE(mono.Write(left.data(), nullptr, 5));
    ASSERT_TRUE(mono.Close());
    const std::string m = ReadFileBytes(dir / "m.wav");
    ASSERT_EQ(m.size(), 44u + 2 * 5);
    EXPECT_EQ(U16At(m, 22), 1u);
    EXPECT_EQ(U16At(m, 32), 2u);
    EXPECT_EQ(U32At(m, 28), 16000u);
    EXPECT_EQ(U32At(m, 40), 10u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(static_cast<int16_t>(U16At(m, 44 + 2 * i)), left[i]) << i;
}

TEST(WaveWriter, CloseTwiceAndDestructionAfterCloseChangeNothing)
{
    TempDir dir;
    const std::string path = dir / "c.wav";
    const int16_t samples[3] = {7, 8, 9};
    {
        CWaveWriter writer;
        ASSERT_TRUE(writer.Open(path, false, 16, 11025));
        ASSERT_TRUE(writer.Write(samples, nullptr, 3));
        ASSERT_TRUE(writer.Close());
        const std::string first = ReadFileBytes(path);
        EXPECT_TRUE(writer.Close());
        EXPECT_EQ(ReadFileBytes(path), first);
        EXPECT_FALSE(writer.Write(samples, nullptr, 3));
    }
    EXPECT_EQ(ReadFileBytes(path).size(), 50u);
}

TEST(WaveWriter, DestructorPatchesLengths)
{
    TempDir dir;
    const std::string path = dir / "d.wav";
    const int16_t samples[4] = {1, 2, 3, 4};
    {
        CWaveWriter writer;
        ASSERT_TRUE(writer.Open(path, true, 16, 8000));
        ASSERT_TRUE(writer.Write(samples, samples + 2, 2));
    }
    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 52u);
    EXPECT_EQ(U32At(bytes, 4), 44u);
    EXPECT_EQ(U32At(bytes, 40), 8u);
}

TEST(WaveWriter, NeverReplacesAnExistingFile)
{
    TempDir dir;
    const std::string path = dir / "taken.wav";
    WriteFileBytes(path, "precious");
    CWaveWriter writer;
    EXPECT_FALSE(writer.Open(path, true, 16, 44100));
    EXPECT_FALSE(writer.IsOpen());
    writer.Discard();
    EXPECT_TRUE(writer.Close());
    EXPECT_EQ(ReadFileBytes(path), "precious");
}

TEST(WaveWriter, RefusesWidthsItDoesNotWrite)
{
    TempDir dir;
    CWaveWriter writer;
    EXPECT_FALSE(writer.Open(dir / "w8.wav", false, 8, 8000));
    EXPECT_FALSE(writer.Open(dir / "w0.wav", false, 16, 0));
    EXPECT_TRUE(dir.List().empty());
}

TEST(WaveWriter, FailedWritesAreReported)
{
    BudgetGuard guard;
    TempDir dir;
    const std::vector<int16_t> samples(1000, 5);

    // Writes are gathered in a buffer, so a full disk shows at the latest when
    // the writer closes. The header fits, the samples don't.
    platform::testing::SetWriteBudget(44 + 100);
    CWaveWriter writer;
    ASSERT_TRUE(writer.Open(dir / "full.wav", false, 16, 8000));
    writer.Write(samples.data(), nullptr, samples.size());
    EXPECT_FALSE(writer.Close());

    // The samples fit, the length patch at Close doesn't.
    platform::testing::SetWriteBudget(44 + 2 * 10 + 4);
    CWaveWriter patch;
    ASSERT_TRUE(patch.Open(dir / "patch.wav", false, 16, 8000));
    EXPECT_TRUE(patch.Write(samples.data(), nullptr, 10));
    EXPECT_FALSE(patch.Close());

    // A write larger than the buffer fails at once, and the writer stays failed.
    platform::testing::SetWriteBudget(44);
    CWaveWriter big;
    ASSERT_TRUE(big.Open(dir / "big.wav", false, 16, 8000));
    const std::vector<int16_t> many(200000, 7);
    EXPECT_FALSE(big.Write(many.data(), nullptr, many.size()));
    EXPECT_FALSE(big.Write(many.data(), nullptr, 1)) << "a failed writer stays failed";
    big.Discard();
    const auto names = dir.List();
    EXPECT_EQ(std::count(names.begin(), names.end(), "big.wav"), 0);
}

TEST(WaveWriter, DiscardDeletesOnlyItsOwnFile)
{
    TempDir dir;
    const int16_t samples[2] = {1, 2};
    CWaveWriter writer;
    ASSERT_TRUE(writer.Open(dir / "partial.wav", false, 16, 8000));
    ASSERT_TRUE(writer.Write(samples, nullptr, 2));
    writer.Discard();
    EXPECT_TRUE(dir.List().empty());
    EXPECT_TRUE(writer.Close());
}
