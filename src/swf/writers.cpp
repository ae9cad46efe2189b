#include <cstdio>

#include "audio/wave_format.h"
#include "platform/folders.h"
#include "swf/adpcm_decoder.h"
#include "swf/swf_movie.h"
#include "swf/walk_state.h"
#include "util/paths.h"

namespace {

constexpr const char* kFallbackFolder = "Orvellin_Files/";
// Names tried for one output before giving up; only a folder holding this many
// numbered files of the movie, or one that keeps refusing, gets there.
constexpr int kMaxNameTries = 100000;

std::string FormatOutputName(const std::string& base, int number, const char* extension)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "_%03d", number);
    return base + digits + extension;
}

}  // namespace

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
    if (m_outputBase.empty())
        return false;
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

bool CSwfMovie::AppendRecord(int rateIndex, bool is16Bit, bool stereo, uint32_t sampleCount, bool mp3,
                             const std::string& path, bool cut)
{
    CSoundElement e;
    e.channels = stereo ? 2 : 1;
    e.bits = is16Bit ? 16 : 8;
    e.sampleRate = SampleRateOfIndex(rateIndex);
    e.sampleCount = sampleCount;
    e.isMp3 = mp3 ? 1 : 0;
    e.path = path;
    e.cut = cut;
    if (cut)
        ++m_lost;
    m_sounds.push_back(std::move(e));
    return true;
}

bool CSwfMovie::WriteMp3Sound(int rateIndex, bool is16Bit, bool stereo, uint32_t sampleCount)
{
    platform::PendingFile file;
    std::string path;
    if (!CreateOutput(".mp3", file, path) || !CopyTagRest(file.Out()) || !CommitOutput(file, path, ".mp3"))
        return false;
    return AppendRecord(rateIndex, is16Bit, stereo, sampleCount, true, path);
}

bool CSwfMovie::WritePcmSound(int rateIndex, bool is16Bit, bool stereo, uint32_t sampleCount)
{
    platform::PendingFile file;
    std::string path;
    const int bits = is16Bit ? 16 : 8;
    if (!OpenWaveOutput(file, path, stereo, bits, SampleRateOfIndex(rateIndex)))
        return false;
    uint64_t dataBytes = 0;
    bool cut = false;
    if (!CopyTagRestToWave(file.Out(), dataBytes, (stereo ? 2 : 1) * bits / 8, cut) ||
        !PatchWaveLengths(file.Out()) || !CommitOutput(file, path, ".wav"))
        return false;
    return AppendRecord(rateIndex, is16Bit, stereo, sampleCount, false, path, cut);
}

bool CSwfMovie::WriteAdpcmSound(int rateIndex, bool is16Bit, bool stereo, uint32_t sampleCount)
{
    // Only what the sound's data can hold is decoded, so a tiny tag can't
    // declare gigabytes of output; and no more than a WAV file can describe.
    const int codeBits = (m_reader.ByteAt(m_reader.Cursor()) >> 6) + 2;
    uint32_t frames = CAdpcmDecoder::FramesThatFit(sampleCount, BytesLeftInTag() * 8ull, codeBits, stereo, is16Bit);
    const uint64_t frameBytes = (stereo ? 2u : 1u) * (is16Bit ? 2u : 1u);
    const bool cut = frames * frameBytes > kMaxWaveDataBytes;
    if (cut)
        frames = static_cast<uint32_t>(kMaxWaveDataBytes / frameBytes);
    platform::PendingFile file;
    std::string path;
    if (!OpenWaveOutput(file, path, stereo, is16Bit ? 16 : 8, SampleRateOfIndex(rateIndex)))
        return false;
    platform::File& out = file.Out();
    if (!CAdpcmDecoder(m_reader).DecodeInPieces(frames, stereo, is16Bit,
                                            [&out](const uint8_t* data, size_t size) { return out.Write(data, size); }) ||
        !PatchWaveLengths(out) || !CommitOutput(file, path, ".wav"))
        return false;
    return AppendRecord(rateIndex, is16Bit, stereo, frames, false, path, cut);
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
    const std::string stem(WithoutExtension(swfPath));
    if (TryOutputBase(stem))
        return;
    const std::string movieName(FileNamePart(stem));
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
