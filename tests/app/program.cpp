#include "app/program.h"

#include <regex>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/swf_builder.h"
#include "support/tools.h"

Result RunProgram(const TempDir& dir, const std::string& args, const std::string& env, bool errors,
                  const std::string& program)
{
    const std::string cmd = "cd " + ShellQuote(dir.Path()) + " && env -u DISPLAY -u WAYLAND_DISPLAY HOME=" +
                            ShellQuote(dir.Path()) + " XDG_CONFIG_HOME=" + ShellQuote(dir / ".config") + " " + env +
                            " " + ShellQuote(program) + " " + args + (errors ? " 2>&1" : " 2>/dev/null");
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

pid_t StartProgram(const TempDir& dir, const std::vector<std::string>& args)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        if (::chdir(dir.Path().c_str()) != 0)
            ::_exit(127);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("HOME", dir.Path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir / ".config").c_str(), 1);
        std::FILE* null = std::freopen("/dev/null", "w", stdout);
        (void)null;
        std::vector<char*> argv{const_cast<char*>(ORVELLIN_BINARY)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(ORVELLIN_BINARY, argv.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    return pid;
}

void PcmMovie(const std::string& path, size_t sounds, size_t frames)
{
    SwfBuilder b;
    const auto tone = TestTone(frames, false, 11025);
    const std::string data(reinterpret_cast<const char*>(tone.data()), tone.size() * 2);
    for (size_t i = 0; i < sounds; ++i)
        b.Tag(kTagDefineSound, DefineSound(static_cast<uint16_t>(i + 1), 3, 1, true, false,
                                           static_cast<uint32_t>(frames), data));
    b.End().WriteTo(path);
}

std::map<std::string, std::string> Snapshot(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), root).string()] = ReadFileBytes(entry.path().string());
    }
    return files;
}

bool IsTemporaryName(const std::string& name)
{
    // Temporary files, and the claim a killed run held on its names.
    const std::string base = name.substr(name.rfind('/') + 1);
    return (base[0] == '.' && base.size() > 5 && base.compare(base.size() - 5, 5, ".part") == 0) ||
           (base.starts_with(".orvellin-") && base.ends_with(".lock"));
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        if (end > at)
            lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

std::vector<std::string> MakeArchive(const TempDir& dir, int count)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        const std::string name = i % 7 == 3 ? "clip_00" + std::to_string(i % 10) + ".swf" : "m" + std::to_string(i) + ".swf";
        if (i % 11 == 5) {
            WriteFileBytes(dir / name, "not a movie");
        } else {
            SwfBuilder b;
            b.Tag(kTagDefineSound, DefineSound(1, 3, 1, true, false, 3000, std::string(6000, static_cast<char>(i))));
            if (i % 4 == 1)
                b.Tag(kTagDefineSound, DefineSound(2, 9, 1, true, false, 10, "lost"));
            if (i % 3 == 0)
                b.Tag(56, U16(1) + U16(1) + "sound " + std::to_string(i) + '\0');
            b.End().WriteTo(dir / name, i % 2 == 0);
        }
        names.push_back(name);
    }
    names.push_back("clip.swf");
    PcmMovie(dir / "clip.swf");
    return names;
}

std::string Joined(const std::vector<std::string>& names)
{
    std::string out;
    for (const std::string& n : names)
        out += n + "\n";
    return out;
}

// The records of a report by movie path, the last of each.
std::map<std::string, std::string> Records(const std::string& report)
{
    std::map<std::string, std::string> byPath;
    for (std::string line : Lines(report)) {
        const size_t at = line.find("\"path\":\"");
        EXPECT_NE(at, std::string::npos) << line;
        if (at == std::string::npos)
            continue;
        // Where the run's folder is: runs in two folders compare alike.
        const std::regex real(",\"real_path(_bytes)?\":\"([^\"\\\\]|\\\\.)*\"");
        line = std::regex_replace(line, real, "");
        byPath[line.substr(at + 8, line.find('"', at + 8) - at - 8)] = line;
    }
    return byPath;
}

// Outputs without the movies, the reports and the lists.
std::map<std::string, std::string> Outputs(const TempDir& dir)
{
    auto files = Snapshot(dir.Path());
    std::erase_if(files, [](const auto& f) { return f.first.ends_with(".swf") || f.first.ends_with(".jsonl") ||
                                                    f.first.ends_with(".txt") || f.first.ends_with(".list0") || f.first.ends_with(".sh") ||
                                                    f.first.starts_with(".config") || f.first.starts_with(".parallel"); });
    return files;
}

std::string Differences(const std::map<std::string, std::string>& got, const std::map<std::string, std::string>& want)
{
    std::string out;
    for (const auto& [name, bytes] : got) {
        if (!want.count(name))
            out += "extra " + name + "\n";
        else if (want.at(name) != bytes)
            out += "differs " + name + "\n";
    }
    for (const auto& [name, bytes] : want) {
        if (!got.count(name))
            out += "missing " + name + "\n";
    }
    return out;
}

int CheckReportSchema(const std::string& report)
{
    std::string python;
    for (const char* candidate : {"python3", "/usr/bin/python3"}) {
        if (python.empty() && RunQuiet(std::string(candidate) + " -c 'import jsonschema'") == 0)
            python = candidate;
    }
    if (python.empty())
        return -1;
    const std::string check =
        "import json, sys, jsonschema\n"
        "schema = json.load(open(sys.argv[1]))\n"
        "jsonschema.Draft7Validator.check_schema(schema)\n"
        "for line in open(sys.argv[2]):\n"
        "    jsonschema.validate(json.loads(line), schema)\n";
    const std::string script = report + ".check.py";
    WriteFileBytes(script, check);
    const int status = RunQuiet(python + " " + ShellQuote(script) + " " + ShellQuote(ORVELLIN_SCHEMA) + " " +
                                ShellQuote(report));
    std::remove(script.c_str());
    return status == 0 ? 0 : 1;
}
