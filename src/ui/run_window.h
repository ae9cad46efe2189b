// Entry point of window mode.
#pragma once

#include <string>
#include <vector>

#include "ui/window_services.h"

// Creates the application object, runs the main window modally and returns
// the process exit status. The movies and folders in open are added as a
// drop would add them. With needScreen, a window system that fell back to no
// screen at all (offscreen) ends the run with status 2 and a line on
// standard error instead of a window nobody sees.
int RunMainWindow(int& argc, char** argv, const WindowServices& services, const std::vector<std::string>& open,
                  bool needScreen);
