#include "app/batch.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string_view>
#include <tuple>
#include <unistd.h>

#include "app/listing.h"
#include "app/report.h"
#include "app/workers.h"
#include "platform/folders.h"
#include "platform/owned_files.h"
#include "platform/process.h"
#include "swf/output_place.h"
#include "swf/soundtrack.h"
#include "swf/swf_movie.h"
#include "util/paths.h"

namespace {

bool IsMessageSwitch(const std::string& arg)
{
    return arg.size() == 2 && arg[0] == '/' && (arg[1] == 'm' || arg[1] == 'M');
}

unsigned ParseCount(const char* text, unsigned max)
{
    if (!text || !std::isdigit(static_cast<unsigned char>(*text)))
        return 0;
    char* end = nullptr;
    const unsigned long n = std::strtoul(text, &end, 10);
    return *end == '\0' && n <= max ? static_cast<unsigned>(n) : 0;
}

// A name as the results text shows it: control characters escaped, C0 and
// C1 alike (U+0080 to U+009F, which a terminal may take for commands), so
// that no file name can start a line of its own or move the cursor. Bytes
// that are no UTF-8 stay as they are: a Shift-JIS or Latin-1 name reads
// right on a terminal of its encoding.
std::string Printable(std::string_view name)
{
    std::string out;
    const auto hex = [&](const char* form, unsigned value) {
        char text[8];
        std::snprintf(text, sizeof text, form, value);
        out += text;
    };
    for (size_t i = 0; i < name.size(); ++i) {
        const auto u = static_cast<unsigned char>(name[i]);
        const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0u;
        if (u == '\n') {
            out += "\\n";
        } else if (u == '\r') {
            out += "\\r";
        } else if (u == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            hex("\\x%02x", u);
        } else if (u == 0xC2 && next >= 0x80 && next <= 0x9F) {
            hex("\\u%04x", next);
            ++i;
        } else if (u >= 0xC2 && u <= 0xF4) {
            // A whole sequence is copied, so its continuation bytes are not
            // taken for lone ones.
            const size_t length = u < 0xE0 ? 2 : u < 0xF0 ? 3 : 4;
            size_t k = 1;
            while (k < length && i + k < name.size() && (static_cast<unsigned char>(name[i + k]) & 0xC0) == 0x80)
                ++k;
            if (k == length) {
                out.append(name.substr(i, length));
                i += length - 1;
            } else {
                out += static_cast<char>(u);
            }
        } else {
            out += static_cast<char>(u);
        }
    }
    return out;
}

std::string ResultLine(const std::string& path, const RecordCounts& counts, bool list)
{
    char text[96];
    if (counts.parsed && !counts.failed && counts.soundtrack) {
        if (!counts.none.empty())
            return Printable(FileNamePart(path)) + ": " + counts.none + (counts.partial ? ", cut short" : "") + "\n";
        if (!counts.lost.empty())
            return Printable(FileNamePart(path)) + ": Soundtrack lost: " + counts.lost + "\n";
        if (counts.unplayed > 0)
            std::snprintf(text, sizeof text, ": Soundtrack, %.3f s, %u started sound(s) not played\n", counts.seconds,
                          counts.unplayed);
        else
            std::snprintf(text, sizeof text, ": Soundtrack%s, %.3f s\n",
                          counts.extracted < counts.found ? " cut short" : "", counts.seconds);
    } else if (counts.parsed && !counts.failed)
        std::snprintf(text, sizeof text, ": %ld/%ld %s\n", counts.extracted, counts.found,
                      list ? "Extractable" : "Extracted");
    else
        std::snprintf(text, sizeof text, ": Conversion failure\n");
    return Printable(FileNamePart(path)) + text;
}

// The folder part of a path, ending in '/', or empty.
std::string FolderPart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Which shard a movie falls in: by its folder as written and its order key,
// so that movies that must run in order stay together, and the same on
// every machine.
unsigned ShardOf(const std::string& path, unsigned shards, bool exportNames)
{
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (const char c : platform::LexicalFolder(FolderPart(path)) + '\0' + OrderKey(path, exportNames)) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return static_cast<unsigned>(h % shards) + 1;
}

// The folder a movie's outputs go to, for chaining: the folder itself (by
// identity, however it is spelled), or one key for every movie whose folder
// can't be written, since their outputs meet in the one fallback folder.
class CFolderKeys {
public:
    const std::string& Of(const std::string& path)
    {
        const std::string folder = FolderPart(path);
        auto it = m_keys.find(folder);
        if (it == m_keys.end()) {
            platform::FileId id;
            std::string key = platform::WritableFolderId(folder, id)
                                  ? std::to_string(id.device) + ":" + std::to_string(id.inode)
                                  : std::string("fallback");
            it = m_keys.emplace(folder, std::move(key)).first;
        }
        return it->second;
    }

private:
    std::map<std::string, std::string> m_keys;
};

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

// Why the key is enough: a movie's outputs are BASE.ext or BASE_<tail>.ext,
// BASE its output base (its file name without extension, or a cut form of
// it), in its folder or the fallback one.
// With numbers <tail> is three or more digits, so two movies' names meet
// only when one base is the other followed by "_NNN" groups, which the key
// strips. With export names <tail> is anything: BASE1[_x] can equal
// BASE2[_y] only when one base is the other or the other followed by '_'
// and more, and then both have the same part before their first '_', which
// is the key. Lower case, for folders that compare names without case. A
// name longer than the 120 bytes a base keeps whole becomes its first 111 or
// fewer bytes and a hash, so keys are cut at 108 bytes: every name that could
// meet such a base shares them. A coarser key only chains more.
std::string OrderKey(const std::string& path, bool exportNames)
{
    constexpr size_t kKeyBytes = 108;
    std::string name = OutputBaseOf(path);
    if (name.size() > kKeyBytes)
        name.resize(kKeyBytes);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (exportNames) {
        name.resize(std::min(name.find('_'), name.size()));
    } else {
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
    }
    name.resize(std::min(name.size(), kKeyBytes));
    return name;
}

namespace {

// The movies a run keeps, in the order they are named: those of its shard
// only, so that a shard of a long list costs what it keeps, within bounds
// on how many are named and how many bytes their paths take.
class CMovieTaker {
public:
    enum Outcome { kGoesOn, kTooMany, kTooLarge };

