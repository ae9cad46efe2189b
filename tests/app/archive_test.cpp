// Archive runs: the report, movie lists, resuming, shards.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <set>
#include <sys/wait.h>
#include <thread>

#include "app/program.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace {

// One run over an archive of count movies in whole, with its report; the
// same archive, unconverted, in dir. The names of the movies.
std::vector<std::string> ArchiveTwice(const TempDir& whole, const TempDir& dir, int count, const std::string& list)
{
    const auto names = MakeArchive(whole, count);
    WriteFileBytes(whole / list, Joined(names));
    EXPECT_EQ(RunProgram(whole, "--files-from=" + list + " --report=report.jsonl").status, 1);
    MakeArchive(dir, count);
    WriteFileBytes(dir / list, Joined(names));
    return names;
}

}  // namespace

TEST(Archive, TheReportHoldsEveryMovieAndValidates)
{
    TempDir dir;
    const auto names = MakeArchive(dir, 12);
    WriteFileBytes(dir / "list.txt", Joined(names));
    const Result r = RunProgram(dir, "/wav --files-from=list.txt --report=report.jsonl --names=export /m");
    EXPECT_EQ(r.status, 1);
    const auto records = Records(ReadFileBytes(dir / "report.jsonl"));
    ASSERT_EQ(records.size(), names.size());
    // Outcomes in words, and the results line agrees with the record.
    EXPECT_NE(records.at("m5.swf").find("\"outcome\":\"failed\",\"reason\":\"not a movie"), std::string::npos);
    EXPECT_NE(records.at("m1.swf").find("\"outcome\":\"partial\""), std::string::npos);
    EXPECT_NE(records.at("m1.swf").find("lost: format 9 is no known sound format"), std::string::npos);
    EXPECT_NE(records.at("m0.swf").find("\"outcome\":\"converted\""), std::string::npos);
    EXPECT_NE(r.out.find("m0.swf: 1/1 Extracted\nm1.swf: 1/2 Extracted\nm2.swf: 1/1 Extracted\nclip_003.swf"),
              std::string::npos);
    // A named sound is written under its name.
    EXPECT_NE(records.at("m0.swf").find("\"name\":\"sound 0\""), std::string::npos);
    EXPECT_TRUE(Snapshot(dir.Path()).count("m0_sound 0.wav"));

    // Every hash in the report is the file's, computed by another tool.
    ASSERT_EQ(RunQuiet("cd " + ShellQuote(dir.Path()) +
                       " && grep -o '\"path\":\"[^\"]*\",\"type\":\"wav\",\"size\":[0-9]*,\"sha256\":\"[0-9a-f]*' "
                       "report.jsonl | sed 's/\"path\":\"\\([^\"]*\\)\".*\"sha256\":\"\\(.*\\)/\\2  \\1/' > sums.txt "
                       "&& test -s sums.txt && sha256sum --check --strict sums.txt"),
              0);

    // Every record validates against the schema kept with the program.
    const int valid = CheckReportSchema(dir / "report.jsonl");
    if (valid < 0)
        GTEST_SKIP() << "no python3 with jsonschema";
    EXPECT_EQ(valid, 0);
}

