// Loads arbitrary bytes as a movie, extracts it into a scratch folder, and
// plays its timelines as its soundtrack would (writing nothing).
#include "fuzz/scratch.h"
#include "swf/soundtrack.h"
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
    {
        // A short tail: the fuzzer looks for faults, not for long silences.
        CSoundtrack track;
        track.Plan(movie, 1);
    }
    ClearScratch();
    return 0;
}
