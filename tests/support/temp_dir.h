// A scratch folder removed with everything in it when the test ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path of a name inside the folder.
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    // Sorted names of the files in the folder.
    std::vector<std::string> List() const;

private:
    std::string m_path;
};

// Whole-file helpers for tests.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// Little-endian fields of file bytes.
uint32_t U32At(const std::string& bytes, size_t at);
uint16_t U16At(const std::string& bytes, size_t at);
