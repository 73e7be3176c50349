// The driver loader.
#include "SkfDriver.h"

#include "skf/loader.h"

#include <cstdlib>

namespace softskf::test {

namespace {

SkfDriver load()
{
    // Mapped for the rest of the process, as a client of a real token keeps its driver.
    static const skfloader::Library library(driverPath());
    SkfDriver bound;
#define SOFTSKF_BIND_SLOT(name)                                                                                        \
    if (!library.find(#name, bound.name)) {                                                                            \
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
