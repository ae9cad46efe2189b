#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/folder_lock.h"
#include "platform/folders.h"
#include "platform/mapped_file.h"
#include "platform/pending_file.h"
#include "platform/process.h"
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
    // A FIFO would block until a writer came, a device never end.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    File special;
    EXPECT_FALSE(special.Open(dir / "fifo", OpenMode::Read));
    EXPECT_FALSE(special.Open("/dev/zero", OpenMode::Read));
    ASSERT_EQ(::symlink((dir / "f").c_str(), (dir / "link").c_str()), 0);
    EXPECT_TRUE(special.Open(dir / "link", OpenMode::Read));
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

TEST(PendingFile, AppearsUnderItsNameOnlyWhenComplete)
{
    TempDir dir;
    std::vector<std::string> told;
    platform::SetFileEventListener([&](platform::FileEvent event, int, const std::string& name) {
        if (event == platform::FileEvent::TempCreated || event == platform::FileEvent::TempGone)
            told.push_back((event == platform::FileEvent::TempCreated ? "+" : "-") + name);
    });
    // A leftover of a killed run keeps its name; the new file takes the next.
    WriteFileBytes(dir / ".a.wav.part", "leftover");
    platform::PendingFile a;
    ASSERT_TRUE(a.Create(dir / "a.wav"));
    ASSERT_TRUE(a.Out().Write("abc", 3));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{".a.wav.1.part", ".a.wav.part"}));
    EXPECT_EQ(a.MoveInto(), platform::MoveOutcome::Moved);
    EXPECT_EQ(ReadFileBytes(dir / "a.wav"), "abc");

    // A name taken meanwhile is never replaced; the file waits for another.
    platform::PendingFile b;
    ASSERT_TRUE(b.Create(dir / "b.wav"));
    WriteFileBytes(dir / "b.wav", "mine");
    EXPECT_EQ(b.MoveInto(), platform::MoveOutcome::NameTaken);
    EXPECT_EQ(b.MoveInto(dir / "b2.wav"), platform::MoveOutcome::Moved);
    EXPECT_EQ(ReadFileBytes(dir / "b.wav"), "mine");
    EXPECT_FALSE(platform::PendingFile().Create(dir / "b.wav")) << "an existing name is no output";

    // Replacing is only for a file the user chose to overwrite.
    platform::PendingFile c;
    ASSERT_TRUE(c.Create(dir / "b.wav", true));
    ASSERT_TRUE(c.Out().Write("new", 3));
    EXPECT_EQ(c.MoveInto(), platform::MoveOutcome::Moved);
    EXPECT_EQ(ReadFileBytes(dir / "b.wav"), "new");

    // What a signal handler removes, and what going out of scope removes.
    {
        platform::PendingFile d;
        ASSERT_TRUE(d.Create(dir / "d.wav"));
        platform::PendingFile e;
        ASSERT_TRUE(e.Create(dir / "e.wav"));
        platform::RemovePendingFiles();
        EXPECT_EQ(dir.List(), (std::vector<std::string>{".a.wav.part", "a.wav", "b.wav", "b2.wav"}));
        ASSERT_TRUE(e.Create(dir / "e.wav"));
    }
    EXPECT_EQ(dir.List(), (std::vector<std::string>{".a.wav.part", "a.wav", "b.wav", "b2.wav"}));
    platform::SetFileEventListener({});
    EXPECT_EQ(told, (std::vector<std::string>{"+.a.wav.1.part", "-.a.wav.1.part", "+.b.wav.part", "-.b.wav.part",
                                              "+.b.wav.part", "-.b.wav.part", "+.d.wav.part", "+.e.wav.part",
                                              "-.e.wav.part", "+.e.wav.part", "-.e.wav.part", "-.d.wav.part"}));
}

