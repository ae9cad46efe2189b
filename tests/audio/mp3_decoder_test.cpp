#include "audio/mp3_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <thread>
#include <vector>

#include "audio/conversions.h"
#include "audio/mp3_encoder.h"
#include "audio/mp3_frame.h"
#include "audio/wave_reader.h"
#include "platform/file.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"

namespace {

struct BudgetGuard {
    ~BudgetGuard() { platform::testing::SetWriteBudget(-1); }
};

double Rms(const std::vector<int16_t>& s)
{
    double sum = 0;
    for (int16_t v : s)
        sum += static_cast<double>(v) * v;
    return s.empty() ? 0 : std::sqrt(sum / static_cast<double>(s.size()));
}

bool Exists(const std::string& path)
{
    return std::ifstream(path).good();
}

// Every left sample of the file, decoded by a decoder of its own.
std::vector<int16_t> DecodeAlone(const std::string& path)
{
    CMp3Decoder d;
    EXPECT_TRUE(d.Open(path));
    std::vector<int16_t> all;
    int16_t l[kMp3MaxFrameSamples];
    int16_t r[kMp3MaxFrameSamples];
    bool end = false;
    while (!end) {
        size_t n = 0;
        EXPECT_TRUE(d.Decode(l, r, n, end));
        all.insert(all.end(), l, l + n);
    }
    return all;
}

class Mp3ToWav : public ::testing::Test {
protected:
    TempDir dir;
    std::string Put(const std::string& name, const std::string& bytes)
    {
        WriteFileBytes(dir / name, bytes);
        return dir / name;
    }
};

}  // namespace

TEST_F(Mp3ToWav, StereoAndMonoKeepTheirChannels)
{
    const struct {
        bool stereo;
        int rate;
    } cases[] = {{true, 44100}, {false, 44100}, {true, 22050}, {false, 11025}, {false, 8000}};
    for (const auto& c : cases) {
        const size_t frames = static_cast<size_t>(c.rate);  // one second
        const std::string mp3 = Put("in.mp3", Mp3Bytes(TestTone(frames, c.stereo, c.rate), c.stereo, c.rate));
        const std::string wav = dir / "out.wav";
        ASSERT_TRUE(ConvertMp3ToWav(mp3, wav)) << c.rate;
        const WaveContents d = ReadWave(wav);
        EXPECT_EQ(d.channels, c.stereo ? 2 : 1);
        EXPECT_EQ(d.blockAlign, c.stereo ? 4 : 2);
        EXPECT_EQ(d.bits, 16);
        EXPECT_EQ(d.rate, static_cast<uint32_t>(c.rate));
        // Encoder delay and padding add less than three frames of 1152.
        EXPECT_GE(d.left.size(), frames);
        EXPECT_LT(d.left.size(), frames + 3 * 1152);
        // The tone survives: its loudness is near the original's (low rates lose
        // some of the upper partial to the lowpass).
        const std::vector<int16_t> tone = TestTone(frames, false, c.rate);
        EXPECT_NEAR(Rms(d.left), Rms(tone), Rms(tone) * 0.2) << c.rate;
        if (c.stereo) {
            EXPECT_GT(Rms(d.right), 1000.0);
        }
        EXPECT_TRUE(Exists(mp3)) << "the input stays";
        platform::DeleteFile(mp3);
        platform::DeleteFile(wav);
    }
}

TEST_F(Mp3ToWav, SkipsLeadingTagsAndGarbage)
{
    const std::string plain = Mp3Bytes(TestTone(20000, true, 22050), true, 22050);
    ASSERT_TRUE(ConvertMp3ToWav(Put("plain.mp3", plain), dir / "plain.wav"));
    const WaveContents reference = ReadWave(dir / "plain.wav");
    ASSERT_GT(reference.left.size(), 20000u);

    // A 300-byte ID3v2 tag body whose size is synchsafe (0x02 0x2C = 300).
    std::string id3 = std::string("ID3\x03\x00\x00\x00\x00\x02\x2C", 10) + std::string(300, '\xFF');
    // An album-ID header of 6 + 10 bytes.
    const std::string aid = std::string("AiD\x01", 4) + std::string("\x10\x00", 2) + std::string(10, 'x');
    // Bytes that hold no frame sync (0xFF is never followed by 0xE0 or more).
    const std::string garbage = std::string("\x00\xFF\x10junk\xFF\x7F", 9) + std::string(500, 'g');
    // Junk holding valid headers of other streams (MPEG 1 at 44.1 kHz, MPEG 2
    // at 24 kHz, MPEG 2.5 at 8 kHz) and the start of a frame of this one: each
    // read alone would set the wrong format or cost the first frame.
    const std::string falseHeaders[] = {std::string("\xFF\xFB\x90\x00", 4), std::string("\x01\xFF\xF3\x44\xC4", 5),
                                        std::string("\x00\x01\xFF\xE3\x18\x00", 6), plain.substr(0, 30)};
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"id3", id3 + plain},
        {"aid", aid + plain},
        {"id3_aid", id3 + aid + plain},
        {"garbage", garbage + plain},
        {"id3_garbage", id3 + garbage + plain},
        {"mpeg1_header", falseHeaders[0] + plain},
        {"mpeg2_header", falseHeaders[1] + plain},
        {"id3_mpeg25_header", id3 + falseHeaders[2] + plain},
        {"cut_frame", falseHeaders[3] + plain},
    };
    for (const auto& c : cases) {
        const std::string wav = dir / (std::string(c.name) + ".wav");
        ASSERT_TRUE(ConvertMp3ToWav(Put(std::string(c.name) + ".mp3", c.bytes), wav)) << c.name;
        const WaveContents d = ReadWave(wav);
        EXPECT_EQ(d.rate, 22050u) << c.name;
        EXPECT_EQ(d.left, reference.left) << c.name;
        EXPECT_EQ(d.right, reference.right) << c.name;
    }
}

