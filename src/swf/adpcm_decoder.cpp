#include "swf/adpcm_decoder.h"

#include <algorithm>
#include <vector>

#include "swf/bit_reader.h"

namespace {

// Step index changes by code magnitude, one table per code size (2 to 5 bits).
const int kIndex2[2] = {-1, 2};
const int kIndex3[4] = {-1, -1, 2, 4};
const int kIndex4[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
const int kIndex5[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16};
const int* const kIndexTables[4] = {kIndex2, kIndex3, kIndex4, kIndex5};

constexpr uint32_t kPacketFrames = 4096;
// Packets per piece of a long sound: 256 KiB of 16-bit stereo at most.
constexpr uint32_t kPiecePackets = 16;

// MSB-first bits straight from the body, zero past its end: the movie's
// reader costs a call per field, which dominates long streams.
class BitSource {
public:
    BitSource(const uint8_t* data, uint64_t size, uint64_t position)
        : m_data(data), m_size(size), m_next(position / 8)
    {
        const int skip = static_cast<int>(position % 8);
        if (skip) {
            Fill(8);
            m_bits -= skip;
        }
    }

    uint32_t Get(int n)
    {
        if (m_bits < n)
            Fill(n);
        m_bits -= n;
        return static_cast<uint32_t>(m_acc >> m_bits) & ((1u << n) - 1);
    }

    uint64_t Position() const { return m_next * 8 - static_cast<uint64_t>(m_bits); }

private:
    void Fill(int n)
    {
        while (m_bits <= 56) {
            const uint8_t byte = m_next < m_size ? m_data[m_next] : 0;
            m_acc = m_acc << 8 | byte;
            ++m_next;
            m_bits += 8;
            if (m_bits >= n && m_bits > 48)
                break;
        }
    }

    const uint8_t* m_data;
    uint64_t m_size;
    uint64_t m_next;
    uint64_t m_acc = 0;
    int m_bits = 0;
};

// The difference a code's magnitude bits add at each step index, worked out
// once per code size: the shifts of the format make it no plain product.
struct DifferenceTable {
    int value[89][16];
};

constexpr DifferenceTable MakeDifferences(int codeBits)
{
    DifferenceTable t{};
    const int magnitudes = 1 << (codeBits - 1);
    for (int index = 0; index < 89; ++index) {
        for (int code = 0; code < magnitudes; ++code) {
            int step = kAdpcmStepSizes[index];
            int difference = 0;
            for (int mask = 1 << (codeBits - 2); mask; mask >>= 1) {
                if (code & mask)
                    difference += step;
                step >>= 1;
            }
            t.value[index][code] = difference + step;
        }
    }
    return t;
}

constexpr DifferenceTable kDifferences[4] = {MakeDifferences(2), MakeDifferences(3), MakeDifferences(4),
                                             MakeDifferences(5)};

struct Channel {
    int predictor = 0;
    int index = 0;
};

template <int CodeBits, int Channels, bool Is16>
void DecodeFrames(BitSource& bits, uint32_t frames, uint8_t* out)
{
    constexpr uint32_t signMask = 1u << (CodeBits - 1);
    constexpr int low = Is16 ? -32768 : 0;
    constexpr int high = Is16 ? 32767 : 255;
    const DifferenceTable& differences = kDifferences[CodeBits - 2];
    const int* adjust = kIndexTables[CodeBits - 2];
    Channel ch[Channels];
    for (uint32_t i = 0; i < frames; ++i) {
        const bool packetStart = i % kPacketFrames == 0;
        for (int c = 0; c < Channels; ++c) {
            if (packetStart) {
                ch[c].predictor = Is16 ? static_cast<int16_t>(bits.Get(16)) : static_cast<int>(bits.Get(8));
                ch[c].index = static_cast<int>(bits.Get(6));
            } else {
                const uint32_t code = bits.Get(CodeBits);
                const uint32_t magnitude = code & (signMask - 1);
                // An index read from a packet header may be up to 63; it is
                // used as read, and clamped only by the next adjustment.
                const int difference = differences.value[ch[c].index][magnitude];
                const int p = (code & signMask) ? ch[c].predictor - difference : ch[c].predictor + difference;
                const int k = ch[c].index + adjust[magnitude];
                ch[c].index = k < 0 ? 0 : k > 88 ? 88 : k;
                ch[c].predictor = p < low ? low : p > high ? high : p;
            }
            if constexpr (Is16) {
                const auto v = static_cast<uint16_t>(ch[c].predictor);
                out[0] = static_cast<uint8_t>(v);
                out[1] = static_cast<uint8_t>(v >> 8);
                out += 2;
            } else {
                *out++ = static_cast<uint8_t>(ch[c].predictor);
            }
        }
    }
}

template <int CodeBits>
void DecodeAs(BitSource& bits, uint32_t frames, bool stereo, bool is16Bit, uint8_t* out)
{
    if (stereo)
        is16Bit ? DecodeFrames<CodeBits, 2, true>(bits, frames, out) : DecodeFrames<CodeBits, 2, false>(bits, frames, out);
    else
        is16Bit ? DecodeFrames<CodeBits, 1, true>(bits, frames, out) : DecodeFrames<CodeBits, 1, false>(bits, frames, out);
}

}  // namespace

uint32_t CAdpcmDecoder::FramesThatFit(uint32_t declared, uint64_t availableBits, int codeBits, bool stereo,
                                      bool is16Bit, bool* overran)
{
    const uint64_t channels = stereo ? 2 : 1;
    const uint64_t headerBits = channels * ((is16Bit ? 16 : 8) + 6);
    const uint64_t codeBitsPerFrame = channels * static_cast<uint64_t>(codeBits);
    const auto bitsFor = [&](uint64_t frames) -> uint64_t {
        if (frames == 0)
            return 0;
        const uint64_t packets = (frames + 4095) / 4096;
        return 2 + packets * headerBits + (frames - packets) * codeBitsPerFrame;
    };
    constexpr uint64_t kOverrunFrames = 2;
    const uint64_t limit = availableBits + kOverrunFrames * codeBitsPerFrame;
    uint64_t lo = declared;  // fits
    if (bitsFor(declared) > limit) {
        lo = 0;
        uint64_t hi = declared;  // does not
        while (hi - lo > 1) {
            const uint64_t mid = lo + (hi - lo) / 2;
            (bitsFor(mid) <= limit ? lo : hi) = mid;
        }
    }
    if (overran)
        *overran = bitsFor(lo) > availableBits;
    return static_cast<uint32_t>(lo);
}

void CAdpcmDecoder::Decode(uint32_t frames, bool stereo, bool is16Bit, uint8_t* output)
{
    if (frames == 0 || !output)
        return;
    BitSource bits(m_reader.Data(), m_reader.Size(), m_reader.BitPosition());
    switch (bits.Get(2)) {
    case 0: DecodeAs<2>(bits, frames, stereo, is16Bit, output); break;
    case 1: DecodeAs<3>(bits, frames, stereo, is16Bit, output); break;
    case 2: DecodeAs<4>(bits, frames, stereo, is16Bit, output); break;
    default: DecodeAs<5>(bits, frames, stereo, is16Bit, output); break;
    }
    m_reader.SeekBits(bits.Position());
}

bool CAdpcmDecoder::DecodeInPieces(uint32_t frames, bool stereo, bool is16Bit,
                                   const std::function<bool(const uint8_t*, size_t)>& sink)
{
    if (frames == 0)
        return true;
    const size_t frameBytes = (stereo ? 2u : 1u) * (is16Bit ? 2u : 1u);
    const uint32_t pieceFrames = kPacketFrames * kPiecePackets;
    std::vector<uint8_t> piece(static_cast<size_t>(std::min(frames, pieceFrames)) * frameBytes);
    BitSource bits(m_reader.Data(), m_reader.Size(), m_reader.BitPosition());
    const uint32_t codeSize = bits.Get(2);
    // Packets restart the predictor, so pieces of whole packets decode as one.
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(pieceFrames, frames - done);
        switch (codeSize) {
        case 0: DecodeAs<2>(bits, n, stereo, is16Bit, piece.data()); break;
        case 1: DecodeAs<3>(bits, n, stereo, is16Bit, piece.data()); break;
        case 2: DecodeAs<4>(bits, n, stereo, is16Bit, piece.data()); break;
        default: DecodeAs<5>(bits, n, stereo, is16Bit, piece.data()); break;
        }
        if (!sink(piece.data(), n * frameBytes))
            return false;
        done += n;
    }
    m_reader.SeekBits(bits.Position());
    return true;
}
