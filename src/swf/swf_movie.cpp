#include "swf/swf_movie.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <zlib.h>

#include "platform/file.h"
#include "platform/mapped_file.h"
#include "swf/lzma_body.h"
#include "swf/walk_state.h"

CSwfMovie::CSwfMovie() : m_mapping(std::make_unique<platform::MappedFile>()), m_walk(std::make_unique<WalkState>())
{
    Reset();
}

CSwfMovie::~CSwfMovie()
{
    if (m_walk->stream.counted)
        FinishStream();
}

void CSwfMovie::ReleaseBody()
{
    m_body = nullptr;
    m_buffer.reset();
    m_mapping->Unmap();
    m_bufferSize = 0;
    m_bodyLength = 0;
    m_reader.Attach(nullptr, 0);
}

void CSwfMovie::Reset()
{
    ReleaseBody();
    m_width = m_height = m_frameRate = m_frameCount = 0;
    m_frameRateFraction = 0;
    m_version = 0;
    m_signature = 0;
    m_declaredLength = 0;
    m_firstTag = 0;
    if (m_walk->stream.counted)
        FinishStream();
    DiscardOutputs();
    m_folder.reset();
    m_baseName.clear();
    m_outputBase.clear();
    m_outputBytes = 0;
    m_unlisted = 0;
    m_dry = false;
    m_target = OutputType::Keep;
    m_sounds.clear();
    m_findings.clear();
    m_walk->exported.clear();
    m_walk->classes.clear();
    m_walk->sprite = 0;
    m_walk->stream = StreamState{};
}

SwfHeaderInfo CSwfMovie::HeaderInfo() const
{
    return SwfHeaderInfo{m_width, m_height, m_frameRate, m_frameCount, m_version};
}

bool CSwfMovie::GetHeaderInfo(const std::string& path, SwfHeaderInfo* info)
{
    if (path.empty() || !info)
        return false;
    CSwfMovie movie;
    if (!movie.Load(path, true))
        return false;
    *info = movie.HeaderInfo();
    return true;
}

namespace {

constexpr uint32_t kHeaderOnlyBody = 20;
constexpr size_t kCompressedChunk = 256 * 1024;
// Twenty inflated bytes need only the first few hundred compressed ones.
constexpr size_t kHeaderChunk = 1024;

uint8_t* Allocate(size_t size)
{
    return new (std::nothrow) uint8_t[size];
}

}  // namespace

bool CSwfMovie::Load(const std::string& path, bool headerOnly)
{
    ReleaseBody();
    m_inflateBound = 0;
    m_inflated = 0;
    m_loadFailure = LoadFailure::NotReadable;
    platform::File file;
    if (!file.Open(path, platform::OpenMode::Read))
        return false;
    uint8_t header[8];
    const size_t got = file.Read(header, 8);
    if (file.Failed())
        return false;
    m_loadFailure = LoadFailure::NoSignature;
    if (got != 8 || (header[0] != 'F' && header[0] != 'C' && header[0] != 'Z') || header[1] != 'W' ||
        header[2] != 'S')
        return false;
    m_signature = static_cast<char>(header[0]);
    m_version = header[3];
    const uint32_t declared = static_cast<uint32_t>(header[4]) | static_cast<uint32_t>(header[5]) << 8 |
                              static_cast<uint32_t>(header[6]) << 16 | static_cast<uint32_t>(header[7]) << 24;
    m_loadFailure = LoadFailure::BadLength;
    if (declared <= 20)
        return false;
    m_declaredLength = m_bodyLength = declared;
    m_loadFailure = LoadFailure::Damaged;
    const bool ok = header[0] == 'F' ? LoadPlain(file, header, headerOnly)
                                     : LoadCompressed(file, headerOnly, header[0] == 'Z');
    if (!ok) {
        ReleaseBody();
        return false;
    }
    m_loadFailure = LoadFailure::None;
    m_reader.Attach(m_body, m_bodyLength);
    ParseMovieHeader();
    if (headerOnly)
        ReleaseBody();
    else if (!m_dry)
        PickOutputBase(path);
    return true;
}