TEST(Mp3Frames, AStreamIsFoundPastHeadersStandingAlone)
{
    const std::string plain = Mp3Bytes(TestTone(5000, false, 16000), false, 16000);
    const auto bytes = [](const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); };
    const struct {
        const char* name;
        std::string data;
        size_t start;  // of the stream; data.size() for none
        uint32_t rate;  // of the header found; 0 for none
    } cases[] = {
        {"plain", plain, 0, 16000},
        {"false_header", std::string("\xFF\xFB\x90\x00\x00", 5) + plain, 5, 16000},
        {"cut_frame", plain.substr(0, 50) + plain, 50, 16000},
        // One frame alone is no stream, but still a header.
        {"one_frame", plain.substr(0, Mp3FrameBytes(bytes(plain))), Mp3FrameBytes(bytes(plain)), 16000},
        {"lone_false_header", std::string("\xFF\xFB\x90\x00", 4) + std::string(600, '\0'), 604, 44100},
        {"reserved_version", std::string("\xFF\xEB\x90\x00", 4) + std::string(600, '\0'), 604, 0},
        {"empty", "", 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindMp3StreamStart(bytes(c.data), c.data.size()), c.start) << c.name;
        Mp3FrameHeader header;
        EXPECT_EQ(FindMp3FrameHeader(bytes(c.data), c.data.size(), header), c.rate != 0) << c.name;
        EXPECT_EQ(header.sampleRate, c.rate) << c.name;
    }
}

TEST_F(Mp3ToWav, FilesWithoutAStreamFailAndLeaveNoWav)
{
    const std::string good = Mp3Bytes(TestTone(5000, false, 22050), false, 22050);
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"seven_bytes", good.substr(0, 7)},
        {"no_sync", std::string(5000, '\x55')},
        {"id3_only", std::string("ID3\x03\x00\x00\x00\x00\x00\x10", 10) + std::string(16, '\0')},
        {"id3_larger_than_file", std::string("ID3\x03\x00\x00\x7F\x7F\x7F\x7F", 10) + good},
        {"header_then_nothing", good.substr(0, 40)},
    };
    for (const auto& c : cases) {
        const std::string wav = dir / (std::string(c.name) + ".wav");
        EXPECT_FALSE(ConvertMp3ToWav(Put(std::string(c.name) + ".mp3", c.bytes), wav)) << c.name;
        EXPECT_FALSE(Exists(wav)) << c.name;
    }
    EXPECT_FALSE(ConvertMp3ToWav(dir / "missing.mp3", dir / "missing.wav"));
    EXPECT_FALSE(Exists(dir / "missing.wav"));
}

TEST_F(Mp3ToWav, TruncatedAndDamagedStreamsStaySane)
{
    const std::string good = Mp3Bytes(TestTone(44100, true, 44100), true, 44100);
    ASSERT_TRUE(ConvertMp3ToWav(Put("good.mp3", good), dir / "good.wav"));
    const size_t full = ReadWave(dir / "good.wav").left.size();

    // Cut in the middle of a frame: the complete frames before it decode.
    ASSERT_TRUE(ConvertMp3ToWav(Put("cut.mp3", good.substr(0, good.size() / 2 + 77)), dir / "cut.wav"));
    const size_t cut = ReadWave(dir / "cut.wav").left.size();
    EXPECT_GT(cut, full / 2 - 3 * 1152);
    EXPECT_LT(cut, full);
    EXPECT_EQ(cut % 1152, 0u);

    // Damage in the middle: the decoder resynchronises after it, so the
    // sound before and after survives in one whole WAV.
    std::string damaged = good;
    for (size_t i = damaged.size() / 3; i < damaged.size() / 3 + 700; ++i)
        damaged[i] = static_cast<char>((i * 7919) & 0xFF);
    ASSERT_TRUE(ConvertMp3ToWav(Put("damaged.mp3", damaged), dir / "damaged.wav"));
    const size_t n = ReadWave(dir / "damaged.wav").left.size();
    EXPECT_GT(n, full * 3 / 4);
    EXPECT_LE(n, full);
}

