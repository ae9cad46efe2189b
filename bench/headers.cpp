// Reading the headers of many movies, as adding them to the window does,
// against reading just the first 64 bytes of each file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file.h"
#include "swf/swf_movie.h"

namespace {

double Seconds(const std::chrono::steady_clock::time_point& start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_headers DIR REPEATS\n");
        return 2;
    }
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(argv[1]))
        files.push_back(e.path().string());
    const int repeats = std::max(1, std::stoi(argv[2]));
    std::vector<double> ours;
    std::vector<double> theirs;
    long loaded = 0;
    for (int r = 0; r < repeats; ++r) {
        auto t = std::chrono::steady_clock::now();
        for (const auto& f : files) {
            SwfHeaderInfo info;
            loaded += CSwfMovie::GetHeaderInfo(f, &info) ? 1 : 0;
        }
        ours.push_back(Seconds(t));
        t = std::chrono::steady_clock::now();
        for (const auto& f : files) {
            platform::File file;
            char buf[64];
            if (file.Open(f, platform::OpenMode::Read))
                file.Read(buf, sizeof buf);
        }
        theirs.push_back(Seconds(t));
    }
    if (loaded != static_cast<long>(files.size()) * repeats) {
        std::fprintf(stderr, "bench_headers: some headers did not load\n");
        return 1;
    }
    std::printf("%.4f %.4f\n", Median(ours), Median(theirs));
    return 0;
}
