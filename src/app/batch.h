// The command-line converter: every SWF argument to MP3 or WAV, with a results text.
#pragma once

#include <string>
#include <vector>

struct BatchOutcome {
    std::string results;  // "Conversion results:\n\n" and one line per movie
    bool showResults = false;  // /m or /M was given
    bool allConverted = true;
    int movies = 0;
};

// Converts the movies named in args (the arguments after the program name),
// with up to jobs movies at once. Movies whose outputs could share a name run
// one after another, so every file gets the name a serial run would give it.
BatchOutcome RunBatch(const std::vector<std::string>& args, unsigned jobs);

// "--jobs=N" wins over ORVELLIN_JOBS; otherwise one worker per core.
unsigned ChooseJobs(const std::vector<std::string>& args);
