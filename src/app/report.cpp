#include "app/report.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/folders.h"
#include "platform/owned_files.h"
#include "swf/movie_body.h"
#include "swf/outcome_words.h"
#include "swf/soundtrack.h"
#include "swf/swf_movie.h"
#include "util/sha256.h"

namespace {

using Json = nlohmann::ordered_json;

// What resume reads: records are a few hundred bytes a sound, and a movie
// has at most some tens of thousands of sounds; a report of a large archive
// is some hundreds of megabytes.
constexpr size_t kMaxRecordLine = size_t{64} << 20;
constexpr uint64_t kMaxReport = uint64_t{4} << 30;

const char* TypeName(OutputType type)
{
    switch (type) {
    case OutputType::Wav: return "wav";
    case OutputType::Keep: return "keep";
    case OutputType::Flac: return "flac";
    case OutputType::Mp3: break;
    }
    return "mp3";
}

const char* OutcomeName(MovieOutcome outcome)
{
    switch (outcome) {
    case MovieOutcome::Converted: return "converted";
    case MovieOutcome::Partial: return "partial";
    case MovieOutcome::Failed: break;
    }
    return "failed";
}

const char* SignatureName(char signature)
{
    switch (signature) {
    case 'F': return "FWS";
    case 'C': return "CWS";
    case 'Z': return "ZWS";
    default: return nullptr;
    }
}

Json Warnings(const CSoundFinding& f, const CSoundElement* file, OutputType type)
{
    Json w = Json::array();
    if (f.loss != SoundLoss::None)
        w.push_back(SoundLossWords(f));
    if (f.format == 2 && f.framesRate != 0 && f.framesRate != f.rate)
        w.push_back("its MP3 frames are at " + std::to_string(f.framesRate) + " Hz, its tag says " +
                    std::to_string(f.rate) + " Hz");
    if (f.format == 2 && f.framesChannels != 0 && f.framesChannels != f.channels)
        w.push_back("its MP3 frames have " + std::to_string(f.framesChannels) + " channel(s), its tag says " +
                    std::to_string(f.channels));
    if (f.format != 2 && !f.stream && f.decodedSamples != f.declaredSamples)
        w.push_back("it declares " + std::to_string(f.declaredSamples) + " samples, its data gave " +
                    std::to_string(f.decodedSamples));
    if (f.overran)
        w.push_back("its data ran past its tag");
    if (f.damagedBytes > 0)
        w.push_back(std::to_string(f.damagedBytes) + " bytes of damaged data were skipped");
    if (f.conversionFailed && file)
        w.push_back(std::string("the conversion to ") +
                    (type == OutputType::Mp3 ? "MP3" : type == OutputType::Flac ? "FLAC" : "WAV") +
                    " failed; the file stays " + (file->isMp3 ? "MP3" : "WAV"));
    return w;
}

// Puts a name: valid UTF-8 as it is; any other name as its UTF-8 reading
// and, under key + "_bytes", its exact bytes, which resume reads back.
void PutName(Json& j, const std::string& key, const std::string& name)
{
    if (IsValidUtf8(name)) {
        j[key] = name;
        return;
    }
    std::string readable;
    for (size_t at = 0; at < name.size();) {
        size_t n = 1;
        while (at + n <= name.size() && !IsValidUtf8(name.substr(at, n)) && n < 4)
            ++n;
        if (at + n <= name.size() && IsValidUtf8(name.substr(at, n))) {
            readable.append(name, at, n);
            at += n;
        } else {
            readable += "\xEF\xBF\xBD";
            ++at;
        }
    }
    j[key] = readable;
    j[key + "_bytes"] = Base64(name);
}





template <typename Read>
bool Digest(Read read, uint64_t& size, std::string& sha256)
{
    CSha256 hash;
    std::vector<char> buffer(1 << 16);
    size = 0;
    for (;;) {
        const int64_t got = read(buffer.data(), buffer.size());
        if (got < 0)
            return false;
        if (got == 0)
            break;
        hash.Update(buffer.data(), static_cast<size_t>(got));
        size += static_cast<uint64_t>(got);
    }
    sha256 = hash.Final();
    return !sha256.empty();
}

// The size and hash of a file, or nulls without digests or when unreadable.
void PutDigest(Json& j, const std::string& path, bool digests)
{
    uint64_t size = 0;
    std::string sha;
    if (digests && FileDigest(path, size, sha)) {
        j["size"] = size;
        j["sha256"] = sha;
    } else {
        j["size"] = nullptr;
        j["sha256"] = nullptr;
    }
}

Json OutputOf(const CSoundElement& file, bool digests)
{
    Json out;
    PutName(out, "path", file.path);
    out["type"] = FileTypeOf(file);
    PutDigest(out, file.path, digests);
    out["rate"] = file.sampleRate;
    out["channels"] = file.channels;
    out["samples"] = file.sampleCount;
    out["duration"] = file.sampleRate ? static_cast<double>(file.sampleCount) / file.sampleRate : 0.0;
    return out;
}

Json Base(const std::string& path, OutputType type, bool digests)
{
    Json r;
    PutName(r, "path", path);
    PutDigest(r, path, digests);
    r["output_type"] = TypeName(type);
    return r;
}

// Whatever a string holds, its text is valid JSON: a name that escaped
// PutName would be replaced, never thrown over.
std::string Text(const Json& j)
{
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The folder part of a path, ending in '/', or empty.
std::string FolderPart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

bool IsValidUtf8(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = p[i];
        size_t length;
        unsigned min;
        unsigned code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2, min = 0x80, code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, min = 0x800, code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, min = 0x10000, code = c & 0x07;
        } else {
            return false;
        }
        if (n - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            code = code << 6 | (p[i + k] & 0x3F);
        }
        // No overlong forms, no surrogates, nothing past U+10FFFF.
        if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

std::string Base64(const std::string& bytes)
{
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[v >> 18 & 63];
        out += kDigits[v >> 12 & 63];
        out += i + 1 < bytes.size() ? kDigits[v >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[v & 63] : '=';
    }
    return out;
}

bool FromBase64(const std::string& text, std::string& bytes)
{
    if (text.size() % 4 != 0)
        return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t v = 0;
        int pad = 0;
        for (size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            int d;
            if (c >= 'A' && c <= 'Z')
                d = c - 'A';
            else if (c >= 'a' && c <= 'z')
                d = c - 'a' + 26;
            else if (c >= '0' && c <= '9')
                d = c - '0' + 52;
            else if (c == '+')
                d = 62;
            else if (c == '/')
                d = 63;
            else if (c == '=' && i + 4 == text.size() && k >= 2)
                d = 0, ++pad;
            else
                return false;
            if (pad && c != '=')
                return false;
            v = v << 6 | static_cast<uint32_t>(d);
        }
        bytes += static_cast<char>(v >> 16);
        if (pad < 2)
            bytes += static_cast<char>(v >> 8 & 255);
        if (pad < 1)
            bytes += static_cast<char>(v & 255);
    }
    return true;
}

bool FileDigest(const std::string& path, uint64_t& size, std::string& sha256)
{
    platform::File file;
    if (!file.Open(path, platform::OpenMode::Read))
        return false;
    return Digest(
        [&](char* buffer, size_t n) -> int64_t {
            const size_t got = file.Read(buffer, n);
            return file.Failed() ? -1 : static_cast<int64_t>(got);
        },
        size, sha256);
}

namespace {

// A record's start: the movie's path as given and resolved, and the type.
// The size and hash of a movie that could not be read are its file's now.
Json Start(const std::string& path, const std::string& realPath, OutputType type, bool digestsOfPath)
{
    Json r = Base(path, type, digestsOfPath);
    if (!realPath.empty())
        PutName(r, "real_path", realPath);
    return r;
}

// What the movie read was: its size and SHA-256 as read, when taken, and its header.
void PutMovie(Json& r, const CMovieBody& body, bool haveDigest, uint64_t size, const std::string& sha)
{
    if (haveDigest) {
        r["size"] = size;
        r["sha256"] = sha;
    }
    const SwfHeaderInfo info = body.HeaderInfo();
    r["signature"] = SignatureName(body.Signature());
    r["version"] = info.version;
    r["declared_length"] = body.DeclaredLength();
    r["body_length"] = body.BodyLength();
    r["frame_rate"] = body.FrameRate88() / 256.0;
    r["frame_count"] = info.frameCount;
}

}  // namespace

std::string MovieRecord(const std::string& path, const std::string& realPath, const CSwfMovie& movie, bool loaded,
                        OutputType type, bool digests)
{
    try {
        Json r = Start(path, realPath, type, digests && !loaded);
        const MovieVerdict verdict = JudgeMovie(movie, loaded);
        if (!loaded) {
            r["outcome"] = "failed";
            r["reason"] = verdict.reason;
            return Text(r);
        }
        // The movie as the walk read it, not as its path names it now.
        uint64_t size = 0;
        std::string sha;
        const bool haveDigest = digests && movie.MovieDigest(size, sha);
        PutMovie(r, movie.Body(), haveDigest, size, sha);
        const uint32_t found = movie.FoundCount();
        const uint32_t extracted = movie.ExtractedCount();
        r["outcome"] = OutcomeName(verdict.outcome);
        r["reason"] = verdict.reason;
        Json warnings = Json::array();
        if (movie.DeclaresMoreThanItHolds() && !movie.CutShort())
            warnings.push_back("its header declares " + std::to_string(movie.DeclaredLength()) + " bytes, the file holds " +
                               std::to_string(movie.BodyLength()) + "; its tags end whole before that");
        r["warnings"] = std::move(warnings);
        r["extracted"] = extracted;
        r["found"] = found;
        r["unlisted_sounds"] = movie.UnlistedCount();
        Json lost = Json::array();
        for (const CLostSource& source : movie.LostSources()) {
            Json l;
            l["id"] = source.id;
            l["sprite"] = source.sprite ? Json(source.sprite) : Json();
            l["embedded_in"] = source.embeddedIn;
            l["reason"] = source.reason;
            lost.push_back(std::move(l));
        }
        r["lost_sources"] = std::move(lost);
        const std::vector<const CSoundElement*> files = [&] {
            std::vector<const CSoundElement*> all;
            for (const CSoundElement& file : movie.Sounds())
                all.push_back(&file);
            return all;
        }();
        Json sounds = Json::array();
        for (const CSoundFinding& f : movie.Findings()) {
            const CSoundElement* file =
                f.record >= 0 && static_cast<size_t>(f.record) < files.size() ? files[f.record] : nullptr;
            Json s;
            s["number"] = f.number ? Json(f.number) : Json();
            s["kind"] = f.stream ? "stream" : "event";
            s["character_id"] = f.stream ? Json() : Json(f.characterId);
            s["sprite"] = f.sprite ? Json(f.sprite) : Json();
            s["embedded_in"] = f.embeddedIn;
            if (f.exportName.empty())
                s["name"] = nullptr;
            else
                PutName(s, "name", f.exportName);
            s["format"] = *SoundFormatName(f.format) ? SoundFormatName(f.format) : "unknown";
            s["format_code"] = f.format;
            s["rate"] = f.rate;
            s["channels"] = f.channels;
            s["bits"] = f.bits;
            s["declared_samples"] = f.declaredSamples;
            s["seek_samples"] = f.seekSamples >= 0 || f.format == 2 ? Json(f.seekSamples) : Json();
            if (f.empty)
                s["empty"] = true;
            s["output"] = file ? OutputOf(*file, digests) : Json();
            s["whole"] = f.loss == SoundLoss::None;
            s["warnings"] = f.empty ? Json::array() : Warnings(f, file, type);
            sounds.push_back(std::move(s));
        }
        r["sounds"] = std::move(sounds);
        return Text(r);
    } catch (const std::exception& e) {
        return FailedRecord(path, type, std::string("its record could not be made: ") + e.what(), realPath);
    } catch (...) {
        return FailedRecord(path, type, "its record could not be made", realPath);
    }
}

std::string SoundtrackRecord(const std::string& path, const std::string& realPath, const CSoundtrack& track,
                             bool loaded, OutputType type, bool digests)
{
    try {
        Json r = Start(path, realPath, type, digests && !loaded);
        if (!loaded) {
            r["outcome"] = "failed";
            r["reason"] = LoadFailureWords(track.LastLoadFailure());
            return Text(r);
        }
        uint64_t size = 0;
        std::string sha;
        const bool haveDigest = digests && track.MovieDigest(size, sha);
        PutMovie(r, track.Body(), haveDigest, size, sha);
        const SoundtrackSummary& t = track.Summary();
        const CSoundElement* file = track.Output();
        if (!t.lost.empty()) {
            r["outcome"] = "partial";
            r["reason"] = "the soundtrack was lost: " + t.lost;
        } else if (t.cut) {
            r["outcome"] = "partial";
            r["reason"] = "the soundtrack was cut at 4 GiB, the most a WAV file can describe";
        } else if (t.unplayed > 0) {
            r["outcome"] = "partial";
            r["reason"] = std::to_string(t.unplayed) + " of the sounds its timelines start could not be played";
        } else if (t.movieCutShort) {
            // What frames lie past the cut, and what they would start, can't be known.
            r["outcome"] = "partial";
            r["reason"] = CutShortWords(track.Body());
        } else {
            r["outcome"] = "converted";
            r["reason"] = "";
        }
        Json st;
        st["output"] = file ? OutputOf(*file, digests) : Json();
        st["none"] = t.none;
        st["lost"] = t.lost;
        st["samples"] = t.samples;
        st["duration"] = static_cast<double>(t.samples) / 44100.0;
        st["timeline_samples"] = t.timelineSamples;
        st["frames"] = t.frames;
        st["instances"] = t.instances;
        st["streams"] = t.streams;
        st["refused"] = t.refused;
        st["not_multiple"] = t.notMultiple;
        st["stopped"] = t.stopped;
        st["clipped"] = t.clipped;
        st["unplayed"] = t.unplayed;
        st["cut"] = t.cut;
        st["scripts"] = t.scripts;
        Json buttons = Json::array();
        for (const SoundtrackSummary::Button& b : t.buttonSounds)
            buttons.push_back(Json{{"button", b.button}, {"slot", b.slot}, {"sound", b.sound}});
        st["button_sounds"] = std::move(buttons);
        Json unstarted = Json::array();
        for (const SoundtrackSummary::Unstarted& u : t.unstarted) {
            Json j;
            j["id"] = u.id;
            if (u.name.empty())
                j["name"] = nullptr;
            else
                PutName(j, "name", u.name);
            unstarted.push_back(std::move(j));
        }
        st["unstarted_sounds"] = std::move(unstarted);
        st["unplaced_sprites"] = t.unplacedSprites;
        Json embedded = Json::array();
        for (const SoundtrackSummary::Embedded& e : t.embeddedMovies)
            embedded.push_back(Json{{"movie", e.movie}, {"sounds", e.sounds}});
        st["embedded_movies"] = std::move(embedded);
        st["warnings"] = t.warnings;
        r["soundtrack"] = std::move(st);
        return Text(r);
    } catch (const std::exception& e) {
        return FailedRecord(path, type, std::string("its record could not be made: ") + e.what(), realPath);
    } catch (...) {
        return FailedRecord(path, type, "its record could not be made", realPath);
    }
}

std::string FailedRecord(const std::string& path, OutputType type, const std::string& reason, const std::string& realPath)
{
    try {
        Json r = Start(path, realPath, type, true);
        r["outcome"] = "failed";
        r["reason"] = reason;
        return Text(r);
    } catch (...) {
        return {};
    }
}

RecordCounts CountsOf(const RecordSummary& r)
{
    RecordCounts c;
    if (!r.parsed)
        return c;
    c.parsed = true;
    c.failed = r.outcome != "converted" && r.outcome != "partial";
    // A listing has no outputs: its sounds are whole as a conversion would make them.
    const bool listing = r.outputType == "list";
    for (const RecordSummary::Sound& s : r.sounds) {
        if (s.empty)
            continue;
        ++c.found;
        // Records made before "whole" count every output as whole.
        if (listing ? s.wholeSaid && s.whole : s.hasOutput && (!s.wholeSaid || s.whole))
            ++c.extracted;
    }
    c.found += static_cast<long>(r.unlisted + r.lostSources);
    c.partial = r.outcome == "partial";
    if (r.soundtrack) {
        // One file, or none: lost, or nothing to hear.
        c.soundtrack = true;
        c.seconds = r.seconds;
        c.unplayed = r.unplayed;
        c.none = r.none;
        c.lost = r.lost;
        c.found = r.NamesOutputs() || !r.lost.empty() || r.cut ? 1 : 0;
        c.extracted = r.NamesOutputs() && !r.cut && !c.partial ? 1 : 0;
    }
    return c;
}

RecordCounts CountsOf(const std::string& record)
{
    RecordSummary summary;
    if (record.size() > kMaxRecordLine || !SummarizeRecord(record, summary))
        return RecordCounts{};
    return CountsOf(summary);
}

std::string CResolver::Of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = path.substr(folder.size());
    auto it = m_folders.find(folder);
    if (it == m_folders.end()) {
        // Folders of a report are few; a report of millions of folders is
        // resolved again rather than held.
        if (m_folders.size() > (1u << 16))
            m_folders.clear();
        it = m_folders.emplace(folder, platform::ResolvedFolder(folder)).first;
    }
    return it->second + name;
}

