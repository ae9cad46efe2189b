#include "platform/folder_lock.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/pending_file.h"

namespace platform {

namespace {

int OpenLockFile(int folderFd, const std::string& name, int flags)
{
    int fd;
    do {
        fd = ::openat(folderFd, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The descriptor is still the file under the name: a holder that went
// before may have removed it after this one opened it.
bool StillNamed(int folderFd, const std::string& name, int fd)
{
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

std::atomic<unsigned> g_made{0};
std::atomic<bool> g_unnamedWorks{true};  // false once a link from /proc failed

// A new lock file without a name where the file system allows (so that not
// even a kill leaves it), else under a name of this process's own, in made.
int MakeLockFile(int folderFd, const std::string& lockName, std::string& made)
{
    made.clear();
#ifdef O_TMPFILE
    if (g_unnamedWorks.load()) {
        if (const int fd = ::openat(folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0644); fd >= 0)
            return fd;
    }
#endif
    made = lockName + "." + std::to_string(::getpid()) + "-" + std::to_string(g_made.fetch_add(1)) + ".new";
    return OpenLockFile(folderFd, made, O_RDWR | O_CREAT | O_EXCL);
}

enum class Placement : uint8_t { Placed, NameTaken, TryNamed, Failed };

// Gives the lock file made the lock's name unless one is there. A file made
// under a name of its own keeps that name too until the caller removes it.
Placement PutInPlace(int folderFd, int fd, const std::string& made, const std::string& lockName)
{
    if (made.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (::linkat(AT_FDCWD, self.c_str(), folderFd, lockName.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return Placement::Placed;
        if (errno == EEXIST)
            return Placement::NameTaken;
        // No /proc, or a file system that links no unnamed file: named
        // files from now on.
        g_unnamedWorks = false;
        return Placement::TryNamed;
    }
    // A link refuses a name that is there, on every file system with links;
    // one without them (FAT) takes a rename that refuses it.
    if (::linkat(folderFd, made.c_str(), folderFd, lockName.c_str(), 0) == 0)
        return Placement::Placed;
#if defined(SYS_renameat2) && defined(RENAME_NOREPLACE)
    if (errno == EPERM || errno == ENOTSUP) {
        if (::syscall(SYS_renameat2, folderFd, made.c_str(), folderFd, lockName.c_str(), RENAME_NOREPLACE) == 0)
            return Placement::Placed;
    }
#endif
    return errno == EEXIST ? Placement::NameTaken : Placement::Failed;
}

}  // namespace

FolderLock::~FolderLock()
{
    Release();
}

bool FolderLock::Acquire(std::shared_ptr<const Folder> folder, const std::string& lockName)
{
    Release();
    if (!folder || !folder->IsOpen() || lockName.empty() || lockName.find('/') != std::string::npos)
        return false;
    const int folderFd = folder->Fd();
    for (;;) {
        // A new lock file is made under a name of its own, locked, and only
        // then put under the lock's name, with this process's pending
        // files, and no signal in between: a named lock file always has a
        // holder that removes it, or had one that was killed outright.
        {
            EndingSignalsHeld held;
            std::string made;
            const int fd = MakeLockFile(folderFd, lockName, made);
            if (fd < 0)
                return false;
            const Placement placed = ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? PutInPlace(folderFd, fd, made, lockName)
                                                                         : Placement::Failed;
            if (!made.empty())
                ::unlinkat(folderFd, made.c_str(), 0);
            if (placed == Placement::Placed) {
                Take(std::move(folder), lockName, fd);
                return true;
            }
            ::close(fd);
            if (placed == Placement::Failed)
                return false;
            if (placed == Placement::TryNamed)
                continue;
        }
        // Someone else's until it is held: waited for with signals free.
        const int fd = OpenLockFile(folderFd, lockName, O_RDWR);
        if (fd < 0) {
            if (errno == ENOENT)
                continue;  // released since
            return false;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return false;
        }
        int rc;
        do {
            rc = ::flock(fd, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            ::close(fd);
            return false;
        }
        EndingSignalsHeld held;
        if (StillNamed(folderFd, lockName, fd)) {
            Take(std::move(folder), lockName, fd);
            return true;
        }
        ::close(fd);
    }
}

void FolderLock::Take(std::shared_ptr<const Folder> folder, const std::string& lockName, int fd)
{
    m_folder = std::move(folder);
    m_name = lockName;
    m_fd = fd;
    m_slot = RemoveOnSignal(m_folder->Fd(), m_name);
    TellFileEvent(FileEvent::LockTaken, m_folder->Fd(), m_name);
}

bool FolderLock::IsHeld(const Folder& folder, const std::string& lockName)
{
    const int fd = OpenLockFile(folder.Fd(), lockName, O_RDONLY);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return !free;
}

void FolderLock::RemoveIfFree(int folderFd, const std::string& lockName)
{
    const int fd = OpenLockFile(folderFd, lockName, O_RDONLY);
    if (fd < 0)
        return;
    // Taken for a moment, as a new holder would: removed only while no one
    // else can hold it.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(folderFd, lockName, fd))
        ::unlinkat(folderFd, lockName.c_str(), 0);
    ::close(fd);
}

void FolderLock::Release()
{
    if (m_fd < 0)
        return;
    // Removed while held: whoever waits on it next sees it is gone. No
    // signal comes between the removal and the slot's end, which would
    // leave the file, or remove another holder's new one.
    EndingSignalsHeld held;
    KeepOnSignal(m_slot);
    m_slot = -1;
    if (StillNamed(m_folder->Fd(), m_name, m_fd))
        ::unlinkat(m_folder->Fd(), m_name.c_str(), 0);
    TellFileEvent(FileEvent::LockGone, m_folder->Fd(), m_name);
    ::close(m_fd);
    m_fd = -1;
    m_folder.reset();
    m_name.clear();
}

}  // namespace platform
