// What the results line and resume need of a report record, read as it
// streams by: nothing else of the line is kept, so a record costs memory in
// proportion to the outputs it names, however large or odd its line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct RecordSummary {
    struct Output {
        bool typed = false;  // a path (a name with no NUL byte), a size and a SHA-256
        std::string path;    // its bytes (path_bytes where given)
        uint64_t size = 0;
        std::string sha256;
    };
    struct Sound {
        bool empty = false;
        bool wholeSaid = false;  // "whole" is there, as a boolean
        bool whole = false;
        bool hasOutput = false;  // "output" is an object
        Output output;
    };

    bool parsed = false;       // a JSON object with an outcome string
    std::string path;          // the movie's path bytes; "" when it has none that is a name
    std::string realPath;      // the movie's folder resolved, and its name; "" when not recorded
    std::string outcome;
    std::string outputType;
    std::string sha256;        // "" when missing or no digest
    bool hasSize = false;
    uint64_t size = 0;
    bool soundsArray = false;  // "sounds" is an array
    std::vector<Sound> sounds;
    uint64_t unlisted = 0;
    uint64_t lostSources = 0;
    // A soundtrack's record: its file is its one sound (in sounds).
    bool soundtrack = false;
    std::string none;  // why it has none
    std::string lost;  // why its file was lost
    bool cut = false;
    uint32_t unplayed = 0;  // started sounds it could not play
    double seconds = 0;

    // It names at least one output file: a conversion's record.
    bool NamesOutputs() const;
};

// False (and nothing to go by) for a line that is no JSON object, nests
// deeper than a record, names more sounds than a movie may have, or holds
// a name with a NUL byte where a path belongs.
bool SummarizeRecord(std::string_view line, RecordSummary& summary);

// 64 lower-case hex digits.
bool IsDigest(const std::string& text);

// The bytes of a name written as a string, or in base64 beside it under
// the key with "_bytes"; false when they are no name (bad base64, a NUL).
bool NameBytes(const std::string& text, bool haveText, const std::string& base64, bool haveBase64, std::string& name);
