// New files that appear under their final name only once complete.
#pragma once

#include <csignal>
#include <string>

#include "platform/file.h"

namespace platform {

enum class MoveOutcome { Moved, NameTaken, Failed };

// A new file written under a temporary name in the folder of its final name
// (".NAME.part", plainly no output), and moved to a final name only when it is
// complete: an interrupted run leaves temporary names, never a final name
// holding half a file. Until it is moved or discarded its temporary name is
// known to RemovePendingFiles.
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
    // Created and neither moved nor discarded.
    bool IsPending() const { return !m_temp.empty(); }
    File& Out() { return m_file; }
    const std::string& TempPath() const { return m_temp; }

    // Closes the file, then moves it to path (the name given to Create when
    // empty). Replaces an existing file only when created for replacing.
    // NameTaken keeps the temporary file, closed, for another name; Failed (a
    // write or the close failed, or the move) discards it.
    MoveOutcome MoveInto(const std::string& path = {});
    // Closes and deletes the temporary file.
    void Discard();

private:
    void Forget();

    File m_file;
    std::string m_final;
    std::string m_temp;
    bool m_replacing = false;
    int m_slot = -1;  // entry in the process-wide list of pending names
};

// Deletes every temporary file still pending in this process, and the files
// moved into place since KeepMovedFiles where those are tracked. Safe to call
// from a signal handler.
void RemovePendingFiles();

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
