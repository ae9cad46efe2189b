#include "swf/tag_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "swf/bit_reader.h"
#include "swf/lzma_body.h"
#include "swf/movie_body.h"
#include "util/paths.h"

namespace {

enum : uint32_t {
    kEnd = 0,
    kShowFrame = 1,
    kPlaceObject = 4,
    kRemoveObject = 5,
    kDoAction = 12,
    kDefineSound = 14,
    kStartSound = 15,
    kDefineButtonSound = 17,
    kSoundStreamHead = 18,
    kSoundStreamBlock = 19,
    kPlaceObject2 = 26,
    kRemoveObject2 = 28,
    kDefineSprite = 39,
    kSoundStreamHead2 = 45,
    kExportAssets = 56,
    kDoInitAction = 59,
    kPlaceObject3 = 70,
    kDoAbcPlain = 72,
    kSymbolClass = 76,
    kDoAbc = 82,
    kDefineBinaryData = 87,
    kStartSound2 = 89,
};

// Sprites inside sprites are not made by any authoring tool; a few levels are
// allowed, a deep chain of them would only exhaust the stack.
constexpr int kMaxSpriteDepth = 32;
// Flex and AS3 games embed movies of assets; a movie in a movie in a movie is
// rare, and each level costs a body in memory.
constexpr size_t kMaxEmbedDepth = 4;
// A movie's header: signature, version, length, and at least the smallest
// frame rectangle, rate and count.
constexpr uint32_t kMinMovieBytes = 8 + 1 + 4;
constexpr uint8_t kActionStop = 0x07;
// The highest tag code the format defines.
constexpr uint32_t kLastKnownTag = 94;

// One body being walked: the movie's, or an embedded movie's held apart.
struct Body {
    const uint8_t* data = nullptr;
    uint64_t length = 0;
    bool inFile = false;
};

class CTagWalk {
public:
    CTagWalk(const CMovieBody& movie, CTagListener& listener)
        : m_listener(listener), m_bound(movie.InflateBound()), m_inflated(movie.Inflated())
    {
        m_body = Body{movie.Data(), movie.BodyLength(), movie.IsMapped()};
        m_reader.Attach(m_body.data, m_body.length);
        m_frameCount = static_cast<uint16_t>(movie.HeaderInfo().frameCount);
        m_firstTag = movie.FirstTag();
    }

    void Run()
    {
        m_reader.SetCursor(m_firstTag);
        WalkMovie(m_body.length, m_frameCount);
    }

private:
    // The main timeline of the movie whose tags start at the cursor.
    void WalkMovie(uint64_t limit, uint16_t frameCount)
    {
        TagPlace place;
        place.embedded = &m_embedded;
        m_listener.OnTimelineBegin(place, frameCount);
        const bool reachedEnd = WalkTimeline(place, limit);
        place.frame = m_lastFrame;
        m_listener.OnTimelineEnd(place, reachedEnd);
    }

    // Walks tags from the cursor up to limit: one timeline. True when its End
    // tag was met.
    bool WalkTimeline(TagPlace place, uint64_t limit)
    {
        bool ended = false;
        while (!ended && m_reader.Cursor() < limit) {
            const uint16_t header = m_reader.ReadUI16();
            const uint32_t code = header >> 6;
            uint32_t length = header & 0x3F;
            if (length == 0x3F)
                length = m_reader.ReadUI32();
            const uint64_t tagEnd = m_reader.Cursor() + length;
            if (tagEnd > limit)
                break;
            m_tagEnd = tagEnd;
            m_tagLength = length;
            switch (code) {
            case kEnd: ended = true; break;
            case kShowFrame:
                m_listener.OnShowFrame(place);
                ++place.frame;
                break;
            case kDefineSound: OnDefineSound(place); break;
            case kSoundStreamHead:
            case kSoundStreamHead2: OnSoundStreamHead(place); break;
            case kSoundStreamBlock:
                m_listener.OnStreamBlock(place, BytesToTagEnd());
                break;
            case kDefineSprite: OnDefineSprite(place); break;
            case kExportAssets:
            case kSymbolClass: OnNames(place, code == kExportAssets ? NameKind::Export : NameKind::Class); break;
            case kDefineBinaryData: OnDefineBinaryData(place); break;
            case kPlaceObject:
            case kPlaceObject2:
            case kPlaceObject3: OnPlace(place, code); break;
            case kRemoveObject:
            case kRemoveObject2:
                // RemoveObject names the character before the depth.
                if (m_tagLength >= (code == kRemoveObject ? 4u : 2u)) {
                    m_reader.SkipBytes(code == kRemoveObject ? 2 : 0);
                    m_listener.OnRemove(place, m_reader.ReadUI16());
                }
                break;
            case kStartSound:
            case kStartSound2: OnStartSound(place, code == kStartSound2); break;
            case kDefineButtonSound: OnButtonSound(place); break;
            case kDoAction: OnDoAction(place); break;
            case kDoInitAction: m_listener.OnScripts(place, ScriptKind::InitActions); break;
            case kDoAbc:
            case kDoAbcPlain: m_listener.OnScripts(place, ScriptKind::Abc); break;
            default: break;
            }
            m_reader.SetCursor(tagEnd);
            m_tagEnd = tagEnd;
        }
        m_lastFrame = place.frame;
        return ended;
    }

