// Converts planar PCM between sample rates, channel counts and sample widths,
// in that order, keeping the averaging filter's state between blocks so a
// stream can be converted block by block.
//
// Planes hold one sample per frame: int16_t for 16-bit samples (signed),
// uint8_t for 8-bit samples (unsigned, 128 is silence).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CResampler {
public:
    CResampler() = default;
    virtual ~CResampler() = default;

    // Set by the owner before Prepare. Channels are 1 or 2, bits 8 or 16.
    int32_t inChannels = -1;
    int32_t inRate = -1;
    int32_t inBits = -1;
    int32_t outChannels = -1;
    int32_t outRate = -1;
    int32_t outBits = -1;

    // Checks the formats and derives the rate ratio. False for a format this
    // class can't convert; Convert then refuses every block.
    bool Prepare();

    // Converts count input frames. The output planes must hold
    // MaxOutputFrames(count) samples; rightOut is written only for stereo
    // output and rightIn read only for stereo input.
    bool Convert(const void* leftIn, const void* rightIn, size_t count,
                 void* leftOut, void* rightOut, size_t& countOut);

    size_t MaxOutputFrames(size_t count) const;

    int32_t WholeRatio() const { return m_ratio; }
    int32_t UpFactor() const { return m_up; }
    int32_t DownFactor() const { return m_down; }

private:
    struct Carry {
        int64_t sum = 0;
        int32_t count = 0;
    };

    // Stage 1 on one plane: from in (count samples) into out; returns the
    // number of samples produced.
    size_t ConvertRate(const int32_t* in, size_t count, int32_t* out, Carry& carry) const;

    int32_t m_ratio = -1;  // out rate / in rate, whole part
    int32_t m_up = -1;     // L: out rate / gcd
    int32_t m_down = -1;   // M: in rate / gcd
    bool m_prepared = false;
    Carry m_leftCarry;
    Carry m_rightCarry;
    // Working planes, kept between calls to spare an allocation per block.
    std::vector<int32_t> m_inLeft, m_inRight, m_rateLeft, m_rateRight;
};
