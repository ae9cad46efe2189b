// Where a movie's outputs go and under which names: the movie's own folder,
// else the fallback folders, and a base taken from the movie's name. The
// base is claimed in its folder for as long as the place is held, so no two
// movies (threads, workers, runs, shards) ever write under one base at once.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/folder_lock.h"

namespace platform {
class Folder;
}

// The output types' extensions, without the dot.
inline constexpr std::string_view kOutputExtensions[] = {"mp3", "wav", "flac"};

// The file-name part of the outputs of the movie at path.
std::string OutputBaseOf(std::string_view moviePath);
// "BASE_NNN.ext", the number at least three digits.
std::string NumberedName(const std::string& base, int number, std::string_view extension);
// The lock file of a base: one for every base whose names could meet it
// (those with the same part before their first '_', in any letter case).
std::string ClaimNameOf(std::string_view base);

class COutputPlace {
public:
    COutputPlace();
    ~COutputPlace();
    COutputPlace(const COutputPlace&) = delete;
    COutputPlace& operator=(const COutputPlace&) = delete;

    // Chooses the first folder that takes new files (the movie's own, then
    // the fallbacks, made when first needed) and claims the base there,
    // waiting for another owner to finish. False when none takes files.
    bool Pick(const std::string& moviePath);
    // Lets the folder and the claim go; files made stay.
    void Release();
    // Lets the claim go once the outputs have their names: what the place
    // tells stays.
    void EndClaim() { m_claim.Release(); }

    bool IsOpen() const { return m_folder != nullptr; }
    const std::shared_ptr<platform::Folder>& Folder() const { return m_folder; }
    const std::string& BaseName() const { return m_baseName; }
    // Folder and base, as shown.
    const std::string& Shown() const { return m_shown; }

    // The folders a movie's outputs may be in: its own, then the fallbacks,
    // each ending in '/'.
    static std::vector<std::string> Folders(const std::string& moviePath);
    // True when name (a file name, no folder) is one an output of the movie
    // at moviePath can take: BASE.ext, BASE_NNN.ext, BASE_<export>.ext and
    // its numbered forms, for the output types.
    static bool IsOutputName(const std::string& moviePath, std::string_view name);

private:
    bool TryFolder(const std::string& folder);

    std::shared_ptr<platform::Folder> m_folder;
    platform::FolderLock m_claim;
    std::string m_baseName;
    std::string m_shown;
};