    // Bytes from the cursor to tag end, or 0 when the cursor has passed it.
    uint32_t BytesLeft() const
    {
        return m_reader.Cursor() < m_tagEnd ? static_cast<uint32_t>(m_tagEnd - m_reader.Cursor()) : 0;
    }

    TagBytes BytesToTagEnd()
    {
        m_reader.DiscardBits();
        return TagBytes{m_body.data, m_body.length, m_reader.Cursor(), BytesLeft(), m_body.inFile};
    }

    void OnDefineSound(const TagPlace& place)
    {
        // Id, format byte and sample count; MP3 adds the seek field.
        if (m_tagLength < 7)
            return;
        DefinedSound s;
        s.id = m_reader.ReadUI16();
        s.format = static_cast<int>(m_reader.ReadBits(4));
        s.rateIndex = static_cast<int>(m_reader.ReadBits(2));
        s.is16Bit = m_reader.ReadBits(1) != 0;
        s.stereo = m_reader.ReadBits(1) != 0;
        s.sampleCount = m_reader.ReadUI32();
        if (s.format == 2) {
            if (m_tagLength < 9)
                return;
            s.seekSamples = static_cast<int16_t>(m_reader.ReadUI16());
        }
        s.data = BytesToTagEnd();
        m_listener.OnSoundDefined(place, s);
    }

    void OnSoundStreamHead(const TagPlace& place)
    {
        // Playback byte, stream byte and samples per block.
        if (m_tagLength < 4)
            return;
        m_reader.SkipBytes(1);
        StreamHeadInfo h;
        h.format = static_cast<int>(m_reader.ReadBits(4));
        h.rateIndex = static_cast<int>(m_reader.ReadBits(2));
        h.is16Bit = m_reader.ReadBits(1) != 0;
        h.stereo = m_reader.ReadBits(1) != 0;
        h.samplesPerBlock = m_reader.ReadUI16();
        if (h.format == 2 && m_tagLength >= 6)
            h.latencySeek = static_cast<int16_t>(m_reader.ReadUI16());
        m_listener.OnStreamHead(place, h);
    }

    void OnDefineSprite(const TagPlace& outer)
    {
        if (m_spriteDepth >= kMaxSpriteDepth)
            return;
        ++m_spriteDepth;
        TagPlace place;
        place.embedded = &m_embedded;
        place.sprite = m_reader.ReadUI16();
        const uint16_t frames = m_reader.ReadUI16();
        place.nesting = outer.nesting + 1;
        m_listener.OnTimelineBegin(place, frames);
        // The sprite's own tag bounds its timeline.
        const bool reachedEnd = WalkTimeline(place, m_tagEnd);
        place.frame = m_lastFrame;
        m_listener.OnTimelineEnd(place, reachedEnd);
        --m_spriteDepth;
    }

