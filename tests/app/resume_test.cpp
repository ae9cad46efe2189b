// Archive runs against what others made: hostile reports, names that are no
// UTF-8, endless lists, full disks, interruptions.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "app/program.h"
#include "app/report.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace {

std::string Sha(const std::string& path)
{
    uint64_t size = 0;
    std::string sha;
    EXPECT_TRUE(FileDigest(path, size, sha)) << path;
    return sha;
}

size_t LineCount(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A record naming one output, for a movie that must be done again.
std::string RedoRecord(const std::string& movieSha, const std::string& output)
{
    return "{\"path\":\"m.swf\",\"size\":1,\"sha256\":\"" + movieSha +
           "\",\"output_type\":\"mp3\",\"outcome\":\"failed\",\"reason\":\"\",\"sounds\":[{\"output\":" + output + "}]}";
}

std::string Output(const std::string& path, const std::string& file)
{
    return "{\"path\":\"" + path + "\",\"size\":" + std::to_string(ReadFileBytes(file).size()) + ",\"sha256\":\"" +
           Sha(file) + "\"}";
}

bool IsLink(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

TEST(Resume, HostileRecordsTouchNothingButTheMoviesOwnOutputs)
{
    TempDir outside;
    WriteFileBytes(outside / "m.mp3", "someone else's file");
    const std::string outsideName = std::filesystem::path(outside.Path()).filename().string();
    const auto setUp = [&](const TempDir& dir) {
        PcmMovie(dir / "m.swf");
        PcmMovie(dir / "o.swf");
        EXPECT_EQ(RunProgram(dir, "o.swf").status, 0);
        std::filesystem::create_directory(dir / "sub");
        WriteFileBytes(dir / "sub/m.mp3", "a file in another folder");
        WriteFileBytes(dir / "m_notes.txt", "the user's notes");
        EXPECT_EQ(::symlink((outside / "m.mp3").c_str(), (dir / "m_007.mp3").c_str()), 0);
    };
    const struct {
        const char* what;
        std::function<std::string(const TempDir& dir)> report;
        bool warned;  // counted as left alone
    } cases[] = {
        {"absolute path", [&](const TempDir& d) { return RedoRecord(Sha(d / "m.swf"), Output(outside / "m.mp3", outside / "m.mp3")); }, true},
        {"../ path", [&](const TempDir& d) { return RedoRecord(Sha(d / "m.swf"), Output("../" + outsideName + "/m.mp3", outside / "m.mp3")); }, true},
        {"another folder", [&](const TempDir& d) { return RedoRecord(Sha(d / "m.swf"), Output("sub/m.mp3", d / "sub/m.mp3")); }, true},
        {"a link", [&](const TempDir& d) { return RedoRecord(Sha(d / "m.swf"), Output("m_007.mp3", outside / "m.mp3")); }, true},
        {"another movie's output", [&](const TempDir& d) { return RedoRecord(Sha(d / "m.swf"), Output("o.mp3", d / "o.mp3")); }, true},
        {"the movie itself", [&](const TempDir& d) { return RedoRecord(Sha(d / "m.swf"), Output("m.swf", d / "m.swf")); }, true},
        {"path as bytes", [&](const TempDir& d) {
             std::string out = Output(outside / "m.mp3", outside / "m.mp3");
             out.insert(1, "\"path_bytes\":\"" + Base64(outside / "m.mp3") + "\",");
             return RedoRecord(Sha(d / "m.swf"), out); }, true},
        {"wrong types", [&](const TempDir& d) {
             return "{\"path\":\"m.swf\",\"extracted\":\"3\",\"found\":{},\"outcome\":1,\"sounds\":\"x\"}\n" +
                    RedoRecord(Sha(d / "m.swf"), "{\"path\":7,\"size\":\"1\",\"sha256\":[]}"); }, true},
        {"missing keys", [&](const TempDir&) { return std::string("{\"path\":\"m.swf\"}\n{\"sounds\":[{}]}"); }, false},
        {"not UTF-8", [&](const TempDir& d) { return RedoRecord(Sha(d / "m.swf"), Output("m\xff.mp3", outside / "m.mp3")); }, false},
        {"bad base64", [&](const TempDir& d) { return RedoRecord(Sha(d / "m.swf"), "{\"path_bytes\":\"%%%\",\"path\":\"o.mp3\"}"); }, true},
        // Read up to the NUL, the name would be the user's notes.
        {"a NUL in base64", [&](const TempDir& d) {
             std::string out = Output("x", d / "m_notes.txt");
             out.insert(1, "\"path_bytes\":\"" + Base64(std::string("m_notes.txt\0.mp3", 16)) + "\",");
             return RedoRecord(Sha(d / "m.swf"), out); }, true},
        {"a NUL escaped", [&](const TempDir& d) {
             return RedoRecord(Sha(d / "m.swf"), Output("m_notes.txt\\u0000.mp3", d / "m_notes.txt")); }, true},
        {"deep nesting", [&](const TempDir&) { return "{\"path\":\"m.swf\",\"sounds\":" + std::string(10 << 20, '['); }, false},
    };
    for (const auto& c : cases) {
        TempDir dir;
        setUp(dir);
        WriteFileBytes(dir / "report.jsonl", c.report(dir) + "\n");
        auto before = Snapshot(dir.Path());
        const auto outsideBefore = Snapshot(outside.Path());
        const Result r = RunProgram(dir, "m.swf --report=report.jsonl --resume /m", "timeout 60", true);
        EXPECT_EQ(r.status, 0) << c.what;
        EXPECT_NE(r.out.find("m.swf: 1/1 Extracted\n"), std::string::npos) << c.what << ": " << r.out;
        EXPECT_EQ(r.out.find("left alone 1 file") != std::string::npos, c.warned) << c.what << ": " << r.out;
        // Everything that was there stays byte for byte; the one new file
        // is the movie's output.
        auto after = Snapshot(dir.Path());
        after.erase("report.jsonl");
        before.erase("report.jsonl");
        EXPECT_EQ(after.erase("m.mp3"), 1u) << c.what;
        EXPECT_TRUE(after == before) << c.what;
        EXPECT_TRUE(Snapshot(outside.Path()) == outsideBefore) << c.what;
        EXPECT_TRUE(IsLink(dir / "m_007.mp3")) << c.what;
    }
}

TEST(Resume, ARecordIsCheckedNotTrusted)
{
    TempDir dir;
    PcmMovie(dir / "m.swf");
    const std::string size = std::to_string(ReadFileBytes(dir / "m.swf").size());
    // Its own output named a thousand times: hashed and removed once, made again once.
    ASSERT_EQ(RunProgram(dir, "m.swf").status, 0);
    std::string sounds;
    for (int i = 0; i < 1000; ++i)
        sounds += std::string(i ? "," : "") + "{\"output\":" + Output("m.mp3", dir / "m.mp3") + "}";
    WriteFileBytes(dir / "report.jsonl", "{\"path\":\"m.swf\",\"size\":" + size + ",\"sha256\":\"" + Sha(dir / "m.swf") +
                                             "\",\"output_type\":\"mp3\",\"outcome\":\"partial\",\"sounds\":[" + sounds + "]}\n");
    Result r = RunProgram(dir, "m.swf --report=report.jsonl --resume /m");
    EXPECT_EQ(r.out, "Conversion results:\n\nm.swf: 1/1 Extracted\n");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"m.mp3", "m.swf", "report.jsonl"}));

    // Counts come from the sounds, whatever the fields say, and a count of
    // the wrong type is no error.
    for (const char* counts : {"\"extracted\":3,\"found\":3", "\"extracted\":\"3\",\"found\":null"}) {
        WriteFileBytes(dir / "report.jsonl", "{\"path\":\"m.swf\",\"size\":" + size + ",\"sha256\":\"" + Sha(dir / "m.swf") +
                                                 "\",\"output_type\":\"mp3\",\"outcome\":\"converted\"," + counts +
                                                 ",\"sounds\":[]}\n");
        r = RunProgram(dir, "m.swf --report=report.jsonl --resume /m");
        EXPECT_EQ(r.status, 0) << counts;
        EXPECT_EQ(r.out, "Conversion results:\n\nm.swf: 0/0 Extracted\n") << counts;
    }
}

