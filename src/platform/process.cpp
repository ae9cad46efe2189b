#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/pending_file.h"

namespace platform {

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t g_noted = 0;
int g_notePipe[2] = {-1, -1};

// Ends the process here, whatever mask the code it cut into had: a runtime
// that defers signals (as sanitizers do) may run this while they are held,
// when a plain raise would only end the process later, past files made since.
void RemoveAndEnd(int signal)
{
    RemovePendingFiles();
    EndBySignal(signal);
}

void Note(int signal)
{
    const int saved = errno;
    g_noted = signal;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_notePipe[1], &byte, 1);
    errno = saved;
}

void Install(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int s : kEndingSignals)
        sigaddset(&action.sa_mask, s);
    for (int s : kEndingSignals)
        ::sigaction(s, &action, nullptr);
}

}  // namespace

void RemovePendingFilesOnSignals()
{
    Install(RemoveAndEnd);
}

int NoteInterruptSignals()
{
    if (g_notePipe[0] < 0 && ::pipe2(g_notePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    Install(Note);
    return g_notePipe[0];
}

void EndInterruptSignals()
{
    Install(SIG_DFL);
}

int TakeInterruptSignal()
{
    char drain[16];
    while (g_notePipe[0] >= 0 && ::read(g_notePipe[0], drain, sizeof drain) > 0) {
    }
    return g_noted;
}

void EndBySignal(int signal)
{
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

Child::~Child()
{
    Release();
}

void Child::Release()
{
    if (m_pid > 0) {
        Signal(SIGKILL);
        Wait();
    }
    CloseFd();
}

Child::Child(Child&& other) noexcept : m_pid(other.m_pid), m_fd(other.m_fd), m_in(other.m_in)
{
    other.m_pid = -1;
    other.m_fd = -1;
    other.m_in = -1;
}

Child& Child::operator=(Child&& other) noexcept
{
    if (this != &other) {
        Release();
        m_pid = other.m_pid;
        m_fd = other.m_fd;
        m_in = other.m_in;
        other.m_pid = -1;
        other.m_fd = -1;
        other.m_in = -1;
    }
    return *this;
}

bool Child::Start(const std::function<int(int in, int out)>& work)
{
    int up[2];    // child to parent
    int down[2];  // parent to child
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, up) != 0)
        return false;
    if (::pipe2(down, O_CLOEXEC) != 0) {
        ::close(up[0]);
        ::close(up[1]);
        return false;
    }
    // Until the child has its own handlers, an ending signal must neither run
    // the parent's (which would write to the parent's note pipe) nor be lost.
    sigset_t ending;
    sigset_t before;
    sigemptyset(&ending);
    for (int s : kEndingSignals)
        sigaddset(&ending, s);
    ::sigprocmask(SIG_BLOCK, &ending, &before);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (int s : kEndingSignals)
            std::signal(s, SIG_DFL);
        // Only its own pipes stay open: a sibling's pipe held here would never
        // read its end, and the parent's note pipe is the parent's.
        const int in = ::fcntl(down[0], F_DUPFD, 10);
        const int out = ::fcntl(up[1], F_DUPFD, 10);
        if (in < 0 || out < 0 || ::dup2(in, 3) != 3 || ::dup2(out, 4) != 4)
            ::_exit(1);
        ::close_range(5, ~0u, 0);
        g_notePipe[0] = g_notePipe[1] = -1;
        // A worker whose parent is gone (killed outright) is told to stop, so
        // that it removes its temporary files instead of running on alone.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
        ::sigprocmask(SIG_SETMASK, &before, nullptr);
        // Nothing may unwind into the parent's frames copied here.
        int status = 1;
        try {
            status = work(3, 4);
        } catch (...) {
        }
        ::_exit(status);
    }
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    ::close(up[1]);
    ::close(down[0]);
    if (pid < 0) {
        ::close(up[0]);
        ::close(down[1]);
        return false;
    }
    // Read without blocking: the parent serves many children from one loop.
    ::fcntl(up[0], F_SETFL, ::fcntl(up[0], F_GETFL) | O_NONBLOCK);
    m_pid = pid;
    m_fd = up[0];
    m_in = down[1];
    return true;
}