namespace {

// Whether a record of a movie replaces the one it had: a failed redo and a
// listing name no outputs, and never hide a record of outputs still there.
bool Supersedes(const RecordSummary& newer, const RecordSummary& older)
{
    return !((newer.outcome == "failed" || newer.outputType == "list") && older.NamesOutputs());
}

// Feeds each whole line of the report to take; a line too long to be a
// record is passed over without being kept, and a last line without its end
// (cut by a killed run or a full disk) is no record.
template <typename Take>
bool ReadLines(const std::string& report, Take take, std::string& error)
{
    platform::RegularReader in;
    if (!in.Open(report)) {
        if (in.Missing())
            return true;
        error = "can't read the report " + report + " to resume: " + in.Why();
        return false;
    }
    if (in.Size() > kMaxReport) {
        error = "the report " + report + " is larger than the " + std::to_string(kMaxReport >> 30) +
                " GiB resume reads; give each shard its own report";
        return false;
    }
    std::vector<char> buffer(1 << 20);
    std::string line;
    bool skipping = false;
    for (;;) {
        const ssize_t got = in.Read(buffer.data(), buffer.size());
        if (got < 0) {
            error = "can't read the report " + report + " to resume";
            return false;
        }
        if (got == 0)
            break;
        for (const char* p = buffer.data(); p < buffer.data() + got;) {
            const char* end = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(buffer.data() + got - p)));
            const char* stop = end ? end : buffer.data() + got;
            if (!skipping && line.size() + static_cast<size_t>(stop - p) <= kMaxRecordLine)
                line.append(p, stop);
            else {
                skipping = true;
                line.clear();
            }
            if (end) {
                if (!skipping)
                    take(line);
                line.clear();
                skipping = false;
            }
            p = end ? end + 1 : stop;
        }
    }
    return true;
}

}  // namespace