    void OnNames(const TagPlace& place, NameKind kind)
    {
        // A count, then character ids with NUL-ended names, bounded by the tag.
        const uint16_t count = m_reader.ReadUI16();
        std::vector<std::pair<uint16_t, std::string>> names;
        for (uint16_t i = 0; i < count && BytesLeft() >= 3; ++i) {
            const uint16_t id = m_reader.ReadUI16();
            std::string_view name;
            if (!ReadString(name))
                break;
            // Cut where a file name would be, and never inside a UTF-8
            // sequence, so that a long name costs no more than a short one
            // wherever it goes.
            names.emplace_back(id, std::string(name.substr(0, Utf8PrefixLength(name, kMaxExportNameBytes))));
        }
        m_listener.OnNames(place, kind, names);
    }

    // A NUL-ended string within the tag; false when the tag ends first.
    bool ReadString(std::string_view& out)
    {
        m_reader.DiscardBits();
        const auto* start = m_body.data + m_reader.Cursor();
        const auto* end = start + BytesLeft();
        const auto* nul = std::find(start, end, uint8_t{0});
        if (nul == end)
            return false;
        out = std::string_view(reinterpret_cast<const char*>(start), static_cast<size_t>(nul - start));
        m_reader.SkipBytes(static_cast<uint64_t>(nul - start) + 1);
        return true;
    }

    void OnPlace(const TagPlace& place, uint32_t code)
    {
        Placement p;
        bool clipActions = false;
        if (code == kPlaceObject) {
            if (m_tagLength < 4)
                return;
            p.character = m_reader.ReadUI16();
            p.hasCharacter = true;
            p.depth = m_reader.ReadUI16();
        } else {
            const uint8_t flags = m_reader.ReadByte();
            const uint8_t more = code == kPlaceObject3 ? m_reader.ReadByte() : 0;
            clipActions = (flags & 0x80) != 0;
            p.hasCharacter = (flags & 0x02) != 0;
            p.move = (flags & 0x01) != 0;
            p.depth = m_reader.ReadUI16();
            const bool hasImage = (more & 0x10) != 0;
            const bool hasClassName = (more & 0x08) != 0;
            std::string_view className;
            if ((hasClassName || (hasImage && p.hasCharacter)) && !ReadString(className))
                return;
            if (p.hasCharacter)
                p.character = m_reader.ReadUI16();
            if (m_reader.Cursor() > m_tagEnd)
                return;
        }
        m_listener.OnPlace(place, p);
        if (clipActions)
            m_listener.OnScripts(place, ScriptKind::ClipActions);
    }

    // A SOUNDINFO within the tag; false when the tag ends first.
    bool ReadSoundInfo(SoundInfo& info)
    {
        if (BytesLeft() < 1)
            return false;
        const uint8_t flags = m_reader.ReadByte();
        info.syncStop = (flags & 0x20) != 0;
        info.syncNoMultiple = (flags & 0x10) != 0;
        const bool hasEnvelope = (flags & 0x08) != 0;
        info.hasLoops = (flags & 0x04) != 0;
        info.hasOutPoint = (flags & 0x02) != 0;
        info.hasInPoint = (flags & 0x01) != 0;
        const uint64_t need = (info.hasInPoint ? 4 : 0) + (info.hasOutPoint ? 4 : 0) + (info.hasLoops ? 2 : 0) +
                              (hasEnvelope ? 1 : 0);
        if (BytesLeft() < need)
            return false;
        if (info.hasInPoint)
            info.inPoint = m_reader.ReadUI32();
        if (info.hasOutPoint)
            info.outPoint = m_reader.ReadUI32();
        if (info.hasLoops)
            info.loops = m_reader.ReadUI16();
        if (hasEnvelope) {
            const uint8_t points = m_reader.ReadByte();
            if (BytesLeft() < points * 8u)
                return false;
            info.envelope.resize(points);
            for (EnvelopePoint& e : info.envelope) {
                e.position = m_reader.ReadUI32();
                e.left = m_reader.ReadUI16();
                e.right = m_reader.ReadUI16();
            }
        }
        return true;
    }

