#include "swf/swf_movie.h"

#include "audio/wave_format.h"
#include "swf/adpcm_decoder.h"
#include "swf/walk_state.h"

namespace {

enum : uint32_t {
    kEnd = 0,
    kDefineSound = 14,
    kSoundStreamHead = 18,
    kSoundStreamBlock = 19,
    kDefineSprite = 39,
    kSoundStreamHead2 = 45,
};

// Sprites inside sprites are not made by any authoring tool; a few levels are
// allowed, a deep chain of them would only exhaust the stack.
constexpr int kMaxSpriteDepth = 32;

}  // namespace

uint32_t CSwfMovie::BytesLeftInTag() const
{
    return m_reader.Cursor() < m_tagEnd ? static_cast<uint32_t>(m_tagEnd - m_reader.Cursor()) : 0;
}

bool CSwfMovie::CopyTagRest(platform::File& file)
{
    m_reader.DiscardBits();
    const uint32_t n = BytesLeftInTag();
    return n == 0 || file.Write(m_body.get() + m_reader.Cursor(), n);
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
    return n == 0 || file.Write(m_body.get() + m_reader.Cursor(), static_cast<size_t>(n));
}

bool CSwfMovie::WalkTags(bool inSprite)
{
    const uint64_t outerLimit = m_walk->limit;
    if (inSprite) {
        m_reader.SkipBytes(4);
        m_walk->limit = m_tagEnd;  // the sprite's own tag bounds its timeline
    } else {
        m_reader.DiscardBits();
        m_reader.SetCursor(m_firstTag);
        m_walk->limit = m_bodyLength;
    }
    const uint64_t limit = m_walk->limit;
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
                m_walk->outer.push_front(std::move(m_walk->stream));
                m_walk->stream = StreamState{};
                WalkTags(true);
                if (m_walk->stream.counted)
                    FinishStream();
                m_walk->stream = std::move(m_walk->outer.front());
                m_walk->outer.pop_front();
                --m_walk->spriteDepth;
            }
            break;
        default:
            break;
        }
        m_reader.SetCursor(tagEnd);
        m_tagEnd = tagEnd;
        m_reader.DiscardBits();
    }
    m_walk->limit = outerLimit;
    return true;
}

void CSwfMovie::OnDefineSound()
{
    // Id, format byte and sample count; MP3 adds the seek field.
    if (m_tagLength < 7)
        return;
    m_reader.SkipBytes(2);
    const int format = static_cast<int>(m_reader.ReadBits(4));
    const int rateIndex = static_cast<int>(m_reader.ReadBits(2));
    const bool is16 = m_reader.ReadBits(1) != 0;
    const bool stereo = m_reader.ReadBits(1) != 0;
    const uint32_t count = m_reader.ReadUI32();
    bool written = false;
    switch (format) {
    case 0:
    case 3:
        written = WritePcmSound(rateIndex, is16, stereo, count);
        break;
    case 1:
        written = WriteAdpcmSound(rateIndex, is16, stereo, count);
        break;
    case 2:
        if (m_tagLength < 9)
            return;
        m_reader.SkipBytes(2);
        written = WriteMp3Sound(rateIndex, is16, stereo, count);
        break;
    default:
        return;
    }
    ++m_found;
    if (!written)
        ++m_lost;
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
    s.failed = false;
    s.dataBytes = 0;
    if (s.samplesPerBlock == 0 || s.format >= 4)
        return;
    CSoundElement& rec = s.pending;
    rec.sampleCount = 0;
    rec.sampleRate = SampleRateOfIndex(s.rateIndex);
    rec.bits = s.is16Bit ? 16 : 8;
    rec.channels = s.isStereo ? 2 : 1;
    rec.cut = false;
    // A stream whose file can't be made still counts its blocks, and is lost
    // when it ends with samples.
    s.counted = true;
    if (s.format == 2) {
        rec.isMp3 = 1;
        s.open = CreateOutput(".mp3", s.output, rec.path);
    } else {
        rec.isMp3 = 0;
        s.open = OpenWaveOutput(s.output, rec.path, s.isStereo != 0, rec.bits, rec.sampleRate);
    }
}

void CSwfMovie::OnSoundStreamBlock()
{
    StreamState& s = m_walk->stream;
    // A cut stream's file is full: it takes no more samples.
    if (s.pending.cut)
        return;
    const bool writing = s.open && !s.failed;
    switch (s.format) {
    case 0:
    case 3:
        s.pending.sampleCount += static_cast<uint32_t>(s.samplesPerBlock);
        if (writing && !CopyTagRestToWave(s.output.Out(), s.dataBytes, s.pending.channels * s.pending.bits / 8,
                                          s.pending.cut))
            s.failed = true;
        break;
    case 1: {
        const bool stereo = s.pending.channels == 2;
        const bool is16 = s.pending.bits == 16;
        // Only what the block's data can hold; no more than the file can take.
        const int codeBits = (m_reader.ByteAt(m_reader.Cursor()) >> 6) + 2;
        uint32_t frames = CAdpcmDecoder::FramesThatFit(static_cast<uint32_t>(s.samplesPerBlock),
                                                       BytesLeftInTag() * 8ull, codeBits, stereo, is16);
        const uint64_t frameBytes = (stereo ? 2u : 1u) * (is16 ? 2u : 1u);
        if (writing && s.dataBytes + frames * frameBytes > kMaxWaveDataBytes) {
            frames = static_cast<uint32_t>((kMaxWaveDataBytes - s.dataBytes) / frameBytes);
            s.pending.cut = true;
        }
        s.pending.sampleCount += frames;
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
        s.pending.sampleCount += m_reader.ReadUI16();
        m_reader.SkipBytes(2);
        if (writing && !CopyTagRest(s.output.Out()))
            s.failed = true;
        break;
    }
    default:
        break;
    }
}

void CSwfMovie::FinishStream()
{
    StreamState& s = m_walk->stream;
    const bool hasSamples = s.pending.sampleCount > 0;
    bool ok = s.open && !s.failed && hasSamples;
    if (ok && s.pending.isMp3 == 0)
        ok = PatchWaveLengths(s.output.Out());
    if (ok)
        ok = CommitOutput(s.output, s.pending.path, s.pending.isMp3 ? ".mp3" : ".wav");
    s.output.Discard();
    if (s.counted && hasSamples) {
        ++m_found;
        if (!ok || s.pending.cut)
            ++m_lost;
    }
    if (ok)
        m_sounds.push_back(s.pending);
    m_walk->stream = StreamState{};
}
