#include "audio/conversions.h"

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <utility>

#include "audio/flac_encoder.h"
#include "audio/mp3_decoder.h"
#include "audio/mp3_encoder.h"
#include "audio/resampler.h"
#include "audio/wave_reader.h"
#include "audio/wave_writer.h"

namespace {

// Moves a finished conversion's output under the name it was created for.
bool MovedIntoPlace(bool converted, platform::PendingFile& out)
{
    if (converted && out.MoveInto() == platform::MoveOutcome::Moved)
        return true;
    out.Discard();
    return false;
}

}  // namespace

bool ConvertWavToMp3(const std::string& wavPath, const std::string& mp3Path,
                     uint32_t* frames, uint32_t* outRate)
{
    platform::File in;
    platform::PendingFile out;
    return in.Open(wavPath, platform::OpenMode::Read) && out.Create(mp3Path) &&
           MovedIntoPlace(ConvertWavToMp3(std::move(in), out, frames, outRate), out);
}

bool ConvertMp3ToWav(const std::string& mp3Path, const std::string& wavPath)
{
    platform::File in;
    platform::PendingFile out;
    return in.Open(mp3Path, platform::OpenMode::Read) && out.Create(wavPath) &&
           MovedIntoPlace(ConvertMp3ToWav(std::move(in), out, nullptr), out);
}

bool ConvertWavToMp3(platform::File in, platform::PendingFile& out, uint32_t* frames, uint32_t* outRate)
{
    CWaveReader reader;
    if (!reader.Open(std::move(in))) {
        out.Discard();
        return false;
    }
    const WaveFormat format = reader.Format();
    // Other layouts would be read as garbage or leave a plane unfilled.
    const bool stereo = format.channels == 2;
    if ((format.channels != 1 && !stereo) ||
        (format.bitsPerSample != 8 && format.bitsPerSample != 16) || format.samplesPerSec == 0 ||
        format.samplesPerSec > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
        out.Discard();
        return false;
    }
    const int rate = static_cast<int>(format.samplesPerSec);

    CMp3Encoder encoder;
    if (!encoder.Open(std::move(out)))
        return false;
    encoder.SetChannels(format.channels);
    encoder.SetSampleRate(rate);
    encoder.SetWriteVbrTag(false);
    if (!stereo)
        encoder.SetMode(CMp3Encoder::kMono);
    if (!encoder.InitParams()) {
        encoder.Discard();
        return false;
    }

    const bool wide = format.bitsPerSample == 16;
    CResampler widen;
    if (!wide) {
        widen.inRate = widen.outRate = rate;
        widen.inChannels = widen.outChannels = format.channels;
        widen.inBits = 8;
        widen.outBits = 16;
        if (!widen.Prepare()) {
            encoder.Discard();
            return false;
        }
    }

    std::array<int16_t, kWaveBlockFrames> left{};
    std::array<int16_t, kWaveBlockFrames> right{};
    std::array<uint8_t, kWaveBlockFrames> narrowLeft{};
    std::array<uint8_t, kWaveBlockFrames> narrowRight{};
    uint64_t total = 0;
    bool ok = true;
    bool end = false;
    while (ok && !end) {
        size_t count = 0;
        if (!reader.Read(wide ? static_cast<void*>(left.data()) : narrowLeft.data(),
                         wide ? static_cast<void*>(right.data()) : narrowRight.data(), count, end)) {
            ok = false;
            break;
        }
        if (count == 0)
            break;
        total += count;
        if (total > std::numeric_limits<uint32_t>::max()) {
            ok = false;
            break;
        }
        if (!wide) {
            size_t widened = 0;
            ok = widen.Convert(narrowLeft.data(), narrowRight.data(), count, left.data(), right.data(), widened) &&
                 widened == count;
            if (!ok)
                break;
        }
        ok = encoder.Encode(left.data(), right.data(), count);
    }

    const int chosenRate = encoder.OutSampleRate();
    if (!ok) {
        encoder.Discard();
        return false;
    }
    if (!encoder.Close(out))
        return false;
    if (frames)
        *frames = static_cast<uint32_t>(total);
    if (outRate)
        *outRate = static_cast<uint32_t>(chosenRate);
    return true;
}

bool NextMp3Frame(CMp3Decoder& decoder, int16_t* left, int16_t* right, size_t& count, bool& end)
{
    count = 0;
    if (!decoder.Decode(left, right, count, end))
        return false;
    // A mono frame later in a stereo stream fills only the left plane.
    if (decoder.Channels() == 2 && decoder.FrameChannels() == 1)
        std::copy(left, left + count, right);
    return true;
}

