// What became of a movie and its sounds, in the words the report and the
// window both use, so the command line and the window say the same thing.
#pragma once

#include <string>

#include "swf/swf_types.h"

class CMovieBody;
class CSwfMovie;

// Why a movie could not be loaded.
std::string LoadFailureWords(LoadFailure failure);

// Why a sound has no whole file of the chosen type; "" for one that has.
std::string SoundLossWords(const CSoundFinding& finding);

enum class MovieOutcome : uint8_t { Converted, Partial, Failed };

struct MovieVerdict {
    MovieOutcome outcome = MovieOutcome::Failed;
    std::string reason;  // "" for a movie converted whole
};

// Why a sound of a format a player would play can't be decoded here.
std::string NoDecoderWords(int format);

// Why a movie whose walk ran out of bytes is partial: how much of it there is.
std::string CutShortWords(const CMovieBody& body);

// How a conversion of the movie ended; loaded is what Run (or List) returned.
MovieVerdict JudgeMovie(const CSwfMovie& movie, bool loaded);
