// The command line as a black box: what it prints, its exit status, its files.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sys/wait.h>

#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace {

struct Result {
    int status = -1;
    std::string out;
};

// Runs the program in dir without a display.
Result RunProgram(const TempDir& dir, const std::string& args, const std::string& env = "")
{
    const std::string cmd = "cd " + ShellQuote(dir.Path()) + " && env -u DISPLAY -u WAYLAND_DISPLAY HOME=" +
                            ShellQuote(dir.Path()) + " XDG_CONFIG_HOME=" + ShellQuote(dir / ".config") + " " + env +
                            " " + ShellQuote(ORVELLIN_BINARY) + " " + args + " 2>/dev/null";
    Result r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return r;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        r.out.append(buf.data(), n);
    const int rc = ::pclose(p);
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return r;
}

// A movie with one 16-bit mono PCM sound.
void PcmMovie(const std::string& path, size_t sounds = 1)
{
    SwfBuilder b;
    const auto tone = TestTone(2000, false, 11025);
    const std::string data(reinterpret_cast<const char*>(tone.data()), tone.size() * 2);
    for (size_t i = 0; i < sounds; ++i)
        b.Tag(kTagDefineSound, DefineSound(static_cast<uint16_t>(i + 1), 3, 1, true, false, 2000, data));
    b.End().WriteTo(path);
}

}  // namespace

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

TEST(CommandLine, MessageSwitchAloneOpensTheWindow)
{
    // As the desktop menu starts it: the window stays up until closed.
    TempDir dir;
    const Result r = RunProgram(dir, "/m", "QT_QPA_PLATFORM=offscreen timeout 3");
    EXPECT_EQ(r.status, 124);
    EXPECT_EQ(r.out, "");
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

TEST(CommandLine, ParallelRunsNameAndReportLikeSerialOnes)
{
    std::string serialOut;
    std::vector<std::string> serialFiles;
    for (const char* jobs : {"--jobs=1", "--jobs=4"}) {
        TempDir dir;
        std::string args;
        for (int i = 0; i < 8; ++i) {
            const std::string name = "m" + std::to_string(i % 5) + (i >= 5 ? "b" : "") + ".swf";
            PcmMovie(dir / name, static_cast<size_t>(1 + i % 3));
            args += name + " " + (i % 2 ? "/wav " : "/mp3 ");
        }
        const Result r = RunProgram(dir, args + "/m " + jobs);
        EXPECT_EQ(r.status, 0);
        if (serialOut.empty()) {
            serialOut = r.out;
            serialFiles = dir.List();
        } else {
            EXPECT_EQ(r.out, serialOut);
            EXPECT_EQ(dir.List(), serialFiles);
        }
    }
    EXPECT_NE(serialOut.find("m1.swf: 2/2 Extracted\nm2.swf: 3/3 Extracted\n"), std::string::npos);
}
