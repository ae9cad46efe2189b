#include "app/workers.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/folder_lock.h"
#include "platform/owned_files.h"
#include "platform/pending_file.h"
#include "platform/process.h"

namespace {

using Clock = std::chrono::steady_clock;

// Messages from a worker: a type byte, a 32-bit little-endian length, the bytes.
// A folder comes with its descriptor, the files in it by its number (four
// bytes) and their names.
enum : char {
    kFolder = 'F',
    kTempCreated = 'T',
    kTempGone = 'U',
    kCreated = 'C',
    kRemoved = 'D',
    kLockTaken = 'L',
    kLockGone = 'K',
    kStarted = 'S',
    kResult = 'R'
};
constexpr uint32_t kMaxMessage = 64u << 20;
// To a worker: a task's number, or this once its result is on record.
constexpr uint64_t kRecorded = ~uint64_t{0};
// How long workers told to stop may take before they are killed: the run
// is ending, and a movie's clean-up takes a moment.
constexpr auto kStopGrace = std::chrono::seconds(5);
// How long a task past its time limit may take to clean up after SIGTERM.
constexpr auto kTimeoutGrace = std::chrono::seconds(2);
// Files of a dead worker removed between two looks at the others.
constexpr size_t kRemovalsPerTurn = 64;
// Times a task goes to a new worker when its worker ended before starting it.
constexpr int kMaxStarts = 5;

bool Send(int fd, char type, const std::string& payload)
{
    const auto n = static_cast<uint32_t>(payload.size());
    const char header[5] = {type, static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                            static_cast<char>(n >> 24)};
    return platform::WriteAll(fd, header, sizeof header) && platform::WriteAll(fd, payload.data(), payload.size());
}

// A worker's life: tasks one after another, as the parent sends their
// numbers, until its input ends. Each task's files are told as they come and
// go, then its result. Until the parent has the result on record, the
// task's outputs are its own: a signal (the parent's stop, its death, the
// time limit) removes them with its temporary files, so a movie is either
// on record or leaves nothing.
int RunWorker(int in, int out, const std::function<std::string(size_t)>& work)
{
    platform::RemovePendingFilesOnSignals();
    platform::TrackMovedFiles(true);
    // The task's folders, each sent once with its descriptor: the parent
    // removes what a dead task left through them, never by path, so no
    // folder renamed or swapped for a link since can send a removal elsewhere.
    std::map<std::pair<dev_t, ino_t>, uint32_t> folders;
    platform::SetFileEventListener([out, &folders](platform::FileEvent event, int folder, const std::string& name) {
        static constexpr char kTypes[] = {kTempCreated, kTempGone, kCreated, kRemoved, kLockTaken, kLockGone};
        struct stat st {};
        if (folder < 0 || ::fstat(folder, &st) != 0)
            return;
        auto [it, added] = folders.try_emplace({st.st_dev, st.st_ino}, static_cast<uint32_t>(folders.size()));
        if (added) {
            const char header[5] = {kFolder, 0, 0, 0, 0};
            platform::WriteAllPassing(out, header, sizeof header, folder);
        }
        const uint32_t index = it->second;
        const char number[4] = {static_cast<char>(index), static_cast<char>(index >> 8), static_cast<char>(index >> 16),
                                static_cast<char>(index >> 24)};
        Send(out, kTypes[static_cast<int>(event)], std::string(number, 4) + name);
    });
    uint64_t task = 0;
    while (platform::ReadAll(in, &task, sizeof task)) {
        if (task == kRecorded)
            continue;
        folders.clear();
        Send(out, kStarted, {});
        std::string result;
        try {
            result = work(static_cast<size_t>(task));
        } catch (...) {
            platform::RemovePendingFiles();
            return 1;
        }
        // Sending, waiting for the record and keeping the files are one step
        // that an ending signal can't cut: it takes effect after it.
        platform::EndingSignalsHeld held;
        uint64_t answer = 0;
        if (!Send(out, kResult, result) || !platform::ReadAll(in, &answer, sizeof answer) || answer != kRecorded) {
            platform::RemovePendingFiles();
            return 1;
        }
        platform::KeepMovedFiles();
    }
    return 0;
}

// A folder a worker told of, held open by the descriptor it sent.
struct HeldFolder {
    int fd = -1;
    explicit HeldFolder(int d) : fd(d) {}
    ~HeldFolder()
    {
        if (fd >= 0)
            ::close(fd);
    }
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;
};

// A file a task made: its folder, its name there, and whether it is a lock.
struct MadeFile {
    std::shared_ptr<HeldFolder> folder;
    std::string name;
    bool lock = false;
};

// The task's files by folder number and name.
using FileKey = std::pair<uint32_t, std::string>;

// One worker process and the task it is on.
struct Worker {
    platform::Child child;
    std::string inbox;
    std::vector<int> received;  // descriptors not yet taken by a folder message
    std::vector<std::shared_ptr<HeldFolder>> folders;  // of the task, by number
    bool busy = false;
    bool sent = false;     // the task's number went to the worker
    bool started = false;  // the worker said it began the task
    bool stopping = false; // told to stop at the time limit; takes no more tasks
    Clock::time_point killAt = Clock::time_point::max();
    size_t chain = 0;
    size_t task = 0;
    std::set<FileKey> temps;    // the task's, reported and not yet gone
    std::set<FileKey> outputs;  // files the task made, which go if it fails
    std::set<FileKey> locks;    // names it holds a claim on
    Clock::time_point deadline = Clock::time_point::max();
    bool broken = false;  // sent something that is no message

