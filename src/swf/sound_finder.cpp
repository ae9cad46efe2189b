#include "swf/sound_finder.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "audio/mp3_frame.h"
#include "audio/sound_decoder.h"
#include "audio/wave_format.h"
#include "platform/file.h"
#include "platform/pending_file.h"
#include "swf/adpcm_decoder.h"
#include "swf/bit_reader.h"
#include "swf/movie_body.h"
#include "swf/sound_formats.h"
#include "swf/swf_movie.h"

namespace {

// Appends 16-bit samples to a WAV output as little-endian bytes, no more
// than the file can describe: cut tells some were dropped.
bool AppendWaveSamples(platform::File& file, uint64_t& dataBytes, const int16_t* samples, size_t count,
                       int channels, bool& cut)
{
    const uint64_t frameBytes = 2u * static_cast<uint64_t>(channels);
    uint64_t bytes = static_cast<uint64_t>(count) * 2;
    const uint64_t room = kMaxWaveDataBytes - dataBytes;
    if (bytes > room) {
        bytes = room - room % frameBytes;
        cut = true;
    }
    uint8_t buffer[4096];
    for (uint64_t done = 0; done < bytes;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof buffer, bytes - done));
        for (size_t i = 0; i < n; i += 2) {
            const auto v = static_cast<uint16_t>(samples[(done + i) / 2]);
            buffer[i] = static_cast<uint8_t>(v);
            buffer[i + 1] = static_cast<uint8_t>(v >> 8);
        }
        if (!file.Write(buffer, n))
            return false;
        done += n;
    }
    dataBytes += bytes;
    return true;
}

// Appends n bytes of a tag's data to a file. A long run of a mapped movie
// goes file to file in the kernel: its bytes never pass through this
// process. Short runs (stream blocks) are cheaper gathered in the file's
// buffer.
bool WriteBytes(platform::File& file, const CMovieBody& body, const TagBytes& bytes, uint64_t n)
{
    constexpr size_t kKernelCopyFrom = 64 * 1024;
    if (n == 0)
        return true;
    size_t copied = 0;
    if (n >= kKernelCopyFrom && bytes.inFile)
        copied = file.CopyFrom(body.FileFd(), bytes.at, static_cast<size_t>(n));
    return !file.Failed() && (copied == n || file.Write(bytes.Data() + copied, static_cast<size_t>(n) - copied));
}

// Appends n bytes of a tag's data to a WAV file, no more than it may still
// hold (cut tells they were fewer).
bool WriteWaveBytes(platform::File& file, const CMovieBody& body, const TagBytes& bytes, uint64_t n,
                    uint64_t& dataBytes, uint32_t blockAlign, bool& cut)
{
    const uint64_t room = kMaxWaveDataBytes - dataBytes;
    if (n > room) {
        n = room - room % std::max<uint32_t>(blockAlign, 1);
        cut = true;
    }
    dataBytes += n;
    return WriteBytes(file, body, bytes, n);
}

// A reader over the body at the first byte of bytes: decoders may read on
// past the tag, as movies made by Flash need.
CBitReader ReaderAt(const TagBytes& bytes)
{
    CBitReader reader;
    reader.Attach(bytes.body, bytes.bodyLength);
    reader.SetCursor(bytes.at);
    return reader;
}

// An MP3 sound's rate and channels as its first frame says.
void NoteMp3Frames(CSoundFinding& finding, const uint8_t* data, size_t size)
{
    Mp3FrameHeader frame;
    if (finding.framesRate == 0 && FindMp3FrameHeader(data, size, frame)) {
        finding.framesRate = frame.sampleRate;
        finding.framesChannels = static_cast<uint16_t>(frame.channels);
    }
}

// An MP3 file holds what its frames say, whatever the tag declared.
void AsFramesSay(CSoundElement& file, const CSoundFinding& finding)
{
    if (finding.framesRate != 0)
        file.sampleRate = finding.framesRate;
    if (finding.framesChannels != 0)
        file.channels = finding.framesChannels;
}

CSoundElement RecordOf(const DefinedSound& s)
{
    CSoundElement e;
    e.channels = s.stereo ? 2 : 1;
    e.bits = s.is16Bit ? 16 : 8;
    e.sampleRate = SampleRateOfIndex(s.rateIndex);
    e.sampleCount = s.sampleCount;
    e.format = static_cast<uint8_t>(s.format);
    return e;
}

}  // namespace

