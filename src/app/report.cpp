#include "app/report.h"

#include <memory>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <vector>

#include "platform/file.h"
#include "swf/swf_movie.h"

namespace {

using Json = nlohmann::ordered_json;

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

const char* SignatureName(char signature)
{
    switch (signature) {
    case 'F': return "FWS";
    case 'C': return "CWS";
    case 'Z': return "ZWS";
    default: return nullptr;
    }
}

std::string LoadFailureWords(LoadFailure failure)
{
    switch (failure) {
    case LoadFailure::NotReadable: return "not a regular file that can be read";
    case LoadFailure::NoSignature: return "not a movie: no FWS, CWS or ZWS header";
    case LoadFailure::BadLength: return "the header declares a length too short for a movie";
    case LoadFailure::Bomb: return "the compressed body would inflate far beyond what movies do";
    case LoadFailure::NoMemory: return "not enough memory for the body";
    case LoadFailure::Damaged: return "the body is damaged or cut short";
    case LoadFailure::None: break;
    }
    return "the movie could not be read";
}

std::string LossWords(SoundLoss loss, const CSoundFinding& f)
{
    switch (loss) {
    case SoundLoss::NoFolder: return "lost: no folder took new files";
    case SoundLoss::NotWritten: return "lost: its file could not be written (disk full or not writable)";
    case SoundLoss::UnknownFormat: return "lost: format " + std::to_string(f.format) + " is no known sound format";
    case SoundLoss::NoDecoder: return std::string("lost: this build has no ") + SoundFormatName(f.format) + " decoder";
    case SoundLoss::NothingDecoded: return "lost: its data decodes to no sound";
    case SoundLoss::Cut: return "cut at 4 GiB, the most a WAV file can describe";
    case SoundLoss::TooMany:
        return "lost: the movie has more than " + std::to_string(kMaxSoundsPerMovie) + " sounds, the most one movie may make files of";
    case SoundLoss::TooLarge: return "lost: the movie's outputs would pass 64 GiB, the most one movie may write";
    case SoundLoss::NotConverted: return "lost: its file could not be converted to the chosen type";
    case SoundLoss::None: break;
    }
    return {};
}

Json Warnings(const CSoundFinding& f, const CSoundElement* file, OutputType type)
{
    Json w = Json::array();
    if (f.loss != SoundLoss::None)
        w.push_back(LossWords(f.loss, f));
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
    out["path"] = file.path;
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
    r["path"] = path;
    PutDigest(r, path, digests);
    r["output_type"] = TypeName(type);
    return r;
}

// Parses a record, or gives a discarded value for a line that is none.
Json Parse(const std::string& record)
{
    return Json::parse(record, nullptr, false);
}

}  // namespace

bool FileDigest(const std::string& path, uint64_t& size, std::string& sha256)
{
    platform::File file;
    if (!file.Open(path, platform::OpenMode::Read))
        return false;
    // The library's SHA-256 uses the processor's hashing instructions: hashes
    // must cost little beside the conversion itself.
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!hash || EVP_DigestInit_ex(hash.get(), EVP_sha256(), nullptr) != 1)
        return false;
    std::vector<char> buffer(1 << 16);
    size = 0;
    for (;;) {
        const size_t got = file.Read(buffer.data(), buffer.size());
        if (file.Failed())
            return false;
        if (got == 0)
            break;
        if (EVP_DigestUpdate(hash.get(), buffer.data(), got) != 1)
            return false;
        size += got;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(hash.get(), digest, &length) != 1)
        return false;
    static constexpr char kHex[] = "0123456789abcdef";
    sha256.clear();
    for (unsigned int i = 0; i < length; ++i) {
        sha256 += kHex[digest[i] >> 4];
        sha256 += kHex[digest[i] & 15];
    }
    return true;
}

