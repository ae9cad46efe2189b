// The machine-readable account of a batch: one JSON object per movie, as
// JSON Lines (docs/report.schema.json describes it). A report is untrusted
// input on resume: it may be shared, concatenated or edited by hand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/record_summary.h"
#include "platform/owned_files.h"
#include "swf/swf_types.h"

class CSwfMovie;
class CSoundtrack;

// Size and SHA-256 (lower-case hex) of a file; false when it can't be read.
bool FileDigest(const std::string& path, uint64_t& size, std::string& sha256);

// The record of a movie the job ran on: loaded tells whether it loaded;
// realPath is the movie's folder resolved and its name, by which later runs
// know it however it is spelled ("" to leave it out). Without digests,
// sizes and hashes are left out (null): the results line needs only the
// counts. Never throws: a record that can't be made is a failed record
// saying why.
std::string MovieRecord(const std::string& path, const std::string& realPath, const CSwfMovie& movie, bool loaded,
                        OutputType type, bool digests);
// The record of a movie whose soundtrack was made (or planned, for a
// listing): the movie's fields, and a "soundtrack" object with the file and
// what it holds, and what it could only list.
std::string SoundtrackRecord(const std::string& path, const std::string& realPath, const CSoundtrack& track,
                             bool loaded, OutputType type, bool digests);
// The record of a movie whose worker gave no result (crashed, ran out of
// time). Never throws; empty only when not even this could be made.
std::string FailedRecord(const std::string& path, OutputType type, const std::string& reason,
                         const std::string& realPath = {});

// What the results line needs from a record, counted from its sounds (a
// sound with an output is extracted), never taken from its fields.
struct RecordCounts {
    bool parsed = false;
    bool failed = true;
    long extracted = 0;
    long found = 0;
    bool partial = false;  // sounds lost, or a movie cut short
    // A soundtrack's record: its length, or why it has none.
    bool soundtrack = false;
    double seconds = 0;
    uint32_t unplayed = 0;
    std::string none;
    std::string lost;
};
RecordCounts CountsOf(const std::string& record);
RecordCounts CountsOf(const RecordSummary& record);

// A movie's path as every spelling of it resolves: its folder with links,
// "." and ".." resolved, then its name. Folders are resolved once each.
class CResolver {
public:
    std::string Of(const std::string& path);

private:
    std::map<std::string, std::string> m_folders;
};

// A movie of this run, as resume knows it.
struct RunMovie {
    std::string key;       // its path resolved (CResolver)
    bool known = false;    // its file could be looked at
    platform::FileId id;
    uint64_t size = 0;
};

// The records of an earlier run of the movies of this run: found by their
// paths resolved, so another spelling of a path (./a, a//b, a link to its
// folder) is the same movie, or else by a record of a hard link of the
// movie. Of a movie's records, the last counts, except that a failed redo
// or a listing never hides one that names outputs.
class CEarlierRecords {
public:
    // A missing report has none; false with the reason in words when the
    // report can't be read, is no regular file or is larger than resume
    // reads.
    // Only records of soundtracks, or only the others, are the run's.
    bool Read(const std::string& report, const std::vector<RunMovie>& movies, bool soundtracks, std::string& error);
    // The record of the movie-th movie, or null.
    const RecordSummary* Of(size_t movie) const;
    // It was found as the record of a hard link of the movie under another name.
    bool ThroughLink(size_t movie) const;
    CResolver& Resolver() { return m_resolve; }

private:
    CResolver m_resolve;
    std::vector<RecordSummary> m_records;
    std::vector<uint8_t> m_have;
    std::vector<uint8_t> m_byLink;
};

// An earlier record of a movie about to be converted again, checked against
// the files it names. Only outputs of this movie as the record describes
// them count: a regular file (no link followed) in one of the movie's output
// folders, under a name the movie's naming can produce, with the recorded
// size and hash, each file once. Everything else the record names is left
// alone and counted as ignored.
class CEarlierRecord {
public:
    CEarlierRecord(const RecordSummary& record, const std::string& moviePath, OutputType wanted);
    ~CEarlierRecord();
    CEarlierRecord(const CEarlierRecord&) = delete;
    CEarlierRecord& operator=(const CEarlierRecord&) = delete;

    // It says converted to the same type, the movie's bytes are the same,
    // and every sound's output is there as recorded.
    bool Holds() const { return m_holds; }
    // Its outputs that checked: what a new conversion would replace.
    size_t OwnedOutputs() const;
    // Files it names that are not this movie's outputs as recorded.
    size_t Ignored() const { return m_ignored; }
    // Removes the outputs that checked, each only while it is still the
    // file that was hashed.
    void RemoveOutputs();

private:
    struct Owned;
    struct Folders;
    std::vector<Owned> m_owned;
    std::unique_ptr<Folders> m_folders;
    bool m_holds = false;
    size_t m_ignored = 0;
};

// Escapes a name for JSON text and back: valid UTF-8 stays as it is; any
// other name is its UTF-8 reading (bad bytes as U+FFFD) and its bytes in
// base64 beside it. Exposed for tests.
std::string Base64(const std::string& bytes);
bool FromBase64(const std::string& text, std::string& bytes);
bool IsValidUtf8(const std::string& text);
