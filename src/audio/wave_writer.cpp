#include "audio/wave_writer.h"

#include "audio/wave_format.h"

namespace {

void PutSample(uint8_t* p, int16_t v)
{
    const auto u = static_cast<uint16_t>(v);
    p[0] = static_cast<uint8_t>(u);
    p[1] = static_cast<uint8_t>(u >> 8);
}

}  // namespace

CWaveWriter::~CWaveWriter()
{
    Close();
}

bool CWaveWriter::Open(const std::string& path, bool stereo, uint16_t bitsPerSample, uint32_t sampleRate)
{
    platform::PendingFile out;
    return bitsPerSample == 16 && sampleRate != 0 && out.Create(path) &&
           Open(std::move(out), stereo, bitsPerSample, sampleRate);
}

bool CWaveWriter::Open(platform::PendingFile out, bool stereo, uint16_t bitsPerSample, uint32_t sampleRate)
{
    Close();
    if (bitsPerSample != 16 || sampleRate == 0 || !out.IsPending())
        return false;
    m_file = std::move(out);
    m_channels = stereo ? 2 : 1;
    m_dataBytes = 0;
    m_failed = false;
    const auto header = MakeWaveHeader(m_channels, bitsPerSample, sampleRate);
    if (!m_file.Out().Write(header.data(), header.size())) {
        Discard();
        return false;
    }
    return true;
}

bool CWaveWriter::Write(const int16_t* left, const int16_t* right, size_t count)
{
    if (!m_file.IsPending() || m_failed)
        return false;
    if (count == 0)
        return true;
    const size_t bytes = count * m_channels * 2;
    if (m_dataBytes + bytes > kMaxWaveDataBytes) {
        m_failed = true;
        return false;
    }
    if (m_buffer.size() < bytes)
        m_buffer.resize(bytes);
    uint8_t* p = m_buffer.data();
    for (size_t i = 0; i < count; ++i) {
        PutSample(p, left[i]);
        p += 2;
        if (m_channels == 2) {
            PutSample(p, right[i]);
            p += 2;
        }
    }
    if (!m_file.Out().Write(m_buffer.data(), bytes)) {
        m_failed = true;
        return false;
    }
    m_dataBytes += bytes;
    return true;
}

bool CWaveWriter::Close()
{
    if (!m_file.IsPending())
        return true;
    bool ok = !m_failed && PatchWaveLengths(m_file.Out()) && m_file.MoveInto() == platform::MoveOutcome::Moved;
    m_file.Discard();
    m_failed = false;
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    return ok;
}

bool CWaveWriter::Close(platform::PendingFile& out)
{
    const bool ok = m_file.IsPending() && !m_failed && PatchWaveLengths(m_file.Out()) && m_file.Finish();
    if (ok)
        out = std::move(m_file);
    m_file.Discard();
    m_failed = false;
    return ok;
}

void CWaveWriter::Discard()
{
    m_file.Discard();
    m_failed = false;
}
