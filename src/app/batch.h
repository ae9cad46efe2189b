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
    std::string error;  // why the run could not start (no movie was touched), or empty
};

#include "swf/swf_types.h"

struct BatchMovie {
    std::string path;
    OutputType type = OutputType::Mp3;
};

struct BatchOptions {
    unsigned jobs = 1;        // worker processes at once
    double timeout = 0;       // seconds per movie; 0 for no limit
    std::string report;       // JSON Lines file to add a record per movie to; empty for none
    bool resume = false;      // skip movies whose record in the report still holds
    unsigned shard = 0;       // with shards > 0: take only shard number shard (1-based)
    unsigned shards = 0;
    bool quiet = false;       // no progress line
    bool exportNames = false; // name sounds by their export names
    bool showResults = false; // /m
    bool list = false;        // --list: print each movie's sounds, write no file
    bool soundtrack = false;  // --soundtrack: each movie's timelines mixed into one file
    uint32_t tailSeconds = 10;  // how long started sounds ring on past a soundtrack's timeline
    // The movies of the shard (all without one), in argument order, each
    // with the type in force there.
    std::vector<BatchMovie> movies;
};

// Reads the arguments (after the program name): movies, /mp3, /wav, /keep and
// /flac for the movies after them, /m, the options of --help (--name=VALUE
// or --name VALUE), "--" after which every argument is a movie, and movie
// lists (--files-from, NUL-separated with --null), read in their place among
// the movies once the whole line is known to be usable. False, with the
// reason in error, for an argument starting with '-' that is no option, an
// option that is malformed, or a list that can't be read, is no regular file
// (standard input excepted), has an entry too long to be a path, names too
// many movies or too many bytes of paths to keep; also when memory runs out.
constexpr size_t kMaxListLine = 4096;  // the longest path the system takes
constexpr size_t kMaxMovies = 1000000;  // named, in every shard
constexpr size_t kMaxPathBytes = size_t{256} << 20;  // of the paths kept
bool ParseBatchArguments(const std::vector<std::string>& args, BatchOptions& options, std::string& error);

// Converts the movies in worker processes, up to options.jobs at once (no
// more than the open-file limit allows). Movies whose outputs could share a
// name run one after another in argument order, and the results keep
// argument order, so a parallel run gives the files and the text of a serial
// one. A movie listed twice (the same file) is converted once.
BatchOutcome RunBatch(const BatchOptions& options);

// The part of a movie's file name under which the movies of one folder must
// run in order (see batch.cpp for why it is enough).
std::string OrderKey(const std::string& path, bool exportNames);
