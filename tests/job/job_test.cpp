// The whole job: extraction, conversion to the chosen type, and naming.
#include <gtest/gtest.h>

#include <map>

#include "platform/file.h"
#include "platform/folders.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "swf/swf_movie.h"
#include "util/paths.h"

namespace {

class JobTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_mp3 = new std::string(Mp3Bytes(TestTone(11025, false, 22050), false, 22050));
    }
    static void TearDownTestSuite() { delete s_mp3; }

    // One MP3 event sound of a second.
    std::string Mp3Movie(const std::string& name) const
    {
        WriteFileBytes(m_dir / name, Mp3SoundMovie(*s_mp3, 2, false, 11025));
        return m_dir / name;
    }
    // One 16-bit ADPCM event sound, or several PCM ones.
    std::string AdpcmMovie(const std::string& name) const
    {
        const auto tone = TestTone(5000, true, 22050);
        SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 1, 2, true, true, 5000, EncodeAdpcm(tone, true, 4).bytes))
            .End()
            .WriteTo(m_dir / name);
        return m_dir / name;
    }
    std::string PcmMovie(const std::string& name, int sounds) const
    {
        SwfBuilder b;
        for (int i = 0; i < sounds; ++i)
            b.Tag(kTagDefineSound, DefineSound(1, 0, 3, false, true, 1500, std::string(3000, static_cast<char>(0x80 + i))));
        b.End().WriteTo(m_dir / name);
        return m_dir / name;
    }

    static std::string* s_mp3;
    TempDir m_dir;
};

std::string* JobTest::s_mp3 = nullptr;

}  // namespace

TEST_F(JobTest, SingleMp3SoundBothWays)
{
    CSwfMovie movie;
    ASSERT_TRUE(movie.Run(Mp3Movie("intro.swf"), OutputType::Mp3));
    ASSERT_EQ(movie.Sounds().size(), 1u);
    EXPECT_EQ(movie.Sounds().front().path, m_dir / "intro.mp3");
    EXPECT_EQ(ReadFileBytes(m_dir / "intro.mp3"), *s_mp3);

    ASSERT_TRUE(movie.Run(Mp3Movie("song.swf"), OutputType::Wav));
    ASSERT_EQ(movie.Sounds().size(), 1u);
    const CSoundElement& s = movie.Sounds().front();
    EXPECT_EQ(s.path, m_dir / "song.wav");
    EXPECT_EQ(s.bits, 16);
    EXPECT_EQ(s.isMp3, 0u);
    EXPECT_EQ(s.sampleRate, 22050u);
    // What the WAV holds: the encoder's delay and padding included.
    EXPECT_EQ(s.sampleCount, (ReadFileBytes(s.path).size() - 44) / 2);
    EXPECT_GE(s.sampleCount, 11025u);
    EXPECT_FALSE(platform::PathExists(m_dir / "song_001.mp3"));
}

TEST_F(JobTest, AdpcmToMp3RecordsTheEncodersValues)
{
    CSwfMovie movie;
    ASSERT_TRUE(movie.Run(AdpcmMovie("a.swf"), OutputType::Mp3));
    ASSERT_EQ(movie.Sounds().size(), 1u);
    const CSoundElement& s = movie.Sounds().front();
    EXPECT_EQ(s.path, m_dir / "a.mp3");
    EXPECT_EQ(s.isMp3, 1u);
    EXPECT_EQ(s.sampleCount, 5000u);
    EXPECT_EQ(s.sampleRate, 22050u);
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"a.mp3", "a.swf"}));
}

TEST_F(JobTest, ExistingFilesAreNeverReplaced)
{
    // The folder already holds what earlier runs or the user left.
    WriteFileBytes(m_dir / "intro.mp3", "keep 1");
    WriteFileBytes(m_dir / "intro_001.mp3", "keep 2");
    WriteFileBytes(m_dir / "intro_002.wav", "keep 3");
    PcmMovie("intro.swf", 1);
    CSwfMovie movie;
    for (bool toMp3 : {true, false, true}) {
        ASSERT_TRUE(movie.Run(m_dir / "intro.swf", toMp3 ? OutputType::Mp3 : OutputType::Wav));
        ASSERT_EQ(movie.Sounds().size(), 1u);
        EXPECT_TRUE(platform::PathExists(movie.Sounds().front().path));
    }
    EXPECT_EQ(ReadFileBytes(m_dir / "intro.mp3"), "keep 1");
    EXPECT_EQ(ReadFileBytes(m_dir / "intro_001.mp3"), "keep 2");
    EXPECT_EQ(ReadFileBytes(m_dir / "intro_002.wav"), "keep 3");
    // First run: extracted as _001.wav, converted past the taken _001.mp3 to
    // the next free number; the second finds intro.wav free.
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"intro.mp3", "intro.swf", "intro.wav", "intro_001.mp3",
                                                      "intro_002.mp3", "intro_002.wav", "intro_003.mp3"}));
}

