#include "platform/file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if __has_include(<linux/fs.h>)
#include <linux/fs.h>
#endif
#include <sys/syscall.h>

namespace platform {

namespace {

std::atomic<int64_t> g_writeBudget{-1};

// Charges size bytes to the test budget; false when the budget ran out.
bool TakeFromBudget(size_t size)
{
    int64_t budget = g_writeBudget.load(std::memory_order_relaxed);
    while (budget >= 0) {
        if (static_cast<uint64_t>(budget) < size) {
            g_writeBudget.store(0, std::memory_order_relaxed);
            return false;
        }
        if (g_writeBudget.compare_exchange_weak(budget, budget - static_cast<int64_t>(size)))
            return true;
    }
    return true;
}

}  // namespace

namespace testing {
void SetWriteBudget(int64_t bytes)
{
    g_writeBudget.store(bytes < 0 ? -1 : bytes);
}
}  // namespace testing

File::~File()
{
    Close();
}

// Small writes (encoded frames, stream blocks) would each cost a system call.
constexpr size_t kWriteBuffer = 128 * 1024;

File::File(File&& other) noexcept
    : m_fd(other.m_fd), m_failed(other.m_failed), m_buffered(other.m_buffered), m_nowhere(other.m_nowhere),
      m_position(other.m_position), m_extent(other.m_extent), m_buffer(std::move(other.m_buffer)),
      m_openError(other.m_openError)
{
    other.m_fd = -1;
    other.m_buffered = false;
    other.m_nowhere = false;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        m_failed = other.m_failed;
        m_buffered = other.m_buffered;
        m_nowhere = other.m_nowhere;
        m_position = other.m_position;
        m_extent = other.m_extent;
        m_buffer = std::move(other.m_buffer);
        m_openError = other.m_openError;
        other.m_fd = -1;
        other.m_buffered = false;
        other.m_nowhere = false;
    }
    return *this;
}

void File::OpenNowhere()
{
    Close();
    m_failed = false;
    m_nowhere = true;
    m_position = m_extent = 0;
    m_openError = OpenError::None;
}

bool File::Open(const std::string& path, OpenMode mode)
{
    return OpenAt(AT_FDCWD, path, mode, false);
}

bool File::OpenIn(const Folder& folder, const std::string& name, OpenMode mode)
{
    if (!folder.IsOpen() || name.empty() || name.find('/') != std::string::npos) {
        Close();
        m_openError = OpenError::Other;
        return false;
    }
    return OpenAt(folder.Fd(), name, mode, true);
}

bool File::OpenAt(int dirFd, const std::string& path, OpenMode mode, bool noFollow)
{
    Close();
    m_failed = false;
    int flags = O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0);
    switch (mode) {
    // Non-blocking, so that opening a FIFO can't wait for a writer forever.
    case OpenMode::Read: flags |= O_RDONLY | O_NONBLOCK; break;
    case OpenMode::CreateNew: flags |= O_WRONLY | O_CREAT | O_EXCL; break;
    case OpenMode::CreateAlways: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case OpenMode::Append: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    }
    do {
        m_fd = ::openat(dirFd, path.c_str(), flags, 0666);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0) {
        m_openError = errno == EEXIST         ? OpenError::AlreadyExists
                      : errno == ENAMETOOLONG ? OpenError::NameTooLong
                                              : OpenError::Other;
        return false;
    }
    if (mode == OpenMode::Read) {
        // Folders, FIFOs and devices open for reading too, but are no files
        // to read: a FIFO would block and a device never end. (A regular file
        // reads the same with O_NONBLOCK, so it stays.)
        struct stat st {};
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(m_fd);
            m_fd = -1;
            m_openError = OpenError::Other;
            return false;
        }
    }
    m_openError = OpenError::None;
    m_buffered = mode == OpenMode::CreateNew || mode == OpenMode::CreateAlways;
    m_buffer.clear();
    return true;
}

namespace {

// Reads up to size bytes with call (read or pread from where it is told),
// retrying interruptions and short counts until the end of the file.
template <typename Call>
size_t ReadFully(unsigned char* out, size_t size, bool& failed, Call call)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = call(out + done, size - done, done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failed = true;
            break;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

}  // namespace

size_t File::Read(void* buffer, size_t size)
{
    if (m_fd < 0) {
        m_failed = true;
        return 0;
    }
    return ReadFully(static_cast<unsigned char*>(buffer), size, m_failed,
                     [this](unsigned char* at, size_t n, size_t) { return ::read(m_fd, at, n); });
}

size_t File::ReadAt(uint64_t offset, void* buffer, size_t size)
{
    if (m_fd < 0) {
        m_failed = true;
        return 0;
    }
    return ReadFully(static_cast<unsigned char*>(buffer), size, m_failed, [&](unsigned char* at, size_t n, size_t done) {
        return ::pread(m_fd, at, n, static_cast<off_t>(offset + done));
    });
}

namespace {

FileStamp StampFrom(const struct stat& st)
{
    FileStamp s;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = static_cast<uint64_t>(st.st_size);
    s.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return s;
}

}  // namespace

bool StampOf(int fd, FileStamp& stamp)
{
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return false;
    stamp = StampFrom(st);
    return true;
}

bool StampOfPath(const std::string& path, FileStamp& stamp)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    stamp = StampFrom(st);
    return true;
}

