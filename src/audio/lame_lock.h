// The library keeps process-wide state behind its per-context handles: setting
// up an encoder or decoder fills shared tables, and every decoding call goes
// through one output buffer shared by the whole process. Two decoders running
// at once corrupt each other's samples, so within one process every decoder
// call and every context set-up takes this lock. Parallel batches use worker
// processes instead, each with a library of its own.
#pragma once

#include <mutex>

inline std::mutex& LameLock()
{
    static std::mutex lock;
    return lock;
}
