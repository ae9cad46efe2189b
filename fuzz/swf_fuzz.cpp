// Loads arbitrary bytes as a movie and extracts it into a scratch folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "swf/swf_movie.h"

namespace {

const std::string& ScratchFolder()
{
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvellin-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return pattern;
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string movie = ScratchFolder() + "/input.swf";
    {
        std::ofstream out(movie, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    SwfHeaderInfo info;
    CSwfMovie::GetHeaderInfo(movie, &info);
    {
        CSwfMovie extractor;
        extractor.Extract(movie);
    }
    for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder()))
        std::filesystem::remove(entry.path());
    return 0;
}