    Worker() = default;
    ~Worker()
    {
        for (const int fd : received)
            ::close(fd);
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
};

// Takes the complete messages of the inbox up to the first result, which it
// hands back; false when there is none yet.
bool TakeMessages(Worker& w, std::string& result)
{
    size_t at = 0;
    bool done = false;
    while (!done && w.inbox.size() - at >= 5) {
        const auto* h = reinterpret_cast<const unsigned char*>(w.inbox.data() + at);
        const uint32_t n = h[1] | h[2] << 8 | h[3] << 16 | static_cast<uint32_t>(h[4]) << 24;
        if (n > kMaxMessage) {
            w.broken = true;
            break;
        }
        if (w.inbox.size() - at - 5 < n)
            break;
        std::string payload = w.inbox.substr(at + 5, n);
        const char type = static_cast<char>(h[0]);
        FileKey key;
        if (type != kFolder && type != kStarted && type != kResult) {
            const auto* p = reinterpret_cast<const unsigned char*>(payload.data());
            if (payload.size() < 5 || payload.size() - 4 > 4096) {
                w.broken = true;
                break;
            }
            key.first = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
            key.second = payload.substr(4);
            if (key.first >= w.folders.size() || key.second.find('/') != std::string::npos) {
                w.broken = true;
                break;
            }
        }
        switch (type) {
        case kFolder:
            // Each folder message came with the descriptor sent first of
            // those not yet taken.
            if (w.received.empty()) {
                w.broken = true;
                break;
            }
            w.folders.push_back(std::make_shared<HeldFolder>(w.received.front()));
            w.received.erase(w.received.begin());
            break;
        case kTempCreated: w.temps.insert(std::move(key)); break;
        case kTempGone: w.temps.erase(key); break;
        case kStarted:
            w.started = true;
            w.folders.clear();
            break;
        case kCreated: w.outputs.insert(std::move(key)); break;
        case kRemoved:
            w.temps.erase(key);
            w.outputs.erase(key);
            break;
        case kLockTaken: w.locks.insert(std::move(key)); break;
        case kLockGone: w.locks.erase(key); break;
        case kResult:
            result = std::move(payload);
            done = true;
            break;
        default: w.broken = true; break;
        }
        if (w.broken)
            break;
        at += 5 + n;
    }
    w.inbox.erase(0, at);
    return done;
}

std::string Describe(const platform::ChildEnd& end)
{
    if (end.exited)
        return "worker exited with status " + std::to_string(end.code);
    const char* name = strsignal(end.code);
    return std::string("worker ended by signal ") + std::to_string(end.code) + (name ? std::string(" (") + name + ")" : "");
}

// Files a task left that go before its chain goes on.
struct Leftovers {
    size_t chain = 0;
    std::vector<MadeFile> files;
    size_t next = 0;
};

// Through the folder the worker sent: a temporary file or output only while
// it is a regular file, a lock file only while no one holds it.
void Remove(const MadeFile& file)
{
    if (file.lock)
        platform::FolderLock::RemoveIfFree(file.folder->fd, file.name);
    else
        platform::RemoveRegularFileAt(file.folder->fd, file.name);
}

void ClearTask(Worker& w)
{
    w.temps.clear();
    w.outputs.clear();
    w.locks.clear();
    w.folders.clear();
}

// The end of a task that got no result: what it left is to go (a movie that
// did not finish leaves nothing: the files it made so far would read as a
// conversion, and a later run would number after them), and why in words.
WorkerOutcome Abandon(Worker& w, const std::string& why, Leftovers& left)
{
    left.chain = w.chain;
    for (const auto* files : {&w.temps, &w.outputs, &w.locks}) {
        for (const FileKey& key : *files)
            left.files.push_back(MadeFile{w.folders[key.first], key.second, files == &w.locks});
    }
    ClearTask(w);
    w.busy = false;
    WorkerOutcome o;
    o.failure = why;
    return o;
}

void RemoveAll(Leftovers& left)
{
    for (; left.next < left.files.size(); ++left.next)
        Remove(left.files[left.next]);
}

int MillisecondsUntil(Clock::time_point when)
{
    if (when == Clock::time_point::max())
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left + 1, 1 << 30));
}

