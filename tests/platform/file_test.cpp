#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

#include "platform/file.h"
#include "platform/folders.h"
#include "support/temp_dir.h"

using platform::File;
using platform::OpenMode;

TEST(File, CreateNewNeverReplaces)
{
    TempDir dir;
    WriteFileBytes(dir / "taken", "user data");
    File f;
    EXPECT_FALSE(f.Open(dir / "taken", OpenMode::CreateNew));
    EXPECT_EQ(f.LastOpenError(), platform::OpenError::AlreadyExists);
    EXPECT_EQ(ReadFileBytes(dir / "taken"), "user data");

    ASSERT_TRUE(f.Open(dir / "new", OpenMode::CreateNew));
    EXPECT_TRUE(f.Write("abc", 3));
    EXPECT_EQ(f.Size(), 3);
    EXPECT_TRUE(f.Seek(1));
    EXPECT_TRUE(f.Write("Z", 1));
    EXPECT_TRUE(f.Flush());
    EXPECT_TRUE(f.Close());
    EXPECT_TRUE(f.Close());  // twice is harmless
    EXPECT_EQ(ReadFileBytes(dir / "new"), "aZc");
}

TEST(File, ReadReportsShortCountsAndRefusesFolders)
{
    TempDir dir;
    WriteFileBytes(dir / "f", "12345");
    File f;
    ASSERT_TRUE(f.Open(dir / "f", OpenMode::Read));
    char buf[16];
    EXPECT_EQ(f.Read(buf, sizeof buf), 5u);
    EXPECT_FALSE(f.Failed());
    EXPECT_FALSE(f.Write("x", 1));  // read-only handle

    File folder;
    EXPECT_FALSE(folder.Open(dir.Path(), OpenMode::Read));
    File missing;
    EXPECT_FALSE(missing.Open(dir / "missing", OpenMode::Read));
    EXPECT_EQ(missing.LastOpenError(), platform::OpenError::Other);
}

TEST(File, WriteBudgetActsLikeAFullDisk)
{
    TempDir dir;
    File f;
    ASSERT_TRUE(f.Open(dir / "out", OpenMode::CreateNew));
    platform::testing::SetWriteBudget(5);
    // Small writes are gathered; the failure shows when they reach the disk.
    EXPECT_TRUE(f.Write("abc", 3));
    EXPECT_TRUE(f.Write("def", 3));
    EXPECT_EQ(f.Size(), -1);
    EXPECT_TRUE(f.Failed());
    platform::testing::SetWriteBudget(-1);
    // Once failed, the handle refuses further writes so no gap can be hidden.
    EXPECT_FALSE(f.Write("g", 1));
    EXPECT_FALSE(f.Close());

    // A write as large as the buffer goes straight through and fails at once.
    File big;
    ASSERT_TRUE(big.Open(dir / "big", OpenMode::CreateNew));
    platform::testing::SetWriteBudget(1000);
    const std::string chunk(1 << 20, 'x');
    EXPECT_FALSE(big.Write(chunk.data(), chunk.size()));
    platform::testing::SetWriteBudget(-1);
}

TEST(File, RenameNoReplace)
{
    TempDir dir;
    WriteFileBytes(dir / "a", "A");
    WriteFileBytes(dir / "b", "B");
    EXPECT_FALSE(platform::RenameNoReplace(dir / "a", dir / "b"));
    EXPECT_EQ(ReadFileBytes(dir / "b"), "B");
    EXPECT_TRUE(platform::RenameNoReplace(dir / "a", dir / "c"));
    EXPECT_EQ(ReadFileBytes(dir / "c"), "A");
    EXPECT_FALSE(platform::PathExists(dir / "a"));
    EXPECT_TRUE(platform::DeleteFile(dir / "c"));
    EXPECT_FALSE(platform::DeleteFile(dir / "c"));
}

TEST(Folders, DocumentsFolderFollowsXdg)
{
    TempDir dir;
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::unsetenv("XDG_DOCUMENTS_DIR");
    ::setenv("HOME", dir.Path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
    ASSERT_TRUE(platform::CreateFolder(dir / "cfg"));

    EXPECT_EQ(platform::DocumentsFolder(), dir / "Documents");
    EXPECT_TRUE(platform::IsFolder(dir / "Documents"));

    WriteFileBytes(dir / "cfg/user-dirs.dirs", "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(platform::DocumentsFolder(), dir / "Dokumente");

    ::setenv("XDG_DOCUMENTS_DIR", (dir / "env").c_str(), 1);
    EXPECT_EQ(platform::DocumentsFolder(), dir / "env");

    ::unsetenv("XDG_DOCUMENTS_DIR");
    ::unsetenv("XDG_CONFIG_HOME");
    if (oldHome)
        ::setenv("HOME", savedHome.c_str(), 1);
}
