#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/folders.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "swf/swf_movie.h"

namespace {

std::vector<std::string> Paths(const CSwfMovie& movie)
{
    std::vector<std::string> out;
    for (const auto& s : movie.Sounds())
        out.push_back(s.path);
    return out;
}

}  // namespace

TEST(Writers, WaveHeaderFields)
{
    TempDir dir;
    SwfBuilder b;
    b.Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 1000, std::string(1000, '\x80')))
        .Tag(kTagDefineSound, DefineSound(2, 1, 3, true, true, 10, std::string(11, '\0')))
        .End();
    CSwfMovie movie;
    ASSERT_TRUE(movie.Extract(b.WriteTo(dir / "h.swf")));
    ASSERT_EQ(movie.Sounds().size(), 2u);

    const std::string mono = ReadFileBytes(dir / "h_001.wav");
    ASSERT_EQ(mono.size(), 1044u);
    EXPECT_EQ(U32At(mono, 4), 1036u);
    EXPECT_EQ(U32At(mono, 16), 16u);
    EXPECT_EQ(U16At(mono, 20), 1u);      // PCM
    EXPECT_EQ(U16At(mono, 22), 1u);      // channels
    EXPECT_EQ(U32At(mono, 24), 11025u);  // rate
    EXPECT_EQ(U32At(mono, 28), 11025u);  // bytes per second
    EXPECT_EQ(U16At(mono, 32), 1u);      // block align
    EXPECT_EQ(U16At(mono, 34), 8u);
    EXPECT_EQ(U32At(mono, 40), 1000u);

    // ADPCM decodes the declared count (its 84 bits fit in 11 bytes).
    const std::string stereo = ReadFileBytes(dir / "h_002.wav");
    ASSERT_EQ(stereo.size(), 44u + 40u);
    EXPECT_EQ(U32At(stereo, 28), 44100u * 4);
    EXPECT_EQ(U16At(stereo, 32), 4u);
}

TEST(Writers, NumbersSkipTakenNamesAndKindOrder)
{
    TempDir dir;
    WriteFileBytes(dir / "intro_001.mp3", "mine");
    WriteFileBytes(dir / "intro_002.wav", "mine too");
    ASSERT_TRUE(platform::CreateFolder(dir / "intro_003.wav"));
    SwfBuilder b;
    b.Tag(kTagDefineSound, DefineSound(1, 1, 0, true, false, 1, std::string(4, '\0')))
        .Tag(kTagDefineSound, DefineSound(2, 2, 0, false, false, 1, U16(0) + "\xFF\xFB"))
        .Tag(kTagDefineSound, DefineSound(3, 0, 0, false, false, 2, "ab"))
        .End();
    CSwfMovie movie;
    ASSERT_TRUE(movie.Extract(b.WriteTo(dir / "intro.swf")));
    // A name is taken only with its own extension; a folder counts as taken.
    EXPECT_EQ(Paths(movie), (std::vector<std::string>{dir / "intro_001.wav", dir / "intro_002.mp3",
                                                      dir / "intro_004.wav"}));
    EXPECT_EQ(ReadFileBytes(dir / "intro_001.mp3"), "mine");
    EXPECT_EQ(ReadFileBytes(dir / "intro_002.wav"), "mine too");
    EXPECT_EQ(ReadFileBytes(dir / "intro_002.mp3"), "\xFF\xFB");
}

TEST(Writers, StemIsCutInTheFileNameOnly)
{
    TempDir dir;
    ASSERT_TRUE(platform::CreateFolder(dir / "v1.2"));
    const std::string movieBytes = SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 0, 0, false, false, 1, "x")).End().Build();
    WriteFileBytes(dir / "v1.2/clip", movieBytes);
    WriteFileBytes(dir / "v1.2/two.dots.swf", movieBytes);
    CSwfMovie movie;
    ASSERT_TRUE(movie.Extract(dir / "v1.2/clip"));
    EXPECT_EQ(Paths(movie), (std::vector<std::string>{dir / "v1.2/clip_001.wav"}));
    ASSERT_TRUE(movie.Extract(dir / "v1.2/two.dots.swf"));
    EXPECT_EQ(Paths(movie), (std::vector<std::string>{dir / "v1.2/two.dots_001.wav"}));
}

