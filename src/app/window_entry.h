// The window module's entry points: the only names the module exports, and
// all the program calls in it. Plain C types only, so nothing of either
// side's C++ runtime state crosses. The trailing number is the interface's
// version: a module built for another interface lacks these names and fails
// to load with a clear message instead of being called wrongly.
#pragma once

#include <cstddef>

#define ORVELLIN_WINDOW_ENTRY extern "C" __attribute__((visibility("default")))

// Runs the main window with the movies and folders of open added; the process
// exit status. program is argv[0]. With needScreen, a window system that fell
// back to no screen ends the run with status 2 and a line on standard error.
ORVELLIN_WINDOW_ENTRY int OrvellinRunWindow1(char* program, const char* const* open, size_t openCount,
                                             int needScreen);

// Shows the UTF-8 text in an information box and returns 1 once it is closed;
// 0, having shown nothing, when no screen could be reached.
ORVELLIN_WINDOW_ENTRY int OrvellinShowResults1(char* program, const char* text, size_t size);
