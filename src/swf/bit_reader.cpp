#include "swf/swf_movie.h"

uint32_t CSwfMovie::ReadBits(int n)
{
    uint32_t result = 0;
    while (n > m_bitCount) {
        n -= m_bitCount;
        result |= m_bitBuffer << n;
        m_bitBuffer = ByteAt(m_cursor++);
        m_bitCount = 8;
    }
    m_bitCount -= n;
    result |= m_bitBuffer >> m_bitCount;
    m_bitBuffer &= 0xFFu >> (8 - m_bitCount);
    return result;
}

int32_t CSwfMovie::ReadSignedBits(int n)
{
    if (n <= 0)
        return 0;
    uint32_t v = ReadBits(n);
    if (v & (1u << (n - 1)))
        v |= ~0u << (n - 1);
    return static_cast<int32_t>(v);
}

uint8_t CSwfMovie::ReadByte()
{
    DiscardBits();
    return ByteAt(m_cursor++);
}

uint16_t CSwfMovie::ReadUI16()
{
    DiscardBits();
    const uint16_t v = static_cast<uint16_t>(ByteAt(m_cursor) | ByteAt(m_cursor + 1) << 8);
    m_cursor += 2;
    return v;
}

uint32_t CSwfMovie::ReadUI32()
{
    DiscardBits();
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(ByteAt(m_cursor + i)) << (8 * i);
    m_cursor += 4;
    return v;
}

void CSwfMovie::SkipBytes(uint32_t n)
{
    DiscardBits();
    m_cursor += n;
}

void CSwfMovie::SeekBits(uint64_t position)
{
    m_cursor = (position + 7) / 8;
    m_bitCount = static_cast<int32_t>(m_cursor * 8 - position);
    m_bitBuffer = m_bitCount ? ByteAt(m_cursor - 1) & (0xFFu >> (8 - m_bitCount)) : 0;
}
