#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/file.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "swf/swf_movie.h"

namespace {

// Stand-in MP3 frames: extraction copies them without looking inside.
std::string Frames(char fill, size_t n)
{
    return "\xFF\xFB\x90\x64" + std::string(n, fill);
}

std::vector<CSoundElement> Extract(const std::string& path)
{
    CSwfMovie movie;
    EXPECT_TRUE(movie.Extract(path));
    return {movie.Sounds().begin(), movie.Sounds().end()};
}

std::string Pcm(size_t n, char seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(seed + i * 7);
    return s;
}

}  // namespace

TEST(TagWalk, EverySoundKindWithStreamsInMovieAndSprite)
{
    TempDir dir;
    const std::string pcm = Pcm(400, 3);
    const auto tone = TestTone(300, true, 11025);
    const AdpcmEncoded adpcm = EncodeAdpcm(tone, true, 4);
    const std::string mp3Event = Frames('e', 50);
    const auto blockTone = TestTone(100, false, 22050);
    const AdpcmEncoded block = EncodeAdpcm(blockTone, false, 3);

    SwfBuilder sprite;
    sprite.Tag(kTagSoundStreamHead2, StreamHead(1, 2, true, false, 100))
        .Tag(kTagSoundStreamBlock, block.bytes)
        .Tag(kTagSoundStreamBlock, block.bytes)
        .End();
    SwfBuilder b;
    b.Tag(kTagSoundStreamHead, StreamHead(2, 3, true, true, 1152))
        .Tag(kTagSoundStreamBlock, Mp3StreamBlock(1152, Frames('a', 30)))
        .Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 400, pcm))
        .Tag(kTagDefineSound, DefineSound(2, 1, 1, true, true, 300, adpcm.bytes))
        .Tag(kTagDefineSound, DefineSound(3, 2, 3, true, false, 576, U16(0) + mp3Event))
        .Sprite(7, sprite)
        .Tag(kTagSoundStreamBlock, Mp3StreamBlock(1152, Frames('b', 40)))
        .End();
    const auto sounds = Extract(b.WriteTo(dir / "intro.swf"));

    ASSERT_EQ(sounds.size(), 5u);
    // In the order the sounds start, a stream at its head, though it ends last.
    EXPECT_EQ(sounds[0].path, dir / "intro_001.mp3");
    EXPECT_EQ(sounds[1].path, dir / "intro_002.wav");
    EXPECT_EQ(sounds[2].path, dir / "intro_003.wav");
    EXPECT_EQ(sounds[3].path, dir / "intro_004.mp3");
    EXPECT_EQ(sounds[4].path, dir / "intro_005.wav");

    EXPECT_EQ(ReadWave(sounds[1].path).data, pcm);
    EXPECT_EQ(sounds[1].channels, 1);
    EXPECT_EQ(sounds[1].bits, 8);
    EXPECT_EQ(sounds[1].sampleRate, 11025u);
    EXPECT_EQ(sounds[1].sampleCount, 400u);
    EXPECT_EQ(sounds[1].isMp3, 0u);

    const std::string decoded = ReadWave(sounds[2].path).data;
    ASSERT_EQ(decoded.size(), 300u * 4);
    EXPECT_EQ(std::memcmp(decoded.data(), adpcm.predicted.data(), decoded.size()), 0);
    EXPECT_EQ(sounds[2].channels, 2);
    EXPECT_EQ(sounds[2].bits, 16);

    EXPECT_EQ(ReadFileBytes(sounds[3].path), mp3Event);
    EXPECT_EQ(sounds[3].isMp3, 1u);
    EXPECT_EQ(sounds[3].sampleRate, 44100u);
    EXPECT_EQ(sounds[3].sampleCount, 1152u) << "what its one frame decodes to, not what the tag declares";

    // The sprite's stream: every block decoded afresh.
    const std::string spriteData = ReadWave(sounds[4].path).data;
    ASSERT_EQ(spriteData.size(), 400u);
    EXPECT_EQ(std::memcmp(spriteData.data(), block.predicted.data(), 200), 0);
    EXPECT_EQ(std::memcmp(spriteData.data() + 200, block.predicted.data(), 200), 0);
    EXPECT_EQ(sounds[4].sampleCount, 200u);
    EXPECT_EQ(sounds[4].sampleRate, 22050u);

    // The main stream went on across the sprite.
    EXPECT_EQ(ReadFileBytes(sounds[0].path), Frames('a', 30) + Frames('b', 40));
    EXPECT_EQ(sounds[0].sampleCount, 1152u) << "the second header lies inside the first frame";
    EXPECT_EQ(sounds[0].channels, 2);
}

