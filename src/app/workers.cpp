#include "app/workers.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <deque>
#include <list>
#include <set>

#include "platform/file.h"
#include "platform/pending_file.h"
#include "platform/process.h"

namespace {

using Clock = std::chrono::steady_clock;

// Messages from a worker: a type byte, a 32-bit little-endian length, the bytes.
enum : char { kTempCreated = 'T', kTempGone = 'U', kCreated = 'C', kRemoved = 'D', kResult = 'R' };
constexpr uint32_t kMaxMessage = 64u << 20;
// How long workers told to stop may take before they are killed.
constexpr auto kStopGrace = std::chrono::seconds(5);

bool Send(int fd, char type, const std::string& payload)
{
    const auto n = static_cast<uint32_t>(payload.size());
    const char header[5] = {type, static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                            static_cast<char>(n >> 24)};
    return platform::WriteAll(fd, header, sizeof header) && platform::WriteAll(fd, payload.data(), payload.size());
}

int RunTask(size_t task, int fd, const std::function<std::string(size_t)>& work)
{
    platform::RemovePendingFilesOnSignals();
    platform::SetFileEventListener([fd](platform::FileEvent event, const std::string& path) {
        static constexpr char kTypes[] = {kTempCreated, kTempGone, kCreated, kRemoved};
        Send(fd, kTypes[static_cast<int>(event)], path);
    });
    const std::string result = work(task);
    return Send(fd, kResult, result) ? 0 : 1;
}

struct Running {
    size_t chain = 0;
    size_t task = 0;
    platform::Child child;
    std::string inbox;
    std::set<std::string> temps;    // reported and not yet gone
    std::set<std::string> outputs;  // files it made, which go if it fails
    WorkerOutcome outcome;
    bool gotResult = false;
    bool broken = false;  // sent something that is no message
    Clock::time_point deadline = Clock::time_point::max();
};

void TakeMessages(Running& r)
{
    size_t at = 0;
    while (r.inbox.size() - at >= 5) {
        const auto* h = reinterpret_cast<const unsigned char*>(r.inbox.data() + at);
        const uint32_t n = h[1] | h[2] << 8 | h[3] << 16 | static_cast<uint32_t>(h[4]) << 24;
        if (n > kMaxMessage) {
            r.broken = true;
            break;
        }
        if (r.inbox.size() - at - 5 < n)
            break;
        std::string payload = r.inbox.substr(at + 5, n);
        switch (static_cast<char>(h[0])) {
        case kTempCreated: r.temps.insert(std::move(payload)); break;
        case kTempGone: r.temps.erase(payload); break;
        case kCreated: r.outputs.insert(std::move(payload)); break;
        case kRemoved:
            r.temps.erase(payload);
            r.outputs.erase(payload);
            break;
        case kResult:
            r.outcome.result = std::move(payload);
            r.gotResult = true;
            break;
        default: r.broken = true; break;
        }
        at += 5 + n;
    }
    r.inbox.erase(0, at);
}

std::string Describe(const platform::ChildEnd& end)
{
    if (end.exited)
        return "worker exited with status " + std::to_string(end.code);
    const char* name = strsignal(end.code);
    return std::string("worker ended by signal ") + std::to_string(end.code) + (name ? std::string(" (") + name + ")" : "");
}

// Reaps a worker whose pipe ended or that was killed, and settles its outcome.
void Settle(Running& r)
{
    // Reaped first: then every writing end is closed and the rest of the
    // pipe reads to its end without waiting.
    const platform::ChildEnd end = r.child.Wait();
    while (r.child.ReadAvailable(r.inbox)) {
    }
    TakeMessages(r);
    for (const std::string& temp : r.temps)
        platform::DeleteFile(temp);
    r.temps.clear();
    WorkerOutcome& o = r.outcome;
    o.reported = r.gotResult && !r.broken && !o.timedOut && end.exited && end.code == 0;
    if (o.reported)
        return;
    // A movie that did not finish leaves nothing: the files it made so far
    // would read as a conversion, and a later run would number after them.
    for (const std::string& output : r.outputs)
        platform::DeleteFile(output);
    if (o.timedOut)
        o.failure = "time limit reached";
    else if (r.broken)
        o.failure = "worker sent damaged results";
    else
        o.failure = Describe(end);
    o.result.clear();
}

int MillisecondsUntil(Clock::time_point when)
{
    if (when == Clock::time_point::max())
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left + 1, 1 << 30));
}

