// One SWF movie being read, its sounds extracted and converted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "audio/mp3_decoder.h"
#include "swf/swf_types.h"

namespace platform {
class File;
class PendingFile;
}  // namespace platform

class CMovieBody;
class COutputPlace;
class CSoundFinder;

// Most sounds one movie may make files of; the rest are found and lost. Real
// movies hold a few hundred; a tiny movie of empty tags could name millions.
constexpr size_t kMaxSoundsPerMovie = 65536;
// Most bytes one movie's outputs may take together (64 GiB): far beyond
// what any real movie's sounds decode to.
constexpr uint64_t kMaxOutputBytesPerMovie = uint64_t{64} << 30;
// Most bytes of samples the coded sounds (Nellymoser, Speex, G.711) of one
// movie may decode to per byte of their data, beyond a first allowance. Real
// data stay below about 110 (Speex at its lowest rate); data of silence
// frames alone decode to 1,024, and zeros are such data.
constexpr uint64_t kMaxDecodedPerCodedByte = 128;
constexpr uint64_t kDecodedAllowance = uint64_t{1} << 20;

// One movie converted: read, its sounds found and written, each file brought
// to the type asked for and named. The walk of its tags is the tag
// reader's (tag_reader.h); finding and writing sounds is CSoundFinder's.
class CSwfMovie {
public:
    CSwfMovie();
    virtual ~CSwfMovie();
    CSwfMovie(const CSwfMovie&) = delete;
    CSwfMovie& operator=(const CSwfMovie&) = delete;

    // Reads the movie: the whole body, or in header-only mode just enough for
    // its header values. Replaces what was loaded before. A whole load picks
    // where the outputs go (and claims their names there) unless dry.
    bool Load(const std::string& path, bool headerOnly);
    static bool GetHeaderInfo(const std::string& path, SwfHeaderInfo* info);
    // Why the last Load failed; None after a good one.
    LoadFailure LastLoadFailure() const { return m_loadFailure; }

    // Forgets the movie and its catalogue; the files stay.
    void Reset();
    // Loads the movie and writes every sound as extracted (MP3 or WAV).
    bool Extract(const std::string& swfPath, bool exportNames = false);
    // Loads the movie and finds every sound as a conversion to type would,
    // writing nothing and opening no folder: the findings are those of the
    // conversion (an MP3 sound that won't decode is lost for WAV and FLAC),
    // the catalogue's records have no path.
    bool List(const std::string& swfPath, OutputType type = OutputType::Keep);
    // Decides, once every new output is complete under a temporary name and
    // before any takes its final name, whether they go in. Resume removes an
    // earlier run's outputs here, so the new ones take the same names; false
    // discards the new ones and Run returns false.
    using CommitGate = std::function<bool(const CSwfMovie& movie)>;
    // Extract, then bring every file to the chosen type. With exportNames,
    // sounds the movie names (ExportAssets, SymbolClass) take their name
    // instead of a number.
    bool Run(const std::string& swfPath, OutputType type, bool exportNames = false, const CommitGate& gate = {});

    // The folders a movie's outputs may be in: its own, then the fallbacks,
    // each ending in '/'.
    static std::vector<std::string> OutputFolders(const std::string& swfPath);
    // True when name (a file name, no folder) is one that an output of the
    // movie at swfPath can take: BASE.ext, BASE_NNN.ext, BASE_<export>.ext and
    // its numbered forms, for the output types.
    static bool IsOutputName(const std::string& swfPath, std::string_view name);

    // With it, a conversion whose file is byte for byte a file already under
    // a name the movie's naming gives (an earlier run's, whose record was
    // lost) takes that file as its output instead of adding another: runs
    // cut short any number of times converge on one set of files.
    void SetTakeIdenticalOutputs(bool take) { m_takeIdentical = take; }
    // With it, the movie's size and SHA-256 are taken from the very file the
    // walk read, before its identity is checked (MovieDigest).
    void SetWantDigest(bool want) { m_wantDigest = want; }
    // False when not asked for or the file could not be read for it.
    bool MovieDigest(uint64_t& size, std::string& sha256) const;

    // The files written, in catalogue order: the order of their sounds' numbers.
    const std::list<CSoundElement>& Sounds() const { return m_sounds; }
    // Every sound the movie holds, in the order they start (a stream at its
    // head), with what became of it; empty sounds are listed too.
    const std::vector<CSoundFinding>& Findings() const { return m_findings; }
    // Embedded movies whose sounds could not be read.
    const std::vector<CLostSource>& LostSources() const { return m_lostSources; }
    // Sounds the movie holds (empty ones aside, embedded movies that could
    // not be read counted as one each), and how many of them are in the
    // catalogue whole: a sound that could not be written, or only in part,
    // is lost.
    uint32_t FoundCount() const { return static_cast<uint32_t>(m_listed + m_unlisted + m_lostSources.size()); }
    // Sounds found past the most one movie may make files of: lost, counted,
    // and not listed one by one in Findings.
    uint32_t UnlistedCount() const { return m_unlisted; }
    uint32_t ExtractedCount() const;
    // False when the movie has sounds and none of them could be written.
    bool WroteAnything() const { return FoundCount() == 0 || !m_sounds.empty(); }
    // Its main timeline reached its End tag: the walk read the whole movie.
    bool ReachedEnd() const { return m_reachedEnd; }
    SwfHeaderInfo HeaderInfo() const;
    // The frame rate with its fraction (the header's 8.8 value).
    double FrameRate() const;
    // A plain movie whose file ends before the length its header declares
    // and whose tags run out before their end: its sounds are those up to
    // the cut. One whose tags end whole is whole, whatever it declares.
    bool CutShort() const;
    // A plain movie whose file is shorter than it declares, though whole.
    bool DeclaresMoreThanItHolds() const;
    // 'F', 'C' or 'Z': plain, zlib or LZMA body.
    char Signature() const;
    // The length the file header declares, and the length of the body held
    // (both counting the 8-byte file header).
    uint32_t DeclaredLength() const;
    uint32_t BodyLength() const;
    size_t BufferSize() const;
    uint64_t FirstTag() const;
    const std::string& OutputBase() const;
    // The movie as read.
    const CMovieBody& Body() const { return *m_body; }

private:
    friend class CSoundFinder;