TEST(TagWalk, StreamBoundaries)
{
    TempDir dir;
    SwfBuilder b;
    // A second header ends the first stream.
    b.Tag(kTagSoundStreamHead, StreamHead(0, 0, false, false, 10))
        .Tag(kTagSoundStreamBlock, std::string(10, 'x'))
        .Tag(kTagSoundStreamHead, StreamHead(3, 0, true, false, 5))
        .Tag(kTagSoundStreamBlock, std::string(10, 'y'))
        // A header with no samples per block is a stream all the same, and
        // one whose blocks are fewer bytes than a sample frame is empty.
        .Tag(kTagSoundStreamHead, StreamHead(2, 0, false, false, 0))
        .Tag(kTagSoundStreamBlock, Mp3StreamBlock(100, Frames('z', 8)))
        .Tag(kTagSoundStreamHead, StreamHead(0, 0, true, true, 1))
        .Tag(kTagSoundStreamBlock, std::string(3, 'q'))
        // A stream that never gets a block leaves no file.
        .Tag(kTagSoundStreamHead, StreamHead(0, 0, false, false, 10))
        .End();
    CSwfMovie movie;
    ASSERT_TRUE(movie.Extract(b.WriteTo(dir / "s.swf")));
    const std::vector<CSoundElement> sounds(movie.Sounds().begin(), movie.Sounds().end());
    ASSERT_EQ(sounds.size(), 3u);
    EXPECT_EQ(ReadWave(sounds[0].path).data, std::string(10, 'x'));
    EXPECT_EQ(ReadWave(sounds[1].path).data, std::string(10, 'y'));
    EXPECT_EQ(sounds[1].sampleCount, 5u);
    EXPECT_EQ(ReadFileBytes(sounds[2].path), Frames('z', 8));
    EXPECT_EQ(movie.FoundCount(), 3u);
    EXPECT_TRUE(movie.Findings()[3].empty);
    EXPECT_EQ(movie.Findings()[3].loss, SoundLoss::None);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"s.swf", "s_001.wav", "s_002.wav", "s_003.mp3"}));
}

TEST(TagWalk, TagLengthForms)
{
    TempDir dir;
    SwfBuilder b;
    b.Tag(kTagDefineSound, DefineSound(1, 3, 0, false, false, 55, Pcm(55, 1)))   // 62 bytes: short form
        .Tag(kTagDefineSound, DefineSound(2, 3, 0, false, false, 56, Pcm(56, 2)))  // 63 bytes: long form
        .Tag(kTagDefineSound, DefineSound(3, 3, 0, false, false, 3, Pcm(3, 3)), true)
        .End();
    const auto sounds = Extract(b.WriteTo(dir / "t.swf"));
    ASSERT_EQ(sounds.size(), 3u);
    EXPECT_EQ(ReadWave(sounds[0].path).data, Pcm(55, 1));
    EXPECT_EQ(ReadWave(sounds[1].path).data, Pcm(56, 2));
    EXPECT_EQ(ReadWave(sounds[2].path).data, Pcm(3, 3));
}

TEST(TagWalk, SkippedAndTruncatedTags)
{
    TempDir dir;
    {
        // Codes 15 and 46+ are passed over; format 9, which no tool writes,
        // takes no number, nor does Nellymoser data too short for a block.
        SwfBuilder b;
        b.Tag(kTagStartSound, DefineSound(1, 0, 0, false, false, 4, "abcd"))
            .Tag(60, DefineSound(1, 0, 0, false, false, 4, "abcd"))
            .Tag(kTagDefineSound, DefineSound(1, 9, 0, false, false, 4, "abcd"))
            .Tag(kTagDefineSound, DefineSound(1, 6, 0, false, false, 4, "abcd"))
            .Tag(kTagDefineSound, DefineSound(2, 0, 0, false, false, 4, "wxyz"))
            .End();
        const auto sounds = Extract(b.WriteTo(dir / "a.swf"));
        ASSERT_EQ(sounds.size(), 1u);
        EXPECT_EQ(sounds[0].path, dir / "a_001.wav");
    }
    {
        // A tag reaching past the body stops the walk, sound tag or not.
        SwfBuilder b;
        b.Raw(U16(static_cast<uint16_t>(2 << 6 | 0x3F)) + U32(1000000))
            .Tag(kTagDefineSound, DefineSound(2, 0, 0, false, false, 4, "wxyz"));
        EXPECT_TRUE(Extract(b.WriteTo(dir / "b.swf")).empty());
    }
    {
        // Sound tags too short for their fixed fields write nothing.
        SwfBuilder b;
        b.Tag(kTagDefineSound, DefineSound(1, 0, 0, false, false, 0, "").substr(0, 6))
            .Tag(kTagDefineSound, DefineSound(1, 2, 0, false, false, 0, "\x01"))
            .Tag(kTagSoundStreamHead, StreamHead(0, 0, false, false, 5).substr(0, 3))
            .Tag(kTagSoundStreamBlock, std::string(5, 'k'))
            .Tag(kTagSoundStreamHead, StreamHead(2, 0, false, false, 576))
            .Tag(kTagSoundStreamBlock, "\x40\x02")
            .End();
        const auto sounds = Extract(b.WriteTo(dir / "c.swf"));
        EXPECT_TRUE(sounds.empty());
        EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.swf", "a_001.wav", "b.swf", "c.swf"}));
    }
}

