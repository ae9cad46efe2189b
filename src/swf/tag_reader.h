// The one walk over a movie's tags: the main timeline, the timelines of its
// sprites and the movies embedded in it (DefineBinaryData). It tells a
// listener what it meets, typed, and keeps no opinion of what is done with
// it: extraction writes files, a listing counts, the soundtrack keeps the
// timelines. Every field is read within the body; the bounds on sprite
// nesting, embedding and inflation are the walk's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CMovieBody;

// Where a tag stands.
struct TagPlace {
    uint16_t sprite = 0;  // the DefineSprite whose timeline holds it; 0: a movie's main timeline
    // The DefineBinaryData ids of the embedded movies around it, outermost
    // first; empty in the movie's own tags.
    const std::vector<uint16_t>* embedded = nullptr;
    uint32_t frame = 0;  // ShowFrame tags met before it on its timeline
    int nesting = 0;     // sprites around it (within its movie)
};

// Bytes of a tag in the body being read. Decoders may read on past them,
// into the bytes that follow (zeros past the body's end), as movies made by
// Flash need.
struct TagBytes {
    const uint8_t* body = nullptr;
    uint64_t bodyLength = 0;
    uint64_t at = 0;      // offset of the first byte in body
    uint32_t size = 0;
    bool inFile = false;  // body is the movie's file as mapped: at is also a file offset
    const uint8_t* Data() const { return body + at; }
};

struct DefinedSound {  // DefineSound
    uint16_t id = 0;
    int format = 0;
    int rateIndex = 0;
    bool is16Bit = false;
    bool stereo = false;
    uint32_t sampleCount = 0;
    int32_t seekSamples = -1;  // MP3 only
    TagBytes data;             // the sound data, after the fixed fields
};

struct StreamHeadInfo {  // SoundStreamHead, SoundStreamHead2
    int format = 0;
    int rateIndex = 0;
    bool is16Bit = false;
    bool stereo = false;
    uint16_t samplesPerBlock = 0;
    int32_t latencySeek = -1;  // MP3 only, when the tag holds it
};

struct EnvelopePoint {
    uint32_t position = 0;  // in samples at 44,100 Hz
    uint16_t left = 0;
    uint16_t right = 0;
};

struct SoundInfo {  // SOUNDINFO
    bool syncStop = false;
    bool syncNoMultiple = false;
    bool hasInPoint = false;
    bool hasOutPoint = false;
    bool hasLoops = false;
    uint32_t inPoint = 0;
    uint32_t outPoint = 0;
    uint16_t loops = 0;
    std::vector<EnvelopePoint> envelope;
};

struct SoundStart {  // StartSound, StartSound2, a button's sound
    uint16_t soundId = 0;    // StartSound and buttons
    std::string className;   // StartSound2: resolved through SymbolClass by the listener
    bool byClass = false;
    SoundInfo info;
};

struct Placement {  // PlaceObject, PlaceObject2, PlaceObject3
    uint16_t depth = 0;
    uint16_t character = 0;
    bool hasCharacter = false;
    bool move = false;  // changes or replaces what stands at the depth
};

enum class ScriptKind { Actions, ClipActions, InitActions, Abc };
enum class NameKind { Export, Class };
enum class EmbeddedSkip { TooLarge, NoMemory };

class CTagListener {
public:
    virtual ~CTagListener() = default;
    // A timeline begins: a movie's main one (place.sprite 0) or a sprite's.
    virtual void OnTimelineBegin(const TagPlace&, uint16_t /*frameCount*/) {}
    // It ends: at its End tag (reachedEnd), or where its bytes ran out.
    virtual void OnTimelineEnd(const TagPlace&, bool /*reachedEnd*/) {}
    virtual void OnShowFrame(const TagPlace&) {}
    virtual void OnSoundDefined(const TagPlace&, const DefinedSound&) {}
    virtual void OnStreamHead(const TagPlace&, const StreamHeadInfo&) {}
    // A SoundStreamBlock's data, whole (an MP3 block's own header included).
    virtual void OnStreamBlock(const TagPlace&, const TagBytes&) {}
    virtual void OnPlace(const TagPlace&, const Placement&) {}
    virtual void OnRemove(const TagPlace&, uint16_t /*depth*/) {}
    virtual void OnStartSound(const TagPlace&, const SoundStart&) {}
    // A DoAction of nothing but ActionStop.
    virtual void OnStopAction(const TagPlace&) {}
    virtual void OnScripts(const TagPlace&, ScriptKind) {}
    // slot: 0 idle from over, 1 over from idle, 2 down from over, 3 over from down.
    virtual void OnButtonSound(const TagPlace&, uint16_t /*button*/, int /*slot*/, const SoundStart&) {}
    virtual void OnNames(const TagPlace&, NameKind, const std::vector<std::pair<uint16_t, std::string>>&) {}
    // A DefineBinaryData that holds a movie the walk may not read.
    virtual void OnEmbeddedSkipped(const TagPlace&, uint16_t /*id*/, EmbeddedSkip) {}
};

// Longest export or class name kept, in bytes: what a file name has room for.
constexpr size_t kMaxExportNameBytes = 120;

// Walks the tags of a loaded movie from its first tag, telling listener.
// Movies embedded in it inflate within what is left of the body's bound.
void ReadMovieTags(const CMovieBody& body, CTagListener& listener);
