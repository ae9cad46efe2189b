#include <algorithm>
#include <cstdio>
#include <memory>
#include <string_view>

#include "audio/conversions.h"
#include "platform/file.h"
#include "platform/pending_file.h"
#include "swf/swf_movie.h"
#include "swf/movie_body.h"
#include "swf/output_place.h"
#include "swf/sound_finder.h"
#include "swf/tag_reader.h"
#include "util/paths.h"

namespace {

std::function<void()> g_afterExtraction;

}  // namespace

void swf_testing::SetAfterExtraction(std::function<void()> hook)
{
    g_afterExtraction = std::move(hook);
}

bool CSwfMovie::ExtractPending(const std::string& swfPath, bool dry, OutputType target)
{
    Reset();
    m_dry = dry;
    m_target = target;
    if (!Load(swfPath, false))
        return false;
    if (m_place->IsOpen())
        RemoveStaleTemporaryFiles();
    {
        CSoundFinder finder(*this, *m_body);
        ReadMovieTags(*m_body, finder);
    }
    OrderFindings();
    if (m_wantDigest && !m_body->Digest(m_digestSize, m_digest))
        m_digest.clear();
    if (!m_body->Unchanged()) {
        // The file changed under the walk (a page read as zeros, a write, a
        // rename over its name): nothing it found can be trusted.
        Reset();
        m_loadFailure = LoadFailure::Changed;
        return false;
    }
    return true;
}

namespace {

// True when the record's file is already of the type asked for.
bool IsOfType(const CSoundElement& sound, OutputType type)
{
    switch (type) {
    case OutputType::Mp3: return sound.isMp3 != 0;
    case OutputType::Wav: return sound.isMp3 == 0 && !sound.isFlac;
    case OutputType::Flac: return sound.isFlac;
    case OutputType::Keep: break;
    }
    return true;
}

const char* ExtensionOf(OutputType type)
{
    return type == OutputType::Mp3 ? ".mp3" : type == OutputType::Flac ? ".flac" : ".wav";
}

}  // namespace

bool CSwfMovie::Extract(const std::string& swfPath, bool exportNames)
{
    if (!ExtractPending(swfPath, false))
        return false;
    CommitOutputs(exportNames, false);
    m_place->EndClaim();
    return true;
}

bool CSwfMovie::List(const std::string& swfPath, OutputType type)
{
    if (!ExtractPending(swfPath, true, type))
        return false;
    const std::vector<CSoundFinding*> findingOf = FindingsByRecord();
    size_t record = 0;
    for (CSoundElement& sound : m_sounds) {
        CSoundFinding* f = findingOf[record++];
        if (f && !IsOfType(sound, type) && !ListConversion(sound, *f, type)) {
            f->conversionFailed = true;
            if (f->loss == SoundLoss::None)
                f->loss = SoundLoss::NotConverted;
        }
    }
    m_listedMp3.clear();
    return true;
}

bool CSwfMovie::ListConversion(CSoundElement& sound, const CSoundFinding& finding, OutputType type) const
{
    if (type == OutputType::Mp3) {
        // The encoder may resample; the count follows, as a conversion's does.
        const uint32_t rate = Mp3EncodedRate(sound.sampleRate, sound.channels);
        if (rate == 0)
            return false;
        if (rate != sound.sampleRate && sound.sampleRate != 0)
            sound.sampleCount = static_cast<uint32_t>(
                (static_cast<uint64_t>(sound.sampleCount) * rate + sound.sampleRate / 2) / sound.sampleRate);
        sound.sampleRate = rate;
        sound.isMp3 = 1;
        return true;
    }
    if (sound.isMp3) {
        const auto pieces = m_listedMp3.find(finding.startOrder);
        Mp3Decoded decoded;
        if (pieces == m_listedMp3.end() || !MeasureMp3(pieces->second, decoded) || decoded.frames > UINT32_MAX)
            return false;
        sound.sampleCount = static_cast<uint32_t>(decoded.frames);
        sound.channels = decoded.channels;
        sound.sampleRate = decoded.rate;
        sound.bits = 16;
        sound.isMp3 = 0;
    }
    sound.isFlac = type == OutputType::Flac;
    return true;
}

