#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string_view>
#include <system_error>
#include <thread>

#include "audio/mp3_frame.h"
#include "platform/file.h"

#include "audio/wave_format.h"
#include "platform/folders.h"
#include "swf/adpcm_decoder.h"
#include "swf/swf_movie.h"
#include "swf/walk_state.h"
#include "util/paths.h"

namespace {

constexpr const char* kFallbackFolder = "Orvellin_Files/";
// The output types' extensions, without the dot.
constexpr std::string_view kOutputExtensions[] = {"mp3", "wav", "flac"};
// Longest movie file name (without extension) used whole as the output
// base: room is left for "_NNNNN" or an export name and the extension.
constexpr size_t kMaxWholeBase = 120;
// Names tried for one output before giving up; only a folder holding this many
// numbered files of the movie, or one that keeps refusing, gets there.
constexpr int kMaxNameTries = 100000;
// Outputs of a movie synced one by one as they are done; the rest are put on
// the disk together before they take their names.
constexpr size_t kSyncedOneByOne = 16;

std::string FormatOutputName(const std::string& base, int number, const char* extension)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "_%03d", number);
    return base + digits + extension;
}

// The file-name part of the outputs of a movie named stem. A name too long
// to take a number and an extension is cut at a character boundary and
// followed by "~" and a hash of the whole, so it still tells the movie and
// two long names that share a start don't meet.
std::string OutputBaseName(std::string_view stem)
{
    if (stem.size() <= kMaxWholeBase)
        return std::string(stem);
    const size_t cut = Utf8PrefixLength(stem, kMaxWholeBase - 9);
    uint32_t h = 2166136261u;  // FNV-1a
    for (const char c : stem) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    char hash[16];
    std::snprintf(hash, sizeof hash, "~%08x", h);
    return std::string(stem.substr(0, cut)) + hash;
}

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

std::string FolderOf(std::string_view path)
{
    return std::string(path.substr(0, path.size() - FileNamePart(path).size()));
}

}  // namespace

std::vector<std::string> CSwfMovie::OutputFolders(const std::string& swfPath)
{
    std::vector<std::string> folders{FolderOf(swfPath)};
    std::string documents = platform::DocumentsFolder(false);
    if (!documents.empty()) {
        if (documents.back() != '/')
            documents += '/';
        folders.push_back(documents + kFallbackFolder);
    }
    std::string programFolder;
    if (GetModuleFolder(programFolder))
        folders.push_back(programFolder + kFallbackFolder);
    return folders;
}

bool CSwfMovie::IsOutputName(const std::string& swfPath, std::string_view name)
{
    const std::string base = OutputBaseName(FileNamePart(WithoutExtension(swfPath)));
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || base.empty() || !name.starts_with(base))
        return false;
    const std::string_view extension = name.substr(dot + 1);
    bool known = false;
    for (const std::string_view e : kOutputExtensions)
        known = known || extension == e;
    // BASE.ext, or BASE_ and a number or an export name before the extension.
    return known && (dot == base.size() || (dot > base.size() + 1 && name[base.size()] == '_'));
}

std::string CSwfMovie::ProvisionalName(size_t ordinal, const char* extension) const
{
    return FormatOutputName(m_baseName, static_cast<int>(std::min<size_t>(ordinal, 999999) + 1), extension);
}

bool CSwfMovie::CreateOutput(const char* extension, platform::PendingFile& file)
{
    if (!m_folder && !m_dry) {
        Current().loss = SoundLoss::NoFolder;
        return false;
    }
    if (m_findings.size() >= kMaxSoundsPerMovie) {
        Current().loss = SoundLoss::TooMany;
        return false;
    }
    const std::string name = ProvisionalName(m_started, extension);
    if (m_dry)
        file.CreateNowhere(name);
    else if (!file.CreateIn(m_folder, name))
        return false;
    m_orderOfTemp[file.TempName()] = m_started++;
    return true;
}

bool CSwfMovie::KeepOutput(platform::PendingFile& file, CSoundElement record)
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
        Current().loss = SoundLoss::TooMany;
        file.Discard();
        return false;
    }
    // Past a few files, one sync of the file system at the end costs less
    // than one per file.
    if (!file.Finish(m_outputs.size() < kSyncedOneByOne))
        return false;
    if (m_outputBytes + file.FinishedSize() > kMaxOutputBytesPerMovie) {
        Current().loss = SoundLoss::TooLarge;
        file.Discard();
        return false;
    }
    m_outputBytes += file.FinishedSize();
    CSoundFinding& finding = Current();
    finding.record = static_cast<int>(m_sounds.size());
    if (record.cut)
        finding.loss = SoundLoss::Cut;
    record.path = file.TempPath();
    m_sounds.push_back(std::move(record));
    m_outputs.push_back(std::move(file));
    m_outputOrder.push_back(ordinal);
    return true;
}

