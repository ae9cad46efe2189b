// The program as a black box, for the command-line tests.
#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/temp_dir.h"

struct Result {
    int status = -1;
    std::string out;
};

// Runs the program in dir without a display; env goes before it on the
// shell's command line (variables, or a command that runs it). Standard
// error is dropped, or with errors read with standard output. program is
// the built one unless named.
Result RunProgram(const TempDir& dir, const std::string& args, const std::string& env = "", bool errors = false,
                  const std::string& program = ORVELLIN_BINARY);

// Starts the program in dir as the leader of a process group of its own, as
// a shell starts a job, so that a signal can reach it and its workers.
pid_t StartProgram(const TempDir& dir, const std::vector<std::string>& args);

// A movie with 16-bit mono PCM sounds of the given frame counts.
void PcmMovie(const std::string& path, size_t sounds = 1, size_t frames = 2000);

// Every file of the folder and below, by relative name, with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& root);

bool IsTemporaryName(const std::string& name);

// Archives: the lines of a text, a report's records by movie path (the last
// of each), the outputs of a folder (without movies, reports and lists).
std::vector<std::string> Lines(const std::string& text);
std::map<std::string, std::string> Records(const std::string& report);
std::map<std::string, std::string> Outputs(const TempDir& dir);
// An archive of small movies: every kind of outcome, a named sound, and
// names that must run in order. The names of the movies, and as a list.
std::vector<std::string> MakeArchive(const TempDir& dir, int count);
std::string Joined(const std::vector<std::string>& names);
// The names whose bytes differ or that only one side has, one a line.
std::string Differences(const std::map<std::string, std::string>& got, const std::map<std::string, std::string>& want);

// Checks every record of a report against the schema kept with the program:
// 0 when all validate, 1 when one doesn't, -1 without a python3 that has
// jsonschema.
int CheckReportSchema(const std::string& report);
