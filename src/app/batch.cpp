#include "app/batch.h"

#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <map>
#include <unistd.h>

#include "app/listing.h"
#include "app/report.h"
#include "app/workers.h"
#include "platform/file.h"
#include "platform/process.h"
#include "swf/swf_movie.h"
#include "util/paths.h"

namespace {

bool IsMessageSwitch(const std::string& arg)
{
    return arg.size() == 2 && arg[0] == '/' && (arg[1] == 'm' || arg[1] == 'M');
}

// The value of "--name=value", or null when arg is no such option.
const char* OptionValue(const std::string& arg, const char* name)
{
    const size_t n = std::char_traits<char>::length(name);
    return arg.compare(0, n, name) == 0 && arg.size() > n && arg[n] == '=' ? arg.c_str() + n + 1 : nullptr;
}

unsigned ParseCount(const char* text, unsigned max)
{
    if (!text || !std::isdigit(static_cast<unsigned char>(*text)))
        return 0;
    char* end = nullptr;
    const unsigned long n = std::strtoul(text, &end, 10);
    return *end == '\0' && n <= max ? static_cast<unsigned>(n) : 0;
}

template <typename Take>
void ForEachLine(const std::string& text, Take take)
{
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        take(text.substr(at, end - at));
        at = end + 1;
    }
}

// True when the file has bytes and its last one ends no line.
bool EndsInsideALine(const std::string& path)
{
    platform::File file;
    char last = '\n';
    const int64_t size = file.Open(path, platform::OpenMode::Read) ? file.Size() : 0;
    return size > 0 && file.Seek(static_cast<uint64_t>(size - 1)) && file.Read(&last, 1) == 1 && last != '\n';
}

// Movie paths one per line; "-" reads standard input.
bool ReadList(const std::string& list, OutputType type, std::vector<BatchMovie>& movies)
{
    std::string text;
    if (list == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (std::cin.bad())
            return false;
    } else if (!platform::ReadWholeFile(list, text, size_t{1} << 32)) {
        return false;
    }
    ForEachLine(text, [&](std::string line) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            movies.push_back(BatchMovie{std::move(line), type});
    });
    return true;
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

std::string ResultLine(const std::string& path, const RecordCounts& counts, bool list)
{
    char text[64];
    if (counts.parsed && !counts.failed)
        std::snprintf(text, sizeof text, ": %ld/%ld %s\n", counts.extracted, counts.found,
                      list ? "Extractable" : "Extracted");
    else
        std::snprintf(text, sizeof text, ": Conversion failure\n");
    return Printable(FileNamePart(path)) + text;
}

// Which shard a movie falls in: by its order key, so that movies that must
// run in order stay together, and the same on every machine.
unsigned ShardOf(const std::string& path, unsigned shards)
{
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (const char c : OrderKey(path)) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return static_cast<unsigned>(h % shards) + 1;
}

// Records of an earlier run, the last one of each movie.
std::map<std::string, std::string> ReadRecords(const std::string& report)
{
    std::map<std::string, std::string> records;
    std::string text;
    if (!platform::ReadWholeFile(report, text, size_t{1} << 34))
        return records;
    ForEachLine(text, [&](std::string line) {
        std::string path = RecordPath(line);
        if (!path.empty())
            records[std::move(path)] = std::move(line);
    });
    return records;
}

