// RAII file handle over POSIX descriptors: the only way the core reads and
// writes files. Every read and write reports what really happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

enum class OpenMode {
    Read,          // existing regular file (or a link to one), read only
    CreateNew,     // new file, write only; fails with AlreadyExists if the name is taken
    CreateAlways,  // create or truncate, write only (only for files the user chose to replace)
    Append,        // create if missing, and add to the end; every Write goes straight to the system
};

enum class OpenError { None, AlreadyExists, NameTooLong, Other };

// What tells one file from another, and the same file before and after a
// change: identity, size, and the times of its last write and change.
struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modified = 0;  // nanoseconds
    int64_t changed = 0;
    bool SameFile(const FileStamp& o) const { return device == o.device && inode == o.inode; }
    bool operator==(const FileStamp&) const = default;
};
bool StampOf(int fd, FileStamp& stamp);
// Follows links: the file the path names now.
bool StampOfPath(const std::string& path, FileStamp& stamp);

// An open folder. Files made, moved and removed by name in it stay in it
// even when its path is renamed or replaced by a link meanwhile.
class Folder {
public:
    Folder() = default;
    ~Folder();
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // Opens the folder at path ("" or "./" for the current one); false for
    // anything that is no folder, and with noFollow for a link as its last part.
    bool Open(const std::string& path, bool noFollow = false);
    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    // The path it was opened by, ending in '/' unless empty: for showing and
    // for telling others, never for reaching files.
    const std::string& Path() const { return m_path; }
    std::string PathOf(const std::string& name) const { return m_path + name; }

    // True when the name is held by anything: file, folder, FIFO, link,
    // dangling link included.
    bool Holds(const std::string& name) const;
    // True for a regular file under the name itself, no link followed.
    bool HoldsRegularFile(const std::string& name) const;
    bool Remove(const std::string& name) const;
    // Moves a file within the folder, never replacing anything under to.
    bool RenameNoReplace(const std::string& from, const std::string& to) const;
    bool RenameReplacing(const std::string& from, const std::string& to) const;
    // Puts the folder's entries on the disk.
    bool Sync() const;
    // Puts everything written to the folder's file system on the disk: one
    // call instead of one per file where a folder takes many at once.
    bool SyncFileSystem() const;

private:
    int m_fd = -1;
    std::string m_path;
};

class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Closes what is open first. On failure LastOpenError() tells why.
    bool Open(const std::string& path, OpenMode mode);
    // Opens a file of the folder by name; a link under the name is refused.
    bool OpenIn(const Folder& folder, const std::string& name, OpenMode mode);
    // Opens a file that is nowhere: writes and seeks succeed and are counted
    // (Size tells how large the file would be), nothing is stored, and reads
    // fail. For finding what a conversion would write without writing it.
    void OpenNowhere();
    bool IsOpen() const { return m_fd >= 0 || m_nowhere; }
    // The descriptor, for mapping the file; -1 when none.
    int Fd() const { return m_fd; }
    OpenError LastOpenError() const { return m_openError; }

    // Reads up to size bytes, retrying short reads until end of file.
    // Returns the count read; a read error sets Failed() and ends the read.
    size_t Read(void* buffer, size_t size);
    // The same from offset, leaving the file's position alone.
    size_t ReadAt(uint64_t offset, void* buffer, size_t size);
    // Writes all size bytes or returns false (disk full, I/O error). Files
    // opened for writing gather small writes in a buffer, so an error may be
    // reported by a later Write, Seek, Size, Flush or Close instead.
    bool Write(const void* data, size_t size);
    bool Seek(uint64_t offset);
    // -1 when the size can't be had.
    int64_t Size();
    // Asks the system to put the data on the disk.
    bool Flush();
    // Asks the system to start writing what was written so far, without
    // waiting: a later Flush then waits for less.
    void StartWriteBack();
    // True if the descriptor closed cleanly; a second call does nothing and returns true.
    bool Close();

    bool Failed() const { return m_failed; }

    // Appends everything from the current position of in to this file, in the
    // kernel where it can. False when a read or a write fails.
    bool AppendFrom(File& in);
    // Appends size bytes of the file open as descriptor in, from offset,
    // copied in the kernel. Returns the count copied, which falls short where
    // the kernel won't copy (another file system, a test budget, a file that
    // is nowhere) or the file ends; a failed write also sets Failed().
    size_t CopyFrom(int in, uint64_t offset, size_t size);

private:
    bool OpenAt(int dirFd, const std::string& path, OpenMode mode, bool noFollow);
    bool WriteThrough(const void* data, size_t size);
    bool FlushBuffer();

    int m_fd = -1;
    bool m_failed = false;
    bool m_buffered = false;
    bool m_nowhere = false;
    uint64_t m_position = 0;  // where nowhere writes go, and how far they went
    uint64_t m_extent = 0;
    std::vector<unsigned char> m_buffer;
    OpenError m_openError = OpenError::None;
};

// Reads a whole small file into out, at most maxSize bytes. False on any error
// or when the file is larger.
bool ReadWholeFile(const std::string& path, std::string& out, size_t maxSize);

// What this process does to files, told to one listener: a worker process
// tells its parent, which can then remove what a worker that died left
// behind. Each file is told by the descriptor of its folder and its name
// there; files reached by path alone are told with folder -1 and the path.
// Temporary files (pending_file.h) come and go; Created and Removed follow
// moves and deletions; locks (folder_lock.h) are taken and let go.
enum class FileEvent { TempCreated, TempGone, Created, Removed, LockTaken, LockGone };
// One listener per process; an empty function removes it.
using FileEventListener = std::function<void(FileEvent event, int folder, const std::string& name)>;
void SetFileEventListener(FileEventListener listener);
void TellFileEvent(FileEvent event, int folder, const std::string& name);

// Removes name from the folder open as folderFd when it is a regular file
// (never a link, a folder or anything else). Gone already counts as removed.
bool RemoveRegularFileAt(int folderFd, const std::string& name);

bool DeleteFile(const std::string& path);
// Moves from to to, never replacing an existing to.
bool RenameNoReplace(const std::string& from, const std::string& to);
// Moves from to to in one step, replacing to: only for a file the user chose to overwrite.
bool RenameReplacing(const std::string& from, const std::string& to);
// True when both paths name the same existing file (links and other spellings included).
bool SameFile(const std::string& a, const std::string& b);

namespace testing {
// Makes every File::Write fail once the bytes written through this hook's
// lifetime reach the budget, as a full disk would. A negative budget turns it
// off. For tests only; the hook is process-wide.
void SetWriteBudget(int64_t bytes);
}  // namespace testing

}  // namespace platform
