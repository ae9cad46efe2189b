#include "support/swf_builder.h"

#include "swf/adpcm_decoder.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <lzma.h>
#include <zlib.h>

void BitWriter::Put(uint32_t value, int bits)
{
    for (int i = bits - 1; i >= 0; --i) {
        if (m_bits % 8 == 0)
            m_bytes.push_back('\0');
        if ((value >> i) & 1u)
            m_bytes.back() = static_cast<char>(m_bytes.back() | (0x80 >> (m_bits % 8)));
        ++m_bits;
    }
}

std::string BitWriter::Bytes() const
{
    return m_bytes;
}

std::string U16(uint16_t v)
{
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string U32(uint32_t v)
{
    return U16(static_cast<uint16_t>(v)) + U16(static_cast<uint16_t>(v >> 16));
}

SwfBuilder& SwfBuilder::Stage(int nbits, int32_t xmin, int32_t xmax, int32_t ymin, int32_t ymax)
{
    BitWriter w;
    w.Put(static_cast<uint32_t>(nbits), 5);
    w.PutSigned(xmin, nbits);
    w.PutSigned(xmax, nbits);
    w.PutSigned(ymin, nbits);
    w.PutSigned(ymax, nbits);
    m_rect = w.Bytes();
    return *this;
}

SwfBuilder& SwfBuilder::Tag(uint16_t code, const std::string& data, bool forceLong)
{
    if (data.size() >= 63 || forceLong) {
        m_tags += U16(static_cast<uint16_t>(code << 6 | 0x3F));
        m_tags += U32(static_cast<uint32_t>(data.size()));
    } else {
        m_tags += U16(static_cast<uint16_t>(code << 6 | data.size()));
    }
    m_tags += data;
    return *this;
}

SwfBuilder& SwfBuilder::Sprite(uint16_t id, const SwfBuilder& inner, uint16_t frames)
{
    return Tag(kTagDefineSprite, U16(id) + U16(frames) + inner.Tags());
}

std::string SwfBuilder::MovieHeader() const
{
    return m_rect + std::string{static_cast<char>(m_rateFrac), static_cast<char>(m_rateWhole)} + U16(m_frames);
}

std::string SwfBuilder::Build(bool compressed) const
{
    const std::string body = MovieHeader() + m_tags;
    const uint32_t length = m_declaredSet ? m_declared : static_cast<uint32_t>(body.size() + 8);
    std::string out = compressed ? "CWS" : "FWS";
    out.push_back(static_cast<char>(m_version));
    out += U32(length);
    if (!compressed)
        return out + body;
    uLongf size = compressBound(static_cast<uLong>(body.size()));
    std::string packed(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                  reinterpret_cast<const Bytef*>(body.data()), static_cast<uLong>(body.size()), 9) != Z_OK)
        throw std::runtime_error("compress failed");
    packed.resize(size);
    return out + packed;
}

std::string SwfBuilder::BuildZws(bool endMarker) const
{
    const std::string body = MovieHeader() + m_tags;
    const uint32_t length = m_declaredSet ? m_declared : static_cast<uint32_t>(body.size() + 8);
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 6))
        throw std::runtime_error("lzma preset failed");
    options.dict_size = 1u << 16;
    options.ext_flags = endMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    options.ext_size_low = options.ext_size_high = 0;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    uint8_t props[5];
    lzma_filter plain = {LZMA_FILTER_LZMA1, &options};
    if (lzma_properties_encode(&plain, props) != LZMA_OK)
        throw std::runtime_error("lzma properties failed");
    std::string packed(body.size() + body.size() / 2 + 1024, '\0');
    size_t used = 0;
    if (lzma_raw_buffer_encode(filters, nullptr, reinterpret_cast<const uint8_t*>(body.data()), body.size(),
                               reinterpret_cast<uint8_t*>(packed.data()), &used, packed.size()) != LZMA_OK)
        throw std::runtime_error("lzma compression failed");
    packed.resize(used);
    std::string out = "ZWS";
    out.push_back(static_cast<char>(m_version));
    out += U32(length) + U32(static_cast<uint32_t>(packed.size()));
    out.append(reinterpret_cast<const char*>(props), sizeof props);
    return out + packed;
}

std::string SwfBuilder::WriteTo(const std::string& path, bool compressed) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string bytes = Build(compressed);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

std::string SoundFormatByte(int format, int rateIndex, bool is16, bool stereo)
{
    return std::string(1, static_cast<char>(format << 4 | rateIndex << 2 | (is16 ? 2 : 0) | (stereo ? 1 : 0)));
}

std::string DefineSound(uint16_t id, int format, int rateIndex, bool is16, bool stereo,
                        uint32_t sampleCount, const std::string& data)
{
    return U16(id) + SoundFormatByte(format, rateIndex, is16, stereo) + U32(sampleCount) + data;
}

std::string StreamHead(int format, int rateIndex, bool is16, bool stereo, uint16_t samplesPerBlock)
{
    // Playback byte, stream byte, samples per block; MP3 heads carry a latency seek.
    std::string s = SoundFormatByte(0, rateIndex, is16, stereo) + SoundFormatByte(format, rateIndex, is16, stereo) +
                    U16(samplesPerBlock);
    if (format == 2)
        s += U16(0);
    return s;
}