// Two processes take and let go of one lock as fast as they can and are
// ended together by a signal at any moment: whatever step each was in, the
// lock file goes with its holder, and a waiter never removes a holder's.
TEST(FolderLock, ASignalAtAnyMomentLeavesNoLockFile)
{
    TempDir dir;
    for (int round = 0; round < 150; ++round) {
        pid_t children[2];
        for (pid_t& child : children) {
            child = ::fork();
            if (child == 0) {
                platform::RemovePendingFilesOnSignals();
                auto folder = std::make_shared<platform::Folder>();
                if (!folder->Open(dir.Path()))
                    ::_exit(3);
                for (;;) {
                    platform::FolderLock lock;
                    if (!lock.Acquire(folder, ".orvellin-m.lock"))
                        ::_exit(4);
                }
            }
        }
        ::usleep(static_cast<useconds_t>(200 + round * 37 % 3000));
        for (const pid_t child : children)
            ::kill(child, SIGTERM);
        for (const pid_t child : children) {
            int status = 0;
            ::waitpid(child, &status, 0);
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "round " << round;
        }
        ASSERT_EQ(dir.List(), std::vector<std::string>{}) << "round " << round;
    }
}

TEST(QuietStandardError, DropsWhatIsWrittenWhileItLives)
{
    TempDir dir;
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    File log;
    ASSERT_TRUE(log.Open(dir / "stderr", OpenMode::CreateNew));
    log.Close();
    const int fd = ::open((dir / "stderr").c_str(), O_WRONLY);
    ::dup2(fd, STDERR_FILENO);
    {
        platform::QuietStandardError outer;
        platform::QuietStandardError inner;
        std::fputs("hidden ", stderr);
    }
    std::fputs("shown", stderr);
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(fd);
    EXPECT_EQ(ReadFileBytes(dir / "stderr"), "shown");
}

TEST(MappedFile, BytesTheFileLosesReadAsZerosAndAreTold)
{
    TempDir dir;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    WriteFileBytes(dir / "m", std::string(3 * page, 'x'));
    File f;
    ASSERT_TRUE(f.Open(dir / "m", OpenMode::Read));
    platform::MappedFile kept;
    platform::MappedFile cut;
    ASSERT_TRUE(kept.Map(f, 3 * page));
    ASSERT_TRUE(cut.Map(f, 3 * page));
    EXPECT_EQ(cut.Data()[2 * page], 'x');
    ASSERT_EQ(::truncate((dir / "m").c_str(), static_cast<off_t>(page)), 0);
    EXPECT_EQ(cut.Data()[page - 1], 'x');
    EXPECT_FALSE(cut.Damaged());
    EXPECT_EQ(cut.Data()[2 * page + 5], 0);  // no SIGBUS: zeros, told
    EXPECT_EQ(cut.Data()[3 * page - 1], 0);
    EXPECT_TRUE(cut.Damaged());
    EXPECT_FALSE(kept.Damaged());  // only the mapping that faulted is blamed
    EXPECT_EQ(kept.Data()[0], 'x');
}

TEST(MappedFileDeathTest, BusErrorsOfNoMappingStillEndTheProcess)
{
    TempDir dir;
    WriteFileBytes(dir / "m", std::string(8192, 'x'));
    File f;
    ASSERT_TRUE(f.Open(dir / "m", OpenMode::Read));
    platform::MappedFile map;
    ASSERT_TRUE(map.Map(f, 8192));  // the handler is in place from here on
    // Under a sanitizer its own handler ends the process instead of the signal.
    const auto abnormal = [](int status) {
        return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0);
    };
    EXPECT_EXIT(::raise(SIGBUS), abnormal, "");
    EXPECT_EXIT(
        {
            void* raw = ::mmap(nullptr, 8192, PROT_READ, MAP_PRIVATE, f.Fd(), 0);
            if (raw == MAP_FAILED || ::truncate((dir / "m").c_str(), 0) != 0)
                std::exit(0);
            std::exit(static_cast<volatile const char*>(raw)[4096] == 'x' ? 0 : 0);
        },
        abnormal, "");
}
