#include "audio/mp3_encoder.h"

#include "audio/lame_lock.h"

#include <algorithm>
#include <cstdarg>
#include <lame/lame.h>

namespace {

// The core prints nothing; the library would talk on stderr otherwise.
void Silent(const char*, va_list) {}

// Frames per lame_encode_buffer call, so one call always fits m_buffer.
constexpr size_t kChunkFrames = 1152;

}  // namespace

void CMp3Encoder::ContextDeleter::operator()(lame_global_struct* gfp) const
{
    lame_close(gfp);
}

CMp3Encoder::CMp3Encoder() = default;

CMp3Encoder::~CMp3Encoder()
{
    Close();
}

bool CMp3Encoder::Open(const std::string& path)
{
    platform::PendingFile out;
    return out.Create(path) && Open(std::move(out));
}

bool CMp3Encoder::Open(platform::PendingFile out)
{
    Close();
    m_failed = false;
    m_initialized = false;
    m_file = std::move(out);
    if (!m_file.IsPending())
        return false;
    {
        std::lock_guard<std::mutex> setup(LameLock());
        m_lame.reset(lame_init());
    }
    if (!m_lame) {
        Discard();
        return false;
    }
    lame_set_errorf(m_lame.get(), Silent);
    lame_set_debugf(m_lame.get(), Silent);
    lame_set_msgf(m_lame.get(), Silent);
    return true;
}

void CMp3Encoder::SetSampleRate(int rate)
{
    if (m_lame)
        lame_set_in_samplerate(m_lame.get(), rate);
}

void CMp3Encoder::SetChannels(int channels)
{
    if (m_lame)
        lame_set_num_channels(m_lame.get(), std::clamp(channels, 1, 2));
}

void CMp3Encoder::SetMode(int mode)
{
    if (mode != kStereo && mode != kJointStereo && mode != kMono)
        mode = kStereo;
    if (m_lame)
        lame_set_mode(m_lame.get(), static_cast<MPEG_mode>(mode));
}

void CMp3Encoder::SetWriteVbrTag(bool on)
{
    if (m_lame)
        lame_set_bWriteVbrTag(m_lame.get(), on ? 1 : 0);
}

bool CMp3Encoder::InitParams()
{
    if (!m_lame || m_initialized)
        return false;
    {
        std::lock_guard<std::mutex> setup(LameLock());
        m_initialized = lame_init_params(m_lame.get()) >= 0;
    }
    return m_initialized;
}

uint32_t CMp3Encoder::ChosenRate(uint32_t rate, int channels)
{
    std::unique_ptr<lame_global_struct, ContextDeleter> lame;
    {
        std::lock_guard<std::mutex> setup(LameLock());
        lame.reset(lame_init());
    }
    if (!lame || rate == 0 || rate > 0x7FFFFFFF)
        return 0;
    lame_set_errorf(lame.get(), Silent);
    lame_set_debugf(lame.get(), Silent);
    lame_set_msgf(lame.get(), Silent);
    lame_set_num_channels(lame.get(), std::clamp(channels, 1, 2));
    lame_set_in_samplerate(lame.get(), static_cast<int>(rate));
    lame_set_bWriteVbrTag(lame.get(), 0);
    if (channels != 2)
        lame_set_mode(lame.get(), MONO);
    std::lock_guard<std::mutex> setup(LameLock());
    return lame_init_params(lame.get()) >= 0 ? static_cast<uint32_t>(lame_get_out_samplerate(lame.get())) : 0;
}

int CMp3Encoder::OutSampleRate() const
{
    return m_lame && m_initialized ? lame_get_out_samplerate(m_lame.get()) : 0;
}

bool CMp3Encoder::WriteOut(int bytes)
{
    if (bytes < 0 || static_cast<size_t>(bytes) > m_buffer.size())
        return false;
    return bytes == 0 || m_file.Out().Write(m_buffer.data(), static_cast<size_t>(bytes));
}

bool CMp3Encoder::Encode(const int16_t* left, const int16_t* right, size_t count)
{
    if (!m_initialized || m_failed)
        return false;
    if (lame_get_num_channels(m_lame.get()) == 1)
        right = left;
    for (size_t done = 0; done < count; done += kChunkFrames) {
        const int n = static_cast<int>(std::min(kChunkFrames, count - done));
        const int bytes = lame_encode_buffer(m_lame.get(), left + done, right + done, n,
                                             m_buffer.data(), static_cast<int>(m_buffer.size()));
        if (!WriteOut(bytes)) {
            m_failed = true;
            return false;
        }
    }
    return true;
}

bool CMp3Encoder::Flush()
{
    bool ok = !m_failed && m_initialized;
    if (ok) {
        const int bytes = lame_encode_flush(m_lame.get(), m_buffer.data(), static_cast<int>(m_buffer.size()));
        ok = WriteOut(bytes);
    }
    m_lame.reset();
    m_initialized = false;
    m_failed = false;
    return ok;
}

bool CMp3Encoder::Close()
{
    if (!m_lame && !m_file.IsPending())
        return true;
    const bool ok = Flush() && m_file.MoveInto() == platform::MoveOutcome::Moved;
    m_file.Discard();
    return ok;
}

bool CMp3Encoder::Close(platform::PendingFile& out)
{
    const bool ok = Flush() && m_file.Finish();
    if (ok)
        out = std::move(m_file);
    m_file.Discard();
    return ok;
}

void CMp3Encoder::Discard()
{
    m_lame.reset();
    m_file.Discard();
    m_initialized = false;
    m_failed = false;
}
