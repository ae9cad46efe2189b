// Keep and FLAC: every sound as stored, or losslessly as the WAV would hold it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/mp3_frame.h"
#include "platform/file.h"
#include "support/flac_decode.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "swf/swf_movie.h"
#include "util/paths.h"

namespace {

// Every file a conversion of the movie made, in catalogue order.
std::vector<std::string> Outputs(CSwfMovie& movie, const std::string& path, OutputType type)
{
    EXPECT_TRUE(movie.Run(path, type));
    EXPECT_EQ(movie.ExtractedCount(), movie.FoundCount());
    std::vector<std::string> files;
    for (const CSoundElement& s : movie.Sounds())
        files.push_back(s.path);
    return files;
}

}  // namespace

TEST(OutputTypes, KeepWritesEverySoundAsExtractionDoes)
{
    TempDir k;
    TempDir x;
    // Long enough that the plain movie's MP3 and PCM data go file to file in the kernel.
    const std::string mp3 = Mp3Bytes(TestTone(220000, true, 22050), true, 22050);
    ASSERT_GT(mp3.size(), 64u * 1024);
    std::string pcm(150000, '\0');
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<char>(i * 7 + i / 251);
    const AdpcmEncoded block = EncodeAdpcm(TestTone(300, false, 11025), false, 4);
    SwfBuilder sprite;  // an ADPCM stream and an MP3 event sound
    sprite.Tag(kTagSoundStreamHead2, StreamHead(1, 1, true, false, 300))
        .Tag(kTagSoundStreamBlock, block.bytes)
        .Tag(kTagSoundStreamBlock, block.bytes)
        .End();
    SwfBuilder inner;
    inner.Sprite(3, sprite).Tag(kTagDefineSound, DefineSound(1, 2, 2, true, true, 4000, U16(0) + mp3)).End();
    SwfBuilder b;
    b.Tag(kTagSoundStreamHead, StreamHead(2, 2, true, true, 1152))
        .Tag(kTagSoundStreamBlock, Mp3StreamBlock(1152, mp3))
        .Tag(kTagDefineSound, DefineSound(2, 0, 1, false, true, 75000, pcm))
        .Tag(kTagDefineBinaryData, BinaryData(8, inner.Build(true)))
        .End();
    b.WriteTo(k / "m.swf");
    b.WriteTo(x / "m.swf");

    CSwfMovie extracted;
    ASSERT_TRUE(extracted.Extract(x / "m.swf"));
    CSwfMovie kept;
    const std::vector<std::string> files = Outputs(kept, k / "m.swf", OutputType::Keep);
    ASSERT_EQ(files.size(), 4u);
    ASSERT_EQ(extracted.Sounds().size(), files.size());
    auto e = extracted.Sounds().begin();
    for (size_t i = 0; i < files.size(); ++i, ++e) {
        SCOPED_TRACE(files[i]);
        EXPECT_EQ(FileNamePart(files[i]), FileNamePart(e->path));
        EXPECT_EQ(ReadFileBytes(files[i]), ReadFileBytes(e->path));
    }
    // The MP3 outputs are the movie's MP3 data: the stream's (at its end) and
    // the embedded event sound.
    EXPECT_EQ(ReadFileBytes(k / "m_004.mp3"), mp3);
    EXPECT_EQ(ReadFileBytes(k / "m_001.mp3"), mp3);
    EXPECT_EQ(ReadWave(k / "m_002.wav").data, pcm);
}

TEST(OutputTypes, ALongMp3SoundIsCountedAsAShortOneIs)
{
    // Over a megabyte, the frames are counted beside the copy: the count
    // must be the one a plain walk over the same bytes gives.
    TempDir dir;
    const std::string piece = Mp3Bytes(TestTone(22050, true, 22050), true, 22050);
    std::string mp3;
    while (mp3.size() <= (1u << 20))
        mp3 += piece;
    CMp3FrameCounter serial;
    serial.Add(reinterpret_cast<const uint8_t*>(mp3.data()), mp3.size());
    ASSERT_GT(serial.Samples(), 0u);
    const std::string path =
        SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 2, 2, true, true, 0, U16(0) + mp3)).End().WriteTo(dir / "m.swf");
    CSwfMovie movie;
    const std::vector<std::string> files = Outputs(movie, path, OutputType::Keep);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(movie.Sounds().front().sampleCount, serial.Samples());
    EXPECT_EQ(ReadFileBytes(files[0]), mp3);
}

TEST(OutputTypes, FlacHoldsTheVerySamplesOfTheWav)
{
    struct Case {
        int format;  // 0 PCM, 2 MP3
        int bits;
        bool stereo;
        int rateIndex;
    };
    std::vector<Case> cases;
    for (const int bits : {8, 16})
        for (const bool stereo : {false, true})
            for (const int rateIndex : {0, 1, 2, 3})
                cases.push_back({0, bits, stereo, rateIndex});
    cases.push_back({2, 16, true, 2});
    cases.push_back({2, 16, false, 1});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << ", " << c.bits << " bits, "
                                        << (c.stereo ? "stereo" : "mono") << ", rate " << c.rateIndex);
        TempDir wDir;
        TempDir fDir;
        const uint32_t rate = SampleRateOfIndex(c.rateIndex);
        const auto tone = TestTone(rate / 4, c.stereo, static_cast<int>(rate));
        std::string data;
        if (c.format == 2) {
            data = U16(0) + Mp3Bytes(tone, c.stereo, rate);
        } else {
            for (const int16_t v : tone) {
                if (c.bits == 8)
                    data += static_cast<char>((v >> 8) + 128);
                else
                    data += U16(static_cast<uint16_t>(v));
            }
        }
        const SwfBuilder b = SwfBuilder()
                                 .Tag(kTagDefineSound, DefineSound(1, c.format, c.rateIndex, c.bits == 16, c.stereo,
                                                                   static_cast<uint32_t>(tone.size()), data))
                                 .End();
        CSwfMovie movie;
        const std::vector<std::string> wav = Outputs(movie, b.WriteTo(wDir / "m.swf"), OutputType::Wav);
        const std::vector<std::string> flac = Outputs(movie, b.WriteTo(fDir / "m.swf"), OutputType::Flac);
        ASSERT_EQ(flac, std::vector<std::string>{fDir / "m.flac"});
        ASSERT_EQ(wav.size(), 1u);
        EXPECT_TRUE(movie.Sounds().front().isFlac);
        EXPECT_EQ(movie.Sounds().front().bits, c.bits);

        const WaveContents w = ReadWave(wav[0]);
        const Decoded d = DecodeFlac(flac[0]);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.bits, w.bits);
        EXPECT_EQ(d.channels, w.channels);
        EXPECT_EQ(d.rate, w.rate);
        std::vector<int32_t> expected;
        for (size_t i = 0; i < w.data.size(); i += w.bits / 8u) {
            const auto lo = static_cast<uint8_t>(w.data[i]);
            expected.push_back(w.bits == 8 ? lo - 128
                                           : static_cast<int16_t>(lo | static_cast<uint8_t>(w.data[i + 1]) << 8));
        }
        EXPECT_EQ(d.samples, expected);
        EXPECT_EQ(movie.Sounds().front().sampleCount, expected.size() / w.channels);
    }
}
