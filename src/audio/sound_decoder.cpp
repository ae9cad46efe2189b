#include "audio/sound_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#ifdef ORVELLIN_HAVE_LIBAVCODEC
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/samplefmt.h>
}
#include <mutex>
#include <optional>

#include "platform/process.h"
#endif

namespace {

constexpr size_t kNellyBlock = 64;
// G.711 data goes to the decoder in packets of this many bytes at most, so a
// long sound never asks for one huge frame.
constexpr size_t kPcmPacket = 32 * 1024;

}  // namespace

#ifdef ORVELLIN_HAVE_LIBAVCODEC

namespace {

void SilentLog(void*, int, const char*, va_list) {}

// The library logs through one process-wide callback; the core prints nothing.
void SilenceLibraryOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_QUIET);
        av_log_set_callback(SilentLog);
    });
}

const AVCodec* FindDecoder(CodedFormat format)
{
    switch (format) {
    case CodedFormat::Nellymoser:
        return avcodec_find_decoder(AV_CODEC_ID_NELLYMOSER);
    case CodedFormat::Speex:
        // Only the wrapper of the Speex library itself: it follows one bit
        // stream across any number of frames. The library's own decoder
        // (FFmpeg 5.1) decodes one frame a packet, losing the second frame of
        // every two-frame packet microphones write.
        return avcodec_find_decoder_by_name("libspeex");
    case CodedFormat::ALaw:
        return avcodec_find_decoder(AV_CODEC_ID_PCM_ALAW);
    case CodedFormat::MuLaw:
        return avcodec_find_decoder(AV_CODEC_ID_PCM_MULAW);
    }
    return nullptr;
}

// As the library's own float-to-16-bit conversion: scale by 2^15, round to
// nearest (ties to even), saturate.
int16_t FloatToS16(float x)
{
    const float v = x * 32768.0f;
    if (std::isnan(v))
        return 0;
    if (v >= 32767.0f)
        return 32767;
    if (v <= -32768.0f)
        return -32768;
    return static_cast<int16_t>(std::lrintf(v));
}

// One decoded frame, interleaved, into out; false for a sample layout this
// program does not expect from these decoders.
bool ConvertFrame(const AVFrame* frame, int channels, std::vector<int16_t>& out)
{
    out.clear();
    if (frame->nb_samples <= 0)
        return true;
    if (frame->ch_layout.nb_channels != channels)
        return false;
    const size_t n = static_cast<size_t>(frame->nb_samples);
    const size_t ch = static_cast<size_t>(channels);
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_S16:
        out.resize(n * ch);
        for (size_t c = 0; c < ch; ++c) {
            const auto* src = reinterpret_cast<const int16_t*>(frame->extended_data[planar ? c : 0]);
            for (size_t i = 0; i < n; ++i)
                out[i * ch + c] = planar ? src[i] : src[i * ch + c];
        }
        return true;
    case AV_SAMPLE_FMT_FLT:
        out.resize(n * ch);
        for (size_t c = 0; c < ch; ++c) {
            const auto* src = reinterpret_cast<const float*>(frame->extended_data[planar ? c : 0]);
            for (size_t i = 0; i < n; ++i)
                out[i * ch + c] = FloatToS16(planar ? src[i] : src[i * ch + c]);
        }
        return true;
    default:
        return false;
    }
}

}  // namespace

struct CSoundDecoder::Context {
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    ~Context()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
    }
};

bool CSoundDecoder::Available(CodedFormat format)
{
    return FindDecoder(format) != nullptr;
}

const char* CSoundDecoder::DecoderName(CodedFormat format)
{
    const AVCodec* codec = FindDecoder(format);
    return codec ? codec->name : "";
}

bool CSoundDecoder::Open(CodedFormat format, uint32_t sampleRate, int channels)
{
    Close();
    SilenceLibraryOnce();
    const bool pcm = format == CodedFormat::ALaw || format == CodedFormat::MuLaw;
    if (format == CodedFormat::Speex)
        sampleRate = 16000;  // wideband whatever the tag says
    if (sampleRate == 0 || sampleRate > 1000000 || channels < 1 || channels > (pcm ? 2 : 1))
        return false;
    const AVCodec* codec = FindDecoder(format);
    if (!codec)
        return false;
    auto context = std::make_unique<Context>();
    context->codec = avcodec_alloc_context3(codec);
    context->packet = av_packet_alloc();
    context->frame = av_frame_alloc();
    if (!context->codec || !context->packet || !context->frame)
        return false;
    context->codec->sample_rate = static_cast<int>(sampleRate);
    av_channel_layout_default(&context->codec->ch_layout, channels);
    if (avcodec_open2(context->codec, codec, nullptr) < 0)
        return false;
    m_context = std::move(context);
    m_format = format;
    m_channels = channels;
    m_sampleRate = sampleRate;
    m_unit = format == CodedFormat::Nellymoser ? kNellyBlock : pcm ? static_cast<size_t>(channels) : 0;
    return true;
}


