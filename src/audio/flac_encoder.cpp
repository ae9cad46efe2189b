#include "audio/flac_encoder.h"

#include <FLAC/format.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>

namespace {

// The reference command line tool's default level: its files and ours are
// alike in size and speed.
constexpr uint32_t kCompressionLevel = 5;

}  // namespace

struct CFlacEncoder::Stream {
    FLAC__StreamEncoder* encoder = nullptr;
    platform::File* out = nullptr;
    uint64_t position = 0;  // offset the library's next write lands at
    bool failed = false;    // a write or seek failed

    static FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder*, const FLAC__byte buffer[], size_t bytes,
                                                uint32_t, uint32_t, void* client)
    {
        auto* self = static_cast<Stream*>(client);
        if (!self->out || self->failed || !self->out->Write(buffer, bytes)) {
            self->failed = true;
            return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        }
        self->position += bytes;
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    }

    static FLAC__StreamEncoderSeekStatus Seek(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* client)
    {
        auto* self = static_cast<Stream*>(client);
        if (!self->out || self->failed || !self->out->Seek(offset)) {
            self->failed = true;
            return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
        }
        self->position = offset;
        return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    }

    static FLAC__StreamEncoderTellStatus Tell(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* client)
    {
        *offset = static_cast<Stream*>(client)->position;
        return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    }
};

void CFlacEncoder::StreamDeleter::operator()(Stream* stream) const
{
    // Deleting an encoder that is still open lets the library finish it; with
    // no file to write to, the callbacks refuse whatever it would write.
    stream->out = nullptr;
    if (stream->encoder)
        FLAC__stream_encoder_delete(stream->encoder);
    delete stream;
}

CFlacEncoder::CFlacEncoder() = default;

CFlacEncoder::~CFlacEncoder() = default;

bool CFlacEncoder::Open(platform::PendingFile& out, int channels, int bits, uint32_t sampleRate)
{
    Abandon();
    if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16) || !out.IsPending() ||
        !FLAC__format_sample_rate_is_valid(sampleRate))
        return false;
    m_stream.reset(new Stream);
    m_stream->encoder = FLAC__stream_encoder_new();
    m_stream->out = &out.Out();
    m_frames = 0;
    m_channels = channels;
    m_bits = bits;
    FLAC__StreamEncoder* e = m_stream->encoder;
    // A rate the frame headers can't name (above 65535 Hz and no multiple of
    // 10) is still valid FLAC, only outside the streamable subset. The
    // library records the samples' MD5 in the header unasked.
    const bool ready =
        e && FLAC__stream_encoder_set_channels(e, static_cast<uint32_t>(channels)) &&
        FLAC__stream_encoder_set_bits_per_sample(e, static_cast<uint32_t>(bits)) &&
        FLAC__stream_encoder_set_sample_rate(e, sampleRate) &&
        FLAC__stream_encoder_set_streamable_subset(e, FLAC__format_sample_rate_is_subset(sampleRate)) &&
        FLAC__stream_encoder_set_compression_level(e, kCompressionLevel) &&
        FLAC__stream_encoder_init_stream(e, Stream::Write, Stream::Seek, Stream::Tell, nullptr, m_stream.get()) ==
            FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    if (!ready) {
        Abandon();
        return false;
    }
    return true;
}

bool CFlacEncoder::Process(size_t count)
{
    const FLAC__int32* planes[2] = {m_left.data(), m_right.data()};
    if (!FLAC__stream_encoder_process(m_stream->encoder, planes, static_cast<uint32_t>(count)) || m_stream->failed) {
        m_failed = true;
        return false;
    }
    m_frames += count;
    return true;
}

bool CFlacEncoder::Encode(const int16_t* left, const int16_t* right, size_t count)
{
    if (!IsOpen() || m_failed)
        return false;
    const bool stereo = m_channels == 2;
    const auto outside = [](int32_t v) { return v < -128 || v > 127; };
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(kBlockFrames, count - done);
        const auto end = static_cast<std::ptrdiff_t>(n);
        std::copy(left + done, left + done + n, m_left.begin());
        if (stereo)
            std::copy(right + done, right + done + n, m_right.begin());
        if (m_bits == 8 && (std::any_of(m_left.begin(), m_left.begin() + end, outside) ||
                            (stereo && std::any_of(m_right.begin(), m_right.begin() + end, outside)))) {
            m_failed = true;
            return false;
        }
        if (!Process(n))
            return false;
        done += n;
    }
    return true;
}

bool CFlacEncoder::EncodeUnsigned8(const uint8_t* left, const uint8_t* right, size_t count)
{
    if (!IsOpen() || m_failed || m_bits != 8)
        return false;
    const auto toSigned = [](uint8_t v) { return static_cast<int32_t>(v) - 128; };
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(kBlockFrames, count - done);
        std::transform(left + done, left + done + n, m_left.begin(), toSigned);
        if (m_channels == 2)
            std::transform(right + done, right + done + n, m_right.begin(), toSigned);
        if (!Process(n))
            return false;
        done += n;
    }
    return true;
}

bool CFlacEncoder::Finish()
{
    if (!IsOpen())
        return false;
    // After a failure the library is in an error state: finishing would
    // only try to write again.
    const bool ok = !m_failed && FLAC__stream_encoder_finish(m_stream->encoder) && !m_stream->failed;
    Abandon();
    return ok;
}

void CFlacEncoder::Abandon()
{
    m_stream.reset();
    m_failed = false;
}