bool CSwfMovie::Run(const std::string& swfPath, OutputType type, bool exportNames, const CommitGate& gate)
{
    if (!ExtractPending(swfPath, false, type))
        return false;
    if (g_afterExtraction)
        g_afterExtraction();
    const std::vector<CSoundFinding*> findingOf = FindingsByRecord();
    size_t record = 0;
    for (CSoundElement& sound : m_sounds) {
        // A sound that stays in the type it was extracted to is lost.
        CSoundFinding* f = findingOf[record];
        if (!IsOfType(sound, type) && !ConvertRecord(sound, record, type) && f) {
            f->conversionFailed = true;
            if (f->loss == SoundLoss::None)
                f->loss = SoundLoss::NotConverted;
        }
        ++record;
    }
    if (gate && !gate(*this)) {
        DiscardOutputs();
        m_place->EndClaim();
        return false;
    }
    CommitOutputs(exportNames, true);
    m_place->EndClaim();
    return true;
}

bool CSwfMovie::DecodeToWave(platform::File& in, size_t record, platform::PendingFile& wave, CSoundElement& sound)
{
    uint64_t frames = 0;
    if (!wave.CreateIn(m_place->Folder(), ProvisionalName(m_outputOrder[record], ".wav")) ||
        !ConvertMp3ToWav(std::move(in), wave, &frames, &sound.channels, &sound.sampleRate) || frames > UINT32_MAX)
        return false;
    sound.bits = 16;
    return in.OpenIn(*m_place->Folder(), wave.TempName(), platform::OpenMode::Read);
}

bool CSwfMovie::ConvertRecord(CSoundElement& sound, size_t record, OutputType type)
{
    platform::PendingFile& source = m_outputs[record];
    platform::File in;
    platform::PendingFile target;
    if (!in.OpenIn(*m_place->Folder(), source.TempName(), platform::OpenMode::Read) ||
        !target.CreateIn(m_place->Folder(), ProvisionalName(m_outputOrder[record], ExtensionOf(type))))
        return false;
    CSoundElement converted = sound;
    if (type == OutputType::Mp3) {
        uint32_t frames = 0;
        uint32_t rate = 0;
        if (!ConvertWavToMp3(std::move(in), target, &frames, &rate))
            return false;
        // The encoder may resample (5512 Hz becomes 8000 Hz); the count must be
        // in frames of the new rate, or the record's length would be wrong.
        if (rate != sound.sampleRate && sound.sampleRate != 0)
            frames = static_cast<uint32_t>((static_cast<uint64_t>(frames) * rate + sound.sampleRate / 2) /
                                           sound.sampleRate);
        converted.sampleRate = rate;
        converted.sampleCount = frames;
        converted.isMp3 = 1;
    } else if (type == OutputType::Wav) {
        uint64_t frames = 0;
        if (!ConvertMp3ToWav(std::move(in), target, &frames, &converted.channels, &converted.sampleRate))
            return false;
        converted.sampleCount = static_cast<uint32_t>(std::min<uint64_t>(frames, UINT32_MAX));
        converted.bits = 16;
        converted.isMp3 = 0;
    } else {
        // FLAC holds the samples of the WAV that /wav would write: an MP3 is
        // decoded to one first, which goes when this returns.
        platform::PendingFile wave;
        uint32_t frames = 0;
        if ((sound.isMp3 && !DecodeToWave(in, record, wave, converted)) ||
            !ConvertWavToFlac(std::move(in), target, &frames) || !target.Finish())
            return false;
        converted.sampleCount = frames;
        converted.isMp3 = 0;
        converted.isFlac = true;
    }
    // The outputs' bound counts what the movie holds now.
    const uint64_t without = m_outputBytes - source.FinishedSize();
    if (without + target.FinishedSize() > kMaxOutputBytesPerMovie) {
        target.Discard();
        return false;
    }
    m_outputBytes = without + target.FinishedSize();
    source.Discard();
    sound = std::move(converted);
    sound.path = target.TempPath();
    source = std::move(target);
    return true;
}

bool ConvertSwfFile(const std::string& swfPath, long* extracted, long* total,
                    std::list<std::string>* paths, OutputType type)
{
    auto movie = std::make_unique<CSwfMovie>();
    if (!movie->Run(swfPath, type))
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