TEST(Resume, AMovieDamagedSinceKeepsItsOutputsAndRecord)
{
    TempDir dir;
    SwfBuilder()
        .Tag(kTagDefineSound, DefineSound(1, 3, 1, true, false, 3000, std::string(6000, 'x')))
        .Tag(kTagDefineSound, DefineSound(2, 9, 1, true, false, 10, "lost"))
        .End()
        .WriteTo(dir / "m.swf");
    ASSERT_EQ(RunProgram(dir, "m.swf --report=report.jsonl").status, 1);
    const auto outputs = Snapshot(dir.Path());
    ASSERT_EQ(outputs.size(), 3u);  // the movie, its one output, the report
    for (const std::string& damage : {std::string("not a movie any more"), std::string("CWS\x08\xff\xff\x00\x00", 8) + "cut"}) {
        WriteFileBytes(dir / "m.swf", damage);
        const std::string report = ReadFileBytes(dir / "report.jsonl");
        const Result r = RunProgram(dir, "m.swf --report=report.jsonl --resume /m");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Conversion results:\n\nm.swf: Conversion failure\n");
        EXPECT_EQ(ReadFileBytes(dir / "report.jsonl"), report) << "the earlier record still counts";
        auto now = Snapshot(dir.Path());
        now.erase("m.swf");
        auto was = outputs;
        was.erase("m.swf");
        EXPECT_TRUE(now == was);
    }
}

