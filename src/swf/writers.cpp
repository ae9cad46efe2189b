#include <cstdio>
#include <string_view>

#include "audio/wave_format.h"
#include "platform/folders.h"
#include "swf/adpcm_decoder.h"
#include "swf/swf_movie.h"
#include "swf/walk_state.h"
#include "util/paths.h"

namespace {

constexpr const char* kFallbackFolder = "Orvellin_Files/";
// The output types' extensions, without the dot.
constexpr std::string_view kOutputExtensions[] = {"mp3", "wav"};
// Longest movie file name (without extension) used whole as the output
// base: room is left for "_NNNNN" or an export name and the extension.
constexpr size_t kMaxWholeBase = 120;
// Names tried for one output before giving up; only a folder holding this many
// numbered files of the movie, or one that keeps refusing, gets there.
constexpr int kMaxNameTries = 100000;

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
    size_t cut = kMaxWholeBase - 9;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80)
        --cut;
    uint32_t h = 2166136261u;  // FNV-1a
    for (const char c : stem) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    char hash[16];
    std::snprintf(hash, sizeof hash, "~%08x", h);
    return std::string(stem.substr(0, cut)) + hash;
}

std::string FolderOf(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

}  // namespace

std::vector<std::string> CSwfMovie::OutputFolders(const std::string& swfPath)
{
    std::vector<std::string> folders{FolderOf(swfPath)};
    std::string documents = platform::DocumentsFolder();
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

std::string CSwfMovie::NextOutputName(const char* extension)
{
    for (;;) {
        std::string name = FormatOutputName(m_outputBase, m_nextNumber++, extension);
        if (!FileExists(name))
            return name;
    }
}

bool CSwfMovie::CreateOutput(const char* extension, platform::PendingFile& file, std::string& path)
{
    if (m_outputBase.empty()) {
        Current().loss = SoundLoss::NoFolder;
        return false;
    }
    for (int tries = 0; tries < kMaxNameTries; ++tries) {
        path = FormatOutputName(m_outputBase, m_nextNumber++, extension);
        if (!FileExists(path))
            return file.Create(path);
    }
    return false;
}

bool CSwfMovie::CommitOutput(platform::PendingFile& file, std::string& path, const char* extension)
{
    for (int tries = 0; tries < kMaxNameTries; ++tries) {
        switch (file.MoveInto(path)) {
        case platform::MoveOutcome::Moved: return true;
        case platform::MoveOutcome::Failed: return false;
        case platform::MoveOutcome::NameTaken: path = NextOutputName(extension); break;
        }
    }
    file.Discard();
    return false;
}

bool CSwfMovie::OpenWaveOutput(platform::PendingFile& file, std::string& path, bool stereo, int bits, uint32_t rate)
{
    if (!CreateOutput(".wav", file, path))
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

bool CSwfMovie::AppendRecord(CSoundElement record)
{
    CSoundFinding& finding = Current();
    finding.record = static_cast<int>(m_sounds.size());
    if (record.cut)
        finding.loss = SoundLoss::Cut;
    m_sounds.push_back(std::move(record));
    return true;
}

bool CSwfMovie::WriteMp3Sound(const SoundHeader& h)
{
    platform::PendingFile file;
    CSoundElement e = RecordOf(h);
    e.isMp3 = 1;
    if (!CreateOutput(".mp3", file, e.path) || !CopyTagRest(file.Out()) || !CommitOutput(file, e.path, ".mp3"))
        return false;
    return AppendRecord(std::move(e));
}

bool CSwfMovie::WritePcmSound(const SoundHeader& h)
{
    platform::PendingFile file;
    CSoundElement e = RecordOf(h);
    if (!OpenWaveOutput(file, e.path, h.stereo, e.bits, e.sampleRate))
        return false;
    uint64_t dataBytes = 0;
    const int blockAlign = e.channels * e.bits / 8;
    Current().decodedSamples = BytesLeftInTag() / static_cast<uint32_t>(blockAlign);
    if (!CopyTagRestToWave(file.Out(), dataBytes, blockAlign, e.cut) || !PatchWaveLengths(file.Out()) ||
        !CommitOutput(file, e.path, ".wav"))
        return false;
    return AppendRecord(std::move(e));
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
    const uint64_t frameBytes = e.channels * e.bits / 8u;
    e.cut = frames * frameBytes > kMaxWaveDataBytes;
    if (e.cut)
        frames = static_cast<uint32_t>(kMaxWaveDataBytes / frameBytes);
    e.sampleCount = frames;
    platform::PendingFile file;
    if (!OpenWaveOutput(file, e.path, h.stereo, e.bits, e.sampleRate))
        return false;
    platform::File& out = file.Out();
    if (!CAdpcmDecoder(m_reader).DecodeInPieces(frames, h.stereo, h.is16Bit,
                                            [&out](const uint8_t* data, size_t size) { return out.Write(data, size); }) ||
        !PatchWaveLengths(out) || !CommitOutput(file, e.path, ".wav"))
        return false;
    return AppendRecord(std::move(e));
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
        if (!file.IsPending() && !OpenWaveOutput(file, e.path, coded.channels == 2, 16, coded.rate))
            failed = true;
        failed = failed || !AppendWaveSamples(file.Out(), dataBytes, samples, count, coded.channels, e.cut);
        return !failed && !e.cut;
    };
    // Damage the decoder skips costs what it held; the rest is written.
    decoder.Decode(m_body.get() + m_reader.Cursor(), BytesLeftInTag(), sink);
    decoder.Flush(sink);
    e.sampleCount = static_cast<uint32_t>(dataBytes / (2u * e.channels));
    Current().decodedSamples = e.sampleCount;
    Current().damagedBytes = decoder.LostBytes();
    if (!failed && !file.IsPending())
        Current().loss = SoundLoss::NothingDecoded;
    if (failed || !file.IsPending() || !PatchWaveLengths(file.Out()) || !CommitOutput(file, e.path, ".wav"))
        return false;
    return AppendRecord(std::move(e));
}

bool CSwfMovie::TryOutputBase(const std::string& base)
{
    // A temporary file tells whether the folder takes new files, and never
    // shows under an output name even if the run is killed right then.
    m_outputBase = base;
    platform::PendingFile probe;
    std::string path;
    return CreateOutput(".mp3", probe, path);
}

void CSwfMovie::PickOutputBase(const std::string& swfPath)
{
    // Cut the extension off the file name only, never inside a folder name.
    const std::string movieName = OutputBaseName(FileNamePart(WithoutExtension(swfPath)));
    if (TryOutputBase(FolderOf(swfPath) + movieName))
        return;
    std::string documents = platform::DocumentsFolder();
    if (!documents.empty()) {
        if (documents.back() != '/')
            documents += '/';
        const std::string folder = documents + kFallbackFolder;
        platform::CreateFolder(folder);
        if (TryOutputBase(folder + movieName))
            return;
    }
    std::string programFolder;
    if (!GetModuleFolder(programFolder)) {
        // Nowhere to write: an empty base makes every output of this movie fail.
        m_outputBase.clear();
        return;
    }
    const std::string folder = programFolder + kFallbackFolder;
    platform::CreateFolder(folder);
    TryOutputBase(folder + movieName);
}
