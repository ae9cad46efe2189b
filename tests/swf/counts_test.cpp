// What a movie is said to hold and to have lost: only real losses count, a
// sound's number is its file's, and a movie is the file that was read.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <unistd.h>

#include "audio/sound_decoder.h"
#include "platform/file.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "swf/swf_movie.h"

namespace {

std::string Pcm(size_t n, char fill)
{
    return std::string(n, fill);
}

}  // namespace

TEST(Counts, EmptySoundsAreNeitherFoundNorLost)
{
    const std::string mp3 = Mp3Bytes(TestTone(1152, false, 22050), false, 22050);
    struct Case {
        const char* what;
        SwfBuilder movie;
        uint32_t found;
        uint32_t empty;
    };
    Case cases[] = {
        {"MP3 stream blocks of their header alone", {}, 0, 2},
        {"no sound data at all", {}, 0, 3},
        {"an empty sound beside a real one", {}, 1, 1},
    };
    cases[0].movie.Tag(kTagSoundStreamHead, StreamHead(2, 2, true, false, 576))
        .Tag(kTagSoundStreamBlock, Mp3StreamBlock(576, ""))
        .Tag(kTagSoundStreamBlock, Mp3StreamBlock(576, ""))
        .Sprite(3, SwfBuilder().Tag(kTagSoundStreamHead, StreamHead(2, 2, true, false, 576))
                       .Tag(kTagSoundStreamBlock, Mp3StreamBlock(576, ""))
                       .End());
    cases[1].movie.Tag(kTagDefineSound, DefineSound(1, 2, 2, true, false, 0, U16(0)))
        .Tag(kTagDefineSound, DefineSound(2, 0, 2, true, true, 10, "abc"))  // less than a stereo frame
        .Tag(kTagDefineSound, DefineSound(3, 1, 2, true, false, 0, ""));
    cases[2].movie.Tag(kTagDefineSound, DefineSound(1, 2, 2, true, false, 0, U16(0)))
        .Tag(kTagDefineSound, DefineSound(2, 2, 2, true, false, 1152, U16(0) + mp3));
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        CSwfMovie movie;
        ASSERT_TRUE(movie.Run(c.movie.End().WriteTo(dir / "m.swf"), OutputType::Keep));
        EXPECT_EQ(movie.FoundCount(), c.found);
        EXPECT_EQ(movie.ExtractedCount(), c.found);
        EXPECT_TRUE(movie.WroteAnything());
        uint32_t empty = 0;
        for (const CSoundFinding& f : movie.Findings())
            empty += f.empty ? 1 : 0;
        EXPECT_EQ(empty, c.empty);
        EXPECT_EQ(dir.List().size(), 1 + c.found);
    }
}

TEST(Counts, AMovieIsCutShortOnlyWhenItsTagsRunOut)
{
    TempDir dir;
    const std::string sound = DefineSound(1, 0, 1, false, false, 40, Pcm(40, 'w'));
    // Written whole with an End tag, declaring far more (as audio-only
    // movies some tools write do), and cut before its End tag.
    const std::string whole = SwfBuilder().Tag(kTagDefineSound, sound).End().DeclaredLength(100 << 20).Build();
    const std::string cut = SwfBuilder().Tag(kTagDefineSound, sound).Tag(kTagDefineSound, sound).End().Build();
    WriteFileBytes(dir / "whole.swf", whole);
    WriteFileBytes(dir / "cut.swf", cut.substr(0, cut.size() - 20));
    CSwfMovie movie;
    ASSERT_TRUE(movie.Run(dir / "whole.swf", OutputType::Keep));
    EXPECT_TRUE(movie.DeclaresMoreThanItHolds());
    EXPECT_FALSE(movie.CutShort());
    ASSERT_TRUE(movie.Run(dir / "cut.swf", OutputType::Keep));
    EXPECT_TRUE(movie.CutShort());
    EXPECT_EQ(movie.ExtractedCount(), 1u);
}

