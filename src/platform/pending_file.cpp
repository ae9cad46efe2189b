#include "platform/pending_file.h"

#include <array>
#include <atomic>
#include <csignal>
#include <pthread.h>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Files a signal handler may have to delete: a folder descriptor and a plain
// C string in atomic fields, so the handler reads them without locks or
// allocation. Room for a movie's most outputs at once, and then some; more
// only go untracked.
struct Slot {
    std::atomic<int> folder{-1};
    std::atomic<char*> name{nullptr};
};
constexpr size_t kSlots = size_t{1} << 17;
Slot g_pending[kSlots];
std::atomic<size_t> g_pendingHint{0};
// Files moved into place by the task under way, where tracked. Their folders
// are held by descriptors of their own, since the task's folders may close
// before its result is out.
Slot g_moved[kSlots];
std::atomic<size_t> g_movedHint{0};
std::atomic<bool> g_trackMoved{false};
size_t g_movedHigh = 0;  // past the last slot used since KeepMovedFiles
std::array<int, 8> g_movedFolders{-1, -1, -1, -1, -1, -1, -1, -1};

// A descriptor of the moved files' folder held for the tracking; -1 when
// the task has more folders than are held.
int HeldFolder(int folder)
{
    struct stat want {};
    if (::fstat(folder, &want) != 0)
        return -1;
    for (int& held : g_movedFolders) {
        struct stat st {};
        if (held >= 0 && ::fstat(held, &st) == 0 && st.st_dev == want.st_dev && st.st_ino == want.st_ino)
            return held;
        if (held < 0) {
            held = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
            return held;
        }
    }
    return -1;
}

int Track(Slot* slots, std::atomic<size_t>& hint, int folder, const std::string& name)
{
    char* copy = ::strdup(name.c_str());
    if (!copy)
        return -1;
    const size_t start = hint.load();
    for (size_t k = 0; k < kSlots; ++k) {
        const size_t i = (start + k) % kSlots;
        char* expected = nullptr;
        if (slots[i].name.load() != nullptr)
            continue;
        slots[i].folder = folder;
        if (slots[i].name.compare_exchange_strong(expected, copy)) {
            hint = i + 1;
            return static_cast<int>(i);
        }
    }
    std::free(copy);
    return -1;
}

void Untrack(Slot* slots, int slot)
{
    if (slot >= 0)
        std::free(slots[static_cast<size_t>(slot)].name.exchange(nullptr));
}

