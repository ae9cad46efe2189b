#include <algorithm>
#include <cstdio>
#include <memory>
#include <string_view>

#include "audio/conversions.h"
#include "platform/file.h"
#include "swf/swf_movie.h"
#include "swf/walk_state.h"
#include "util/paths.h"

namespace {

// The path with everything from the file name's last '.' replaced by extension.
std::string WithExtension(const std::string& path, const char* extension)
{
    return std::string(WithoutExtension(path)) + extension;
}

}  // namespace

bool CSwfMovie::Extract(const std::string& swfPath)
{
    Reset();
    if (!Load(swfPath, false))
        return false;
    // The output-base probe used up numbers.
    m_nextNumber = 1;
    const bool walked = WalkTags(false);
    if (m_walk->stream.counted)
        FinishStream();
    TakeExportNames();
    return walked;
}

void CSwfMovie::TakeExportNames()
{
    // The names come in tags of their own, usually after the sounds.
    for (CSoundFinding& f : m_findings) {
        if (f.stream)
            continue;
        auto it = m_walk->exported.find(f.characterId);
        if (it == m_walk->exported.end() && (it = m_walk->classes.find(f.characterId)) == m_walk->classes.end())
            continue;
        f.exportName = it->second;
    }
}

bool CSwfMovie::Run(const std::string& swfPath, bool toMp3, bool exportNames, const CommitGate& gate)
{
    if (!Extract(swfPath))
        return false;
    m_toMp3 = toMp3;
    if (m_toMp3)
        ConvertAllToMp3();
    else
        ConvertAllToWav();
    if (gate && !gate(*this)) {
        for (const CSoundElement& sound : m_sounds)
            platform::DeleteFile(sound.path);
        m_sounds.clear();
        return false;
    }
    if (exportNames)
        NameByExports();
    DropSingleNumber();
    return true;
}

namespace {

// An export name as a part of a file name: path separators and characters
// other file systems refuse become '_', and it is kept short.
std::string SafeNamePart(const std::string& name)
{
    constexpr size_t kMaxBytes = 120;
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        out += u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos ? '_' : c;
    }
    if (out.size() > kMaxBytes) {
        size_t cut = kMaxBytes;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut;  // not inside a UTF-8 sequence
        out.resize(cut);
    }
    return out;
}

}  // namespace

void CSwfMovie::NameByExports()
{
    auto sound = m_sounds.begin();
    for (int index = 0; sound != m_sounds.end(); ++sound, ++index) {
        const auto f = std::find_if(m_findings.begin(), m_findings.end(),
                                    [index](const CSoundFinding& x) { return x.record == index; });
        if (f == m_findings.end() || f->exportName.empty())
            continue;
        const std::string stem = m_outputBase + "_" + SafeNamePart(f->exportName);
        const std::string extension = sound->path.substr(WithoutExtension(sound->path).size());
        // Never replacing: a name taken (two sounds of one name, or a file of
        // the user's) takes a number.
        for (int n = 0; n < 1000; ++n) {
            char suffix[16] = "";
            if (n > 0)
                std::snprintf(suffix, sizeof suffix, "_%03d", n);
            const std::string target = stem + suffix + extension;
            if (platform::RenameNoReplace(sound->path, target)) {
                sound->path = target;
                break;
            }
        }
    }
}

std::string CSwfMovie::FreeTargetName(const std::string& source, const char* extension)
{
    // The converted file keeps its number unless a file of the user's has that
    // name; then it takes the movie's next free number.
    std::string target = WithExtension(source, extension);
    if (FileExists(target))
        target = NextOutputName(extension);
    return target;
}

bool CSwfMovie::ConvertRecord(CSoundElement& sound, bool toMp3)
{
    const char* extension = toMp3 ? ".mp3" : ".wav";
    const std::string target = FreeTargetName(sound.path, extension);
    if (toMp3) {
        uint32_t frames = 0;
        uint32_t rate = 0;
        if (!ConvertWavToMp3(sound.path, target, &frames, &rate))
            return false;
        // The encoder may resample (5512 Hz becomes 8000 Hz); the count must be
        // in frames of the new rate, or the record's length would be wrong.
        if (rate != sound.sampleRate && sound.sampleRate != 0)
            frames = static_cast<uint32_t>((static_cast<uint64_t>(frames) * rate + sound.sampleRate / 2) /
                                           sound.sampleRate);
        sound.sampleRate = rate;
        sound.sampleCount = frames;
        sound.isMp3 = 1;
    } else {
        if (!ConvertMp3ToWav(sound.path, target))
            return false;
        sound.bits = 16;
        sound.isMp3 = 0;
    }
    platform::DeleteFile(sound.path);
    sound.path = target;
    return true;
}

void CSwfMovie::ConvertAllToMp3()
{
    int index = 0;
    for (CSoundElement& sound : m_sounds) {
        if (!sound.isMp3 && !ConvertRecord(sound, true))
            NoteConversionFailed(index);
        ++index;
    }
}

void CSwfMovie::ConvertAllToWav()
{
    int index = 0;
    for (CSoundElement& sound : m_sounds) {
        if (sound.isMp3 && !ConvertRecord(sound, false))
            NoteConversionFailed(index);
        ++index;
    }
}

void CSwfMovie::NoteConversionFailed(int record)
{
    for (CSoundFinding& f : m_findings) {
        if (f.record == record)
            f.conversionFailed = true;
    }
}

void CSwfMovie::DropSingleNumber()
{
    // A movie of several sounds keeps its numbers when only one of them
    // could be written, so that a later run's files don't read as another
    // movie's.
    if (m_sounds.size() != 1 || FoundCount() != 1)
        return;
    CSoundElement& sound = m_sounds.front();
    // Only the number that ends the file name goes; a "_001" elsewhere in the
    // path is part of a folder or of the movie's own name.
    const std::string_view stem = WithoutExtension(sound.path);
    static constexpr std::string_view kSuffix = "_001";
    if (!FileNamePart(stem).ends_with(kSuffix))
        return;
    const size_t at = stem.size() - kSuffix.size();
    std::string shorter = sound.path;
    shorter.erase(at, kSuffix.size());
    if (platform::RenameNoReplace(sound.path, shorter))
        sound.path = std::move(shorter);
}

bool ConvertSwfFile(const std::string& swfPath, long* extracted, long* total,
                    std::list<std::string>* paths, bool toMp3)
{
    auto movie = std::make_unique<CSwfMovie>();
    if (!movie->Run(swfPath, toMp3))
        return false;
    if (!movie->WroteAnything())
        return false;
    if (extracted)
        *extracted = static_cast<long>(movie->ExtractedCount());
    if (total)
        *total = static_cast<long>(movie->FoundCount());
    if (paths) {
        for (const CSoundElement& sound : movie->Sounds())
            paths->push_back(sound.path);
    }
    return true;
}
