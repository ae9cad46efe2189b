// A movie file as read: its header, and its body (plain, or inflated from a
// zlib or LZMA one), with the bounds every walk of it must keep. The file
// stays open while the body is held, so what was read can be told from what
// the path names now.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"
#include "swf/swf_types.h"

namespace platform {
class MappedFile;
}

// Largest body a compressed movie may inflate to, per compressed byte. Real
// movies stay below 15:1; a body far beyond that is a bomb meant to take the
// memory, and is refused before anything is allocated for it. Small bodies
// are allowed whatever their ratio.
constexpr uint64_t kMaxInflateRatio = 40;
constexpr uint64_t kAlwaysInflatable = 16u << 20;

class CMovieBody {
public:
    CMovieBody();
    ~CMovieBody();
    CMovieBody(const CMovieBody&) = delete;
    CMovieBody& operator=(const CMovieBody&) = delete;

    // Reads the movie at path: the whole body, or in header-only mode just
    // enough for its header values (the file is then let go at once).
    bool Load(const std::string& path, bool headerOnly);
    void Release();
    LoadFailure LastFailure() const { return m_failure; }

    SwfHeaderInfo HeaderInfo() const { return SwfHeaderInfo{m_width, m_height, m_frameRate, m_frameCount, m_version}; }
    // The header's 8.8 frame rate as one integer (256 is one frame a second).
    uint16_t FrameRate88() const { return static_cast<uint16_t>(m_frameRate << 8 | m_frameRateFraction); }
    char Signature() const { return m_signature; }
    // The length the file header declares, and the length of the body held
    // (both counting the 8-byte file header).
    uint32_t DeclaredLength() const { return m_declaredLength; }
    uint32_t BodyLength() const { return m_bodyLength; }
    // A plain movie whose file ends before the length its header declares.
    bool HoldsLessThanDeclared() const { return m_signature == 'F' && m_bodyLength < m_declaredLength; }
    size_t BufferSize() const { return m_bufferSize; }
    uint64_t FirstTag() const { return m_firstTag; }
    // The body, readable to BodyLength() and two zero bytes past it.
    const uint8_t* Data() const { return m_body; }
    // The body is the file itself as mapped: body offsets are file offsets.
    bool IsMapped() const;
    // A descriptor of the movie's file while the body is held; -1 after Release.
    int FileFd() const { return m_file.Fd(); }
    // What movies embedded in this one may inflate to, all together.
    uint64_t InflateBound() const { return m_inflateBound; }
    uint64_t Inflated() const { return m_inflated; }

    // False when the file read is no longer what was read: a mapped page
    // was lost, the file changed (size, change time) since it was opened, or
    // its path now names another file (replaced by a rename). A walk's
    // findings are trusted only when this holds after it.
    bool Unchanged() const;
    // Size and SHA-256 of the file as opened, read through the descriptor
    // held, not by path; call Unchanged() after it to trust them.
    bool Digest(uint64_t& size, std::string& sha256) const;

private:
    bool LoadPlain(const uint8_t* header, bool headerOnly);
    bool LoadCompressed(bool headerOnly, bool lzma);
    void ParseMovieHeader();

    std::string m_path;
    mutable platform::File m_file;  // read again for the digest
    platform::FileStamp m_stamp;  // of the file as opened
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_frameRate = 0;
    uint8_t m_frameRateFraction = 0;
    int32_t m_frameCount = 0;
    uint16_t m_version = 0;
    char m_signature = 0;
    LoadFailure m_failure = LoadFailure::None;
    uint32_t m_declaredLength = 0;
    // The body read: held in m_buffer (read or inflated), or a plain movie's
    // file mapped as it stands.
    const uint8_t* m_body = nullptr;
    std::unique_ptr<uint8_t[]> m_buffer;
    std::unique_ptr<platform::MappedFile> m_mapping;
    size_t m_bufferSize = 0;
    uint32_t m_bodyLength = 0;
    uint64_t m_firstTag = 0;
    uint64_t m_inflateBound = 0;
    uint64_t m_inflated = 0;
};

// Inflates a zlib stream held in memory (size bytes at data) into exactly
// room bytes at out; false when it is damaged or ends short.
bool InflateBody(const uint8_t* data, size_t size, uint8_t* out, size_t room);
