#include "swf/bit_reader.h"

void CBitReader::Attach(const uint8_t* data, uint64_t size)
{
    m_data = data;
    m_size = data ? size : 0;
    m_cursor = 0;
    DiscardBits();
}

uint32_t CBitReader::ReadBits(int n)
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

int32_t CBitReader::ReadSignedBits(int n)
{
    if (n <= 0)
        return 0;
    uint32_t v = ReadBits(n);
    if (v & (1u << (n - 1)))
        v |= ~0u << (n - 1);
    return static_cast<int32_t>(v);
}

uint8_t CBitReader::ReadByte()
{
    DiscardBits();
    return ByteAt(m_cursor++);
}

uint16_t CBitReader::ReadUI16()
{
    DiscardBits();
    const uint16_t v = static_cast<uint16_t>(ByteAt(m_cursor) | ByteAt(m_cursor + 1) << 8);
    m_cursor += 2;
    return v;
}

uint32_t CBitReader::ReadUI32()
{
    DiscardBits();
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(ByteAt(m_cursor + i)) << (8 * i);
    m_cursor += 4;
    return v;
}

void CBitReader::SkipBytes(uint64_t n)
{
    DiscardBits();
    m_cursor += n;
}

void CBitReader::SetCursor(uint64_t offset)
{
    DiscardBits();
    m_cursor = offset;
}

void CBitReader::SeekBits(uint64_t position)
{
    m_cursor = (position + 7) / 8;
    m_bitCount = static_cast<int32_t>(m_cursor * 8 - position);
    m_bitBuffer = m_bitCount ? ByteAt(m_cursor - 1) & (0xFFu >> (8 - m_bitCount)) : 0;
}
