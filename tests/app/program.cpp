#include "app/program.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "support/swf_builder.h"
#include "support/tools.h"

Result RunProgram(const TempDir& dir, const std::string& args, const std::string& env, bool errors)
{
    const std::string cmd = "cd " + ShellQuote(dir.Path()) + " && env -u DISPLAY -u WAYLAND_DISPLAY HOME=" +
                            ShellQuote(dir.Path()) + " XDG_CONFIG_HOME=" + ShellQuote(dir / ".config") + " " + env +
                            " " + ShellQuote(ORVELLIN_BINARY) + " " + args + (errors ? " 2>&1" : " 2>/dev/null");
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
    const std::string base = name.substr(name.rfind('/') + 1);
    return base[0] == '.' && base.size() > 5 && base.compare(base.size() - 5, 5, ".part") == 0;
}
