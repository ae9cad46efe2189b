#include <gtest/gtest.h>

#include <cstring>

#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "swf/adpcm_decoder.h"
#include "swf/bit_reader.h"

namespace {

// A reader over exactly the given bytes, at their start.
class RawMovie {
public:
    explicit RawMovie(std::string bytes) : m_bytes(std::move(bytes))
    {
        m_reader.Attach(reinterpret_cast<const uint8_t*>(m_bytes.data()), m_bytes.size());
    }
    std::vector<int16_t> Decode16(uint32_t frames, bool stereo)
    {
        std::vector<int16_t> out(frames * (stereo ? 2 : 1));
        CAdpcmDecoder(m_reader).Decode(frames, stereo, true, reinterpret_cast<uint8_t*>(out.data()));
        return out;
    }
    std::vector<uint8_t> Decode8(uint32_t frames, bool stereo)
    {
        std::vector<uint8_t> out(frames * (stereo ? 2 : 1));
        CAdpcmDecoder(m_reader).Decode(frames, stereo, false, out.data());
        return out;
    }
    CBitReader& Movie() { return m_reader; }

private:
    std::string m_bytes;
    CBitReader m_reader;
};

std::string Bits(std::initializer_list<std::pair<uint32_t, int>> fields)
{
    BitWriter w;
    for (auto [value, bits] : fields)
        w.Put(value, bits);
    return w.Bytes();
}

}  // namespace

TEST(Adpcm, WorkedExamples)
{
    // 4-bit 0101 from index 0 adds 8 and moves the index to 4 (step 11):
    // 0100 then adds 11 + 1.
    RawMovie four(Bits({{2, 2}, {0, 16}, {0, 6}, {0b0101, 4}, {0b0100, 4}}));
    EXPECT_EQ(four.Decode16(3, false), (std::vector<int16_t>{0, 8, 20}));

    // 2-bit 11 subtracts 10 and moves to index 2 (step 9): 01 adds 9 + 4.
    RawMovie two(Bits({{0, 2}, {0, 16}, {0, 6}, {0b11, 2}, {0b01, 2}}));
    EXPECT_EQ(two.Decode16(3, false), (std::vector<int16_t>{0, -10, 3}));

    // 3-bit 000 adds only the final quarter step, and the index stays at 0.
    RawMovie three(Bits({{1, 2}, {100, 16}, {0, 6}, {0, 3}, {0, 3}}));
    EXPECT_EQ(three.Decode16(3, false), (std::vector<int16_t>{100, 101, 102}));
}

TEST(Adpcm, ClampsPredictorAndIndex)
{
    // From index 63, 5-bit 01111 climbs by 16 per code, clamped at 88, and the
    // predictor pins at the top of the 16-bit range.
    RawMovie big(Bits({{3, 2}, {0, 16}, {63, 6}, {0b01111, 5}, {0b01111, 5}, {0b01111, 5}, {0b01111, 5},
                       {0b11111, 5}}));
    const auto out = big.Decode16(6, false);
    EXPECT_EQ(out[1], 5859);
    EXPECT_EQ(out[4], 32767);
    // At index 88 the full negative code subtracts the same 63483.
    EXPECT_EQ(out[5], 32767 - 63483);

    // An initial index of 63 is used as read: step 3024 for the first code.
    RawMovie idx(Bits({{0, 2}, {0, 16}, {63, 6}, {0b01, 2}}));
    EXPECT_EQ(idx.Decode16(2, false)[1], 3024 + 1512);

    // 8-bit output clamps to 0..255 on both channels.
    RawMovie eight(Bits({{2, 2}, {250, 8}, {88, 6}, {5, 8}, {88, 6}, {0b0111, 4}, {0b1111, 4}}));
    EXPECT_EQ(eight.Decode8(2, true), (std::vector<uint8_t>{250, 5, 255, 0}));
}

TEST(Adpcm, BitsConsumed)
{
    const std::string filler(16, '\x5A');
    {
        RawMovie m(std::string(3, '\0') + "\x77" + filler);
        m.Decode16(1, false);  // 2 + 16 + 6 = 24 bits
        EXPECT_EQ(m.Movie().ReadByte(), 0x77);
    }
    {
        RawMovie m(std::string(6, '\0') + "\x77" + filler);
        m.Decode16(1, true);  // 2 + 2 x 22 = 46 bits, then the next whole byte
        EXPECT_EQ(m.Movie().ReadByte(), 0x77);
    }
    {
        RawMovie m(std::string(2, '\0') + "\x77" + filler);
        m.Decode8(1, false);  // 2 + 8 + 6 = 16 bits
        EXPECT_EQ(m.Movie().ReadByte(), 0x77);
    }
    {
        RawMovie m("\x77" + filler);
        std::vector<int16_t> none;
        CAdpcmDecoder(m.Movie()).Decode(0, false, true, reinterpret_cast<uint8_t*>(none.data()));
        EXPECT_EQ(m.Movie().ReadByte(), 0x77);
    }
}

TEST(Adpcm, PacketsRestartEvery4096Frames)
{
    // Frame 4096 takes the second header's sample, not a decoded one.
    BitWriter w;
    w.Put(2, 2);
    w.Put(1000, 16);
    w.Put(10, 6);
    for (int i = 1; i < 4096; ++i)
        w.Put(0b0000, 4);
    w.Put(static_cast<uint16_t>(-1234), 16);
    w.Put(0, 6);
    w.Put(0b0101, 4);
    RawMovie m(w.Bytes());
    const auto out = m.Decode16(4098, false);
    EXPECT_EQ(out[4096], -1234);
    EXPECT_EQ(out[4097], -1234 + 8);
}

TEST(Adpcm, RoundTripAllCodeSizesMonoAndStereo)
{
    for (bool stereo : {false, true}) {
        for (int bits = 2; bits <= 5; ++bits) {
            SCOPED_TRACE(testing::Message() << "bits " << bits << " stereo " << stereo);
            const auto pcm = TestTone(9000, stereo, 22050);  // three packets
            const AdpcmEncoded enc = EncodeAdpcm(pcm, stereo, bits);
            RawMovie m(enc.bytes);
            EXPECT_EQ(m.Decode16(9000, stereo), enc.predicted);
        }
    }
}

TEST(Adpcm, NothingBeyondTheBodyIsRead)
{
    // A count far larger than the data: the rest decodes from zero bits.
    RawMovie m(Bits({{2, 2}, {500, 16}, {0, 6}}));
    const auto out = m.Decode16(20000, true);
    EXPECT_EQ(out.size(), 40000u);
    EXPECT_EQ(out[0], 500);
}
