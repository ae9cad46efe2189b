// An archive run tried as a careless or hostile archive would: one movie
// under many spellings, records cut or superseded, two runs writing one
// name, a worker's folder swapped under it, records too large to hold.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "app/program.h"
#include "app/report.h"
#include "app/workers.h"
#include "platform/file.h"
#include "platform/pending_file.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace {

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST(Trust, EverySpellingOfAMovieIsOneMovie)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "archive");
    PcmMovie(dir / "archive/m.swf", 3);
    ASSERT_EQ(::symlink("archive", (dir / "link").c_str()), 0);
    ASSERT_EQ(::link((dir / "archive/m.swf").c_str(), (dir / "archive/h.swf").c_str()), 0);
    ASSERT_EQ(RunProgram(dir, "archive/m.swf --report=r.jsonl").status, 0);
    const auto files = Snapshot(dir.Path());
    for (const std::string& spelling : std::vector<std::string>{"./archive/m.swf", "archive//m.swf", "archive/./m.swf",
                                                                "link/m.swf", "archive/../archive/m.swf",
                                                                dir / "archive/m.swf", "archive/h.swf"}) {
        const Result r = RunProgram(dir, spelling + " --report=r.jsonl --resume /m");
        EXPECT_EQ(r.status, 0) << spelling;
        EXPECT_EQ(Count(r.out, "3/3 Extracted"), 1u) << spelling << ": " << r.out;
        auto now = Snapshot(dir.Path());
        now.erase("r.jsonl");
        auto was = files;
        was.erase("r.jsonl");
        EXPECT_TRUE(now == was) << spelling << " converted again:\n" << Differences(now, was);
    }
    // A movie named by its extension alone has outputs of a name, and resumes.
    PcmMovie(dir / ".swf");
    ASSERT_EQ(RunProgram(dir, ".swf --report=r.jsonl").status, 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "swf.mp3"));
    const auto once = Snapshot(dir.Path());
    EXPECT_EQ(RunProgram(dir, ".swf --report=r.jsonl --resume").status, 0);
    EXPECT_EQ(Differences(Snapshot(dir.Path()), once), "");
}

TEST(Trust, RunsWhoseRecordWasLostConvergeOnOneSetOfFiles)
{
    // A full disk cut the record of a movie whose outputs are all there:
    // resume does it again and takes those outputs back, however often.
    TempDir dir;
    PcmMovie(dir / "m.swf", 4);
    ASSERT_EQ(RunProgram(dir, "m.swf --report=r.jsonl").status, 0);
    const auto outputs = Outputs(dir);
    ASSERT_EQ(outputs.size(), 4u);
    const std::string record = ReadFileBytes(dir / "r.jsonl");
    // The movie's size and hash are those of the bytes read.
    uint64_t size = 0;
    std::string sha;
    ASSERT_TRUE(FileDigest(dir / "m.swf", size, sha));
    EXPECT_NE(record.find("\"size\":" + std::to_string(size) + ",\"sha256\":\"" + sha + "\""), std::string::npos) << record;
    for (int run = 0; run < 3; ++run) {
        WriteFileBytes(dir / "r.jsonl", record.substr(0, record.size() - 40));
        const Result r = RunProgram(dir, "m.swf --report=r.jsonl --resume /m");
        EXPECT_EQ(r.out, "Conversion results:\n\nm.swf: 4/4 Extracted\n");
        EXPECT_EQ(Differences(Outputs(dir), outputs), "") << run;
    }
}

TEST(Trust, AFailedRedoOrAListingNeverHidesAGoodRecord)
{
    TempDir dir;
    PcmMovie(dir / "m.swf", 3);
    ASSERT_EQ(RunProgram(dir, "m.swf --report=r.jsonl").status, 0);
    const auto outputs = Outputs(dir);
    // One output gone: the next resume does the movie again, and its worker dies.
    std::filesystem::remove(dir / "m_002.mp3");
    EXPECT_EQ(RunProgram(dir, "m.swf --report=r.jsonl --resume", "ORVELLIN_TEST_ABORT_ON=m.swf").status, 1);
    EXPECT_EQ(RunProgram(dir, "--list m.swf --report=r.jsonl").status, 0);
    // Neither record hides the one of the outputs: the next resume replaces them.
    const Result r = RunProgram(dir, "m.swf --report=r.jsonl --resume /m");
    EXPECT_EQ(r.out, "Conversion results:\n\nm.swf: 3/3 Extracted\n");
    EXPECT_EQ(Differences(Outputs(dir), outputs), "");
}

