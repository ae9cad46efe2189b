// Files looked at through a folder opened once, never through a link: what
// resume may remove, and the report and lists, which must be regular files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

#include "platform/file.h"

namespace platform {

// Identity of a file on this machine.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};
bool IdOf(const std::string& path, FileId& id);  // follows links

// A regular file opened for reading without blocking or following a link in
// its last part: a FIFO, a folder, a device or a link is refused.
class RegularReader {
public:
    RegularReader() = default;
    ~RegularReader();
    RegularReader(const RegularReader&) = delete;
    RegularReader& operator=(const RegularReader&) = delete;

    // name inside folder, never through a link.
    bool OpenIn(const Folder& folder, const std::string& name);
    // A path given by the user (links followed: the user named it).
    bool Open(const std::string& path);
    // The standard input, whatever it is: "-" asks for it.
    void UseStandardInput();
    // -1 on failure, 0 at the end.
    ssize_t Read(void* buffer, size_t size);
    uint64_t Size() const { return m_size; }
    FileId Id() const { return m_id; }
    // Why the last Open failed, in words.
    const std::string& Why() const { return m_why; }
    // The last Open failed because there is no such file.
    bool Missing() const { return m_missing; }

private:
    bool Take(int fd);

    int m_fd = -1;
    bool m_own = true;
    uint64_t m_size = 0;
    FileId m_id;
    std::string m_why;
    bool m_missing = false;
};

// Removes name from folder only while it is still the regular file id.
bool RemoveIfSame(const Folder& folder, const std::string& name, const FileId& id);

// A regular file that records are added to, refused when it is anything
// else (a FIFO without a reader must not block the run).
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    bool Open(const std::string& path);
    bool IsOpen() const { return m_fd >= 0; }
    // True when the file has bytes and its last one ends no line.
    bool EndsInsideALine() const;
    // Every byte written or false (disk full, I/O error).
    bool Write(const std::string& bytes);
    // Flushes to the disk and closes; false when either failed.
    bool Close();
    const std::string& Why() const { return m_why; }

private:
    int m_fd = -1;
    std::string m_why;
};

// The identity of a folder this process may write to; false when it can't
// be had or the folder can't be written.
bool WritableFolderId(const std::string& folder, FileId& id);

// How many descriptors this process may hold open.
size_t OpenFileLimit();

}  // namespace platform
