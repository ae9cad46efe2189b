// A movie's outputs: started under temporary names as its sounds are found,
// catalogued when written whole, and named together at the end.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string_view>

#include "audio/wave_format.h"
#include "platform/file.h"
#include "platform/pending_file.h"
#include "swf/output_place.h"
#include "swf/swf_movie.h"

namespace {

// Names tried for one output before giving up; only a folder holding this many
// numbered files of the movie, or one that keeps refusing, gets there.
constexpr int kMaxNameTries = 100000;
// Outputs of a movie synced one by one as they are done; the rest are put on
// the disk together before they take their names.
constexpr size_t kSyncedOneByOne = 16;

// An export name as a part of a file name: path separators and characters
// other file systems refuse become '_'. It was cut short where it was read.
std::string SafeNamePart(const std::string& name)
{
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        out += u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos ? '_' : c;
    }
    return out;
}

}  // namespace

void CSwfMovie::AddFinding(CSoundFinding finding, bool written)
{
    if (m_findings.size() >= kMaxSoundsPerMovie) {
        if (m_unlisted < UINT32_MAX - kMaxSoundsPerMovie)
            ++m_unlisted;
        return;
    }
    if (!written) {
        finding.record = -1;
        if (finding.loss == SoundLoss::None)
            finding.loss = SoundLoss::NotWritten;
    }
    m_findings.push_back(std::move(finding));
}

uint32_t CSwfMovie::ExtractedCount() const
{
    return static_cast<uint32_t>(std::count_if(m_findings.begin(), m_findings.end(),
                                               [](const CSoundFinding& f) { return f.loss == SoundLoss::None; }));
}

std::string CSwfMovie::ProvisionalName(size_t ordinal, const char* extension) const
{
    return NumberedName(m_place->BaseName(), static_cast<int>(std::min<size_t>(ordinal, 999999) + 1), extension);
}

bool CSwfMovie::CreateOutput(const char* extension, platform::PendingFile& file, CSoundFinding& finding)
{
    if (!m_place->IsOpen() && !m_dry) {
        finding.loss = SoundLoss::NoFolder;
        return false;
    }
    if (m_findings.size() >= kMaxSoundsPerMovie) {
        finding.loss = SoundLoss::TooMany;
        return false;
    }
    const std::string name = ProvisionalName(m_started, extension);
    if (m_dry)
        file.CreateNowhere(name);
    else if (!file.CreateIn(m_place->Folder(), name))
        return false;
    m_orderOfTemp[file.TempName()] = m_started++;
    return true;
}

bool CSwfMovie::KeepOutput(platform::PendingFile& file, CSoundElement record, CSoundFinding& finding)
{
    const auto order = m_orderOfTemp.find(file.TempName());
    if (order == m_orderOfTemp.end()) {
        file.Discard();
        return false;
    }
    const size_t ordinal = order->second;
    m_orderOfTemp.erase(order);
    // A stream started before the movie's last listed sound may end after it.
    if (m_findings.size() >= kMaxSoundsPerMovie) {
        finding.loss = SoundLoss::TooMany;
        file.Discard();
        return false;
    }
    // Past a few files, one sync of the file system at the end costs less
    // than one per file.
    if (!file.Finish(m_outputs.size() < kSyncedOneByOne))
        return false;
    if (m_outputBytes + file.FinishedSize() > kMaxOutputBytesPerMovie) {
        finding.loss = SoundLoss::TooLarge;
        file.Discard();
        return false;
    }
    m_outputBytes += file.FinishedSize();
    finding.record = static_cast<int>(m_sounds.size());
    if (record.cut)
        finding.loss = SoundLoss::Cut;
    record.path = file.TempPath();
    m_sounds.push_back(std::move(record));
    m_outputs.push_back(std::move(file));
    m_outputOrder.push_back(ordinal);
    return true;
}

bool CSwfMovie::OpenWaveOutput(platform::PendingFile& file, bool stereo, int bits, uint32_t rate,
                               CSoundFinding& finding)
{
    if (!CreateOutput(".wav", file, finding))
        return false;
    const auto header = MakeWaveHeader(stereo ? 2 : 1, static_cast<uint16_t>(bits), rate);
    if (!file.Out().Write(header.data(), header.size())) {
        file.Discard();
        return false;
    }
    return true;
}

void CSwfMovie::RemoveStaleTemporaryFiles()
{
    const platform::Folder& folder = *m_place->Folder();
    // What a killed run of this movie left: temporary files named after its
    // outputs' places, one after another from the first; a gap ends them.
    static constexpr const char* kExtensions[] = {".mp3", ".wav", ".flac"};
    for (size_t record = 0; record < kMaxSoundsPerMovie; ++record) {
        bool any = false;
        for (const char* extension : kExtensions) {
            const std::string name = ProvisionalName(record, extension);
            for (unsigned n = 0; n < 4; ++n) {
                std::string temp = "." + name;
                if (n) {
                    temp += '.';
                    temp += std::to_string(n);
                }
                temp += ".part";
                if (folder.HoldsRegularFile(temp)) {
                    any = true;
                    folder.Remove(temp);
                }
            }
        }
        if (!any)
            return;
    }
}