bool File::Write(const void* data, size_t size)
{
    if (m_nowhere && !m_failed) {
        m_position += size;
        m_extent = std::max(m_extent, m_position);
        return data != nullptr || size == 0;
    }
    if (m_fd < 0 || m_failed)
        return false;
    if (!m_buffered)
        return WriteThrough(data, size);
    if (m_buffer.size() + size > kWriteBuffer && !FlushBuffer())
        return false;
    if (size >= kWriteBuffer)
        return WriteThrough(data, size);
    if (m_buffer.capacity() < kWriteBuffer)
        m_buffer.reserve(kWriteBuffer);
    const auto* in = static_cast<const unsigned char*>(data);
    m_buffer.insert(m_buffer.end(), in, in + size);
    return true;
}

void File::StartWriteBack()
{
    if (m_fd >= 0 && FlushBuffer())
        ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool File::FlushBuffer()
{
    if (m_buffer.empty())
        return !m_failed;
    const bool ok = WriteThrough(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
    return ok;
}

bool File::WriteThrough(const void* data, size_t size)
{
    if (m_fd < 0 || m_failed)
        return false;
    if (!TakeFromBudget(size)) {
        m_failed = true;
        return false;
    }
    const auto* in = static_cast<const unsigned char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, in + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_failed = true;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool File::Seek(uint64_t offset)
{
    if (m_nowhere) {
        m_position = offset;
        return !m_failed;
    }
    if (!FlushBuffer() || m_fd < 0 || ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        m_failed = true;
        return false;
    }
    return true;
}

int64_t File::Size()
{
    if (m_nowhere)
        return static_cast<int64_t>(m_extent);
    struct stat st {};
    if (!FlushBuffer() || m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

bool File::Flush()
{
    if (m_nowhere)
        return !m_failed;
    if (!FlushBuffer() || m_fd < 0)
        return false;
    if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS) {
        // EINVAL and EROFS: a pipe or special file that can't be synced loses nothing.
        m_failed = true;
        return false;
    }
    return true;
}

bool File::Close()
{
    if (m_nowhere) {
        m_nowhere = false;
        return !m_failed;
    }
    if (m_fd < 0)
        return true;
    const bool flushed = FlushBuffer();
    const int rc = ::close(m_fd);
    m_fd = -1;
    // After close the descriptor is gone even on EINTR; only EIO-like errors mean lost data.
    if (rc != 0 && errno != EINTR) {
        m_failed = true;
        return false;
    }
    return flushed;
}

namespace {

// Errors of copy_file_range that mean "not here", not "failed".
bool KernelCopyRefused(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF;
}

}  // namespace

size_t File::CopyFrom(int in, uint64_t offset, size_t size)
{
    // The test budget must see every byte, so the kernel copy is skipped under it.
    if (m_nowhere || m_fd < 0 || m_failed || g_writeBudget.load(std::memory_order_relaxed) >= 0 || !FlushBuffer())
        return 0;
    auto from = static_cast<loff_t>(offset);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::copy_file_range(in, &from, m_fd, nullptr, size - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && !KernelCopyRefused(errno))
            m_failed = true;
        break;
    }
    return done;
}

bool File::AppendFrom(File& in)
{
    if (!FlushBuffer() || m_fd < 0 || in.m_fd < 0)
        return false;
    constexpr size_t kChunk = 1 << 20;
    // The kernel copies as much as it is allowed in one call.
    constexpr size_t kKernelChunk = size_t{1} << 30;
    // The test budget must see every byte, so the kernel copy is skipped under it.
    bool kernelCopy = g_writeBudget.load(std::memory_order_relaxed) < 0;
    std::unique_ptr<unsigned char[]> buffer;
    for (;;) {
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in.m_fd, nullptr, m_fd, nullptr, kKernelChunk, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return true;
            if (errno == EINTR)
                continue;
            if (!KernelCopyRefused(errno)) {
                m_failed = true;
                return false;
            }
            kernelCopy = false;
        }
        if (!buffer)
            buffer.reset(new unsigned char[kChunk]);
        const size_t got = in.Read(buffer.get(), kChunk);
        if (in.Failed())
            return false;
        if (got == 0)
            return true;
        if (!Write(buffer.get(), got))
            return false;
    }
}

bool ReadWholeFile(const std::string& path, std::string& out, size_t maxSize)
{
    File file;
    if (!file.Open(path, OpenMode::Read))
        return false;
    const int64_t size = file.Size();
    if (size < 0 || static_cast<uint64_t>(size) > maxSize)
        return false;
    out.resize(static_cast<size_t>(size));
    const size_t got = file.Read(out.data(), out.size());
    out.resize(got);
    return !file.Failed();
}

namespace {

std::mutex g_listenerLock;
FileEventListener g_listener;

bool Moved(bool ok, int folder, const std::string& from, const std::string& to)
{
    if (ok) {
        TellFileEvent(FileEvent::Removed, folder, from);
        TellFileEvent(FileEvent::Created, folder, to);
    }
    return ok;
}

bool LinkThenUnlink(const std::string& from, const std::string& to)
{
    // File systems without renameat2: link refuses an existing name, then the old name goes.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    if (::unlink(from.c_str()) != 0) {
        ::unlink(to.c_str());
        return false;
    }
    return true;
}

}  // namespace

void SetFileEventListener(FileEventListener listener)
{
    std::lock_guard<std::mutex> lock(g_listenerLock);
    g_listener = std::move(listener);
}

void TellFileEvent(FileEvent event, int folder, const std::string& name)
{
    std::lock_guard<std::mutex> lock(g_listenerLock);
    if (g_listener)
        g_listener(event, folder, name);
}

bool RemoveRegularFileAt(int folderFd, const std::string& name)
{
    struct stat st {};
    if (folderFd < 0 || name.empty() || name.find('/') != std::string::npos)
        return false;
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode) && (::unlinkat(folderFd, name.c_str(), 0) == 0 || errno == ENOENT);
}

