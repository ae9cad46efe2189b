#include "ui/desktop_apps.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "ui/shell.h"

namespace fs = std::filesystem;

namespace desktop {

namespace {

// Desktop entries and association lists are small; anything larger is no
// file of that kind and is not read.
constexpr std::uintmax_t kMaxEntrySize = 1 << 20;

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<std::string> SplitList(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(separator, start), text.size());
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string Home()
{
    return Env("HOME");
}

// XDG_*_HOME, then XDG_*_DIRS, with the defaults of the base-directory rules.
std::vector<std::string> BaseFolders(const char* homeVar, const std::string& homeDefault, const char* dirsVar,
                                     const std::string& dirsDefault)
{
    std::vector<std::string> folders;
    const std::string home = Env(homeVar);
    if (!home.empty())
        folders.push_back(home);
    else if (!Home().empty())
        folders.push_back(Home() + homeDefault);
    const std::string dirs = Env(dirsVar);
    for (const std::string& dir : SplitList(dirs.empty() ? dirsDefault : dirs, ':'))
        folders.push_back(dir);
    return folders;
}

std::vector<std::string> ApplicationFolders()
{
    std::vector<std::string> folders;
    for (const std::string& base :
         BaseFolders("XDG_DATA_HOME", "/.local/share", "XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        folders.push_back(base + "/applications");
    return folders;
}

// A group of key=value lines of an INI-like file, keys in order of the file.
using Group = std::vector<std::pair<std::string, std::string>>;

std::map<std::string, Group> ReadIni(const std::string& path)
{
    std::map<std::string, Group> groups;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec) || fs::file_size(path, ec) > kMaxEntrySize || ec)
        return groups;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    Group* group = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            group = close == std::string::npos ? nullptr : &groups[line.substr(1, close - 1)];
            continue;
        }
        const size_t eq = line.find('=');
        if (!group || eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        size_t valueStart = eq + 1;
        while (valueStart < line.size() && line[valueStart] == ' ')
            ++valueStart;
        group->emplace_back(std::move(key), line.substr(valueStart));
    }
    return groups;
}

std::string Value(const Group& group, const std::string& key)
{
    for (const auto& [k, v] : group) {
        if (k == key)
            return v;
    }
    return {};
}

// The escapes of a desktop entry's string values.
std::string Unescape(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        default: out += value[i];
        }
    }
    return out;
}

// The Exec line's arguments: separated by spaces, double quotes group, and
// inside them a backslash takes the next character literally.
std::vector<std::string> SplitExec(const std::string& exec)
{
    std::vector<std::string> args;
    std::string current;
    bool inArg = false;
    bool quoted = false;
    for (size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            else if (c == '\\' && i + 1 < exec.size())
                current += exec[++i];
            else
                current += c;
        } else if (c == '"') {
            quoted = inArg = true;
        } else if (c == ' ' || c == '\t') {
            if (inArg)
                args.push_back(std::move(current));
            current.clear();
            inArg = false;
        } else {
            current += c;
            inArg = true;
        }
    }
    if (inArg && !quoted)
        args.push_back(std::move(current));
    return quoted ? std::vector<std::string>{} : args;
}

// The program as a full path, looked up in PATH when it has no slash.
std::string FindProgram(const std::string& program)
{
    if (program.empty())
        return {};
    if (program.find('/') != std::string::npos)
        return access(program.c_str(), X_OK) == 0 ? program : std::string();
    for (const std::string& dir : SplitList(Env("PATH"), ':')) {
        const std::string candidate = dir + "/" + program;
        std::error_code ec;
        if (access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate, ec))
            return candidate;
    }
    return {};
}

// The file of a desktop id in the first application folder that has it; a
// '-' of the id may stand for a subfolder.
std::string FindEntryFile(const std::string& id)
{
    if (id.empty() || id.find('/') != std::string::npos)
        return {};
    for (const std::string& folder : ApplicationFolders()) {
        std::error_code ec;
        std::string candidate = folder + "/" + id;
        if (fs::is_regular_file(candidate, ec))
            return candidate;
        const size_t dash = id.find('-');
        if (dash != std::string::npos) {
            candidate = folder + "/" + id.substr(0, dash) + "/" + id.substr(dash + 1);
            if (fs::is_regular_file(candidate, ec))
                return candidate;
        }
    }
    return {};
}

bool ReadApplication(const std::string& id, const std::string& file, Application& app)
{
    const auto groups = ReadIni(file);
    const auto it = groups.find("Desktop Entry");
    if (it == groups.end())
        return false;
    const Group& entry = it->second;
    if (Value(entry, "Type") != "Application" || Value(entry, "Hidden") == "true")
        return false;
    const std::string tryExec = Unescape(Value(entry, "TryExec"));
    if (!tryExec.empty() && FindProgram(tryExec).empty())
        return false;
    app.id = id;
    app.file = file;
    app.exec = SplitExec(Unescape(Value(entry, "Exec")));
    app.name = Unescape(Value(entry, "Name"));
    app.icon = Unescape(Value(entry, "Icon"));
    return !app.exec.empty() && !FindProgram(app.exec.front()).empty();
}

