// Builds SWF movies in memory for tests: header, any tag, sprites, sounds.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// MSB-first bit packing, as SWF bit fields are stored.
class BitWriter {
public:
    void Put(uint32_t value, int bits);
    void PutSigned(int32_t value, int bits) { Put(static_cast<uint32_t>(value), bits); }
    // Pads the last byte with zero bits.
    std::string Bytes() const;
    size_t BitCount() const { return m_bits; }

private:
    std::string m_bytes;
    size_t m_bits = 0;
};

std::string U16(uint16_t v);
std::string U32(uint32_t v);

class SwfBuilder {
public:
    SwfBuilder& Version(uint8_t v) { m_version = v; return *this; }
    // Stage rectangle in twentieths of a pixel, packed with nbits per value.
    SwfBuilder& Stage(int nbits, int32_t xmin, int32_t xmax, int32_t ymin, int32_t ymax);
    // Frame rate as the raw 8.8 bytes: fraction, whole.
    SwfBuilder& Rate(uint8_t fraction, uint8_t whole) { m_rateFrac = fraction; m_rateWhole = whole; return *this; }
    SwfBuilder& Frames(uint16_t n) { m_frames = n; return *this; }
    // Overrides the file length field (otherwise the real uncompressed length).
    SwfBuilder& DeclaredLength(uint32_t n) { m_declared = n; m_declaredSet = true; return *this; }

    // Appends a tag; long form when the data reach 63 bytes or forceLong is set.
    SwfBuilder& Tag(uint16_t code, const std::string& data, bool forceLong = false);
    SwfBuilder& Raw(const std::string& bytes) { m_tags += bytes; return *this; }
    SwfBuilder& End() { return Tag(0, ""); }
    // A DefineSprite holding the inner builder's tags (its header is ignored).
    SwfBuilder& Sprite(uint16_t id, const SwfBuilder& inner, uint16_t frames = 1);

    std::string MovieHeader() const;
    const std::string& Tags() const { return m_tags; }
    std::string Build(bool compressed = false) const;
    // The movie as 'ZWS': LZMA-compressed, with or without the end marker.
    std::string BuildZws(bool endMarker) const;
    // Writes the movie to a file and returns the path.
    std::string WriteTo(const std::string& path, bool compressed = false) const;

private:
    uint8_t m_version = 8;
    std::string m_rect = std::string("\x78\x00\x05\x5F\x00\x00\x0F\xA0\x00", 9);  // 550 x 400
    uint8_t m_rateFrac = 0;
    uint8_t m_rateWhole = 12;
    uint16_t m_frames = 1;
    uint32_t m_declared = 0;
    bool m_declaredSet = false;
    std::string m_tags;
};

// Tag codes and sound tag bodies.
enum : uint16_t {
    kTagEnd = 0,
    kTagShowFrame = 1,
    kTagRemoveObject = 5,
    kTagDoAction = 12,
    kTagDefineSound = 14,
    kTagStartSound = 15,
    kTagDefineButtonSound = 17,
    kTagPlaceObject2 = 26,
    kTagRemoveObject2 = 28,
    kTagSymbolClass = 76,
    kTagDoAbc = 82,
    kTagStartSound2 = 89,
    kTagSoundStreamHead = 18,
    kTagSoundStreamBlock = 19,
    kTagDefineSprite = 39,
    kTagSoundStreamHead2 = 45,
    kTagExportAssets = 56,
    kTagDefineBinaryData = 87,
};

// DefineBinaryData body: id, four reserved bytes, data.
std::string BinaryData(uint16_t id, const std::string& data);

std::string SoundFormatByte(int format, int rateIndex, bool is16, bool stereo);
// DefineSound body: id, format byte, sample count, then data (for MP3 the
// caller puts the 2-byte seek field at the front of data).
std::string DefineSound(uint16_t id, int format, int rateIndex, bool is16, bool stereo,
                        uint32_t sampleCount, const std::string& data);
std::string StreamHead(int format, int rateIndex, bool is16, bool stereo, uint16_t samplesPerBlock);
// An MP3 stream block: sample count, seek samples, frames.
std::string Mp3StreamBlock(uint16_t sampleCount, const std::string& frames);

// A SOUNDINFO: sync flags, in and out points and loops where given (a value
// below 0 leaves the field out), and the envelope's points (position, left,
// right).
struct SoundInfoFields {
    bool syncStop = false;
    bool syncNoMultiple = false;
    int64_t in = -1;
    int64_t out = -1;
    int loops = -1;
    std::vector<std::array<uint32_t, 3>> envelope = {};
    bool hasEnvelope = false;
};
std::string SoundInfoBytes(const SoundInfoFields& info = {});
// A StartSound body, and a PlaceObject2 or RemoveObject2 body.
std::string StartSound(uint16_t soundId, const SoundInfoFields& info = {});
std::string PlaceObject2(uint16_t depth, uint16_t character);
std::string RemoveObject2(uint16_t depth);
// A DoAction of ActionStop alone.
std::string StopAction();

// Test-only SWF ADPCM encoder: the exact inverse of the decoder's arithmetic,
// so decoding its output gives back what the encoder's own model predicted.
struct AdpcmEncoded {
    std::string bytes;                 // code size, packet headers and codes, padded
    std::vector<int16_t> predicted;    // what a correct decoder yields, interleaved
};
AdpcmEncoded EncodeAdpcm(const std::vector<int16_t>& interleaved, bool stereo, int codeBits);

// Deterministic test tone: a mix of two sines, interleaved for stereo.
std::vector<int16_t> TestTone(size_t frames, bool stereo, int rate, double amplitude = 12000.0);
