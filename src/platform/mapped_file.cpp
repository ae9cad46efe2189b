#include "platform/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "platform/file.h"

namespace platform {

namespace {

// The mappings the fault handler may mend. A slot is claimed through used;
// begin and end are nonzero only while its mapping stands.
struct Slot {
    std::atomic<bool> used{false};
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> damaged{false};
};
constexpr int kSlots = 256;
Slot g_slots[kSlots];
uintptr_t g_pageSize = 4096;
struct sigaction g_previous {};

void OnBusError(int signal, siginfo_t* info, void*)
{
    if (info->si_code > 0) {  // a fault, not a signal someone sent
        const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
        for (Slot& slot : g_slots) {
            const uintptr_t begin = slot.begin.load(std::memory_order_acquire);
            const uintptr_t end = slot.end.load(std::memory_order_acquire);
            if (begin == 0 || address < begin || address >= end)
                continue;
            // Zeros from the lost page to the end: the read that faulted, and
            // every later one, go on.
            const uintptr_t page = address & ~(g_pageSize - 1);
            if (::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
                       -1, 0) == MAP_FAILED)
                break;
            slot.damaged.store(true, std::memory_order_release);
            return;
        }
    }
    // Not a mapping of ours: as if this handler had never been there. A
    // fault comes again when the instruction is retried; a sent signal is
    // sent again.
    ::sigaction(SIGBUS, &g_previous, nullptr);
    if (info->si_code <= 0)
        ::raise(signal);
}

void InstallHandlerOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previous);
    });
}

}  // namespace

MappedFile::~MappedFile()
{
    Unmap();
}

bool MappedFile::Map(const File& file, size_t length)
{
    Unmap();
    if (length == 0 || file.Fd() < 0)
        return false;
    InstallHandlerOnce();
    int slot = 0;
    for (bool expected = false; slot < kSlots; ++slot, expected = false) {
        if (g_slots[slot].used.compare_exchange_strong(expected, true))
            break;
    }
    if (slot == kSlots)
        return false;
    void* data = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, file.Fd(), 0);
    const int fd = data == MAP_FAILED ? -1 : ::fcntl(file.Fd(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        if (data != MAP_FAILED)
            ::munmap(data, length);
        g_slots[slot].used.store(false);
        return false;
    }
    const auto begin = reinterpret_cast<uintptr_t>(data);
    const uintptr_t pages = (length + g_pageSize - 1) & ~(g_pageSize - 1);
    g_slots[slot].damaged.store(false);
    g_slots[slot].end.store(begin + pages, std::memory_order_release);
    g_slots[slot].begin.store(begin, std::memory_order_release);
    m_data = static_cast<const uint8_t*>(data);
    m_size = length;
    m_fd = fd;
    m_slot = slot;
    return true;
}

void MappedFile::Unmap()
{
    if (!m_data)
        return;
    Slot& slot = g_slots[m_slot];
    slot.begin.store(0, std::memory_order_release);
    slot.end.store(0, std::memory_order_release);
    ::munmap(const_cast<uint8_t*>(m_data), m_size);
    slot.used.store(false, std::memory_order_release);
    ::close(m_fd);
    m_data = nullptr;
    m_size = 0;
    m_fd = -1;
    m_slot = -1;
}

bool MappedFile::Damaged() const
{
    return m_slot >= 0 && g_slots[m_slot].damaged.load(std::memory_order_acquire);
}

}  // namespace platform
