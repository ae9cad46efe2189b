// What the main window needs from the application. The window reaches the
// settings and the first-run step only through these services.
#pragma once

#include <functional>
#include <string>

struct WindowServices {
    // The folder last chosen with Add Folder ("" when none).
    std::function<std::string()> loadFolder;
    std::function<void(const std::string&)> saveFolder;
    // The first-run step: opens help through the given function when this is
    // the first start of the window, and records that it has run.
    std::function<void(const std::function<void()>& openHelp)> firstRunStep;
    // What the window keeps of its layout (size and place, column widths)
    // under names of its own; "" when nothing was kept under the name.
    std::function<std::string(const std::string& name)> loadLayout;
    std::function<void(const std::string& name, const std::string& value)> saveLayout;
};
