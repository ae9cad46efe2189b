// Loads arbitrary bytes as a movie and extracts it into a scratch folder.
#include "fuzz/scratch.h"
#include "swf/swf_movie.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string movie = WriteInput("input.swf", data, size);
    SwfHeaderInfo info;
    CSwfMovie::GetHeaderInfo(movie, &info);
    {
        CSwfMovie extractor;
        extractor.Extract(movie);
    }
    ClearScratch();
    return 0;
}
