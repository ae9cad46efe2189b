#include "app/window_module.h"

#include <dlfcn.h>

#include "platform/folders.h"

namespace {

// Where the build put the module, relative to the program's folder; the same
// in the build tree and in an installed tree.
constexpr const char kModuleFromProgram[] = ORVELLIN_WINDOW_MODULE;

std::string LoaderError(const std::string& fallback)
{
    const char* text = ::dlerror();
    return text ? text : fallback;
}

// The entry point called name; null with error set (unless already) when missing.
void* Entry(void* handle, const char* name, std::string& error)
{
    void* entry = ::dlsym(handle, name);
    if (!entry && error.empty())
        error = LoaderError(std::string(name) + " is missing");
    return entry;
}

}  // namespace

CWindowModule::~CWindowModule()
{
    if (m_handle)
        ::dlclose(m_handle);
}

bool CWindowModule::Load()
{
    std::string path = platform::ProgramPath();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        m_error = "the program's own path can't be read";
        return false;
    }
    path.resize(slash + 1);
    path += kModuleFromProgram;
    // Qt's threads and exit handlers outlive the window, so the module stays
    // mapped until the process ends (RTLD_NODELETE); closing the handle only
    // gives it back. RTLD_NOW: a library it lacks shows here, not mid-window.
    m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!m_handle) {
        m_error = LoaderError(path + ": can't be loaded");
        return false;
    }
    m_runWindow = reinterpret_cast<decltype(m_runWindow)>(Entry(m_handle, "OrvellinRunWindow1", m_error));
    m_showResults = reinterpret_cast<decltype(m_showResults)>(Entry(m_handle, "OrvellinShowResults1", m_error));
    if (!m_runWindow || !m_showResults) {
        ::dlclose(m_handle);
        m_handle = nullptr;
        return false;
    }
    return true;
}

int CWindowModule::RunWindow(char* program, const std::vector<std::string>& open, bool needScreen) const
{
    std::vector<const char*> paths;
    paths.reserve(open.size());
    for (const std::string& p : open)
        paths.push_back(p.c_str());
    return m_runWindow(program, paths.data(), paths.size(), needScreen ? 1 : 0);
}

bool CWindowModule::ShowResults(char* program, const std::string& text) const
{
    return m_showResults(program, text.data(), text.size()) != 0;
}
