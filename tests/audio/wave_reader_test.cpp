#include "audio/wave_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "audio/wave_writer.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"

namespace {

// A format chunk body: PCM fields, plus extra bytes for longer chunks.
std::string FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, const std::string& extra = "")
{
    return U16(tag) + U16(channels) + U32(rate) + U32(rate * channels * bits / 8) +
           U16(static_cast<uint16_t>(channels * bits / 8)) + U16(bits) + extra;
}

std::string Chunk(const std::string& id, const std::string& body)
{
    return id + U32(static_cast<uint32_t>(body.size())) + body;
}

std::string Riff(const std::string& chunks)
{
    return "RIFF" + U32(static_cast<uint32_t>(chunks.size() + 4)) + "WAVE" + chunks;
}

std::string Samples16(const std::vector<int16_t>& s)
{
    std::string out;
    for (int16_t v : s)
        out += U16(static_cast<uint16_t>(v));
    return out;
}

struct Block {
    std::vector<int16_t> left, right;
    size_t count = 0;
    bool end = false;
    bool ok = false;
};

Block ReadBlock16(CWaveReader& reader, bool end = false)
{
    Block b;
    b.left.assign(kWaveBlockFrames, 0);
    b.right.assign(kWaveBlockFrames, 0);
    b.end = end;
    b.ok = reader.Read(b.left.data(), b.right.data(), b.count, b.end);
    return b;
}

}  // namespace

TEST(WaveReader, ReadsBackWhatTheWriterWrote)
{
    TempDir dir;
    const std::string path = dir / "tone.wav";
    const std::vector<int16_t> tone = TestTone(3000, true, 22050);
    std::vector<int16_t> l, r;
    for (size_t i = 0; i < 3000; ++i) {
        l.push_back(tone[2 * i]);
        r.push_back(tone[2 * i + 1]);
    }
    CWaveWriter writer;
    ASSERT_TRUE(writer.Open(path, true, 16, 22050));
    ASSERT_TRUE(writer.Write(l.data(), r.data(), l.size()));
    ASSERT_TRUE(writer.Close());

    CWaveReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.Format().formatTag, 1);
    EXPECT_EQ(reader.Format().channels, 2);
    EXPECT_EQ(reader.Format().samplesPerSec, 22050u);
    EXPECT_EQ(reader.Format().avgBytesPerSec, 88200u);
    EXPECT_EQ(reader.Format().blockAlign, 4);
    EXPECT_EQ(reader.Format().bitsPerSample, 16);

    const size_t expected[] = {1152, 1152, 696};
    size_t at = 0;
    for (size_t want : expected) {
        const Block b = ReadBlock16(reader);
        ASSERT_TRUE(b.ok);
        ASSERT_EQ(b.count, want);
        EXPECT_FALSE(b.end);
        for (size_t k = 0; k < b.count; ++k) {
            ASSERT_EQ(b.left[k], l[at + k]) << at + k;
            ASSERT_EQ(b.right[k], r[at + k]) << at + k;
        }
        at += b.count;
    }
    for (int again = 0; again < 2; ++again) {
        const Block last = ReadBlock16(reader);
        EXPECT_TRUE(last.ok);
        EXPECT_EQ(last.count, 0u);
        EXPECT_TRUE(last.end);
    }
}

TEST(WaveReader, MonoAndEightBitPlanes)
{
    TempDir dir;
    const std::string mono16 = dir / "m16.wav";
    WriteFileBytes(mono16, Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 16)) + Chunk("data", Samples16({-5, 6, 7}))));
    CWaveReader reader;
    ASSERT_TRUE(reader.Open(mono16));
    Block b = ReadBlock16(reader);
    ASSERT_EQ(b.count, 3u);
    EXPECT_EQ(b.left[0], -5);
    EXPECT_EQ(b.left[2], 7);
    EXPECT_EQ(b.right[0], 0) << "mono leaves right untouched";

    const std::string stereo8 = dir / "s8.wav";
    WriteFileBytes(stereo8, Riff(Chunk("fmt ", FmtBody(1, 2, 5512, 8)) +
                                 Chunk("data", std::string("\x00\xFF\x80\x7F\x01", 5))));
    ASSERT_TRUE(reader.Open(stereo8));
    std::vector<uint8_t> l8(kWaveBlockFrames, 0xAA), r8(kWaveBlockFrames, 0xAA);
    size_t count = 0;
    bool end = false;
    ASSERT_TRUE(reader.Read(l8.data(), r8.data(), count, end));
    ASSERT_EQ(count, 2u) << "the odd last byte is half a frame and is dropped";
    EXPECT_EQ(l8[0], 0x00);
    EXPECT_EQ(r8[0], 0xFF);
    EXPECT_EQ(l8[1], 0x80);
    EXPECT_EQ(r8[1], 0x7F);
    EXPECT_EQ(l8[2], 0xAA);
    ASSERT_TRUE(reader.Read(l8.data(), r8.data(), count, end));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(end);

    const std::string mono8 = dir / "m8.wav";
    WriteFileBytes(mono8, Riff(Chunk("fmt ", FmtBody(1, 1, 5512, 8)) + Chunk("data", std::string(1500, '\x40'))));
    ASSERT_TRUE(reader.Open(mono8));
    end = false;
    ASSERT_TRUE(reader.Read(l8.data(), r8.data(), count, end));
    EXPECT_EQ(count, 1152u);
    EXPECT_EQ(l8[1151], 0x40);
    ASSERT_TRUE(reader.Read(l8.data(), r8.data(), count, end));
    EXPECT_EQ(count, 348u);
    EXPECT_FALSE(end);
}

