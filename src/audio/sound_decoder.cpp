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
#include <dlfcn.h>
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

// The functions of the codec library this file calls.
#define ORVELLIN_CODEC_FUNCTIONS(X)                                                                      \
    X(av_channel_layout_default) X(av_frame_alloc) X(av_frame_free) X(av_frame_unref)                  \
    X(av_get_packed_sample_fmt) X(av_log_set_callback) X(av_log_set_level) X(av_new_packet)            \
    X(av_packet_alloc) X(av_packet_free) X(av_packet_unref) X(av_sample_fmt_is_planar)                 \
    X(avcodec_alloc_context3) X(avcodec_find_decoder) X(avcodec_find_decoder_by_name)                  \
    X(avcodec_flush_buffers) X(avcodec_free_context) X(avcodec_open2) X(avcodec_receive_frame)         \
    X(avcodec_send_packet)

// The codec library is loaded when a coded sound first needs one of its
// decoders: most movies have none, and the hundred libraries it pulls in
// would cost every start of the program far more than reading a movie.
// The soname is the major version the headers describe, so the structures
// this file reads are laid out as it was compiled against.
struct CodecLibrary {
#define ORVELLIN_CODEC_MEMBER(name) decltype(&::name) name = nullptr;
    ORVELLIN_CODEC_FUNCTIONS(ORVELLIN_CODEC_MEMBER)
#undef ORVELLIN_CODEC_MEMBER
    bool loaded = false;
};

void SilentLog(void*, int, const char*, va_list) {}

CodecLibrary LoadCodecLibrary()
{
    CodecLibrary lib;
    // Never closed: decoders may live until the process ends.
    void* handle = ::dlopen("libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return lib;
    // The libavutil functions are found through libavcodec's own dependency on it.
#define ORVELLIN_CODEC_SYMBOL(name)                                                   \
    lib.name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name));            \
    if (!lib.name)                                                                     \
        return CodecLibrary{};
    ORVELLIN_CODEC_FUNCTIONS(ORVELLIN_CODEC_SYMBOL)
#undef ORVELLIN_CODEC_SYMBOL
    // The library logs through one process-wide callback; the core prints nothing.
    lib.av_log_set_level(AV_LOG_QUIET);
    lib.av_log_set_callback(SilentLog);
    lib.loaded = true;
    return lib;
}

// Loaded once, by whichever thread asks first.
const CodecLibrary& Codec()
{
    static const CodecLibrary lib = LoadCodecLibrary();
    return lib;
}

const AVCodec* FindDecoder(CodedFormat format)
{
    const CodecLibrary& av = Codec();
    if (!av.loaded)
        return nullptr;
    switch (format) {
    case CodedFormat::Nellymoser:
        return av.avcodec_find_decoder(AV_CODEC_ID_NELLYMOSER);
    case CodedFormat::Speex:
        // Only the wrapper of the Speex library itself: it follows one bit
        // stream across any number of frames. The library's own decoder
        // (FFmpeg 5.1) decodes one frame a packet, losing the second frame of
        // every two-frame packet microphones write.
        return av.avcodec_find_decoder_by_name("libspeex");
    case CodedFormat::ALaw:
        return av.avcodec_find_decoder(AV_CODEC_ID_PCM_ALAW);
    case CodedFormat::MuLaw:
        return av.avcodec_find_decoder(AV_CODEC_ID_PCM_MULAW);
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
    const CodecLibrary& av = Codec();
    const bool planar = av.av_sample_fmt_is_planar(format) != 0;
    switch (av.av_get_packed_sample_fmt(format)) {
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
        const CodecLibrary& av = Codec();
        av.av_frame_free(&frame);
        av.av_packet_free(&packet);
        av.avcodec_free_context(&codec);
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
    const bool pcm = format == CodedFormat::ALaw || format == CodedFormat::MuLaw;
    if (format == CodedFormat::Speex)
        sampleRate = 16000;  // wideband whatever the tag says
    if (sampleRate == 0 || sampleRate > 1000000 || channels < 1 || channels > (pcm ? 2 : 1))
        return false;
    const AVCodec* codec = FindDecoder(format);
    if (!codec)
        return false;
    const CodecLibrary& av = Codec();
    auto context = std::make_unique<Context>();
    context->codec = av.avcodec_alloc_context3(codec);
    context->packet = av.av_packet_alloc();
    context->frame = av.av_frame_alloc();
    if (!context->codec || !context->packet || !context->frame)
        return false;
    context->codec->sample_rate = static_cast<int>(sampleRate);
    av.av_channel_layout_default(&context->codec->ch_layout, channels);
    if (av.avcodec_open2(context->codec, codec, nullptr) < 0)
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
    const CodecLibrary& av = Codec();
    bool ok = true;
    for (;;) {
        const int rc = av.avcodec_receive_frame(m_context->codec, m_context->frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return ok;
        if (rc < 0)
            return false;  // the rest of the packet is dropped by the library
        const bool converted = ConvertFrame(m_context->frame, m_channels, m_samples);
        av.av_frame_unref(m_context->frame);
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
    const CodecLibrary& av = Codec();
    if (size > static_cast<size_t>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) ||
        av.av_new_packet(m_context->packet, static_cast<int>(size)) < 0) {
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
    const int rc = av.avcodec_send_packet(m_context->codec, m_context->packet);
    av.av_packet_unref(m_context->packet);
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
    const CodecLibrary& av = Codec();
    if (av.avcodec_send_packet(m_context->codec, nullptr) >= 0)
        ok = ReceiveFrames(sink) && ok;
    // Ready for another sound.
    av.avcodec_flush_buffers(m_context->codec);
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