TEST_F(JobTest, NumberedNamesStayWhenTheShortNameIsTakenOrThereAreSeveral)
{
    WriteFileBytes(m_dir / "intro.mp3", "mine");
    CSwfMovie movie;
    ASSERT_TRUE(movie.Run(Mp3Movie("intro.swf"), OutputType::Mp3));
    EXPECT_EQ(movie.Sounds().front().path, m_dir / "intro_001.mp3");
    EXPECT_EQ(ReadFileBytes(m_dir / "intro.mp3"), "mine");

    ASSERT_TRUE(movie.Run(PcmMovie("two.swf", 2), OutputType::Mp3));
    ASSERT_EQ(movie.Sounds().size(), 2u);
    EXPECT_EQ(movie.Sounds().front().path, m_dir / "two_001.mp3");
    EXPECT_EQ(movie.Sounds().back().path, m_dir / "two_002.mp3");
}

TEST_F(JobTest, OnlyTheNumberEndingTheNameIsDropped)
{
    ASSERT_TRUE(platform::CreateFolder(m_dir / "set_001"));
    ASSERT_TRUE(platform::CreateFolder(m_dir / "set"));
    WriteFileBytes(m_dir / "set_001/take_001.swf", Mp3SoundMovie(*s_mp3, 2, false, 11025));
    CSwfMovie movie;
    ASSERT_TRUE(movie.Run(m_dir / "set_001/take_001.swf", OutputType::Mp3));
    // take_001_001.mp3 loses its last "_001" only.
    EXPECT_EQ(movie.Sounds().front().path, m_dir / "set_001/take_001.mp3");
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"set", "set_001"}));
}

TEST_F(JobTest, NotAMovie)
{
    WriteFileBytes(m_dir / "x.swf", "plain text");
    CSwfMovie movie;
    EXPECT_FALSE(movie.Run(m_dir / "x.swf", OutputType::Mp3));
    EXPECT_TRUE(movie.Sounds().empty());
    long extracted = -1;
    EXPECT_FALSE(ConvertSwfFile(m_dir / "x.swf", &extracted, nullptr, nullptr, OutputType::Mp3));
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"x.swf"}));
}

TEST_F(JobTest, AFailedConversionKeepsTheSource)
{
    PcmMovie("full.swf", 1);
    // Room for the extracted WAV but not for the MP3.
    platform::testing::SetWriteBudget(44 + 3000 + 8 + 100);
    CSwfMovie movie;
    const bool ok = movie.Run(m_dir / "full.swf", OutputType::Mp3);
    platform::testing::SetWriteBudget(-1);
    ASSERT_TRUE(ok);
    ASSERT_EQ(movie.Sounds().size(), 1u);
    EXPECT_EQ(movie.Sounds().front().path, m_dir / "full.wav");
    EXPECT_EQ(movie.Sounds().front().isMp3, 0u);
    EXPECT_EQ(ReadFileBytes(m_dir / "full.wav").size(), 44u + 3000u);
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"full.swf", "full.wav"}));

    // "MP3" data without a single frame the decoder could find: the file
    // stays as extracted, and no WAV is left.
    const std::string noFrames(2000, '\x55');
    WriteFileBytes(m_dir / "bad.swf", Mp3SoundMovie(noFrames, 2, false, 11025));
    ASSERT_TRUE(movie.Run(m_dir / "bad.swf", OutputType::Wav));
    ASSERT_EQ(movie.Sounds().size(), 1u);
    const CSoundElement& s = movie.Sounds().front();
    EXPECT_EQ(s.isMp3, 1u);
    EXPECT_EQ(s.path, m_dir / "bad.mp3");
    EXPECT_EQ(ReadFileBytes(s.path), noFrames);
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"bad.mp3", "bad.swf", "full.swf", "full.wav"}));
}

