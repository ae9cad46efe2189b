// Runs batch work in worker processes, one task at a time each, so that no
// library state is shared between tasks running at once, and a crash, an
// abort or a runaway task costs that task alone: its worker is replaced.
// Forking once per worker rather than per task: a fork of this program costs
// more than converting a small movie.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct WorkerOutcome {
    bool reported = false;  // the task sent its result
    bool timedOut = false;  // killed at the time limit
    std::string result;     // what the task sent
    std::string failure;    // why there is no result, in words
};

struct WorkerLimits {
    unsigned jobs = 1;      // tasks running at once
    double timeout = 0;     // seconds per task; 0 for none
};

// Runs every task of every chain; the tasks of one chain one after another,
// in their order, chains side by side. work(task, fd) runs in the child and
// returns its result text (sent to the parent through fd); done(task,
// outcome) runs in the parent as each task ends. Temporary files a task
// leaves behind (killed, crashed) are removed. Returns 0, or the signal
// (SIGINT, SIGTERM, SIGHUP) that ended the run early after its workers.
int RunWorkers(const std::vector<std::vector<size_t>>& chains, const WorkerLimits& limits,
               const std::function<std::string(size_t task)>& work,
               const std::function<void(size_t task, const WorkerOutcome& outcome)>& done);
