// The soundtrack of a movie as heard: the main timeline played once from
// frame 1, with the sprites it places, every sound its frames start (with
// their loops, cuts and fades) and every stream of its timelines, mixed at
// 44,100 Hz, stereo, 16-bit, into one file. Only what the timelines say is
// played: what scripts would start can't be known without running them, and
// is listed instead, with button sounds and sounds no timeline starts.
//
// The rules of the mix, so that a test can know its answer sample for sample:
// - Frame k of every timeline starts at output sample k * 44100 * 256 / F
//   (rounded down), F the header's 8.8 frame rate as one integer.
// - A sprite placed on a frame plays its own frame 0 at that frame's start,
//   one frame per frame, loops while placed (what its first frame places
//   again with the same character stays as it is), and ends where it is
//   removed or another character is placed at its depth. A timeline of one
//   frame plays it once. A DoAction of ActionStop alone stops its timeline
//   after that frame; the main timeline then ends there.
// - A started sound is decoded as /wav decodes it (an MP3 sound less its
//   SeekSamples), widened from 8 bits as (u - 128) * 256, and brought to
//   44,100 Hz by linear interpolation: sample j of n samples at rate r is
//   s[i] + (s[i+1] - s[i]) * f / 44100, i = j * r / 44100, f = j * r % 44100,
//   s[n] = s[n-1], for j below ceil(n * 44100 / r).
// - In and out points count samples of that; each loop plays in to out, out
//   included. The envelope counts the instance's own samples across loops,
//   linear between points (integer, toward zero), held before the first and
//   after the last, levels above 32,768 as 32,768; a sample becomes
//   floor(s * level / 32768). SyncStop ends every sounding instance of the
//   sound and starts nothing; SyncNoMultiple starts nothing while one sounds.
// - A stream starts at its first block's frame: MP3 blocks decode as one
//   stream from there, less that block's SeekSamples; other formats' blocks
//   follow one another while frames have blocks. A stream is cut where its
//   timeline stops, loops or is removed, and at the end of the main timeline.
// - Instances add up in 32 bits and are clamped once per sample. Event sounds
//   ring on past the main timeline's end up to the tail, then are cut. At most
//   1,024 started sounds sound at once; starts beyond are refused.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "swf/swf_types.h"

class CMovieBody;

namespace platform {
class Folder;
class PendingFile;
}  // namespace platform

// What a soundtrack holds and what it could not play, for the report, the
// listing and the window.
struct SoundtrackSummary {
    // Why there is none: kNoTimelineSound, or a frame rate of 0; empty when
    // there is one.
    static constexpr const char* kNoTimelineSound = "no timeline sound";
    std::string none;
    uint64_t samples = 0;          // sample frames of the soundtrack
    uint64_t timelineSamples = 0;  // where the main timeline ends
    uint32_t frames = 0;           // frames of the main timeline played
    uint32_t instances = 0;        // sounds started and heard
    uint32_t streams = 0;          // stream runs heard
    uint32_t refused = 0;          // starts past the most that may sound at once
    uint32_t notMultiple = 0;      // SyncNoMultiple starts of a sound already sounding
    uint32_t stopped = 0;          // instances a SyncStop ended
    uint64_t clipped = 0;          // channel samples clamped
    uint32_t unplayed = 0;         // sounds and streams started that this build can't play, or past a bound
    bool cut = false;              // cut at the most a soundtrack may hold: lost past there
    bool movieCutShort = false;    // the file ends before the main timeline does: nothing past it is heard
    std::string lost;              // why the file made could not be kept; "" when it was
    bool scripts = false;          // scripts a player would run may change what is heard
    struct Button {
        uint16_t button = 0;
        int slot = 0;
        uint16_t sound = 0;
    };
    std::vector<Button> buttonSounds;
    struct Unstarted {
        uint16_t id = 0;
        std::string name;  // export or class name
    };
    std::vector<Unstarted> unstarted;       // sounds no timeline starts
    std::vector<uint16_t> unplacedSprites;  // sprites with sound that are never placed
    struct Embedded {
        uint16_t movie = 0;   // the DefineBinaryData that holds it
        uint32_t sounds = 0;  // its sounds and stream heads, movies inside it included
    };
    std::vector<Embedded> embeddedMovies;  // movies embedded in it that hold sound
    std::vector<std::string> warnings;
};

// What a soundtrack lists and does not mix, a line each, as the listing and
// the window say it: button sounds, sounds no timeline starts (names through
// printable), sprites never placed, embedded movies, scripts, warnings.
std::vector<std::string> NotHeardLines(const SoundtrackSummary& summary,
                                       const std::function<std::string(std::string_view)>& printable);

class CSoundtrack {
public:
    CSoundtrack();
    ~CSoundtrack();
    CSoundtrack(const CSoundtrack&) = delete;
    CSoundtrack& operator=(const CSoundtrack&) = delete;

    // Decides, once the new file is complete under a temporary name, whether
    // it goes in (resume removes an earlier soundtrack here); false discards it.
    using CommitGate = std::function<bool(const CSoundtrack&)>;
    // Renders the soundtrack of the movie beside it (or in the fallback
    // folders) as NAME_soundtrack.EXT, under the rules every output keeps:
    // a free name, a temporary name until complete, put on the disk before
    // it takes its name. Keep writes WAV. False when the movie can't be
    // read; a movie with no timeline sound is no failure and makes no file.
    bool Render(const std::string& moviePath, OutputType type, uint32_t tailSeconds, const CommitGate& gate = {});
    // The same into target, a file the user chose (replaced when there).
    // Cancel stops the render, which then leaves nothing; progress hears
    // how far it is, from 0 to 1.
    bool RenderTo(const std::string& moviePath, const std::string& target, OutputType type, uint32_t tailSeconds,
                  const std::atomic<bool>* cancel = nullptr, const std::function<void(double)>& progress = {});
    // Finds what Render would (the same numbers), writing nothing.
    bool Plan(const std::string& moviePath, uint32_t tailSeconds);

    // The movie's size and SHA-256 as read, when asked for before.
    void SetWantDigest(bool want) { m_wantDigest = want; }
    bool MovieDigest(uint64_t& size, std::string& sha256) const;

    LoadFailure LastLoadFailure() const { return m_failure; }
    bool Cancelled() const { return m_cancelled; }
    const SoundtrackSummary& Summary() const { return m_summary; }
    // The file made, when one was: its path, type, rate, channels, samples.
    const CSoundElement* Output() const { return m_made ? &m_output : nullptr; }
    const CMovieBody& Body() const { return *m_body; }

private:
    struct Mix;
    // Reads the movie, plans its voices and mixes them into out (a WAV file
    // being written, or nowhere).
    bool Make(const std::string& moviePath, uint32_t tailSeconds, platform::PendingFile* out,
              const std::atomic<bool>* cancel, const std::function<void(double)>& progress);
    // Encodes the WAV made into target (MP3 or FLAC), discarding it.
    bool Convert(platform::PendingFile& wav, platform::PendingFile& target, OutputType type);

    std::unique_ptr<CMovieBody> m_body;
    LoadFailure m_failure = LoadFailure::None;
    SoundtrackSummary m_summary;
    CSoundElement m_output;
    bool m_made = false;
    bool m_cancelled = false;
    bool m_wantDigest = false;
    uint64_t m_digestSize = 0;
    std::string m_digest;
};