    void OnStartSound(const TagPlace& place, bool byClass)
    {
        SoundStart s;
        s.byClass = byClass;
        if (byClass) {
            std::string_view name;
            if (!ReadString(name))
                return;
            s.className = std::string(name.substr(0, Utf8PrefixLength(name, kMaxExportNameBytes)));
        } else {
            if (m_tagLength < 2)
                return;
            s.soundId = m_reader.ReadUI16();
        }
        if (ReadSoundInfo(s.info))
            m_listener.OnStartSound(place, s);
    }

    void OnButtonSound(const TagPlace& place)
    {
        if (m_tagLength < 2)
            return;
        const uint16_t button = m_reader.ReadUI16();
        for (int slot = 0; slot < 4 && BytesLeft() >= 2; ++slot) {
            SoundStart s;
            s.soundId = m_reader.ReadUI16();
            if (s.soundId == 0)
                continue;
            if (!ReadSoundInfo(s.info))
                return;
            m_listener.OnButtonSound(place, button, slot, s);
        }
    }

    void OnDoAction(const TagPlace& place)
    {
        // Action records up to the end flag; a long action carries its length.
        bool any = false;
        bool onlyStop = true;
        while (BytesLeft() > 0) {
            const uint8_t action = m_reader.ReadByte();
            if (action == 0)
                break;
            any = true;
            onlyStop = onlyStop && action == kActionStop;
            if (action >= 0x80) {
                if (BytesLeft() < 2)
                    break;
                m_reader.SkipBytes(m_reader.ReadUI16());
            }
        }
        if (any && onlyStop)
            m_listener.OnStopAction(place);
        else if (any)
            m_listener.OnScripts(place, ScriptKind::Actions);
    }

    // True when the tags from at chain to an End tag or to limit exactly.
    bool TagsChain(uint64_t at, uint64_t limit) const
    {
        while (at < limit) {
            if (limit - at < 2)
                return false;
            const uint32_t header = m_reader.ByteAt(at) | static_cast<uint32_t>(m_reader.ByteAt(at + 1)) << 8;
            at += 2;
            uint64_t length = header & 0x3F;
            if (length == 0x3F) {
                if (limit - at < 4)
                    return false;
                length = 0;
                for (int i = 3; i >= 0; --i)
                    length = length << 8 | m_reader.ByteAt(at + static_cast<uint64_t>(i));
                at += 4;
            }
            if (length > limit - at)
                return false;
            if (header >> 6 == kEnd)
                return true;
            at += length;
        }
        return true;
    }

    void OnDefineBinaryData(const TagPlace& place)
    {
        // Id and four reserved bytes before the data.
        if (m_embedded.size() >= kMaxEmbedDepth || m_tagLength < 6 + kMinMovieBytes)
            return;
        const uint16_t id = m_reader.ReadUI16();
        m_reader.SkipBytes(4);
        const uint64_t at = m_reader.Cursor();
        const uint32_t size = BytesLeft();
        const uint8_t* data = m_body.data + at;
        if ((data[0] != 'F' && data[0] != 'C' && data[0] != 'Z') || data[1] != 'W' || data[2] != 'S')
            return;
        const uint32_t declared = static_cast<uint32_t>(data[4]) | static_cast<uint32_t>(data[5]) << 8 |
                                  static_cast<uint32_t>(data[6]) << 16 | static_cast<uint32_t>(data[7]) << 24;
        if (declared < kMinMovieBytes)
            return;
        if (data[0] == 'F') {
            // An embedded movie is whole: one that declares more than the
            // data hold is no movie.
            if (declared <= size)
                WalkEmbedded(id, at, at + declared);
            return;
        }
        // Inflated into a body of its own, counted against the bound of the
        // whole movie before anything is allocated for it. One that may not
        // be read is a lost source of sounds, if it starts like a movie.
        const uint64_t room = declared - 8ull;
        if (room > m_bound - std::min(m_inflated, m_bound)) {
            if (StartsLikeMovie(data, size))
                m_listener.OnEmbeddedSkipped(place, id, EmbeddedSkip::TooLarge);
            return;
        }
        const size_t bufferSize = static_cast<size_t>(room) + 10;
        std::unique_ptr<uint8_t[]> inner(new (std::nothrow) uint8_t[bufferSize]);
        if (!inner) {
            if (StartsLikeMovie(data, size))
                m_listener.OnEmbeddedSkipped(place, id, EmbeddedSkip::NoMemory);
            return;
        }
        m_inflated += room;
        std::memset(inner.get(), 0, 8);
        inner[room + 8] = 0;
        inner[room + 9] = 0;
        const bool inflated = data[0] == 'C'
                                  ? InflateBody(data + 8, size - 8, inner.get() + 8, static_cast<size_t>(room))
                                  : DecodeLzmaBody(data + 8, size - 8, inner.get() + 8, static_cast<size_t>(room));
        if (!inflated)
            return;
        // The inner body is walked as the outer one is; the outer comes back
        // whole after it.
        const Body outerBody = m_body;
        const CBitReader outerReader = m_reader;
        const uint64_t outerTagEnd = m_tagEnd;
        const uint32_t outerTagLength = m_tagLength;
        m_body = Body{inner.get(), room + 8, false};
        m_reader.Attach(m_body.data, m_body.length);
        WalkEmbedded(id, 0, m_body.length);
        m_body = outerBody;
        m_reader = outerReader;
        m_tagEnd = outerTagEnd;
        m_tagLength = outerTagLength;
    }

