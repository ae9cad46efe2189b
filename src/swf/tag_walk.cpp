#include "swf/swf_movie.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/mp3_frame.h"
#include "audio/wave_format.h"
#include "platform/file.h"
#include "platform/mapped_file.h"
#include "swf/adpcm_decoder.h"
#include "swf/lzma_body.h"
#include "swf/walk_state.h"
#include "util/paths.h"

namespace {

enum : uint32_t {
    kEnd = 0,
    kDefineSound = 14,
    kSoundStreamHead = 18,
    kSoundStreamBlock = 19,
    kDefineSprite = 39,
    kSoundStreamHead2 = 45,
    kExportAssets = 56,
    kSymbolClass = 76,
    kDefineBinaryData = 87,
};

// Sprites inside sprites are not made by any authoring tool; a few levels are
// allowed, a deep chain of them would only exhaust the stack.
constexpr int kMaxSpriteDepth = 32;
// Flex and AS3 games embed movies of assets; a movie in a movie in a movie is
// rare, and each level costs a body in memory.
constexpr size_t kMaxEmbedDepth = 4;
// A movie's header: signature, version, length, and at least the smallest
// frame rectangle, rate and count.
constexpr uint32_t kMinMovieBytes = 8 + 1 + 4;

}  // namespace

const char* SoundFormatName(int format)
{
    switch (format) {
    case 0:
    case 3: return "PCM";
    case 1: return "ADPCM";
    case 2: return "MP3";
    case 4:
    case 5:
    case 6: return "Nellymoser";
    case 7: return "A-law";
    case 8: return "\xC2\xB5-law";
    case 11: return "Speex";
    default: return "";
    }
}

bool CodedLayoutOf(int format, int rateIndex, bool stereo, CodedLayout& layout)
{
    switch (format) {
    case 4: layout = {CodedFormat::Nellymoser, 16000, 1}; return true;
    case 5: layout = {CodedFormat::Nellymoser, 8000, 1}; return true;
    case 6: layout = {CodedFormat::Nellymoser, SampleRateOfIndex(rateIndex), 1}; return true;
    case 7: layout = {CodedFormat::ALaw, SampleRateOfIndex(rateIndex), stereo ? 2 : 1}; return true;
    case 8: layout = {CodedFormat::MuLaw, SampleRateOfIndex(rateIndex), stereo ? 2 : 1}; return true;
    // Speex is wideband: the rate bits are ignored.
    case 11: layout = {CodedFormat::Speex, 16000, 1}; return true;
    default: return false;
    }
}

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

uint32_t CSwfMovie::BytesLeftInTag() const
{
    return m_reader.Cursor() < m_tagEnd ? static_cast<uint32_t>(m_tagEnd - m_reader.Cursor()) : 0;
}

bool CSwfMovie::CopyTagRest(platform::File& file)
{
    m_reader.DiscardBits();
    const uint32_t n = BytesLeftInTag();
    return n == 0 || WriteBodyBytes(file, m_reader.Cursor(), n);
}

bool CSwfMovie::CopyTagRestToWave(platform::File& file, uint64_t& dataBytes, int blockAlign, bool& cut)
{
    m_reader.DiscardBits();
    uint64_t n = BytesLeftInTag();
    const uint64_t room = kMaxWaveDataBytes - dataBytes;
    if (n > room) {
        n = room - room % static_cast<uint64_t>(blockAlign > 0 ? blockAlign : 1);
        cut = true;
    }
    dataBytes += n;
    return n == 0 || WriteBodyBytes(file, m_reader.Cursor(), static_cast<size_t>(n));
}

bool CSwfMovie::WriteBodyBytes(platform::File& file, uint64_t at, size_t n)
{
    // A long run of a mapped movie goes file to file in the kernel: its bytes
    // never pass through this process. Short runs (stream blocks) are cheaper
    // gathered in the file's buffer.
    constexpr size_t kKernelCopyFrom = 64 * 1024;
    size_t copied = 0;
    if (n >= kKernelCopyFrom && m_body == m_mapping->Data())
        copied = file.CopyFrom(m_mapping->Fd(), at, n);
    return !file.Failed() && (copied == n || file.Write(m_body + at + copied, n - copied));
}

bool CSwfMovie::WalkTags(bool inSprite)
{
    if (inSprite) {
        m_walk->sprite = m_reader.ReadUI16();
        m_reader.SkipBytes(2);  // frame count
        WalkTimeline(m_tagEnd);  // the sprite's own tag bounds its timeline
    } else {
        m_reader.DiscardBits();
        m_reader.SetCursor(m_firstTag);
        WalkTimeline(m_bodyLength);
    }
    return true;
}