std::string TempCandidate(const std::string& name, unsigned n, bool shortForm)
{
    std::string out = shortForm ? ".orvellin" : "." + name;
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
    : m_file(std::move(other.m_file)), m_folder(std::move(other.m_folder)), m_final(std::move(other.m_final)),
      m_temp(std::move(other.m_temp)), m_replacing(other.m_replacing), m_finished(other.m_finished),
      m_size(other.m_size), m_slot(other.m_slot)
{
    other.m_temp.clear();
    other.m_slot = -1;
}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept
{
    if (this != &other) {
        Discard();
        m_file = std::move(other.m_file);
        m_folder = std::move(other.m_folder);
        m_final = std::move(other.m_final);
        m_temp = std::move(other.m_temp);
        m_replacing = other.m_replacing;
        m_finished = other.m_finished;
        m_size = other.m_size;
        m_slot = other.m_slot;
        other.m_temp.clear();
        other.m_slot = -1;
    }
    return *this;
}

bool PendingFile::Create(const std::string& finalPath, bool replacing)
{
    Discard();
    const size_t slash = finalPath.rfind('/');
    const std::string name = finalPath.substr(slash == std::string::npos ? 0 : slash + 1);
    auto folder = std::make_shared<Folder>();
    if (name.empty() || !folder->Open(finalPath.substr(0, finalPath.size() - name.size())))
        return false;
    if (!replacing && folder->Holds(name))
        return false;
    if (!CreateIn(std::move(folder), name))
        return false;
    m_replacing = replacing;
    return true;
}

bool PendingFile::CreateIn(std::shared_ptr<const Folder> folder, const std::string& finalName)
{
    Discard();
    if (!folder || !folder->IsOpen() || finalName.empty() || finalName.find('/') != std::string::npos)
        return false;
    // A leftover of a killed run keeps its name; this file takes the next one.
    bool shortForm = false;
    for (unsigned n = 0; n < 1000; ++n) {
        const std::string candidate = TempCandidate(finalName, n, shortForm);
        EndingSignalsHeld held;
        if (m_file.OpenIn(*folder, candidate, OpenMode::CreateNew)) {
            m_folder = std::move(folder);
            m_final = finalName;
            m_temp = candidate;
            m_replacing = false;
            m_finished = false;
            m_slot = Track(g_pending, g_pendingHint, m_folder->Fd(), candidate);
            TellFileEvent(FileEvent::TempCreated, m_folder->Fd(), m_temp);
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

void PendingFile::CreateNowhere(const std::string& name)
{
    Discard();
    m_folder.reset();
    m_file.OpenNowhere();
    m_temp = name;
    m_final.clear();
    m_replacing = false;
    m_finished = false;
}

std::string PendingFile::TempPath() const
{
    return m_folder && !m_temp.empty() ? m_folder->PathOf(m_temp) : std::string();
}

void PendingFile::Forget()
{
    Untrack(g_pending, m_slot);
    m_slot = -1;
    if (m_folder)
        TellFileEvent(FileEvent::TempGone, m_folder->Fd(), m_temp);
    m_temp.clear();
}

bool PendingFile::Finish(bool sync)
{
    if (!IsPending())
        return false;
    if (m_finished)
        return true;
    // On the disk before it can take a name: a crash must not leave a final
    // name over an empty or partial file.
    const int64_t size = m_file.Size();
    if (size < 0 || (sync && !m_file.Flush()) || !m_file.Close()) {
        Discard();
        return false;
    }
    m_size = static_cast<uint64_t>(size);
    m_finished = true;
    return true;
}

MoveOutcome PendingFile::MoveInto(const std::string& path)
{
    const bool replace = m_replacing;
    if (!IsPending() || !m_folder || !Finish())
        return MoveOutcome::Failed;
    const std::string target = path.empty() ? m_final : path.substr(path.rfind('/') + 1);
    EndingSignalsHeld held;
    if (replace ? m_folder->RenameReplacing(m_temp, target) : m_folder->RenameNoReplace(m_temp, target)) {
        if (!replace && g_trackMoved.load()) {
            if (const int held = HeldFolder(m_folder->Fd()); held >= 0)
                g_movedHigh = std::max(g_movedHigh, static_cast<size_t>(Track(g_moved, g_movedHint, held, target) + 1));
        }
        Forget();
        return MoveOutcome::Moved;
    }
    // Anything under that name counts, a dangling link included.
    if (!replace && m_folder->Holds(target))
        return MoveOutcome::NameTaken;
    Discard();
    return MoveOutcome::Failed;
}

void PendingFile::Discard()
{
    if (!IsPending())
        return;
    m_file.Close();
    if (m_folder)
        m_folder->Remove(m_temp);
    Forget();
}

int RemoveOnSignal(int folderFd, const std::string& name)
{
    return Track(g_pending, g_pendingHint, folderFd, name);
}

void KeepOnSignal(int slot)
{
    Untrack(g_pending, slot);
}

void RemovePendingFiles()
{
    for (Slot* slots : {g_pending, g_moved}) {
        for (size_t i = 0; i < kSlots; ++i) {
            if (const char* name = slots[i].name.load())
                ::unlinkat(slots[i].folder.load(), name, 0);
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
    for (size_t i = 0; i < g_movedHigh; ++i)
        Untrack(g_moved, static_cast<int>(i));
    g_movedHigh = 0;
    g_movedHint = 0;
    for (int& held : g_movedFolders) {
        if (held >= 0)
            ::close(held);
        held = -1;
    }
}

}  // namespace platform