    // Starts the file of the next sound under a temporary name; false (with
    // the reason in finding) when no file can be created or the movie has
    // made all it may.
    bool CreateOutput(const char* extension, platform::PendingFile& file, CSoundFinding& finding);
    bool OpenWaveOutput(platform::PendingFile& file, bool stereo, int bits, uint32_t rate, CSoundFinding& finding);
    // Finishes a written output and catalogues it for finding; false (the
    // file gone) when that fails or the movie's outputs would grow past
    // their bound.
    bool KeepOutput(platform::PendingFile& file, CSoundElement record, CSoundFinding& finding);
    // Ends a finding: lost unless a record was written for it.
    void AddFinding(CSoundFinding finding, bool written);
    // Removes what a killed run left of this movie's temporary files.
    void RemoveStaleTemporaryFiles();
    // Moves every output under its final name: numbered in catalogue order,
    // or by export name, or without a number for a movie's one sound; a name
    // held by anything is passed over. An output that can't be moved is lost.
    void CommitOutputs(bool exportNames, bool singleUnnumbered);
    void DiscardOutputs();
    // The temporary name of the ordinal-th output made: after the number it
    // would take, so what a killed run left is told as this movie's.
    std::string ProvisionalName(size_t ordinal, const char* extension) const;

    // Conversion.
    // Loads and walks the movie; dry, its outputs are nowhere. Target is the
    // type the outputs are then converted to.
    bool ExtractPending(const std::string& swfPath, bool dry, OutputType target = OutputType::Keep);
    // Converts one record to the type; true when it now names the new file.
    bool ConvertRecord(CSoundElement& sound, size_t record, OutputType type);
    // What converting a listed record to type would make of it, found
    // without writing; false where the conversion would fail.
    bool ListConversion(CSoundElement& sound, const CSoundFinding& finding, OutputType type) const;
    // Decodes an MP3 record to a WAV file beside it, for FLAC to encode.
    bool DecodeToWave(platform::File& in, size_t record, platform::PendingFile& wave, CSoundElement& sound);
    // The finding of each catalogue record, by its place.
    std::vector<CSoundFinding*> FindingsByRecord();
    // Puts the findings in the order their sounds started, the catalogue in
    // the same order, and numbers the sounds.
    void OrderFindings();
    // Takes the file under name as the output of record when it is a
    // regular file holding exactly what the record's pending file holds
    // (and not taken already).
    bool TakeIdentical(size_t record, const std::string& name, std::vector<std::pair<uint64_t, uint64_t>>& taken);

    std::unique_ptr<CMovieBody> m_body;
    std::unique_ptr<COutputPlace> m_place;
    LoadFailure m_loadFailure = LoadFailure::None;

    // Catalogue.
    std::list<CSoundElement> m_sounds;
    std::vector<CSoundFinding> m_findings;
    std::vector<CLostSource> m_lostSources;
    uint32_t m_listed = 0;  // findings that are not empty
    bool m_reachedEnd = false;
    bool m_takeIdentical = false;
    bool m_wantDigest = false;
    uint64_t m_digestSize = 0;
    std::string m_digest;  // empty when none was taken
    // A listing's MP3 sounds, by where they started: the data a conversion
    // would decode, where they stand in the movie.
    std::map<uint64_t, std::vector<Mp3Piece>> m_listedMp3;

    // Outputs.
    bool m_dry = false;                          // outputs are nowhere: a listing
    OutputType m_target = OutputType::Keep;      // what the outputs are converted to
    std::vector<platform::PendingFile> m_outputs;  // one per catalogue record until committed
    // Per record, the order its file was started in: numbers follow the
    // order the sounds are met, though a stream is done only at its end.
    std::vector<size_t> m_outputOrder;
    std::map<std::string, size_t> m_orderOfTemp;  // files started, not yet kept
    size_t m_started = 0;
    uint64_t m_outputBytes = 0;
    uint32_t m_unlisted = 0;
};

namespace swf_testing {
// Called by Run between extraction and conversion, so that a test can change
// the file system under a movie half done. Process-wide; empty for none.
void SetAfterExtraction(std::function<void()> hook);
}  // namespace swf_testing

// Converts one movie; the command line's entry point. extracted receives the
// sounds written whole, total the sounds found. False when the movie can't be
// read, or when it has sounds and none could be written. Every out pointer
// may be null.
bool ConvertSwfFile(const std::string& swfPath, long* extracted, long* total,
                    std::list<std::string>* paths, OutputType type);