bool CEarlierRecords::Read(const std::string& report, const std::vector<RunMovie>& movies, bool soundtracks,
                           std::string& error)
{
    m_records.assign(movies.size(), RecordSummary{});
    m_have.assign(movies.size(), false);
    m_byLink.assign(movies.size(), false);
    try {
        std::map<std::string, size_t> byKey;
        std::set<uint64_t> sizes;
        for (size_t i = 0; i < movies.size(); ++i) {
            byKey.emplace(movies[i].key, i);
            if (movies[i].known)
                sizes.insert(movies[i].size);
        }
        // Records of other names: only one of a movie of this run's size
        // may be one of its hard links, and only those are kept.
        std::map<std::string, std::pair<RecordSummary, bool>> others;
        const auto keep = [](RecordSummary& slot, auto& have, RecordSummary&& r) {
            if (!have || Supersedes(r, slot)) {
                slot = std::move(r);
                have = true;
            }
        };
        const auto take = [&](const std::string& line) {
            RecordSummary r;
            // A soundtrack and the sounds of a movie are records apart.
            if (!SummarizeRecord(line, r) || r.path.empty() || r.soundtrack != soundtracks)
                return;
            std::string key = r.realPath.empty() ? m_resolve.Of(r.path) : r.realPath;
            if (const auto it = byKey.find(key); it != byKey.end()) {
                keep(m_records[it->second], m_have[it->second], std::move(r));
            } else if (r.hasSize && sizes.count(r.size)) {
                auto& [slot, have] = others[std::move(key)];
                keep(slot, have, std::move(r));
            }
        };
        if (!ReadLines(report, take, error))
            return false;
        for (size_t i = 0; i < movies.size() && !others.empty(); ++i) {
            if (m_have[i] || !movies[i].known)
                continue;
            for (const auto& [key, kept] : others) {
                platform::FileId id;
                if (kept.first.size == movies[i].size && platform::IdOf(key, id) && id == movies[i].id) {
                    m_records[i] = kept.first;
                    m_records[i].realPath = key;
                    m_have[i] = m_byLink[i] = true;
                    break;
                }
            }
        }
        return true;
    } catch (const std::exception& e) {
        m_records.clear();
        m_have.clear();
        m_byLink.clear();
        error = "can't read the report " + report + " to resume: " + e.what();
        return false;
    }
}