TEST(Resume, NamesThatAreNoUtf8ConvertAndResume)
{
    const std::vector<std::string> names{"caf\xe9.swf", "\x83\x65\x83\x58\x83\x67.swf", "csi\xc2\x9b" "2J.swf"};
    std::string args;
    for (const std::string& n : names)
        args += ShellQuote(n) + " ";
    for (const bool withReport : {false, true}) {
        TempDir dir;
        for (const std::string& n : names)
            PcmMovie(dir / n);
        SwfBuilder()
            .Tag(kTagDefineSound, DefineSound(1, 3, 1, true, false, 100, std::string(200, 'x')))
            .Tag(56, U16(1) + U16(1) + "\xe9t\xe9" + '\0')
            .End()
            .WriteTo(dir / "export.swf");
        const std::string report = withReport ? " --report=report.jsonl" : "";
        Result r = RunProgram(dir, args + "export.swf --names=export /m" + report);
        EXPECT_EQ(r.status, 0) << withReport;
        EXPECT_EQ(r.out, "Conversion results:\n\ncaf\xe9.swf: 1/1 Extracted\n\x83\x65\x83\x58\x83\x67.swf: 1/1 Extracted\n"
                         "csi\\u009b2J.swf: 1/1 Extracted\nexport.swf: 1/1 Extracted\n");
        for (const char* output : {"caf\xe9.mp3", "\x83\x65\x83\x58\x83\x67.mp3", "csi\xc2\x9b" "2J.mp3"})
            EXPECT_TRUE(std::filesystem::exists(dir / output)) << withReport;
        if (!withReport)
            continue;
        // The exact bytes beside a readable form; resume matches by them.
        const std::string text = ReadFileBytes(dir / "report.jsonl");
        EXPECT_EQ(LineCount(text), 4u);
        EXPECT_NE(text.find("\"path\":\"caf\xef\xbf\xbd.swf\",\"path_bytes\":\"" + Base64("caf\xe9.swf") + "\""),
                  std::string::npos);
        EXPECT_NE(text.find("\"name_bytes\":\"" + Base64("\xe9t\xe9") + "\""), std::string::npos);
        const auto files = Snapshot(dir.Path());
        r = RunProgram(dir, args + "export.swf --names=export --resume /m" + report);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(ReadFileBytes(dir / "report.jsonl"), text) << "nothing was done again";
        EXPECT_TRUE(Snapshot(dir.Path()) == files);
    }
}