bool CSwfMovie::LoadPlain(platform::File& file, const uint8_t* header, bool headerOnly)
{
    uint64_t want = headerOnly ? kHeaderOnlyBody : m_bodyLength - 8ull;
    if (!headerOnly) {
        // Size the buffer by what the file holds, not by what it declares.
        const int64_t size = file.Size();
        if (size < 8)
            return false;
        if (static_cast<uint64_t>(size) - 8 < want)
            want = static_cast<uint64_t>(size) - 8;
        // Movies embedded in it may inflate as much as a compressed file of its size.
        m_inflateBound = std::max(kAlwaysInflatable, static_cast<uint64_t>(size) * kMaxInflateRatio);
    }
    // The whole movie is read where the system holds the file, when it lets
    // it be mapped: no copy, and no fresh memory to fault in.
    if (!headerOnly && m_mapping->Map(file, static_cast<size_t>(want) + 8)) {
        m_body = m_mapping->Data();
        m_bufferSize = m_mapping->Size();
        m_bodyLength = static_cast<uint32_t>(want + 8);
        return true;
    }
    m_bufferSize = static_cast<size_t>(want) + 10;
    m_buffer.reset(Allocate(m_bufferSize));
    if (!m_buffer) {
        m_loadFailure = LoadFailure::NoMemory;
        return false;
    }
    std::memcpy(m_buffer.get(), header, 8);
    const size_t got = file.Read(m_buffer.get() + 8, static_cast<size_t>(want));
    if (file.Failed())
        m_loadFailure = LoadFailure::NotReadable;
    if (file.Failed() || (headerOnly && got != kHeaderOnlyBody))
        return false;
    m_bodyLength = static_cast<uint32_t>(got + 8);
    m_buffer[got + 8] = 0;
    m_buffer[got + 9] = 0;
    m_body = m_buffer.get();
    return true;
}

namespace {

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

bool InflateBody(platform::File& file, uint8_t* out, size_t room, bool headerOnly)
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

bool CSwfMovie::LoadCompressed(platform::File& file, bool headerOnly, bool lzma)
{
    const uint64_t room = headerOnly ? kHeaderOnlyBody : m_bodyLength - 8ull;
    // Twenty header bytes can't be a bomb: no need to ask for the size.
    const uint64_t before = 8 + (lzma ? kLzmaHeaderSize : 0);  // bytes ahead of the stream
    const int64_t fileSize = headerOnly ? static_cast<int64_t>(before) : file.Size();
    if (fileSize < static_cast<int64_t>(before))
        return false;
    m_inflateBound = std::max(kAlwaysInflatable, (static_cast<uint64_t>(fileSize) - before) * kMaxInflateRatio);
    if (room > m_inflateBound) {
        m_loadFailure = LoadFailure::Bomb;
        return false;
    }
    m_inflated = room;
    m_bufferSize = static_cast<size_t>(room) + 10;
    m_buffer.reset(Allocate(m_bufferSize));
    if (!m_buffer) {
        m_loadFailure = LoadFailure::NoMemory;
        return false;
    }
    std::memset(m_buffer.get(), 0, 8);
    uint8_t* out = m_buffer.get() + 8;
    if (!(lzma ? DecodeLzmaBody(file, out, static_cast<size_t>(room), headerOnly)
               : InflateBody(file, out, static_cast<size_t>(room), headerOnly)))
        return false;
    m_bodyLength = static_cast<uint32_t>(room + 8);
    m_buffer[room + 8] = 0;
    m_buffer[room + 9] = 0;
    m_body = m_buffer.get();
    return true;
}

void CSwfMovie::ParseMovieHeader()
{
    m_reader.SetCursor(8);
    m_reader.DiscardBits();
    const int nbits = static_cast<int>(m_reader.ReadBits(5));
    const int32_t xmin = m_reader.ReadSignedBits(nbits);
    const int32_t xmax = m_reader.ReadSignedBits(nbits);
    const int32_t ymin = m_reader.ReadSignedBits(nbits);
    const int32_t ymax = m_reader.ReadSignedBits(nbits);
    // 64-bit differences: 31-bit extremes can't overflow.
    m_width = static_cast<int32_t>((static_cast<int64_t>(xmax) - xmin) / 20);
    m_height = static_cast<int32_t>((static_cast<int64_t>(ymax) - ymin) / 20);
    m_frameRateFraction = m_reader.ReadByte();
    m_frameRate = m_reader.ReadByte();
    m_frameCount = m_reader.ReadUI16();
    m_firstTag = m_reader.Cursor();
}