bool CSoundDecoder::ReceiveFrames(const SampleSink& sink)
{
    bool ok = true;
    for (;;) {
        const int rc = avcodec_receive_frame(m_context->codec, m_context->frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return ok;
        if (rc < 0)
            return false;  // the rest of the packet is dropped by the library
        const bool converted = ConvertFrame(m_context->frame, m_channels, m_samples);
        av_frame_unref(m_context->frame);
        if (!converted)
            ok = false;
        else if (!m_samples.empty() && !sink(m_samples.data(), m_samples.size()))
            return false;
    }
}

bool CSoundDecoder::SendPacket(const uint8_t* data, size_t size, const SampleSink& sink)
{
    if (size == 0)
        return true;
    if (size > static_cast<size_t>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) ||
        av_new_packet(m_context->packet, static_cast<int>(size)) < 0) {
        m_lostBytes += size;
        return false;
    }
    // A packet of our own: decoders read ahead into the zeroed padding after it.
    std::memcpy(m_context->packet->data, data, size);
    // The Speex library prints a notification on standard error for every
    // packet over 2000 bytes (a DefineSound of more than half a second) and
    // for every damaged frame, and offers no way to stop it.
    std::optional<platform::QuietStandardError> quiet;
    if (m_format == CodedFormat::Speex)
        quiet.emplace();
    const int rc = avcodec_send_packet(m_context->codec, m_context->packet);
    av_packet_unref(m_context->packet);
    const bool sent = rc >= 0 || rc == AVERROR(EAGAIN);
    const bool received = ReceiveFrames(sink);
    if (sent && received)
        return true;
    m_lostBytes += size;
    return false;
}

bool CSoundDecoder::Decode(const uint8_t* data, size_t size, const SampleSink& sink)
{
    if (!m_context)
        return false;
    if (size == 0)
        return true;
    if (!data)
        return false;
    if (m_unit == 0)
        return SendPacket(data, size, sink);
    bool ok = true;
    if (!m_carry.empty()) {
        const size_t take = std::min(m_unit - m_carry.size(), size);
        m_carry.insert(m_carry.end(), data, data + take);
        data += take;
        size -= take;
        if (m_carry.size() < m_unit)
            return true;
        ok = SendPacket(m_carry.data(), m_carry.size(), sink);
        m_carry.clear();
    }
    // Nellymoser goes block by block, as the format frames it; G.711 in
    // packets of whole samples.
    const size_t step = m_format == CodedFormat::Nellymoser ? m_unit : kPcmPacket - kPcmPacket % m_unit;
    while (size >= m_unit) {
        const size_t n = std::min(step, size - size % m_unit);
        ok = SendPacket(data, n, sink) && ok;
        data += n;
        size -= n;
    }
    m_carry.assign(data, data + size);
    return ok;
}

bool CSoundDecoder::Flush(const SampleSink& sink)
{
    if (!m_context)
        return false;
    bool ok = true;
    if (!m_carry.empty()) {
        m_lostBytes += m_carry.size();
        m_carry.clear();
        ok = false;
    }
    std::optional<platform::QuietStandardError> quiet;
    if (m_format == CodedFormat::Speex)
        quiet.emplace();
    if (avcodec_send_packet(m_context->codec, nullptr) >= 0)
        ok = ReceiveFrames(sink) && ok;
    // Ready for another sound.
    avcodec_flush_buffers(m_context->codec);
    return ok;
}

#else  // built without libavcodec: no coded format is available

struct CSoundDecoder::Context {};

bool CSoundDecoder::Available(CodedFormat)
{
    return false;
}

const char* CSoundDecoder::DecoderName(CodedFormat)
{
    return "";
}

bool CSoundDecoder::Open(CodedFormat, uint32_t, int)
{
    Close();
    return false;
}


bool CSoundDecoder::SendPacket(const uint8_t*, size_t, const SampleSink&)
{
    return false;
}

bool CSoundDecoder::ReceiveFrames(const SampleSink&)
{
    return false;
}

bool CSoundDecoder::Decode(const uint8_t*, size_t, const SampleSink&)
{
    return false;
}

bool CSoundDecoder::Flush(const SampleSink&)
{
    return false;
}

#endif

void CSoundDecoder::Close()
{
    m_context.reset();
    m_channels = 0;
    m_sampleRate = 0;
    m_unit = 0;
    m_carry.clear();
    m_lostBytes = 0;
}

bool CSoundDecoder::IsOpen() const
{
    return m_context != nullptr;
}

CSoundDecoder::CSoundDecoder() = default;

CSoundDecoder::~CSoundDecoder() = default;