// Tells every worker to stop, gives them a moment to clean up, then kills;
// the tasks they were on are abandoned. A worker waiting for its result to be
// recorded reads the end of its input instead, and removes its files.
void StopAll(std::list<Worker>& workers)
{
    for (Worker& w : workers) {
        w.child.CloseInput();
        w.child.Signal(SIGTERM);
    }
    const auto giveUp = Clock::now() + kStopGrace;
    for (Worker& w : workers) {
        while (w.child.Fd() >= 0 && Clock::now() < giveUp) {
            platform::WaitReadable({w.child.Fd()}, MillisecondsUntil(giveUp));
            w.child.ReadAvailable(w.inbox, w.received);
        }
        if (w.child.Fd() >= 0)
            w.child.Signal(SIGKILL);
        w.child.Wait();
        std::string result;
        while (TakeMessages(w, result)) {
        }
        if (w.busy) {
            Leftovers left;
            Abandon(w, "stopped", left);
            RemoveAll(left);
        }
    }
    workers.clear();
}

}  // namespace

int RunWorkers(const std::vector<std::vector<size_t>>& chains, const WorkerLimits& limits,
               const std::function<std::string(size_t task)>& work,
               const std::function<void(size_t task, const WorkerOutcome& outcome)>& done)
{
    // A worker that is gone must not end the run when it is sent a task.
    std::signal(SIGPIPE, SIG_IGN);
    const int noteFd = platform::NoteInterruptSignals();
    std::vector<size_t> nextInChain(chains.size(), 0);
    size_t total = 0;
    for (const auto& chain : chains)
        total += chain.size();
    size_t given = 0;
    // The next task of a chain, counted as given.
    auto take = [&](size_t chain) {
        ++given;
        return chains[chain][nextInChain[chain]++];
    };
    // Chains whose next task may start: those a finished task handed back
    // first, so that a long chain is not left for last, then new ones in order.
    std::deque<size_t> ready;
    size_t fresh = 0;
    std::list<Worker> workers;
    // What dead workers left, removed a few at a time between looks at the
    // others; the chain of each waits until its files are gone.
    std::deque<Leftovers> leftovers;
    std::map<size_t, int> starts;
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
    auto finished = [&](Worker& w, const WorkerOutcome& outcome, Leftovers left) {
        const size_t chain = w.chain;
        done(w.task, outcome);
        if (!left.files.empty())
            leftovers.push_back(std::move(left));
        else if (nextInChain[chain] < chains[chain].size())
            ready.push_front(chain);
    };
    // A task whose worker ended before it began goes to another worker.
    auto requeue = [&](Worker& w) {
        if (w.started || ++starts[w.task] > kMaxStarts)
            return false;
        --nextInChain[w.chain];
        --given;
        ready.push_front(w.chain);
        w.busy = false;
        return true;
    };
    // A worker that ended (crashed, killed, or done with its input): reaped,
    // its task abandoned.
    auto bury = [&](std::list<Worker>::iterator it, const char* why) {
        const platform::ChildEnd end = it->child.Wait();
        while (it->child.ReadAvailable(it->inbox, it->received)) {
        }
        std::string result;
        const bool got = it->busy && TakeMessages(*it, result);
        if (it->busy) {
            WorkerOutcome o;
            Leftovers left;
            if (got && !it->broken) {
                it->busy = false;
                o.reported = true;
                o.result = std::move(result);
                finished(*it, o, std::move(left));
            } else if (why || it->broken || !requeue(*it)) {
                o = Abandon(*it, why ? why : it->broken ? "worker sent damaged results" : Describe(end), left);
                o.timedOut = why != nullptr;
                finished(*it, o, std::move(left));
            }
        }
        workers.erase(it);
    };

    for (;;) {
        // Every idle worker, then new ones up to the limit, takes a task.
        size_t chain = 0;
        for (auto it = workers.begin(); it != workers.end(); ++it) {
            if (it->busy || it->stopping || !pickChain(chain))
                continue;
            it->busy = true;
            it->sent = false;
            it->chain = chain;
            it->task = take(chain);
        }
        while (workers.size() < jobs && pickChain(chain)) {
            Worker& w = workers.emplace_back();
            if (!w.child.Start([&work](int in, int out) { return RunWorker(in, out, work); })) {
                workers.pop_back();
                ready.push_front(chain);
                if (workers.empty()) {
                    // No process at all: the task fails rather than the run hanging.
                    const size_t task = take(chain);
                    ready.pop_front();
                    WorkerOutcome failed;
                    failed.failure = "no worker process could be started";
                    done(task, failed);
                    if (nextInChain[chain] < chains[chain].size())
                        ready.push_front(chain);
                    continue;
                }
                break;
            }
            w.busy = true;
            w.chain = chain;
            w.task = take(chain);
        }
        // Tasks just given are sent; once every task is given, idle workers
        // are let go (not before: a chain's next task may still come).
        bool anyBusy = false;
        const bool moreToGive = given < total;
        for (Worker& w : workers) {
            if (w.busy && !w.sent) {
                w.sent = true;
                w.started = false;
                if (limits.timeout > 0)
                    w.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(limits.timeout));
                // A worker gone meanwhile shows as the end of its pipe.
                const uint64_t task = w.task;
                w.child.Send(&task, sizeof task);
            }
            if (!w.busy && !moreToGive)
                w.child.CloseInput();
            anyBusy = anyBusy || w.busy;
        }
        if (!anyBusy && !moreToGive && leftovers.empty()) {
            for (auto it = workers.begin(); it != workers.end();)
                bury(it++, nullptr);
            return 0;
        }

        // A few of a dead worker's files, then a look at the others.
        for (size_t n = 0; n < kRemovalsPerTurn && !leftovers.empty(); ++n) {
            Leftovers& left = leftovers.front();
            if (left.next < left.files.size())
                Remove(left.files[left.next++]);
            if (left.next == left.files.size()) {
                if (nextInChain[left.chain] < chains[left.chain].size())
                    ready.push_front(left.chain);
                leftovers.pop_front();
            }
        }

        Clock::time_point nearest = Clock::time_point::max();
        std::vector<int> fds{noteFd};
        for (const Worker& w : workers) {
            fds.push_back(w.child.Fd());
            if (w.busy && limits.timeout > 0)
                nearest = std::min(nearest, w.stopping ? w.killAt : w.deadline);
        }
        // Without a task under way there is nothing to wait for: the files
        // left to remove, or the end of the run.
        const std::vector<bool> readable =
            platform::WaitReadable(fds, leftovers.empty() && anyBusy ? MillisecondsUntil(nearest) : 0);
        if (readable[0]) {
            if (const int signal = platform::TakeInterruptSignal()) {
                StopAll(workers);
                for (Leftovers& left : leftovers)
                    RemoveAll(left);
                return signal;
            }
        }
        size_t i = 1;
        for (auto it = workers.begin(); it != workers.end(); ++i) {
            auto current = it++;
            Worker& w = *current;
            if (readable[i]) {
                const bool open = w.child.ReadAvailable(w.inbox, w.received);
                std::string result;
                if (w.busy && !w.broken && TakeMessages(w, result)) {
                    w.busy = false;
                    ClearTask(w);
                    WorkerOutcome o;
                    o.reported = true;
                    o.result = std::move(result);
                    finished(w, o, {});
                    // On record: the worker may keep the task's files.
                    w.child.Send(&kRecorded, sizeof kRecorded);
                }
                if (!open || w.broken) {
                    if (w.broken)
                        w.child.Signal(SIGKILL);
                    bury(current, w.stopping ? "time limit reached" : nullptr);
                    continue;
                }
            }
            // Past its time: told to stop, so that it removes what it made,
            // and killed if it has not ended after a moment.
            if (w.busy && limits.timeout > 0 && !w.stopping && Clock::now() >= w.deadline) {
                w.stopping = true;
                w.killAt = Clock::now() + kTimeoutGrace;
                w.child.Signal(SIGTERM);
            } else if (w.busy && w.stopping && Clock::now() >= w.killAt) {
                w.child.Signal(SIGKILL);
                bury(current, "time limit reached");
            }
        }
    }
}
