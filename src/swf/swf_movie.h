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

#include "swf/bit_reader.h"
#include "swf/swf_types.h"

namespace platform {
class File;
class Folder;
class MappedFile;
class PendingFile;
}  // namespace platform

// Most sounds one movie may make files of; the rest are found and lost. Real
// movies hold a few hundred; a tiny movie of empty tags could name millions.
constexpr size_t kMaxSoundsPerMovie = 65536;
// Most bytes one movie's outputs may take together (64 GiB): far beyond
// what any real movie's sounds decode to.
constexpr uint64_t kMaxOutputBytesPerMovie = uint64_t{64} << 30;
// Longest export name kept, in bytes: what a file name has room for.
constexpr size_t kMaxExportNameBytes = 120;

class CSwfMovie {
public:
    CSwfMovie();
    virtual ~CSwfMovie();
    CSwfMovie(const CSwfMovie&) = delete;
    CSwfMovie& operator=(const CSwfMovie&) = delete;

    // Reads the movie: the whole body, or in header-only mode just enough for
    // its header values. Replaces what was loaded before.
    bool Load(const std::string& path, bool headerOnly);
    static bool GetHeaderInfo(const std::string& path, SwfHeaderInfo* info);
    // Why the last Load failed; None after a good one.
    LoadFailure LastLoadFailure() const { return m_loadFailure; }

    // Forgets the movie and its catalogue; the files stay.
    void Reset();
    // Loads the movie and writes every sound as extracted (MP3 or WAV).
    bool Extract(const std::string& swfPath, bool exportNames = false);
    // Loads the movie and finds every sound as extraction would, writing
    // nothing and opening no folder: the findings are those of a conversion,
    // the catalogue's records have no path.
    bool List(const std::string& swfPath);
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

    // The files written, in catalogue order.
    const std::list<CSoundElement>& Sounds() const { return m_sounds; }
    // Every sound the movie holds, in the order they were found (a stream when
    // it ends), with what became of it.
    const std::vector<CSoundFinding>& Findings() const { return m_findings; }
    // Sounds the movie holds, and how many of them are in the catalogue
    // whole: a sound that could not be written, or only in part, is lost.
    uint32_t FoundCount() const { return static_cast<uint32_t>(m_findings.size() + m_unlisted); }
    // Sounds found past the most one movie may make files of: lost, counted,
    // and not listed one by one in Findings.
    uint32_t UnlistedCount() const { return m_unlisted; }
    uint32_t ExtractedCount() const;
    // False when the movie has sounds and none of them could be written.
    bool WroteAnything() const { return m_findings.empty() || !m_sounds.empty(); }
    SwfHeaderInfo HeaderInfo() const;
    // The frame rate with its fraction (the header's 8.8 value).
    double FrameRate() const { return m_frameRate + m_frameRateFraction / 256.0; }
    // A plain movie whose file ends before the length its header declares:
    // its sounds are those up to the cut.
    bool CutShort() const { return m_signature == 'F' && m_bodyLength < m_declaredLength; }
    // 'F', 'C' or 'Z': plain, zlib or LZMA body.
    char Signature() const { return m_signature; }
    // The length the file header declares, and the length of the body held
    // (both counting the 8-byte file header).
    uint32_t DeclaredLength() const { return m_declaredLength; }
    uint32_t BodyLength() const { return m_bodyLength; }
    size_t BufferSize() const { return m_bufferSize; }
    uint64_t FirstTag() const { return m_firstTag; }
    const std::string& OutputBase() const { return m_outputBase; }

private:
    struct WalkState;

    // Container.
    void ReleaseBody();
    bool LoadPlain(platform::File& file, const uint8_t* header, bool headerOnly);
    // A zlib ('CWS') or LZMA ('ZWS') body.
    bool LoadCompressed(platform::File& file, bool headerOnly, bool lzma);
    void ParseMovieHeader();

    // Tag walk.
    bool WalkTags(bool inSprite);
    // Walks tags from the cursor up to limit: one timeline.
    void WalkTimeline(uint64_t limit);
    // A DefineBinaryData tag: a movie in it is walked where it stands.
    void OnDefineBinaryData();
    // Walks the embedded movie whose header starts at headerAt in the body
    // held now and whose bytes end at limit, if its tags make a movie.
    void WalkEmbedded(uint16_t id, uint64_t headerAt, uint64_t limit);
    // True when the tags from at chain to an End tag or to limit exactly.
    bool TagsChain(uint64_t at, uint64_t limit) const;
    void OnDefineSound();
    void OnSoundStreamHead();
    void OnSoundStreamBlock();
    void FinishStream();
    // Writes decoded samples of a coded stream to its file; false once it
    // can take no more.
    bool AppendStreamSamples(const int16_t* samples, size_t count);
    // Bytes from the cursor to tag end, or 0 when the cursor has passed it.
    uint32_t BytesLeftInTag() const;
    // Appends the bytes from the cursor to tag end to a file; to a WAV file
    // no more than it may still hold (cut tells they were fewer).
    bool CopyTagRest(platform::File& file);
    // Appends n bytes of the body from at to a file.
    bool WriteBodyBytes(platform::File& file, uint64_t at, size_t n);
    bool CopyTagRestToWave(platform::File& file, uint64_t& dataBytes, int blockAlign, bool& cut);