// The stream of one timeline (the main one or a sprite's).
struct CSoundFinder::Stream {
    int format = 0;
    int rateIndex = 0;
    bool is16Bit = false;
    bool isStereo = false;
    uint16_t samplesPerBlock = 0;
    bool counted = false;  // a stream this program extracts, open or not: FinishStream ends it
    bool open = false;     // exactly when output is pending
    bool failed = false;   // a block could not be written: the file goes at the end
    uint64_t dataBytes = 0;  // sample bytes in a WAV output
    uint64_t blockBytes = 0; // data of its blocks: a stream that decodes to nothing is still found
    uint64_t sampleBytes = 0; // of those, the bytes that could hold samples: none makes it empty
    CMp3FrameCounter mp3Frames;  // MP3: the samples its frames decode to
    std::vector<Mp3Piece> mp3Data;  // MP3, kept for a listing: its blocks' frames
    std::unique_ptr<CSoundDecoder> decoder;  // coded formats: one decoder from head to end
    platform::PendingFile output;
    CSoundElement pending;
    CSoundFinding finding;
};

CSoundFinder::CSoundFinder(CSwfMovie& movie, const CMovieBody& body)
    : m_movie(movie), m_body(body),
      m_keepMp3Data(movie.m_dry && (movie.m_target == OutputType::Wav || movie.m_target == OutputType::Flac))
{
}

CSoundFinder::~CSoundFinder() = default;

void CSoundFinder::OnTimelineBegin(const TagPlace& place, uint16_t)
{
    if (place.sprite == 0)
        m_names.push_back(MovieNames{{}, {}, m_movie.m_findings.size()});
    m_streams.emplace_back();
}

void CSoundFinder::OnTimelineEnd(const TagPlace& place, bool reachedEnd)
{
    if (m_streams.back().counted)
        FinishStream(m_streams.back());
    m_streams.pop_back();
    if (place.sprite == 0 && !m_names.empty()) {
        TakeExportNames(m_names.back(), *place.embedded);
        m_names.pop_back();
    }
    if (place.sprite == 0 && place.embedded->empty())
        m_movie.m_reachedEnd = reachedEnd;
}

void CSoundFinder::OnEmbeddedSkipped(const TagPlace& place, uint16_t id, EmbeddedSkip why)
{
    CLostSource lost;
    lost.id = id;
    lost.embeddedIn = *place.embedded;
    lost.sprite = place.sprite;
    lost.reason = why == EmbeddedSkip::TooLarge
                      ? "the movie embedded in it would inflate past what the whole movie may (40 times its size)"
                      : "no memory for the movie embedded in it";
    m_movie.m_lostSources.push_back(std::move(lost));
}

void CSoundFinder::OnNames(const TagPlace&, NameKind kind, const std::vector<std::pair<uint16_t, std::string>>& names)
{
    if (m_names.empty())
        return;
    auto& to = kind == NameKind::Export ? m_names.back().exported : m_names.back().classes;
    for (const auto& [id, name] : names)
        to.try_emplace(id, name);
}

void CSoundFinder::TakeExportNames(const MovieNames& names, const std::vector<uint16_t>& embedded)
{
    // The names come in tags of their own, usually after the sounds.
    for (size_t i = names.first; i < m_movie.m_findings.size(); ++i) {
        CSoundFinding& f = m_movie.m_findings[i];
        if (f.stream || f.embeddedIn != embedded)
            continue;
        auto it = names.exported.find(f.characterId);
        if (it == names.exported.end() && (it = names.classes.find(f.characterId)) == names.classes.end())
            continue;
        f.exportName = it->second;
    }
}

