// Worker processes and the signals that end a run.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

// Makes SIGINT, SIGTERM and SIGHUP delete this process's pending files
// (pending_file.h) and then end it as the signal would have.
void RemovePendingFilesOnSignals();

// Makes SIGINT, SIGTERM and SIGHUP only note the signal, for a process that
// ends its workers first. The returned descriptor becomes readable when one
// has arrived; TakeInterruptSignal tells which (0 for none). -1 on failure.
int NoteInterruptSignals();
int TakeInterruptSignal();
// Gives SIGINT, SIGTERM and SIGHUP their default action back, once no work
// is left to end first.
void EndInterruptSignals();
// Ends the process as the signal would have, default handling restored.
[[noreturn]] void EndBySignal(int signal);

struct ChildEnd {
    bool exited = false;  // by _exit/exit; otherwise killed by a signal
    int code = 0;         // exit status, or the signal number
};

// A copy of this process, forked, that runs one function, takes its input
// from the parent through a pipe and reports through a socket, which can
// carry descriptors too. Forking is
// safe only while this process runs a single thread; the child starts with
// the parent's state, libraries included, as it was at the fork, and with no
// other descriptor than standard input, output, error and its two pipes.
class Child {
public:
    Child() = default;
    ~Child();  // kills and reaps a child still running
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // In the child, work(in, out) runs with in the reading end of the pipe
    // from the parent and out its end of the socket to it; its result is the
    // exit status. The parent's exit handlers never run there.
    bool Start(const std::function<int(int in, int out)>& work);
    // Writes to the child's input; false when it can't take it (gone).
    bool Send(const void* data, size_t size);
    // Ends the child's input: it reads the end.
    void CloseInput();
    bool Running() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    // The reading end of the pipe, -1 once it reached its end.
    int Fd() const { return m_fd; }
    // Appends what the socket holds now to out, and the descriptors sent
    // with it to descriptors, in the order sent (the caller owns them);
    // false once the socket has ended.
    bool ReadAvailable(std::string& out, std::vector<int>& descriptors);
    void Signal(int signal);
    // Waits for the child to end and reaps it.
    ChildEnd Wait();

private:
    void Release();
    void CloseFd();

    pid_t m_pid = -1;
    int m_fd = -1;  // from the child
    int m_in = -1;  // to the child
};

// Waits until one of the descriptors can be read (or has ended), or
// timeoutMs milliseconds pass (-1: no limit). The flags tell which are ready.
std::vector<bool> WaitReadable(const std::vector<int>& fds, int timeoutMs);

// Writes all bytes to a descriptor (a worker's pipe); false on failure.
bool WriteAll(int fd, const void* data, size_t size);
// The same to a worker's socket, sending passed (a descriptor, which stays
// open here) with the first byte.
bool WriteAllPassing(int socket, const void* data, size_t size, int passed);
// Reads exactly size bytes, waiting for them; false at the end or on failure.
bool ReadAll(int fd, void* data, size_t size);

// While one lives, what the process writes to standard error is dropped: for
// a library that prints where it has no way to be told not to. Process-wide;
// guards on several threads nest.
class QuietStandardError {
public:
    QuietStandardError();
    ~QuietStandardError();
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;
};

// Processors this process may run on.
unsigned ProcessorCount();

}  // namespace platform