TEST(Bounds, ListsAndReportsThatCantBeUsedStopTheRunFirst)
{
    TempDir dir;
    PcmMovie(dir / "m.swf");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0700), 0);
    WriteFileBytes(dir / "big.jsonl", "");
    ASSERT_EQ(::truncate((dir / "big.jsonl").c_str(), int64_t{5} << 30), 0);
    const struct {
        const char* env;
        const char* args;
        const char* error;
    } cases[] = {
        {"sh -c 'yes m.swf | \"$0\" \"$@\"'", "--files-from=-", "more than 1000000 movies"},
        {"sh -c 'head -c 100000 /dev/zero | tr \"\\0\" a | \"$0\" \"$@\"'", "--files-from=-", "longer than 4096 bytes"},
        {"sh -c 'printf \"m.swf\\0x\\n\" | \"$0\" \"$@\"'", "--files-from=-", "holds a NUL byte"},
        {"", "--files-from=fifo m.swf", "fifo: not a regular file"},
        {"", "--report=fifo m.swf", "report fifo: not a regular file"},
        {"", "--report=folder --resume m.swf", "can't read the report folder"},
        {"", "--report=big.jsonl --resume m.swf", "larger than the 4 GiB"},
    };
    for (const auto& c : cases) {
        const Result r = RunProgram(dir, c.args, std::string("timeout 60 ") + c.env, true);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.out.find(c.error), std::string::npos) << c.args << ": " << r.out;
        EXPECT_FALSE(std::filesystem::exists(dir / "m.mp3")) << c.args;
    }
}