void CSoundFinder::OnSoundDefined(const TagPlace& place, const DefinedSound& s)
{
    CSoundFinding finding;
    finding.startOrder = m_started++;
    finding.characterId = s.id;
    finding.sprite = place.sprite;
    finding.embeddedIn = *place.embedded;
    finding.format = static_cast<uint8_t>(s.format);
    finding.rate = SampleRateOfIndex(s.rateIndex);
    finding.channels = s.stereo ? 2 : 1;
    finding.bits = s.is16Bit ? 16 : 8;
    finding.declaredSamples = s.sampleCount;
    bool written = false;
    switch (s.format) {
    case 0:
    case 3: written = WritePcmSound(s, finding); break;
    case 1: written = WriteAdpcmSound(s, finding); break;
    case 2:
        finding.seekSamples = s.seekSamples;
        NoteMp3Frames(finding, s.data.Data(), s.data.size);
        written = WriteMp3Sound(s, finding);
        if (written && m_keepMp3Data)
            m_movie.m_listedMp3[finding.startOrder] = {Mp3Piece{s.data.Data(), s.data.size}};
        break;
    default:
        // Coded formats need their decoder; the rest (no tool writes them)
        // are found and not extracted.
        written = WriteCodedSound(s, finding);
        break;
    }
    m_movie.AddFinding(std::move(finding), written);
}

bool CSoundFinder::WriteMp3Sound(const DefinedSound& s, CSoundFinding& finding)
{
    // No data is no sound, and would make an empty file.
    if (s.data.size == 0) {
        finding.empty = true;
        return false;
    }
    platform::PendingFile file;
    if (!m_movie.CreateOutput(".mp3", file, finding))
        return false;
    // A long sound's frames are counted on a thread of their own while the
    // system copies it: both read every page of it, one in the kernel.
    constexpr size_t kCountedAside = 1 << 20;
    CMp3FrameCounter frames;
    const uint8_t* data = s.data.Data();
    const size_t size = s.data.size;
    std::thread counting;
    if (size >= kCountedAside) {
        try {
            // Started with the ending signals held, which it keeps: they go
            // to the thread that tracks the files a signal must remove.
            const platform::EndingSignalsHeld held;
            counting = std::thread([&frames, data, size] { frames.Add(data, size); });
        } catch (const std::system_error&) {
            // No thread to be had: counted here, after the copy.
        }
    }
    const bool copied = WriteBytes(file.Out(), m_body, s.data, size);
    // An MP3 that stays as it is goes to the disk while its count goes on,
    // so that the sync before it takes its name waits for less. One that is
    // to be converted is only read again, and may never need the disk.
    if (copied && counting.joinable() && (m_movie.m_target == OutputType::Keep || m_movie.m_target == OutputType::Mp3))
        file.Out().StartWriteBack();
    if (counting.joinable())
        counting.join();
    else
        frames.Add(data, size);
    if (!copied)
        return false;
    CSoundElement e = RecordOf(s);
    e.isMp3 = 1;
    e.sampleCount = static_cast<uint32_t>(std::min<uint64_t>(frames.Samples(), UINT32_MAX));
    AsFramesSay(e, finding);
    return m_movie.KeepOutput(file, std::move(e), finding);
}

bool CSoundFinder::WritePcmSound(const DefinedSound& s, CSoundFinding& finding)
{
    CSoundElement e = RecordOf(s);
    const uint32_t blockAlign = e.channels * e.bits / 8u;
    const uint64_t frames = s.data.size / blockAlign;
    finding.decodedSamples = frames;
    if (frames == 0) {
        finding.empty = true;
        return false;
    }
    platform::PendingFile file;
    if (!m_movie.OpenWaveOutput(file, s.stereo, e.bits, e.sampleRate, finding))
        return false;
    uint64_t dataBytes = 0;
    // Whole sample frames only: an odd byte at the end would be no sample.
    const bool copied = WriteWaveBytes(file.Out(), m_body, s.data, frames * blockAlign, dataBytes, blockAlign, e.cut);
    e.sampleCount = static_cast<uint32_t>(dataBytes / blockAlign);
    if (!copied || !PatchWaveLengths(file.Out()))
        return false;
    return m_movie.KeepOutput(file, std::move(e), finding);
}

