// A scratch folder for the fuzz targets, which hand files to the code they fuzz.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

inline const std::string& ScratchFolder()
{
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvellin-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return pattern;
    }();
    return folder;
}

// Writes the input to a file of the scratch folder and returns its path.
inline std::string WriteInput(const char* name, const uint8_t* data, size_t size)
{
    const std::string path = ScratchFolder() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

// Empties the scratch folder for the next input.
inline void ClearScratch()
{
    for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder()))
        std::filesystem::remove(entry.path());
}
