// Encodes 8- or 16-bit PCM to a FLAC stream through one libFLAC stream
// encoder, written into a pending file that the caller created and moves into
// place (or discards) itself. Unlike LAME, libFLAC keeps no process-wide state
// (its documentation says so, and it starts no threads), so encoders on
// several threads need no lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/pending_file.h"

class CFlacEncoder {
public:
    CFlacEncoder();
    virtual ~CFlacEncoder();
    CFlacEncoder(const CFlacEncoder&) = delete;
    CFlacEncoder& operator=(const CFlacEncoder&) = delete;

    // Starts a stream of channels (1 or 2) of bits (8 or 16) per sample at
    // sampleRate into out, which must be new and empty and outlive the
    // stream: the encoder seeks back to its start at Finish. A stream still
    // open is abandoned first. False for any other layout or when the library
    // refuses it.
    bool Open(platform::PendingFile& out, int channels, int bits, uint32_t sampleRate);
    bool IsOpen() const { return m_stream != nullptr; }

    // Appends count frames of signed samples of the stream's width: left[i]
    // and, for stereo, right[i] (right is not read for mono). For an 8-bit
    // stream a value outside -128..127 is refused, since the library would
    // write it unchecked into a stream that then decodes to other samples.
    // False once anything has failed.
    bool Encode(const int16_t* left, const int16_t* right, size_t count);
    // The same from unsigned 8-bit samples as WAV stores them (128 is
    // silence); only for 8-bit streams.
    bool EncodeUnsigned8(const uint8_t* left, const uint8_t* right, size_t count);

    // Encodes the last block and completes the stream's header (sample count,
    // MD5 of the samples) in place. False if that, or anything before it,
    // failed: the file's contents are then no FLAC stream, for the caller to
    // discard. Either way the stream is closed; the file is neither closed nor
    // moved.
    bool Finish();

    // Gives up the stream: nothing more is written to the file.
    void Abandon();

    // Sample frames accepted so far in this stream.
    uint64_t Frames() const { return m_frames; }

private:
    // The library's encoder and what its callbacks need.
    struct Stream;
    struct StreamDeleter {
        void operator()(Stream* stream) const;
    };

    // Hands the converted block to the library.
    bool Process(size_t count);

    std::unique_ptr<Stream, StreamDeleter> m_stream;
    uint64_t m_frames = 0;
    int m_channels = 0;
    int m_bits = 0;
    bool m_failed = false;
    static constexpr size_t kBlockFrames = 4096;
    std::array<int32_t, kBlockFrames> m_left{};
    std::array<int32_t, kBlockFrames> m_right{};
};