bool CSoundFinder::WriteAdpcmSound(const DefinedSound& s, CSoundFinding& finding)
{
    // Only what the sound's data can hold is decoded, so a tiny tag can't
    // declare gigabytes of output; and no more than a WAV file can describe.
    CSoundElement e = RecordOf(s);
    CBitReader reader = ReaderAt(s.data);
    const int codeBits = (reader.ByteAt(reader.Cursor()) >> 6) + 2;
    const uint64_t bits = s.data.size * 8ull;
    uint32_t frames = CAdpcmDecoder::FramesThatFit(s.sampleCount, bits, codeBits, s.stereo, s.is16Bit, &finding.overran);
    finding.decodedSamples = frames;
    if (frames == 0) {
        finding.empty = true;
        return false;
    }
    const uint64_t frameBytes = e.channels * e.bits / 8u;
    e.cut = frames * frameBytes > kMaxWaveDataBytes;
    if (e.cut)
        frames = static_cast<uint32_t>(kMaxWaveDataBytes / frameBytes);
    e.sampleCount = frames;
    platform::PendingFile file;
    if (!m_movie.OpenWaveOutput(file, s.stereo, e.bits, e.sampleRate, finding))
        return false;
    platform::File& out = file.Out();
    if (!CAdpcmDecoder(reader).DecodeInPieces(frames, s.stereo, s.is16Bit,
                                              [&out](const uint8_t* data, size_t size) { return out.Write(data, size); }) ||
        !PatchWaveLengths(out))
        return false;
    return m_movie.KeepOutput(file, std::move(e), finding);
}

bool CSoundFinder::WriteCodedSound(const DefinedSound& s, CSoundFinding& finding)
{
    if (s.data.size == 0) {
        finding.empty = true;
        return false;
    }
    CodedLayout coded{};
    if (!CodedLayoutOf(s.format, s.rateIndex, s.stereo, coded)) {
        finding.loss = SoundLoss::UnknownFormat;
        return false;
    }
    CSoundDecoder decoder;
    if (!decoder.Open(coded.codec, coded.rate, coded.channels)) {
        finding.loss = SoundLoss::NoDecoder;
        return false;
    }
    CSoundElement e = RecordOf(s);
    e.bits = 16;
    e.sampleRate = coded.rate;
    e.channels = static_cast<uint16_t>(coded.channels);
    // The file is made with the first samples: data that decodes to nothing
    // takes no number.
    platform::PendingFile file;
    uint64_t dataBytes = 0;
    bool failed = false;
    const auto sink = [&](const int16_t* samples, size_t count) {
        const size_t allowed = WithinDecodeBound(count, finding);
        if (!file.IsPending() && !m_movie.OpenWaveOutput(file, coded.channels == 2, 16, coded.rate, finding))
            failed = true;
        failed = failed || !AppendWaveSamples(file.Out(), dataBytes, samples, allowed, coded.channels, e.cut);
        return !failed && !e.cut && allowed == count;
    };
    m_codedIn += s.data.size;
    // Damage the decoder skips costs what it held; the rest is written.
    decoder.Decode(s.data.Data(), s.data.size, sink);
    decoder.Flush(sink);
    e.sampleCount = static_cast<uint32_t>(dataBytes / (2u * e.channels));
    finding.decodedSamples = e.sampleCount;
    finding.damagedBytes = decoder.LostBytes();
    if (!failed && !file.IsPending() && finding.loss == SoundLoss::None)
        finding.loss = SoundLoss::NothingDecoded;
    if (failed || !file.IsPending() || !PatchWaveLengths(file.Out()))
        return false;
    return m_movie.KeepOutput(file, std::move(e), finding);
}

