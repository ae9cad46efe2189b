// The window's shared module as the program sees it: found at a fixed place
// relative to the program, loaded only for a window or a results box.
#pragma once

#include <string>
#include <vector>

#include "app/window_entry.h"

class CWindowModule {
public:
    CWindowModule() = default;
    ~CWindowModule();
    CWindowModule(const CWindowModule&) = delete;
    CWindowModule& operator=(const CWindowModule&) = delete;

    // Loads the module and finds its entry points; false with Error() saying
    // why (the loader's own words).
    bool Load();
    const std::string& Error() const { return m_error; }

    // Valid only after Load() succeeded; see window_entry.h.
    int RunWindow(char* program, const std::vector<std::string>& open, bool needScreen) const;
    bool ShowResults(char* program, const std::string& text) const;

private:
    void* m_handle = nullptr;
    decltype(&OrvellinRunWindow1) m_runWindow = nullptr;
    decltype(&OrvellinShowResults1) m_showResults = nullptr;
    std::string m_error;
};
