// The command line as a black box: what it prints, its exit status, its files.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "app/program.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"


TEST(CommandLine, SwitchesApplyToTheMoviesAfterThem)
{
    TempDir dir;
    PcmMovie(dir / "a.swf");
    PcmMovie(dir / "b.swf");
    PcmMovie(dir / "c.swf", 3);
    const Result r = RunProgram(dir, "a.swf /wav b.swf /mp3 c.swf /m");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Conversion results:\n\na.swf: 1/1 Extracted\nb.swf: 1/1 Extracted\nc.swf: 3/3 Extracted\n");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.mp3", "a.swf", "b.swf", "b.wav", "c.swf",
                                                    "c_001.mp3", "c_002.mp3", "c_003.mp3"}));
}

TEST(CommandLine, SwitchSpellingsAndFailures)
{
    TempDir dir;
    PcmMovie(dir / "a.swf");
    WriteFileBytes(dir / "notes.swf", "this is no movie");
    // /M, /WAV and /Mp3 are switches; /mm and /x are taken for files.
    Result r = RunProgram(dir, "/WAV a.swf /Mp3 notes.swf /mm /x " + ShellQuote(dir / "a.swf") + " /M");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Conversion results:\n\na.swf: 1/1 Extracted\nnotes.swf: Conversion failure\n"
                     "mm: Conversion failure\nx: Conversion failure\na.swf: 1/1 Extracted\n");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.mp3", "a.swf", "a.wav", "notes.swf"}));

    // Without /m nothing is printed; the status still tells.
    r = RunProgram(dir, "missing.swf");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");

    // Only switches: the heading alone.
    r = RunProgram(dir, "/m /wav");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Conversion results:\n\n");
}

TEST(CommandLine, TheWindowNeedsADisplayAndOpensMovies)
{
    TempDir dir;
    PcmMovie(dir / "a.swf");
    // Without one: a line on standard error and status 2, not Qt's abort.
    Result r = RunProgram(dir, "", "QT_QPA_PLATFORM=", true);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("orvellin: no display"), std::string::npos) << r.out;
    r = RunProgram(dir, "--open a.swf", "QT_QPA_PLATFORM= DISPLAY=:97", true);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("orvellin: the display can't be reached"), std::string::npos) << r.out;
    // As the desktop starts it, with movies: the window stays up until closed.
    r = RunProgram(dir, "--open a.swf", "QT_QPA_PLATFORM=offscreen timeout 3");
    EXPECT_EQ(r.status, 124);
    EXPECT_EQ(r.out, "");
}

TEST(CommandLine, AProgramWithoutItsWindowModuleSaysSo)
{
    // Copied alone, the program finds no window module beside it: the window
    // can't open, but batch mode and its results don't need it.
    TempDir dir;
    const std::string program = dir / "orvellin";
    std::filesystem::copy_file(ORVELLIN_BINARY, program);
    PcmMovie(dir / "a.swf");
    Result r = RunProgram(dir, "--open a.swf", "QT_QPA_PLATFORM=offscreen", true, program);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("orvellin: the window's module can't be loaded ("), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("orvellin/window.so"), std::string::npos) << r.out;
    r = RunProgram(dir, "a.swf /m", "DISPLAY=:97", false, program);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Conversion results:\n\na.swf: 1/1 Extracted\n");
}

