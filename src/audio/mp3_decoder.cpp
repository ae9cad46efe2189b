#include "audio/mp3_decoder.h"

#include "audio/lame_lock.h"
#include "audio/mp3_frame.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

namespace {

void Silent(const char*, va_list) {}

// Bytes read from the file per decoder feed while decoding.
constexpr size_t kFeedBytes = 4096;
// Bytes per feed while the decoder still looks for the first header.
constexpr size_t kProbeFeedBytes = 100;
// How far junk before the first frame is looked through for the stream.
constexpr size_t kResyncSearchBytes = 8192;

}  // namespace

void CMp3Decoder::HipDeleter::operator()(hip_global_flags* hip) const
{
    std::lock_guard<std::mutex> lock(LameLock());
    hip_decode_exit(hip);
}

CMp3Decoder::~CMp3Decoder()
{
    Close();
}

void CMp3Decoder::Close()
{
    m_hip.reset();
    m_file.Close();
    m_pieces.clear();
    m_pending.clear();
}

bool CMp3Decoder::Open(const std::string& path)
{
    platform::File file;
    return file.Open(path, platform::OpenMode::Read) && Open(std::move(file));
}

bool CMp3Decoder::Open(platform::File file)
{
    Close();
    m_file = std::move(file);
    return m_file.IsOpen() && Start();
}

bool CMp3Decoder::Open(std::vector<Mp3Piece> pieces)
{
    Close();
    std::erase_if(pieces, [](const Mp3Piece& p) { return p.size == 0 || !p.data; });
    m_pieces = std::move(pieces);
    m_piece = m_pieceAt = 0;
    return !m_pieces.empty() && Start();
}

size_t CMp3Decoder::ReadInput(uint8_t* dst, size_t size)
{
    if (m_pieces.empty()) {
        const size_t got = m_file.Read(dst, size);
        if (m_file.Failed())
            m_readFailed = true;
        return got;
    }
    size_t done = 0;
    while (done < size && m_piece < m_pieces.size()) {
        const Mp3Piece& p = m_pieces[m_piece];
        const size_t n = std::min(size - done, p.size - m_pieceAt);
        std::memcpy(dst + done, p.data + m_pieceAt, n);
        done += n;
        m_pieceAt += n;
        if (m_pieceAt == p.size) {
            ++m_piece;
            m_pieceAt = 0;
        }
    }
    return done;
}

bool CMp3Decoder::SeekInput(uint64_t offset)
{
    if (m_pieces.empty())
        return m_file.Seek(offset);
    // A place past the end reads nothing, as in a file.
    for (m_piece = 0; m_piece < m_pieces.size() && offset >= m_pieces[m_piece].size; ++m_piece)
        offset -= m_pieces[m_piece].size;
    m_pieceAt = m_piece < m_pieces.size() ? static_cast<size_t>(offset) : 0;
    return true;
}

bool CMp3Decoder::Start()
{
    m_inPos = m_inLen = 0;
    m_inEnd = 0;
    m_readFailed = false;
    m_channels = m_sampleRate = m_bitrate = m_frameChannels = 0;
    m_freeFormat = false;
    {
        std::lock_guard<std::mutex> lock(LameLock());
        m_hip.reset(hip_decode_init());
    }
    if (!m_hip)
        return false;
    hip_set_errorf(m_hip.get(), Silent);
    hip_set_debugf(m_hip.get(), Silent);
    hip_set_msgf(m_hip.get(), Silent);
    if (!Probe())
        return false;
    // Anything else would make the caller write a nonsense WAV header.
    if ((m_data.stereo != 1 && m_data.stereo != 2) || m_data.samplerate <= 0)
        return false;
    m_channels = m_data.stereo;
    m_sampleRate = m_data.samplerate;
    m_bitrate = m_data.bitrate;
    return true;
}

size_t CMp3Decoder::ReadBytes(uint8_t* dst, size_t size)
{
    size_t done = 0;
    while (done < size) {
        if (m_inPos == m_inLen) {
            m_inPos = 0;
            m_inLen = ReadInput(m_in.data(), m_in.size());
            m_inEnd += m_inLen;
            if (m_inLen == 0)
                break;
        }
        const size_t n = std::min(size - done, m_inLen - m_inPos);
        std::memcpy(dst + done, m_in.data() + m_inPos, n);
        m_inPos += n;
        done += n;
    }
    return done;
}

uint64_t CMp3Decoder::Offset() const
{
    return m_inEnd - (m_inLen - m_inPos);
}

bool CMp3Decoder::SeekTo(uint64_t offset)
{
    m_inPos = m_inLen = 0;
    m_inEnd = offset;
    return SeekInput(offset);
}

bool CMp3Decoder::SkipBytes(uint64_t size)
{
    const size_t buffered = m_inLen - m_inPos;
    if (size <= buffered) {
        m_inPos += static_cast<size_t>(size);
        return true;
    }
    m_inEnd += size - buffered;
    m_inPos = m_inLen = 0;
    return SeekInput(m_inEnd);
}