bool CSwfMovie::OpenWaveOutput(platform::PendingFile& file, bool stereo, int bits, uint32_t rate)
{
    if (!CreateOutput(".wav", file))
        return false;
    const auto header = MakeWaveHeader(stereo ? 2 : 1, static_cast<uint16_t>(bits), rate);
    if (!file.Out().Write(header.data(), header.size())) {
        file.Discard();
        return false;
    }
    return true;
}

CSoundElement CSwfMovie::RecordOf(const SoundHeader& h)
{
    CSoundElement e;
    e.channels = h.stereo ? 2 : 1;
    e.bits = h.is16Bit ? 16 : 8;
    e.sampleRate = SampleRateOfIndex(h.rateIndex);
    e.sampleCount = h.sampleCount;
    e.format = static_cast<uint8_t>(h.format);
    return e;
}

bool CSwfMovie::WriteMp3Sound(const SoundHeader& h)
{
    m_reader.DiscardBits();
    // No data is no sound, and would make an empty file.
    if (BytesLeftInTag() == 0) {
        Current().loss = SoundLoss::NothingDecoded;
        return false;
    }
    platform::PendingFile file;
    if (!CreateOutput(".mp3", file))
        return false;
    // A long sound's frames are counted on a thread of their own while the
    // system copies it: both read every page of it, one in the kernel.
    constexpr size_t kCountedAside = 1 << 20;
    CMp3FrameCounter frames;
    const uint8_t* data = m_body + m_reader.Cursor();
    const size_t size = BytesLeftInTag();
    std::thread counting;
    if (size >= kCountedAside) {
        try {
            counting = std::thread([&frames, data, size] { frames.Add(data, size); });
        } catch (const std::system_error&) {
            // No thread to be had: counted here, after the copy.
        }
    }
    const bool copied = CopyTagRest(file.Out());
    // An MP3 that stays as it is goes to the disk while its count goes on,
    // so that the sync before it takes its name waits for less. One that is
    // to be converted is only read again, and may never need the disk.
    if (copied && counting.joinable() && (m_target == OutputType::Keep || m_target == OutputType::Mp3))
        file.Out().StartWriteBack();
    if (counting.joinable())
        counting.join();
    else
        frames.Add(data, size);
    if (!copied)
        return false;
    CSoundElement e = RecordOf(h);
    e.isMp3 = 1;
    e.sampleCount = static_cast<uint32_t>(std::min<uint64_t>(frames.Samples(), UINT32_MAX));
    return KeepOutput(file, std::move(e));
}

bool CSwfMovie::WritePcmSound(const SoundHeader& h)
{
    CSoundElement e = RecordOf(h);
    const uint32_t blockAlign = e.channels * e.bits / 8u;
    const uint64_t frames = BytesLeftInTag() / blockAlign;
    Current().decodedSamples = frames;
    if (frames == 0) {
        Current().loss = SoundLoss::NothingDecoded;
        return false;
    }
    platform::PendingFile file;
    if (!OpenWaveOutput(file, h.stereo, e.bits, e.sampleRate))
        return false;
    uint64_t dataBytes = 0;
    // Whole sample frames only: an odd byte at the end would be no sample.
    const uint64_t tagEnd = m_tagEnd;
    m_tagEnd = m_reader.Cursor() + frames * blockAlign;
    const bool copied = CopyTagRestToWave(file.Out(), dataBytes, static_cast<int>(blockAlign), e.cut);
    m_tagEnd = tagEnd;
    e.sampleCount = static_cast<uint32_t>(dataBytes / blockAlign);
    if (!copied || !PatchWaveLengths(file.Out()))
        return false;
    return KeepOutput(file, std::move(e));
}

bool CSwfMovie::WriteAdpcmSound(const SoundHeader& h)
{
    // Only what the sound's data can hold is decoded, so a tiny tag can't
    // declare gigabytes of output; and no more than a WAV file can describe.
    CSoundElement e = RecordOf(h);
    const int codeBits = (m_reader.ByteAt(m_reader.Cursor()) >> 6) + 2;
    const uint64_t bits = BytesLeftInTag() * 8ull;
    uint32_t frames = CAdpcmDecoder::FramesThatFit(h.sampleCount, bits, codeBits, h.stereo, h.is16Bit, &Current().overran);
    Current().decodedSamples = frames;
    if (frames == 0) {
        Current().loss = SoundLoss::NothingDecoded;
        return false;
    }
    const uint64_t frameBytes = e.channels * e.bits / 8u;
    e.cut = frames * frameBytes > kMaxWaveDataBytes;
    if (e.cut)
        frames = static_cast<uint32_t>(kMaxWaveDataBytes / frameBytes);
    e.sampleCount = frames;
    platform::PendingFile file;
    if (!OpenWaveOutput(file, h.stereo, e.bits, e.sampleRate))
        return false;
    platform::File& out = file.Out();
    if (!CAdpcmDecoder(m_reader).DecodeInPieces(frames, h.stereo, h.is16Bit,
                                            [&out](const uint8_t* data, size_t size) { return out.Write(data, size); }) ||
        !PatchWaveLengths(out))
        return false;
    return KeepOutput(file, std::move(e));
}

