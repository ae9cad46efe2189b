#include "audio/wave_reader.h"

#include <cstring>
#include <utility>

namespace {

uint16_t GetU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t GetU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

CWaveReader::~CWaveReader()
{
    Close();
}

bool CWaveReader::Open(const std::string& path)
{
    platform::File file;
    if (!file.Open(path, platform::OpenMode::Read)) {
        Close();
        return false;
    }
    return Open(std::move(file));
}

bool CWaveReader::Open(platform::File&& file)
{
    Close();
    m_format = WaveFormat{};
    m_position = 0;
    m_file = std::move(file);
    return m_file.IsOpen() && m_file.Seek(0) && CheckHeader();
}

void CWaveReader::Close()
{
    m_file.Close();
}

bool CWaveReader::ReadExact(void* buffer, size_t size)
{
    const size_t got = m_file.Read(buffer, size);
    m_position += got;
    return got == size && !m_file.Failed();
}

bool CWaveReader::Skip(uint64_t bytes)
{
    // A skip past the end is caught by the next read coming up short.
    m_position += bytes;
    return m_file.Seek(m_position);
}

bool CWaveReader::CheckHeader()
{
    uint8_t chunk[8];
    uint8_t form[4];
    if (!ReadExact(chunk, 8) || std::memcmp(chunk, "RIFF", 4) != 0)
        return false;
    if (!ReadExact(form, 4) || std::memcmp(form, "WAVE", 4) != 0)
        return false;
    if (!ReadExact(chunk, 8) || std::memcmp(chunk, "fmt ", 4) != 0)
        return false;
    const uint32_t fmtLength = GetU32(chunk + 4);
    uint8_t fmt[16];
    if (!ReadExact(fmt, 16))
        return false;
    m_format.formatTag = GetU16(fmt);
    m_format.channels = GetU16(fmt + 2);
    m_format.samplesPerSec = GetU32(fmt + 4);
    m_format.avgBytesPerSec = GetU32(fmt + 8);
    m_format.blockAlign = GetU16(fmt + 12);
    m_format.bitsPerSample = GetU16(fmt + 14);
    if (m_format.formatTag != 1)
        return false;
    if (fmtLength > 16 && !Skip(fmtLength - 16u))
        return false;
    if (!ReadExact(chunk, 8))
        return false;
    if (std::memcmp(chunk, "fact", 4) == 0) {
        if (!Skip(GetU32(chunk + 4)) || !ReadExact(chunk, 8))
            return false;
    }
    return std::memcmp(chunk, "data", 4) == 0;
}

bool CWaveReader::Read(void* left, void* right, size_t& count, bool& end)
{
    count = 0;
    if (end || !m_file.IsOpen()) {
        end = true;
        return true;
    }
    const bool stereo = m_format.channels == 2;
    const bool wide = m_format.bitsPerSample == 16;
    const size_t items = stereo ? 2 * kWaveBlockFrames : kWaveBlockFrames;
    uint8_t raw[4 * kWaveBlockFrames];
    const size_t bytesWanted = items * (wide ? 2 : 1);
    const size_t got = m_file.Read(raw, bytesWanted);
    m_position += got;
    if (m_file.Failed()) {
        end = true;
        return false;
    }
    const size_t itemsRead = got / (wide ? 2 : 1);
    // A trailing half sample or half frame is not delivered.
    const size_t frames = stereo ? itemsRead / 2 : itemsRead;
    if (frames == 0) {
        end = true;
        return true;
    }
    if (wide) {
        auto* l = static_cast<int16_t*>(left);
        auto* r = static_cast<int16_t*>(right);
        for (size_t k = 0; k < frames; ++k) {
            if (stereo) {
                l[k] = static_cast<int16_t>(GetU16(raw + 4 * k));
                r[k] = static_cast<int16_t>(GetU16(raw + 4 * k + 2));
            } else {
                l[k] = static_cast<int16_t>(GetU16(raw + 2 * k));
            }
        }
    } else {
        auto* l = static_cast<uint8_t*>(left);
        auto* r = static_cast<uint8_t*>(right);
        for (size_t k = 0; k < frames; ++k) {
            if (stereo) {
                l[k] = raw[2 * k];
                r[k] = raw[2 * k + 1];
            } else {
                l[k] = raw[k];
            }
        }
    }
    count = frames;
    return true;
}
