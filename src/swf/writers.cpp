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
    // Empty sounds are listed, but no more than real ones may be: a tiny
    // movie of empty tags could name millions.
    if (finding.empty) {
        if (m_findings.size() - m_listed < kMaxSoundsPerMovie) {
            finding.loss = SoundLoss::None;
            finding.record = -1;
            m_findings.push_back(std::move(finding));
        }
        return;
    }
    if (m_listed >= kMaxSoundsPerMovie) {
        if (m_unlisted < UINT32_MAX - kMaxSoundsPerMovie)
            ++m_unlisted;
        return;
    }
    if (!written) {
        finding.record = -1;
        if (finding.loss == SoundLoss::None)
            finding.loss = SoundLoss::NotWritten;
    }
    ++m_listed;
    m_findings.push_back(std::move(finding));
}

uint32_t CSwfMovie::ExtractedCount() const
{
    return static_cast<uint32_t>(std::count_if(m_findings.begin(), m_findings.end(), [](const CSoundFinding& f) {
        return !f.empty && f.loss == SoundLoss::None;
    }));
}

void CSwfMovie::OrderFindings()
{
    // A stream is found when it ends, after the sounds its timeline met
    // meanwhile; its place is where it started.
    std::stable_sort(m_findings.begin(), m_findings.end(),
                     [](const CSoundFinding& a, const CSoundFinding& b) { return a.startOrder < b.startOrder; });
    std::vector<std::list<CSoundElement>::iterator> records;
    for (auto it = m_sounds.begin(); it != m_sounds.end(); ++it)
        records.push_back(it);
    std::list<CSoundElement> sounds;
    std::vector<platform::PendingFile> outputs;
    std::vector<size_t> order;
    for (CSoundFinding& f : m_findings) {
        if (f.record < 0 || static_cast<size_t>(f.record) >= records.size())
            continue;
        const auto i = static_cast<size_t>(f.record);
        f.record = static_cast<int>(sounds.size());
        f.number = static_cast<uint32_t>(sounds.size() + 1);
        sounds.splice(sounds.end(), m_sounds, records[i]);
        if (i < m_outputs.size()) {
            outputs.push_back(std::move(m_outputs[i]));
            order.push_back(m_outputOrder[i]);
        }
    }
    // Records no finding claims (none are made so) would be lost.
    for (platform::PendingFile& file : m_outputs)
        file.Discard();
    m_sounds = std::move(sounds);
    m_outputs = std::move(outputs);
    m_outputOrder = std::move(order);
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
    if (m_listed >= kMaxSoundsPerMovie) {
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
    if (m_listed >= kMaxSoundsPerMovie) {
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
    if (record.cut && finding.loss == SoundLoss::None)
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

bool CSwfMovie::TakeIdentical(size_t record, const std::string& name, std::vector<std::pair<uint64_t, uint64_t>>& taken)
{
    const platform::Folder& folder = *m_place->Folder();
    platform::File mine;
    platform::File theirs;
    platform::FileStamp stamp;
    if (!mine.OpenIn(folder, m_outputs[record].TempName(), platform::OpenMode::Read) ||
        !theirs.OpenIn(folder, name, platform::OpenMode::Read) || !platform::StampOf(theirs.Fd(), stamp) ||
        mine.Size() != theirs.Size())
        return false;
    const std::pair<uint64_t, uint64_t> id{stamp.device, stamp.inode};
    if (std::find(taken.begin(), taken.end(), id) != taken.end())
        return false;
    std::vector<char> a(1 << 16);
    std::vector<char> b(a.size());
    for (;;) {
        const size_t got = mine.Read(a.data(), a.size());
        if (mine.Failed() || theirs.Read(b.data(), got) != got || theirs.Failed() ||
            !std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(got), b.begin()))
            return false;
        if (got < a.size())
            break;
    }
    taken.push_back(id);
    m_outputs[record].Discard();
    return true;
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
    // A sound takes its own number where that name is free, else the next
    // free one after it: numbers follow the order the sounds start and
    // never go back. Per export name its next suffix carries on likewise.
    int last = 0;
    std::map<std::string, int> nextSuffix;
    std::vector<std::pair<uint64_t, uint64_t>> taken;
    std::list<CSoundElement> committed;
    auto sound = m_sounds.begin();
    for (size_t i = 0; i < m_outputs.size(); ++i, ++sound) {
        CSoundFinding* finding = findingOf[i];
        const std::string extension = std::string(".") + FileTypeOf(*sound);
        int next = std::max(finding && finding->number ? static_cast<int>(finding->number) : last + 1, last + 1);
        std::string exportStem;
        if (exportNames && finding && !finding->exportName.empty())
            exportStem = base + "_" + SafeNamePart(finding->exportName);
        int& suffix = nextSuffix[exportStem];
        // The names this sound may take, best first: its export name and
        // that name numbered, or the movie's name for its one sound; then
        // numbers from its own on. numbered receives the number of a
        // numbered name, 0 for another.
        bool shortTried = !single;
        int numbered = 0;
        const auto candidate = [&]() -> std::string {
            numbered = 0;
            if (!exportStem.empty() && suffix < 1000) {
                const int n = suffix++;
                return n == 0 ? exportStem + extension : NumberedName(exportStem, n, extension);
            }
            if (!shortTried) {
                shortTried = true;
                return base + extension;
            }
            numbered = next++;
            return NumberedName(base, numbered, extension);
        };
        bool moved = false;
        for (int attempt = 0; attempt < kMaxNameTries && !moved; ++attempt) {
            const std::string name = candidate();
            if (folder.Holds(name)) {
                if (m_takeIdentical && TakeIdentical(i, name, taken)) {
                    sound->path = folder.PathOf(name);
                    moved = true;
                }
            } else {
                const platform::MoveOutcome outcome = m_outputs[i].MoveInto(name);
                if (outcome == platform::MoveOutcome::Failed)
                    break;
                if (outcome == platform::MoveOutcome::Moved) {
                    sound->path = folder.PathOf(name);
                    moved = true;
                }
            }
            if (moved && numbered)
                last = numbered;
        }
        if (!moved) {
            m_outputs[i].Discard();
            if (finding) {
                finding->record = -1;
                finding->number = 0;
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