TEST(Counts, NumbersFollowTheOrderSoundsStartAndNeverGoBack)
{
    TempDir dir;
    // A stream that starts first and ends last, an event sound met while it
    // plays, a lost sound, and one more: with m_002.wav taken by the user.
    SwfBuilder b;
    b.Tag(kTagSoundStreamHead, StreamHead(0, 1, false, false, 10))
        .Tag(kTagSoundStreamBlock, Pcm(10, 's'))
        .Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 20, Pcm(20, 'e')))
        .Tag(kTagDefineSound, DefineSound(2, 9, 1, false, false, 20, Pcm(20, 'x')))
        .Tag(kTagDefineSound, DefineSound(3, 0, 1, false, false, 30, Pcm(30, 'f')))
        .Tag(kTagSoundStreamBlock, Pcm(10, 't'))
        .End();
    WriteFileBytes(dir / "m_002.wav", "the user's");
    CSwfMovie movie;
    ASSERT_TRUE(movie.Run(b.WriteTo(dir / "m.swf"), OutputType::Keep));
    std::vector<uint32_t> numbers;
    for (const CSoundFinding& f : movie.Findings())
        numbers.push_back(f.number);
    EXPECT_EQ(numbers, (std::vector<uint32_t>{1, 2, 0, 3}));
    EXPECT_EQ(ReadWave(dir / "m_001.wav").data, Pcm(10, 's') + Pcm(10, 't'));
    EXPECT_EQ(ReadFileBytes(dir / "m_002.wav"), "the user's");
    EXPECT_EQ(ReadWave(dir / "m_003.wav").data, Pcm(20, 'e'));
    EXPECT_EQ(ReadWave(dir / "m_004.wav").data, Pcm(30, 'f'));
}

TEST(Counts, AnOutputTellsWhatItsFileHolds)
{
    // Tagged 44.1 kHz stereo, its frames are 22.05 kHz mono.
    TempDir dir;
    const std::string mp3 = Mp3Bytes(TestTone(4608, false, 22050), false, 22050);
    for (const OutputType type : {OutputType::Keep, OutputType::Wav, OutputType::Flac}) {
        CSwfMovie movie;
        ASSERT_TRUE(movie.Run(SwfBuilder()
                                  .Tag(kTagDefineSound, DefineSound(1, 2, 3, true, true, 4608, U16(0) + mp3))
                                  .End()
                                  .WriteTo(dir / "m.swf"),
                              type));
        ASSERT_EQ(movie.Sounds().size(), 1u);
        EXPECT_EQ(movie.Sounds().front().channels, 1) << static_cast<int>(type);
        EXPECT_EQ(movie.Sounds().front().sampleRate, 22050u) << static_cast<int>(type);
        EXPECT_EQ(movie.Findings().front().channels, 2) << "the finding says what the tag says";
    }
}

TEST(Counts, ACodedSoundDecodesToNoMoreThanItsDataCanHold)
{
    if (!CSoundDecoder::Available(CodedFormat::Speex))
        GTEST_SKIP() << "no Speex decoder in this build";
    // Zeros are Speex frames of silence: a few bits each for 320 samples.
    TempDir dir;
    SwfBuilder b;
    b.Tag(kTagSoundStreamHead, StreamHead(11, 1, true, false, 320));
    for (int i = 0; i < 64; ++i)
        b.Tag(kTagSoundStreamBlock, std::string(1000, '\0'), true);
    CSwfMovie movie;
    ASSERT_TRUE(movie.Run(b.End().WriteTo(dir / "speex.swf"), OutputType::Wav));
    ASSERT_EQ(movie.Sounds().size(), 1u);
    EXPECT_EQ(movie.Findings().front().loss, SoundLoss::Runaway);
    const int64_t bytes = static_cast<int64_t>(ReadFileBytes(movie.Sounds().front().path).size());
    EXPECT_LE(bytes, static_cast<int64_t>(44 + kDecodedAllowance + kMaxDecodedPerCodedByte * 64000));
    EXPECT_GT(bytes, static_cast<int64_t>(kDecodedAllowance));
}

TEST(Counts, AMovieIsTheFileThatWasRead)
{
    // Another program changes the movie as its walk begins: it is cut inside
    // its last page (which reads as zeros, an End tag), or replaced by a
    // rename. Either way the movie fails and leaves no file.
    const std::string movie = SwfBuilder()
                                  .Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 3000, Pcm(3000, 'a')))
                                  .Tag(kTagDefineSound, DefineSound(2, 0, 1, false, false, 3000, Pcm(3000, 'b')))
                                  .End()
                                  .Build();
    ASSERT_EQ(movie.size() / 4096, (movie.size() - 200) / 4096);
    const struct {
        const char* what;
        std::function<void(const std::string& path)> change;
    } cases[] = {
        {"cut in its last page",
         [&](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(movie.size() - 200)), 0); }},
        {"renamed over", [&](const std::string& path) {
             WriteFileBytes(path + ".new", movie);
             ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir / "m.swf";
        WriteFileBytes(path, movie);
        bool changed = false;
        platform::SetFileEventListener([&](platform::FileEvent event, int, const std::string&) {
            if (event == platform::FileEvent::TempCreated && !changed) {
                changed = true;
                c.change(path);
            }
        });
        CSwfMovie m;
        m.SetWantDigest(true);
        EXPECT_FALSE(m.Run(path, OutputType::Wav));
        platform::SetFileEventListener({});
        EXPECT_TRUE(changed);
        EXPECT_EQ(m.LastLoadFailure(), LoadFailure::Changed);
        EXPECT_EQ(dir.List(), std::vector<std::string>{"m.swf"});
    }
}
