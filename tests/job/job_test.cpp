// The whole job: extraction, conversion to the chosen type, and naming.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/mp3_decoder.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "swf/swf_movie.h"
#include "swf/tag_reader.h"
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

TEST_F(JobTest, AFailedConversionKeepsTheSourceAndLosesTheSound)
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
    EXPECT_EQ(movie.ExtractedCount(), 0u) << "a sound not in the type asked for is lost";
    EXPECT_EQ(movie.Findings().front().loss, SoundLoss::NotConverted);
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
    EXPECT_EQ(movie.ExtractedCount(), 0u);
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

namespace {

std::vector<std::string> NamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST_F(JobTest, AFolderSwappedForALinkMidRunRedirectsNothing)
{
    ASSERT_TRUE(platform::CreateFolder(m_dir / "archive"));
    ASSERT_TRUE(platform::CreateFolder(m_dir / "elsewhere"));
    PcmMovie("archive/m.swf", 2);
    // Between extraction and conversion the movie's folder moves away and a
    // link to another folder takes its name.
    swf_testing::SetAfterExtraction([this] {
        ASSERT_EQ(::rename((m_dir / "archive").c_str(), (m_dir / "moved").c_str()), 0);
        ASSERT_EQ(::symlink("elsewhere", (m_dir / "archive").c_str()), 0);
    });
    CSwfMovie movie;
    const bool ok = movie.Run(m_dir / "archive/m.swf", OutputType::Mp3);
    swf_testing::SetAfterExtraction({});
    ASSERT_TRUE(ok);
    EXPECT_EQ(movie.ExtractedCount(), 2u);
    EXPECT_EQ(NamesIn(m_dir / "moved"), (std::vector<std::string>{"m.swf", "m_001.mp3", "m_002.mp3"}));
    EXPECT_EQ(NamesIn(m_dir / "elsewhere"), std::vector<std::string>{});
}

TEST_F(JobTest, NamesHeldByAnythingArePassedOverAndLongNamesShortened)
{
    ASSERT_EQ(::symlink("nowhere", (m_dir / "m_001.mp3").c_str()), 0);
    ASSERT_EQ(::mkfifo((m_dir / "m_002.mp3").c_str(), 0600), 0);
    ASSERT_TRUE(platform::CreateFolder(m_dir / "m_003.mp3"));
    PcmMovie("m.swf", 2);
    CSwfMovie movie;
    ASSERT_TRUE(movie.Run(m_dir / "m.swf", OutputType::Mp3));
    EXPECT_EQ(movie.ExtractedCount(), 2u);
    std::vector<std::string> paths;
    for (const CSoundElement& s : movie.Sounds())
        paths.push_back(s.path);
    EXPECT_EQ(paths, (std::vector<std::string>{m_dir / "m_004.mp3", m_dir / "m_005.mp3"}));

    // A movie name with no room left for a number still gives every sound a
    // file, under a shorter name that resume knows as the movie's.
    const std::string longName(250, 'n');
    PcmMovie(longName + ".swf", 2);
    ASSERT_TRUE(movie.Run(m_dir / (longName + ".swf"), OutputType::Wav));
    EXPECT_EQ(movie.ExtractedCount(), 2u);
    for (const CSoundElement& s : movie.Sounds()) {
        EXPECT_TRUE(platform::PathExists(s.path)) << s.path;
        EXPECT_TRUE(CSwfMovie::IsOutputName(m_dir / (longName + ".swf"), FileNamePart(s.path))) << s.path;
        EXPECT_FALSE(CSwfMovie::IsOutputName(m_dir / "m.swf", FileNamePart(s.path)));
    }
}

TEST_F(JobTest, WhatATinyMovieCanMakeIsBounded)
{
#if defined(__SANITIZE_THREAD__)
    // One thread here, and ThreadSanitizer's own allocator can't hold what it
    // keeps for the bound's 65,536 files.
    GTEST_SKIP() << "too many files for ThreadSanitizer's bookkeeping";
#endif
    // Empty sounds are listed and neither found nor lost; past the bound,
    // sounds are counted and lost; an export name is cut where it is read.
    SwfBuilder b;
    for (int i = 0; i < 1000; ++i)
        b.Tag(kTagDefineSound, DefineSound(1, 0, 0, false, false, 0, ""));
    const size_t many = kMaxSoundsPerMovie + 10;
    for (size_t i = 0; i < many; ++i)
        b.Tag(kTagDefineSound, DefineSound(2, 0, 0, false, false, 1, "x"));
    const std::string longName(5000, 'e');
    b.Tag(56, std::string("\x01\x00\x02\x00", 4) + longName + std::string(1, '\0'));  // ExportAssets
    b.End().WriteTo(m_dir / "tiny.swf", true);
    CSwfMovie movie;
    ASSERT_TRUE(movie.Run(m_dir / "tiny.swf", OutputType::Wav));
    EXPECT_EQ(movie.FoundCount(), many);
    EXPECT_EQ(movie.ExtractedCount(), kMaxSoundsPerMovie);
    EXPECT_EQ(movie.Sounds().size(), kMaxSoundsPerMovie);
    EXPECT_EQ(movie.Findings().size(), 1000 + kMaxSoundsPerMovie);
    EXPECT_EQ(movie.UnlistedCount(), many - kMaxSoundsPerMovie);
    EXPECT_TRUE(movie.Findings().front().empty);
    EXPECT_EQ(movie.Findings().back().loss, SoundLoss::None);
    EXPECT_EQ(movie.Findings()[1000].exportName.size(), kMaxExportNameBytes);
    EXPECT_EQ(m_dir.List().size(), 1 + kMaxSoundsPerMovie);
}

TEST_F(JobTest, APlainMovieCutShortKeepsTheSoundsBeforeTheCut)
{
    const std::string whole =
        SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 0, 0, false, false, 4, "abcd"))
            .Tag(kTagDefineSound, DefineSound(2, 0, 0, false, false, 600, std::string(600, 'z')))
            .End()
            .Build();
    WriteFileBytes(m_dir / "cut.swf", whole.substr(0, whole.size() - 300));
    CSwfMovie movie;
    ASSERT_TRUE(movie.Run(m_dir / "cut.swf", OutputType::Wav));
    EXPECT_TRUE(movie.CutShort());
    EXPECT_EQ(movie.DeclaredLength(), whole.size());
    EXPECT_EQ(movie.BodyLength(), whole.size() - 300);
    EXPECT_EQ(movie.FoundCount(), 1u);
    WriteFileBytes(m_dir / "whole.swf", whole);
    ASSERT_TRUE(movie.Run(m_dir / "whole.swf", OutputType::Wav));
    EXPECT_FALSE(movie.CutShort());
}