void CSwfMovie::WalkTimeline(uint64_t limit)
{
    const uint64_t outerLimit = m_walk->limit;
    m_walk->limit = limit;
    bool ended = false;
    while (!ended && m_reader.Cursor() < limit) {
        const uint16_t header = m_reader.ReadUI16();
        const uint32_t code = header >> 6;
        uint32_t length = header & 0x3F;
        if (length == 0x3F)
            length = m_reader.ReadUI32();
        const uint64_t tagEnd = m_reader.Cursor() + length;
        if (tagEnd > limit)
            break;
        m_tagEnd = tagEnd;
        m_tagLength = length;
        switch (code) {
        case kEnd:
            ended = true;
            break;
        case kDefineSound:
            OnDefineSound();
            break;
        case kSoundStreamHead:
        case kSoundStreamHead2:
            OnSoundStreamHead();
            break;
        case kSoundStreamBlock:
            OnSoundStreamBlock();
            break;
        case kDefineSprite:
            if (m_walk->spriteDepth < kMaxSpriteDepth) {
                ++m_walk->spriteDepth;
                const uint16_t outerSprite = m_walk->sprite;
                m_walk->outer.push_front(std::move(m_walk->stream));
                m_walk->stream = StreamState{};
                WalkTags(true);
                if (m_walk->stream.counted)
                    FinishStream();
                m_walk->stream = std::move(m_walk->outer.front());
                m_walk->outer.pop_front();
                m_walk->sprite = outerSprite;
                --m_walk->spriteDepth;
            }
            break;
        case kExportAssets:
        case kSymbolClass:
            OnExportNames(code == kExportAssets ? m_walk->exported : m_walk->classes);
            break;
        case kDefineBinaryData:
            OnDefineBinaryData();
            break;
        default:
            break;
        }
        m_reader.SetCursor(tagEnd);
        m_tagEnd = tagEnd;
        m_reader.DiscardBits();
    }
    m_walk->limit = outerLimit;
}

bool CSwfMovie::TagsChain(uint64_t at, uint64_t limit) const
{
    while (at < limit) {
        if (limit - at < 2)
            return false;
        const uint32_t header = m_reader.ByteAt(at) | static_cast<uint32_t>(m_reader.ByteAt(at + 1)) << 8;
        at += 2;
        uint64_t length = header & 0x3F;
        if (length == 0x3F) {
            if (limit - at < 4)
                return false;
            length = 0;
            for (int i = 3; i >= 0; --i)
                length = length << 8 | m_reader.ByteAt(at + static_cast<uint64_t>(i));
            at += 4;
        }
        if (length > limit - at)
            return false;
        if (header >> 6 == kEnd)
            return true;
        at += length;
    }
    return true;
}

void CSwfMovie::OnDefineBinaryData()
{
    // Id and four reserved bytes before the data.
    if (m_walk->embedded.size() >= kMaxEmbedDepth || m_tagLength < 6 + kMinMovieBytes)
        return;
    const uint16_t id = m_reader.ReadUI16();
    m_reader.SkipBytes(4);
    const uint64_t at = m_reader.Cursor();
    const uint32_t size = BytesLeftInTag();
    const uint8_t* data = m_body + at;
    if ((data[0] != 'F' && data[0] != 'C' && data[0] != 'Z') || data[1] != 'W' || data[2] != 'S')
        return;
    const uint32_t declared = static_cast<uint32_t>(data[4]) | static_cast<uint32_t>(data[5]) << 8 |
                              static_cast<uint32_t>(data[6]) << 16 | static_cast<uint32_t>(data[7]) << 24;
    if (declared < kMinMovieBytes)
        return;
    if (data[0] == 'F') {
        // An embedded movie is whole: one that declares more than the data
        // hold is no movie.
        if (declared <= size)
            WalkEmbedded(id, at, at + declared);
        return;
    }
    // Inflated into a body of its own, counted against the bound of the
    // whole movie before anything is allocated for it.
    const uint64_t room = declared - 8ull;
    if (room > m_inflateBound - std::min(m_inflated, m_inflateBound))
        return;
    const size_t bufferSize = static_cast<size_t>(room) + 10;
    std::unique_ptr<uint8_t[]> body(new (std::nothrow) uint8_t[bufferSize]);
    if (!body)
        return;
    m_inflated += room;
    std::memset(body.get(), 0, 8);
    body[room + 8] = 0;
    body[room + 9] = 0;
    const bool inflated = data[0] == 'C'
                              ? InflateBody(data + 8, size - 8, body.get() + 8, static_cast<size_t>(room))
                              : DecodeLzmaBody(data + 8, size - 8, body.get() + 8, static_cast<size_t>(room));
    if (!inflated)
        return;
    // The walk reads the inner body as it reads the outer one; the outer
    // comes back whole after it.
    const uint8_t* outerBody = m_body;
    const size_t outerBufferSize = m_bufferSize;
    const uint32_t outerLength = m_bodyLength;
    const CBitReader outerReader = m_reader;
    std::swap(m_buffer, body);
    m_body = m_buffer.get();
    m_bufferSize = bufferSize;
    m_bodyLength = static_cast<uint32_t>(room + 8);
    m_reader.Attach(m_body, m_bodyLength);
    WalkEmbedded(id, 0, m_bodyLength);
    std::swap(m_buffer, body);
    m_body = outerBody;
    m_bufferSize = outerBufferSize;
    m_bodyLength = outerLength;
    m_reader = outerReader;
}