bool DecodeMp3Frames(CMp3Decoder& decoder, const Mp3FrameSink& sink)
{
    std::array<int16_t, kMp3MaxFrameSamples> left{};
    std::array<int16_t, kMp3MaxFrameSamples> right{};
    bool end = false;
    while (!end) {
        size_t count = 0;
        if (!NextMp3Frame(decoder, left.data(), right.data(), count, end))
            return false;
        if (count > 0 && !sink(left.data(), right.data(), count))
            return false;
    }
    return true;
}

bool ConvertMp3ToWav(platform::File in, platform::PendingFile& out, uint64_t* frames, uint16_t* channels, uint32_t* rate)
{
    CMp3Decoder decoder;
    if (!decoder.Open(std::move(in))) {
        out.Discard();
        return false;
    }
    const bool stereo = decoder.Channels() == 2;
    CWaveWriter writer;
    if (!writer.Open(std::move(out), stereo, 16, static_cast<uint32_t>(decoder.SampleRate())))
        return false;
    if (!DecodeMp3Frames(decoder, [&](const int16_t* l, const int16_t* r, size_t n) { return writer.Write(l, r, n); })) {
        writer.Discard();
        return false;
    }
    if (frames)
        *frames = writer.Frames();
    if (channels)
        *channels = stereo ? 2 : 1;
    if (rate)
        *rate = static_cast<uint32_t>(decoder.SampleRate());
    decoder.Close();
    return writer.Close(out);
}

bool MeasureMp3(std::vector<Mp3Piece> pieces, Mp3Decoded& decoded)
{
    CMp3Decoder decoder;
    if (!decoder.Open(std::move(pieces)))
        return false;
    decoded = Mp3Decoded{0, static_cast<uint16_t>(decoder.Channels()), static_cast<uint32_t>(decoder.SampleRate())};
    // A WAV file's data hold at most 4 GiB; the writer refuses more.
    const uint64_t most = (uint64_t{1} << 32) / (2u * decoded.channels);
    return DecodeMp3Frames(decoder, [&](const int16_t*, const int16_t*, size_t n) {
        decoded.frames += n;
        return decoded.frames <= most;
    });
}

uint32_t Mp3EncodedRate(uint32_t rate, int channels)
{
    return CMp3Encoder::ChosenRate(rate, channels);
}

bool ConvertWavToFlac(platform::File&& wavInput, platform::PendingFile& flacOutput, uint32_t* frames)
{
    CWaveReader reader;
    if (!reader.Open(std::move(wavInput)))
        return false;
    const WaveFormat format = reader.Format();
    const bool wide = format.bitsPerSample == 16;
    if ((format.channels != 1 && format.channels != 2) || (!wide && format.bitsPerSample != 8))
        return false;
    CFlacEncoder encoder;
    if (!encoder.Open(flacOutput, format.channels, format.bitsPerSample, format.samplesPerSec))
        return false;

    std::array<int16_t, kWaveBlockFrames> left{};
    std::array<int16_t, kWaveBlockFrames> right{};
    std::array<uint8_t, kWaveBlockFrames> narrowLeft{};
    std::array<uint8_t, kWaveBlockFrames> narrowRight{};
    bool end = false;
    while (!end) {
        size_t count = 0;
        const bool read = wide ? reader.Read(left.data(), right.data(), count, end)
                               : reader.Read(narrowLeft.data(), narrowRight.data(), count, end);
        // The count is reported in 32 bits, as for the other conversions.
        if (!read || encoder.Frames() + count > std::numeric_limits<uint32_t>::max())
            return false;
        const bool encoded = wide ? encoder.Encode(left.data(), right.data(), count)
                                  : encoder.EncodeUnsigned8(narrowLeft.data(), narrowRight.data(), count);
        if (!encoded)
            return false;
    }
    const uint64_t total = encoder.Frames();
    if (!encoder.Finish())
        return false;
    if (frames)
        *frames = static_cast<uint32_t>(total);
    return true;
}

bool ConvertWavToFlac(const std::string& wavPath, const std::string& flacPath, uint32_t* frames)
{
    platform::File in;
    platform::PendingFile out;
    if (!in.Open(wavPath, platform::OpenMode::Read) || !out.Create(flacPath))
        return false;
    uint32_t written = 0;
    if (!ConvertWavToFlac(std::move(in), out, &written) || out.MoveInto() != platform::MoveOutcome::Moved) {
        out.Discard();
        return false;
    }
    if (frames)
        *frames = written;
    return true;
}
