// --soundtrack on the command line: a file beside each movie, its record,
// its listing, and resume.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/program.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace {

// Two frames at 12 a second, each starting a tenth of a second of tone.
void TimelineMovie(const std::string& path)
{
    const auto tone = TestTone(2205, false, 22050);
    std::string pcm;
    for (const int16_t s : tone)
        pcm += U16(static_cast<uint16_t>(s));
    SwfBuilder()
        .Tag(kTagDefineSound, DefineSound(1, 3, 2, true, false, 2205, pcm))
        .Tag(kTagStartSound, StartSound(1))
        .Tag(kTagShowFrame, "")
        .Tag(kTagStartSound, StartSound(1))
        .Tag(kTagShowFrame, "")
        .End()
        .WriteTo(path);
}

}  // namespace

TEST(SoundtrackCli, AFileBesideEachMovieARecordAndAPlanThatAgree)
{
    TempDir dir;
    TimelineMovie(dir / "cartoon.swf");
    PcmMovie(dir / "silent.swf");  // its sound no timeline starts
    Result r = RunProgram(dir, "--soundtrack /flac cartoon.swf silent.swf --report=r.jsonl /m");
    EXPECT_EQ(r.status, 0);
    // Frame 1 starts at 3675: the second start ends 0.1 s later.
    EXPECT_EQ(r.out, "Conversion results:\n\ncartoon.swf: Soundtrack, 0.183 s\nsilent.swf: no timeline sound\n");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"cartoon.swf", "cartoon_soundtrack.flac", "r.jsonl", "silent.swf"}));
    const auto records = Records(ReadFileBytes(dir / "r.jsonl"));
    const auto record = nlohmann::json::parse(records.at("cartoon.swf"));
    EXPECT_EQ(record["soundtrack"]["samples"], 3675 + 4410);
    EXPECT_EQ(record["soundtrack"]["instances"], 2);
    EXPECT_EQ(record["soundtrack"]["output"]["type"], "flac");
    EXPECT_EQ(nlohmann::json::parse(records.at("silent.swf"))["soundtrack"]["unstarted_sounds"].size(), 1u);
    EXPECT_NE(CheckReportSchema(dir / "r.jsonl"), 1);

    // The plan says what the file holds, and writes nothing.
    const auto files = Snapshot(dir.Path());
    r = RunProgram(dir, "--list --soundtrack cartoon.swf silent.swf --report=plan.jsonl");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("soundtrack: 0.183 s (8085 samples at 44100 Hz), 2 frames at 12 frames a second"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("not heard: sound 1 no timeline starts"), std::string::npos) << r.out;
    const auto plan = nlohmann::json::parse(Records(ReadFileBytes(dir / "plan.jsonl")).at("cartoon.swf"));
    EXPECT_EQ(plan["soundtrack"]["samples"], record["soundtrack"]["samples"]);
    std::filesystem::remove(dir / "plan.jsonl");
    EXPECT_EQ(Differences(Snapshot(dir.Path()), files), "");

    // Resumed, nothing is made again; a soundtrack and a conversion are
    // records apart.
    r = RunProgram(dir, "--soundtrack /flac cartoon.swf --report=r.jsonl --resume /m");
    EXPECT_EQ(r.out, "Conversion results:\n\ncartoon.swf: Soundtrack, 0.183 s\n");
    EXPECT_EQ(Differences(Snapshot(dir.Path()), files), "");
    r = RunProgram(dir, "cartoon.swf --report=r.jsonl --resume /m");
    EXPECT_EQ(r.out, "Conversion results:\n\ncartoon.swf: 1/1 Extracted\n");
    EXPECT_TRUE(std::filesystem::exists(dir / "cartoon.mp3"));

    // How long started sounds ring on is the user's to say.
    r = RunProgram(dir, "--soundtrack /wav cartoon.swf --soundtrack-tail=0 /m");
    EXPECT_EQ(r.out, "Conversion results:\n\ncartoon.swf: Soundtrack, 0.167 s\n");
    EXPECT_EQ(RunProgram(dir, "--soundtrack cartoon.swf --soundtrack-tail=x").status, 2);
}

