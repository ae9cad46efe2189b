// The command-line converter: every SWF argument to MP3 or WAV, with a results text.
#pragma once

#include <string>
#include <vector>

struct BatchOutcome {
    std::string results;  // "Conversion results:\n\n" and one line per movie
    bool showResults = false;  // /m or /M was given
    bool allConverted = true;
    int movies = 0;
    int interruptedBy = 0;  // the signal that stopped the run early, or 0
};

struct BatchOptions {
    unsigned jobs = 1;     // worker processes at once
    double timeout = 0;    // seconds per movie; 0 for no limit
};

// Reads "--jobs=N" (else ORVELLIN_JOBS, else one per processor) and
// "--timeout=SECONDS" from args. False, with the reason in error, for a value
// that is no valid count or time.
bool ParseBatchOptions(const std::vector<std::string>& args, BatchOptions& options, std::string& error);

// Converts the movies named in args (the arguments after the program name),
// each in a worker process of its own, up to options.jobs at once. Movies
// whose outputs could share a name run one after another in argument order,
// and the results keep argument order, so a parallel run gives the files and
// the text of a serial one.
BatchOutcome RunBatch(const std::vector<std::string>& args, const BatchOptions& options);

// The key under which movies must run in order: the file name without its
// extension, in lower case, without trailing "_NNN" numbers, since a movie's
// outputs are its base followed by "_NNN" and a movie whose own name ends in
// such a number may take the same names.
std::string OrderKey(const std::string& path);