bool Lists(const std::string& value, const std::string& item)
{
    const std::vector<std::string> items = SplitList(value, ';');
    return std::find(items.begin(), items.end(), item) != items.end();
}

}  // namespace

std::vector<Application> ApplicationsFor(const std::string& mimeType)
{
    // The association lists, most important first: the user's configuration,
    // the system's, then those beside the entries; each desktop's own list
    // before the common one.
    std::vector<std::string> lists;
    std::vector<std::string> desktops;
    for (std::string name : SplitList(Env("XDG_CURRENT_DESKTOP"), ':')) {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        desktops.push_back(name);
    }
    std::vector<std::string> listFolders = BaseFolders("XDG_CONFIG_HOME", "/.config", "XDG_CONFIG_DIRS", "/etc/xdg");
    for (const std::string& folder : ApplicationFolders())
        listFolders.push_back(folder);
    for (const std::string& folder : listFolders) {
        for (const std::string& name : desktops)
            lists.push_back(folder + "/" + name + "-mimeapps.list");
        lists.push_back(folder + "/mimeapps.list");
    }

    std::vector<std::string> defaults;
    std::vector<std::string> added;
    std::vector<std::string> removed;
    for (const std::string& list : lists) {
        const auto groups = ReadIni(list);
        const auto take = [&groups, &mimeType](const char* group, std::vector<std::string>& into) {
            const auto it = groups.find(group);
            if (it == groups.end())
                return;
            for (const std::string& id : SplitList(Value(it->second, mimeType), ';'))
                into.push_back(id);
        };
        take("Default Applications", defaults);
        take("Added Associations", added);
        take("Removed Associations", removed);
    }

    std::vector<Application> apps;
    const auto consider = [&apps, &removed](const std::string& id, const std::string& file) {
        if (file.empty() || std::find(removed.begin(), removed.end(), id) != removed.end())
            return;
        for (const Application& app : apps) {
            if (app.id == id)
                return;
        }
        Application app;
        if (ReadApplication(id, file, app))
            apps.push_back(std::move(app));
    };
    for (const std::string& id : defaults)
        consider(id, FindEntryFile(id));
    for (const std::string& id : added)
        consider(id, FindEntryFile(id));
    // Then every entry that names the type itself, which is what the
    // mimeinfo.cache files summarise where they exist.
    for (const std::string& folder : ApplicationFolders()) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
            if (it->path().extension() == ".desktop")
                files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            const auto groups = ReadIni(file.string());
            const auto it = groups.find("Desktop Entry");
            if (it != groups.end() && Lists(Value(it->second, "MimeType"), mimeType)) {
                const std::string id = file.filename().string();
                // An entry of an earlier folder hides one of the same id.
                if (FindEntryFile(id) == file.string())
                    consider(id, file.string());
            }
        }
    }
    return apps;
}

std::vector<std::string> CommandLine(const Application& app, const std::string& path)
{
    const std::string url = PathToUrl(path).toEncoded().toStdString();
    std::vector<std::string> command;
    bool placed = false;
    for (const std::string& arg : app.exec) {
        if (arg == "%f" || arg == "%F" || arg == "%u" || arg == "%U") {
            command.push_back(arg[1] == 'f' || arg[1] == 'F' ? path : url);
            placed = true;
            continue;
        }
        if (arg == "%i") {
            if (!app.icon.empty()) {
                command.push_back("--icon");
                command.push_back(app.icon);
            }
            continue;
        }
        std::string expanded;
        for (size_t i = 0; i < arg.size(); ++i) {
            if (arg[i] != '%' || i + 1 == arg.size()) {
                expanded += arg[i];
                continue;
            }
            switch (arg[++i]) {
            case '%': expanded += '%'; break;
            case 'f': case 'F': expanded += path; placed = true; break;
            case 'u': case 'U': expanded += url; placed = true; break;
            case 'c': expanded += app.name; break;
            case 'k': expanded += app.file; break;
            default: break;  // deprecated and unknown codes expand to nothing
            }
        }
        command.push_back(std::move(expanded));
    }
    // An entry that names no file argument still claims the type; the file
    // goes last, as a shell would pass it.
    if (!placed && !command.empty())
        command.push_back(path);
    return command;
}

bool IsThisProgram(const Application& app)
{
    if (app.id == "orvellin.desktop" || app.exec.empty())
        return true;
    const std::string program = FindProgram(app.exec.front());
    if (fs::path(program).filename() == "orvellin")
        return true;
    std::error_code ec;
    const fs::path self = fs::canonical("/proc/self/exe", ec);
    if (ec)
        return false;
    const fs::path real = fs::canonical(program, ec);
    return !ec && real == self;
}

bool StartDetached(const std::vector<std::string>& command)
{
    if (command.empty())
        return false;
    const std::string program = FindProgram(command.front());
    if (program.empty())
        return false;
    // Everything the child needs is made before fork: between fork and exec
    // only async-signal-safe calls are allowed.
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const std::string& arg : command)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    // The grandchild reports a failed exec through this pipe; a successful
    // exec closes it.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        // The intermediate child ends at once, so the program is adopted by
        // init and this process has nothing to wait for.
        setsid();
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            execv(program.c_str(), argv.data());
            const int error = errno;
            (void)!write(report[1], &error, sizeof error);
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
}

}  // namespace desktop
