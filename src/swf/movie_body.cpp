#include "swf/movie_body.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <zlib.h>

#include "platform/mapped_file.h"
#include "swf/bit_reader.h"
#include "swf/lzma_body.h"
#include "util/sha256.h"

namespace {

constexpr uint32_t kHeaderOnlyBody = 20;
constexpr size_t kCompressedChunk = 256 * 1024;
// Twenty inflated bytes need only the first few hundred compressed ones.
constexpr size_t kHeaderChunk = 1024;

uint8_t* Allocate(size_t size)
{
    return new (std::nothrow) uint8_t[size];
}

// Inflates a zlib body into out as next hands out the compressed bytes, a
// span at a time, and only until the room is full: a header read stops
// after the first chunk.
template <typename Next>
bool InflateStream(Next next, uint8_t* out, size_t room)
{
    struct Inflater {
        z_stream z{};
        bool ready = false;
        ~Inflater()
        {
            if (ready)
                inflateEnd(&z);
        }
    } inf;
    if (inflateInit(&inf.z) != Z_OK)
        return false;
    inf.ready = true;
    inf.z.next_out = out;
    size_t left = room;
    while (left > 0) {
        const uint8_t* data = nullptr;
        size_t got = 0;
        if (!next(data, got) || got == 0)
            return false;
        // zlib counts its input in 32 bits.
        got = std::min<size_t>(got, 0x40000000u);
        inf.z.next_in = const_cast<uint8_t*>(data);
        inf.z.avail_in = static_cast<uInt>(got);
        while (inf.z.avail_in > 0 && left > 0) {
            const uInt step = left > 0x40000000u ? 0x40000000u : static_cast<uInt>(left);
            inf.z.avail_out = step;
            const int rc = inflate(&inf.z, Z_SYNC_FLUSH);
            left -= step - inf.z.avail_out;
            if (rc == Z_STREAM_END) {
                if (left != 0)
                    return false;
                break;
            }
            if (rc != Z_OK && rc != Z_BUF_ERROR)
                return false;
            if (rc == Z_BUF_ERROR && inf.z.avail_in > 0 && inf.z.avail_out > 0)
                return false;
        }
    }
    return true;
}

bool InflateFile(platform::File& file, uint8_t* out, size_t room, bool headerOnly)
{
    const size_t chunkSize = headerOnly ? kHeaderChunk : kCompressedChunk;
    std::unique_ptr<uint8_t[]> chunk(Allocate(chunkSize));
    if (!chunk)
        return false;
    return InflateStream(
        [&](const uint8_t*& data, size_t& size) {
            size = file.Read(chunk.get(), chunkSize);
            data = chunk.get();
            return !file.Failed();
        },
        out, room);
}

// The bytes a movie header takes after the first eight: the rectangle's
// bits (five for their width, then four values) and the rate and count.
uint32_t HeaderBytes(uint8_t first)
{
    const uint32_t nbits = first >> 3;
    return (5 + 4 * nbits + 7) / 8 + 4;
}

}  // namespace

bool InflateBody(const uint8_t* data, size_t size, uint8_t* out, size_t room)
{
    // Handed out in pieces zlib can count.
    return InflateStream(
        [&](const uint8_t*& span, size_t& spanSize) {
            span = data;
            spanSize = size;
            const size_t taken = std::min<size_t>(size, 0x40000000u);
            data += taken;
            size -= taken;
            return true;
        },
        out, room);
}

CMovieBody::CMovieBody() : m_mapping(std::make_unique<platform::MappedFile>()) {}

CMovieBody::~CMovieBody() = default;

void CMovieBody::Release()
{
    m_body = nullptr;
    m_buffer.reset();
    m_mapping->Unmap();
    m_file.Close();
    m_bufferSize = 0;
    m_bodyLength = 0;
}

bool CMovieBody::IsMapped() const
{
    return m_body && m_body == m_mapping->Data();
}

bool CMovieBody::Load(const std::string& path, bool headerOnly)
{
    Release();
    m_path = path;
    m_width = m_height = m_frameRate = m_frameCount = 0;
    m_frameRateFraction = 0;
    m_version = 0;
    m_signature = 0;
    m_declaredLength = 0;
    m_firstTag = 0;
    m_inflateBound = 0;
    m_inflated = 0;
    m_failure = LoadFailure::NotReadable;
    if (!m_file.Open(path, platform::OpenMode::Read) || !platform::StampOf(m_file.Fd(), m_stamp))
        return false;
    uint8_t header[8];
    const size_t got = m_file.Read(header, 8);
    if (m_file.Failed())
        return false;
    m_failure = LoadFailure::NoSignature;
    if (got != 8 || (header[0] != 'F' && header[0] != 'C' && header[0] != 'Z') || header[1] != 'W' ||
        header[2] != 'S')
        return false;
    m_signature = static_cast<char>(header[0]);
    m_version = header[3];
    const uint32_t declared = static_cast<uint32_t>(header[4]) | static_cast<uint32_t>(header[5]) << 8 |
                              static_cast<uint32_t>(header[6]) << 16 | static_cast<uint32_t>(header[7]) << 24;
    m_failure = LoadFailure::BadLength;
    if (declared <= 20)
        return false;
    m_declaredLength = m_bodyLength = declared;
    m_failure = LoadFailure::Damaged;
    const bool ok = header[0] == 'F' ? LoadPlain(header, headerOnly) : LoadCompressed(headerOnly, header[0] == 'Z');
    if (!ok) {
        Release();
        return false;
    }
    m_failure = LoadFailure::None;
    ParseMovieHeader();
    if (headerOnly)
        Release();
    return true;
}