const RecordSummary* CEarlierRecords::Of(size_t movie) const
{
    return movie < m_have.size() && m_have[movie] ? &m_records[movie] : nullptr;
}

bool CEarlierRecords::ThroughLink(size_t movie) const
{
    return movie < m_byLink.size() && m_byLink[movie];
}

struct CEarlierRecord::Owned {
    size_t folder = 0;
    std::string name;
    platform::FileId id;
};

// The movie's output folders, opened once each when first needed.
struct CEarlierRecord::Folders {
    std::vector<std::string> paths;
    std::vector<std::unique_ptr<platform::Folder>> handles;

    std::string movie;
    bool all = false;  // the fallbacks are known too

    // The index of path's folder among them, or -1. The fallbacks are asked
    // for only when the movie's own folder is not it: asking may create them.
    int IndexOf(const std::string& folder)
    {
        for (;;) {
            for (size_t i = 0; i < paths.size(); ++i) {
                if (paths[i] == folder)
                    return static_cast<int>(i);
            }
            if (all)
                return -1;
            all = true;
            paths = CSwfMovie::OutputFolders(movie);
            handles.resize(paths.size());
        }
    }
    const platform::Folder* Handle(size_t i)
    {
        if (!handles[i]) {
            handles[i] = std::make_unique<platform::Folder>();
            handles[i]->Open(paths[i], true);
        }
        return handles[i]->Fd() >= 0 ? handles[i].get() : nullptr;
    }
};

