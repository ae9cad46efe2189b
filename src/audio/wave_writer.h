// Writes the program's one WAV layout: the 44-byte header of wave_format.h,
// then interleaved 16-bit little-endian samples; the lengths are filled in at
// Close.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/pending_file.h"

class CWaveWriter {
public:
    CWaveWriter() = default;
    virtual ~CWaveWriter();
    CWaveWriter(const CWaveWriter&) = delete;
    CWaveWriter& operator=(const CWaveWriter&) = delete;

    // Starts a new file (an existing file is never replaced) and writes the
    // header with placeholder lengths. The file is written under a temporary
    // name and takes its own at Close. Samples are always 16-bit, so any other
    // width is refused rather than written into a header that would lie.
    bool Open(const std::string& path, bool stereo, uint16_t bitsPerSample, uint32_t sampleRate);
    // The same into a new file the caller created, which Close then hands
    // back finished instead of moving it.
    bool Open(platform::PendingFile out, bool stereo, uint16_t bitsPerSample, uint32_t sampleRate);
    bool IsOpen() const { return m_file.IsPending(); }
    uint16_t Channels() const { return m_channels; }

    // Appends count frames: left[i] (and right[i] when stereo; right is not
    // read for mono). False once any write has failed or the file would
    // outgrow the 32-bit lengths of the format.
    bool Write(const int16_t* left, const int16_t* right, size_t count);

    // Patches the lengths, closes and moves the file under its name. False
    // (and no file) if any write, the patch, the close or the move failed.
    // Harmless when nothing is open.
    bool Close();
    // Ends a writer opened on a caller's file: patched, synced and closed, the
    // file goes back to out, still under its temporary name.
    bool Close(platform::PendingFile& out);
    // Sample frames written so far.
    uint64_t Frames() const { return m_channels ? m_dataBytes / (2u * m_channels) : 0; }

    // Gives up: closes and deletes the file this writer started.
    void Discard();

private:
    platform::PendingFile m_file;
    uint16_t m_channels = 0;
    uint64_t m_dataBytes = 0;
    bool m_failed = false;
    std::vector<uint8_t> m_buffer;  // reused between writes
};