    // Writers and naming. Outputs are written and converted under temporary
    // names, and take their final names together once the movie is done.
    void PickOutputBase(const std::string& swfPath);
    bool TryOutputFolder(const std::string& folder);
    // Removes what a killed run left of this movie's temporary files.
    void RemoveStaleTemporaryFiles();
    // Starts the file of the next sound under a temporary name; false when
    // no file can be created or the movie has made all it may.
    bool CreateOutput(const char* extension, platform::PendingFile& file);
    // Finishes a written output and catalogues it; false (the file gone) when
    // that fails or the movie's outputs would grow past their bound.
    bool KeepOutput(platform::PendingFile& file, CSoundElement record);
    bool OpenWaveOutput(platform::PendingFile& file, bool stereo, int bits, uint32_t rate);
    // Moves every output under its final name: numbered in catalogue order,
    // or by export name, or without a number for a movie's one sound; a name
    // held by anything is passed over. An output that can't be moved is lost.
    void CommitOutputs(bool exportNames, bool singleUnnumbered);
    void DiscardOutputs();
    // The temporary name of the ordinal-th output made: after the number it
    // would take, so what a killed run left is told as this movie's.
    std::string ProvisionalName(size_t ordinal, const char* extension) const;
    // The fields of a DefineSound's sound header.
    struct SoundHeader {
        int format = 0;
        int rateIndex = 0;
        bool is16Bit = false;
        bool stereo = false;
        uint32_t sampleCount = 0;
    };
    // Each writes the DefineSound data from the cursor to tag end and
    // catalogues the file; false when nothing could be written.
    bool WriteMp3Sound(const SoundHeader& h);
    bool WriteAdpcmSound(const SoundHeader& h);
    bool WritePcmSound(const SoundHeader& h);
    // Nellymoser, Speex and G.711, decoded to 16-bit WAV; false for formats
    // without a decoder.
    bool WriteCodedSound(const SoundHeader& h);
    static CSoundElement RecordOf(const SoundHeader& h);

    // Conversion.
    // Loads and walks the movie; dry, its outputs are nowhere. Target is the
    // type the outputs are then converted to.
    bool ExtractPending(const std::string& swfPath, bool dry, OutputType target = OutputType::Keep);
    // Converts one record to the type; true when it now names the new file.
    bool ConvertRecord(CSoundElement& sound, size_t record, OutputType type);
    // Decodes an MP3 record to a WAV file beside it, for FLAC to encode.
    bool DecodeToWave(platform::File& in, size_t record, platform::PendingFile& wave, CSoundElement& sound);
    // The finding of each catalogue record, by its place.
    std::vector<CSoundFinding*> FindingsByRecord();
    // Names the findings from the first-th on that belong to the movie being
    // walked (not to movies embedded in it) after its ExportAssets and SymbolClass.
    void TakeExportNames(size_t first);
    // The finding of the sound being written, which writers fill in.
    CSoundFinding& Current();
    // Ends a finding: lost unless a record was written for it.
    void AddFinding(CSoundFinding finding, bool written);
    void OnExportNames(std::map<uint16_t, std::string>& names);
    // An MP3 sound's rate and channels as its first frame says.
    void NoteMp3Frames(CSoundFinding& finding);

    // Container.
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_frameRate = 0;
    uint8_t m_frameRateFraction = 0;
    int32_t m_frameCount = 0;
    uint16_t m_version = 0;
    char m_signature = 0;
    LoadFailure m_loadFailure = LoadFailure::None;
    uint32_t m_declaredLength = 0;
    // The body read: held in m_buffer (read or inflated), or a plain movie's
    // file mapped as it stands.
    const uint8_t* m_body = nullptr;
    std::unique_ptr<uint8_t[]> m_buffer;
    std::unique_ptr<platform::MappedFile> m_mapping;
    size_t m_bufferSize = 0;
    uint32_t m_bodyLength = 0;
    uint64_t m_firstTag = 0;
    CBitReader m_reader;
    // Bytes the movie and the movies embedded in it may inflate to together,
    // and those inflated so far: an embedded bomb is refused like an outer one.
    uint64_t m_inflateBound = 0;
    uint64_t m_inflated = 0;

    // Catalogue and walk.
    std::list<CSoundElement> m_sounds;
    std::vector<CSoundFinding> m_findings;
    uint64_t m_tagEnd = 0;
    uint32_t m_tagLength = 0;
    std::unique_ptr<WalkState> m_walk;

    // Naming and outputs.
    bool m_dry = false;                          // outputs are nowhere: a listing
    OutputType m_target = OutputType::Keep;      // what the outputs are converted to
    std::shared_ptr<platform::Folder> m_folder;  // where the outputs go
    std::string m_baseName;                      // their name before "_NNN.ext"
    std::string m_outputBase;                    // folder and base, as shown
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
