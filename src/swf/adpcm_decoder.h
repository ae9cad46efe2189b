// Decoder of the SWF flavour of ADPCM: 2- to 5-bit codes, packets of 4096
// frames that restart from an explicit sample and step index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class CBitReader;

// The IMA ADPCM step sizes, indexed 0 to 88.
inline constexpr int kAdpcmStepSizes[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

class CAdpcmDecoder {
public:
    explicit CAdpcmDecoder(CBitReader& reader) : m_reader(reader) {}

    // Decodes exactly frames sample frames from the reader into
    // output (frames x channels x 2 bytes for 16-bit, x 1 for 8-bit; stereo
    // interleaved). Reads nothing when frames is 0 or output is null.
    void Decode(uint32_t frames, bool stereo, bool is16Bit, uint8_t* output);
    // The same, handing the samples to sink in pieces of whole packets, so a
    // long sound needs no buffer of its size. False when sink refuses one.
    bool DecodeInPieces(uint32_t frames, bool stereo, bool is16Bit,
                        const std::function<bool(const uint8_t*, size_t)>& sink);

    // How many of the declared frames data of availableBits bits can hold,
    // codes of codeBits bits with their packet headers. Movies made by Flash
    // run a frame or two past their data, which is allowed (overran tells it
    // happened); a count that needs far more bits than there are is damage,
    // and decoding it would only write zeros out of nothing.
    static uint32_t FramesThatFit(uint32_t declared, uint64_t availableBits, int codeBits, bool stereo, bool is16Bit,
                                  bool* overran = nullptr);

private:
    CBitReader& m_reader;
};