bool Child::Send(const void* data, size_t size)
{
    return m_in >= 0 && WriteAll(m_in, data, size);
}

void Child::CloseInput()
{
    if (m_in >= 0)
        ::close(m_in);
    m_in = -1;
}

void Child::CloseFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    CloseInput();
}

bool Child::ReadAvailable(std::string& out, std::vector<int>& descriptors)
{
    if (m_fd < 0)
        return false;
    char buffer[16384];
    // Room for as many descriptors as one message may carry.
    alignas(cmsghdr) char control[CMSG_SPACE(253 * sizeof(int))];
    for (;;) {
        iovec io{buffer, sizeof buffer};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd, &message, MSG_CMSG_CLOEXEC);
        if (n >= 0 && message.msg_controllen > 0) {
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
                    continue;
                const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (size_t i = 0; i < count; ++i) {
                    int fd;
                    std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                    descriptors.push_back(fd);
                }
            }
        }
        if (n > 0 && (message.msg_flags & MSG_CTRUNC) != 0) {
            // Descriptors were lost: what they came with can't be trusted.
            CloseFd();
            return false;
        }
        if (n > 0) {
            out.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        CloseFd();
        return false;
    }
}

void Child::Signal(int signal)
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

ChildEnd Child::Wait()
{
    ChildEnd end;
    if (m_pid <= 0)
        return end;
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(m_pid, &status, 0);
    } while (got < 0 && errno == EINTR);
    m_pid = -1;
    if (got > 0 && WIFEXITED(status)) {
        end.exited = true;
        end.code = WEXITSTATUS(status);
    } else if (got > 0 && WIFSIGNALED(status)) {
        end.code = WTERMSIG(status);
    }
    return end;
}

std::vector<bool> WaitReadable(const std::vector<int>& fds, int timeoutMs)
{
    std::vector<pollfd> polled;
    polled.reserve(fds.size());
    for (int fd : fds)
        polled.push_back(pollfd{fd, POLLIN, 0});
    std::vector<bool> ready(fds.size(), false);
    const int n = ::poll(polled.data(), polled.size(), timeoutMs);
    if (n <= 0)
        return ready;
    for (size_t i = 0; i < polled.size(); ++i)
        ready[i] = polled[i].fd >= 0 && (polled[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    return ready;
}

namespace {

// Moves all size bytes with read or write, retrying short counts and
// interruptions.
template <typename Byte, typename Call>
bool Whole(Byte* p, size_t size, Call call)
{
    while (size > 0) {
        const ssize_t n = call(p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool WriteAll(int fd, const void* data, size_t size)
{
    return Whole(static_cast<const char*>(data), size, [fd](const char* p, size_t n) { return ::write(fd, p, n); });
}

bool WriteAllPassing(int socket, const void* data, size_t size, int passed)
{
    if (size == 0)
        return false;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    iovec io{const_cast<void*>(data), 1};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &passed, sizeof passed);
    ssize_t n;
    do {
        n = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == 1 && WriteAll(socket, static_cast<const char*>(data) + 1, size - 1);
}

bool ReadAll(int fd, void* data, size_t size)
{
    return Whole(static_cast<char*>(data), size, [fd](char* p, size_t n) { return ::read(fd, p, n); });
}

namespace {

std::mutex g_quietLock;
int g_quietDepth = 0;
int g_savedStderr = -1;

}  // namespace

QuietStandardError::QuietStandardError()
{
    std::lock_guard<std::mutex> lock(g_quietLock);
    if (g_quietDepth++ > 0)
        return;
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    g_savedStderr = null >= 0 ? ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3) : -1;
    if (g_savedStderr >= 0)
        ::dup2(null, STDERR_FILENO);
    if (null >= 0)
        ::close(null);
}

QuietStandardError::~QuietStandardError()
{
    std::lock_guard<std::mutex> lock(g_quietLock);
    if (--g_quietDepth > 0 || g_savedStderr < 0)
        return;
    std::fflush(stderr);
    ::dup2(g_savedStderr, STDERR_FILENO);
    ::close(g_savedStderr);
    g_savedStderr = -1;
}

unsigned ProcessorCount()
{
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace platform
