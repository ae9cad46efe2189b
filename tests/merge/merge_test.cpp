#include <gtest/gtest.h>

#include <unistd.h>

#include "merge/merge.h"
#include "platform/file.h"
#include "support/temp_dir.h"

namespace {

std::string Bytes(size_t n, int seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 31 + static_cast<size_t>(seed)) & 0xFF);
    return s;
}

}  // namespace

TEST(Merge, CopiesEveryInputInOrderAndDuplicatesTwice)
{
    TempDir dir;
    const std::string a = Bytes(3 << 20, 1);  // larger than one copy chunk
    const std::string b = "ID3 tail of b";
    const std::string c = Bytes(1000, 7);
    WriteFileBytes(dir / "a.mp3", a);
    WriteFileBytes(dir / "b.mp3", b);
    WriteFileBytes(dir / "c.mp3", c);
    WriteFileBytes(dir / "out.mp3", "an older file the user agreed to replace");
    ASSERT_TRUE(MergeFiles({dir / "c.mp3", dir / "a.mp3", dir / "b.mp3", dir / "c.mp3"}, dir / "out.mp3"));
    EXPECT_TRUE(ReadFileBytes(dir / "out.mp3") == c + a + b + c);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3", "out.mp3"}));
}

TEST(Merge, OutputThatIsAnInputIsRefused)
{
    TempDir dir;
    WriteFileBytes(dir / "a.mp3", "AAAA");
    WriteFileBytes(dir / "b.mp3", "BBBB");
    ASSERT_EQ(::symlink((dir / "a.mp3").c_str(), (dir / "link.mp3").c_str()), 0);
    ASSERT_EQ(::link((dir / "b.mp3").c_str(), (dir / "hard.mp3").c_str()), 0);
    const std::vector<std::string> inputs{dir / "a.mp3", dir / "b.mp3"};

    EXPECT_TRUE(IsOneOfInputs(inputs, dir / "A.MP3"));
    EXPECT_TRUE(IsOneOfInputs(inputs, dir / "link.mp3"));
    EXPECT_TRUE(IsOneOfInputs(inputs, dir / "hard.mp3"));
    EXPECT_TRUE(IsOneOfInputs(inputs, dir / "./b.mp3"));
    EXPECT_FALSE(IsOneOfInputs(inputs, dir / "c.mp3"));

    EXPECT_FALSE(MergeFiles(inputs, dir / "link.mp3"));
    EXPECT_FALSE(MergeFiles(inputs, dir / "hard.mp3"));
    EXPECT_EQ(ReadFileBytes(dir / "a.mp3"), "AAAA");
    EXPECT_EQ(ReadFileBytes(dir / "b.mp3"), "BBBB");
}

TEST(Merge, FailuresLeaveNothingBehind)
{
    TempDir dir;
    WriteFileBytes(dir / "a.mp3", Bytes(200000, 3));
    WriteFileBytes(dir / "keep.mp3", "the user's file");

    // An input gone since the list was made.
    EXPECT_FALSE(MergeFiles({dir / "a.mp3", dir / "gone.mp3"}, dir / "out.mp3"));
    // A full disk: the existing file of the chosen name survives the failure.
    platform::testing::SetWriteBudget(150000);
    const bool ok = MergeFiles({dir / "a.mp3", dir / "a.mp3"}, dir / "keep.mp3");
    platform::testing::SetWriteBudget(-1);
    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadFileBytes(dir / "keep.mp3"), "the user's file");
    // A folder that does not exist.
    EXPECT_FALSE(MergeFiles({dir / "a.mp3"}, dir / "no/such/out.mp3"));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.mp3", "keep.mp3"}));
}

TEST(Merge, UnreadableInputFailsTheMerge)
{
    TempDir dir;
    WriteFileBytes(dir / "a.mp3", "AAAA");
    // Reading /proc/self/mem from its start is an I/O error: the merge must not
    // carry on as if that input had ended.
    EXPECT_FALSE(MergeFiles({dir / "a.mp3", "/proc/self/mem"}, dir / "out.mp3"));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.mp3"}));
}
