// Where the module finds its SKF driver.
#include "Driver.h"

#include "ovrinkey_paths.h"

#include <cstdlib>

namespace skfp11 {

std::string Driver::defaultPath()
{
    const char* fromEnvironment = std::getenv("SKFP11_DRIVER");
    return fromEnvironment && *fromEnvironment ? fromEnvironment : OVRINKEY_DRIVER_PATH;
}

} // namespace skfp11