TEST(SoundtrackCli, AMovieCutShortIsPartialWhereverItIsTold)
{
    // The second frame's start and the End tag are cut off; then the sound too.
    TempDir dir;
    TimelineMovie(dir / "whole.swf");
    const std::string whole = ReadFileBytes(dir / "whole.swf");
    WriteFileBytes(dir / "cut.swf", whole.substr(0, whole.size() - 8));
    WriteFileBytes(dir / "early.swf", whole.substr(0, 200));
    const std::string cutWords = "cut short: " + std::to_string(whole.size() - 8) + " of " + std::to_string(whole.size()) + " bytes";

    Result r = RunProgram(dir, "--soundtrack /wav cut.swf early.swf --report=r.jsonl /m");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Conversion results:\n\ncut.swf: Soundtrack cut short, 0.100 s\nearly.swf: no timeline sound, cut short\n");
    const auto records = Records(ReadFileBytes(dir / "r.jsonl"));
    const auto record = nlohmann::json::parse(records.at("cut.swf"));
    EXPECT_EQ(record["outcome"], "partial");
    EXPECT_EQ(record["reason"], cutWords);
    EXPECT_EQ(record["soundtrack"]["instances"], 1);
    EXPECT_EQ(nlohmann::json::parse(records.at("early.swf"))["outcome"], "partial");

    r = RunProgram(dir, "--list --soundtrack cut.swf");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(cutWords + ": nothing past there is heard"), std::string::npos) << r.out;
    r = RunProgram(dir, "--list early.swf");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("  cut short: 200 of"), std::string::npos) << r.out;
    r = RunProgram(dir, "--soundtrack /wav whole.swf /m");
    EXPECT_EQ(r.out, "Conversion results:\n\nwhole.swf: Soundtrack, 0.183 s\n");
}

TEST(SoundtrackCli, ASoundThisRunCannotDecodeIsALossNotASilence)
{
    // A Nellymoser start, with the codec library there and with a stand-in
    // for it that won't load, as on a machine without it.
    TempDir dir;
    std::string coded;
    for (int i = 0; i < 512; ++i)
        coded += static_cast<char>(i * 37);
    SwfBuilder()
        .Tag(kTagDefineSound, DefineSound(1, 6, 1, true, false, 512, coded))
        .Tag(kTagStartSound, StartSound(1))
        .Tag(kTagShowFrame, "")
        .End()
        .WriteTo(dir / "nelly.swf");
    std::filesystem::create_directory(dir / "nolib");
    for (int major = 56; major <= 64; ++major)
        WriteFileBytes(dir / ("nolib/libavcodec.so." + std::to_string(major)), "");

    Result r = RunProgram(dir, "--soundtrack /wav nelly.swf --report=r.jsonl /m", "LD_LIBRARY_PATH=nolib");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("nelly.swf: Soundtrack, 0.083 s, 1 started sound(s) not played"), std::string::npos) << r.out;
    const auto record = nlohmann::json::parse(Records(ReadFileBytes(dir / "r.jsonl")).at("nelly.swf"));
    EXPECT_EQ(record["outcome"], "partial");
    EXPECT_EQ(record["soundtrack"]["unplayed"], 1);
    EXPECT_EQ(record["soundtrack"]["warnings"][0], "sound 1 is not played: this build has no Nellymoser decoder");
    EXPECT_NE(CheckReportSchema(dir / "r.jsonl"), 1);
    // A stream of it, likewise.
    SwfBuilder()
        .Tag(kTagSoundStreamHead, StreamHead(6, 1, true, false, 256))
        .Tag(kTagSoundStreamBlock, coded)
        .Tag(kTagShowFrame, "")
        .End()
        .WriteTo(dir / "stream.swf");
    r = RunProgram(dir, "--soundtrack /wav stream.swf /m", "LD_LIBRARY_PATH=nolib");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("stream.swf: Soundtrack, 0.083 s, 1 started sound(s) not played"), std::string::npos) << r.out;
    // Where extraction can decode it, so can the soundtrack.
    if (RunProgram(dir, "--list /wav nelly.swf").status == 0) {
        EXPECT_EQ(RunProgram(dir, "--soundtrack /wav nelly.swf /m").out,
                  "Conversion results:\n\nnelly.swf: Soundtrack, 0.186 s\n");
    }
}
