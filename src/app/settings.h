// Per-user settings: QSettings("Tessaline", "Orvellin"), group "Options", and
// what the window keeps of its layout in group "Window".
#pragma once

#include <functional>
#include <string>

namespace settings {

// The folder last chosen with Add Folder; "" when none was saved.
std::string LoadFolder();
void SaveFolder(const std::string& folder);

// Opens help through openHelp when "FirstRun" is missing or non-zero, and sets
// it to 0 first. A store that can't be read counts as a first run.
void FirstRunStep(const std::function<void()>& openHelp);

// A value the window keeps under name in group "Window"; "" when none.
std::string LoadWindowValue(const std::string& name);
void SaveWindowValue(const std::string& name, const std::string& value);

}  // namespace settings