std::string Mp3StreamBlock(uint16_t sampleCount, const std::string& frames)
{
    return U16(sampleCount) + U16(0) + frames;
}

namespace {

const int kAdjust2[] = {-1, 2};
const int kAdjust3[] = {-1, -1, 2, 4};
const int kAdjust4[] = {-1, -1, -1, -1, 2, 4, 6, 8};
const int kAdjust5[] = {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16};

struct Channel {
    int predictor = 0;
    int index = 0;
};

// The decoder's arithmetic for one code, written independently of it.
void Apply(Channel& c, int code, int bits, bool is16)
{
    const int* adjust = bits == 2 ? kAdjust2 : bits == 3 ? kAdjust3 : bits == 4 ? kAdjust4 : kAdjust5;
    const int sign = 1 << (bits - 1);
    int step = kAdpcmStepSizes[c.index];
    int diff = 0;
    for (int mask = sign >> 1; mask; mask >>= 1) {
        if (code & mask)
            diff += step;
        step >>= 1;
    }
    diff += step;
    if (code & sign)
        diff = -diff;
    c.predictor += diff;
    c.index += adjust[code & (sign - 1)];
    c.index = c.index < 0 ? 0 : c.index > 88 ? 88 : c.index;
    const int lo = is16 ? -32768 : 0;
    const int hi = is16 ? 32767 : 255;
    c.predictor = c.predictor < lo ? lo : c.predictor > hi ? hi : c.predictor;
}

}  // namespace

AdpcmEncoded EncodeAdpcm(const std::vector<int16_t>& pcm, bool stereo, int codeBits)
{
    const int channels = stereo ? 2 : 1;
    const size_t frames = pcm.size() / static_cast<size_t>(channels);
    AdpcmEncoded out;
    BitWriter w;
    w.Put(static_cast<uint32_t>(codeBits - 2), 2);
    Channel state[2];
    for (size_t i = 0; i < frames; ++i) {
        for (int ch = 0; ch < channels; ++ch) {
            const int target = pcm[i * static_cast<size_t>(channels) + static_cast<size_t>(ch)];
            Channel& c = state[ch];
            if (i % 4096 == 0) {
                c.predictor = target;
                // A middling index adapts quickly either way.
                c.index = 20;
                w.Put(static_cast<uint16_t>(target), 16);
                w.Put(static_cast<uint32_t>(c.index), 6);
            } else {
                int best = 0;
                long bestErr = -1;
                for (int code = 0; code < (1 << codeBits); ++code) {
                    Channel t = c;
                    Apply(t, code, codeBits, true);
                    const long err = std::labs(static_cast<long>(t.predictor) - target);
                    if (bestErr < 0 || err < bestErr) {
                        bestErr = err;
                        best = code;
                    }
                }
                Apply(c, best, codeBits, true);
                w.Put(static_cast<uint32_t>(best), codeBits);
            }
            out.predicted.push_back(static_cast<int16_t>(c.predictor));
        }
    }
    out.bytes = w.Bytes();
    return out;
}

std::vector<int16_t> TestTone(size_t frames, bool stereo, int rate, double amplitude)
{
    std::vector<int16_t> out;
    out.reserve(frames * (stereo ? 2 : 1));
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double l = amplitude * (0.7 * std::sin(2 * pi * 440 * t) + 0.3 * std::sin(2 * pi * 1250 * t));
        out.push_back(static_cast<int16_t>(std::lround(l)));
        if (stereo)
            out.push_back(static_cast<int16_t>(std::lround(amplitude * std::sin(2 * pi * 660 * t))));
    }
    return out;
}

std::string BinaryData(uint16_t id, const std::string& data)
{
    return U16(id) + U32(0) + data;
}

std::string SoundInfoBytes(const SoundInfoFields& info)
{
    const bool envelope = info.hasEnvelope || !info.envelope.empty();
    const uint8_t flags = static_cast<uint8_t>((info.syncStop ? 0x20 : 0) | (info.syncNoMultiple ? 0x10 : 0) |
                                               (envelope ? 0x08 : 0) | (info.loops >= 0 ? 0x04 : 0) |
                                               (info.out >= 0 ? 0x02 : 0) | (info.in >= 0 ? 0x01 : 0));
    std::string out(1, static_cast<char>(flags));
    if (info.in >= 0)
        out += U32(static_cast<uint32_t>(info.in));
    if (info.out >= 0)
        out += U32(static_cast<uint32_t>(info.out));
    if (info.loops >= 0)
        out += U16(static_cast<uint16_t>(info.loops));
    if (envelope) {
        out += static_cast<char>(info.envelope.size());
        for (const auto& e : info.envelope)
            out += U32(e[0]) + U16(static_cast<uint16_t>(e[1])) + U16(static_cast<uint16_t>(e[2]));
    }
    return out;
}

std::string StartSound(uint16_t soundId, const SoundInfoFields& info)
{
    return U16(soundId) + SoundInfoBytes(info);
}

std::string PlaceObject2(uint16_t depth, uint16_t character)
{
    // HasCharacter, not a move: a new instance.
    return std::string(1, '\x02') + U16(depth) + U16(character);
}

std::string RemoveObject2(uint16_t depth)
{
    return U16(depth);
}

std::string StopAction()
{
    return std::string("\x07\x00", 2);
}
