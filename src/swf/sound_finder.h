// Finds every sound of a movie as the tag reader meets it and writes it to
// a file of its own through the movie's outputs: event sounds at once,
// streams block by block until their timeline's stream ends. A listing is
// the same finder over outputs that are nowhere, so it finds exactly what a
// conversion would.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "swf/tag_reader.h"

class CMovieBody;
class CSwfMovie;
struct CSoundFinding;

class CSoundFinder final : public CTagListener {
public:
    CSoundFinder(CSwfMovie& movie, const CMovieBody& body);
    ~CSoundFinder() override;
    CSoundFinder(const CSoundFinder&) = delete;
    CSoundFinder& operator=(const CSoundFinder&) = delete;

    void OnTimelineBegin(const TagPlace& place, uint16_t frameCount) override;
    void OnTimelineEnd(const TagPlace& place, bool reachedEnd) override;
    void OnSoundDefined(const TagPlace& place, const DefinedSound& sound) override;
    void OnStreamHead(const TagPlace& place, const StreamHeadInfo& head) override;
    void OnStreamBlock(const TagPlace& place, const TagBytes& block) override;
    void OnNames(const TagPlace& place, NameKind kind,
                 const std::vector<std::pair<uint16_t, std::string>>& names) override;
    void OnEmbeddedSkipped(const TagPlace& place, uint16_t id, EmbeddedSkip why) override;

private:
    struct Stream;
    // Names given by one movie (the outer one or an embedded one), and where
    // its findings start.
    struct MovieNames {
        std::map<uint16_t, std::string> exported;  // ExportAssets
        std::map<uint16_t, std::string> classes;   // SymbolClass
        size_t first = 0;
    };

    bool WriteMp3Sound(const DefinedSound& s, CSoundFinding& finding);
    bool WriteAdpcmSound(const DefinedSound& s, CSoundFinding& finding);
    bool WritePcmSound(const DefinedSound& s, CSoundFinding& finding);
    // Nellymoser, Speex and G.711, decoded to 16-bit WAV; false for formats
    // without a decoder.
    bool WriteCodedSound(const DefinedSound& s, CSoundFinding& finding);
    void FinishStream(Stream& s);
    // Appends decoded samples of a coded stream to its file; false once it
    // can take no more.
    bool AppendStreamSamples(Stream& s, const int16_t* samples, size_t count);
    // How many of count decoded samples the movie's coded sounds may still
    // take: none past the bound on what their data may decode to, which
    // then marks finding cut.
    size_t WithinDecodeBound(size_t count, CSoundFinding& finding);
    // Names the findings from names.first on that belong to the movie just
    // walked (not to movies embedded in it) after its ExportAssets and
    // SymbolClass.
    void TakeExportNames(const MovieNames& names, const std::vector<uint16_t>& embedded);

    CSwfMovie& m_movie;
    const CMovieBody& m_body;
    std::vector<Stream> m_streams;  // of the timelines open, innermost last
    std::vector<MovieNames> m_names;  // of the movies open, innermost last
    std::vector<uint8_t> m_blockBuffer;  // decoded ADPCM stream block, reused
    uint64_t m_started = 0;  // sounds started so far: each one's place in that order
    uint64_t m_codedIn = 0;  // bytes of coded sound data given to decoders
    uint64_t m_codedOut = 0; // bytes of samples they gave back
    // A listing for a type MP3 sounds are decoded to keeps where their data
    // stand, to decode them.
    bool m_keepMp3Data = false;
};
