#include "platform/folders.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file.h"

namespace platform {

bool PathExists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) == 0)
        return true;
    return errno == EEXIST && IsFolder(path);
}

namespace {

std::string Home()
{
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) : std::string();
}

// XDG_DOCUMENTS_DIR="$HOME/Docs" as written by xdg-user-dirs.
std::string DocumentsFromUserDirs(const std::string& home)
{
    std::string configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        configHome = xdg;
    else
        configHome = home + "/.config";
    std::string text;
    if (!ReadWholeFile(configHome + "/user-dirs.dirs", text, 1 << 16))
        return {};
    const std::string key = "XDG_DOCUMENTS_DIR=";
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.compare(0, key.size(), key) != 0)
            continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0)
            value = home + value.substr(5);
        if (!value.empty() && value.front() == '/')
            return value;
    }
    return {};
}

}  // namespace

std::string DocumentsFolder(bool create)
{
    const std::string home = Home();
    std::string folder;
    if (const char* env = std::getenv("XDG_DOCUMENTS_DIR"); env && *env == '/')
        folder = env;
    else if (!home.empty())
        folder = DocumentsFromUserDirs(home);
    if (folder.empty()) {
        if (home.empty())
            return {};
        folder = home + "/Documents";
    }
    if (create && !CreateFolder(folder))
        return {};
    return folder;
}

std::string ProgramPath()
{
    std::string path(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0)
            return {};
        if (static_cast<size_t>(n) < path.size()) {
            path.resize(static_cast<size_t>(n));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace platform

namespace platform {

std::string ResolvedFolder(const std::string& path)
{
    const std::string folder = path.empty() ? std::string(".") : path;
    if (char* real = ::realpath(folder.c_str(), nullptr)) {
        std::string out(real);
        std::free(real);
        if (out.empty() || out.back() != '/')
            out += '/';
        return out;
    }
    std::string whole;
    if (folder[0] != '/') {
        if (char* cwd = ::getcwd(nullptr, 0)) {
            whole = cwd;
            std::free(cwd);
        }
    }
    return LexicalFolder(whole + "/" + folder);
}

std::string LexicalFolder(const std::string& folder)
{
    std::string out = !folder.empty() && folder[0] == '/' ? "/" : "";
    for (size_t at = 0; at < folder.size();) {
        size_t end = folder.find('/', at);
        if (end == std::string::npos)
            end = folder.size();
        const std::string_view part(folder.data() + at, end - at);
        if (!part.empty() && part != ".") {
            out += part;
            out += '/';
        }
        at = end + 1;
    }
    return out;
}

}  // namespace platform
