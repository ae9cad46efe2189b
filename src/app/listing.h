// What --list shows and records of a movie: its sounds as a conversion would
// find them, with nothing written.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "swf/swf_types.h"

class CSwfMovie;
class CSoundtrack;

struct MovieListing {
    std::string record;  // the report's record, output_type "list", no outputs
    std::string text;    // one line per sound under a line of column titles
};

// The listing of a movie that List was called on for type; loaded is what
// it returned. printable shows a name (the movie's, an export name) safely.
MovieListing ListMovie(const std::string& path, const std::string& realPath, const CSwfMovie& movie, bool loaded,
                       OutputType type, bool digests, const std::function<std::string(std::string_view)>& printable);

// What --list --soundtrack shows of a movie Plan was called on: the
// soundtrack it would make, what it would hear, and what it can only list.
MovieListing ListSoundtrack(const std::string& path, const std::string& realPath, const CSoundtrack& track, bool loaded,
                            OutputType type, bool digests, const std::function<std::string(std::string_view)>& printable);
