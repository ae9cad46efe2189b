// A file's bytes mapped into memory, read only: a large movie is read where
// the system already holds it, with no copy and no fresh memory.
//
// A mapped file that shrinks (another program truncates it) or whose device
// fails would end the process with SIGBUS at the next read of a lost page. A
// process-wide handler turns that into zeros instead: the pages from the
// fault on read as zeros and Damaged() tells the owner, which must then
// distrust everything it read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

class File;

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the first length bytes of an open file (length > 0); false when
    // the system won't (the caller reads the file instead).
    bool Map(const File& file, size_t length);
    void Unmap();

    const uint8_t* Data() const { return m_data; }
    size_t Size() const { return m_size; }
    // A descriptor of the file mapped, open while the mapping stands.
    int Fd() const { return m_fd; }
    // True once a read hit a page the file no longer has.
    bool Damaged() const;

private:
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    int m_fd = -1;
    int m_slot = -1;  // in the table the fault handler reads
};

}  // namespace platform