void CSoundFinder::OnStreamHead(const TagPlace& place, const StreamHeadInfo& h)
{
    if (m_streams.back().counted)
        FinishStream(m_streams.back());
    Stream& s = m_streams.back();
    s.format = h.format;
    s.rateIndex = h.rateIndex;
    s.is16Bit = h.is16Bit;
    s.isStereo = h.stereo;
    s.samplesPerBlock = h.samplesPerBlock;
    s.finding = CSoundFinding{};
    s.finding.startOrder = m_started++;
    s.finding.stream = true;
    s.finding.sprite = place.sprite;
    s.finding.embeddedIn = *place.embedded;
    s.finding.format = static_cast<uint8_t>(s.format);
    s.finding.rate = SampleRateOfIndex(s.rateIndex);
    s.finding.channels = s.isStereo ? 2 : 1;
    s.finding.bits = s.is16Bit ? 16 : 8;
    s.finding.seekSamples = h.latencySeek;
    s.failed = false;
    s.dataBytes = 0;
    s.blockBytes = 0;
    s.sampleBytes = 0;
    s.decoder.reset();
    s.mp3Frames = CMp3FrameCounter{};
    // A head that declares no samples per block is still a stream: its
    // blocks' data tell what it holds.
    CSoundElement& rec = s.pending;
    rec.sampleCount = 0;
    rec.sampleRate = SampleRateOfIndex(s.rateIndex);
    rec.bits = s.is16Bit ? 16 : 8;
    rec.channels = s.isStereo ? 2 : 1;
    rec.cut = false;
    rec.format = static_cast<uint8_t>(s.format);
    // A stream whose file can't be made, or whose format can't be decoded,
    // still counts its blocks, and is lost when it ends with data.
    s.counted = true;
    CodedLayout coded{};
    if (s.format == 2) {
        rec.isMp3 = 1;
        s.open = m_movie.CreateOutput(".mp3", s.output, s.finding);
    } else if (s.format < 4) {
        rec.isMp3 = 0;
        s.open = m_movie.OpenWaveOutput(s.output, s.isStereo, rec.bits, rec.sampleRate, s.finding);
    } else if (CodedLayoutOf(s.format, s.rateIndex, s.isStereo, coded)) {
        rec.isMp3 = 0;
        rec.bits = 16;
        rec.sampleRate = coded.rate;
        rec.channels = static_cast<uint16_t>(coded.channels);
        s.decoder = std::make_unique<CSoundDecoder>();
        if (!s.decoder->Open(coded.codec, coded.rate, coded.channels))
            s.finding.loss = SoundLoss::NoDecoder;
        else
            s.open = m_movie.OpenWaveOutput(s.output, coded.channels == 2, 16, coded.rate, s.finding);
    } else {
        s.finding.loss = SoundLoss::UnknownFormat;
    }
}

void CSoundFinder::OnStreamBlock(const TagPlace&, const TagBytes& block)
{
    Stream& s = m_streams.back();
    // A block with no head before it is no stream's; a cut stream's file is
    // full: it takes no more samples.
    if (!s.counted || s.pending.cut)
        return;
    const bool writing = s.open && !s.failed;
    s.blockBytes += block.size;
    switch (s.format) {
    case 0:
    case 3: {
        s.finding.declaredSamples += s.samplesPerBlock;
        // Whole sample frames only: a stray byte would shift every later sample.
        const uint32_t blockAlign = s.pending.channels * s.pending.bits / 8u;
        const uint64_t whole = block.size / blockAlign * blockAlign;
        s.sampleBytes += whole;
        if (writing && !WriteWaveBytes(s.output.Out(), m_body, block, whole, s.dataBytes, blockAlign, s.pending.cut))
            s.failed = true;
        s.pending.sampleCount = static_cast<uint32_t>(s.dataBytes / blockAlign);
        s.finding.decodedSamples = s.pending.sampleCount;
        break;
    }
    case 1: {
        const bool stereo = s.pending.channels == 2;
        const bool is16 = s.pending.bits == 16;
        // Only what the block's data can hold; no more than the file can take.
        const uint32_t declared = s.samplesPerBlock;
        CBitReader reader = ReaderAt(block);
        const int codeBits = (reader.ByteAt(reader.Cursor()) >> 6) + 2;
        const uint64_t bits = block.size * 8ull;
        bool overran = false;
        uint32_t frames = CAdpcmDecoder::FramesThatFit(declared, bits, codeBits, stereo, is16, &overran);
        s.finding.overran = s.finding.overran || overran;
        const uint64_t frameBytes = (stereo ? 2u : 1u) * (is16 ? 2u : 1u);
        if (writing && s.dataBytes + frames * frameBytes > kMaxWaveDataBytes) {
            frames = static_cast<uint32_t>((kMaxWaveDataBytes - s.dataBytes) / frameBytes);
            s.pending.cut = true;
        }
        s.sampleBytes += frames;
        s.pending.sampleCount += frames;
        s.finding.declaredSamples += declared;
        s.finding.decodedSamples += frames;
        if (!writing)
            break;
        const size_t size = static_cast<size_t>(frames * frameBytes);
        m_blockBuffer.resize(size);
        CAdpcmDecoder(reader).Decode(frames, stereo, is16, m_blockBuffer.data());
        s.dataBytes += size;
        if (!s.output.Out().Write(m_blockBuffer.data(), size))
            s.failed = true;
        break;
    }
    case 2: {
        // Sample count and seek samples come before the frames.
        if (block.size < 4)
            break;
        s.finding.declaredSamples += static_cast<uint32_t>(block.Data()[0] | block.Data()[1] << 8);
        TagBytes frames = block;
        frames.at += 4;
        frames.size -= 4;
        s.sampleBytes += frames.size;
        NoteMp3Frames(s.finding, frames.Data(), frames.size);
        s.mp3Frames.Add(frames.Data(), frames.size);
        if (m_keepMp3Data)
            s.mp3Data.push_back(Mp3Piece{frames.Data(), frames.size});
        s.pending.sampleCount = static_cast<uint32_t>(std::min<uint64_t>(s.mp3Frames.Samples(), UINT32_MAX));
        if (writing && !WriteBytes(s.output.Out(), m_body, frames, frames.size))
            s.failed = true;
        break;
    }
    default: {
        s.finding.declaredSamples += s.samplesPerBlock;
        s.sampleBytes += block.size;
        m_codedIn += block.size;
        if (!writing || !s.decoder)
            break;
        // Damaged data the decoder skips costs what it held, not the stream.
        s.decoder->Decode(block.Data(), block.size,
                          [&](const int16_t* samples, size_t count) { return AppendStreamSamples(s, samples, count); });
        break;
    }
    }
}