TEST(TagWalk, SpriteWalkIsBoundedByItsTag)
{
    TempDir dir;
    SwfBuilder inner;  // no End tag
    inner.Tag(kTagDefineSound, DefineSound(1, 0, 0, false, false, 2, "in"));
    SwfBuilder b;
    b.Sprite(5, inner).Tag(kTagDefineSound, DefineSound(2, 0, 0, false, false, 3, "out")).End();
    const auto sounds = Extract(b.WriteTo(dir / "p.swf"));
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_EQ(ReadWave(sounds[0].path).data, "in");
    EXPECT_EQ(ReadWave(sounds[1].path).data, "out");
}

TEST(TagWalk, DeeplyNestedSpritesDoNotExhaustTheStack)
{
    TempDir dir;
    // 200,000 sprites, each the only tag (with an End) of the one around it.
    constexpr int kLevels = 200000;
    SwfBuilder core;
    core.Tag(kTagDefineSound, DefineSound(1, 0, 0, false, false, 2, "zz")).End();
    std::vector<uint32_t> dataLength(kLevels + 1);
    dataLength[1] = static_cast<uint32_t>(4 + core.Tags().size());
    for (int k = 2; k <= kLevels; ++k)
        dataLength[k] = 4 + 6 + dataLength[k - 1] + 2;
    std::string tags;
    for (int k = kLevels; k >= 1; --k)
        tags += U16(static_cast<uint16_t>(kTagDefineSprite << 6 | 0x3F)) + U32(dataLength[k]) + U16(1) + U16(1);
    tags += core.Tags();
    for (int k = 1; k <= kLevels; ++k)
        tags += U16(0);
    CSwfMovie movie;
    EXPECT_TRUE(movie.Extract(SwfBuilder().Raw(tags).WriteTo(dir / "deep.swf")));
}

TEST(TagWalk, NoSoundsIsAnEmptyCatalogue)
{
    TempDir dir;
    EXPECT_TRUE(Extract(SwfBuilder().Tag(9, "\x01\x02\x03").End().WriteTo(dir / "quiet.swf")).empty());
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"quiet.swf"}));
}

TEST(TagWalk, FailedWritesLoseTheSoundNotTheTruth)
{
    TempDir dir;
    SwfBuilder b;
    b.Tag(kTagSoundStreamHead, StreamHead(0, 0, false, false, 1000))
        .Tag(kTagSoundStreamBlock, std::string(1000, 's'))
        .Tag(kTagSoundStreamBlock, std::string(1000, 's'))
        .Tag(kTagDefineSound, DefineSound(1, 0, 0, false, false, 3000, std::string(3000, 'e')))
        .End();
    b.WriteTo(dir / "f.swf");
    // Room for less than the stream: its buffered blocks fail when it ends,
    // after the event sound was refused too. Both are found and lost.
    platform::testing::SetWriteBudget(44 + 1000 + 10);
    CSwfMovie movie;
    const bool ok = movie.Extract(dir / "f.swf");
    platform::testing::SetWriteBudget(-1);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(movie.Sounds().empty());
    EXPECT_EQ(movie.FoundCount(), 2u);
    EXPECT_EQ(movie.ExtractedCount(), 0u);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"f.swf"}));
}