TEST_F(JobTest, EveryRecordCountsTheSamplesItsFileHolds)
{
    // Declared counts that lie, odd PCM lengths, ADPCM, streams, MP3 copied
    // and decoded: each record's count is what its file holds; an MP3 file
    // encoded here counts the frames it was given, those of the WAV.
    const auto tone = TestTone(3000, true, 22050);
    SwfBuilder b;
    b.Tag(kTagSoundStreamHead, StreamHead(3, 2, true, true, 500))
        .Tag(kTagSoundStreamBlock, std::string(2001, 's'))
        .Tag(kTagSoundStreamBlock, std::string(1003, 't'))
        .Tag(kTagDefineSound, DefineSound(1, 3, 2, true, false, 9999, std::string(1001, 'p')))
        .Tag(kTagDefineSound, DefineSound(2, 1, 2, true, true, 3000, EncodeAdpcm(tone, true, 4).bytes))
        .Tag(kTagDefineSound, DefineSound(3, 2, 2, false, false, 7, U16(0) + *s_mp3))
        .End()
        .WriteTo(m_dir / "truth.swf");
    std::vector<uint64_t> wavFrames;
    for (const bool toMp3 : {false, true}) {
        CSwfMovie movie;
        ASSERT_TRUE(movie.Run(m_dir / "truth.swf", toMp3 ? OutputType::Mp3 : OutputType::Wav));
        ASSERT_EQ(movie.Sounds().size(), 4u);
        size_t index = 0;
        for (const CSoundElement& s : movie.Sounds()) {
            uint64_t frames = 0;
            if (s.isMp3 && s.format != 2) {
                frames = wavFrames.at(index);
            } else if (s.isMp3) {
                CMp3Decoder decoder;
                ASSERT_TRUE(decoder.Open(s.path));
                std::array<int16_t, kMp3MaxFrameSamples> left{};
                std::array<int16_t, kMp3MaxFrameSamples> right{};
                for (bool end = false; !end;) {
                    size_t count = 0;
                    ASSERT_TRUE(decoder.Decode(left.data(), right.data(), count, end));
                    frames += count;
                }
            } else {
                const std::string wav = ReadFileBytes(s.path);
                frames = (wav.size() - 44) / (s.channels * s.bits / 8u);
                wavFrames.push_back(frames);
            }
            EXPECT_EQ(s.sampleCount, frames) << s.path << (toMp3 ? " /mp3" : " /wav");
            ++index;
        }
        for (const CSoundElement& s : movie.Sounds())
            platform::DeleteFile(s.path);
    }
}
