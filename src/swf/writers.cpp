#include <cstdio>
#include <new>

#include "audio/wave_format.h"
#include "platform/folders.h"
#include "swf/adpcm_decoder.h"
#include "swf/swf_movie.h"
#include "util/paths.h"

namespace {

const uint32_t kRates[4] = {5512, 11025, 22050, 44100};
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

bool CSwfMovie::CreateOutput(const char* extension, platform::File& file, std::string& path)
{
    // Creating exclusively is the test for a free name, so a file that appears
    // between the test and the creation is never replaced.
    if (m_outputBase.empty())
        return false;
    for (int tries = 0; tries < kMaxNameTries; ++tries) {
        path = FormatOutputName(m_outputBase, m_nextNumber++, extension);
        if (file.Open(path, platform::OpenMode::CreateNew))
            return true;
        if (file.LastOpenError() != platform::OpenError::AlreadyExists)
            return false;
    }
    return false;
}

bool CSwfMovie::OpenWaveOutput(platform::File& file, std::string& path, bool stereo, int bits, uint32_t rate)
{
    if (!CreateOutput(".wav", file, path))
        return false;
    const auto header = MakeWaveHeader(stereo ? 2 : 1, static_cast<uint16_t>(bits), rate);
    if (!file.Write(header.data(), header.size())) {
        file.Close();
        platform::DeleteFile(path);
        return false;
    }
    return true;
}

bool CSwfMovie::PatchWaveLengths(platform::File& file)
{
    return ::PatchWaveLengths(file);
}

bool CSwfMovie::AppendRecord(int rateIndex, bool is16Bit, bool stereo, uint32_t sampleCount, bool mp3,
                             const std::string& path)
{
    CSoundElement e;
    e.channels = stereo ? 2 : 1;
    e.bits = is16Bit ? 16 : 8;
    e.sampleRate = kRates[rateIndex & 3];
    e.sampleCount = sampleCount;
    e.isMp3 = mp3 ? 1 : 0;
    e.path = path;
    m_sounds.push_back(std::move(e));
    return true;
}

namespace {

// Ends an output: a write that failed or a close that failed loses the file.
bool Finish(platform::File& file, const std::string& path, bool ok)
{
    ok = file.Close() && ok;
    if (!ok)
        platform::DeleteFile(path);
    return ok;
}

}  // namespace

bool CSwfMovie::WriteMp3Sound(int rateIndex, bool is16Bit, bool stereo, uint32_t sampleCount)
{
    platform::File file;
    std::string path;
    if (!CreateOutput(".mp3", file, path))
        return false;
    if (!Finish(file, path, CopyTagRest(file)))
        return false;
    return AppendRecord(rateIndex, is16Bit, stereo, sampleCount, true, path);
}

bool CSwfMovie::WritePcmSound(int rateIndex, bool is16Bit, bool stereo, uint32_t sampleCount)
{
    platform::File file;
    std::string path;
    if (!OpenWaveOutput(file, path, stereo, is16Bit ? 16 : 8, kRates[rateIndex & 3]))
        return false;
    const bool ok = CopyTagRest(file) && PatchWaveLengths(file);
    if (!Finish(file, path, ok))
        return false;
    return AppendRecord(rateIndex, is16Bit, stereo, sampleCount, false, path);
}

bool CSwfMovie::WriteAdpcmSound(int rateIndex, bool is16Bit, bool stereo, uint32_t sampleCount)
{
    // A count the rest of the movie could not hold even at two bits a sample
    // is a damaged field: refuse it rather than allocate and write gigabytes.
    const uint64_t available = m_bodyLength > m_cursor ? (m_bodyLength - m_cursor) * 8ull : 0;
    if (CAdpcmDecoder::MinimumBits(sampleCount, stereo) > available + 64)
        return false;
    const uint64_t size = static_cast<uint64_t>(sampleCount) * (stereo ? 2 : 1) * (is16Bit ? 2 : 1);
    if (size != static_cast<size_t>(size))
        return false;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size ? static_cast<size_t>(size) : 1]);
    if (!buffer)
        return false;
    platform::File file;
    std::string path;
    if (!OpenWaveOutput(file, path, stereo, is16Bit ? 16 : 8, kRates[rateIndex & 3]))
        return false;
    CAdpcmDecoder(*this).Decode(sampleCount, stereo, is16Bit, buffer.get());
    const bool ok = file.Write(buffer.get(), static_cast<size_t>(size)) && PatchWaveLengths(file);
    if (!Finish(file, path, ok))
        return false;
    return AppendRecord(rateIndex, is16Bit, stereo, sampleCount, false, path);
}

bool CSwfMovie::TryOutputBase(const std::string& base)
{
    m_outputBase = base;
    platform::File probe;
    std::string path;
    if (!CreateOutput(".mp3", probe, path))
        return false;
    probe.Close();
    platform::DeleteFile(path);
    return true;
}

void CSwfMovie::PickOutputBase(const std::string& swfPath)
{
    // Cut the extension off the file name only, never inside a folder name.
    const std::string_view name = FileNamePart(swfPath);
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string_view::npos
                                 ? swfPath
                                 : swfPath.substr(0, swfPath.size() - name.size() + dot);
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
