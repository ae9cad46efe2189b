#include "platform/pending_file.h"

#include <array>
#include <atomic>
#include <csignal>
#include <pthread.h>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Names a signal handler may have to delete. Plain C strings in atomic slots,
// so the handler reads them without locks or allocation; more pending files
// than slots at once only go untracked.
std::array<std::atomic<char*>, 256> g_pending{};
// Files moved into place by the task under way, where tracked.
std::array<std::atomic<char*>, 256> g_moved{};
std::atomic<bool> g_trackMoved{false};

template <size_t N>
int Track(std::array<std::atomic<char*>, N>& slots, const std::string& path)
{
    char* copy = ::strdup(path.c_str());
    if (!copy)
        return -1;
    for (size_t i = 0; i < slots.size(); ++i) {
        char* expected = nullptr;
        if (slots[i].compare_exchange_strong(expected, copy))
            return static_cast<int>(i);
    }
    std::free(copy);
    return -1;
}

void Untrack(int slot)
{
    if (slot >= 0)
        std::free(g_pending[static_cast<size_t>(slot)].exchange(nullptr));
}

std::string TempCandidate(const std::string& folder, const std::string& name, unsigned n, bool shortForm)
{
    std::string out = folder;
    out += shortForm ? ".orvellin" : "." + name;
    if (n || shortForm) {
        out += '.';
        out += std::to_string(n);
    }
    out += ".part";
    return out;
}

}  // namespace

EndingSignalsHeld::EndingSignalsHeld()
{
    sigset_t ending;
    sigemptyset(&ending);
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&ending, s);
    ::pthread_sigmask(SIG_BLOCK, &ending, &m_before);
}

EndingSignalsHeld::~EndingSignalsHeld()
{
    ::pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
}

PendingFile::~PendingFile()
{
    Discard();
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : m_file(std::move(other.m_file)), m_final(std::move(other.m_final)), m_temp(std::move(other.m_temp)),
      m_replacing(other.m_replacing), m_slot(other.m_slot)
{
    other.m_temp.clear();
    other.m_slot = -1;
}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept
{
    if (this != &other) {
        Discard();
        m_file = std::move(other.m_file);
        m_final = std::move(other.m_final);
        m_temp = std::move(other.m_temp);
        m_replacing = other.m_replacing;
        m_slot = other.m_slot;
        other.m_temp.clear();
        other.m_slot = -1;
    }
    return *this;
}

bool PendingFile::Create(const std::string& finalPath, bool replacing)
{
    Discard();
    struct stat st {};
    if (!replacing && ::lstat(finalPath.c_str(), &st) == 0)
        return false;
    const size_t slash = finalPath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1);
    const std::string name = finalPath.substr(folder.size());
    if (name.empty())
        return false;
    // A leftover of a killed run keeps its name; this file takes the next one.
    bool shortForm = false;
    for (unsigned n = 0; n < 1000; ++n) {
        const std::string candidate = TempCandidate(folder, name, n, shortForm);
        EndingSignalsHeld held;
        if (m_file.Open(candidate, OpenMode::CreateNew)) {
            m_final = finalPath;
            m_temp = candidate;
            m_replacing = replacing;
            m_slot = Track(g_pending, candidate);
            TellFileEvent(FileEvent::TempCreated, candidate);
            return true;
        }
        if (m_file.LastOpenError() == OpenError::NameTooLong && !shortForm) {
            shortForm = true;
            n = static_cast<unsigned>(-1);
            continue;
        }
        if (m_file.LastOpenError() != OpenError::AlreadyExists)
            return false;
    }
    return false;
}

void PendingFile::Forget()
{
    Untrack(m_slot);
    m_slot = -1;
    TellFileEvent(FileEvent::TempGone, m_temp);
    m_temp.clear();
}

MoveOutcome PendingFile::MoveInto(const std::string& path)
{
    const bool replace = m_replacing;
    if (!IsPending())
        return MoveOutcome::Failed;
    if (!m_file.Close()) {
        Discard();
        return MoveOutcome::Failed;
    }
    const std::string& target = path.empty() ? m_final : path;
    EndingSignalsHeld held;
    if (replace ? RenameReplacing(m_temp, target) : RenameNoReplace(m_temp, target)) {
        if (!replace && g_trackMoved.load())
            Track(g_moved, target);
        Forget();
        return MoveOutcome::Moved;
    }
    // Anything under that name counts, a dangling link included.
    struct stat st {};
    if (!replace && ::lstat(target.c_str(), &st) == 0)
        return MoveOutcome::NameTaken;
    Discard();
    return MoveOutcome::Failed;
}

void PendingFile::Discard()
{
    if (!IsPending())
        return;
    m_file.Close();
    DeleteFile(m_temp);
    Forget();
}

void RemovePendingFiles()
{
    for (auto* slots : {&g_pending, &g_moved}) {
        for (auto& slot : *slots) {
            if (const char* path = slot.load())
                ::unlink(path);
        }
    }
}

void TrackMovedFiles(bool on)
{
    g_trackMoved = on;
    if (!on)
        KeepMovedFiles();
}

void KeepMovedFiles()
{
    for (auto& slot : g_moved)
        std::free(slot.exchange(nullptr));
}

}  // namespace platform