bool CMovieBody::LoadPlain(const uint8_t* header, bool headerOnly)
{
    // A header read asks for twenty bytes, or fewer when the movie is smaller.
    uint64_t want = headerOnly ? std::min<uint64_t>(kHeaderOnlyBody, m_bodyLength - 8ull) : m_bodyLength - 8ull;
    if (!headerOnly) {
        // Size the buffer by what the file holds, not by what it declares.
        const uint64_t size = m_stamp.size;
        if (size < 8)
            return false;
        if (size - 8 < want)
            want = size - 8;
        // Movies embedded in it may inflate as much as a compressed file of its size.
        m_inflateBound = std::max(kAlwaysInflatable, size * kMaxInflateRatio);
    }
    // The whole movie is read where the system holds the file, when it lets
    // it be mapped: no copy, and no fresh memory to fault in.
    if (!headerOnly && m_mapping->Map(m_file, static_cast<size_t>(want) + 8)) {
        m_body = m_mapping->Data();
        m_bufferSize = m_mapping->Size();
        m_bodyLength = static_cast<uint32_t>(want + 8);
        return true;
    }
    m_bufferSize = static_cast<size_t>(want) + 10;
    m_buffer.reset(Allocate(m_bufferSize));
    if (!m_buffer) {
        m_failure = LoadFailure::NoMemory;
        return false;
    }
    std::memcpy(m_buffer.get(), header, 8);
    const size_t got = m_file.Read(m_buffer.get() + 8, static_cast<size_t>(want));
    if (m_file.Failed())
        m_failure = LoadFailure::NotReadable;
    // A movie cut short may still hold its whole header, as a full read finds.
    if (m_file.Failed() || (headerOnly && got != want && (got == 0 || got < HeaderBytes(m_buffer[8]))))
        return false;
    m_bodyLength = static_cast<uint32_t>(got + 8);
    m_buffer[got + 8] = 0;
    m_buffer[got + 9] = 0;
    m_body = m_buffer.get();
    return true;
}

bool CMovieBody::LoadCompressed(bool headerOnly, bool lzma)
{
    const uint64_t room = headerOnly ? std::min<uint64_t>(kHeaderOnlyBody, m_bodyLength - 8ull) : m_bodyLength - 8ull;
    // Twenty header bytes can't be a bomb: no need to ask for the size.
    const uint64_t before = 8 + (lzma ? kLzmaHeaderSize : 0);  // bytes ahead of the stream
    const uint64_t fileSize = headerOnly ? before : m_stamp.size;
    if (fileSize < before)
        return false;
    m_inflateBound = std::max(kAlwaysInflatable, (fileSize - before) * kMaxInflateRatio);
    if (room > m_inflateBound) {
        m_failure = LoadFailure::Bomb;
        return false;
    }
    m_inflated = room;
    m_bufferSize = static_cast<size_t>(room) + 10;
    m_buffer.reset(Allocate(m_bufferSize));
    if (!m_buffer) {
        m_failure = LoadFailure::NoMemory;
        return false;
    }
    std::memset(m_buffer.get(), 0, 8);
    uint8_t* out = m_buffer.get() + 8;
    if (!(lzma ? DecodeLzmaBody(m_file, out, static_cast<size_t>(room), headerOnly)
               : InflateFile(m_file, out, static_cast<size_t>(room), headerOnly)))
        return false;
    m_bodyLength = static_cast<uint32_t>(room + 8);
    m_buffer[room + 8] = 0;
    m_buffer[room + 9] = 0;
    m_body = m_buffer.get();
    return true;
}

void CMovieBody::ParseMovieHeader()
{
    CBitReader reader;
    reader.Attach(m_body, m_bodyLength);
    reader.SetCursor(8);
    const int nbits = static_cast<int>(reader.ReadBits(5));
    const int32_t xmin = reader.ReadSignedBits(nbits);
    const int32_t xmax = reader.ReadSignedBits(nbits);
    const int32_t ymin = reader.ReadSignedBits(nbits);
    const int32_t ymax = reader.ReadSignedBits(nbits);
    // 64-bit differences: 31-bit extremes can't overflow.
    m_width = static_cast<int32_t>((static_cast<int64_t>(xmax) - xmin) / 20);
    m_height = static_cast<int32_t>((static_cast<int64_t>(ymax) - ymin) / 20);
    m_frameRateFraction = reader.ReadByte();
    m_frameRate = reader.ReadByte();
    m_frameCount = reader.ReadUI16();
    m_firstTag = reader.Cursor();
}

bool CMovieBody::Unchanged() const
{
    platform::FileStamp now;
    platform::FileStamp named;
    return m_file.Fd() >= 0 && !m_mapping->Damaged() && platform::StampOf(m_file.Fd(), now) && now == m_stamp &&
           platform::StampOfPath(m_path, named) && named.SameFile(m_stamp);
}

bool CMovieBody::Digest(uint64_t& size, std::string& sha256) const
{
    if (m_file.Fd() < 0)
        return false;
    CSha256 hash;
    uint64_t at = 0;
    // The mapped part is hashed where it stands; the rest is read.
    if (IsMapped()) {
        hash.Update(m_mapping->Data(), m_mapping->Size());
        at = m_mapping->Size();
    }
    std::unique_ptr<uint8_t[]> chunk(Allocate(kCompressedChunk));
    if (!chunk)
        return false;
    for (;;) {
        const size_t got = m_file.ReadAt(at, chunk.get(), kCompressedChunk);
        if (m_file.Failed())
            return false;
        if (got == 0)
            break;
        hash.Update(chunk.get(), got);
        at += got;
    }
    sha256 = hash.Final();
    size = at;
    return !sha256.empty();
}
