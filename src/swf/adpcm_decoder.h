// Decoder of the SWF flavour of ADPCM: 2- to 5-bit codes, packets of 4096
// frames that restart from an explicit sample and step index.
#pragma once

#include <cstdint>

class CSwfMovie;

class CAdpcmDecoder {
public:
    explicit CAdpcmDecoder(CSwfMovie& movie) : m_movie(movie) {}

    // Decodes exactly frames sample frames from the movie's bit reader into
    // output (frames x channels x 2 bytes for 16-bit, x 1 for 8-bit; stereo
    // interleaved). Reads nothing when frames is 0 or output is null.
    void Decode(uint32_t frames, bool stereo, bool is16Bit, uint8_t* output);

    // Bits the smallest possible encoding of frames needs, without its packet
    // headers: a sound that declares more frames than its data could ever hold
    // is refused by the callers.
    static uint64_t MinimumBits(uint64_t frames, bool stereo);

private:
    CSwfMovie& m_movie;
};
