#include "swf/outcome_words.h"

#include "swf/movie_body.h"
#include "swf/swf_movie.h"

std::string LoadFailureWords(LoadFailure failure)
{
    switch (failure) {
    case LoadFailure::NotReadable: return "not a regular file that can be read";
    case LoadFailure::NoSignature: return "not a movie: no FWS, CWS or ZWS header";
    case LoadFailure::BadLength: return "the header declares a length too short for a movie";
    case LoadFailure::Bomb: return "the compressed body would inflate far beyond what movies do";
    case LoadFailure::NoMemory: return "not enough memory for the body";
    case LoadFailure::Damaged: return "the body is damaged or cut short";
    case LoadFailure::Changed: return "the file changed while it was being read";
    case LoadFailure::None: break;
    }
    return "the movie could not be read";
}

std::string SoundLossWords(const CSoundFinding& f)
{
    switch (f.loss) {
    case SoundLoss::NoFolder: return "lost: no folder took new files";
    case SoundLoss::NotWritten: return "lost: its file could not be written (disk full or not writable)";
    case SoundLoss::UnknownFormat: return "lost: format " + std::to_string(f.format) + " is no known sound format";
    case SoundLoss::NoDecoder: return "lost: " + NoDecoderWords(f.format);
    case SoundLoss::NothingDecoded: return "lost: its data decodes to no sound";
    case SoundLoss::Cut: return "cut at 4 GiB, the most a WAV file can describe";
    case SoundLoss::TooMany:
        return "lost: the movie has more than " + std::to_string(kMaxSoundsPerMovie) +
               " sounds, the most one movie may make files of";
    case SoundLoss::TooLarge: return "lost: the movie's outputs would pass 64 GiB, the most one movie may write";
    case SoundLoss::NotConverted: return "lost: its file could not be converted to the chosen type";
    case SoundLoss::Runaway:
        return "cut: its data decode to more than " + std::to_string(kMaxDecodedPerCodedByte) +
               " bytes of sound a byte, far more than any real sound; the movie is damaged or made to fill the disk";
    case SoundLoss::None: break;
    }
    return {};
}

std::string NoDecoderWords(int format)
{
    return std::string("this build has no ") + SoundFormatName(format) + " decoder";
}

std::string CutShortWords(const CMovieBody& body)
{
    return "cut short: " + std::to_string(body.BodyLength()) + " of " + std::to_string(body.DeclaredLength()) + " bytes";
}

MovieVerdict JudgeMovie(const CSwfMovie& movie, bool loaded)
{
    if (!loaded)
        return {MovieOutcome::Failed, LoadFailureWords(movie.LastLoadFailure())};
    if (!movie.WroteAnything())
        return {MovieOutcome::Failed, "none of its sounds could be written"};
    // The sounds after a cut are lost too, though none can be counted.
    if (movie.CutShort())
        return {MovieOutcome::Partial, CutShortWords(movie.Body())};
    const uint32_t found = movie.FoundCount();
    const uint32_t extracted = movie.ExtractedCount();
    if (extracted < found)
        return {MovieOutcome::Partial,
                std::to_string(found - extracted) + " of " + std::to_string(found) + " sounds lost"};
    return {MovieOutcome::Converted, {}};
}
