// External tools that some tests use as oracles.
#pragma once

#include <string>

// True when the named program is on PATH.
bool HaveTool(const std::string& name);
// Runs a shell command quietly; its exit status.
int RunQuiet(const std::string& command);
// Single-quotes a path for the shell.
std::string ShellQuote(const std::string& s);
