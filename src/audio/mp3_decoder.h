// Decodes an MP3 file frame by frame with LAME's decoder. The library decodes
// through state shared by the whole process (see lame_lock.h): objects on
// several threads take turns call by call, so their outputs stay correct, but
// parallel work gains nothing here and belongs in separate processes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <lame/lame.h>

#include "platform/file.h"

// Most samples per channel one MPEG audio frame decodes to.
constexpr size_t kMp3MaxFrameSamples = 1152;

// A run of bytes in memory: MP3 data held elsewhere (in a movie), read as
// one stream when several follow one another (a stream's blocks).
struct Mp3Piece {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

class CMp3Decoder {
public:
    CMp3Decoder() = default;
    virtual ~CMp3Decoder();
    CMp3Decoder(const CMp3Decoder&) = delete;
    CMp3Decoder& operator=(const CMp3Decoder&) = delete;

    // Opens the file, skips an ID3v2 tag and an album-ID header, finds the
    // first frame header (passing over junk before the stream) and lets the
    // decoder parse it. False when the file
    // can't be read, holds no frame or the decoder reports an error.
    bool Open(const std::string& path);
    // The same over a file already open for reading, which it takes.
    bool Open(platform::File file);
    // The same over pieces of memory read one after another, which must
    // outlive the decoder.
    bool Open(std::vector<Mp3Piece> pieces);
    void Close();

    // Properties of the first frame header, valid after a good Open.
    int Channels() const { return m_channels; }
    int SampleRate() const { return m_sampleRate; }
    int Bitrate() const { return m_bitrate; }
    bool FreeFormat() const { return m_freeFormat; }
    // Channels of the frame the last Decode delivered (streams may change).
    int FrameChannels() const { return m_frameChannels; }

    // Delivers the next frame: up to kMp3MaxFrameSamples samples into left
    // and, for a stereo frame, right (both arrays hold that many). At the end
    // of the stream sets end with count 0. False on a decoder or read error.
    bool Decode(int16_t* left, int16_t* right, size_t& count, bool& end);

private:
    struct HipDeleter {
        void operator()(hip_global_flags* hip) const;
    };
    struct Frame {
        std::vector<int16_t> left, right;
        int channels = 0;
    };

    bool Start();
    bool Probe();
    // The next bytes of the input, file or pieces; a short count at its end.
    size_t ReadInput(uint8_t* dst, size_t size);
    bool SeekInput(uint64_t offset);
    // Gives bytes to the decoder during probing, keeping any samples it
    // returns for the first Decode. False on a decoder error.
    bool Feed(uint8_t* data, size_t size);
    // Calls the decoder with new bytes (or none); its result.
    int DecodeFrame(uint8_t* data, size_t size, int16_t* left, int16_t* right);

    // Buffered input over the file; short reads and seeks past the end show
    // up as a count below the one asked for.
    size_t ReadBytes(uint8_t* dst, size_t size);
    bool ReadExact(uint8_t* dst, size_t size) { return ReadBytes(dst, size) == size; }
    bool SkipBytes(uint64_t size);
    // File offset of the next byte ReadBytes delivers, and a jump to one.
    uint64_t Offset() const;
    bool SeekTo(uint64_t offset);

    platform::File m_file;
    std::vector<Mp3Piece> m_pieces;  // read instead of the file when not empty
    size_t m_piece = 0;              // the piece being read, and where in it
    size_t m_pieceAt = 0;
    std::unique_ptr<hip_global_flags, HipDeleter> m_hip;
    mp3data_struct m_data{};
    std::deque<Frame> m_pending;
    int m_channels = 0;
    int m_sampleRate = 0;
    int m_bitrate = 0;
    bool m_freeFormat = false;
    int m_frameChannels = 0;
    bool m_readFailed = false;

    std::array<uint8_t, 8192> m_in{};
    size_t m_inPos = 0;
    size_t m_inLen = 0;
    uint64_t m_inEnd = 0;  // file offset just past the buffered bytes
};
