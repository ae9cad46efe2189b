// Reads uncompressed PCM WAV files: the layout CWaveWriter writes, plus a
// longer format chunk and one "fact" chunk. Samples come out in blocks of at
// most kWaveBlockFrames frames, split into a left and a right plane.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"

// One MPEG-1 Layer III frame's worth of sample frames.
constexpr size_t kWaveBlockFrames = 1152;

struct WaveFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

class CWaveReader {
public:
    CWaveReader() = default;
    virtual ~CWaveReader();
    CWaveReader(const CWaveReader&) = delete;
    CWaveReader& operator=(const CWaveReader&) = delete;

    // Opens the file and checks its header; true when it is PCM and the data
    // chunk was found. On false the file may stay open until Close.
    bool Open(const std::string& path);
    // The same over a file already open for reading; it is read from its start.
    bool Open(platform::File&& file);
    void Close();

    const WaveFormat& Format() const { return m_format; }

    // Reads the next block. With 16 bits per sample left and right are
    // int16_t arrays, otherwise uint8_t arrays (unsigned samples, 128 is
    // silence), each of at least kWaveBlockFrames elements; right is written
    // only for stereo files. Files with other channel counts deliver their
    // raw samples to left. count receives the whole frames read; an empty
    // read sets end, which stays set. Returns false only on a read error, so
    // a damaged disk is never mistaken for the end of the sound.
    bool Read(void* left, void* right, size_t& count, bool& end);

private:
    bool CheckHeader();
    bool ReadExact(void* buffer, size_t size);
    bool Skip(uint64_t bytes);

    platform::File m_file;
    WaveFormat m_format;
    uint64_t m_position = 0;  // offset of the next byte to read
};