TEST(CommandLine, HelpVersionAndUnreachableDisplay)
{
    TempDir dir;
    Result r = RunProgram(dir, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: orvellin"), std::string::npos);
    r = RunProgram(dir, "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "orvellin 2.3 (build 149)\n");

    // A display that can't be reached: the results still reach the user.
    PcmMovie(dir / "a.swf");
    r = RunProgram(dir, "a.swf /m", "DISPLAY=:97");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Conversion results:\n\na.swf: 1/1 Extracted\n");
}

TEST(CommandLine, ParallelRunsAreByteIdenticalToSerialOnes)
{
    // Every kind of sound, MP3 decoding in several movies at once, and
    // movies whose outputs take each other's names (clip_001.mp3 is both a
    // numbered output of clip.swf and the single output of clip_001.swf).
    const std::string stereo44 = Mp3Bytes(TestTone(352800, true, 44100), true, 44100);
    const std::string mono22 = Mp3Bytes(TestTone(44100, false, 22050), false, 22050);
    const auto adpcm = EncodeAdpcm(TestTone(30000, true, 22050), true, 4);
    const auto makeMovies = [&](const TempDir& dir) {
        for (int i = 1; i <= 4; ++i)
            WriteFileBytes(dir / ("tone" + std::to_string(i) + ".swf"), Mp3SoundMovie(stereo44, 3, true, 352800));
        WriteFileBytes(dir / "mono.swf", Mp3SoundMovie(mono22, 2, false, 44100));
        SwfBuilder stream;
        stream.Tag(kTagSoundStreamHead2, StreamHead(2, 2, true, false, 1152));
        for (size_t at = 0; at < mono22.size(); at += 4000)
            stream.Tag(kTagSoundStreamBlock, Mp3StreamBlock(1152, mono22.substr(at, 4000)));
        stream.Tag(kTagDefineSound, DefineSound(1, 2, 3, true, true, 352800, U16(0) + stereo44)).End();
        stream.WriteTo(dir / "stream.swf");
        SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 1, 2, true, true, 30000, adpcm.bytes)).End().WriteTo(dir / "adpcm.swf");
        PcmMovie(dir / "pcm.swf", 2);
        SwfBuilder()
            .Tag(kTagDefineSound, DefineSound(1, 2, 3, true, true, 352800, U16(0) + stereo44))
            .Tag(kTagDefineSound, DefineSound(2, 1, 2, true, true, 30000, adpcm.bytes))
            .End()
            .WriteTo(dir / "clip.swf");
        WriteFileBytes(dir / "clip_001.swf", Mp3SoundMovie(mono22, 2, false, 44100));
        PcmMovie(dir / "clip_001_002.swf");
        return std::string("tone1.swf clip_001.swf tone2.swf mono.swf clip.swf stream.swf tone3.swf "
                           "clip_001_002.swf adpcm.swf tone4.swf pcm.swf");
    };
    for (const char* type : {"/wav", "/mp3"}) {
        Result serial;
        std::map<std::string, std::string> serialFiles;
        for (const char* jobs : {"--jobs=1", "--jobs=4", "--jobs=4", "--jobs=4"}) {
            TempDir dir;
            const std::string movies = makeMovies(dir);
            const Result r = RunProgram(dir, std::string(type) + " " + movies + " /m " + jobs);
            EXPECT_EQ(r.status, 0) << type << " " << jobs;
            const auto files = Snapshot(dir.Path());
            if (serialFiles.empty()) {
                serial = r;
                serialFiles = files;
                continue;
            }
            EXPECT_EQ(r.out, serial.out) << type << " " << jobs;
            ASSERT_EQ(files.size(), serialFiles.size()) << type;
            for (const auto& [name, bytes] : serialFiles) {
                ASSERT_TRUE(files.count(name)) << type << ": " << name;
                EXPECT_TRUE(files.at(name) == bytes) << type << ": " << name << " differs";
            }
        }
        EXPECT_NE(serial.out.find("clip.swf: 2/2 Extracted\nstream.swf: 2/2 Extracted\n"), std::string::npos)
            << serial.out;
        const std::string ext = std::string(".") + (type + 1);
        // clip_001.swf comes first and takes clip_001 for its single sound.
        for (const char* name : {"clip_001", "clip_002", "clip_003", "clip_001_002"})
            EXPECT_TRUE(serialFiles.count(name + ext)) << type << ": " << name;
    }
}

