// A claim on a name in a folder, held through a lock on a small file there:
// whoever holds it owns the files made under that name, across threads,
// processes and runs on the machine. It ends with its holder, so a crash
// frees it, and what a dead holder left can be told from a live one's.
#pragma once

#include <memory>
#include <string>

namespace platform {

class Folder;

class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock of lockName in folder, waiting while another holds it.
    // The lock file is made when missing; false when it can't be (the
    // folder takes no new files). Releases a lock held before.
    bool Acquire(std::shared_ptr<const Folder> folder, const std::string& lockName);
    // True when some holder has the lock now (for tests and probes).
    static bool IsHeld(const Folder& folder, const std::string& lockName);
    // Removes a lock file that no one holds (left by a holder that was
    // killed); one that is held stays.
    static void RemoveIfFree(int folderFd, const std::string& lockName);
    // Removes the lock file and lets go: a waiter then finds the name gone
    // and makes a new one, so no two holders ever meet.
    void Release();
    bool IsHeld() const { return m_fd >= 0; }

private:
    void Take(std::shared_ptr<const Folder> folder, const std::string& lockName, int fd);

    std::shared_ptr<const Folder> m_folder;
    std::string m_name;
    int m_fd = -1;
    int m_slot = -1;  // removed with the pending files if a signal ends the process
};

}  // namespace platform
