#include "audio/resampler.h"

#include <algorithm>

namespace {

bool ValidChannels(int32_t n) { return n == 1 || n == 2; }
bool ValidBits(int32_t n) { return n == 8 || n == 16; }

void Load(const void* plane, int32_t bits, size_t count, std::vector<int32_t>& out)
{
    out.resize(count);
    if (bits == 16) {
        const auto* p = static_cast<const int16_t*>(plane);
        std::copy(p, p + count, out.begin());
    } else {
        const auto* p = static_cast<const uint8_t*>(plane);
        std::copy(p, p + count, out.begin());
    }
}

void Store(const int32_t* in, size_t count, int32_t bits, void* plane)
{
    if (bits == 16) {
        auto* p = static_cast<int16_t*>(plane);
        for (size_t i = 0; i < count; ++i)
            p[i] = static_cast<int16_t>(in[i]);
    } else {
        auto* p = static_cast<uint8_t*>(plane);
        for (size_t i = 0; i < count; ++i)
            p[i] = static_cast<uint8_t>(in[i]);
    }
}

// Interpolation adds in the sample's own width, wrapping like it.
int32_t WrapToWidth(int32_t v, int32_t bits)
{
    return bits == 16 ? static_cast<int16_t>(v) : static_cast<uint8_t>(v);
}

}  // namespace

bool CResampler::Prepare()
{
    m_prepared = false;
    if (!ValidChannels(inChannels) || !ValidChannels(outChannels) || !ValidBits(inBits) ||
        !ValidBits(outBits) || inRate <= 0 || outRate <= 0)
        return false;
    if (inRate != outRate) {
        int32_t a = std::max(inRate, outRate);
        int32_t b = std::min(inRate, outRate);
        while (b != 0) {
            const int32_t r = a % b;
            a = b;
            b = r;
        }
        m_up = outRate / a;
        m_down = inRate / a;
        m_ratio = outRate / inRate;
    }
    m_leftCarry = Carry{};
    m_rightCarry = Carry{};
    m_prepared = true;
    return true;
}

size_t CResampler::MaxOutputFrames(size_t count) const
{
    if (inRate == outRate)
        return count;
    return count * (static_cast<size_t>(m_ratio) + 1);
}

size_t CResampler::ConvertRate(const int32_t* in, size_t count, int32_t* out, Carry& carry) const
{
    size_t produced = 0;
    if (m_down == 1) {
        // Whole-number interpolation: straight lines between neighbours; the
        // last sample of the block opens no segment.
        for (size_t i = 0; i + 1 < count; ++i) {
            const int32_t step = (in[i + 1] - in[i]) / m_ratio;
            int32_t v = in[i];
            out[produced++] = v;
            for (int32_t k = 1; k < m_up; ++k) {
                v = WrapToWidth(v + step, inBits);
                out[produced++] = v;
            }
        }
        return produced;
    }
    // Decimation (L = 1) and the general ratio share one averaging filter:
    // every input sample enters it L times, one output per M entries.
    int64_t sum = carry.count > 0 ? carry.sum : 0;
    int32_t n = carry.count > 0 ? carry.count : 0;
    for (size_t i = 0; i < count; ++i) {
        for (int32_t k = 0; k < m_up; ++k) {
            sum += in[i];
            if (++n == m_down) {
                out[produced++] = static_cast<int32_t>(sum / m_down);
                sum = 0;
                n = 0;
            }
        }
    }
    carry.sum = sum;
    carry.count = n;
    return produced;
}

bool CResampler::Convert(const void* leftIn, const void* rightIn, size_t count,
                         void* leftOut, void* rightOut, size_t& countOut)
{
    countOut = 0;
    if (!m_prepared || count == 0)
        return m_prepared;
    const bool stereoIn = inChannels == 2;
    Load(leftIn, inBits, count, m_inLeft);
    if (stereoIn)
        Load(rightIn, inBits, count, m_inRight);

    int32_t* l = m_inLeft.data();
    int32_t* r = stereoIn ? m_inRight.data() : nullptr;
    size_t frames = count;

    if (inRate != outRate) {
        const size_t room = MaxOutputFrames(count);
        m_rateLeft.resize(room);
        frames = ConvertRate(l, count, m_rateLeft.data(), m_leftCarry);
        l = m_rateLeft.data();
        if (stereoIn) {
            m_rateRight.resize(room);
            ConvertRate(r, count, m_rateRight.data(), m_rightCarry);
            r = m_rateRight.data();
        }
    }

    // The channel and width stages work in place on the working planes.
    if (inChannels == 2 && outChannels == 1) {
        // Sum of two samples fits easily; / truncates toward zero as wanted
        // for signed samples and floors the non-negative 8-bit ones.
        for (size_t i = 0; i < frames; ++i)
            l[i] = (l[i] + r[i]) / 2;
        r = nullptr;
    } else if (inChannels == 1 && outChannels == 2) {
        r = l;
    }

    if (inBits == 8 && outBits == 16) {
        for (size_t i = 0; i < frames; ++i)
            l[i] = (l[i] - 128) * 256;
        if (r && r != l)
            for (size_t i = 0; i < frames; ++i)
                r[i] = (r[i] - 128) * 256;
    } else if (inBits == 16 && outBits == 8) {
        for (size_t i = 0; i < frames; ++i)
            l[i] = 128 + l[i] / 256;
        if (r && r != l)
            for (size_t i = 0; i < frames; ++i)
                r[i] = 128 + r[i] / 256;
    }

    Store(l, frames, outBits, leftOut);
    if (outChannels == 2)
        Store(r, frames, outBits, rightOut);
    countOut = frames;
    return true;
}