TEST(WaveReader, AcceptsLongerFormatChunkAndOneFactChunk)
{
    TempDir dir;
    const std::string data = Chunk("data", Samples16({100, 200}));

    const std::string fmt18 = dir / "fmt18.wav";
    WriteFileBytes(fmt18, Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 16, U16(0))) + data));
    CWaveReader reader;
    ASSERT_TRUE(reader.Open(fmt18));
    Block b = ReadBlock16(reader);
    ASSERT_EQ(b.count, 2u);
    EXPECT_EQ(b.left[0], 100);

    const std::string fact = dir / "fact.wav";
    WriteFileBytes(fact, Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 16)) + Chunk("fact", U32(2)) + data));
    ASSERT_TRUE(reader.Open(fact));
    b = ReadBlock16(reader);
    ASSERT_EQ(b.count, 2u);
    EXPECT_EQ(b.left[1], 200);
}

TEST(WaveReader, RejectsWhatItDoesNotKnow)
{
    TempDir dir;
    const std::string fmt = Chunk("fmt ", FmtBody(1, 2, 44100, 16));
    const std::string data = Chunk("data", Samples16({1, 2}));
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"list", Riff(fmt + Chunk("LIST", "INFOxxxx") + data)},
        {"two_facts", Riff(fmt + Chunk("fact", U32(1)) + Chunk("fact", U32(1)) + data)},
        {"float", Riff(Chunk("fmt ", FmtBody(3, 2, 44100, 32)) + data)},
        {"extensible", Riff(Chunk("fmt ", FmtBody(0xFFFE, 2, 44100, 16, U16(22) + std::string(22, '\0'))) + data)},
        {"not_riff", "RIFX" + Riff(fmt + data).substr(4)},
        {"not_wave", Riff(fmt + data).replace(8, 4, "AVI ")},
        {"data_first", Riff(data + fmt)},
        {"no_data", Riff(fmt)},
        {"short_fmt", Riff("fmt " + U32(16) + "\x01\x00\x02")},
        {"empty", ""},
        {"fmt_longer_than_file", Riff("fmt " + U32(0xFFFFFFF0u) + FmtBody(1, 1, 8000, 16) + data)},
        {"fact_longer_than_file", Riff(fmt + "fact" + U32(0x7FFFFFFFu) + data)},
    };
    for (const auto& c : cases) {
        const std::string path = dir / (std::string(c.name) + ".wav");
        WriteFileBytes(path, c.bytes);
        CWaveReader reader;
        EXPECT_FALSE(reader.Open(path)) << c.name;
    }
    CWaveReader reader;
    EXPECT_FALSE(reader.Open(dir / "missing.wav"));
    EXPECT_FALSE(reader.Open(dir.Path())) << "a folder is no WAV file";
}

TEST(WaveReader, ReadsToTheEndOfFileWhateverTheDataLengthSays)
{
    TempDir dir;
    const std::string path = dir / "lying.wav";
    // The data length claims 2 bytes; 3 samples and a trailing chunk follow.
    const std::string body = Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 16)) + "data" + U32(2) +
                                  Samples16({11, 22, 33}) + "JUNK" + U32(0));
    WriteFileBytes(path, body);
    CWaveReader reader;
    ASSERT_TRUE(reader.Open(path));
    const Block b = ReadBlock16(reader);
    ASSERT_EQ(b.count, 3u + 4u);
    EXPECT_EQ(b.left[2], 33);
    EXPECT_EQ(b.left[3], static_cast<int16_t>('J' | ('U' << 8)));
}

TEST(WaveReader, ReadOnClosedReaderIsTheEnd)
{
    CWaveReader reader;
    std::vector<int16_t> l(kWaveBlockFrames), r(kWaveBlockFrames);
    size_t count = 99;
    bool end = false;
    EXPECT_TRUE(reader.Read(l.data(), r.data(), count, end));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(end);
}
