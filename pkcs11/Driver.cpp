// The SKF driver behind the module, loaded by path with dlopen.
#include "Driver.h"

#include "ovrinkey_paths.h"

#include <cstdlib>
#include <dlfcn.h>
#include <stdexcept>

namespace skfp11 {

namespace {

template <typename Slot> void lookUp(void* library, const char* name, Slot& slot)
{
    void* symbol = dlsym(library, name);
    if (!symbol) {
        throw std::runtime_error(std::string("the SKF driver does not export ") + name);
    }
    slot = reinterpret_cast<Slot>(symbol);
}

} // namespace

Driver::Driver(const std::string& path)
{
    // RTLD_NODELETE: a driver keeps process-wide state it releases at exit; unmapping it when
    // a client finalizes the module would strand that state (and its threads).
    m_library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!m_library) {
        const char* message = dlerror();
        throw std::runtime_error("cannot load the SKF driver " + path + ": "
                                 + (message ? message : "unknown loader error"));
    }
    try {
#define SKFP11_LOOK_UP(name) lookUp(m_library, "SKF_" #name, m_functions.name);
        SKFP11_DRIVER_FUNCTIONS(SKFP11_LOOK_UP)
#undef SKFP11_LOOK_UP
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

std::string Driver::defaultPath()
{
    const char* fromEnvironment = std::getenv("SKFP11_DRIVER");
    return fromEnvironment && *fromEnvironment ? fromEnvironment : OVRINKEY_DRIVER_PATH;
}

} // namespace skfp11
