// Entry point of window mode.
#pragma once

#include "ui/window_services.h"

// Creates the application object, runs the main window modally and returns
// the process exit status.
int RunMainWindow(int& argc, char** argv, const WindowServices& services);
