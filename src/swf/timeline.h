// A movie's timelines as the tag reader tells them: per timeline (the main
// one, each sprite's) its frames and, in each, what happens in tag order
// (placements, removals, sounds started, stream blocks, a stop), and per
// timeline its streams as runs of blocks. What the soundtrack plays, and
// what it can only list (button sounds, scripts). The movies embedded in a
// movie are loaded by scripts, never by a timeline: they are passed over.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "swf/tag_reader.h"

struct TimelineEvent {
    enum Kind : uint8_t { Place, Remove, Start, Stop };
    Kind kind = Place;
    Placement place;    // Place
    uint16_t depth = 0; // Remove
    size_t start = 0;   // Start: its index in CMovieTimelines::starts
};

// The blocks of a stream that play one after another from its first frame:
// an MP3 stream's every block from its first on (it decodes as one stream,
// gaps and all), another format's blocks of consecutive frames.
struct StreamRun {
    StreamHeadInfo head;
    uint32_t firstFrame = 0;
    std::vector<TagBytes> blocks;  // whole, an MP3 block's 4-byte header included
};

struct Timeline {
    // What happens in each frame; only the first `shown` frames, each ended
    // by a ShowFrame, are played: tags after the last one belong to no frame.
    std::vector<std::vector<TimelineEvent>> frames;
    uint32_t shown = 0;
    std::vector<StreamRun> streams;
    bool holdsSound = false;  // starts a sound or holds a stream block
};

struct ButtonSound {
    uint16_t button = 0;
    int slot = 0;
    uint16_t sound = 0;
};

class CMovieTimelines final : public CTagListener {
public:
    Timeline main;
    std::map<uint16_t, Timeline> sprites;
    std::map<uint16_t, DefinedSound> sounds;  // the movie's own DefineSounds
    std::vector<SoundStart> starts;           // every start a timeline makes, in file order
    std::vector<ButtonSound> buttons;
    std::map<uint16_t, std::string> exported;     // ExportAssets names by character id
    std::map<uint16_t, std::string> classNames;   // SymbolClass names by character id
    std::map<std::string, uint16_t> classes;      // SymbolClass: class name to character id
    // Movies embedded in it (by the outermost one's DefineBinaryData id) and
    // the sounds and stream heads they hold: only scripts load them.
    std::map<uint16_t, uint32_t> embeddedSounds;
    bool scripts = false;  // actions beyond a lone stop, clip actions, init actions, ABC
    bool mainReachedEnd = false;  // the main timeline's End tag was read, not the file's end

    // A character's export name, else its class name, as the report names sounds.
    std::string NameOf(uint16_t id) const;

    void OnTimelineBegin(const TagPlace& place, uint16_t frameCount) override;
    void OnTimelineEnd(const TagPlace& place, bool reachedEnd) override;
    void OnShowFrame(const TagPlace& place) override;
    void OnSoundDefined(const TagPlace& place, const DefinedSound& sound) override;
    void OnStreamHead(const TagPlace& place, const StreamHeadInfo& head) override;
    void OnStreamBlock(const TagPlace& place, const TagBytes& block) override;
    void OnPlace(const TagPlace& place, const Placement& p) override;
    void OnRemove(const TagPlace& place, uint16_t depth) override;
    void OnStartSound(const TagPlace& place, const SoundStart& start) override;
    void OnStopAction(const TagPlace& place) override;
    void OnScripts(const TagPlace& place, ScriptKind kind) override;
    void OnButtonSound(const TagPlace& place, uint16_t button, int slot, const SoundStart& start) override;
    void OnNames(const TagPlace& place, NameKind kind,
                 const std::vector<std::pair<uint16_t, std::string>>& names) override;

private:
    // The timeline a tag stands on, or null in an embedded movie.
    Timeline* At(const TagPlace& place);
    void Add(const TagPlace& place, TimelineEvent event);

    // Per timeline being walked: the stream head in force and the run open.
    struct Walking {
        Timeline* timeline = nullptr;
        bool haveHead = false;
        StreamHeadInfo head;
        int run = -1;              // index of the run blocks go to, -1 for none
        uint32_t lastBlockFrame = 0;
    };
    std::vector<Walking> m_walking;
};
