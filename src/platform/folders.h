// Folders and file-system queries, as the core needs them.
#pragma once

#include <string>

namespace platform {

bool PathExists(const std::string& path);
bool IsFolder(const std::string& path);
// Creates one folder; true if it exists as a folder afterwards.
bool CreateFolder(const std::string& path);
// The user's documents folder (XDG_DOCUMENTS_DIR, then ~/.config/user-dirs.dirs,
// then $HOME/Documents), created if missing unless create is false. Empty
// when there is no home.
std::string DocumentsFolder(bool create = true);
// A folder as every machine spells it: no "." parts, no doubled slashes,
// ending in '/' ("" for the current folder, written so).
std::string LexicalFolder(const std::string& folder);
// The folder at path (a movie's folder part, "" for the current one) as
// every spelling of it resolves: absolute, links, "." and ".." resolved,
// ending in '/'. A folder that can't be resolved (gone, unreadable) is made
// absolute as written.
std::string ResolvedFolder(const std::string& path);
// The running program's full path, empty when it can't be had.
std::string ProgramPath();

}  // namespace platform