Folder::~Folder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Folder::Folder(Folder&& other) noexcept : m_fd(other.m_fd), m_path(std::move(other.m_path))
{
    other.m_fd = -1;
}

Folder& Folder::operator=(Folder&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        m_path = std::move(other.m_path);
        other.m_fd = -1;
    }
    return *this;
}

bool Folder::Open(const std::string& path, bool noFollow)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_path = path;
    if (!m_path.empty() && m_path.back() != '/')
        m_path += '/';
    // A trailing slash would make the kernel follow a link there.
    std::string name = path.empty() ? "." : path;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    do {
        m_fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
    } while (m_fd < 0 && errno == EINTR);
    return m_fd >= 0;
}

bool Folder::Holds(const std::string& name) const
{
    struct stat st {};
    return ::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

bool Folder::HoldsRegularFile(const std::string& name) const
{
    struct stat st {};
    return ::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

bool Folder::Remove(const std::string& name) const
{
    if (m_fd < 0 || ::unlinkat(m_fd, name.c_str(), 0) != 0)
        return false;
    TellFileEvent(FileEvent::Removed, m_fd, name);
    return true;
}

bool Folder::RenameNoReplace(const std::string& from, const std::string& to) const
{
    if (m_fd < 0)
        return false;
    bool moved = false;
#if defined(SYS_renameat2) && defined(RENAME_NOREPLACE)
    moved = ::syscall(SYS_renameat2, m_fd, from.c_str(), m_fd, to.c_str(), RENAME_NOREPLACE) == 0;
    if (!moved && errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
#endif
    if (!moved) {
        // File systems without renameat2: link refuses an existing name, then the old name goes.
        if (::linkat(m_fd, from.c_str(), m_fd, to.c_str(), 0) != 0)
            return false;
        if (::unlinkat(m_fd, from.c_str(), 0) != 0) {
            ::unlinkat(m_fd, to.c_str(), 0);
            return false;
        }
    }
    return Moved(true, m_fd, from, to);
}

bool Folder::RenameReplacing(const std::string& from, const std::string& to) const
{
    return m_fd >= 0 && Moved(::renameat(m_fd, from.c_str(), m_fd, to.c_str()) == 0, m_fd, from, to);
}

bool Folder::SyncFileSystem() const
{
    return m_fd >= 0 && ::syncfs(m_fd) == 0;
}

bool Folder::Sync() const
{
    return m_fd >= 0 && (::fsync(m_fd) == 0 || errno == EINVAL || errno == EROFS);
}

bool DeleteFile(const std::string& path)
{
    if (::unlink(path.c_str()) != 0)
        return false;
    TellFileEvent(FileEvent::Removed, -1, path);
    return true;
}

bool RenameNoReplace(const std::string& from, const std::string& to)
{
#if defined(SYS_renameat2) && defined(RENAME_NOREPLACE)
    if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return Moved(true, -1, from, to);
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
#endif
    return Moved(LinkThenUnlink(from, to), -1, from, to);
}

bool RenameReplacing(const std::string& from, const std::string& to)
{
    return Moved(::rename(from.c_str(), to.c_str()) == 0, -1, from, to);
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace platform