TEST(CommandLine, AWorkerThatDiesOrOverrunsCostsItsMovieAlone)
{
    TempDir dir;
    for (const char* name : {"a.swf", "b.swf", "c.swf"})
        PcmMovie(dir / name);
    // Four minutes of CD sound take the encoder seconds; a small movie takes
    // a fraction of the time limit even on a loaded machine.
    const auto tone = TestTone(44100 * 240, true, 44100);
    SwfBuilder()
        .Tag(kTagDefineSound, DefineSound(1, 3, 3, true, true, 44100 * 240,
                                          std::string(reinterpret_cast<const char*>(tone.data()), tone.size() * 2)))
        .End()
        .WriteTo(dir / "long.swf");
    Result r = RunProgram(dir, "a.swf b.swf c.swf /m --jobs=2", "ORVELLIN_TEST_ABORT_ON=b.swf");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Conversion results:\n\na.swf: 1/1 Extracted\nb.swf: Conversion failure\nc.swf: 1/1 Extracted\n");

    r = RunProgram(dir, "long.swf a.swf /m --timeout=0.5");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Conversion results:\n\nlong.swf: Conversion failure\na.swf: 1/1 Extracted\n");
    // The movie that ran out of time leaves nothing: not its temporary file,
    // not the WAV file it had extracted.
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.mp3", "a.swf", "a_001.mp3", "b.swf", "c.mp3", "c.swf", "long.swf"}));

    r = RunProgram(dir, "a.swf --timeout=soon");
    EXPECT_EQ(r.status, 2);
}

TEST(CommandLine, LostSoundsAreCountedAndFailTheRun)
{
    // A file size limit stands for a full disk: the small sound fits, the
    // large one (200 KB) can't be written.
    TempDir dir;
    SwfBuilder()
        .Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 1000, std::string(1000, '\x80')))
        .Tag(kTagDefineSound, DefineSound(2, 0, 1, false, false, 200000, std::string(200000, '\x80')))
        .End()
        .WriteTo(dir / "m.swf");
    SwfBuilder()
        .Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 200000, std::string(200000, '\x80')))
        .End()
        .WriteTo(dir / "big.swf");
    PcmMovie(dir / "fine.swf");
    // MP3 data that decode to nothing can't become WAV: the sound stays as
    // extracted and is lost. A plain movie cut short loses what came after.
    WriteFileBytes(dir / "junk.swf", Mp3SoundMovie(std::string(500, '\x55'), 2, false, 11025));
    const std::string whole = SwfBuilder()
                                  .Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 100, std::string(100, 'c')))
                                  .Tag(kTagDefineSound, DefineSound(2, 0, 1, false, false, 900, std::string(900, 'd')))
                                  .End()
                                  .Build();
    WriteFileBytes(dir / "cut.swf", whole.substr(0, 500));
    for (const char* movie : {"junk.swf", "cut.swf"}) {
        const Result alone = RunProgram(dir, std::string("/wav ") + movie + " --report=" + movie + ".jsonl");
        EXPECT_EQ(alone.status, 1) << movie;
        const std::string record = ReadFileBytes(dir / (std::string(movie) + ".jsonl"));
        EXPECT_NE(record.find("\"outcome\":\"partial\""), std::string::npos) << record;
    }
    EXPECT_NE(ReadFileBytes(dir / "cut.swf.jsonl").find("\"reason\":\"cut short: 500 of " + std::to_string(whole.size()) + " bytes\""),
              std::string::npos);
    EXPECT_NE(ReadFileBytes(dir / "junk.swf.jsonl").find("\"whole\":false"), std::string::npos);
    const Result r = RunProgram(dir, "/wav m.swf big.swf fine.swf /m", "sh -c 'trap \"\" XFSZ; ulimit -f 200; exec \"$0\" \"$@\"'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Conversion results:\n\nm.swf: 1/2 Extracted\nbig.swf: Conversion failure\nfine.swf: 1/1 Extracted\n");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"big.swf", "cut.swf", "cut.swf.jsonl", "cut.wav", "fine.swf", "fine.wav",
                                                    "junk.mp3", "junk.swf", "junk.swf.jsonl", "m.swf", "m_001.wav"}));
}