TEST_F(JobTest, ConvertSwfFileCountsAndPaths)
{
    long extracted = 0;
    long total = 0;
    std::list<std::string> paths;
    ASSERT_TRUE(ConvertSwfFile(PcmMovie("three.swf", 3), &extracted, &total, &paths, OutputType::Wav));
    EXPECT_EQ(extracted, 3);
    EXPECT_EQ(total, 3);
    EXPECT_EQ(paths, (std::list<std::string>{m_dir / "three_001.wav", m_dir / "three_002.wav", m_dir / "three_003.wav"}));
}

TEST(Containers, TheSameMovieAsFwsCwsAndZwsGivesTheSameFiles)
{
    const auto tone = TestTone(6000, true, 22050);
    const std::string pcm(reinterpret_cast<const char*>(tone.data()), tone.size() * 2);
    SwfBuilder b;
    b.Tag(kTagSoundStreamHead, StreamHead(1, 2, true, true, 4096))
        .Tag(kTagDefineSound, DefineSound(1, 3, 2, true, true, 6000, pcm))
        .Tag(kTagSoundStreamBlock, EncodeAdpcm(std::vector<int16_t>(tone.begin(), tone.begin() + 8192), true, 4).bytes)
        .Tag(kTagDefineSound, DefineSound(2, 2, 2, true, false, 11025,
                                          U16(0) + Mp3Bytes(TestTone(11025, false, 22050), false, 22050)))
        .End();
    const std::string forms[] = {b.Build(false), b.Build(true), b.BuildZws(true), b.BuildZws(false)};
    for (const bool toMp3 : {true, false}) {
        std::map<std::string, std::string> first;
        for (const std::string& bytes : forms) {
            TempDir dir;
            WriteFileBytes(dir / "m.swf", bytes);
            CSwfMovie movie;
            ASSERT_TRUE(movie.Run(dir / "m.swf", toMp3 ? OutputType::Mp3 : OutputType::Wav)) << bytes.substr(0, 3);
            EXPECT_EQ(movie.ExtractedCount(), 3u);
            std::map<std::string, std::string> files;
            for (const std::string& name : dir.List())
                files[name] = ReadFileBytes(dir / name);
            files.erase("m.swf");
            if (first.empty())
                first = files;
            EXPECT_EQ(files.size(), 3u);
            EXPECT_TRUE(files == first) << bytes.substr(0, 3) << (toMp3 ? " to MP3" : " to WAV");
        }
    }
    // A ZWS movie declaring more than its stream holds fails; its header
    // still reads.
    TempDir dir;
    WriteFileBytes(dir / "lie.swf", SwfBuilder(b).DeclaredLength(static_cast<uint32_t>(forms[0].size() + 50)).BuildZws(true));
    CSwfMovie movie;
    EXPECT_FALSE(movie.Load(dir / "lie.swf", false));
    SwfHeaderInfo info;
    EXPECT_TRUE(CSwfMovie::GetHeaderInfo(dir / "lie.swf", &info));
    EXPECT_EQ(info.width, 550);
}

TEST_F(JobTest, ExportNamesNameTheFilesWhenAsked)
{
    // Two sounds named alike, one a file system would refuse, one unnamed.
    SwfBuilder b;
    for (uint16_t id = 1; id <= 4; ++id)
        b.Tag(kTagDefineSound, DefineSound(id, 0, 1, false, false, 100, std::string(100, static_cast<char>(id))));
    b.Tag(56, U16(3) + U16(1) + "boom" + '\0' + U16(2) + "boom" + '\0' + U16(3) + "sfx/a:b" + '\0').End();
    b.WriteTo(m_dir / "g.swf");
    WriteFileBytes(m_dir / "g_boom_001.wav", "mine");
    CSwfMovie movie;
    ASSERT_TRUE(movie.Run(m_dir / "g.swf", OutputType::Wav, true));
    std::vector<std::string> names;
    for (const CSoundElement& s : movie.Sounds())
        names.emplace_back(FileNamePart(s.path));
    EXPECT_EQ(names, (std::vector<std::string>{"g_boom.wav", "g_boom_002.wav", "g_sfx_a_b.wav", "g_004.wav"}));
    EXPECT_EQ(ReadFileBytes(m_dir / "g_boom_001.wav"), "mine");
    EXPECT_EQ(ReadFileBytes(m_dir / "g_boom_002.wav").substr(44), std::string(100, '\x02'));

    // Without the option the numbers stay.
    ASSERT_TRUE(movie.Run(m_dir / "g.swf", OutputType::Wav));
    EXPECT_EQ(FileNamePart(movie.Sounds().front().path), "g_001.wav");
}
