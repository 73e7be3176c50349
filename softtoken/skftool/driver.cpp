// The SKF driver that skftool talks to, loaded by path with dlopen.
#include "driver.h"

#include "errors.h"

#include <dlfcn.h>

namespace skftool {

namespace {

template <typename Slot> void lookUp(void* library, const char* name, Slot& slot)
{
    void* symbol = dlsym(library, name);
    if (!symbol) {
        throw ToolError(std::string("the driver does not export ") + name);
    }
    slot = reinterpret_cast<Slot>(symbol);
}

} // namespace

Driver::Driver(const std::string& path)
    : m_path(path)
{
    // RTLD_NOW: a driver with unresolved symbols fails here, not in the middle of a command.
    // RTLD_NODELETE: a driver keeps process-wide state (open stores, handle tables) that it
    // releases at exit; unmapping it before then would strand that state.
    m_library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!m_library) {
        const char* message = dlerror();
        throw ToolError("cannot load the SKF driver " + path + ": " + (message ? message : "unknown loader error"));
    }
    try {
#define SKFTOOL_LOOK_UP(name) lookUp(m_library, "SKF_" #name, m_functions.name);
        SKFTOOL_DRIVER_FUNCTIONS(SKFTOOL_LOOK_UP)
#undef SKFTOOL_LOOK_UP
    } catch (...) {
        dlclose(m_library);
        m_library = nullptr;
        throw;
    }
}

Driver::~Driver()
{
    if (m_library) {
        dlclose(m_library);
    }
}

void check(ULONG result, const char* function, const std::string& context)
{
    if (result != SAR_OK) {
        throw SkfError(result, function, context);
    }
}

} // namespace skftool
