#include "swf/swf_movie.h"

#include "swf/adpcm_decoder.h"

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

const uint32_t kRates[4] = {5512, 11025, 22050, 44100};

}  // namespace

uint32_t CSwfMovie::BytesLeftInTag() const
{
    return m_cursor < m_tagEnd ? static_cast<uint32_t>(m_tagEnd - m_cursor) : 0;
}

bool CSwfMovie::CopyTagRest(platform::File& file)
{
    DiscardBits();
    const uint32_t n = BytesLeftInTag();
    return n == 0 || file.Write(m_body.get() + m_cursor, n);
}

bool CSwfMovie::WalkTags(bool inSprite)
{
    const uint64_t outerLimit = m_walkLimit;
    if (inSprite) {
        SkipBytes(4);
        m_walkLimit = m_tagEnd;  // the sprite's own tag bounds its timeline
    } else {
        DiscardBits();
        m_cursor = m_firstTag;
        m_walkLimit = m_bodyLength;
    }
    const uint64_t limit = m_walkLimit;
    bool ended = false;
    while (!ended && m_cursor < limit) {
        m_tagStart = m_cursor;
        const uint16_t header = ReadUI16();
        const uint32_t code = header >> 6;
        uint32_t length = header & 0x3F;
        if (length == 0x3F)
            length = ReadUI32();
        const uint64_t tagEnd = m_cursor + length;
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
            if (m_spriteDepth < kMaxSpriteDepth) {
                ++m_spriteDepth;
                m_streamStack.push_front(std::move(m_stream));
                m_stream = StreamState{};
                WalkTags(true);
                if (m_stream.open)
                    FinishStream();
                m_stream = std::move(m_streamStack.front());
                m_streamStack.pop_front();
                --m_spriteDepth;
            }
            break;
        default:
            break;
        }
        m_cursor = tagEnd;
        m_tagEnd = tagEnd;
        DiscardBits();
    }
    m_walkLimit = outerLimit;
    return true;
}

void CSwfMovie::OnDefineSound()
{
    // Id, format byte and sample count; MP3 adds the seek field.
    if (m_tagLength < 7)
        return;
    SkipBytes(2);
    const int format = static_cast<int>(ReadBits(4));
    const int rateIndex = static_cast<int>(ReadBits(2));
    const bool is16 = ReadBits(1) != 0;
    const bool stereo = ReadBits(1) != 0;
    const uint32_t count = ReadUI32();
    switch (format) {
    case 0:
    case 3:
        WritePcmSound(rateIndex, is16, stereo, count);
        break;
    case 1:
        WriteAdpcmSound(rateIndex, is16, stereo, count);
        break;
    case 2:
        if (m_tagLength < 9)
            return;
        SkipBytes(2);
        WriteMp3Sound(rateIndex, is16, stereo, count);
        break;
    default:
        break;
    }
}

void CSwfMovie::OnSoundStreamHead()
{
    // Playback byte, stream byte and samples per block.
    if (m_tagLength < 4)
        return;
    SkipBytes(1);
    if (m_stream.open)
        FinishStream();
    StreamState& s = m_stream;
    s.format = static_cast<int32_t>(ReadBits(4));
    s.rateIndex = static_cast<int32_t>(ReadBits(2));
    s.is16Bit = static_cast<int32_t>(ReadBits(1));
    s.isStereo = static_cast<int32_t>(ReadBits(1));
    s.samplesPerBlock = ReadUI16();
    s.failed = false;
    if (s.samplesPerBlock == 0 || s.format >= 4)
        return;
    CSoundElement& rec = s.pending;
    rec.sampleCount = 0;
    rec.sampleRate = kRates[s.rateIndex];
    rec.bits = s.is16Bit ? 16 : 8;
    rec.channels = s.isStereo ? 2 : 1;
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
    StreamState& s = m_stream;
    switch (s.format) {
    case 0:
    case 3:
        s.pending.sampleCount += static_cast<uint32_t>(s.samplesPerBlock);
        if (s.open && !s.failed && !CopyTagRest(s.output))
            s.failed = true;
        break;
    case 1: {
        s.pending.sampleCount += static_cast<uint32_t>(s.samplesPerBlock);
        if (!s.open || s.failed)
            break;
        const bool stereo = s.pending.channels == 2;
        const bool is16 = s.pending.bits == 16;
        const size_t size = static_cast<size_t>(s.samplesPerBlock) * (stereo ? 2 : 1) * (is16 ? 2 : 1);
        m_blockBuffer.resize(size);
        CAdpcmDecoder(*this).Decode(static_cast<uint32_t>(s.samplesPerBlock), stereo, is16, m_blockBuffer.data());
        if (!s.output.Write(m_blockBuffer.data(), size))
            s.failed = true;
        break;
    }
    case 2: {
        // Sample count and seek samples come before the frames.
        if (m_tagLength < 4)
            break;
        s.pending.sampleCount += ReadUI16();
        SkipBytes(2);
        if (s.open && !s.failed && !CopyTagRest(s.output))
            s.failed = true;
        break;
    }
    default:
        break;
    }
}

void CSwfMovie::FinishStream()
{
    StreamState& s = m_stream;
    bool ok = !s.failed;
    if (s.pending.isMp3 == 0 && ok)
        ok = PatchWaveLengths(s.output);
    ok = s.output.Close() && ok;
    if (ok && s.pending.sampleCount > 0)
        m_sounds.push_back(s.pending);
    else
        platform::DeleteFile(s.pending.path);
    m_stream = StreamState{};
}
