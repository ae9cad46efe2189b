#include "platform/folder_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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
    for (;;) {
        const int fd = OpenLockFile(folder->Fd(), lockName, O_RDWR | O_CREAT);
        if (fd < 0)
            return false;
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
        if (StillNamed(folder->Fd(), lockName, fd)) {
            m_folder = std::move(folder);
            m_name = lockName;
            m_fd = fd;
            m_slot = RemoveOnSignal(m_folder->Fd(), m_name);
            TellFileEvent(FileEvent::LockTaken, m_folder->Fd(), m_name);
            return true;
        }
        ::close(fd);
    }
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
    // Removed while held: whoever waits on it next sees it is gone.
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
