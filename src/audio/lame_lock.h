// The library fills process-wide tables when a context is set up; contexts
// set up on several threads at once take turns here.
#pragma once

#include <mutex>

inline std::mutex& LameSetupLock()
{
    static std::mutex lock;
    return lock;
}