CEarlierRecord::CEarlierRecord(const RecordSummary& r, const std::string& moviePath, OutputType wanted)
{
    try {
        // A soundtrack's one file stands for its sounds.
        const bool listsSounds = r.soundsArray || r.soundtrack;
        bool holds = r.outcome == "converted" && r.outputType == TypeName(wanted) && !r.sha256.empty() && r.hasSize &&
                     listsSounds;
        if (holds) {
            uint64_t movieSize = 0;
            std::string movieSha;
            holds = FileDigest(moviePath, movieSize, movieSha) && movieSize == r.size && movieSha == r.sha256;
        }
        if (!listsSounds) {
            m_holds = false;
            return;
        }
        m_folders = std::make_unique<Folders>();
        Folders& folders = *m_folders;
        // Its own folder comes first among the output folders.
        folders.movie = moviePath;
        folders.paths = {FolderPart(moviePath)};
        folders.handles.resize(1);
        platform::FileId movieId;
        const bool haveMovieId = platform::IdOf(moviePath, movieId);
        std::set<std::pair<size_t, std::string>> seen;
        std::set<std::pair<dev_t, ino_t>> seenIds;
        for (const RecordSummary::Sound& s : r.sounds) {
            // An empty sound has no file to have.
            if (s.empty)
                continue;
            if (!s.hasOutput) {
                holds = false;
                continue;
            }
            const RecordSummary::Output& out = s.output;
            const std::string folder = FolderPart(out.path);
            const std::string name = out.path.substr(folder.size());
            const int index = out.typed ? folders.IndexOf(folder) : -1;
            // Lexically the movie's own folder or a fallback, a name its
            // naming makes, and never the same name twice.
            if (index < 0 || name.empty() || name == "." || name == ".." ||
                !CSwfMovie::IsOutputName(moviePath, name) || !seen.emplace(index, name).second) {
                ++m_ignored;
                holds = false;
                continue;
            }
            const platform::Folder* handle = folders.Handle(static_cast<size_t>(index));
            platform::RegularReader file;
            if (!handle || !file.OpenIn(*handle, name)) {
                // Gone since is no one else's file; anything else is left alone.
                if (!handle || !file.Missing())
                    ++m_ignored;
                holds = false;
                continue;
            }
            uint64_t gotSize = 0;
            std::string gotSha;
            const platform::FileId id = file.Id();
            // The recorded size first: a file of another size is not hashed.
            const bool same = file.Size() == out.size && !(haveMovieId && id == movieId) &&
                              seenIds.emplace(id.device, id.inode).second &&
                              Digest([&](char* b, size_t n) -> int64_t { return file.Read(b, n); }, gotSize, gotSha) &&
                              gotSize == out.size && gotSha == out.sha256;
            if (!same) {
                ++m_ignored;
                holds = false;
                continue;
            }
            m_owned.push_back(Owned{static_cast<size_t>(index), name, id});
        }
        m_holds = holds;
    } catch (...) {
        // A record that can't be checked holds nothing and names nothing to remove.
        m_holds = false;
        m_owned.clear();
    }
}

CEarlierRecord::~CEarlierRecord() = default;

size_t CEarlierRecord::OwnedOutputs() const
{
    return m_owned.size();
}

void CEarlierRecord::RemoveOutputs()
{
    for (const Owned& o : m_owned) {
        if (const platform::Folder* handle = m_folders->Handle(o.folder))
            platform::RemoveIfSame(*handle, o.name, o.id);
    }
    m_owned.clear();
}
