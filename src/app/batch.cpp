#include "app/batch.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "app/workers.h"
#include "platform/process.h"
#include "swf/swf_movie.h"
#include "util/paths.h"

namespace {

struct Movie {
    std::string path;
    bool toMp3 = true;
    std::string line;
    bool ok = false;
};

bool IsMessageSwitch(const std::string& arg)
{
    return arg.size() == 2 && arg[0] == '/' && (arg[1] == 'm' || arg[1] == 'M');
}

bool StartsWith(const std::string& arg, const char* prefix)
{
    return arg.rfind(prefix, 0) == 0;
}

bool IsBatchOption(const std::string& arg)
{
    return StartsWith(arg, "--jobs=") || StartsWith(arg, "--timeout=");
}

unsigned ParseCount(const char* text)
{
    if (!text || !*text)
        return 0;
    char* end = nullptr;
    const unsigned long n = std::strtoul(text, &end, 10);
    if (*end != '\0' || n == 0 || n > 1024 || !std::isdigit(static_cast<unsigned char>(*text)))
        return 0;
    return static_cast<unsigned>(n);
}

// A name as the results text shows it: control characters escaped, so that
// no file name can start a line of its own.
std::string Printable(std::string_view name)
{
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20 || u == 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", u);
                out += hex;
            } else {
                out += c;
            }
        }
    }
    return out;
}

// What a worker sends back: "ok EXTRACTED TOTAL" or "failed".
std::string ConvertInWorker(const Movie& movie)
{
    if (const char* abortOn = std::getenv("ORVELLIN_TEST_ABORT_ON"); abortOn && FileNamePart(movie.path) == abortOn)
        std::abort();
    long extracted = 0;
    long total = 0;
    if (!ConvertSwfFile(movie.path, &extracted, &total, nullptr, movie.toMp3))
        return "failed";
    return "ok " + std::to_string(extracted) + " " + std::to_string(total);
}

void Settle(Movie& movie, const WorkerOutcome& outcome)
{
    long extracted = 0;
    long total = 0;
    movie.ok = outcome.reported && std::sscanf(outcome.result.c_str(), "ok %ld %ld", &extracted, &total) == 2;
    char counts[64];
    if (movie.ok)
        std::snprintf(counts, sizeof counts, ": %ld/%ld Extracted\n", extracted, total);
    else
        std::snprintf(counts, sizeof counts, ": Conversion failure\n");
    movie.line = Printable(FileNamePart(movie.path)) + counts;
}

}  // namespace

std::string OrderKey(const std::string& path)
{
    std::string name(FileNamePart(WithoutExtension(path)));
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Numbers are written with at least three digits.
    for (;;) {
        const size_t underscore = name.rfind('_');
        if (underscore == std::string::npos || name.size() - underscore - 1 < 3)
            break;
        bool digits = true;
        for (size_t i = underscore + 1; i < name.size(); ++i)
            digits = digits && std::isdigit(static_cast<unsigned char>(name[i]));
        if (!digits)
            break;
        name.resize(underscore);
    }
    return name;
}

bool ParseBatchOptions(const std::vector<std::string>& args, BatchOptions& options, std::string& error)
{
    options = BatchOptions{};
    unsigned jobs = 0;
    for (const std::string& arg : args) {
        if (StartsWith(arg, "--jobs=")) {
            jobs = ParseCount(arg.c_str() + 7);
            if (jobs == 0) {
                error = "--jobs takes a whole number from 1 to 1024";
                return false;
            }
        } else if (StartsWith(arg, "--timeout=")) {
            const char* text = arg.c_str() + 10;
            char* end = nullptr;
            const double seconds = std::strtod(text, &end);
            if (!*text || *end != '\0' || !(seconds > 0) || seconds > 1e9) {
                error = "--timeout takes a number of seconds greater than 0";
                return false;
            }
            options.timeout = seconds;
        }
    }
    if (jobs == 0)
        jobs = ParseCount(std::getenv("ORVELLIN_JOBS"));
    options.jobs = jobs != 0 ? jobs : platform::ProcessorCount();
    return true;
}

BatchOutcome RunBatch(const std::vector<std::string>& args, const BatchOptions& options)
{
    BatchOutcome outcome;
    outcome.results = "Conversion results:\n\n";
    std::vector<Movie> movies;
    bool toMp3 = true;
    for (const std::string& arg : args) {
        if (IsMessageSwitch(arg))
            outcome.showResults = true;
        else if (EqualsIgnoreCase(arg, "/wav"))
            toMp3 = false;
        else if (EqualsIgnoreCase(arg, "/mp3"))
            toMp3 = true;
        else if (!IsBatchOption(arg))
            movies.push_back(Movie{arg, toMp3, {}, false});
    }

    // Chains of movies that must run in argument order, in order of first appearance.
    std::vector<std::vector<size_t>> chains;
    std::map<std::string, size_t> chainOf;
    for (size_t i = 0; i < movies.size(); ++i) {
        auto [it, added] = chainOf.try_emplace(OrderKey(movies[i].path), chains.size());
        if (added)
            chains.emplace_back();
        chains[it->second].push_back(i);
    }

    std::fflush(nullptr);
    outcome.interruptedBy = RunWorkers(
        chains, WorkerLimits{options.jobs, options.timeout},
        [&](size_t task) { return ConvertInWorker(movies[task]); },
        [&](size_t task, const WorkerOutcome& result) { Settle(movies[task], result); });

    for (const Movie& movie : movies) {
        outcome.results += movie.line;
        outcome.allConverted = outcome.allConverted && movie.ok;
    }
    outcome.movies = static_cast<int>(movies.size());
    return outcome;
}