TEST(CommandLine, OddInputsGetClearOutcomes)
{
    TempDir dir;
    PcmMovie(dir / "two\nlines.swf");
    ASSERT_EQ(::mkfifo((dir / "pipe.swf").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((dir / "folder.swf").c_str(), 0700), 0);
    const struct {
        const char* args;
        int status;
        const char* out;
    } cases[] = {
        // A name can't forge a line of its own.
        {"'two\nlines.swf' /m", 0, "Conversion results:\n\ntwo\\nlines.swf: 1/1 Extracted\n"},
        // Nothing that is no regular file is read, and a FIFO never blocks.
        {"pipe.swf folder.swf /m", 1, "Conversion results:\n\npipe.swf: Conversion failure\nfolder.swf: Conversion failure\n"},
        // Switches alone give the heading, with or without a display.
        {"/m", 0, "Conversion results:\n\n"},
    };
    for (const auto& c : cases) {
        const Result r = RunProgram(dir, c.args, "timeout 20");
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
    }
}


TEST(CommandLine, InterruptedRunsLeaveNoIncompleteOutput)
{
    const auto tone = TestTone(44100 * 20, true, 44100);
    const std::string pcm(reinterpret_cast<const char*>(tone.data()), tone.size() * 2);
    const std::string mp3 = Mp3Bytes(TestTone(44100 * 20, true, 44100), true, 44100);
    const auto makeMovies = [&](const TempDir& dir) {
        SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 3, 3, true, true, 44100 * 20, pcm)).End().WriteTo(dir / "a.swf");
        WriteFileBytes(dir / "b.swf", Mp3SoundMovie(mp3, 3, true, 44100 * 20));
    };
    const std::vector<std::string> args{"/mp3", "a.swf", "/wav", "b.swf", "--jobs=2"};

    // What a whole run leaves, and every complete file a run passes through.
    TempDir reference;
    makeMovies(reference);
    const auto started = std::chrono::steady_clock::now();
    int status = 0;
    ::waitpid(StartProgram(reference, args), &status, 0);
    const auto runTime = std::chrono::steady_clock::now() - started;
    auto complete = Snapshot(reference.Path());
    ASSERT_TRUE(complete.count("a.mp3") && complete.count("b.wav"));
    complete["a_001.wav"] = WaveBytes(tone, true, 44100);
    complete["a_001.mp3"] = complete["a.mp3"];
    complete["b_001.mp3"] = mp3;
    complete["b_001.wav"] = complete["b.wav"];

    const struct {
        int signal;
        bool wholeGroup;  // as Ctrl-C or a kill of the job; otherwise the program alone
    } kills[] = {{SIGINT, true}, {SIGTERM, false}, {SIGKILL, true}};
    for (const auto& kill : kills) {
        for (const double moment : {0.1, 0.4, 0.7}) {
            TempDir dir;
            makeMovies(dir);
            const pid_t pid = StartProgram(dir, args);
            std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::microseconds>(runTime * moment));
            ::kill(kill.wholeGroup ? -pid : pid, kill.signal);
            ::waitpid(pid, &status, 0);
            // Killed workers are not waited for: give them a moment to end.
            for (int i = 0; i < 100 && ::kill(-pid, 0) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const std::string at = strsignal(kill.signal) + std::string(" at ") + std::to_string(moment);
            std::vector<std::string> leftovers;
            for (const auto& [name, bytes] : Snapshot(dir.Path())) {
                if (IsTemporaryName(name)) {
                    leftovers.push_back(name);
                    continue;
                }
                if (name.ends_with(".swf"))
                    continue;
                ASSERT_TRUE(complete.count(name)) << at << ": " << name;
                EXPECT_TRUE(bytes == complete.at(name)) << at << ": " << name << " is incomplete";
            }
            if (kill.signal != SIGKILL) {
                EXPECT_EQ(leftovers, std::vector<std::string>{}) << at;
                continue;
            }
            // A later run over the movies removes what the killed one left of
            // them, and converts as if it had never run.
            const Result r = RunProgram(dir, "/mp3 a.swf /wav b.swf /m");
            EXPECT_EQ(r.status, 0) << at;
            EXPECT_EQ(r.out, "Conversion results:\n\na.swf: 1/1 Extracted\nb.swf: 1/1 Extracted\n") << at;
            const auto after = Snapshot(dir.Path());
            for (const std::string& name : leftovers)
                EXPECT_FALSE(after.count(name)) << at << ": " << name;
        }
    }
}