    // True when compressed data (a 'CWS' or 'ZWS' header and what follows)
    // inflate to the start of a movie: a frame rectangle and rate and
    // count within the first bytes, then a tag of a known code. Binary data
    // that only start with the letters are no movie, lost or not.
    static bool StartsLikeMovie(const uint8_t* data, uint32_t size)
    {
        constexpr size_t kProbe = 64;
        uint8_t start[kProbe + 10] = {};
        const bool inflated = data[0] == 'C' ? InflateBody(data + 8, size - 8, start + 8, kProbe - 8)
                                             : DecodeLzmaBody(data + 8, size - 8, start + 8, kProbe - 8);
        if (!inflated)
            return false;
        CBitReader reader;
        reader.Attach(start, kProbe);
        reader.SetCursor(8);
        const int nbits = static_cast<int>(reader.ReadBits(5));
        const uint64_t firstTag = 8 + (5 + 4 * static_cast<uint64_t>(nbits) + 7) / 8 + 4;
        if (firstTag + 2 > kProbe)
            return false;
        const uint32_t code = (start[firstTag] | static_cast<uint32_t>(start[firstTag + 1]) << 8) >> 6;
        return code <= kLastKnownTag;
    }

    // Walks the embedded movie whose header starts at headerAt in the body
    // held now and whose bytes end at limit, if its tags make a movie.
    void WalkEmbedded(uint16_t id, uint64_t headerAt, uint64_t limit)
    {
        // The frame rectangle, then rate and count: the first tag follows.
        m_reader.SetCursor(headerAt + 8);
        const int nbits = static_cast<int>(m_reader.ReadBits(5));
        for (int i = 0; i < 4; ++i)
            m_reader.ReadBits(nbits);
        m_reader.DiscardBits();
        m_reader.SkipBytes(2);
        const uint16_t frames = m_reader.ReadUI16();
        const uint64_t firstTag = m_reader.Cursor();
        if (firstTag > limit || !TagsChain(firstTag, limit))
            return;
        const uint64_t tagEnd = m_tagEnd;
        const uint32_t tagLength = m_tagLength;
        m_embedded.push_back(id);
        m_reader.SetCursor(firstTag);
        WalkMovie(limit, frames);
        m_embedded.pop_back();
        m_tagEnd = tagEnd;
        m_tagLength = tagLength;
    }

    CTagListener& m_listener;
    Body m_body;
    CBitReader m_reader;
    uint64_t m_tagEnd = 0;
    uint32_t m_tagLength = 0;
    uint16_t m_frameCount = 0;
    uint64_t m_firstTag = 0;
    uint64_t m_bound = 0;
    uint64_t m_inflated = 0;
    std::vector<uint16_t> m_embedded;
    int m_spriteDepth = 0;
    uint32_t m_lastFrame = 0;  // frames the timeline walked last had
};

}  // namespace

void ReadMovieTags(const CMovieBody& body, CTagListener& listener)
{
    if (!body.Data())
        return;
    CTagWalk walk(body, listener);
    walk.Run();
}