    explicit CMovieTaker(BatchOptions& options) : m_options(options) {}

    Outcome Take(const std::string& path, OutputType type)
    {
        if (++m_named > kMaxMovies)
            return kTooMany;
        if (m_options.shards != 0 && ShardOf(path, m_options.shards, m_options.exportNames) != m_options.shard)
            return kGoesOn;
        if (path.size() > kMaxPathBytes - m_bytes)
            return kTooLarge;
        m_bytes += path.size();
        // A copy, not the reader's buffer: it is as large as the path.
        m_options.movies.push_back(BatchMovie{path, type});
        return kGoesOn;
    }

    static std::string Bound(Outcome outcome)
    {
        return outcome == kTooMany ? "more than " + std::to_string(kMaxMovies) + " movies"
                                   : "more than " + std::to_string(kMaxPathBytes >> 20) + " MiB of movie paths";
    }

private:
    BatchOptions& m_options;
    size_t m_named = 0;
    size_t m_bytes = 0;
};

// Movie paths one a line, or each ended by a NUL byte (nul); "-" reads
// standard input. Bounded: a list that never ends (a pipe from a program
// gone wrong) ends the run with a reason instead of exhausting memory.
bool ReadList(const std::string& list, OutputType type, bool nul, CMovieTaker& taker, std::string& error)
{
    platform::RegularReader in;
    if (list == "-") {
        in.UseStandardInput();
    } else if (!in.Open(list)) {
        error = "can't read the movie list " + Printable(list) + ": " + in.Why();
        return false;
    }
    const char separator = nul ? '\0' : '\n';
    const std::string unit = nul ? "entry " : "line ";
    std::vector<char> buffer(1 << 16);
    std::string entry;
    entry.reserve(kMaxListLine);
    size_t number = 1;
    const auto take = [&] {
        if (!nul && !entry.empty() && entry.back() == '\r')
            entry.pop_back();
        if (entry.empty())
            return true;
        const CMovieTaker::Outcome outcome = taker.Take(entry, type);
        if (outcome != CMovieTaker::kGoesOn) {
            error = CMovieTaker::Bound(outcome) + "; the list " + Printable(list) + " has more at " + unit +
                    std::to_string(number) + ": split it into several runs" +
                    (outcome == CMovieTaker::kTooLarge ? " (or shards, --shard=K/N)" : "");
            return false;
        }
        entry.clear();
        return true;
    };
    for (;;) {
        const ssize_t got = in.Read(buffer.data(), buffer.size());
        if (got < 0) {
            error = "can't read the movie list " + Printable(list);
            return false;
        }
        if (got == 0)
            break;
        const char* at = buffer.data();
        const char* const end = at + got;
        while (at < end) {
            const size_t left = static_cast<size_t>(end - at);
            const char* const stop = static_cast<const char*>(std::memchr(at, separator, left));
            const size_t part = stop ? static_cast<size_t>(stop - at) : left;
            if (!nul && std::memchr(at, '\0', part)) {
                error = "the movie list " + Printable(list) + " holds a NUL byte at line " + std::to_string(number) +
                        ": it is no list of paths one a line (--null reads NUL-separated ones)";
                return false;
            }
            if (part > kMaxListLine - entry.size()) {
                error = unit + std::to_string(number) + " of the movie list " + Printable(list) + " is longer than " +
                        std::to_string(kMaxListLine) + " bytes, more than any path";
                return false;
            }
            entry.append(at, part);
            if (!stop)
                break;
            if (!take())
                return false;
            ++number;
            at = stop + 1;
        }
    }
    return take();
}

// Options that take a value, as --name=VALUE or --name VALUE.
bool TakesValue(std::string_view name)
{
    for (const char* option : {"--jobs", "--timeout", "--report", "--names", "--shard", "--files-from", "--soundtrack-tail"}) {
        if (name == option)
            return true;
    }
    return false;
}

// A movie named on the command line, or a list of them.
struct MovieSource {
    std::string_view text;  // in the arguments
    OutputType type;
    bool list;
};

bool ParseArguments(const std::vector<std::string>& args, BatchOptions& options, std::string& error)
{
    OutputType type = OutputType::Mp3;
    unsigned jobs = 0;
    bool nul = false;
    bool optionsEnded = false;
    // Lists are read once every option is known: --null, --shard and
    // --names may follow them.
    std::vector<MovieSource> sources;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || (arg[0] != '-' && arg[0] != '/')) {
            sources.push_back(MovieSource{arg, type, false});
        } else if (IsMessageSwitch(arg)) {
            options.showResults = true;
        } else if (EqualsIgnoreCase(arg, "/wav")) {
            type = OutputType::Wav;
        } else if (EqualsIgnoreCase(arg, "/mp3")) {
            type = OutputType::Mp3;
        } else if (EqualsIgnoreCase(arg, "/keep")) {
            type = OutputType::Keep;
        } else if (EqualsIgnoreCase(arg, "/flac")) {
            type = OutputType::Flac;
        } else if (arg[0] == '/') {
            sources.push_back(MovieSource{arg, type, false});  // an absolute path
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-") {
            error = "- is no option and names no movie (a movie named - is ./-)";
            return false;
        } else {
            const size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            if (!TakesValue(name)) {
                bool* const flag = name == "--resume" ? &options.resume
                                   : name == "--list"  ? &options.list
                                   : name == "--quiet" ? &options.quiet
                                   : name == "--null"  ? &nul
                                   : name == "--soundtrack" ? &options.soundtrack
                                                       : nullptr;
                if (flag && equals == std::string::npos) {
                    *flag = true;
                    continue;
                }
                error = flag ? name + " takes no value"
                        : name == "--open"
                            ? "--open comes first, followed only by movies and folders to open in the window"
                            : "unknown option " + Printable(name) +
                                  " (see --help; a movie whose name starts with - goes after -- or as ./NAME)";
                return false;
            }
            // A separate value never starts with '-', so that a forgotten
            // value can't swallow the next option.
            std::string_view given;
            if (equals != std::string::npos) {
                given = std::string_view(arg).substr(equals + 1);
            } else if (i + 1 < args.size() && (args[i + 1] == "-" || args[i + 1][0] != '-')) {
                given = args[++i];
            } else {
                error = name + " needs a value (" + name + "=VALUE for one that starts with -)";
                return false;
            }
            const std::string value(given);
            if (name == "--jobs") {
                if ((jobs = ParseCount(value.c_str(), 1024)) == 0) {
                    error = "--jobs takes a whole number from 1 to 1024";
                    return false;
                }
            } else if (name == "--timeout") {
                char* end = nullptr;
                const double seconds = std::strtod(value.c_str(), &end);
                if (value.empty() || *end != '\0' || !(seconds > 0) || seconds > 1e9) {
                    error = "--timeout takes a number of seconds greater than 0";
                    return false;
                }
                options.timeout = seconds;
            } else if (name == "--report") {
                options.report = value;
            } else if (name == "--soundtrack-tail") {
                // Counted from zero: 0 cuts the soundtrack where its timeline ends.
                char* end = nullptr;
                const unsigned long seconds = std::strtoul(value.c_str(), &end, 10);
                if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0])) || *end != '\0' ||
                    seconds > 3600) {
                    error = "--soundtrack-tail takes a whole number of seconds from 0 to 3600";
                    return false;
                }
                options.tailSeconds = static_cast<uint32_t>(seconds);
            } else if (name == "--names") {
                if (value != "export" && value != "number") {
                    error = "--names takes export or number";
                    return false;
                }
                options.exportNames = value == "export";
            } else if (name == "--shard") {
                const size_t slash = value.find('/');
                const std::string k = value.substr(0, slash);
                options.shard = slash != std::string::npos ? ParseCount(k.c_str(), 1u << 20) : 0;
                options.shards = slash != std::string::npos ? ParseCount(value.c_str() + slash + 1, 1u << 20) : 0;
                if (options.shard == 0 || options.shards == 0 || options.shard > options.shards) {
                    error = "--shard takes K/N, with 1 <= K <= N";
                    return false;
                }
            } else {
                sources.push_back(MovieSource{given, type, true});
            }
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

    CMovieTaker taker(options);
    for (const MovieSource& source : sources) {
        if (!source.list) {
            const CMovieTaker::Outcome outcome = taker.Take(std::string(source.text), source.type);
            if (outcome != CMovieTaker::kGoesOn) {
                error = CMovieTaker::Bound(outcome) + " on the command line: split them into several runs";
                return false;
            }
            continue;
        }
        if (!ReadList(std::string(source.text), source.type, nul, taker, error))
            return false;
    }
    return true;
}

}  // namespace

