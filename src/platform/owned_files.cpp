#include "platform/owned_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

int Retry(auto call)
{
    int r;
    do {
        r = call();
    } while (r < 0 && errno == EINTR);
    return r;
}

// Keeps a descriptor opened without waiting (a FIFO must not block the open)
// when it is a regular file, and makes its reads and writes block again;
// closes it otherwise. The file's status goes to st.
bool AdoptRegularFile(int fd, struct stat& st, std::string& why)
{
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "not a regular file";
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return true;
}

}  // namespace

bool IdOf(const std::string& path, FileId& id)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    id = FileId{st.st_dev, st.st_ino};
    return true;
}

RegularReader::~RegularReader()
{
    if (m_fd >= 0 && m_own)
        ::close(m_fd);
}

bool RegularReader::Take(int fd)
{
    m_missing = fd < 0 && errno == ENOENT;
    if (fd < 0) {
        m_why = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (!AdoptRegularFile(fd, st, m_why))
        return false;
    m_fd = fd;
    m_own = true;
    m_size = static_cast<uint64_t>(st.st_size);
    m_id = FileId{st.st_dev, st.st_ino};
    return true;
}

bool RegularReader::OpenIn(const Folder& folder, const std::string& name)
{
    if (folder.Fd() < 0 || name.empty() || name.find('/') != std::string::npos) {
        m_why = "not a name in the folder";
        return false;
    }
    return Take(Retry([&] {
        return ::openat(folder.Fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }));
}

bool RegularReader::Open(const std::string& path)
{
    return Take(Retry([&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }));
}

void RegularReader::UseStandardInput()
{
    m_fd = STDIN_FILENO;
    m_own = false;
}

ssize_t RegularReader::Read(void* buffer, size_t size)
{
    ssize_t n;
    do {
        n = ::read(m_fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool RemoveIfSame(const Folder& folder, const std::string& name, const FileId& id)
{
    struct stat st {};
    if (::fstatat(folder.Fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        FileId{st.st_dev, st.st_ino} != id)
        return false;
    return ::unlinkat(folder.Fd(), name.c_str(), 0) == 0;
}

AppendFile::~AppendFile()
{
    Close();
}

bool AppendFile::Open(const std::string& path)
{
    Close();
    const int fd = Retry([&] {
        return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    });
    if (fd < 0) {
        // A FIFO without a reader answers ENXIO to a write-only open that won't wait.
        m_why = errno == ENXIO ? "not a regular file" : std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (!AdoptRegularFile(fd, st, m_why))
        return false;
    m_fd = fd;
    return true;
}

bool AppendFile::EndsInsideALine() const
{
    struct stat st {};
    char last = '\n';
    return m_fd >= 0 && ::fstat(m_fd, &st) == 0 && st.st_size > 0 && ::pread(m_fd, &last, 1, st.st_size - 1) == 1 &&
           last != '\n';
}

bool AppendFile::Write(const std::string& bytes)
{
    size_t at = 0;
    while (m_fd >= 0 && at < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_why = n < 0 ? std::strerror(errno) : "nothing could be written";
            return false;
        }
        at += static_cast<size_t>(n);
    }
    return m_fd >= 0;
}

bool AppendFile::Close()
{
    if (m_fd < 0)
        return true;
    bool good = ::fsync(m_fd) == 0 || errno == EINVAL;
    if (!good)
        m_why = std::strerror(errno);
    if (::close(m_fd) != 0 && errno != EINTR && good) {
        m_why = std::strerror(errno);
        good = false;
    }
    m_fd = -1;
    return good;
}

bool WritableFolderId(const std::string& folder, FileId& id)
{
    const std::string path = folder.empty() ? "." : folder;
    return ::access(path.c_str(), W_OK | X_OK) == 0 && IdOf(path, id);
}

size_t OpenFileLimit()
{
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 1 << 20;
    return static_cast<size_t>(limit.rlim_cur);
}

}  // namespace platform