int CMp3Decoder::DecodeFrame(uint8_t* data, size_t size, int16_t* left, int16_t* right)
{
    // The library takes a non-const pointer even when given no bytes.
    static uint8_t none = 0;
    std::lock_guard<std::mutex> lock(LameLock());
    return hip_decode1_headers(m_hip.get(), data ? data : &none, size, left, right, &m_data);
}

bool CMp3Decoder::Feed(uint8_t* data, size_t size)
{
    Frame frame;
    frame.left.resize(kMp3MaxFrameSamples);
    frame.right.resize(kMp3MaxFrameSamples);
    int enc_delay = 0;
    int enc_padding = 0;
    std::unique_lock<std::mutex> lock(LameLock());
    const int n = hip_decode1_headersB(m_hip.get(), data, size, frame.left.data(), frame.right.data(),
                                       &m_data, &enc_delay, &enc_padding);
    lock.unlock();
    if (n < 0)
        return false;
    if (n > 0) {
        // A small first frame can be complete already; its samples are kept.
        frame.left.resize(static_cast<size_t>(n));
        frame.right.resize(static_cast<size_t>(n));
        frame.channels = m_data.stereo;
        m_pending.push_back(std::move(frame));
    }
    return true;
}

bool CMp3Decoder::Probe()
{
    // Every round consumes at least eight bytes of the file, so this ends.
    for (;;) {
        m_data = mp3data_struct{};
        uint8_t window[8];
        if (!ReadExact(window, 4))
            return false;
        if (std::memcmp(window, "ID3", 3) == 0) {
            uint8_t tag[6];
            if (!ReadExact(tag, 6))
                return false;
            const uint32_t size = (static_cast<uint32_t>(tag[2] & 0x7F) << 21) |
                                  (static_cast<uint32_t>(tag[3] & 0x7F) << 14) |
                                  (static_cast<uint32_t>(tag[4] & 0x7F) << 7) | (tag[5] & 0x7Fu);
            if (!SkipBytes(size) || !ReadExact(window, 4))
                return false;
        }
        if (std::memcmp(window, "AiD\1", 4) == 0) {
            uint8_t length[2];
            if (!ReadExact(length, 2))
                return false;
            // The length counts the six bytes already read; a smaller value
            // is damage and must not move us backwards.
            const unsigned total = length[0] | (length[1] << 8);
            if (!SkipBytes(total > 6 ? total - 6 : 0) || !ReadExact(window, 4))
                return false;
        }
        // Junk before the first frame may hold a pattern that looks like a
        // header; the stream starts where a header is followed by another.
        // Without such a pair (a single frame, free format) the first sync
        // word is taken.
        const uint64_t start = Offset() - 4;
        std::vector<uint8_t> ahead(kResyncSearchBytes + kMp3MaxFrameBytes + 4);
        std::memcpy(ahead.data(), window, 4);
        ahead.resize(4 + ReadBytes(ahead.data() + 4, ahead.size() - 4));
        const size_t at = FindMp3StreamStart(ahead.data(), ahead.size());
        if (m_readFailed || !SeekTo(start + (at < ahead.size() ? at : 0)) || !ReadExact(window, 8))
            return false;
        while (!(window[0] == 0xFF && (window[1] & 0xE0) == 0xE0)) {
            std::memmove(window, window + 1, 7);
            if (!ReadExact(window + 7, 1))
                return false;
        }
        m_freeFormat = (window[2] & 0xF0) == 0;
        if (!Feed(window, sizeof window))
            return false;
        while (!m_data.header_parsed) {
            uint8_t chunk[kProbeFeedBytes];
            if (!ReadExact(chunk, sizeof chunk) || !Feed(chunk, sizeof chunk))
                return false;
        }
        if (m_data.bitrate != 0 || m_freeFormat)
            return !m_readFailed;
    }
}

bool CMp3Decoder::Decode(int16_t* left, int16_t* right, size_t& count, bool& end)
{
    count = 0;
    if (!m_hip) {
        end = true;
        return false;
    }
    if (!m_pending.empty()) {
        const Frame& f = m_pending.front();
        count = f.left.size();
        std::copy(f.left.begin(), f.left.end(), left);
        std::copy(f.right.begin(), f.right.end(), right);
        m_frameChannels = f.channels;
        m_pending.pop_front();
        return true;
    }
    auto deliver = [&](int n) {
        if (n > 0) {
            count = static_cast<size_t>(n);
            m_frameChannels = m_data.stereo;
        }
        return n >= 0;
    };
    int n = DecodeFrame(nullptr, 0, left, right);
    if (n != 0)
        return deliver(n);
    uint8_t chunk[kFeedBytes];
    for (;;) {
        const size_t got = ReadBytes(chunk, sizeof chunk);
        if (m_readFailed) {
            end = true;
            return false;
        }
        if (got == 0)
            break;
        n = DecodeFrame(chunk, got, left, right);
        if (n != 0)
            return deliver(n);
    }
    n = DecodeFrame(nullptr, 0, left, right);
    if (n > 0)
        return deliver(n);
    end = true;
    return n == 0;
}