bool CSoundFinder::AppendStreamSamples(Stream& s, const int16_t* samples, size_t count)
{
    if (s.failed || s.pending.cut)
        return false;
    const size_t allowed = WithinDecodeBound(count, s.finding);
    if (!AppendWaveSamples(s.output.Out(), s.dataBytes, samples, allowed, s.pending.channels, s.pending.cut))
        s.failed = true;
    s.pending.cut = s.pending.cut || allowed < count;
    s.pending.sampleCount = static_cast<uint32_t>(s.dataBytes / (2u * s.pending.channels));
    s.finding.decodedSamples = s.pending.sampleCount;
    return !s.failed && !s.pending.cut;
}

size_t CSoundFinder::WithinDecodeBound(size_t count, CSoundFinding& finding)
{
    const uint64_t bound = kDecodedAllowance + kMaxDecodedPerCodedByte * m_codedIn;
    const uint64_t room = bound > m_codedOut ? (bound - m_codedOut) / 2 : 0;
    // Whole sample frames of a stereo sound: an even count.
    const size_t allowed = count <= room ? count : static_cast<size_t>(room & ~uint64_t{1});
    m_codedOut += uint64_t{allowed} * 2;
    if (allowed < count)
        finding.loss = SoundLoss::Runaway;
    return allowed;
}

void CSoundFinder::FinishStream(Stream& s)
{
    if (s.open && s.decoder) {
        s.decoder->Flush([&](const int16_t* samples, size_t count) { return AppendStreamSamples(s, samples, count); });
        s.finding.damagedBytes = s.decoder->LostBytes();
    }
    // A stream with blocks is listed; one whose blocks hold no byte of
    // sample data (an MP3 block of its header alone) is empty, and one whose
    // data decode to nothing is lost.
    const bool hasBlocks = s.blockBytes > 0;
    s.finding.empty = s.sampleBytes == 0;
    bool ok = s.open && !s.failed && s.pending.sampleCount > 0;
    if (!s.finding.empty && s.pending.sampleCount == 0 && s.finding.loss == SoundLoss::None)
        s.finding.loss = SoundLoss::NothingDecoded;
    if (ok && s.pending.isMp3 == 0)
        ok = PatchWaveLengths(s.output.Out());
    if (ok && s.pending.isMp3)
        AsFramesSay(s.pending, s.finding);
    if (ok)
        ok = m_movie.KeepOutput(s.output, s.pending, s.finding);
    if (ok && m_keepMp3Data && s.pending.isMp3)
        m_movie.m_listedMp3[s.finding.startOrder] = std::move(s.mp3Data);
    s.output.Discard();
    if (s.counted && hasBlocks)
        m_movie.AddFinding(std::move(s.finding), ok);
    s = Stream{};
}
