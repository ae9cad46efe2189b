// New files that appear under their final name only once complete.
#pragma once

#include <csignal>
#include <memory>
#include <string>

#include "platform/file.h"

namespace platform {

enum class MoveOutcome { Moved, NameTaken, Failed };

// A new file written under a temporary name in the folder of its final name
// (".NAME.part", plainly no output), and moved to a final name only when it is
// complete: an interrupted run leaves temporary names, never a final name
// holding half a file. Until it is moved or discarded its temporary name is
// known to RemovePendingFiles. Everything it does goes through its folder's
// descriptor, so it never leaves the folder it was made in.
class PendingFile {
public:
    PendingFile() = default;
    ~PendingFile();
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&& other) noexcept;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Creates a new temporary file beside finalPath, which is not touched.
    // False when the folder can't be written or, unless replacing (a file the
    // user chose to overwrite), when finalPath exists. Discards an earlier file.
    bool Create(const std::string& finalPath, bool replacing = false);
    // The same in an open folder, for a final name in it; the name is only a
    // suggestion that MoveInto may change, so it need not be free.
    bool CreateIn(std::shared_ptr<const Folder> folder, const std::string& finalName);
    // A pending file that is nowhere (File::OpenNowhere) under the name given:
    // it is finished and discarded like the others, and can't be moved.
    void CreateNowhere(const std::string& name);
    // Created and neither moved nor discarded.
    bool IsPending() const { return !m_temp.empty(); }
    File& Out() { return m_file; }
    std::string TempPath() const;
    const std::string& TempName() const { return m_temp; }
    const std::shared_ptr<const Folder>& Where() const { return m_folder; }

    // Writes out, syncs (unless the caller syncs the file system itself) and
    // closes the file, which stays pending: a movie's many outputs wait for
    // their names without holding a descriptor each. False (and the file
    // discarded) when that fails.
    bool Finish(bool sync = true);
    // The size of a finished file, without asking the file system again.
    uint64_t FinishedSize() const { return m_size; }
    // Finishes the file, then moves it to the name of path in its folder (the
    // name given to Create when empty). Replaces an existing file only when
    // created for replacing. NameTaken keeps the temporary file, closed, for
    // another name; Failed (a write, the sync, the close or the move failed)
    // discards it.
    MoveOutcome MoveInto(const std::string& path = {});
    // Closes and deletes the temporary file.
    void Discard();

private:
    void Forget();

    File m_file;
    std::shared_ptr<const Folder> m_folder;
    std::string m_final;  // names in m_folder
    std::string m_temp;
    bool m_replacing = false;
    bool m_finished = false;
    uint64_t m_size = 0;  // when finished
    int m_slot = -1;  // entry in the process-wide list of pending names
};

// Deletes every temporary file still pending in this process, and the files
// moved into place since KeepMovedFiles where those are tracked. Safe to call
// from a signal handler.
void RemovePendingFiles();

// Another file of this process that a signal ending it removes with its
// pending files (a lock's file while the lock is held): the slot to let it
// go by, or -1 when every slot is taken.
int RemoveOnSignal(int folderFd, const std::string& name);
void KeepOnSignal(int slot);

// In a worker, the outputs of the task under way belong to it until its
// result is out: a signal that ends the worker before then takes them along
// with its temporary files. Off by default (Save As and merge keep theirs).
void TrackMovedFiles(bool on);
// The files moved into place so far stay whatever happens next.
void KeepMovedFiles();

// Holds back the signals that end a run (SIGINT, SIGTERM, SIGHUP) for its
// lifetime, so that a step and its bookkeeping can't be cut apart.
class EndingSignalsHeld {
public:
    EndingSignalsHeld();
    ~EndingSignalsHeld();
    EndingSignalsHeld(const EndingSignalsHeld&) = delete;
    EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

private:
    sigset_t m_before;
};


}  // namespace platform
