#include "app/batch.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "swf/swf_movie.h"
#include "util/paths.h"

namespace {

struct Movie {
    std::string path;
    bool toMp3 = true;
    std::string line;  // filled by the worker
    bool ok = false;
};

bool IsMessageSwitch(const std::string& arg)
{
    return arg.size() == 2 && arg[0] == '/' && (arg[1] == 'm' || arg[1] == 'M');
}

bool IsJobsSwitch(const std::string& arg)
{
    return arg.rfind("--jobs=", 0) == 0;
}

// Movies whose outputs may share a base: the file name without its extension,
// since the fallback folder gathers movies from every folder.
std::string BaseKey(const std::string& path)
{
    std::string name(FileNamePart(path));
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.resize(dot);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return name;
}

void Convert(Movie& movie)
{
    long extracted = 0;
    long total = 0;
    movie.ok = ConvertSwfFile(movie.path, &extracted, &total, nullptr, movie.toMp3);
    char counts[64];
    if (movie.ok)
        std::snprintf(counts, sizeof counts, ": %ld/%ld Extracted\n", extracted, total);
    else
        std::snprintf(counts, sizeof counts, ": Conversion failure\n");
    movie.line = std::string(FileNamePart(movie.path)) + counts;
}

unsigned ParseCount(const char* text)
{
    if (!text || !*text)
        return 0;
    char* end = nullptr;
    const unsigned long n = std::strtoul(text, &end, 10);
    if (*end != '\0' || n == 0 || n > 1024)
        return 0;
    return static_cast<unsigned>(n);
}

}  // namespace

unsigned ChooseJobs(const std::vector<std::string>& args)
{
    unsigned jobs = 0;
    for (const std::string& arg : args) {
        if (IsJobsSwitch(arg))
            jobs = ParseCount(arg.c_str() + 7);
    }
    if (jobs == 0)
        jobs = ParseCount(std::getenv("ORVELLIN_JOBS"));
    if (jobs == 0)
        jobs = std::max(1u, std::thread::hardware_concurrency());
    return jobs;
}

BatchOutcome RunBatch(const std::vector<std::string>& args, unsigned jobs)
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
        else if (IsJobsSwitch(arg))
            continue;
        else
            movies.push_back(Movie{arg, toMp3, {}, false});
    }

    // Groups of movies that must run in argument order, in order of first appearance.
    std::vector<std::vector<size_t>> groups;
    std::map<std::string, size_t> groupOf;
    for (size_t i = 0; i < movies.size(); ++i) {
        auto [it, added] = groupOf.try_emplace(BaseKey(movies[i].path), groups.size());
        if (added)
            groups.emplace_back();
        groups[it->second].push_back(i);
    }

    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t g; (g = next.fetch_add(1)) < groups.size();) {
            for (size_t i : groups[g])
                Convert(movies[i]);
        }
    };
    const size_t threads = std::min<size_t>(jobs == 0 ? 1 : jobs, groups.size());
    if (threads <= 1) {
        worker();
    } else {
        std::vector<std::thread> pool;
        for (size_t t = 0; t < threads; ++t)
            pool.emplace_back(worker);
        for (auto& t : pool)
            t.join();
    }

    for (const Movie& movie : movies) {
        outcome.results += movie.line;
        outcome.allConverted = outcome.allConverted && movie.ok;
    }
    outcome.movies = static_cast<int>(movies.size());
    return outcome;
}
