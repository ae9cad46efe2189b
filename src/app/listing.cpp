#include "app/listing.h"

#include <cstdarg>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "app/report.h"
#include "swf/movie_body.h"
#include "swf/outcome_words.h"
#include "swf/soundtrack.h"
#include "swf/swf_movie.h"

namespace {

using Json = nlohmann::ordered_json;

std::string Line(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Line(const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string EmbeddedText(const std::vector<uint16_t>& ids)
{
    std::string out;
    // Appended piece by piece: GCC 12 at -O3 takes a prefix joined to a
    // number for an overlapping copy.
    for (const uint16_t id : ids) {
        if (!out.empty())
            out += '/';
        out += std::to_string(id);
    }
    return out.empty() ? "-" : out;
}

}  // namespace

MovieListing ListMovie(const std::string& path, const std::string& realPath, const CSwfMovie& movie, bool loaded,
                       OutputType type, bool digests, const std::function<std::string(std::string_view)>& printable)
{
    MovieListing listing;
    // The usual record, as a conversion to the type would write it, less
    // what only files have.
    Json r = Json::parse(MovieRecord(path, realPath, movie, loaded, type, digests));
    r["list_type"] = r["output_type"];
    r["output_type"] = "list";
    if (r.contains("sounds")) {
        for (Json& s : r["sounds"])
            s.erase("output");
    }
    listing.record = r.dump();

    listing.text = printable(path) + "\n";
    // A movie cut short says so: its exit status would not tell why.
    if (!loaded || r.value("outcome", "") == "failed" || movie.CutShort()) {
        listing.text += "  " + r.value("reason", std::string()) + "\n";
        if (!loaded)
            return listing;
    }
    for (const CLostSource& lost : movie.LostSources())
        listing.text += "  embedded movie " + std::to_string(lost.id) + ": lost: " + lost.reason + "\n";
    if (movie.Findings().empty()) {
        if (movie.LostSources().empty())
            listing.text += "  no sounds\n";
        return listing;
    }
    listing.text += Line("  %5s  %-6s  %5s  %6s  %-11s  %-10s  %5s  %2s  %4s  %10s  %9s  %s\n", "No.", "Kind", "Id",
                         "Sprite", "Embedded", "Format", "Rate", "Ch", "Bits", "Samples", "Seconds", "Name");
    const std::vector<CSoundElement> files(movie.Sounds().begin(), movie.Sounds().end());
    for (const CSoundFinding& f : movie.Findings()) {
        // Samples and length as the file would hold them; a lost sound's as declared.
        const CSoundElement* file =
            f.record >= 0 && static_cast<size_t>(f.record) < files.size() ? &files[static_cast<size_t>(f.record)] : nullptr;
        const uint64_t samples = file ? file->sampleCount : f.declaredSamples;
        const uint32_t rate = file ? file->sampleRate : f.rate;
        const char* format = *SoundFormatName(f.format) ? SoundFormatName(f.format) : "unknown";
        std::string name = f.exportName.empty() ? "-" : printable(f.exportName);
        if (f.empty)
            name += " (empty)";
        else if (f.loss == SoundLoss::Cut || f.loss == SoundLoss::Runaway)
            name += " (cut)";
        else if (f.loss != SoundLoss::None)
            name += " (lost)";
        listing.text += Line("  %5s  %-6s  %5s  %6s  %-11s  %-10s  %5u  %2u  %4u  %10llu  %9.3f  ",
                             f.number ? std::to_string(f.number).c_str() : "-",
                             f.stream ? "stream" : "event", f.stream ? "-" : std::to_string(f.characterId).c_str(),
                             f.sprite ? std::to_string(f.sprite).c_str() : "-", EmbeddedText(f.embeddedIn).c_str(),
                             format, f.rate, f.channels, f.bits, static_cast<unsigned long long>(samples),
                             rate ? static_cast<double>(samples) / rate : 0.0) +
                        name + "\n";
    }
    return listing;
}

MovieListing ListSoundtrack(const std::string& path, const std::string& realPath, const CSoundtrack& track, bool loaded,
                            OutputType type, bool digests, const std::function<std::string(std::string_view)>& printable)
{
    MovieListing listing;
    Json r = Json::parse(SoundtrackRecord(path, realPath, track, loaded, type, digests));
    r["list_type"] = r["output_type"];
    r["output_type"] = "list";
    if (r.contains("soundtrack"))
        r["soundtrack"].erase("output");
    listing.record = r.dump();

    listing.text = printable(path) + "\n";
    if (!loaded) {
        listing.text += "  " + r.value("reason", std::string()) + "\n";
        return listing;
    }
    const SoundtrackSummary& t = track.Summary();
    const double rate = track.Body().FrameRate88() / 256.0;
    if (!t.none.empty()) {
        listing.text += "  " + t.none + "\n";
    } else {
        listing.text += Line("  soundtrack: %.3f s (%llu samples at 44100 Hz), %u frames at %g frames a second\n",
                             static_cast<double>(t.samples) / 44100.0, static_cast<unsigned long long>(t.samples), t.frames,
                             rate);
        listing.text += Line("  heard: %u sounds started, %u stream runs; refused %u, not started again %u, stopped %u; "
                             "%llu samples clipped\n",
                             t.instances, t.streams, t.refused, t.notMultiple, t.stopped,
                             static_cast<unsigned long long>(t.clipped));
        if (t.cut)
            listing.text += "  cut at 4 GiB, the most a WAV file can describe\n";
    }
    if (t.movieCutShort)
        listing.text += "  " + CutShortWords(track.Body()) + ": nothing past there is heard\n";
    for (const std::string& line : NotHeardLines(t, printable))
        listing.text += "  " + line + "\n";
    return listing;
}