TEST(Trust, TwoRunsWritingOneNameAtOnceLoseNothing)
{
    // game.swf and game.SWF share their outputs' names in one folder: two
    // runs at once (shards, or a window beside a batch) must not take each
    // other's files for what a killed run left.
    const auto tone = TestTone(44100 * 8, true, 44100);
    const std::string pcm(reinterpret_cast<const char*>(tone.data()), tone.size() * 2);
    for (int round = 0; round < 3; ++round) {
        TempDir dir;
        for (const char* name : {"game.swf", "game.SWF"}) {
            SwfBuilder b;
            for (uint16_t id = 1; id <= 5; ++id)
                b.Tag(kTagDefineSound, DefineSound(id, 3, 3, true, true, 44100 * 8, pcm));
            b.End().WriteTo(dir / name);
        }
        // The second starts while the first writes.
        const Result r = RunProgram(dir, "game.swf /m", "sh -c '\"$0\" game.SWF /m & sleep 0.1; \"$0\" \"$@\"; wait'");
        EXPECT_EQ(Count(r.out, "5/5 Extracted"), 2u) << r.out;
        size_t mp3 = 0;
        for (const std::string& name : dir.List())
            mp3 += name.ends_with(".mp3") ? 1 : 0;
        EXPECT_EQ(mp3, 10u) << round;
        EXPECT_EQ(dir.List().size(), 12u) << "no temporary or lock file stays";
    }
}

TEST(Trust, ADeadWorkersFilesGoThroughItsFolderNotItsPath)
{
    // The worker makes a file, then a folder above it is swapped for a link
    // to a place that holds the same names, and the worker dies.
    TempDir dir;
    std::filesystem::create_directories(dir / "a/sub");
    std::filesystem::create_directories(dir / "elsewhere/sub");
    WriteFileBytes(dir / "elsewhere/sub/.x.mp3.part", "someone else's");
    const auto work = [&](size_t) -> std::string {
        auto folder = std::make_shared<platform::Folder>();
        platform::PendingFile file;
        if (!folder->Open(dir / "a/sub") || !file.CreateIn(folder, "x.mp3"))
            return "no file";
        std::filesystem::rename(dir / "a", dir / "moved");
        std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "a");
        ::raise(SIGKILL);
        return "";
    };
    std::vector<std::string> failures;
    RunWorkers({{0}}, WorkerLimits{}, work,
               [&](size_t, const WorkerOutcome& outcome) { failures.push_back(outcome.failure); });
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("signal 9"), std::string::npos) << failures[0];
    EXPECT_EQ(ReadFileBytes(dir / "elsewhere/sub/.x.mp3.part"), "someone else's");
    EXPECT_TRUE(std::filesystem::is_empty(dir / "moved/sub")) << "the worker's own file goes";
}

TEST(Trust, ARecordCostsWhatItKeeps)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address space limit";
#endif
    // A flat line of 48 MiB under the movie's path, read under 300 MB of
    // address space: kept whole as a tree it would take ten times that.
    TempDir dir;
    PcmMovie(dir / "m.swf");
    std::string line = "{\"path\":\"m.swf\",\"outcome\":\"converted\",\"sounds\":[";
    line.reserve(size_t{49} << 20);
    while (line.size() < (size_t{48} << 20))
        line += "1,";
    line += "1]}\n";
    WriteFileBytes(dir / "r.jsonl", line);
    line.clear();
    const Result r = RunProgram(dir, "m.swf --report=r.jsonl --resume /m", "sh -c 'ulimit -v 300000; exec \"$0\" \"$@\"'",
                                true);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("m.swf: 1/1 Extracted"), std::string::npos) << r.out;
}

TEST(Trust, AListingCountsAsTheConversionItStandsFor)
{
    TempDir dir;
    PcmMovie(dir / "clean.swf", 3);
    // "MP3" data without a frame: kept as they are, lost to WAV and FLAC.
    WriteFileBytes(dir / "bad.swf", Mp3SoundMovie(std::string(500, '\x55'), 2, false, 11025));
    const struct {
        const char* type;
        const char* clean;
        const char* bad;
        int status;
    } cases[] = {
        {"/keep", "3/3", "1/1", 0},
        {"/mp3", "3/3", "1/1", 0},
        {"/wav", "3/3", "0/1", 1},
        {"/flac", "3/3", "0/1", 1},
    };
    for (const auto& c : cases) {
        const Result list = RunProgram(dir, std::string("--list ") + c.type + " clean.swf bad.swf /m");
        EXPECT_EQ(list.status, c.status) << c.type;
        EXPECT_NE(list.out.find(std::string("clean.swf: ") + c.clean + " Extractable"), std::string::npos)
            << c.type << ": " << list.out;
        EXPECT_NE(list.out.find(std::string("bad.swf: ") + c.bad + " Extractable"), std::string::npos)
            << c.type << ": " << list.out;
        // A conversion of that type says the same.
        TempDir converted;
        std::filesystem::copy(dir / "bad.swf", converted / "bad.swf");
        const Result run = RunProgram(converted, std::string(c.type) + " bad.swf /m");
        EXPECT_NE(run.out.find(std::string("bad.swf: ") + c.bad + " Extracted"), std::string::npos)
            << c.type << ": " << run.out;
    }
}
