#include "swf/output_place.h"

#include <cctype>
#include <cstdio>

#include "platform/file.h"
#include "platform/folders.h"
#include "platform/pending_file.h"
#include "util/paths.h"

namespace {

constexpr const char* kFallbackFolder = "Orvellin_Files/";
// Longest movie file name (without extension) used whole as the output
// base: room is left for "_NNNNN" or an export name and the extension.
constexpr size_t kMaxWholeBase = 120;
// The part of a base its claim is named by: every base that a cut base can
// meet shares it (see ClaimNameOf).
constexpr size_t kClaimKeyBytes = 108;

std::string FolderOf(std::string_view path)
{
    return std::string(path.substr(0, path.size() - FileNamePart(path).size()));
}

}  // namespace

std::string NumberedName(const std::string& base, int number, std::string_view extension)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "_%03d", number);
    return base + digits + std::string(extension);
}

// A name too long to take a number and an extension is cut at a character
// boundary and followed by "~" and a hash of the whole, so it still tells
// the movie and two long names that share a start don't meet. A movie named
// only by its extension (".swf") is named by that, without the dot, so that
// its outputs have a name to be known by.
std::string OutputBaseOf(std::string_view moviePath)
{
    std::string_view stem = FileNamePart(WithoutExtension(moviePath));
    if (stem.empty()) {
        stem = FileNamePart(moviePath);
        while (!stem.empty() && stem.front() == '.')
            stem.remove_prefix(1);
    }
    if (stem.size() <= kMaxWholeBase)
        return std::string(stem);
    const size_t cut = Utf8PrefixLength(stem, kMaxWholeBase - 9);
    uint32_t h = 2166136261u;  // FNV-1a
    for (const char c : stem) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    char hash[16];
    std::snprintf(hash, sizeof hash, "~%08x", h);
    return std::string(stem.substr(0, cut)) + hash;
}

// Two bases' names meet only when one base is the other or the other
// followed by '_' and more: both then have the same part before their first
// '_'. Lower case, for folders that compare names without case; cut so that
// a base cut to its first bytes and a hash still shares it with every name
// that starts the same.
std::string ClaimNameOf(std::string_view base)
{
    std::string key(base.substr(0, std::min(base.find('_'), base.size())));
    key.resize(std::min(key.size(), kClaimKeyBytes));
    for (char& c : key)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ".orvellin-" + key + ".lock";
}

COutputPlace::COutputPlace() = default;

COutputPlace::~COutputPlace()
{
    Release();
}

void COutputPlace::Release()
{
    m_claim.Release();
    m_folder.reset();
    m_baseName.clear();
    m_shown.clear();
}

std::vector<std::string> COutputPlace::Folders(const std::string& moviePath)
{
    std::vector<std::string> folders{FolderOf(moviePath)};
    std::string documents = platform::DocumentsFolder(false);
    if (!documents.empty()) {
        if (documents.back() != '/')
            documents += '/';
        folders.push_back(documents + kFallbackFolder);
    }
    std::string programFolder;
    if (GetModuleFolder(programFolder))
        folders.push_back(programFolder + kFallbackFolder);
    return folders;
}

bool COutputPlace::IsOutputName(const std::string& moviePath, std::string_view name)
{
    const std::string base = OutputBaseOf(moviePath);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || base.empty() || !name.starts_with(base))
        return false;
    const std::string_view extension = name.substr(dot + 1);
    bool known = false;
    for (const std::string_view e : kOutputExtensions)
        known = known || extension == e;
    // BASE.ext, or BASE_ and a number or an export name before the extension.
    return known && (dot == base.size() || (dot > base.size() + 1 && name[base.size()] == '_'));
}

bool COutputPlace::TryFolder(const std::string& folder)
{
    auto opened = std::make_shared<platform::Folder>();
    if (!opened->Open(folder))
        return false;
    // The claim comes first: a folder where even its file can't be made
    // takes no outputs. A temporary file then tells whether the folder takes
    // new files, and never shows under an output name even if the run is
    // killed right then.
    if (!m_claim.Acquire(opened, ClaimNameOf(m_baseName)))
        return false;
    platform::PendingFile probe;
    if (probe.CreateIn(opened, NumberedName(m_baseName, 1, ".mp3"))) {
        m_folder = std::move(opened);
        m_shown = m_folder->PathOf(m_baseName);
        return true;
    }
    m_claim.Release();
    return false;
}

bool COutputPlace::Pick(const std::string& moviePath)
{
    Release();
    m_baseName = OutputBaseOf(moviePath);
    if (TryFolder(FolderOf(moviePath)))
        return true;
    const std::vector<std::string> folders = Folders(moviePath);
    for (size_t i = 1; i < folders.size(); ++i) {
        // The fallbacks are made when first needed.
        if (i == 1)
            platform::DocumentsFolder(true);
        platform::CreateFolder(folders[i]);
        if (TryFolder(folders[i]))
            return true;
    }
    return false;
}