// One line on standard error, rewritten in place.
class CProgress {
public:
    CProgress(bool shown, size_t total) : m_shown(shown), m_total(total) {}
    void Done(long sounds)
    {
        ++m_done;
        m_sounds += sounds;
        const auto now = Clock::now();
        if (!m_shown || (m_done < m_total && now - m_last < std::chrono::milliseconds(100)))
            return;
        m_last = now;
        const double elapsed = std::chrono::duration<double>(now - m_start).count();
        const double left = m_done ? elapsed / static_cast<double>(m_done) * static_cast<double>(m_total - m_done) : 0;
        std::fprintf(stderr, "\r\033[K%zu/%zu movies, %ld sounds, %s elapsed, about %s left", m_done, m_total,
                     m_sounds, Duration(elapsed).c_str(), Duration(left).c_str());
        if (m_done == m_total)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    using Clock = std::chrono::steady_clock;
    static std::string Duration(double seconds)
    {
        const long s = static_cast<long>(seconds + 0.5);
        char text[32];
        if (s >= 3600)
            std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
        else
            std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
        return text;
    }

    bool m_shown;
    size_t m_total;
    size_t m_done = 0;
    long m_sounds = 0;
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_last{};
};

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

bool ParseBatchArguments(const std::vector<std::string>& args, BatchOptions& options, std::string& error)
{
    options = BatchOptions{};
    OutputType type = OutputType::Mp3;
    unsigned jobs = 0;
    for (const std::string& arg : args) {
        const char* value = nullptr;
        if (IsMessageSwitch(arg)) {
            options.showResults = true;
        } else if (EqualsIgnoreCase(arg, "/wav")) {
            type = OutputType::Wav;
        } else if (EqualsIgnoreCase(arg, "/mp3")) {
            type = OutputType::Mp3;
        } else if (EqualsIgnoreCase(arg, "/keep")) {
            type = OutputType::Keep;
        } else if (EqualsIgnoreCase(arg, "/flac")) {
            type = OutputType::Flac;
        } else if ((value = OptionValue(arg, "--jobs"))) {
            if ((jobs = ParseCount(value, 1024)) == 0) {
                error = "--jobs takes a whole number from 1 to 1024";
                return false;
            }
        } else if ((value = OptionValue(arg, "--timeout"))) {
            char* end = nullptr;
            const double seconds = std::strtod(value, &end);
            if (!*value || *end != '\0' || !(seconds > 0) || seconds > 1e9) {
                error = "--timeout takes a number of seconds greater than 0";
                return false;
            }
            options.timeout = seconds;
        } else if ((value = OptionValue(arg, "--report"))) {
            options.report = value;
        } else if (arg == "--resume") {
            options.resume = true;
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if ((value = OptionValue(arg, "--names"))) {
            if (std::string(value) != "export" && std::string(value) != "number") {
                error = "--names takes export or number";
                return false;
            }
            options.exportNames = std::string(value) == "export";
        } else if ((value = OptionValue(arg, "--shard"))) {
            const char* slash = std::strchr(value, '/');
            const std::string k = slash ? std::string(value, slash) : "";
            options.shard = ParseCount(k.c_str(), 1u << 20);
            options.shards = slash ? ParseCount(slash + 1, 1u << 20) : 0;
            if (options.shard == 0 || options.shards == 0 || options.shard > options.shards) {
                error = "--shard takes K/N, with 1 <= K <= N";
                return false;
            }
        } else if ((value = OptionValue(arg, "--files-from"))) {
            if (!ReadList(value, type, options.movies)) {
                error = std::string("can't read the movie list ") + value;
                return false;
            }
        } else {
            options.movies.push_back(BatchMovie{arg, type});
        }
    }
    if (options.resume && options.list) {
        error = "--resume goes with conversions; --list writes no files to resume";
        return false;
    }
    if (options.resume && options.report.empty()) {
        error = "--resume needs --report=FILE";
        return false;
    }
    if (jobs == 0)
        jobs = ParseCount(std::getenv("ORVELLIN_JOBS"), 1024);
    options.jobs = jobs != 0 ? jobs : platform::ProcessorCount();
    return true;
}

BatchOutcome RunBatch(const BatchOptions& options)
{
    BatchOutcome outcome;
    outcome.results = options.list ? "Listing results:\n\n" : "Conversion results:\n\n";
    outcome.showResults = options.showResults;
    std::vector<BatchMovie> movies;
    for (const BatchMovie& m : options.movies) {
        if (options.shards == 0 || ShardOf(m.path, options.shards) == options.shard)
            movies.push_back(m);
    }

    const std::map<std::string, std::string> earlier =
        options.resume ? ReadRecords(options.report) : std::map<std::string, std::string>{};
    platform::File report;
    if (!options.report.empty()) {
        // Records are added: what an earlier run wrote stays, and the last
        // record of a movie is the one that counts. A line cut off by a
        // killed run is ended first, so the next record starts a line.
        const bool cut = EndsInsideALine(options.report);
        if (!report.Open(options.report, platform::OpenMode::Append) || (cut && !report.Write("\n", 1)))
            std::fprintf(stderr, "orvellin: can't write the report %s\n", options.report.c_str());
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

    std::vector<std::string> lines(movies.size());
    std::vector<bool> converted(movies.size(), false);
    CProgress progress(!options.quiet && ::isatty(STDERR_FILENO), movies.size());
    const bool digests = !options.report.empty();
    // Listings print in argument order as soon as those before them are out.
    std::vector<std::string> listings(movies.size());
    size_t printed = 0;
    const auto PrintListings = [&](bool all) {
        for (; printed < movies.size() && (all || !listings[printed].empty()); ++printed)
            std::fwrite(listings[printed].data(), 1, listings[printed].size(), stdout);
        std::fflush(stdout);
    };

    const auto work = [&](size_t task) -> std::string {
        const BatchMovie& movie = movies[task];
        if (const char* abortOn = std::getenv("ORVELLIN_TEST_ABORT_ON"); abortOn && FileNamePart(movie.path) == abortOn)
            std::abort();
        if (options.list) {
            // The record, then the text to print.
            CSwfMovie swf;
            const bool loaded = swf.List(movie.path);
            const MovieListing listing = ListMovie(movie.path, swf, loaded, digests, Printable);
            return "N" + listing.record + "\n" + listing.text;
        }
        const auto old = earlier.find(movie.path);
        if (old != earlier.end() && KeepOrClearRecord(old->second, movie.path, movie.type))
            return "K";
        CSwfMovie swf;
        const bool loaded = swf.Run(movie.path, movie.type, options.exportNames);
        std::string result = "N";
        result += MovieRecord(movie.path, swf, loaded, movie.type, digests);
        return result;
    };
    const auto done = [&](size_t task, const WorkerOutcome& result) {
        const BatchMovie& movie = movies[task];
        std::string record;
        bool fresh = true;
        if (!result.reported || result.result.empty()) {
            record = FailedRecord(movie.path, movie.type, result.failure);
        } else if (result.result[0] == 'K') {
            record = earlier.at(movie.path);
            fresh = false;
        } else {
            record = result.result.substr(1);
        }
        if (options.list) {
            const size_t end = record.find('\n');
            listings[task] = end == std::string::npos ? Printable(movie.path) + "\n  " + result.failure + "\n"
                                                      : record.substr(end + 1);
            record.resize(std::min(end, record.size()));
            PrintListings(false);
        }
        if (fresh && report.IsOpen() && !report.Write((record + "\n").data(), record.size() + 1))
            std::fprintf(stderr, "orvellin: writing the report %s failed\n", options.report.c_str());
        const RecordCounts counts = CountsOf(record);
        lines[task] = ResultLine(movie.path, counts, options.list);
        converted[task] = counts.parsed && !counts.failed && counts.extracted == counts.found;
        progress.Done(counts.extracted);
    };

    std::fflush(nullptr);
    outcome.interruptedBy = RunWorkers(chains, WorkerLimits{options.jobs, options.timeout}, work, done);
    PrintListings(true);
    if (report.IsOpen() && !report.Close())
        std::fprintf(stderr, "orvellin: writing the report %s failed\n", options.report.c_str());

    for (size_t i = 0; i < movies.size(); ++i) {
        outcome.results += lines[i];
        outcome.allConverted = outcome.allConverted && converted[i];
    }
    outcome.movies = static_cast<int>(movies.size());
    return outcome;
}