bool CSwfMovie::WriteCodedSound(const SoundHeader& h)
{
    CodedLayout coded{};
    if (!CodedLayoutOf(h.format, h.rateIndex, h.stereo, coded)) {
        Current().loss = SoundLoss::UnknownFormat;
        return false;
    }
    CSoundDecoder decoder;
    if (!decoder.Open(coded.codec, coded.rate, coded.channels)) {
        Current().loss = SoundLoss::NoDecoder;
        return false;
    }
    CSoundElement e = RecordOf(h);
    e.bits = 16;
    e.sampleRate = coded.rate;
    e.channels = static_cast<uint16_t>(coded.channels);
    // The file is made with the first samples: data that decodes to nothing
    // takes no number.
    platform::PendingFile file;
    uint64_t dataBytes = 0;
    bool failed = false;
    const auto sink = [&](const int16_t* samples, size_t count) {
        if (!file.IsPending() && !OpenWaveOutput(file, coded.channels == 2, 16, coded.rate))
            failed = true;
        failed = failed || !AppendWaveSamples(file.Out(), dataBytes, samples, count, coded.channels, e.cut);
        return !failed && !e.cut;
    };
    // Damage the decoder skips costs what it held; the rest is written.
    decoder.Decode(m_body + m_reader.Cursor(), BytesLeftInTag(), sink);
    decoder.Flush(sink);
    e.sampleCount = static_cast<uint32_t>(dataBytes / (2u * e.channels));
    Current().decodedSamples = e.sampleCount;
    Current().damagedBytes = decoder.LostBytes();
    if (!failed && !file.IsPending())
        Current().loss = SoundLoss::NothingDecoded;
    if (failed || !file.IsPending() || !PatchWaveLengths(file.Out()))
        return false;
    return KeepOutput(file, std::move(e));
}

bool CSwfMovie::TryOutputFolder(const std::string& folder)
{
    // A temporary file tells whether the folder takes new files, and never
    // shows under an output name even if the run is killed right then.
    auto opened = std::make_shared<platform::Folder>();
    if (!opened->Open(folder))
        return false;
    m_folder = std::move(opened);
    platform::PendingFile probe;
    if (probe.CreateIn(m_folder, ProvisionalName(0, ".mp3"))) {
        m_outputBase = m_folder->PathOf(m_baseName);
        return true;
    }
    m_folder.reset();
    return false;
}

void CSwfMovie::PickOutputBase(const std::string& swfPath)
{
    m_baseName = OutputBaseName(FileNamePart(WithoutExtension(swfPath)));
    m_outputBase.clear();
    if (TryOutputFolder(FolderOf(swfPath)))
        return;
    const std::vector<std::string> folders = OutputFolders(swfPath);
    for (size_t i = 1; i < folders.size(); ++i) {
        // The fallbacks are made when first needed.
        if (i == 1)
            platform::DocumentsFolder(true);
        platform::CreateFolder(folders[i]);
        if (TryOutputFolder(folders[i]))
            return;
    }
}

void CSwfMovie::RemoveStaleTemporaryFiles()
{
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
                if (m_folder->HoldsRegularFile(temp)) {
                    any = true;
                    m_folder->Remove(temp);
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
    if (!m_folder) {
        DiscardOutputs();
        return;
    }
    const std::vector<CSoundFinding*> findingOf = FindingsByRecord();
    if (m_outputs.size() > kSyncedOneByOne && !m_folder->SyncFileSystem()) {
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
            exportStem = m_baseName + "_" + SafeNamePart(finding->exportName);
        int& suffix = nextSuffix[exportStem];
        // The names this sound may take, best first: its export name and
        // that name numbered, or the movie's name for its one sound; then its
        // own number, then numbers past every one given so far.
        bool shortTried = !single;
        bool ownTried = false;
        const auto candidate = [&]() -> std::string {
            if (!exportStem.empty() && suffix < 1000) {
                const int n = suffix++;
                return n == 0 ? exportStem + extension : FormatOutputName(exportStem, n, extension.c_str());
            }
            if (!shortTried) {
                shortTried = true;
                return m_baseName + extension;
            }
            if (!ownTried) {
                ownTried = true;
                return FormatOutputName(m_baseName, number, extension.c_str());
            }
            return FormatOutputName(m_baseName, nextNumber++, extension.c_str());
        };
        bool moved = false;
        for (int attempt = 0; attempt < kMaxNameTries && !moved; ++attempt) {
            const std::string name = candidate();
            if (m_folder->Holds(name))
                continue;
            const platform::MoveOutcome outcome = m_outputs[i].MoveInto(name);
            if (outcome == platform::MoveOutcome::Failed)
                break;
            if (outcome == platform::MoveOutcome::Moved) {
                sound->path = m_folder->PathOf(name);
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
    m_folder->Sync();
}
