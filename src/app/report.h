// The machine-readable account of a batch: one JSON object per movie, as
// JSON Lines (docs/report.schema.json describes it).
#pragma once

#include <cstdint>
#include <string>

#include "swf/swf_types.h"

class CSwfMovie;

// Size and SHA-256 (lower-case hex) of a file; false when it can't be read.
bool FileDigest(const std::string& path, uint64_t& size, std::string& sha256);

// The record of a movie the job ran on: loaded tells whether it loaded.
// Without digests, sizes and hashes are left out (null): the results line
// needs only the counts.
std::string MovieRecord(const std::string& path, const CSwfMovie& movie, bool loaded, OutputType type, bool digests);
// The record of a movie whose worker gave no result (crashed, ran out of time).
std::string FailedRecord(const std::string& path, OutputType type, const std::string& reason);

// What the results line needs from a record.
struct RecordCounts {
    bool parsed = false;
    bool failed = true;
    long extracted = 0;
    long found = 0;
};
RecordCounts CountsOf(const std::string& record);

// True when an earlier record still stands for the movie: it says converted
// to the same type, the movie's bytes are the same, and every file it lists
// is there with the same bytes. Otherwise the files it lists that are still
// as it recorded them are deleted, before its movie is converted again: they
// are that run's outputs, and a file changed since is left alone.
bool KeepOrClearRecord(const std::string& record, const std::string& path, OutputType type);

// The path a record is about; empty when the line is no record.
std::string RecordPath(const std::string& record);