TEST(Bounds, AReportThatCantBeWrittenFailsTheRun)
{
    TempDir dir;
    PcmMovie(dir / "m.swf", 1, 50);
    // A file size limit stands for a full disk: the output fits, the record doesn't.
    const Result r = RunProgram(dir, "/wav m.swf --report=report.jsonl /m",
                                "sh -c 'trap \"\" XFSZ; ulimit -f 1; exec \"$0\" \"$@\"'", true);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("writing the report report.jsonl failed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("m.swf: 1/1 Extracted"), std::string::npos) << r.out;
}

TEST(Scheduling, OneMovieListedTwiceAndMoviesOfManyFolders)
{
    TempDir dir;
    PcmMovie(dir / "m.swf");
    Result r = RunProgram(dir, "./m.swf m.swf --report=report.jsonl /m");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Conversion results:\n\nm.swf: 1/1 Extracted\nm.swf: 1/1 Extracted\n");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"m.mp3", "m.swf", "report.jsonl"}));
    EXPECT_EQ(LineCount(ReadFileBytes(dir / "report.jsonl")), 1u);

    // Eight games of the same name in eight folders are eight chains, spread over shards.
    std::string games;
    for (int i = 1; i <= 8; ++i) {
        std::filesystem::create_directory(dir / ("d" + std::to_string(i)));
        PcmMovie(dir / ("d" + std::to_string(i) + "/game.swf"));
        games += " d" + std::to_string(i) + "/game.swf";
    }
    std::vector<size_t> perShard;
    for (const char* shard : {"1/2", "2/2"}) {
        const std::string report = std::string("shard") + shard[0] + ".jsonl";
        EXPECT_EQ(RunProgram(dir, games + " --shard=" + shard + " --report=" + report).status, 0);
        perShard.push_back(LineCount(ReadFileBytes(dir / report)));
    }
    EXPECT_EQ(perShard[0] + perShard[1], 8u);
    EXPECT_GT(perShard[0], 0u);
    EXPECT_GT(perShard[1], 0u);

    // With export names, a movie and one whose name is its base and an
    // export name run in order: the files of a serial run.
    const auto exports = [](const TempDir& d) {
        SwfBuilder()
            .Tag(kTagDefineSound, DefineSound(1, 3, 1, true, false, 100, std::string(200, 'a')))
            .Tag(56, U16(1) + U16(1) + "x" + '\0')
            .End()
            .WriteTo(d / "clip.swf");
        PcmMovie(d / "clip_x.swf");
    };
    TempDir serial;
    exports(serial);
    RunProgram(serial, "clip.swf clip_x.swf --names=export --jobs=1");
    for (int i = 0; i < 4; ++i) {
        TempDir parallel;
        exports(parallel);
        RunProgram(parallel, "clip.swf clip_x.swf --names=export --jobs=2");
        EXPECT_TRUE(Snapshot(parallel.Path()) == Snapshot(serial.Path()));
    }

    // More jobs than the open-file limit allows: capped, every movie converts.
    r = RunProgram(dir, games + " --jobs=700 /m", "sh -c 'ulimit -n 64; exec \"$0\" \"$@\"'");
    EXPECT_EQ(r.status, 0) << r.out;
}

TEST(Resume, InterruptedRunsResumeToAnUninterruptedOne)
{
    // The archive and two movies that take the encoder a while.
    const auto tone = TestTone(44100 * 10, true, 44100);
    const std::string pcm(reinterpret_cast<const char*>(tone.data()), tone.size() * 2);
    const auto makeArchive = [&](const TempDir& dir) {
        auto names = MakeArchive(dir, 24);
        for (const char* name : {"long1.swf", "long2.swf"}) {
            SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 3, 3, true, true, 44100 * 10, pcm)).End().WriteTo(dir / name);
            names.insert(names.begin() + 3, name);
        }
        WriteFileBytes(dir / "list.txt", Joined(names));
        return names.size();
    };
    const std::vector<std::string> args{"--files-from=list.txt", "--report=report.jsonl", "--jobs=2"};
    TempDir whole;
    const size_t movies = makeArchive(whole);
    int status = 0;
    ::waitpid(StartProgram(whole, args), &status, 0);
    const auto expected = Records(ReadFileBytes(whole / "report.jsonl"));
    ASSERT_EQ(expected.size(), movies);

    const struct {
        const char* what;
        std::function<void(const TempDir& dir)> interrupt;
    } ways[] = {
        {"kill -9 of the parent alone", [&](const TempDir& dir) {
             const pid_t pid = StartProgram(dir, args);
             for (int i = 0; i < 1000 && Lines(ReadFileBytes(dir / "report.jsonl")).size() < 4; ++i)
                 std::this_thread::sleep_for(std::chrono::milliseconds(2));
             ::kill(pid, SIGKILL);
             ::waitpid(pid, &status, 0);
             // Its workers see it gone and end.
             for (int i = 0; i < 500 && ::kill(-pid, 0) == 0; ++i)
                 std::this_thread::sleep_for(std::chrono::milliseconds(20));
         }},
        {"--timeout", [&](const TempDir& dir) {
             std::vector<std::string> timed = args;
             timed.push_back("--timeout=0.2");
             ::waitpid(StartProgram(dir, timed), &status, 0);
         }},
    };
    for (const auto& way : ways) {
        for (int round = 0; round < 3; ++round) {
            TempDir dir;
            makeArchive(dir);
            way.interrupt(dir);
            std::vector<std::string> resumed = args;
            resumed.push_back("--resume");
            ::waitpid(StartProgram(dir, resumed), &status, 0);
            EXPECT_EQ(Differences(Records(ReadFileBytes(dir / "report.jsonl")), expected), "") << way.what << " " << round;
            EXPECT_EQ(Differences(Outputs(dir), Outputs(whole)), "") << way.what << " " << round;
        }
    }
}