// Tells every worker to stop, gives them a moment to clean up, then kills.
void StopAll(std::list<Running>& running)
{
    for (Running& r : running)
        r.child.Signal(SIGTERM);
    const auto giveUp = Clock::now() + kStopGrace;
    for (Running& r : running) {
        while (r.child.Fd() >= 0 && Clock::now() < giveUp) {
            platform::WaitReadable({r.child.Fd()}, MillisecondsUntil(giveUp));
            r.child.ReadAvailable(r.inbox);
        }
        if (r.child.Fd() >= 0)
            r.child.Signal(SIGKILL);
        Settle(r);
    }
    running.clear();
}

}  // namespace

int RunWorkers(const std::vector<std::vector<size_t>>& chains, const WorkerLimits& limits,
               const std::function<std::string(size_t task)>& work,
               const std::function<void(size_t task, const WorkerOutcome& outcome)>& done)
{
    const int noteFd = platform::NoteInterruptSignals();
    std::vector<size_t> nextInChain(chains.size(), 0);
    // Chains whose next task may start: those a finished task handed back
    // first, so that a long chain is not left for last, then new ones in order.
    std::deque<size_t> ready;
    size_t fresh = 0;
    std::list<Running> running;
    const unsigned jobs = limits.jobs == 0 ? 1 : limits.jobs;

    auto pickChain = [&](size_t& chain) {
        while (!ready.empty() || fresh < chains.size()) {
            if (!ready.empty()) {
                chain = ready.front();
                ready.pop_front();
            } else {
                chain = fresh++;
            }
            if (nextInChain[chain] < chains[chain].size())
                return true;
        }
        return false;
    };
    auto finish = [&](std::list<Running>::iterator it) {
        Settle(*it);
        const size_t chain = it->chain;
        done(it->task, it->outcome);
        running.erase(it);
        if (nextInChain[chain] < chains[chain].size())
            ready.push_front(chain);
    };

    for (;;) {
        size_t chain = 0;
        while (running.size() < jobs && pickChain(chain)) {
            const size_t task = chains[chain][nextInChain[chain]];
            Running& r = running.emplace_back();
            r.chain = chain;
            r.task = task;
            if (limits.timeout > 0)
                r.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(limits.timeout));
            if (!r.child.Start([&](int fd) { return RunTask(task, fd, work); })) {
                running.pop_back();
                if (!running.empty()) {
                    // Out of processes for now: try again when one ends.
                    ready.push_front(chain);
                    break;
                }
                ++nextInChain[chain];
                WorkerOutcome failed;
                failed.failure = "no worker process could be started";
                done(task, failed);
                if (nextInChain[chain] < chains[chain].size())
                    ready.push_front(chain);
                continue;
            }
            ++nextInChain[chain];
        }
        if (running.empty())
            return 0;

        Clock::time_point nearest = Clock::time_point::max();
        std::vector<int> fds{noteFd};
        for (const Running& r : running) {
            fds.push_back(r.child.Fd());
            nearest = std::min(nearest, r.deadline);
        }
        const std::vector<bool> readable = platform::WaitReadable(fds, MillisecondsUntil(nearest));
        if (readable[0]) {
            if (const int signal = platform::TakeInterruptSignal()) {
                StopAll(running);
                return signal;
            }
        }
        size_t i = 1;
        for (auto it = running.begin(); it != running.end(); ++i) {
            auto current = it++;
            if (readable[i]) {
                const bool open = current->child.ReadAvailable(current->inbox);
                TakeMessages(*current);
                if (!open) {
                    finish(current);
                    continue;
                }
            }
            if (Clock::now() >= current->deadline) {
                current->child.Signal(SIGKILL);
                current->outcome.timedOut = true;
                finish(current);
            }
        }
    }
}
