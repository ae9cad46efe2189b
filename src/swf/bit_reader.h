// The reader over a loaded movie body: MSB-first bit fields and little-endian
// byte fields. Bytes beyond the body read as zero, and the cursor may pass its
// end, so no field of a damaged movie can reach outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>

class CBitReader {
public:
    // Reads from data (size bytes, not owned) with the cursor at 0.
    void Attach(const uint8_t* data, uint64_t size);

    // n is 0 to 31.
    uint32_t ReadBits(int n);
    int32_t ReadSignedBits(int n);
    // The byte-aligned readers first drop the pending bits.
    uint8_t ReadByte();
    uint16_t ReadUI16();
    uint32_t ReadUI32();
    void SkipBytes(uint64_t n);
    void DiscardBits() { m_bitCount = 0; m_bitBuffer = 0; }

    uint64_t Cursor() const { return m_cursor; }
    // Moves to a byte, pending bits dropped.
    void SetCursor(uint64_t offset);
    // The place in bits from the start, and a jump to one: for readers that
    // fetch bits faster than one call a field.
    uint64_t BitPosition() const { return m_cursor * 8 - static_cast<uint64_t>(m_bitCount); }
    void SeekBits(uint64_t position);

    uint8_t ByteAt(uint64_t offset) const { return offset < m_size ? m_data[offset] : 0; }
    const uint8_t* Data() const { return m_data; }
    uint64_t Size() const { return m_size; }

private:
    const uint8_t* m_data = nullptr;
    uint64_t m_size = 0;
    // 64 bits so that reading on past the end of a 4 GB body can't wrap around.
    uint64_t m_cursor = 0;
    int32_t m_bitCount = 0;
    uint32_t m_bitBuffer = 0;
};