TEST(CommandLine, KeepAndFlacInAnyLetterCase)
{
    TempDir dir;
    PcmMovie(dir / "a.swf");
    PcmMovie(dir / "b.swf", 2);
    PcmMovie(dir / "c.swf");
    const Result r = RunProgram(dir, "/KEEP a.swf /Flac b.swf /keep c.swf --report=r.jsonl /m");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Conversion results:\n\na.swf: 1/1 Extracted\nb.swf: 2/2 Extracted\nc.swf: 1/1 Extracted\n");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.swf", "a.wav", "b.swf", "b_001.flac", "b_002.flac", "c.swf",
                                                    "c.wav", "r.jsonl"}));
    const std::string report = ReadFileBytes(dir / "r.jsonl");
    EXPECT_NE(report.find("\"output_type\":\"keep\""), std::string::npos);
    EXPECT_NE(report.find("\"output_type\":\"flac\""), std::string::npos);
    EXPECT_NE(report.find("\"type\":\"flac\""), std::string::npos);
    // Resumed, every record still holds: nothing is done again.
    const auto before = Snapshot(dir.Path());
    EXPECT_EQ(RunProgram(dir, "/keep a.swf /flac b.swf --report=r.jsonl --resume").status, 0);
    auto after = Snapshot(dir.Path());
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(after["b_001.flac"], before.at("b_001.flac"));
}

TEST(CommandLine, WhatIsNoOptionStopsTheRunFirst)
{
    TempDir dir;
    PcmMovie(dir / "m.swf");
    WriteFileBytes(dir / "list.txt", "m.swf\n");
    const struct {
        const char* args;
        const char* error;
    } cases[] = {
        {"--lsit m.swf", "unknown option --lsit"},
        {"--files-from=list.txt --resum --report=r.jsonl", "unknown option --resum"},
        {"m.swf -j4", "unknown option -j4"},
        {"m.swf --shard=1/2 --jobs", "--jobs needs a value"},
        // A forgotten value does not swallow the next option.
        {"--report --resume m.swf", "--report needs a value"},
        {"m.swf --quiet=yes", "--quiet takes no value"},
        {"m.swf -", "- is no option"},
        {"m.swf --open", "--open comes first"},
    };
    const auto before = Snapshot(dir.Path());
    for (const auto& c : cases) {
        const Result r = RunProgram(dir, c.args, "", true);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.out.rfind("orvellin: ", 0), 0u) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find(c.error), std::string::npos) << c.args << ": " << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << c.args << ": one line, " << r.out;
        EXPECT_TRUE(Snapshot(dir.Path()) == before) << c.args;
    }
}

TEST(CommandLine, ValuesInEitherFormAndMoviesAfterDoubleDash)
{
    // --shard 1/2 is the shard, not a movie: both forms take the same movies.
    std::string results[2];
    for (int spaced = 0; spaced < 2; ++spaced) {
        TempDir dir;
        std::string list;
        for (int i = 0; i < 8; ++i) {
            PcmMovie(dir / ("m" + std::to_string(i) + ".swf"));
            list += "m" + std::to_string(i) + ".swf\n";
        }
        WriteFileBytes(dir / "list.txt", list);
        const std::string eq = spaced ? " " : "=";
        const Result r = RunProgram(dir, "--shard" + eq + "1/2 --jobs" + eq + "2 --timeout" + eq + "60 --names" + eq +
                                             "number --report" + eq + "r.jsonl --files-from" + eq + "list.txt /m");
        EXPECT_EQ(r.status, 0) << r.out;
        results[spaced] = r.out;
        const size_t converted = Lines(r.out).size() - 1;
        EXPECT_GT(converted, 0u) << r.out;
        EXPECT_LT(converted, 8u) << r.out;
        EXPECT_EQ(Lines(ReadFileBytes(dir / "r.jsonl")).size(), converted);
    }
    EXPECT_EQ(results[0], results[1]);

    // After --, options and switches are movie names.
    TempDir dir;
    for (const char* name : {"-x.swf", "--list", "--help", "-"})
        PcmMovie(dir / name);
    const Result r = RunProgram(dir, "/m /wav -- -x.swf --list --help - /M");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Conversion results:\n\n-x.swf: 1/1 Extracted\n--list: 1/1 Extracted\n--help: 1/1 Extracted\n"
                     "-: 1/1 Extracted\nM: Conversion failure\n");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"-", "--help", "--help.wav", "--list", "--list.wav", "-.wav",
                                                    "-x.swf", "-x.wav"}));
}

