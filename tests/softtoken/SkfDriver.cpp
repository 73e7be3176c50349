// The driver loader.
#include "SkfDriver.h"

#include <cstdlib>
#include <dlfcn.h>
#include <stdexcept>

namespace softskf::test {

namespace {

SkfDriver load()
{
    const std::string path = driverPath();
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        throw std::runtime_error(std::string("cannot load the driver: ") + dlerror());
    }
    SkfDriver bound;
#define SOFTSKF_BIND_SLOT(name)                                                                                        \
    bound.name = reinterpret_cast<decltype(bound.name)>(dlsym(library, #name));                                        \
    if (!bound.name) {                                                                                                 \
        bound.missing += #name " ";                                                                                    \
    }
    SOFTSKF_DRIVER_FUNCTIONS(SOFTSKF_BIND_SLOT)
#undef SOFTSKF_BIND_SLOT
    return bound;
}

} // namespace

std::string driverPath()
{
    if (const char* path = std::getenv("SOFTSKF_TEST_DRIVER"); path && *path) {
        return path;
    }
    return SOFTSKF_DEFAULT_TEST_DRIVER;
}

const SkfDriver& driver()
{
    static const SkfDriver bound = load();
    return bound;
}

} // namespace softskf::test