TEST(Writers, UnwritableFolderFallsBackToDocuments)
{
    TempDir dir;
    TempDir home;
    const std::string movieBytes = SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 0, 0, false, false, 1, "x")).End().Build();
    WriteFileBytes(dir / "song.swf", movieBytes);
    // /proc/self/fd/N reads the movie, but nothing can be created beside it,
    // whoever runs the test.
    const int fd = ::open((dir / "song.swf").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", home.Path().c_str(), 1);
    ::setenv("XDG_DOCUMENTS_DIR", (home / "Docs").c_str(), 1);

    CSwfMovie movie;
    const bool ok = movie.Extract("/proc/self/fd/" + std::to_string(fd));
    ::close(fd);
    ::unsetenv("XDG_DOCUMENTS_DIR");
    if (oldHome)
        ::setenv("HOME", savedHome.c_str(), 1);

    ASSERT_TRUE(ok);
    EXPECT_EQ(movie.OutputBase(), home / "Docs/Orvellin_Files/" + std::to_string(fd));
    ASSERT_EQ(movie.Sounds().size(), 1u);
    EXPECT_EQ(movie.Sounds().front().path, home / "Docs/Orvellin_Files/" + std::to_string(fd) + "_001.wav");
    EXPECT_TRUE(platform::PathExists(movie.Sounds().front().path));
}

TEST(Writers, AdpcmDecodesWhatItsDataCanHold)
{
    // 16-bit 2-bit-code ADPCM: 2 + 22 bits per channel for the first frame,
    // then 2 bits per channel and frame; Flash overruns by a frame or two.
    const struct {
        bool stereo;
        uint32_t declared;
        size_t dataBytes;
        uint32_t frames;
    } cases[] = {
        {false, 60, 18, 60},           // 142 bits fit in 18 bytes (144)
        {false, 63, 18, 63},           // 148 bits: two frames past the data
        {false, 64, 18, 63},           // three past: no more than two
        {false, 60, 16, 55},           // what 128 bits hold, and two more
        {true, 0xFFFFFFFFu, 16, 23},   // a count no data could hold
        {true, 10, 0, 0},              // nothing at all: empty, and no file
    };
    for (const auto& c : cases) {
        TempDir dir;
        SwfBuilder()
            .Tag(kTagDefineSound, DefineSound(1, 1, 3, true, c.stereo, c.declared, std::string(c.dataBytes, '\0')))
            .End()
            .WriteTo(dir / "a.swf");
        CSwfMovie movie;
        ASSERT_TRUE(movie.Extract(dir / "a.swf"));
        EXPECT_EQ(movie.FoundCount(), c.frames ? 1u : 0u);
        if (c.frames == 0) {
            EXPECT_TRUE(movie.Findings().at(0).empty);
            EXPECT_TRUE(movie.Sounds().empty());
            EXPECT_EQ(dir.List(), std::vector<std::string>{"a.swf"});
            continue;
        }
        ASSERT_EQ(movie.Sounds().size(), 1u) << c.declared << " in " << c.dataBytes;
        EXPECT_EQ(movie.Sounds().front().sampleCount, c.frames) << c.declared << " in " << c.dataBytes;
        EXPECT_EQ(movie.ExtractedCount(), 1u);
        const std::string wav = ReadFileBytes(dir / "a_001.wav");
        EXPECT_EQ(wav.size(), 44u + c.frames * (c.stereo ? 4u : 2u)) << c.declared << " in " << c.dataBytes;
        EXPECT_EQ(U32At(wav, 40), wav.size() - 44);
    }
}