std::string MovieRecord(const std::string& path, const CSwfMovie& movie, bool loaded, OutputType type, bool digests)
{
    Json r = Base(path, type, digests);
    if (!loaded) {
        r["outcome"] = "failed";
        r["reason"] = LoadFailureWords(movie.LastLoadFailure());
        return r.dump();
    }
    const SwfHeaderInfo info = movie.HeaderInfo();
    r["signature"] = SignatureName(movie.Signature());
    r["version"] = info.version;
    r["declared_length"] = movie.DeclaredLength();
    r["body_length"] = movie.BodyLength();
    r["frame_rate"] = movie.FrameRate();
    r["frame_count"] = info.frameCount;
    const uint32_t found = movie.FoundCount();
    const uint32_t extracted = movie.ExtractedCount();
    if (!movie.WroteAnything()) {
        r["outcome"] = "failed";
        r["reason"] = "none of its sounds could be written";
    } else if (extracted < found) {
        r["outcome"] = "partial";
        r["reason"] = std::to_string(found - extracted) + " of " + std::to_string(found) + " sounds lost";
    } else {
        r["outcome"] = "converted";
        r["reason"] = "";
    }
    r["extracted"] = extracted;
    r["found"] = found;
    const std::vector<CSoundElement> files(movie.Sounds().begin(), movie.Sounds().end());
    Json sounds = Json::array();
    int number = 0;
    for (const CSoundFinding& f : movie.Findings()) {
        const CSoundElement* file = f.record >= 0 && static_cast<size_t>(f.record) < files.size() ? &files[f.record]
                                                                                                    : nullptr;
        Json s;
        s["number"] = ++number;
        s["kind"] = f.stream ? "stream" : "event";
        s["character_id"] = f.stream ? Json() : Json(f.characterId);
        s["sprite"] = f.sprite ? Json(f.sprite) : Json();
        s["embedded_in"] = f.embeddedIn;
        s["name"] = f.exportName.empty() ? Json() : Json(f.exportName);
        s["format"] = *SoundFormatName(f.format) ? SoundFormatName(f.format) : "unknown";
        s["format_code"] = f.format;
        s["rate"] = f.rate;
        s["channels"] = f.channels;
        s["bits"] = f.bits;
        s["declared_samples"] = f.declaredSamples;
        s["seek_samples"] = f.seekSamples >= 0 || f.format == 2 ? Json(f.seekSamples) : Json();
        s["output"] = file ? OutputOf(*file, digests) : Json();
        s["warnings"] = Warnings(f, file, type);
        sounds.push_back(std::move(s));
    }
    r["sounds"] = std::move(sounds);
    return r.dump();
}

std::string FailedRecord(const std::string& path, OutputType type, const std::string& reason)
{
    Json r = Base(path, type, true);
    r["outcome"] = "failed";
    r["reason"] = reason;
    return r.dump();
}

RecordCounts CountsOf(const std::string& record)
{
    RecordCounts c;
    const Json r = Parse(record);
    if (!r.is_object() || !r.contains("outcome"))
        return c;
    c.parsed = true;
    c.failed = r["outcome"] == "failed";
    c.extracted = r.value("extracted", 0L);
    c.found = r.value("found", 0L);
    return c;
}

std::string RecordPath(const std::string& record)
{
    const Json r = Parse(record);
    return r.is_object() && r.contains("path") && r["path"].is_string() ? r["path"].get<std::string>() : std::string();
}

bool KeepOrClearRecord(const std::string& record, const std::string& path, OutputType type)
{
    const Json r = Parse(record);
    if (!r.is_object())
        return false;
    uint64_t size = 0;
    std::string sha;
    bool holds = r.value("outcome", "") == "converted" && r.value("output_type", "") == TypeName(type) &&
                 r["sha256"].is_string() && FileDigest(path, size, sha) && sha == r["sha256"].get<std::string>() &&
                 r.contains("sounds") && r["sounds"].is_array();
    // Each listed file is hashed once: unchanged ones either stand or go.
    std::vector<std::string> unchanged;
    if (r.contains("sounds") && r["sounds"].is_array()) {
        for (const Json& s : r["sounds"]) {
            const Json& out = s.contains("output") ? s["output"] : Json();
            const bool listed = out.is_object() && out["path"].is_string() && out["sha256"].is_string();
            if (listed && FileDigest(out["path"].get<std::string>(), size, sha) && sha == out["sha256"].get<std::string>())
                unchanged.push_back(out["path"].get<std::string>());
            else
                holds = false;
        }
    }
    if (!holds) {
        for (const std::string& output : unchanged)
            platform::DeleteFile(output);
    }
    return holds;
}