void CSwfMovie::DiscardOutputs()
{
    for (platform::PendingFile& file : m_outputs)
        file.Discard();
    m_outputs.clear();
    m_outputOrder.clear();
    m_orderOfTemp.clear();
    m_started = 0;
    m_sounds.clear();
    for (CSoundFinding& f : m_findings) {
        if (f.record >= 0 && f.loss == SoundLoss::None)
            f.loss = SoundLoss::NotWritten;
        f.record = -1;
    }
}

std::vector<CSoundFinding*> CSwfMovie::FindingsByRecord()
{
    std::vector<CSoundFinding*> findingOf(m_sounds.size(), nullptr);
    for (CSoundFinding& f : m_findings) {
        if (f.record >= 0 && static_cast<size_t>(f.record) < findingOf.size())
            findingOf[static_cast<size_t>(f.record)] = &f;
    }
    return findingOf;
}

void CSwfMovie::CommitOutputs(bool exportNames, bool singleUnnumbered)
{
    // No folder took the movie's files: there is nothing to name.
    if (!m_place->IsOpen()) {
        DiscardOutputs();
        return;
    }
    const std::vector<CSoundFinding*> findingOf = FindingsByRecord();
    const platform::Folder& folder = *m_place->Folder();
    const std::string& base = m_place->BaseName();
    if (m_outputs.size() > kSyncedOneByOne && !folder.SyncFileSystem()) {
        DiscardOutputs();
        return;
    }
    const bool single = singleUnnumbered && m_sounds.size() == 1 && FoundCount() == 1;
    // A sound's number is its place in the order the files were started.
    std::vector<size_t> byOrder(m_outputs.size());
    for (size_t i = 0; i < byOrder.size(); ++i)
        byOrder[i] = i;
    std::sort(byOrder.begin(), byOrder.end(), [this](size_t a, size_t b) { return m_outputOrder[a] < m_outputOrder[b]; });
    std::vector<int> numberOf(m_outputs.size());
    for (size_t rank = 0; rank < byOrder.size(); ++rank)
        numberOf[byOrder[rank]] = static_cast<int>(rank + 1);
    // Every name is tried once: numbers past the sounds' own, and per export
    // name its next suffix, carry on from where the last sound left them.
    int nextNumber = static_cast<int>(m_outputs.size()) + 1;
    std::map<std::string, int> nextSuffix;
    std::list<CSoundElement> committed;
    auto sound = m_sounds.begin();
    for (size_t i = 0; i < m_outputs.size(); ++i, ++sound) {
        CSoundFinding* finding = findingOf[i];
        const std::string extension = std::string(".") + FileTypeOf(*sound);
        const int number = numberOf[i];
        std::string exportStem;
        if (exportNames && finding && !finding->exportName.empty())
            exportStem = base + "_" + SafeNamePart(finding->exportName);
        int& suffix = nextSuffix[exportStem];
        // The names this sound may take, best first: its export name and
        // that name numbered, or the movie's name for its one sound; then its
        // own number, then numbers past every one given so far.
        bool shortTried = !single;
        bool ownTried = false;
        const auto candidate = [&]() -> std::string {
            if (!exportStem.empty() && suffix < 1000) {
                const int n = suffix++;
                return n == 0 ? exportStem + extension : NumberedName(exportStem, n, extension);
            }
            if (!shortTried) {
                shortTried = true;
                return base + extension;
            }
            if (!ownTried) {
                ownTried = true;
                return NumberedName(base, number, extension);
            }
            return NumberedName(base, nextNumber++, extension);
        };
        bool moved = false;
        for (int attempt = 0; attempt < kMaxNameTries && !moved; ++attempt) {
            const std::string name = candidate();
            if (folder.Holds(name))
                continue;
            const platform::MoveOutcome outcome = m_outputs[i].MoveInto(name);
            if (outcome == platform::MoveOutcome::Failed)
                break;
            if (outcome == platform::MoveOutcome::Moved) {
                sound->path = folder.PathOf(name);
                moved = true;
            }
        }
        if (!moved) {
            m_outputs[i].Discard();
            if (finding) {
                finding->record = -1;
                finding->loss = SoundLoss::NotWritten;
            }
            continue;
        }
        if (finding)
            finding->record = static_cast<int>(committed.size());
        committed.push_back(std::move(*sound));
    }
    m_outputs.clear();
    m_outputOrder.clear();
    m_sounds = std::move(committed);
    // The new names on the disk with the files they name.
    folder.Sync();
}