void CSwfMovie::WalkEmbedded(uint16_t id, uint64_t headerAt, uint64_t limit)
{
    // The frame rectangle, then rate and count: the first tag follows.
    m_reader.SetCursor(headerAt + 8);
    const int nbits = static_cast<int>(m_reader.ReadBits(5));
    m_reader.ReadBits(nbits);
    m_reader.ReadBits(nbits);
    m_reader.ReadBits(nbits);
    m_reader.ReadBits(nbits);
    m_reader.DiscardBits();
    m_reader.SkipBytes(4);
    const uint64_t firstTag = m_reader.Cursor();
    if (firstTag > limit || !TagsChain(firstTag, limit))
        return;
    // Its main timeline is a timeline of its own, and its names are its own.
    m_walk->outer.push_front(std::move(m_walk->stream));
    m_walk->stream = StreamState{};
    const uint16_t outerSprite = m_walk->sprite;
    m_walk->sprite = 0;
    std::map<uint16_t, std::string> exported;
    std::map<uint16_t, std::string> classes;
    std::swap(exported, m_walk->exported);
    std::swap(classes, m_walk->classes);
    m_walk->embedded.push_back(id);
    const size_t first = m_findings.size();

    m_reader.SetCursor(firstTag);
    WalkTimeline(limit);
    if (m_walk->stream.counted)
        FinishStream();
    TakeExportNames(first);

    m_walk->embedded.pop_back();
    std::swap(exported, m_walk->exported);
    std::swap(classes, m_walk->classes);
    m_walk->sprite = outerSprite;
    m_walk->stream = std::move(m_walk->outer.front());
    m_walk->outer.pop_front();
}

void CSwfMovie::OnExportNames(std::map<uint16_t, std::string>& names)
{
    // A count, then character ids with NUL-ended names, bounded by the tag.
    const uint16_t count = m_reader.ReadUI16();
    for (uint16_t i = 0; i < count && BytesLeftInTag() >= 3; ++i) {
        const uint16_t id = m_reader.ReadUI16();
        const auto* start = m_body + m_reader.Cursor();
        const auto* end = start + BytesLeftInTag();
        const auto* nul = std::find(start, end, uint8_t{0});
        if (nul == end)
            break;
        // Cut where a file name would be, and never inside a UTF-8 sequence, so
        // that a long name costs no more than a short one wherever it goes.
        const std::string_view name(reinterpret_cast<const char*>(start), static_cast<size_t>(nul - start));
        names.try_emplace(id, name.substr(0, Utf8PrefixLength(name, kMaxExportNameBytes)));
        m_reader.SkipBytes(static_cast<uint64_t>(nul - start) + 1);
    }
}

CSoundFinding& CSwfMovie::Current()
{
    return m_walk->current ? *m_walk->current : m_walk->scratch;
}

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