TEST_F(Mp3ToWav, NeverReplacesAnExistingWav)
{
    const std::string mp3 = Put("in.mp3", Mp3Bytes(TestTone(5000, true, 44100), true, 44100));
    const std::string wav = Put("out.wav", "mine");
    EXPECT_FALSE(ConvertMp3ToWav(mp3, wav));
    EXPECT_EQ(ReadFileBytes(wav), "mine");
}

TEST_F(Mp3ToWav, FailedWriteLeavesNoWav)
{
    BudgetGuard guard;
    const std::string mp3 = Put("in.mp3", Mp3Bytes(TestTone(30000, true, 44100), true, 44100));
    for (const int64_t budget : {int64_t{20}, int64_t{44 + 10000}}) {
        platform::testing::SetWriteBudget(budget);
        EXPECT_FALSE(ConvertMp3ToWav(mp3, dir / "out.wav")) << budget;
        platform::testing::SetWriteBudget(-1);
        EXPECT_FALSE(Exists(dir / "out.wav")) << budget;
    }
}

TEST_F(Mp3ToWav, HeaderFollowedByNoFrameDataGivesAnEmptyWav)
{
    // A lone frame header padded to pass probing, with no room for samples.
    const std::string good = Mp3Bytes(TestTone(5000, true, 44100), true, 44100);
    const std::string wav = dir / "out.wav";
    ASSERT_TRUE(ConvertMp3ToWav(Put("short.mp3", good.substr(0, 4) + std::string(300, '\0')), wav));
    const WaveContents d = ReadWave(wav);
    EXPECT_EQ(d.channels, 2);
    EXPECT_LE(d.left.size(), 1152u);
}

TEST(Mp3Decoder, TwoDecodersRunAtOnce)
{
    TempDir dir;
    WriteFileBytes(dir / "a.mp3", Mp3Bytes(TestTone(20000, true, 44100), true, 44100));
    WriteFileBytes(dir / "b.mp3", Mp3Bytes(TestTone(9000, false, 16000), false, 16000));

    const std::vector<int16_t> a = DecodeAlone(dir / "a.mp3");
    const std::vector<int16_t> b = DecodeAlone(dir / "b.mp3");

    CMp3Decoder da, db;
    ASSERT_TRUE(da.Open(dir / "a.mp3"));
    ASSERT_TRUE(db.Open(dir / "b.mp3"));
    EXPECT_EQ(da.Channels(), 2);
    EXPECT_EQ(da.SampleRate(), 44100);
    EXPECT_GT(da.Bitrate(), 0);
    EXPECT_FALSE(da.FreeFormat());
    EXPECT_EQ(db.Channels(), 1);
    EXPECT_EQ(db.SampleRate(), 16000);
    std::vector<int16_t> ia, ib;
    int16_t l[kMp3MaxFrameSamples];
    int16_t r[kMp3MaxFrameSamples];
    bool endA = false;
    bool endB = false;
    while (!endA || !endB) {
        size_t n = 0;
        if (!endA) {
            ASSERT_TRUE(da.Decode(l, r, n, endA));
            ia.insert(ia.end(), l, l + n);
        }
        if (!endB) {
            ASSERT_TRUE(db.Decode(l, r, n, endB));
            ib.insert(ib.end(), l, l + n);
            EXPECT_EQ(db.FrameChannels(), n ? 1 : db.FrameChannels());
        }
    }
    EXPECT_EQ(ia, a);
    EXPECT_EQ(ib, b);

    // After the end, Decode keeps reporting the end; after Close it fails.
    size_t n = 5;
    EXPECT_TRUE(da.Decode(l, r, n, endA));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(endA);
    da.Close();
    da.Close();
    bool end = false;
    EXPECT_FALSE(da.Decode(l, r, n, end));
    EXPECT_TRUE(end);
}

TEST(Mp3Decoder, DecodersOnSeveralThreadsMatchASerialRun)
{
    // The library decodes through one buffer shared by the process; without
    // the lock, decoders on other threads overwrite each other's samples.
    TempDir dir;
    WriteFileBytes(dir / "a.mp3", Mp3Bytes(TestTone(88200, true, 44100), true, 44100));
    WriteFileBytes(dir / "b.mp3", Mp3Bytes(TestTone(44100, false, 22050), false, 22050));
    const std::vector<int16_t> serial[2] = {DecodeAlone(dir / "a.mp3"), DecodeAlone(dir / "b.mp3")};
    for (int round = 0; round < 3; ++round) {
        std::vector<std::vector<int16_t>> parallel(4);
        std::vector<std::thread> threads;
        for (size_t t = 0; t < parallel.size(); ++t)
            threads.emplace_back([&, t] { parallel[t] = DecodeAlone(dir / (t % 2 ? "b.mp3" : "a.mp3")); });
        for (std::thread& t : threads)
            t.join();
        for (size_t t = 0; t < parallel.size(); ++t)
            EXPECT_EQ(parallel[t], serial[t % 2]) << "thread " << t << ", round " << round;
    }
}