TEST(CommandLine, NulSeparatedListsKeepNewlinesInPaths)
{
    // Read a line at a time, "x\ny/m.swf" would name y/m.swf, a movie
    // outside the folder listed.
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "x\ny").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((dir / "y").c_str(), 0700), 0);
    PcmMovie(dir / "x\ny/m.swf");
    PcmMovie(dir / "y/m.swf");
    PcmMovie(dir / "a.swf");
    PcmMovie(dir / "c.swf");
    // Empty entries are passed over; the last needs no NUL.
    const std::string list("\0x\ny/m.swf\0\0a.swf", 18);
    WriteFileBytes(dir / "list0", list);
    const struct {
        const char* env;
        const char* args;
    } cases[] = {
        // --null applies to every list, wherever it stands; each list's
        // movies take its place and the type in force there.
        {"", "/m /wav --files-from=list0 /mp3 c.swf --null"},
        {"sh -c '\"$0\" \"$@\" <list0'", "--null /m /wav --files-from - /mp3 c.swf"},
    };
    for (const auto& c : cases) {
        const Result r = RunProgram(dir, c.args, c.env);
        EXPECT_EQ(r.status, 0) << c.args;
        EXPECT_EQ(r.out, "Conversion results:\n\nm.swf: 1/1 Extracted\na.swf: 1/1 Extracted\nc.swf: 1/1 Extracted\n")
            << c.args;
        EXPECT_EQ(Snapshot(dir / "y"), (std::map<std::string, std::string>{{"m.swf", ReadFileBytes(dir / "y/m.swf")}}));
        EXPECT_EQ(Snapshot(dir / "x\ny").size(), 2u) << c.args;
        EXPECT_TRUE(std::filesystem::exists(dir / "x\ny/m.wav")) << c.args;
        EXPECT_TRUE(std::filesystem::exists(dir / "a.wav")) << c.args;
        EXPECT_TRUE(std::filesystem::exists(dir / "c.mp3")) << c.args;
        for (const char* output : {"x\ny/m.wav", "a.wav", "c.mp3"})
            std::filesystem::remove(dir / output);
    }
}

TEST(Bounds, EndlessListsEndWithAReasonUnderAMemoryLimit)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address space limit";
#endif
    TempDir dir;
    // Endless lists of one path, 4,000 or 100 bytes long, each line or NUL
    // ended, under a limit of the address space (KiB).
    const auto endless = [](size_t bytes, bool nul, int limit) {
        return "sh -c 'ulimit -v " + std::to_string(limit) + "; yes " + std::string(bytes, 'a') +
               (nul ? " | tr \"\\n\" \"\\0\"" : "") + " | \"$0\" \"$@\"'";
    };
    const struct {
        std::string env;
        const char* args;
        const char* error;
    } cases[] = {
        {endless(4000, false, 1 << 20), "--files-from=-", "more than 256 MiB of movie paths; the list - has more at"},
        {endless(4000, false, 100000), "--files-from=-", "out of memory reading the movies to convert"},
        {endless(4000, true, 100000), "--null --files-from=-", "out of memory reading the movies to convert"},
    };
    for (const auto& c : cases) {
        const Result r = RunProgram(dir, c.args, "timeout 60 " + c.env, true);
        EXPECT_EQ(r.status, 2) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find(c.error), std::string::npos) << c.args << ": " << r.out;
    }
    // A million paths of 100 bytes don't fit in 100 MB: one shard of two
    // keeps them all and runs out, the other keeps none and reaches the
    // bound on the movies named.
    std::set<std::string> reasons;
    for (const char* shard : {"--shard=1/2", "--shard=2/2"}) {
        const Result r =
            RunProgram(dir, std::string("--files-from=- ") + shard, "timeout 60 " + endless(100, false, 100000), true);
        EXPECT_EQ(r.status, 2) << shard << ": " << r.out;
        reasons.insert(r.out.substr(0, std::min(r.out.find(';'), r.out.find(" ("))));
    }
    EXPECT_EQ(reasons, (std::set<std::string>{"orvellin: more than 1000000 movies",
                                              "orvellin: out of memory reading the movies to convert"}));
}