void CSwfMovie::OnDefineSound()
{
    // Id, format byte and sample count; MP3 adds the seek field.
    if (m_tagLength < 7)
        return;
    CSoundFinding finding;
    finding.characterId = m_reader.ReadUI16();
    finding.sprite = m_walk->sprite;
    finding.embeddedIn = m_walk->embedded;
    SoundHeader h;
    h.format = static_cast<int>(m_reader.ReadBits(4));
    h.rateIndex = static_cast<int>(m_reader.ReadBits(2));
    h.is16Bit = m_reader.ReadBits(1) != 0;
    h.stereo = m_reader.ReadBits(1) != 0;
    h.sampleCount = m_reader.ReadUI32();
    if (h.format == 2 && m_tagLength < 9)
        return;
    finding.format = static_cast<uint8_t>(h.format);
    finding.rate = SampleRateOfIndex(h.rateIndex);
    finding.channels = h.stereo ? 2 : 1;
    finding.bits = h.is16Bit ? 16 : 8;
    finding.declaredSamples = h.sampleCount;
    m_walk->current = &finding;
    bool written = false;
    switch (h.format) {
    case 0:
    case 3:
        written = WritePcmSound(h);
        break;
    case 1:
        written = WriteAdpcmSound(h);
        break;
    case 2:
        finding.seekSamples = static_cast<int16_t>(m_reader.ReadUI16());
        NoteMp3Frames(finding);
        written = WriteMp3Sound(h);
        break;
    default:
        // Coded formats need their decoder; the rest (no tool writes them)
        // are found and not extracted.
        written = WriteCodedSound(h);
        break;
    }
    m_walk->current = nullptr;
    AddFinding(std::move(finding), written);
}

void CSwfMovie::NoteMp3Frames(CSoundFinding& finding)
{
    Mp3FrameHeader frame;
    if (finding.framesRate == 0 && FindMp3FrameHeader(m_body + m_reader.Cursor(), BytesLeftInTag(), frame)) {
        finding.framesRate = frame.sampleRate;
        finding.framesChannels = static_cast<uint16_t>(frame.channels);
    }
}

void CSwfMovie::OnSoundStreamHead()
{
    // Playback byte, stream byte and samples per block.
    if (m_tagLength < 4)
        return;
    m_reader.SkipBytes(1);
    if (m_walk->stream.counted)
        FinishStream();
    StreamState& s = m_walk->stream;
    s.format = static_cast<int32_t>(m_reader.ReadBits(4));
    s.rateIndex = static_cast<int32_t>(m_reader.ReadBits(2));
    s.is16Bit = static_cast<int32_t>(m_reader.ReadBits(1));
    s.isStereo = static_cast<int32_t>(m_reader.ReadBits(1));
    s.samplesPerBlock = m_reader.ReadUI16();
    s.finding = CSoundFinding{};
    s.finding.stream = true;
    s.finding.sprite = m_walk->sprite;
    s.finding.embeddedIn = m_walk->embedded;
    s.finding.format = static_cast<uint8_t>(s.format);
    s.finding.rate = SampleRateOfIndex(s.rateIndex);
    s.finding.channels = s.isStereo ? 2 : 1;
    s.finding.bits = s.is16Bit ? 16 : 8;
    if (s.format == 2 && m_tagLength >= 6)
        s.finding.seekSamples = static_cast<int16_t>(m_reader.ReadUI16());
    m_walk->current = &s.finding;
    s.failed = false;
    s.dataBytes = 0;
    s.blockBytes = 0;
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
        s.open = CreateOutput(".mp3", s.output);
    } else if (s.format < 4) {
        rec.isMp3 = 0;
        s.open = OpenWaveOutput(s.output, s.isStereo != 0, rec.bits, rec.sampleRate);
    } else if (CodedLayoutOf(s.format, s.rateIndex, s.isStereo != 0, coded)) {
        rec.isMp3 = 0;
        rec.bits = 16;
        rec.sampleRate = coded.rate;
        rec.channels = static_cast<uint16_t>(coded.channels);
        s.decoder = std::make_unique<CSoundDecoder>();
        if (!s.decoder->Open(coded.codec, coded.rate, coded.channels))
            s.finding.loss = SoundLoss::NoDecoder;
        else
            s.open = OpenWaveOutput(s.output, coded.channels == 2, 16, coded.rate);
    } else {
        s.finding.loss = SoundLoss::UnknownFormat;
    }
    m_walk->current = nullptr;
}