bool ParseBatchArguments(const std::vector<std::string>& args, BatchOptions& options, std::string& error)
{
    options = BatchOptions{};
    try {
        return ParseArguments(args, options, error);
    } catch (const std::bad_alloc&) {
        // What was kept goes first, so that the reason can be written.
        const size_t kept = options.movies.size();
        options.movies = {};
        error = "out of memory reading the movies to convert (" + std::to_string(kept) +
                " kept): split the list into several runs";
        return false;
    }
}

BatchOutcome RunBatch(const BatchOptions& options)
{
    BatchOutcome outcome;
    outcome.results = options.list ? "Listing results:\n\n" : "Conversion results:\n\n";
    outcome.showResults = options.showResults;
    const std::vector<BatchMovie>& movies = options.movies;

    // Each movie as a later run will know it: by its path resolved, and the
    // file it names now.
    CEarlierRecords earlier;
    std::vector<RunMovie> known(movies.size());
    for (size_t i = 0; i < movies.size(); ++i) {
        known[i].key = earlier.Resolver().Of(movies[i].path);
        platform::FileStamp stamp;
        if ((known[i].known = platform::StampOfPath(movies[i].path, stamp))) {
            known[i].id = platform::FileId{static_cast<dev_t>(stamp.device), static_cast<ino_t>(stamp.inode)};
            known[i].size = stamp.size;
        }
    }

    // Everything that can stop the run is checked before any movie is touched.
    if (options.resume && !earlier.Read(options.report, known, options.soundtrack, outcome.error))
        return outcome;
    platform::AppendFile report;
    if (!options.report.empty()) {
        // Records are added: what an earlier run wrote stays, and the last
        // record of a movie is the one that counts. A line cut off by a
        // killed run is ended first, so the next record starts a line.
        if (!report.Open(options.report) || (report.EndsInsideALine() && !report.Write("\n"))) {
            outcome.error = "can't write the report " + options.report + ": " + report.Why();
            return outcome;
        }
    }

    // The same file listed twice (another spelling, a link) is converted
    // once: twice would number the second run's outputs after the first's.
    std::vector<size_t> sameAs(movies.size());
    std::map<std::tuple<dev_t, ino_t, OutputType>, size_t> firstOf;
    for (size_t i = 0; i < movies.size(); ++i) {
        sameAs[i] = i;
        if (known[i].known)
            sameAs[i] = firstOf.try_emplace({known[i].id.device, known[i].id.inode, movies[i].type}, i).first->second;
    }

    // Chains of movies that must run in argument order, in order of first appearance.
    std::vector<std::vector<size_t>> chains;
    std::map<std::string, size_t> chainOf;
    CFolderKeys folders;
    size_t tasks = 0;
    for (size_t i = 0; i < movies.size(); ++i) {
        if (sameAs[i] != i)
            continue;
        ++tasks;
        const std::string key = folders.Of(movies[i].path) + '\0' + OrderKey(movies[i].path, options.exportNames);
        auto [it, added] = chainOf.try_emplace(key, chains.size());
        if (added)
            chains.emplace_back();
        chains[it->second].push_back(i);
    }

    std::vector<RecordCounts> counts(movies.size());
    CProgress progress(!options.quiet && ::isatty(STDERR_FILENO), tasks);
    const bool digests = !options.report.empty();
    bool reportFailed = false;
    size_t ignored = 0;
    // Listings print in argument order as soon as those before them are out.
    std::vector<std::string> listings(movies.size());
    size_t printed = 0;
    const auto PrintListings = [&](bool all) {
        for (; printed < movies.size() && (all || !listings[printed].empty()); ++printed)
            std::fwrite(listings[printed].data(), 1, listings[printed].size(), stdout);
        std::fflush(stdout);
    };

    // A worker's result: a kind, the count of files an earlier record named
    // that were left alone, a line end, then for a new record the record.
    // K: the earlier record stands; O: the movie failed and the earlier
    // record and its outputs stay as they were; N: a new record.
    const auto work = [&](size_t task) -> std::string {
        const BatchMovie& movie = movies[task];
        if (const char* abortOn = std::getenv("ORVELLIN_TEST_ABORT_ON"); abortOn && FileNamePart(movie.path) == abortOn)
            std::abort();
        if (options.list && options.soundtrack) {
            CSoundtrack track;
            track.SetWantDigest(digests);
            const bool loaded = track.Plan(movie.path, options.tailSeconds);
            const MovieListing listing =
                ListSoundtrack(movie.path, known[task].key, track, loaded, movie.type, digests, Printable);
            return "N0\n" + listing.record + "\n" + listing.text;
        }
        if (options.list) {
            // The record, then the text to print.
            CSwfMovie swf;
            swf.SetWantDigest(digests);
            const bool loaded = swf.List(movie.path, movie.type);
            const MovieListing listing = ListMovie(movie.path, known[task].key, swf, loaded, movie.type, digests, Printable);
            return "N0\n" + listing.record + "\n" + listing.text;
        }
        try {
            std::unique_ptr<CEarlierRecord> before;
            if (const RecordSummary* old = earlier.Of(task)) {
                // A record of a hard link of the movie is checked as that
                // link's: its outputs bear the link's name.
                const bool link = earlier.ThroughLink(task);
                before = std::make_unique<CEarlierRecord>(*old, link ? old->realPath : movie.path, movie.type);
                if (before->Holds())
                    return "K" + std::to_string(before->Ignored()) + "\n";
                // Done again, the movie is one of its own name: the link's
                // outputs are the link's.
                if (link)
                    before.reset();
            }
            // The earlier outputs go only once the new ones are complete,
            // and only for a conversion at least as good: a movie unreadable
            // or damaged since keeps what it had.
            bool replaced = false;
            const std::string left = [&] { return std::to_string(before ? before->Ignored() : 0) + "\n"; }();
            if (options.soundtrack) {
                CSoundtrack track;
                track.SetWantDigest(digests);
                const bool loaded = track.Render(movie.path, movie.type, options.tailSeconds, [&](const CSoundtrack&) {
                    if (before && before->OwnedOutputs() > 0) {
                        before->RemoveOutputs();
                        replaced = true;
                    }
                    return true;
                });
                if (before && before->OwnedOutputs() > 0 && !replaced)
                    return "O" + left;
                return "N" + left + SoundtrackRecord(movie.path, known[task].key, track, loaded, movie.type, digests);
            }
            const auto gate = [&](const CSwfMovie& swf) {
                if (!before || before->OwnedOutputs() == 0)
                    return true;
                if (!swf.WroteAnything() || swf.ExtractedCount() < before->OwnedOutputs())
                    return false;
                before->RemoveOutputs();
                replaced = true;
                return true;
            };
            CSwfMovie swf;
            swf.SetWantDigest(digests);
            // A movie whose record was lost (a full disk, a killed run) has
            // its outputs there still: a redo takes the identical ones back.
            swf.SetTakeIdenticalOutputs(options.resume);
            const bool loaded = swf.Run(movie.path, movie.type, options.exportNames, gate);
            if (before && before->OwnedOutputs() > 0 && !replaced)
                return "O" + left;
            return "N" + left + MovieRecord(movie.path, known[task].key, swf, loaded, movie.type, digests);
        } catch (const std::exception& e) {
            return "N0\n" + FailedRecord(movie.path, movie.type, std::string("the conversion failed: ") + e.what(),
                                         known[task].key);
        }
    };
    const auto done = [&](size_t task, const WorkerOutcome& result) {
        const BatchMovie& movie = movies[task];
        try {
            std::string record;
            const RecordSummary* stands = nullptr;  // the earlier record, which stays the one that counts
            bool failedNow = false;
            const size_t lineEnd = result.result.find('\n');
            if (!result.reported || lineEnd == std::string::npos) {
                record = FailedRecord(movie.path, movie.type,
                                      result.reported ? "the worker sent damaged results" : result.failure,
                                      known[task].key);
            } else {
                ignored += std::strtoul(result.result.c_str() + 1, nullptr, 10);
                const char kind = result.result[0];
                if ((kind == 'K' || kind == 'O') && earlier.Of(task)) {
                    stands = earlier.Of(task);
                    failedNow = kind == 'O';
                } else {
                    record = result.result.substr(lineEnd + 1);
                }
            }
            if (options.list) {
                const size_t end = record.find('\n');
                listings[task] = end == std::string::npos ? Printable(movie.path) + "\n  " + result.failure + "\n"
                                                          : record.substr(end + 1);
                record.resize(std::min(end, record.size()));
                PrintListings(false);
            }
            if (!stands && report.IsOpen() && !reportFailed && !record.empty() && !report.Write(record + "\n")) {
                std::fprintf(stderr, "orvellin: writing the report %s failed (%s); no more records are added\n",
                             options.report.c_str(), report.Why().c_str());
                reportFailed = true;
            }
            counts[task] = stands ? CountsOf(*stands) : CountsOf(record);
            if (failedNow)
                counts[task].failed = true;
        } catch (...) {
            counts[task] = RecordCounts{};
        }
        progress.Done(counts[task].extracted);
    };

    // Each worker holds two descriptors here and those of its movie's
    // folders (one or two), and starting one takes two more in the parent
    // and two in the copy: more workers than the limit allows would fail.
    const size_t descriptors = platform::OpenFileLimit();
    const unsigned maxJobs = static_cast<unsigned>(std::max<size_t>(1, descriptors > 40 ? (descriptors - 32) / 4 : 1));
    std::fflush(nullptr);
    outcome.interruptedBy =
        RunWorkers(chains, WorkerLimits{std::min(options.jobs, maxJobs), options.timeout}, work, done);
    PrintListings(true);
    if (report.IsOpen() && !report.Close() && !reportFailed) {
        std::fprintf(stderr, "orvellin: writing the report %s failed (%s)\n", options.report.c_str(),
                     report.Why().c_str());
        reportFailed = true;
    }
    if (ignored > 0)
        std::fprintf(stderr,
                     "orvellin: resume left alone %zu file(s) the report names that are no outputs of their movie as "
                     "recorded (another folder or name, a link, changed since, or named twice)\n",
                     ignored);

    for (size_t i = 0; i < movies.size(); ++i) {
        const RecordCounts& c = counts[sameAs[i]];
        outcome.results += ResultLine(movies[i].path, c, options.list);
        outcome.allConverted = outcome.allConverted && c.parsed && !c.failed && !c.partial && c.extracted == c.found;
    }
    // A report that misses records or was cut can't be trusted as the
    // account of the run.
    outcome.allConverted = outcome.allConverted && !reportFailed;
    outcome.movies = static_cast<int>(movies.size());
    return outcome;
}