TEST(TagWalk, OutputStaysInProportionToTheData)
{
    // 65535 frames declared per block and thousands of empty blocks: each
    // block can hold none of them, so nothing comes out of nothing.
    TempDir dir;
    SwfBuilder b;
    b.Tag(kTagSoundStreamHead, StreamHead(1, 3, true, true, 65535));
    for (int i = 0; i < 3000; ++i)
        b.Tag(kTagSoundStreamBlock, i % 100 ? "" : std::string(8, '\0'));
    b.End();
    CSwfMovie movie;
    ASSERT_TRUE(movie.Extract(b.WriteTo(dir / "amp.swf", true)));
    ASSERT_EQ(movie.Sounds().size(), 1u);
    const std::string wav = ReadFileBytes(movie.Sounds().front().path);
    // 30 blocks of 8 bytes: the packet header and a few codes each.
    EXPECT_LT(wav.size(), 44u + 30 * 8 * 4 * 4);
    EXPECT_EQ(U32At(wav, 40), wav.size() - 44);
    EXPECT_EQ(movie.Sounds().front().sampleCount * 4, wav.size() - 44);
}

TEST(TagWalk, SoundsOfNoKnownFormatAreFoundNotExtracted)
{
    // A format no tool writes, as a sound and as a stream with data, and
    // Nellymoser too short for a single block: found, and none written.
    TempDir dir;
    SwfBuilder b;
    b.Tag(kTagDefineSound, DefineSound(1, 9, 0, false, false, 4, "abcd"))
        .Tag(kTagSoundStreamHead, StreamHead(12, 1, true, false, 100))
        .Tag(kTagSoundStreamBlock, std::string(50, 'z'))
        .Tag(kTagDefineSound, DefineSound(2, 6, 1, true, false, 256, std::string(20, 'n')))
        .Tag(kTagDefineSound, DefineSound(3, 0, 1, false, false, 3, "pcm"))
        .End();
    CSwfMovie movie;
    ASSERT_TRUE(movie.Extract(b.WriteTo(dir / "odd.swf")));
    EXPECT_EQ(movie.FoundCount(), 4u);
    EXPECT_EQ(movie.ExtractedCount(), 1u);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"odd.swf", "odd_001.wav"}));
}

TEST(TagWalk, FindingsTellWhatTheTagsSay)
{
    TempDir dir;
    const std::string mp3 = Frames('m', 40);  // an MPEG-1 frame header: 44100 Hz, stereo
    SwfBuilder inner;
    inner.Tag(kTagSoundStreamHead2, StreamHead(2, 1, true, false, 576).substr(0, 4) + U16(static_cast<uint16_t>(-20)))
        .Tag(kTagSoundStreamBlock, Mp3StreamBlock(576, mp3))
        .Tag(kTagSoundStreamBlock, Mp3StreamBlock(500, mp3))
        .End();
    SwfBuilder b;
    b.Tag(kTagDefineSound, DefineSound(7, 2, 2, true, false, 1152, U16(300) + mp3))
        .Sprite(12, inner)
        .Tag(kTagDefineSound, DefineSound(8, 0, 1, false, false, 10, "pcm"))
        .Tag(56, U16(2) + U16(7) + "jump" + '\0' + U16(99) + "other" + '\0')
        .Tag(76, U16(2) + U16(8) + "game.Beep" + '\0' + U16(7) + "game.Jump" + '\0')
        .End();
    CSwfMovie movie;
    ASSERT_TRUE(movie.Extract(b.WriteTo(dir / "f.swf")));
    const auto& f = movie.Findings();
    ASSERT_EQ(f.size(), 3u);
    // The MP3 sound: its tag says 22050 Hz mono, its frames 44100 Hz stereo;
    // ExportAssets names it before SymbolClass does.
    EXPECT_EQ(f[0].characterId, 7);
    EXPECT_EQ(f[0].exportName, "jump");
    EXPECT_EQ(f[0].seekSamples, 300);
    EXPECT_EQ(f[0].rate, 22050u);
    EXPECT_EQ(f[0].framesRate, 44100u);
    EXPECT_EQ(f[0].framesChannels, 2);
    EXPECT_EQ(f[0].record, 0);
    // The sprite's stream, ended by the sprite's End.
    EXPECT_TRUE(f[1].stream);
    EXPECT_EQ(f[1].sprite, 12);
    EXPECT_EQ(f[1].seekSamples, -20);
    EXPECT_EQ(f[1].declaredSamples, 1076u);
    EXPECT_EQ(f[1].exportName, "");
    // PCM data holding 3 of the 10 frames it declares.
    EXPECT_EQ(f[2].exportName, "game.Beep");
    EXPECT_EQ(f[2].sprite, 0);
    EXPECT_EQ(f[2].declaredSamples, 10u);
    EXPECT_EQ(f[2].decodedSamples, 3u);
    for (const CSoundFinding& x : f)
        EXPECT_EQ(x.loss, SoundLoss::None);
}