TEST(Archive, AResumedRunEndsAsAnUninterruptedOne)
{
    TempDir whole;
    const auto names = MakeArchive(whole, 40);
    WriteFileBytes(whole / "list.txt", Joined(names));
    const std::vector<std::string> args{"--files-from=list.txt", "--report=report.jsonl", "--jobs=2"};
    int status = 0;
    ::waitpid(StartProgram(whole, args), &status, 0);
    const auto expected = Records(ReadFileBytes(whole / "report.jsonl"));
    ASSERT_EQ(expected.size(), names.size());

    // Stopped once a few movies are done, then resumed.
    TempDir dir;
    MakeArchive(dir, 40);
    WriteFileBytes(dir / "list.txt", Joined(names));
    const pid_t pid = StartProgram(dir, args);
    for (int i = 0; i < 500 && Lines(ReadFileBytes(dir / "report.jsonl")).size() < 5; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(pid, SIGTERM);
    ::waitpid(pid, &status, 0);
    const size_t before = Lines(ReadFileBytes(dir / "report.jsonl")).size();
    EXPECT_LT(before, names.size()) << "the run ended before it was stopped";
    std::vector<std::string> resumed = args;
    resumed.push_back("--resume");
    ::waitpid(StartProgram(dir, resumed), &status, 0);

    // Paths are relative, so records and outputs compare across folders.
    EXPECT_TRUE(Records(ReadFileBytes(dir / "report.jsonl")) == expected);
    EXPECT_TRUE(Outputs(dir) == Outputs(whole));

    // Once more over the unchanged archive: converted movies are not done
    // again, and what is redone (partial, failed) ends as it did.
    const auto outputs = Outputs(dir);
    const size_t lines = Lines(ReadFileBytes(dir / "report.jsonl")).size();
    const Result again = RunProgram(dir, "--files-from=list.txt --report=report.jsonl --resume --jobs=2 /m");
    EXPECT_TRUE(Outputs(dir) == outputs);
    EXPECT_TRUE(Records(ReadFileBytes(dir / "report.jsonl")) == expected);
    const size_t redone = static_cast<size_t>(std::count_if(expected.begin(), expected.end(), [](const auto& r) {
        return r.second.find("\"outcome\":\"converted\"") == std::string::npos;
    }));
    EXPECT_EQ(Lines(ReadFileBytes(dir / "report.jsonl")).size(), lines + redone);
    EXPECT_NE(again.out.find("m0.swf: 1/1 Extracted"), std::string::npos);
}

TEST(Archive, ShardsTogetherMakeOneRun)
{
    TempDir whole;
    TempDir dir;
    const auto names = ArchiveTwice(whole, dir, 30, "list.txt");
    std::string reports;
    std::set<size_t> sizes;
    for (int k = 1; k <= 3; ++k) {
        const std::string report = "shard" + std::to_string(k) + ".jsonl";
        RunProgram(dir, "--files-from=list.txt --shard=" + std::to_string(k) + "/3 --report=" + report);
        const std::string text = ReadFileBytes(dir / report);
        sizes.insert(Lines(text).size());
        reports += text;
    }
    EXPECT_EQ(Lines(reports).size(), names.size());
    EXPECT_GT(sizes.size(), 1u) << "the shards split nothing";
    EXPECT_TRUE(Records(reports) == Records(ReadFileBytes(whole / "report.jsonl")));
    EXPECT_TRUE(Outputs(dir) == Outputs(whole));
}

TEST(Archive, TheReadmeRecipeForGnuParallel)
{
    if (!HaveTool("parallel"))
        GTEST_SKIP() << "GNU parallel not installed";
    TempDir whole;
    TempDir dir;
    std::string list;
    for (const std::string& name : ArchiveTwice(whole, dir, 20, "movies.txt"))
        list += name + '\0';
    WriteFileBytes(dir / "movies.list0", list);
    // As the README gives it, with this build's program.
    const std::string recipe =
        "parallel --will-cite --jobs 3 ORVELLIN --null --files-from=movies.list0 --shard={}/3 --jobs=1 "
        "--report=report-{}.jsonl ::: 1 2 3; cat report-*.jsonl > report.jsonl";
    std::string command = recipe;
    command.replace(command.find("ORVELLIN"), 8, ShellQuote(ORVELLIN_BINARY));
    WriteFileBytes(dir / "recipe.sh", command + "\n");
    EXPECT_EQ(RunQuiet("cd " + ShellQuote(dir.Path()) + " && env -u DISPLAY HOME=" + ShellQuote(dir.Path()) +
                       " sh recipe.sh"),
              0);
    EXPECT_TRUE(Records(ReadFileBytes(dir / "report.jsonl")) == Records(ReadFileBytes(whole / "report.jsonl"))) ;
    EXPECT_TRUE(Outputs(dir) == Outputs(whole));
}

TEST(Archive, ProgressShowsOnATerminalOnly)
{
    if (!HaveTool("script"))
        GTEST_SKIP() << "no script(1) to give the program a terminal";
    TempDir dir;
    PcmMovie(dir / "a.swf");
    PcmMovie(dir / "b.swf", 2);
    // What the program writes to standard error, run on a terminal or not.
    const auto errors = [&](const std::string& args, bool terminal) {
        if (!terminal)  // without /m nothing goes to standard output
            return RunProgram(dir, args, "", true).out;
        const std::string inner = "env -u DISPLAY HOME=" + ShellQuote(dir.Path()) + " " + ShellQuote(ORVELLIN_BINARY) +
                                  " " + args + " 2>&1 >/dev/null";
        return RunProgram(dir, "", "script -qec " + ShellQuote(inner) + " /dev/null; true").out;
    };
    const std::string shown = errors("a.swf b.swf", true);
    EXPECT_NE(shown.find("2/2 movies, 3 sounds, 0:00 elapsed, about 0:00 left"), std::string::npos) << shown;
    EXPECT_EQ(shown.back(), '\n');
    EXPECT_EQ(errors("--quiet a.swf b.swf", true), "");
    EXPECT_EQ(errors("a.swf b.swf", false), "");
    EXPECT_NE(errors("--jobs=0 a.swf", false), "") << "the check itself sees standard error";
}
