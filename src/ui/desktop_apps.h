// The desktop's programs for a type of file, found the way the freedesktop.org
// menus and file managers find them (mimeapps.list and the .desktop entries
// of the XDG data folders), and started on a file whose name may be any bytes.
#pragma once

#include <string>
#include <vector>

namespace desktop {

struct Application {
    std::string id;    // "vendor-player.desktop"
    std::string file;  // the .desktop file it was read from
    std::vector<std::string> exec;  // the Exec line split into arguments, field codes kept
    std::string name;
    std::string icon;
};

// The applications for a MIME type, the user's default first, then the other
// associations; entries that are hidden, removed for the type, or whose
// program is missing are left out.
std::vector<Application> ApplicationsFor(const std::string& mimeType);

// The command line that opens path with app: field codes expanded, the path
// passed as its exact bytes (%f, %F) or as a file: URL (%u, %U).
std::vector<std::string> CommandLine(const Application& app, const std::string& path);

// True when app starts the program that is running now, under any name.
bool IsThisProgram(const Application& app);

// Starts the command detached from this process (it outlives it and is never
// waited for); false when the program could not be started.
bool StartDetached(const std::vector<std::string>& command);

}  // namespace desktop