void CSwfMovie::OnSoundStreamBlock()
{
    StreamState& s = m_walk->stream;
    // A block with no head before it is no stream's; a cut stream's file is
    // full: it takes no more samples.
    if (!s.counted || s.pending.cut)
        return;
    const bool writing = s.open && !s.failed;
    s.blockBytes += BytesLeftInTag();
    switch (s.format) {
    case 0:
    case 3: {
        s.finding.declaredSamples += static_cast<uint32_t>(s.samplesPerBlock);
        // Whole sample frames only: a stray byte would shift every later sample.
        const uint32_t blockAlign = s.pending.channels * s.pending.bits / 8u;
        const uint64_t tagEnd = m_tagEnd;
        m_tagEnd = m_reader.Cursor() + BytesLeftInTag() / blockAlign * blockAlign;
        if (writing && !CopyTagRestToWave(s.output.Out(), s.dataBytes, static_cast<int>(blockAlign), s.pending.cut))
            s.failed = true;
        m_tagEnd = tagEnd;
        s.pending.sampleCount = static_cast<uint32_t>(s.dataBytes / blockAlign);
        s.finding.decodedSamples = s.pending.sampleCount;
        break;
    }
    case 1: {
        const bool stereo = s.pending.channels == 2;
        const bool is16 = s.pending.bits == 16;
        // Only what the block's data can hold; no more than the file can take.
        const auto declared = static_cast<uint32_t>(s.samplesPerBlock);
        const int codeBits = (m_reader.ByteAt(m_reader.Cursor()) >> 6) + 2;
        const uint64_t bits = BytesLeftInTag() * 8ull;
        bool overran = false;
        uint32_t frames = CAdpcmDecoder::FramesThatFit(declared, bits, codeBits, stereo, is16, &overran);
        s.finding.overran = s.finding.overran || overran;
        const uint64_t frameBytes = (stereo ? 2u : 1u) * (is16 ? 2u : 1u);
        if (writing && s.dataBytes + frames * frameBytes > kMaxWaveDataBytes) {
            frames = static_cast<uint32_t>((kMaxWaveDataBytes - s.dataBytes) / frameBytes);
            s.pending.cut = true;
        }
        s.pending.sampleCount += frames;
        s.finding.declaredSamples += declared;
        s.finding.decodedSamples += frames;
        if (!writing)
            break;
        const size_t size = static_cast<size_t>(frames * frameBytes);
        m_walk->blockBuffer.resize(size);
        CAdpcmDecoder(m_reader).Decode(frames, stereo, is16, m_walk->blockBuffer.data());
        s.dataBytes += size;
        if (!s.output.Out().Write(m_walk->blockBuffer.data(), size))
            s.failed = true;
        break;
    }
    case 2: {
        // Sample count and seek samples come before the frames.
        if (m_tagLength < 4)
            break;
        const uint16_t count = m_reader.ReadUI16();
        s.finding.declaredSamples += count;
        m_reader.SkipBytes(2);
        NoteMp3Frames(s.finding);
        s.mp3Frames.Add(m_body + m_reader.Cursor(), BytesLeftInTag());
        s.pending.sampleCount = static_cast<uint32_t>(std::min<uint64_t>(s.mp3Frames.Samples(), UINT32_MAX));
        if (writing && !CopyTagRest(s.output.Out()))
            s.failed = true;
        break;
    }
    default: {
        const uint32_t size = BytesLeftInTag();
        s.finding.declaredSamples += static_cast<uint32_t>(s.samplesPerBlock);
        if (!writing || !s.decoder)
            break;
        // Damaged data the decoder skips costs what it held, not the stream.
        s.decoder->Decode(m_body + m_reader.Cursor(), size,
                          [&](const int16_t* samples, size_t count) { return AppendStreamSamples(samples, count); });
        break;
    }
    }
}

bool CSwfMovie::AppendStreamSamples(const int16_t* samples, size_t count)
{
    StreamState& s = m_walk->stream;
    if (s.failed || s.pending.cut)
        return false;
    if (!AppendWaveSamples(s.output.Out(), s.dataBytes, samples, count, s.pending.channels, s.pending.cut))
        s.failed = true;
    s.pending.sampleCount = static_cast<uint32_t>(s.dataBytes / (2u * s.pending.channels));
    s.finding.decodedSamples = s.pending.sampleCount;
    return !s.failed && !s.pending.cut;
}

void CSwfMovie::FinishStream()
{
    StreamState& s = m_walk->stream;
    m_walk->current = &s.finding;
    if (s.open && s.decoder) {
        s.decoder->Flush([&](const int16_t* samples, size_t count) { return AppendStreamSamples(samples, count); });
        s.finding.damagedBytes = s.decoder->LostBytes();
    }
    // A stream with data is found, even when its data hold no whole sample.
    const bool hasSamples = s.blockBytes > 0;
    bool ok = s.open && !s.failed && s.pending.sampleCount > 0;
    if (hasSamples && s.pending.sampleCount == 0 && s.finding.loss == SoundLoss::None)
        s.finding.loss = SoundLoss::NothingDecoded;
    if (ok && s.pending.isMp3 == 0)
        ok = PatchWaveLengths(s.output.Out());
    if (ok)
        ok = KeepOutput(s.output, s.pending);
    s.output.Discard();
    m_walk->current = nullptr;
    if (s.counted && hasSamples)
        AddFinding(std::move(s.finding), ok);
    m_walk->stream = StreamState{};
}
