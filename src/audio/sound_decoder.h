// Decodes the coded sound formats of SWF movies that need a codec library:
// Nellymoser, Speex and the two G.711 laws. One object holds one decoder
// context and decodes one sound (an event sound, or one stream block after
// another); nothing is shared between objects, so sounds may be decoded in
// parallel.
//
// What each format yields, as signed 16-bit samples:
//   Nellymoser  mono at the rate given to Open (SWF formats 4 and 5 fix it at
//               16000 and 8000 Hz, format 6 takes the tag's rate); the data is
//               a run of 64-byte blocks of 256 samples each.
//   Speex       mono, wideband, 16000 Hz whatever rate is given; the data of
//               one Decode call is one Speex bit stream: frames of 320 samples
//               packed one after another, ended by a terminator code or by the
//               end of the data (one SoundStreamBlock, or a whole DefineSound).
//   A-law/µ-law 1 or 2 channels (interleaved) at the given rate; one sample
//               per byte and channel.
// Output never exceeds 512 samples per input byte (Speex at its smallest
// frames), 4 for Nellymoser and 1 for G.711; it reaches the caller frame by
// frame.
//
// Neither Nellymoser nor Speex blocks decode on their own: both carry state
// from frame to frame, so a stream keeps one object from head to end.
//
// Errors: data the decoder refuses is skipped and counted in LostBytes(); the
// call that lost bytes returns false, and every sample that could be decoded,
// before and after the damage, is still appended. Nothing is sized by a field
// of the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

enum class CodedFormat { Nellymoser, Speex, ALaw, MuLaw };

// Takes decoded samples as they come, interleaved (count = frames x
// channels), so that no sound is held in memory whole. False stops decoding.
using SampleSink = std::function<bool(const int16_t* samples, size_t count)>;

class CSoundDecoder {
public:
    CSoundDecoder();
    virtual ~CSoundDecoder();
    CSoundDecoder(const CSoundDecoder&) = delete;
    CSoundDecoder& operator=(const CSoundDecoder&) = delete;

    // False when the program was built without the codec library or the
    // library lacks this decoder (Speex needs the one over libspeex); such
    // sounds are skipped.
    static bool Available(CodedFormat format);
    // The library's name of the decoder used for the format ("" when none).
    static const char* DecoderName(CodedFormat format);

    // Sets up a fresh decoder context (closing any open one). Channels must be
    // 1, or 2 for G.711; sampleRate must be positive. False when the format
    // is unavailable or the parameters are refused.
    bool Open(CodedFormat format, uint32_t sampleRate, int channels);
    bool IsOpen() const;

    // Decodes the bytes of one DefineSound's sound data or of one
    // SoundStreamBlock, exactly as the movie stores them, handing the
    // samples to sink. Stream blocks go to the same object one
    // after another: the decoder keeps its state between them, and a
    // Nellymoser block or G.711 sample cut by a block boundary is completed
    // by the next call. The Speex decoder hands out a frame per packet and
    // the rest with the next call, so the samples of a block of several
    // frames may come out a call late; Flush delivers the last. False when
    // bytes were lost (see above), the sink refused samples, or nothing is
    // open.
    bool Decode(const uint8_t* data, size_t size, const SampleSink& sink);

    // Ends the sound: hands over what the decoder still holds, and counts a
    // partial block or sample left over as lost (false then).
    bool Flush(const SampleSink& sink);

    void Close();

    // Of the open sound, valid after a good Open.
    int Channels() const { return m_channels; }
    uint32_t SampleRate() const { return m_sampleRate; }
    // Input bytes skipped since Open.
    uint64_t LostBytes() const { return m_lostBytes; }

private:
    struct Context;

    // Sends one packet and appends every frame it yields; false if the
    // decoder refused the packet or a frame.
    bool SendPacket(const uint8_t* data, size_t size, const SampleSink& sink);
    bool ReceiveFrames(const SampleSink& sink);

    std::unique_ptr<Context> m_context;
    CodedFormat m_format = CodedFormat::ALaw;
    int m_channels = 0;
    uint32_t m_sampleRate = 0;
    size_t m_unit = 0;                // bytes per packet unit (0: the whole call is one packet)
    std::vector<uint8_t> m_carry;     // a unit cut by a block boundary
    std::vector<int16_t> m_samples;   // one decoded frame, interleaved
    uint64_t m_lostBytes = 0;
};
