#include "util/paths.h"

#include "platform/file.h"
#include "platform/folders.h"

std::string_view FileNamePart(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view FileExtension(std::string_view path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    const std::string_view name = path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

std::string_view WithoutExtension(std::string_view path)
{
    const std::string_view name = FileNamePart(path);
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? path : path.substr(0, path.size() - name.size() + dot);
}

bool GetModuleFolder(std::string& folder)
{
    std::string exe = platform::ProgramPath();
    const size_t slash = exe.rfind('/');
    if (exe.empty() || slash == std::string::npos)
        return false;
    exe.resize(slash + 1);
    folder = std::move(exe);
    return true;
}

bool FileExists(const std::string& path)
{
    return platform::PathExists(path);
}

bool FolderExists(const std::string& path)
{
    return platform::IsFolder(path);
}

size_t Utf8PrefixLength(std::string_view text, size_t most)
{
    if (most >= text.size())
        return text.size();
    // Back off the continuation bytes of a character the cut would split.
    while (most > 0 && (static_cast<unsigned char>(text[most]) & 0xC0) == 0x80)
        --most;
    return most;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}
